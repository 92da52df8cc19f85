// quindle-cli run as a process on real folders mapped as drives through the settings file.
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/PrivateMounts.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"

extern char** environ;

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::WriteHostFile;

namespace {

using Result = quindle::test::CliResult;
using quindle::test::RunCli;

// The user's settings file: drives E and C mapped to temporary folders.
struct Rig {
    quindle::test::TempDrive c{'C', 1u};
    quindle::test::TempDrive e{'E', 439041101u};
    TempDir package;

    Rig() {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.clear();
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
        s.setValue("Drives/C/serial", 1);
        s.setValue("Drives/E/path", QString::fromStdString(e.path()));
        s.setValue("Drives/E/serial", 439041101);
        s.setValue("Drives/E/kind", "removable");
        s.setValue("Drives/E/label", "BACKUP");
        s.setValue("Drives/N/path", "/no/such/folder");
        s.sync();
        c.MakeFile("autoexec.bat", "x");
        e.MakeFile("readme.txt", "r");
        e.MakeFile("setup.exe", "s");
        e.MakeFile("Docs/a.doc", "a");
        e.MakeFile("Docs/README.md", "a");
        e.MakeFile("Docs/Old/z.txt", "z");
        e.MakeFile("Music/song.mp3", "m");
    }
    Result Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--package", package.path()});
        return RunCli(args);
    }
    std::string Record(const std::string& serial) const { return package.Read(serial + ".dat"); }
};

std::string MaskDate(std::string record) {
    const std::string key = "\r\nMemorization Date=";
    const auto p = record.find(key);
    if (p != std::string::npos) record.replace(p + key.size(), record.find('\r', p + key.size()) - p - key.size(), "*");
    return record;
}

const std::string kInfo = "Special Information about this disk by Quindle";

} // namespace

TEST(Cli, CommandsGiveTheirLinesAndExitStatuses) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "e:", "--title", "Backup disk", "--description=Letters"}).status, 0);
    rig.package.MakeFile("7.dat", "\r\n[Pics]\r\nreadme.png=1\r\n");           // no information: no title
    rig.package.MakeFile("12.dat", "\r\n[" + kInfo + "]\r\nTitle=Other\r\n"); // no file names

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, errHas;
    };
    const std::string date = "\t" + QString::fromStdString(rig.Record("439041101")).section("Memorization Date=", 1).section("\r", 0, 0).toStdString() + "\t";
    const Case cases[] = {
        // Listing order is the package dialog's: the record file names as its lister sorts them.
        {{"list"}, 0, "12\tOther\t\t\n439041101\tBackup disk" + date + "Letters\n7\t\t\t\n", ""},
        {{"find", "readme"}, 0, "2\t439041101\tBackup disk\n1\t7\t\n", ""},
        {{"find", "--all", "README"}, 0, "0\t12\tOther\n2\t439041101\tBackup disk\n1\t7\t\n", ""},
        // Disk 439041101 has a catalogue: full folder paths; disk 7 has only its record.
        {{"find", "--names", "readme"}, 0,
         "2\t439041101\tBackup disk\n\tE:\\\treadme.txt\n\tE:\\Docs\tREADME.md\n1\t7\t\n\tPics\treadme.png\n", ""},
        {{"find", "--names", "letters"}, 0, "1\t439041101\tBackup disk\n\t" + kInfo + "\tDescription=Letters\n", ""},
        {{"find", "--", "-x-"}, 1, "", ""},
        {{"find", "nowhere"}, 1, "", ""},
        {{"find", ""}, 2, "", "the word is empty"},
        {{"find"}, 2, "", "missing WORD"},
        {{"find", "--bogus", "x"}, 2, "", "unknown option --bogus"},
        {{"remove", "12x"}, 2, "", "is not a volume serial"},
        {{"remove", "4294967296"}, 2, "", "is not a volume serial"},
        {{"remove", "99"}, 2, "", "no disk 99 in the package"},
        {{"add", "Q:", "--title", "t"}, 2, "", "unknown drive Q:"},
        {{"add", "N", "--title", "t"}, 2, "", "drive N: is not ready"},
        {{"add", "E:"}, 2, "", "a title is needed"},
        {{"add", "E:", "--title", "t"}, 2, "", "is already in the package"},
        {{"add", "E:", "--title", "t", "--additional", "a[1]"}, 2, "", "cannot hold the character \"[\""},
        {{"add", "E:", "--title", "a\nb"}, 2, "", "must be single lines"},
        {{"add", "EE", "--title", "t"}, 2, "", "is not a drive"},
        {{"frobnicate"}, 2, "", "unknown command \"frobnicate\""},
        {{"list", "extra"}, 2, "", "unexpected argument"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        const Result r = rig.Cli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }

    // A package folder that is missing, and an unknown option before the command.
    EXPECT_EQ(RunCli({"--package", rig.package.path() + "/none", "list"}).status, 2);
    EXPECT_EQ(RunCli({"--verbose", "list"}).status, 2);

    // The drive table from the settings: letter, kind, serial, label, folder.
    const Result drives = RunCli({"drives"});
    EXPECT_EQ(drives.status, 0);
    EXPECT_NE(drives.out.find("E:\tremovable\t439041101\tBACKUP\t" + rig.e.path() + "\n"), std::string::npos);
    EXPECT_NE(drives.out.find("N:\tfixed\t\t\t/no/such/folder\n"), std::string::npos);

    // A record that is a link to a device: an error for that disk, the others still answer.
    ASSERT_EQ(symlink("/dev/zero", (rig.package.path() + "/5.dat").c_str()), 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list"}, {"find", "readme"}}) {
        const Result r = rig.Cli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("Cannot open file " + rig.package.path() + "/5.dat"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("439041101"), std::string::npos);
    }

    // --replace memorizes again; remove takes the disk out.
    rig.e.MakeFile("new.txt", "n");
    EXPECT_EQ(rig.Cli({"add", "e", "--title", "Again", "--replace"}).status, 0);
    EXPECT_NE(rig.Record("439041101").find("new.txt=1\r\n"), std::string::npos);
    EXPECT_NE(rig.Record("439041101").find("Title=Again\r\n"), std::string::npos);
    EXPECT_EQ(rig.Cli({"remove", "0439041101"}).status, 0);
    EXPECT_EQ(rig.Record("439041101"), "");
    EXPECT_EQ(rig.Cli({"remove", "439041101"}).status, 2);
}

