// The real program memorizes, through the package dialog's Add clicked with the mouse, a
// drive whose names hold everything Linux allows and Windows paths do not: every entry
// comes back from the catalogue exactly, and the record is the one quindle-cli add writes.
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "DesktopSupport.h"
#include "catalogue/DiskCatalogue.h"
#include "support/TempDrive.h"

using namespace quindle;
using namespace quindle::test;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

// What the disk holds, as lstat sees it: path (relative, "/") -> kind, size (files), mtime.
using Entries = std::map<std::string, std::tuple<std::string, uint64_t, int64_t>>;

Entries OnDisk(const std::string& root) {
    Entries out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st {};
        EXPECT_EQ(::lstat(e.path().c_str(), &st), 0);
        const bool dir = S_ISDIR(st.st_mode);
        out[std::filesystem::relative(e.path(), root).string()] = {dir ? "folder" : "file",
                                                                   dir ? 0 : static_cast<uint64_t>(st.st_size),
                                                                   static_cast<int64_t>(st.st_mtime)};
    }
    return out;
}

Entries InCatalogue(const Catalogue& c) {
    Entries out;
    for (size_t i = 1; i < c.Count(); ++i) {
        const bool dir = c.Kind(i) == EntryKind::Folder;
        out[c.Path(i, '/')] = {EntryKindName(c.Kind(i)), dir ? 0 : c.size[i], c.mtime[i]};
    }
    return out;
}

// A record without its date and title lines, which two memorizations of a disk may differ in.
std::string Masked(const std::string& record) {
    std::istringstream in(record);
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Memorization Date=", 0) != 0 && line.rfind("Title=", 0) != 0) out += line + "\n";
    return out;
}

} // namespace

TEST(Program, AddThroughTheDialogKeepsHostileNamesExactlyAsQuindleCliAddDoes) {
    if (!HaveDesktop()) GTEST_SKIP() << "no X display";
    TempDir disk;
    const std::vector<std::string> names = {"tab\there", "cr\rhere", "lf\nhere", "crlf\r\nhere", "back\\slash",
                                            "what?", "star*", "a=b", "[bracket", "[section]", "Case", "CASE",
                                            "\xe9t\xe9 latin1", "\xff\xfe"};
    int n = 0;
    for (const std::string& name : names) {
        for (const std::string& folder : {std::string(), std::string("Twin/"), std::string("TWIN/"),
                                          std::string("odd\\dir?\n*/in=[x]\t/")}) {
            const std::string path = disk.MakeFile(folder + name, std::string(static_cast<size_t>(++n), 'q'));
            const utimbuf t{1'500'000'000 + n * 1000, 1'500'000'000 + n * 1000};
            ASSERT_EQ(::utime(path.c_str(), &t), 0);
        }
    }
    disk.MakeFile("\xe9t\xe9 dir/Case/file", "x");

    TempDir home;
    const std::string program = home.MakeDir("prog") + "/quindle";
    std::filesystem::copy_file(QUINDLE_BINARY_DIR "/quindle", program);
    const std::string package = home.MakeDir("prog/data");
    home.MakeFile("config/Tavrel/Quindle.conf", "[Drives]\nC\\path=" + disk.path() + "\nC\\serial=4242\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.path() + "/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(home.path() + "/share"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    QProcess quindle;
    quindle.setProcessEnvironment(env);
    quindle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quindle.start(QString::fromStdString(program), {});
    ASSERT_TRUE(quindle.waitForStarted(5000));
    struct Stop {
        QProcess& p;
        ~Stop() {
            if (p.state() == QProcess::NotRunning) return;
            Screenshot(QStringLiteral("Program.HostileAdd"));
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
    ASSERT_TRUE(Type(QStringLiteral("Hostile names")));
    ASSERT_TRUE(Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), Decimal(dialog), QStringLiteral("247"),
                     QStringLiteral("314"), QStringLiteral("click"), QStringLiteral("1")}));
    QString done;
    ASSERT_TRUE(WaitForProcess([&] { return !(done = ClientWindow(pid, QStringLiteral("Done!"))).isEmpty(); }, 30000))
        << "no \"Done!\" box";
    ASSERT_TRUE(WaitForProcess([&] { return FocusedWindow() == Decimal(done); }, 15000));
    ASSERT_TRUE(Key(QStringLiteral("Return")));
    ASSERT_TRUE(WaitForProcess([&] { return ClientWindow(pid, QStringLiteral("Done!")).isEmpty(); }, 15000));
    ASSERT_TRUE(QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), main}) == 0);
    // The dialog is modal: its close box first, then the main window's.
    if (!quindle.waitForFinished(3000)) {
        QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), dialog});
        QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), main});
    }
    ASSERT_TRUE(quindle.waitForFinished(10000));

    // Every entry exactly: name bytes, kind, size, date.
    const std::string record = package + "/4242.dat";
    const DiskCatalogue mine = OpenDiskCatalogue(record, kInfo);
    ASSERT_TRUE(mine.catalogue) << CatalogueProblemText(mine.problem);
    const Entries expected = OnDisk(disk.path());
    EXPECT_EQ(expected.size(), names.size() * 4 + 4 + 3);
    EXPECT_EQ(InCatalogue(*mine.catalogue), expected);
    EXPECT_EQ(mine.catalogue->header.figures.root, "C:\\");
    EXPECT_TRUE(mine.catalogue->header.figures.complete);

    // quindle-cli add on the same drive writes the same record and the same entries.
    const std::string other = home.MakeDir("other");
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(QUINDLE_BINARY_DIR "/quindle-cli"),
              {QStringLiteral("--package"), QString::fromStdString(other), QStringLiteral("add"), QStringLiteral("C:"),
               QStringLiteral("--title"), QStringLiteral("By the command line")});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const std::string theirs = ReadHostFile(other + "/4242.dat");
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(Masked(ReadHostFile(record)), Masked(theirs));
    EXPECT_NE(ReadHostFile(record).find("\r\nTitle=Hostile names\r\n"), std::string::npos);
    const DiskCatalogue cliCatalogue = OpenDiskCatalogue(other + "/4242.dat", kInfo);
    ASSERT_TRUE(cliCatalogue.catalogue);
    EXPECT_EQ(InCatalogue(*cliCatalogue.catalogue), expected);
}
