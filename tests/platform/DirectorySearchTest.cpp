#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/CodePage.h"
#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

// Name -> attributes of what FindFiles reports.
std::map<std::string, uint32_t> List(const Platform& p, const std::string& dir, const std::string& pattern,
                                     uint32_t searchAttr, uint32_t needAttrs = 0) {
    std::map<std::string, uint32_t> seen;
    const bool ok = p.FindFiles(dir, pattern, searchAttr, [&](const SearchRec& r) {
        EXPECT_TRUE(seen.emplace(r.Name, r.Attr).second) << "reported twice: " << r.Name;
    }, needAttrs);
    EXPECT_TRUE(ok) << dir;
    return seen;
}

std::string Names(const std::map<std::string, uint32_t>& m) {
    std::string s;
    for (const auto& [name, attr] : m) s += (s.empty() ? "" : " ") + name;
    return s;
}

bool MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd); // the socket file stays
    return ok;
}

// A drive with one entry of every sort at its root and a plain subdirectory.
struct Fixture {
    TempDrive e{'E'};
    Platform p;
    Fixture() {
        namespace fs = std::filesystem;
        e.MakeFile("a.dat", "x");
        e.MakeFile("B.DAT", "y");
        e.MakeFile("notes.txt");
        e.MakeFile(".hidden");
        e.MakeDir("Sub");
        e.MakeFile("Sub/inner.dat");
        e.MakeDir(".hdir");
        mkfifo((e.path() + "/pipe").c_str(), 0600);
        fs::create_symlink("Sub", e.path() + "/dirlink");
        fs::create_symlink("a.dat", e.path() + "/filelink");
        fs::create_symlink("nowhere", e.path() + "/dangling");
        e.MapInto(p);
    }
};

} // namespace

TEST(DirectorySearch, RequestedAttributeRule) {
    Fixture f;
    const bool haveSocket = MakeSocket(f.e.path() + "/sock");
    const std::string plain = "B.DAT a.dat dangling dirlink filelink notes.txt";

    // Nothing requested: plain files only; links are files, whatever they point at.
    auto m = List(f.p, "E:\\", "*.*", 0);
    EXPECT_EQ(Names(m), plain);
    for (const auto& [name, attr] : m) EXPECT_FALSE(attr & faDirectory) << name;

    EXPECT_EQ(Names(List(f.p, "E:\\", "*.*", faHidden)), ".hidden " + plain);
    m = List(f.p, "E:\\", "*.*", faSysFile);
    EXPECT_TRUE(m.count("pipe"));
    EXPECT_EQ(m.count("sock"), haveSocket ? 1u : 0u);
    EXPECT_TRUE(m["pipe"] & faSysFile);
    EXPECT_FALSE(m.count("Sub"));

    // Directories: no "." or ".." at a root; a hidden one needs hidden as well.
    m = List(f.p, "E:\\", "*.*", faDirectory);
    EXPECT_EQ(Names(m), "B.DAT Sub " + plain.substr(6));
    EXPECT_EQ(m["Sub"], faDirectory);
    EXPECT_FALSE(m["dirlink"] & faDirectory);
    EXPECT_TRUE(List(f.p, "E:\\", "*.*", faDirectory | faHidden).count(".hdir"));

    // Only directories, when the caller says it drops the rest.
    EXPECT_EQ(Names(List(f.p, "e:\\", "*.*", faDirectory | faHidden | faSysFile, kDirectoriesOnly)), ".hdir Sub");

    // Below the root "." and ".." come with directories, and only with them.
    m = List(f.p, "E:\\Sub", "*.*", faDirectory);
    EXPECT_EQ(Names(m), ". .. inner.dat");
    EXPECT_EQ(m["."], faDirectory);
    EXPECT_EQ(m[".."], faDirectory);
    EXPECT_EQ(Names(List(f.p, "E:\\Sub", "*.*", 0)), "inner.dat");
    EXPECT_EQ(Names(List(f.p, "E:\\Sub", "*.dat", faDirectory)), "inner.dat");

    // Patterns fold case; a relative folder goes from the current one.
    EXPECT_EQ(Names(List(f.p, "E:\\", "*.dat", 0)), "B.DAT a.dat");
    ASSERT_TRUE(f.p.SetCurrentDir("E:\\"));
    EXPECT_EQ(Names(List(f.p, "Sub", "INNER.*", 0)), "inner.dat");

    int calls = 0;
    EXPECT_FALSE(f.p.FindFiles("E:\\Missing", "*.*", 0, [&](const SearchRec&) { ++calls; }));
    EXPECT_FALSE(f.p.FindFiles("Q:\\", "*.*", 0, [&](const SearchRec&) { ++calls; }));
    EXPECT_EQ(calls, 0);
}