TEST(Cli, AddWritesTheRecordThePackageDialogWrites) {
    Rig rig;
    for (int i = 0; i < 5; ++i) rig.e.MakeFile("Docs/Sub" + std::to_string(i) + "/a.doc", "x");
    rig.e.MakeFile("Docs/.hidden", "h");
    rig.e.MakeFile("=odd=name", "o");

    // The program, with the same settings: its drive table comes from the same file.
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    app.MainForm->DriveComboBox1.BuildList();
    app.MainForm->DriveComboBox1.SetDrive('E');
    app.MainForm->Add1Click();
    TCollectForm& f = *app.CollectForm;
    f.Edit1->setText("Backup disk");
    f.Edit2->setText("Letters");
    f.Edit3->setText("shelf 3");
    f.ActionButton->OnClick(f.ActionButton);
    ASSERT_FALSE(ui.boxes.empty());
    ASSERT_EQ(ui.boxes.back().text, "Ok, the disk has been memorized!");
    const std::string dialog = ReadHostFile(app.ctx.PackageFolder + "439041101.dat");

    const Result r = rig.Cli({"add", "E:", "--title", "Backup disk", "--description", "Letters", "--additional", "shelf 3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("E: 9 folders, 13 files\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Ok, the disk has been memorized!"), std::string::npos);
    const std::string cli = rig.Record("439041101");
    ASSERT_NE(dialog.find("[" + kInfo + "]"), std::string::npos);
    EXPECT_EQ(MaskDate(cli), MaskDate(dialog));
    EXPECT_NE(MaskDate(cli), cli); // the date line was there to mask
}

// The figures add ends with are the walk's, whatever the shape of the disk: a disk of its
// root alone, with checksums (whose reading pumps as the walk goes) and without.
TEST(Cli, AddCountsTheFoldersAndFilesItMemorized) {
    struct Case {
        std::vector<std::string> files;
        bool checksums;
        const char* figures;
    } cases[] = {
        {{"a.txt", "b.txt"}, false, "C: 1 folder, 2 files\n"},
        {{"a.txt"}, true, "C: 1 folder, 1 file\n"},
        {{"a.txt", "D/b.txt", "D/E/c.txt", "F/d.txt"}, true, "C: 4 folders, 4 files\n"},
    };
    for (const Case& c : cases) {
        Rig rig;
        std::filesystem::remove(rig.c.path() + "/autoexec.bat");
        for (const std::string& f : c.files) rig.c.MakeFile(f, "x");
        std::vector<std::string> args{"add", "C:", "--title", "T"};
        if (c.checksums) args.push_back("--checksums");
        const Result r = rig.Cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.figures), std::string::npos) << r.err;
        if (c.checksums)
            EXPECT_NE(r.err.find(std::to_string(c.files.size()) + (c.files.size() == 1 ? " checksum, " : " checksums, ") +
                                 "0 files could not be read"),
                      std::string::npos)
                << r.err;
    }
}

