#include <QListWidget>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QDir>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/ScriptedUi.h"

using namespace quindle;

namespace {
QString SettingsFile() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    return s.fileName();
}
} // namespace

TEST(MainFormStart, FirstRunPlacesWindowAt15AndCreatesSettingsOnlyOnClose) {
    QFile::remove(SettingsFile());
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    {
        Application app(ui, progDir.path() + "/quindle");
        auto& main = *app.MainForm;
        EXPECT_EQ(main.windowTitle(), "Quindle");
        ASSERT_EQ(main.ListBox1->count(), 1);
        EXPECT_EQ(main.ListBox1->item(0)->text(), "Welcome to Quindle!");
        EXPECT_EQ(main.ListBox1->currentRow(), 0);
        EXPECT_EQ(main.pos(), QPoint(15, 15));
        EXPECT_TRUE(app.ctx.AbortFlag);
        EXPECT_EQ(app.ctx.PackageFolder, (progDir.path() + "/data/").toStdString());
        EXPECT_TRUE(QFileInfo(progDir.path() + "/data").isDir());
        // Reading the settings created nothing.
        EXPECT_FALSE(QFile::exists(SettingsFile()));
        main.move(40, 70);
        main.close();
    }
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    EXPECT_EQ(s.value("Setup/top").toInt(), 70);
    EXPECT_EQ(s.value("Setup/left").toInt(), 40);
    EXPECT_EQ(s.value("Setup/Display").toInt(), 0);
}

TEST(MainFormStart, StoredPositionIsRestoredAndTextValuesFallBackTo15) {
    QFile::remove(SettingsFile());
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.setValue("Setup/top", 5000);
        s.setValue("Setup/left", "not a number");
    }
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    // An off-screen top is pulled back so the whole window is on screen; a left holding
    // text counts as missing.
    const QRect avail = app.MainForm->screen()->availableGeometry();
    EXPECT_EQ(app.MainForm->pos().x(), 15);
    EXPECT_LT(app.MainForm->pos().y(), 5000);
    EXPECT_TRUE(avail.contains(QRect(app.MainForm->pos(), app.MainForm->sizeHint())));
    QFile::remove(SettingsFile());
}

// A crash's temporary files in the package folder are gone once the program has started;
// the records and a running process's temporary file stay.
TEST(MainFormStart, StartRemovesTemporaryFilesOfEndedProcesses) {
    QTemporaryDir progDir;
    ASSERT_TRUE(QDir().mkpath(progDir.path() + "/data"));
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    const QString dead = QString::number(child), live = QString::number(getpid());
    const QString pkg = progDir.path() + "/data/";
    for (const QString& n : {".~ini-" + dead + "-0.tmp", ".~walk-" + dead + "-1.tmp", ".~walk-" + live + "-2.tmp",
                             QString("100.dat")})
        test::WriteHostFile((pkg + n).toStdString(), "x");
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    EXPECT_EQ(app.ctx.PackageFolder, pkg.toStdString());
    EXPECT_EQ(QDir(pkg).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({".~walk-" + live + "-2.tmp", "100.dat"}));
}