TEST(DirectorySearch, ReadOnlyAndAttributesOfSingleFiles) {
    Fixture f;
    chmod((f.e.path() + "/notes.txt").c_str(), 0444);
    auto m = List(f.p, "E:\\", "*.txt", 0, faReadOnly);
    EXPECT_TRUE(m["notes.txt"] & faReadOnly);
    EXPECT_TRUE(m["notes.txt"] & faArchive);
    EXPECT_FALSE(List(f.p, "E:\\", "a.dat", 0, faReadOnly)["a.dat"] & faReadOnly);

    EXPECT_EQ(f.p.FileGetAttr("E:\\.hidden") & (faHidden | faDirectory), faHidden);
    EXPECT_EQ(f.p.FileGetAttr("E:\\pipe") & faSysFile, faSysFile);
    EXPECT_EQ(f.p.FileGetAttr("E:\\Sub") & faDirectory, faDirectory);
    EXPECT_EQ(f.p.FileGetAttr("E:\\dirlink") & faDirectory, 0);
    EXPECT_EQ(f.p.FileGetAttr("E:\\dangling") & faArchive, faArchive);
    EXPECT_EQ(f.p.FileGetAttr("E:\\none"), -1);
    if (geteuid() != 0) {
        EXPECT_TRUE(f.p.FileGetAttr("E:\\notes.txt") & faReadOnly);
    }
}

