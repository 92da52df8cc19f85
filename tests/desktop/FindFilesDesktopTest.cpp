// Package > Find files... on a real desktop: Ctrl+F from the main window's search box,
// real typing into the query box, Enter on a row, Ctrl+F again from the table.
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "DesktopSupport.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/findfiles/FindFilesWindow.h"
#include "ui/ScriptedUi.h"
#include "ui/frames/WindowFrame.h"

using namespace quindle;
using namespace quindle::test;

TEST(DesktopFindFiles, CtrlFAndRealTypingFindFilesAsTheyAreTyped) {
    if (!HaveDesktop()) GTEST_SKIP() << "no X display";
    TempDrive c{'C'};
    QTemporaryDir programDir;
    ScriptedUi ui;
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle").clear();
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
    }
    auto app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
    const std::string info = "Special Information about this disk by Quindle";
    WriteHostFile(app->ctx.PackageFolder + "88.dat", "\r\n[F:\\]\r\nold photo.jpg=1\r\nPhotograph.png=2\r\nnotes.txt=3\r\n"
                                                     "\r\n[" + info + "]\r\nVolume Serial=88\r\nTitle=Attic\r\n");
    TMainForm& m = *app->MainForm;
    m.show();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(m) != m.geometry(); }));
    ASSERT_TRUE(Activate(&m));
    ASSERT_TRUE(ClickAt(m.SearchEdit, m.SearchEdit->rect().center()));
    ASSERT_TRUE(WaitFor([&] { return m.SearchEdit->lineEdit()->hasFocus(); }));

    ASSERT_TRUE(Key("ctrl+f"));
    ASSERT_TRUE(WaitFor([&] { return m.FindFilesWindow && m.FindFilesWindow->isActiveWindow(); }));
    TFindFilesWindow& w = *m.FindFilesWindow;
    ASSERT_TRUE(WaitFor([&] { return w.QueryEdit->hasFocus(); }));
    // Every keystroke starts a query and cancels the one before; what shows is the last.
    ASSERT_TRUE(Type("PHOTO"));
    ASSERT_TRUE(WaitFor([&] { return w.QueryEdit->text() == "PHOTO" && !w.Busy() && w.Model->rowCount() == 2; }))
        << w.StatusLabel->text().toStdString();
    EXPECT_TRUE(w.StatusLabel->text().startsWith("2 found in ")) << w.StatusLabel->text().toStdString();
    ASSERT_TRUE(Type(" old"));
    ASSERT_TRUE(WaitFor([&] { return !w.Busy() && w.Model->rowCount() == 1; }));
    EXPECT_EQ(w.Model->index(0, TFileHitsModel::ColPath).data().toString(), "F:\\old photo.jpg");

    // Down into the table, Enter: the disk is not connected, so a message names it.
    ASSERT_TRUE(Key("Down"));
    ASSERT_TRUE(WaitFor([&] { return w.ResultsView->hasFocus(); }));
    ASSERT_TRUE(Key("Return"));
    ASSERT_TRUE(WaitFor([&] { return ui.boxes.size() == 1; }));
    EXPECT_EQ(ui.boxes[0].text, "Insert the disk \"Attic\" (serial 88) to open F:\\");

    // Ctrl+F from the table: back in the query box with its text selected; typing replaces it.
    ASSERT_TRUE(Key("ctrl+f"));
    ASSERT_TRUE(WaitFor([&] { return w.QueryEdit->hasFocus() && w.QueryEdit->hasSelectedText(); }));
    ASSERT_TRUE(Type("notes"));
    ASSERT_TRUE(WaitFor([&] { return w.QueryEdit->text() == "notes" && !w.Busy() && w.Model->rowCount() == 1; }));
    ASSERT_TRUE(Key("Escape"));
    ASSERT_TRUE(WaitFor([&] { return !w.isVisible(); }));
    app.reset();
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle").clear();
}