TEST(Cli, WithoutPackageOptionTheProgramsFolderRuleHolds) {
    Rig rig;
    // A copy of the binary in a folder of its own, first as a build, then as installed.
    TempDir prog;
    const std::string exe = prog.path() + "/quindle-cli";
    WriteHostFile(exe, ReadHostFile(QUINDLE_CLI));
    ASSERT_EQ(chmod(exe.c_str(), 0755), 0);
    auto run = [&](std::vector<std::string> args) {
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        int ws = 0;
        waitpid(pid, &ws, 0);
        return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    };
    EXPECT_EQ(run({"add", "E", "--title", "Built"}), 0);
    EXPECT_NE(prog.Read("data/439041101.dat").find("Title=Built"), std::string::npos);

    prog.MakeFile("quindle.installed");
    const std::string user = std::string(std::getenv("XDG_DATA_HOME")) + "/Quindle/data/439041101.dat";
    std::remove(user.c_str());
    EXPECT_EQ(run({"add", "E", "--title", "Installed"}), 0);
    EXPECT_NE(ReadHostFile(user).find("Title=Installed"), std::string::npos);
    std::remove(user.c_str());
}

TEST(Cli, InterruptStopsAnAddAsAbortDoes) {
    Rig rig;
    for (int i = 0; i < 3000; ++i) rig.e.MakeFile("Big/D" + std::to_string(i) + "/f" + std::to_string(i) + ".txt", "x");

    // stderr on a terminal: the progress line is redrawn for every folder, so once this
    // test stops reading, the walk blocks on the full terminal long before its end.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    const std::string pkg = rig.package.path();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int s = open(slave.c_str(), O_RDWR | O_NOCTTY);
        dup2(s, 2);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execl(QUINDLE_CLI, QUINDLE_CLI, "--package", pkg.c_str(), "add", "E:", "--title", "Partial", (char*)nullptr);
        _exit(127);
    }
    std::string err;
    char buf[4096];
    auto readSome = [&] {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return false;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) return false;
        err.append(buf, static_cast<size_t>(n));
        return true;
    };
    while (err.find("folders") == std::string::npos && readSome()) {
    }
    ASSERT_NE(err.find("E: 0 folders, 0 files"), std::string::npos) << err;
    kill(pid, SIGINT);
    while (readSome()) {
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    close(master);
    ASSERT_TRUE(WIFEXITED(ws));
    EXPECT_EQ(WEXITSTATUS(ws), 1);
    EXPECT_NE(err.find("Operation aborted by user"), std::string::npos);
    EXPECT_NE(err.find("quindle-cli: add: Memorizing that disk was not complete."), std::string::npos) << err;
    EXPECT_NE(err.find("\r\x1b[KE: 0 folders, 0 files"), std::string::npos); // redrawn in place
    const std::string record = rig.Record("439041101");
    EXPECT_NE(record.find("Title=Partial\r\n"), std::string::npos);
    EXPECT_EQ(record.find("f2999.txt"), std::string::npos);
}