TEST(DirectorySearch, HiddenAttributeRoundTripThroughExtendedAttributes) {
    Fixture f;
    const std::string host = f.e.path() + "/a.dat";
    if (setxattr(host.c_str(), "user.quindle-probe", "1", 1, 0) != 0) {
        if (errno == ENOTSUP || errno == EOPNOTSUPP) GTEST_SKIP() << "no user xattrs on " << f.e.path();
        FAIL() << std::strerror(errno);
    }
    removexattr(host.c_str(), "user.quindle-probe");

    const int before = f.p.FileGetAttr("E:\\a.dat");
    ASSERT_GE(before, 0);
    EXPECT_FALSE(before & faHidden);
    ASSERT_TRUE(f.p.FileSetAttr("E:\\a.dat", static_cast<uint32_t>(before) | faHidden));
    EXPECT_EQ(f.p.FileGetAttr("E:\\a.dat"), before | faHidden);
    // Written in the text form Samba reads too.
    char buf[32] = {};
    const ssize_t n = getxattr(host.c_str(), "user.DOSATTRIB", buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "0x22");
    // A hidden file stays out of a search that doesn't ask for hidden ones.
    EXPECT_FALSE(List(f.p, "E:\\", "*.dat", 0).count("a.dat"));
    EXPECT_TRUE(List(f.p, "E:\\", "*.dat", faHidden).count("a.dat"));

    ASSERT_TRUE(f.p.FileSetAttr("E:\\a.dat", static_cast<uint32_t>(before)));
    EXPECT_EQ(f.p.FileGetAttr("E:\\a.dat"), before);
    EXPECT_TRUE(List(f.p, "E:\\", "*.dat", 0).count("a.dat"));

    // Samba's binary form: version 3, then valid flags and the attributes (hidden, system).
    const unsigned char blob[] = {3, 0, 3, 0, 0xff, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(setxattr((f.e.path() + "/B.DAT").c_str(), "user.DOSATTRIB", blob, sizeof blob, 0), 0);
    EXPECT_EQ(f.p.FileGetAttr("E:\\B.DAT") & (faHidden | faSysFile), faHidden | faSysFile);
    EXPECT_FALSE(List(f.p, "E:\\", "*.dat", faHidden).count("B.DAT")); // system not requested
}

TEST(DirectorySearch, MaskPatterns) {
    EXPECT_TRUE(MatchesMask("noext", "*.*"));
    EXPECT_TRUE(MatchesMask(".hidden", "*.*"));
    EXPECT_TRUE(MatchesMask("A.DAT", "*.dat"));
    EXPECT_TRUE(MatchesMask("x.Dat", "*.DAT"));
    EXPECT_FALSE(MatchesMask("a.dat.bak", "*.dat"));
    EXPECT_FALSE(MatchesMask("adat", "*.dat"));
    EXPECT_TRUE(MatchesMask("x", "?"));
    EXPECT_FALSE(MatchesMask("xy", "?"));
    EXPECT_FALSE(MatchesMask("", "?"));
    EXPECT_TRUE(MatchesMask("data.dbt", "*.d?t"));
    EXPECT_TRUE(MatchesMask("readme", "README.*"));
    EXPECT_TRUE(MatchesMask("ReadMe.txt", "readme.*"));
    EXPECT_TRUE(MatchesMask("a*b", "a*b"));
    EXPECT_TRUE(MatchesMask("aXXbXXb", "a*b"));
    EXPECT_FALSE(MatchesMask("aXXbXXc", "a*b"));
    // Only ASCII letters fold: É and é stay different bytes.
    EXPECT_FALSE(MatchesMask("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9"));
    EXPECT_TRUE(MatchesMask("\xc3\xa9T\xc3\xa9", "\xc3\xa9t\xc3\xa9"));
}

// Another file system's mount point is no subdirectory, also when it is mounted after the
// folder was first listed and for a name that differs from one only in case; a bind mount
// of the same file system is an ordinary folder.
TEST(DirectorySearch, MountPointsAreLeftOutAsTheMountTableChanges) {
    TempDrive e('E');
    for (const char* d : {"plain", "mnt", "MNT2", "same", "inner"}) e.MakeDir(d);
    Platform p;
    e.MapInto(p);
    const auto dirs = [&] { return Names(List(p, "E:\\", "*.*", faDirectory, kDirectoriesOnly)); };
    EXPECT_EQ(dirs(), "MNT2 inner mnt plain same");
    if (mount("none", (e.path() + "/mnt").c_str(), "tmpfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    const bool bound = mount((e.path() + "/inner").c_str(), (e.path() + "/same").c_str(), nullptr, MS_BIND, nullptr) == 0;
    EXPECT_EQ(dirs(), bound ? "MNT2 inner plain same" : "MNT2 inner plain");
    umount((e.path() + "/mnt").c_str());
    if (bound) umount((e.path() + "/same").c_str());
    EXPECT_EQ(dirs(), "MNT2 inner mnt plain same");
}

// DOS attributes on a local disk are read where the disk holds them: a disk written by
// Samba carries them on its entries, and a folder hidden there deep down stays out.
TEST(DirectorySearch, DosAttributesOfADiskThatHoldsThem) {
    TempDrive e('E');
    const std::string probe = e.MakeDir("probe");
    if (setxattr(probe.c_str(), "user.DOSATTRIB", "0x10", 4, 0) != 0) GTEST_SKIP() << "no user xattrs";
    for (int i = 0; i < 40; ++i) {
        const std::string d = e.MakeDir("d" + std::to_string(i));
        ASSERT_EQ(setxattr(d.c_str(), "user.DOSATTRIB", "0x10", 4, 0), 0);
    }
    e.MakeDir("d7/shown");
    const std::string secret = e.MakeDir("d7/secret");
    ASSERT_EQ(setxattr(secret.c_str(), "user.DOSATTRIB", "0x12", 4, 0), 0);
    for (const bool walk : {false, true}) {
        Platform p;
        e.MapInto(p);
        p.SetShareRepeatedRead(walk);
        EXPECT_EQ(List(p, "E:\\", "*.*", faDirectory, kDirectoriesOnly).size(), 41u);
        EXPECT_EQ(Names(List(p, "E:\\d7", "*.*", faDirectory, kDirectoriesOnly)), ". .. shown");
        EXPECT_EQ(Names(List(p, "E:\\d7", "*.*", faDirectory | faHidden, kDirectoriesOnly)), ". .. secret shown");
    }
}
