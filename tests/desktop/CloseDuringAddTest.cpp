// The real program as its own process: the main window closed by the window manager while
// the package dialog memorizes modally.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "DesktopSupport.h"
#include "support/TempDrive.h"

using namespace quindle::test;

namespace {

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(Program, ClosingTheMainWindowDuringAnAddEndsTheProgramAndKeepsTheOldRecord) {
    if (!HaveDesktop()) GTEST_SKIP() << "no X display";
    // A disk big enough that its walk lasts many seconds: 12,000 folders.
    TempDir disk;
    for (int i = 0; i < 120; ++i) {
        const std::string top = disk.path() + "/d" + std::to_string(i);
        ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
        for (int j = 0; j < 100; ++j) ASSERT_EQ(mkdir((top + "/e" + std::to_string(j)).c_str(), 0755), 0);
    }
    // The program in a folder of its own (its records go into data/ beside it), its
    // settings in another; drive C is the disk, with a serial of its own.
    TempDir home;
    const std::string program = home.MakeDir("prog") + "/quindle";
    std::filesystem::copy_file(QUINDLE_BINARY_DIR "/quindle", program);
    const std::string record = home.MakeDir("prog/data") + "/4242.dat";
    const std::string old = "\r\n[Old]\r\nkept.txt=1\r\n[Special Information about this disk by Quindle]\r\n"
                            "Title=Old title\r\n";
    WriteHostFile(record, old);
    home.MakeFile("config/Tavrel/Quindle.conf",
                  "[Drives]\nC\\path=" + disk.path() + "\nC\\serial=4242\n");

    QProcess quindle;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.path() + "/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(home.path() + "/share"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    quindle.setProcessEnvironment(env);
    quindle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quindle.start(QString::fromStdString(program), {});
    ASSERT_TRUE(quindle.waitForStarted(5000));
    struct Stop {
        QProcess& p;
        ~Stop() {
            if (p.state() == QProcess::NotRunning) return;
            Screenshot(QStringLiteral("Program.CloseDuringAdd"));
            p.kill();
            p.waitForFinished(5000);
        }
    } stop{quindle};
    const qint64 pid = quindle.processId();

    QString main;
    ASSERT_TRUE(WaitForProcess([&] { return !(main = ClientWindow(pid, QStringLiteral("Quindle"))).isEmpty(); }, 15000));
    ASSERT_TRUE(Xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), Decimal(main)}));
    ASSERT_TRUE(WaitForProcess([&] { return FocusedWindow() == Decimal(main); }, 15000));
    // Package > Add, a title, and a click on the dialog's Add button (the group box at
    // 4,161, the button at 207,140 in it, 73 x 26).
    ASSERT_TRUE(Key(QStringLiteral("ctrl+a")));
    QString dialog;
    ASSERT_TRUE(WaitForProcess(
        [&] { return !(dialog = ClientWindow(pid, QStringLiteral("Add a new disk C: to the package"))).isEmpty(); },
        15000));
    ASSERT_TRUE(WaitForProcess([&] { return FocusedWindow() == Decimal(dialog); }, 15000));
    ASSERT_TRUE(Type(QStringLiteral("New title")));
    ASSERT_TRUE(Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), Decimal(dialog),
                     QStringLiteral("247"), QStringLiteral("314"), QStringLiteral("click"), QStringLiteral("1")}));
    // The disk is in the package already: memorize anyway (Yes has the focus).
    QString ask;
    ASSERT_TRUE(WaitForProcess([&] { return !(ask = ClientWindow(pid, QStringLiteral("Already memorized!"))).isEmpty(); },
                               15000));
    ASSERT_TRUE(WaitForProcess([&] { return FocusedWindow() == Decimal(ask); }, 15000));
    ASSERT_TRUE(Key(QStringLiteral("Return")));
    // The walk runs once its own file lies beside the record.
    auto walking = [&] {
        for (const std::string& n : Names(home.path() + "/prog/data"))
            if (n.rfind(".~walk-", 0) == 0) return true;
        return false;
    };
    ASSERT_TRUE(WaitForProcess(walking, 15000));
    ASSERT_EQ(quindle.state(), QProcess::Running);

    // The window manager's close of the main window (what its close box does).
    QElapsedTimer sinceClose;
    sinceClose.start();
    ASSERT_TRUE(QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), main}) == 0);
    ASSERT_TRUE(quindle.waitForFinished(5000)) << "still running 5 s after the close";
    fprintf(stderr, "the program ended %lld ms after the close\n", static_cast<long long>(sinceClose.elapsed()));
    EXPECT_EQ(quindle.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quindle.exitCode(), 0);
    // The old record is untouched and the walk left nothing behind.
    EXPECT_EQ(ReadHostFile(record), old);
    EXPECT_EQ(Names(home.path() + "/prog/data"), std::vector<std::string>{"4242.dat"});
}
