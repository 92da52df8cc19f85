// Disks that fight back: odd names, deep and wide trees, links, special files, and a
// package folder that cannot take the record. The walk ends cleanly, the record holds
// one line per recorded name, and records saved before are never harmed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;
using quindle::test::WalkRig;
using quindle::test::WriteHostFile;

namespace {

// Splits a record into lines; every line must end with CR LF.
std::vector<std::string> RecordLines(const std::string& bytes) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t e = bytes.find("\r\n", start);
        if (e == std::string::npos) {
            ADD_FAILURE() << "a record line without CR LF at byte " << start;
            break;
        }
        out.push_back(bytes.substr(start, e - start));
        start = e + 2;
    }
    return out;
}

// Entry lines per section header (lines that are neither empty nor headers).
std::map<std::string, std::vector<std::string>> Entries(const std::string& bytes) {
    std::map<std::string, std::vector<std::string>> m;
    std::string section;
    for (const auto& l : RecordLines(bytes)) {
        if (l.empty()) continue;
        if (l.front() == '[' && l.back() == ']')
            section = l.substr(1, l.size() - 2);
        else
            m[section].push_back(l);
    }
    return m;
}

void MakeSocket(const std::string& path) {
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(s);
}

} // namespace

TEST(WalkReliability, OddNamesGiveOneLineEach) {
    WalkRig rig;
    TempDrive e('E', 31u);
    const std::vector<std::string> names = {"line\nbreak", "cr\rname", "a=b=c", "[bracket", "close]", "[Docs]",
                                            "\xff\xfe not utf8", std::string(255, 'L'), "plain.txt"};
    for (const auto& n : names) e.MakeFile(n, "x");
    e.MakeFile("Sub/[inner=1]", "x");
    const std::string path = rig.Memorize(e, "31");
    const auto entries = Entries(ReadHostFile(path));
    // The root's names: one entry line each, whatever they hold (a "[" line ends the
    // section for lookups, yet stays one line).
    size_t rootLines = 0;
    for (const auto& [section, lines] : entries)
        if (section != "Sub") rootLines += lines.size();
    EXPECT_EQ(rootLines, names.size());
    ASSERT_EQ(entries.count("Sub"), 1u);
    EXPECT_EQ(entries.at("Sub"), std::vector<std::string>{"[inner=1]=1"});
    const std::string bytes = ReadHostFile(path);
    EXPECT_NE(bytes.find(std::string(255, 'L') + "="), std::string::npos);
    EXPECT_NE(bytes.find("\xff\xfe not utf8="), std::string::npos);
    EXPECT_EQ(bytes.find("line\nbreak"), std::string::npos);
    // The record stays readable: the information written afterwards reads back.
    WriteDiskInfo(rig.ctx, path, "31", "d", "Odd names", "", "");
    EXPECT_EQ(TIniFile32(path).ReadString(rig.ctx.InfoSection, "Title", "-"), "Odd names");
}

TEST(WalkReliability, TreeDeeperThanTheOutlineCompletesAndSaysSo) {
    WalkRig rig;
    TempDrive e('E', 32u);
    std::string rel;
    for (int level = 1; level <= 300; ++level) {
        rel += (level > 1 ? "/" : "") + std::string("d");
        e.MakeFile(rel + "/f" + std::to_string(level), "x");
    }
    const std::string path = rig.Memorize(e, "32");
    EXPECT_FALSE(rig.treeErrors.empty());
    EXPECT_EQ(rig.treeErrors.front(), "Maximum outline depth exceeded");
    // Every folder the outline holds was recorded, none below it and none twice.
    const auto entries = Entries(ReadHostFile(path));
    ASSERT_EQ(entries.count("d"), 1u);
    const auto& lines = entries.at("d");
    std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(unique.size(), lines.size());
    EXPECT_GE(lines.size(), 250u);
    EXPECT_LT(lines.size(), 300u);
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "f" + std::to_string(i + 1) + "=1");
    EXPECT_EQ(rig.tree->ItemCount(), static_cast<int>(lines.size()) + 1);
}

