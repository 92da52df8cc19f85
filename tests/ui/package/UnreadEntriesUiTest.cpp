// Package > Add of a disk whose entries cannot all be looked at: the record is written as
// always, and the user is told that the catalogue lacks sizes and dates, and why.
#include <QListWidget>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

#include "catalogue/DiskCatalogue.h"
#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;

TEST(UnreadEntries, PackageAddSaysTheCatalogueIsIncompleteAndWhy) {
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
    }
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    TempDrive c{'C', 1u};
    TempDrive e{'E', 439041101u};
    c.MakeFile("autoexec.bat", "x");
    e.MakeFile("open/a.txt", "abc");
    e.MakeFile("shut/b.txt", "hello");
    e.MakeFile("shut/c.txt", "x");
    auto app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
    TMainForm& m = *app->MainForm;
    TCollectForm& f = *app->CollectForm;
    c.MapInto(app->ctx.platform);
    e.MapInto(app->ctx.platform);
    m.DriveComboBox1.BuildList();
    m.DriveComboBox1.SetDrive('E');

    const std::string shut = e.path() + "/shut";
    const test::UnsearchableFolder unsearchable(shut);
    ASSERT_TRUE(unsearchable.Made());
    const test::WithoutPermissionOverride asAnyUser;
    struct stat st;
    if (lstat((shut + "/b.txt").c_str(), &st) == 0) GTEST_SKIP() << "the folder's permissions do not hold here";

    m.Add1Click();
    f.Edit1->setText("Half seen");
    f.ActionButton->OnClick(f.ActionButton);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "Ok, the disk has been memorized!\nThe catalogue is incomplete: the sizes and "
                                     "dates of 2 entries could not be read");
    EXPECT_EQ(ui.boxes.back().caption, "Done!");
    EXPECT_EQ(ui.boxes.back().icon, MsgIcon::Exclamation);
    QStringList log;
    for (int i = 0; i < m.ListBox1->count(); ++i) log << m.ListBox1->item(i)->text();
    for (const char* line : {"Cannot read the size and date of E:\\shut\\b.txt: Permission denied",
                             "Cannot read the size and date of E:\\shut\\c.txt: Permission denied",
                             "The catalogue is incomplete: the sizes and dates of 2 entries could not be read"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line << "\n" << log.join('\n').toStdString();

    // The record is in the package with every name; the disk's figures say what is missing.
    const std::string record = app->ctx.PackageFolder + "439041101.dat";
    EXPECT_NE(ReadHostFile(record).find("\r\nb.txt=1\r\n"), std::string::npos);
    EXPECT_EQ(f.DiskCount(), 1);
    const DiskCatalogueHeader disk = OpenDiskCatalogueHeader(record, app->ctx.InfoSection);
    ASSERT_TRUE(disk.header);
    EXPECT_TRUE(FiguresText(disk.header->figures).contains("partial (the sizes and dates of 2 entries could not be read)"))
        << FiguresText(disk.header->figures).toStdString();
}