// A package that cannot be written (mounted read-only, which root cannot write either, or
// a full file system): add is an error, exit status 2 with the reason, not an incomplete
// walk (1, as for an interrupt); the record and catalogue stay as they were.
TEST(Cli, AddThatCannotWriteThePackageExitsWithTwoAndKeepsTheOldRecord) {
    ASSERT_TRUE(quindle::test::PrivateMounts()) << "no mount namespace of its own";
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Old"}).status, 0);
    rig.e.MakeFile("Docs/new.txt", "n");
    TempDir small;
    const struct {
        const char* what;
        std::string folder;
        std::function<void(const std::string&)> make;
    } cases[] = {
        {"read-only", rig.package.path(),
         [](const std::string& f) {
             ASSERT_EQ(mount(f.c_str(), f.c_str(), nullptr, MS_BIND, nullptr), 0);
             ASSERT_EQ(mount(nullptr, f.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
         }},
        {"full", small.path(),
         [&](const std::string& f) {
             ASSERT_EQ(mount("tmpfs", f.c_str(), "tmpfs", 0, "size=64k"), 0);
             for (const char* name : {"/439041101.dat", "/439041101.cat"})
                 WriteHostFile(f + name, rig.package.Read(name + 1));
             // Filled to the last byte.
             const int fd = open((f + "/fill").c_str(), O_WRONLY | O_CREAT, 0600);
             const std::string block(4096, 'x');
             while (write(fd, block.data(), block.size()) > 0) {
             }
             while (write(fd, "x", 1) > 0) {
             }
             close(fd);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.make(c.folder);
        const std::string record = ReadHostFile(c.folder + "/439041101.dat");
        const std::string catalogue = ReadHostFile(c.folder + "/439041101.cat");
        ASSERT_NE(record.find("Title=Old\r\n"), std::string::npos);
        const Result r = RunCli({"--package", c.folder, "add", "E:", "--title", "New", "--replace"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("quindle-cli: add: Cannot create file " + c.folder + "/439041101.dat"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("not complete"), std::string::npos) << r.err;
        EXPECT_EQ(ReadHostFile(c.folder + "/439041101.dat"), record);
        EXPECT_EQ(ReadHostFile(c.folder + "/439041101.cat"), catalogue);
        EXPECT_EQ(umount2(c.folder.c_str(), MNT_DETACH), 0);
    }
    // Written again once it can be.
    EXPECT_EQ(rig.Cli({"add", "E:", "--title", "New", "--replace"}).status, 0);
    EXPECT_NE(rig.Record("439041101").find("\r\nnew.txt="), std::string::npos);
}

namespace {

// Reads back one JSON string of `files --json` at `at` (just after its opening quote):
// "\udcXX" is the byte XX, every other escape its character, UTF-8 as it stands.
std::string JsonStringAt(const std::string& s, size_t at) {
    std::string out;
    while (at < s.size() && s[at] != '"') {
        if (s[at] != '\\') {
            out += s[at++];
            continue;
        }
        const char e = s[at + 1];
        at += 2;
        if (e == 'u') {
            const unsigned v = static_cast<unsigned>(std::stoul(s.substr(at, 4), nullptr, 16));
            at += 4;
            out += static_cast<char>(v >= 0xdc80 && v <= 0xdcff ? v - 0xdc00 : v);
        } else {
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        }
    }
    return out;
}

} // namespace

TEST(Cli, FilesAndShowGiveTheCatalogueAndHostileNamesRoundTrip) {
    Rig rig;
    const std::vector<std::string> hostile = {"tab\tname", "cr\rname", "lf\nname", "back\\slash", "what?", "star*",
                                              "a=b", "[bracket", "Case", "CASE", "\xe9t\xe9 latin1",
                                              "Twin/x", "TWIN/x", "odd\\dir?/inner*"};
    for (const auto& name : hostile) rig.e.MakeFile("Hostile/" + name, "12");
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backup disk"}).status, 0);

    const Result json = rig.Cli({"files", "439041101", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    std::map<std::string, std::string> lines; // path -> the rest of its line
    std::istringstream in(json.out);
    for (std::string line; std::getline(in, line);) {
        ASSERT_EQ(line.rfind("{\"path\":\"", 0), 0u) << line;
        const std::string path = JsonStringAt(line, 9);
        lines[path] = line.substr(line.find("\"kind\""));
    }
    for (const auto& name : hostile)
        EXPECT_EQ(lines["Hostile/" + name], "\"kind\":\"file\",\"size\":2,\"mtime\":" +
                                                 lines["Hostile/" + name].substr(lines["Hostile/" + name].rfind(':') + 1))
            << name;
    EXPECT_EQ(lines.count("Hostile/\xe9t\xe9 latin1"), 1u);
    EXPECT_NE(json.out.find("\"path\":\"Hostile/\\udce9t\\udce9 latin1\""), std::string::npos);
    EXPECT_EQ(lines[""].substr(0, 16), "\"kind\":\"folder\",");
    EXPECT_EQ(lines["Docs"].substr(0, 25), "\"kind\":\"folder\",\"size\":3,");
    EXPECT_EQ(lines.size(), 1 + 9 + 1 + hostile.size() + 3) << "root, 9 entries of the rig, Hostile and its 3 folders";

    const Result text = rig.Cli({"files", "439041101"});
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\n" "file\t1\t"), std::string::npos);
    EXPECT_NE(text.out.find("\tE:\\Docs\\Old\\z.txt\n"), std::string::npos);
    EXPECT_NE(text.out.find("\tE:\\Hostile\\tab?name\n"), std::string::npos);
    EXPECT_EQ(text.out.rfind("folder\t", 0), 0u);

    const Result show = rig.Cli({"show", "439041101", "--json"});
    ASSERT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("{\"serial\":\"439041101\",\"title\":\"Backup disk\",\"date\":\""), std::string::npos);
    EXPECT_NE(show.out.find(",\"files\":" + std::to_string(6 + hostile.size()) + ",\"folders\":8,\"bytes\":" +
                            std::to_string(6 + 2 * hostile.size()) + ","),
              std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find(",\"complete\":true}\n"), std::string::npos);

    // Disks without a valid catalogue: exit 2, naming the cause.
    rig.package.MakeFile("7.dat", "\r\n[Pics]\r\nreadme.png=1\r\n");
    const std::string record = rig.Record("439041101");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errHas;
    };
    const Case cases[] = {
        {{"files", "7"}, 2, "disk 7: no catalogue"},
        {{"show", "7", "--json"}, 2, "disk 7: no catalogue"},
        {{"files", "8"}, 2, "no disk 8 in the package"},
        {{"show", "x"}, 2, "is not a volume serial"},
    };
    for (const Case& k : cases) {
        const Result r = rig.Cli(k.args);
        EXPECT_EQ(r.status, k.status) << k.args[0];
        EXPECT_NE(r.err.find(k.errHas), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Another walk's record restored over this one.
    rig.package.MakeFile("439041101.dat", MaskDate(record));
    const Result stale = rig.Cli({"files", "439041101"});
    EXPECT_EQ(stale.status, 2);
    EXPECT_NE(stale.err.find("the catalogue does not belong to this record"), std::string::npos) << stale.err;
    // find --names falls back to the record's sections for it.
    EXPECT_NE(rig.Cli({"find", "--names", "z.txt"}).out.find("\tDocs\tz.txt\n"), std::string::npos);
    // remove takes both files.
    ASSERT_EQ(rig.Cli({"remove", "439041101"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(rig.package.path() + "/439041101.cat"));
}

TEST(Cli, ListJsonGivesEveryDiskWithItsFiguresItsDriveAndWhyItsCatalogueIsNotUsed) {
    Rig rig;
    setenv("TZ", "UTC", 1); // the record's local date, as the child reads it
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backup \"disk\"", "--description", "USB"}).status, 0);
    // A disk memorized long ago (a record only), and one whose catalogue is damaged.
    const std::string info = "\r\n[" + kInfo + "]\r\nVolume Serial=88\r\nMemorization Date=01/02/2026 03:04:05\r\nTitle=Attic\r\n";
    WriteHostFile(rig.package.path() + "/88.dat", "\r\n[F:\\]\r\nold.txt=1\r\n" + info);
    WriteHostFile(rig.package.path() + "/99.dat", "\r\n[G:\\]\r\nx.txt=1\r\n\r\n[" + kInfo + "]\r\nTitle=Broken\r\n");
    WriteHostFile(rig.package.path() + "/99.cat", std::string("QNDLCAT\x1a\x01\0\0\0", 12) + std::string(40, '\xff'));

    const Result r = rig.Cli({"list", "--json"});
    unsetenv("TZ");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    // The package dialog's order; figures from the catalogue, or null without a usable one.
    const std::string& e = lines[0];
    EXPECT_EQ(e.rfind("{\"serial\":\"439041101\",\"title\":\"Backup \\\"disk\\\"\",\"date\":\"20", 0), 0u) << e;
    EXPECT_NE(e.find("Z\",\"description\":\"USB\",\"files\":6,\"folders\":4,\"bytes\":6,\"capacity\":"), std::string::npos) << e;
    EXPECT_NE(e.find(",\"complete\":true,\"connected\":\"E\",\"catalogue\":\"valid\"}"), std::string::npos) << e;
    EXPECT_EQ(lines[1], "{\"serial\":\"88\",\"title\":\"Attic\",\"date\":\"2026-02-01T03:04:05Z\",\"description\":\"\","
                        "\"files\":null,\"folders\":null,\"bytes\":null,\"capacity\":null,\"free\":null,\"complete\":null,"
                        "\"connected\":null,\"catalogue\":\"no catalogue\"}");
    EXPECT_EQ(lines[2], "{\"serial\":\"99\",\"title\":\"Broken\",\"date\":null,\"description\":\"\",\"files\":null,"
                        "\"folders\":null,\"bytes\":null,\"capacity\":null,\"free\":null,\"complete\":null,"
                        "\"connected\":null,\"catalogue\":\"the catalogue is damaged\"}");
    // The text form stays as it was.
    const Result text = rig.Cli({"list"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("88\tAttic\t01/02/2026 03:04:05\t\n"), std::string::npos) << text.out;
}
