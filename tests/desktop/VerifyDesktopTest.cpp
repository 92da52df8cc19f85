// Package > Verify E:... with the mouse on a real desktop, for a disk that joined the package
// while the program ran (quindle-cli added it): the menu offers it when it opens, and the
// window lists what changed on the disk since.
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "DesktopSupport.h"
#include "support/SettingsDrives.h"
#include "support/TempDrive.h"
#include "ui/ScriptedUi.h"
#include "ui/app/Application.h"
#include "ui/app/DiskWatch.h"
#include "ui/frames/WindowFrame.h"
#include "ui/lists/EntryListWindow.h"

using namespace quindle;
using namespace quindle::test;

TEST(DesktopVerify, ADiskAddedWhileTheProgramRunsIsVerifiedFromThePackageMenu) {
    if (!HaveDesktop()) GTEST_SKIP() << "no X display";
    TempDrive c{'C', 1u}, e{'E', 6161u};
    const std::string photo = e.MakeFile("2019/beach.jpg", std::string(100000, 'b'));
    e.MakeFile("notes.txt", "n");
    MapDrives({&c, &e});
    QTemporaryDir programDir;
    ScriptedUi ui;
    auto app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
    TMainForm& m = *app->MainForm;
    m.show();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(m) != m.geometry(); })) << "never framed";
    ASSERT_TRUE(Activate(&m));
    EXPECT_TRUE(app->Watch->VerifyActions().empty());

    // Another program adds the disk to the package, with checksums.
    QProcess cli;
    cli.start(QStringLiteral(QUINDLE_BINARY_DIR "/quindle-cli"),
              {QStringLiteral("--package"), QString::fromStdString(app->ctx.PackageFolder), QStringLiteral("add"),
               QStringLiteral("E:"), QStringLiteral("--title"), QStringLiteral("Beach"), QStringLiteral("--checksums")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    // A byte of the photo decays; its date stays.
    struct stat before {};
    ASSERT_EQ(stat(photo.c_str(), &before), 0);
    {
        const int fd = open(photo.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "X", 1, 50000), 1);
        close(fd);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);
    }

    QMenuBar* bar = m.menuBar();
    ASSERT_TRUE(ClickAt(bar, bar->actionGeometry(m.Collection1->menuAction()).center()));
    ASSERT_TRUE(WaitFor([&] { return m.Collection1->isVisible(); })) << "the Package menu never opened";
    ASSERT_EQ(app->Watch->VerifyActions().size(), 1u) << "the menu does not offer the disk added meanwhile";
    QAction* verify = app->Watch->VerifyActions()[0];
    EXPECT_EQ(verify->text(), QStringLiteral("Verify E:..."));
    ASSERT_TRUE(ClickAt(m.Collection1, m.Collection1->actionGeometry(verify).center()));
    TEntryListWindow* w = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        const auto windows = m.findChildren<TEntryListWindow*>();
        w = windows.isEmpty() ? nullptr : windows.front();
        return w && w->isVisible() && !w->Loading();
    })) << "no verify window, or it never ended";
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Verify E: Beach (6161)"));
    ASSERT_EQ(w->ShownRows(), 1) << w->Summary().toStdString();
    const QStringList row = w->ShownRow(0);
    EXPECT_EQ(row[0], QStringLiteral("changed"));
    EXPECT_EQ(row[4], QStringLiteral("E:\\2019\\beach.jpg"));
    EXPECT_EQ(row[7], QStringLiteral("silent: the same size and date"));
    EXPECT_EQ(w->Summary(), QStringLiteral("2 same, 1 changed (1 silent), 0 missing, 0 added, 0 unreadable"));
    if (HasFailure()) Screenshot(QStringLiteral("DesktopVerify"));
    delete w;
    app.reset();
    MapDrives({});
}