TEST(WalkReliability, HundredThousandFilesInOneDirectory) {
    WalkRig rig;
    // On a RAM file system when there is one: creating the files is the slow part.
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm/quindle-wide-XXXXXX" : "";
    std::string root = base;
    if (base.empty() || !mkdtemp(root.data())) root.clear();
    TempDrive fallback('E', 33u);
    DriveInfo e = fallback.Info();
    if (!root.empty()) e.root = root;
    struct Cleanup {
        std::string dir;
        ~Cleanup() {
            std::error_code ec;
            if (!dir.empty()) std::filesystem::remove_all(dir, ec);
        }
    } cleanup{root};
    auto drives = rig.ctx.platform.Drives();
    drives.push_back(e);
    rig.ctx.platform.SetDrives(drives);
    const std::string dir = e.root + "/Big";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    char name[32];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(name, sizeof name, "/f%06d", i);
        const int fd = open((dir + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    const std::string path = RecordPath(rig.ctx, "33");
    MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    const auto entries = Entries(ReadHostFile(path));
    ASSERT_EQ(entries.count("Big"), 1u);
    const auto& lines = entries.at("Big");
    ASSERT_EQ(lines.size(), 100000u);
    EXPECT_EQ(lines.front(), "f000000=1");
    EXPECT_EQ(lines.back(), "f099999=100000");
}

TEST(WalkReliability, LinksFifosAndSocketsAreFilesAndTheWalkStaysOnTheDrive) {
    WalkRig rig;
    TempDrive e('E', 34u);
    TempDir outside;
    outside.MakeFile("Elsewhere/secret.txt", "x");
    e.MakeFile("A/a.txt", "x");
    ASSERT_EQ(symlink(".", (e.path() + "/loop").c_str()), 0);
    ASSERT_EQ(symlink("ping", (e.path() + "/pong").c_str()), 0);
    ASSERT_EQ(symlink("pong", (e.path() + "/ping").c_str()), 0);
    ASSERT_EQ(symlink("..", (e.path() + "/A/up").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), (e.path() + "/out").c_str()), 0);
    ASSERT_EQ(mkfifo((e.path() + "/pipe").c_str(), 0644), 0);
    MakeSocket(e.path() + "/sock");
    const std::string path = rig.Memorize(e, "34");
    const auto entries = Entries(ReadHostFile(path));
    EXPECT_EQ(entries.at("E:\\"), (std::vector<std::string>{"loop=1", "out=2", "ping=3", "pipe=4", "pong=5", "sock=6"}));
    EXPECT_EQ(entries.at("A"), (std::vector<std::string>{"a.txt=1", "up=2"}));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(ReadHostFile(path).find("secret"), std::string::npos);
    EXPECT_EQ(rig.tree->ItemCount(), 2); // the root and A
}

TEST(WalkReliability, PackageFolderThatCannotTakeTheRecord) {
    WalkRig rig;
    TempDrive e('E', 35u);
    e.MakeFile("a.txt", "x");
    e.MakeFile("Docs/b.txt", "x");
    // A package "folder" that is a regular file: nothing can be created below it.
    const std::string blocker = rig.package.MakeFile("blocker", "not a folder");
    rig.ctx.PackageFolder = blocker + "/data/";
    const std::string path = RecordPath(rig.ctx, "35");
    e.MapInto(rig.ctx.platform);
    std::string error;
    try {
        MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    } catch (const EFileError& x) {
        error = x.what();
    }
    EXPECT_EQ(error, "Cannot create file " + path);
    EXPECT_EQ(ReadHostFile(blocker), "not a folder");
    WriteDiskInfo(rig.ctx, path, "35", "d", "t", "", ""); // nothing there: nothing happens
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WalkReliability, DiskFullLeavesEarlierRecordsWhole) {
    WalkRig rig;
    // Records saved earlier, one of them larger than the file size limit below.
    const std::string small = rig.package.MakeFile("1.dat", "\r\n[E:\\]\r\nold.txt=1\r\n");
    std::string bigText = "\r\n[Old]\r\n";
    for (int i = 0; i < 4000; ++i) bigText += "old-file-" + std::to_string(i) + ".txt=" + std::to_string(i + 1) + "\r\n";
    bigText += "\r\n[" + rig.ctx.InfoSection + "]\r\nTitle=Old disk\r\n";
    const std::string big = rig.package.MakeFile("2.dat", bigText);
    ASSERT_GT(bigText.size(), 64u * 1024);

    TempDrive e('E', 36u);
    for (int i = 0; i < 10; ++i) e.MakeFile("A/a" + std::to_string(i) + ".txt");
    for (int i = 0; i < 3000; ++i) e.MakeFile("Many/a-rather-long-file-name-number-" + std::to_string(i) + ".txt");
    e.MapInto(rig.ctx.platform);
    const std::string fresh = RecordPath(rig.ctx, "36");

    // The child process gets a 64 KiB limit on file size: every write past it fails as it
    // would on a full disk. Exit codes: 0 both writers reported the failure.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
        int code = 0;
        try {
            MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', fresh);
            code |= 1; // the walk claimed success
        } catch (const EFileError& x) {
            if (std::string(x.what()) != "Cannot create file " + fresh) code |= 2;
        } catch (...) {
            code |= 4;
        }
        try {
            WriteDiskInfo(rig.ctx, big, "2", "d", "Changed while full", "", "");
            code |= 8;
        } catch (const EFileError&) {
        } catch (...) {
            code |= 16;
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(ReadHostFile(small), "\r\n[E:\\]\r\nold.txt=1\r\n");
    EXPECT_EQ(ReadHostFile(big), bigText);
    // A walk that failed replaces nothing: the disk had no record and still has none.
    EXPECT_FALSE(std::filesystem::exists(fresh));
    // No temporary file is left behind in the package.
    for (const auto& entry : std::filesystem::directory_iterator(rig.package.path()))
        EXPECT_EQ(entry.path().filename().string().rfind(".~", 0), std::string::npos) << entry.path();
}
