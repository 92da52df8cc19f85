#include "records/IniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <random>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::WriteHostFile;

namespace {

// The store's rules as plain linear scans over the lines, to check the indexed store against.
struct ScanIni {
    std::vector<std::string> lines;

    static std::string Key(const std::string& l) {
        const auto eq = l.find('=');
        return eq == std::string::npos ? std::string() : l.substr(0, eq);
    }
    static std::string Value(const std::string& l) {
        const auto eq = l.find('=');
        return eq == std::string::npos ? l : l.substr(eq + 1);
    }
    static bool Bracket(const std::string& l) { return l.find('[') != std::string::npos; }

    int FindSection(const std::string& s) const {
        for (size_t i = 0; i < lines.size(); ++i)
            if (SameText(lines[i], "[" + s + "]")) return static_cast<int>(i);
        return -1;
    }
    std::string Read(const std::string& s, const std::string& k, const std::string& d) const {
        const int h = FindSection(s);
        if (h < 0) return d;
        for (size_t i = h + 1; i < lines.size(); ++i) {
            if (Bracket(lines[i])) return d;
            if (Key(lines[i]) == k) return Value(lines[i]);
        }
        return d;
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) {
        const int h = FindSection(s);
        if (h < 0) {
            lines.insert(lines.end(), {"", "[" + s + "]", k + "=" + v});
            return;
        }
        size_t i = h + 1;
        while (i < lines.size() && !Bracket(lines[i]) && Key(lines[i]) != k) ++i;
        if (i < lines.size() && !Bracket(lines[i]))
            lines[i] = k + "=" + v;
        else
            lines.insert(lines.begin() + static_cast<long>(i), k + "=" + v);
    }
    std::string Text() const {
        std::string t;
        for (const auto& l : lines) t += l + "\r\n";
        return t;
    }
};

ino_t Inode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Names in a folder other than "." and "..", to spot leftover temporary files.
std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const EFileError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(IniFile, NewFileAndWorkedExample) {
    TempDir dir;
    const std::string path = dir.path() + "/rec.dat";
    {
        TIniFile32 ini(path);
        EXPECT_EQ(ini.FileName(), path);
        EXPECT_EQ(ini.ReadString("S", "K", "def"), "def");
        EXPECT_EQ(ini.FindSection("S"), -1);
        EXPECT_EQ(access(path.c_str(), F_OK), -1) << "nothing is written before the first write";
        ini.WriteString("S", "K", "V");
        EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\nK=V\r\n");
        ini.WriteString("S", "L", "2");
        ini.WriteString("T", "M", "3");
        EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\nK=V\r\nL=2\r\n\r\n[T]\r\nM=3\r\n");
        EXPECT_EQ(ini.LineList().size(), 7u);
        EXPECT_EQ(ini.FindSection("t"), 5);
        // Appends write what they add, not the whole file again.
        EXPECT_EQ(ini.BytesWritten(), ReadHostFile(path).size());
    }

    // A key added to a section followed by another lands after the separating empty line.
    WriteHostFile(path, "\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    TIniFile32 ini(path);
    ini.WriteString("A", "z", "3");
    EXPECT_EQ(ReadHostFile(path), "\r\n[A]\r\nx=1\r\n\r\nz=3\r\n[B]\r\ny=2\r\n");
    // Replacing keeps the order of the other lines.
    ini.WriteString("A", "x", "10");
    ini.WriteString("B", "y", "20");
    EXPECT_EQ(ReadHostFile(path), "\r\n[A]\r\nx=10\r\n\r\nz=3\r\n[B]\r\ny=20\r\n");
    EXPECT_EQ(TIniFile32(path).ReadString("a", "z", ""), "3");
}

TEST(IniFile, MatchingRules) {
    TempDir dir;
    const std::string path = dir.MakeFile("r.dat", " [Pad]\r\np=1\r\n[SECT]\r\nkey =v\r\na=b=c\r\ne=\r\nLower=1\r\n"
                                                   "free text\r\n=eq\r\n");
    TIniFile32 ini(path);
    EXPECT_EQ(ini.FindSection("sect"), 2);
    EXPECT_EQ(ini.FindSection("Pad"), -1) << "a blank before the bracket is not a header";
    EXPECT_EQ(ini.ReadString("Pad", "p", "d"), "d");
    EXPECT_EQ(ini.ReadString("sect", "key", "d"), "d");
    EXPECT_EQ(ini.ReadString("sect", "key ", "d"), "v");
    EXPECT_EQ(ini.ReadString("sect", "a", "d"), "b=c");
    EXPECT_EQ(ini.ReadString("sect", "a=b", "d"), "d");
    EXPECT_EQ(ini.ReadString("sect", "e", "d"), "");
    EXPECT_EQ(ini.ReadString("SECT", "Lower", "d"), "1");
    EXPECT_EQ(ini.ReadString("SECT", "LOWER", "d"), "d");
    EXPECT_EQ(ini.ReadString("SECT", "lower", "d"), "d");
    // A line without "=" has the empty key and answers with its whole text.
    EXPECT_EQ(ini.ReadString("SECT", "", "d"), "free text");

    // Writing a key whose case differs adds a line; the original stays.
    ini.WriteString("sect", "LOWER", "2");
    EXPECT_EQ(ini.ReadString("sect", "Lower", "d"), "1");
    EXPECT_EQ(ini.ReadString("sect", "LOWER", "d"), "2");
    // The empty key replaces the first line that has it.
    ini.WriteString("sect", "", "x");
    EXPECT_EQ(ini.LineList()[7], "=x");
    EXPECT_EQ(ReadHostFile(path),
              " [Pad]\r\np=1\r\n[SECT]\r\nkey =v\r\na=b=c\r\ne=\r\nLower=1\r\n=x\r\n=eq\r\nLOWER=2\r\n");
}

TEST(IniFile, DuplicateHeadersAndBracketLines) {
    TempDir dir;
    const std::string path = dir.MakeFile("r.dat", "[A]\r\nx=1\r\n[a]\r\ny=2\r\n[B]\r\nv=has[\r\nk=1\r\n");
    TIniFile32 ini(path);
    EXPECT_EQ(ini.ReadString("A", "y", "d"), "d") << "the second header is never read";
    EXPECT_EQ(ini.ReadString("B", "k", "d"), "d") << "a line with [ ends the section";
    ini.WriteString("a", "y", "3");
    ini.WriteString("B", "k", "2");
    EXPECT_EQ(ReadHostFile(path), "[A]\r\nx=1\r\ny=3\r\n[a]\r\ny=2\r\n[B]\r\nk=2\r\nv=has[\r\nk=1\r\n");
    EXPECT_EQ(ini.ReadString("A", "y", "d"), "3");
    EXPECT_EQ(ini.ReadString("B", "k", "d"), "2");

    // A value holding "[" ends the section for later reads; a key written after it is
    // inserted before it, and keys behind it are no longer found.
    ini.WriteString("A", "x", "[1");
    EXPECT_EQ(ini.ReadString("A", "x", "d"), "d");
    EXPECT_EQ(ini.ReadString("A", "y", "d"), "d");
    ini.WriteString("A", "y", "4");
    EXPECT_EQ(ReadHostFile(path), "[A]\r\ny=4\r\nx=[1\r\ny=3\r\n[a]\r\ny=2\r\n[B]\r\nk=2\r\nv=has[\r\nk=1\r\n");
    EXPECT_EQ(ini.ReadString("A", "y", "d"), "4");
    // A key made to look like a header becomes one for a later lookup.
    ini.WriteString("B", "[C", "D]");
    EXPECT_EQ(ini.FindSection("C=D"), 8);
    EXPECT_EQ(ini.FindSection("a"), 0);
}

TEST(IniFile, LoadingLineBreaksAndNul) {
    TempDir dir;
    const char raw[] = "[S]\rk=1\nl=2\r\n\n\rm=3\r\n\0[T]\r\nt=1\r\n";
    const std::string path = dir.MakeFile("r.dat", std::string(raw, sizeof raw - 1));
    TIniFile32 ini(path);
    // A NUL byte is kept: nothing after it is lost by the next save.
    EXPECT_EQ(ini.LineList(), (std::vector<std::string>{"[S]", "k=1", "l=2", "", "", "m=3", std::string("\0[T]", 4), "t=1"}));
    EXPECT_EQ(ini.FindSection("T"), -1);
    EXPECT_EQ(ini.ReadString("S", "m", "d"), "3");
    ini.WriteString("S", "n", "4");
    EXPECT_EQ(ReadHostFile(path), std::string("[S]\r\nk=1\r\nl=2\r\n\r\n\r\nm=3\r\nn=4\r\n\0[T]\r\nt=1\r\n", 40));

    WriteHostFile(path, "[S]\r\nk=1");
    EXPECT_EQ(TIniFile32(path).LineList(), (std::vector<std::string>{"[S]", "k=1"}));
    WriteHostFile(path, "");
    EXPECT_TRUE(TIniFile32(path).LineList().empty());
    WriteHostFile(path, "\r\n");
    EXPECT_EQ(TIniFile32(path).LineList(), (std::vector<std::string>{""}));
    // An empty existing file is appended to like a new one.
    WriteHostFile(path, "");
    TIniFile32(path).WriteString("S", "K", "V");
    EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\nK=V\r\n");
}

TEST(IniFile, OpenAndCreateErrors) {
    TempDir dir;
    const std::string sub = dir.MakeDir("folder.dat");
    EXPECT_EQ(ErrorOf([&] { TIniFile32 ini(sub); }), "Cannot open file " + sub);

    const std::string missing = dir.path() + "/nofolder/r.dat";
    TIniFile32 ini(missing);
    EXPECT_EQ(ErrorOf([&] { ini.WriteString("S", "K", "V"); }), "Cannot create file " + missing);
    EXPECT_EQ(ini.LineList().size(), 3u) << "the change stays in memory";
    dir.MakeDir("nofolder");
    ini.WriteString("S", "L", "W"); // the next save brings the whole list to disk
    EXPECT_EQ(ReadHostFile(missing), "\r\n[S]\r\nK=V\r\nL=W\r\n");

    if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    const std::string locked = dir.MakeFile("locked.dat", "[S]\r\nK=1\r\n");
    chmod(locked.c_str(), 0);
    EXPECT_EQ(ErrorOf([&] { TIniFile32 x(locked); }), "Cannot open file " + locked);
    chmod(locked.c_str(), 0444);
    TIniFile32 ro(locked);
    EXPECT_EQ(ErrorOf([&] { ro.WriteString("S", "K", "2"); }), "Cannot create file " + locked);
    EXPECT_EQ(ErrorOf([&] { ro.WriteString("S", "L", "2"); }), "Cannot create file " + locked);
    EXPECT_EQ(ReadHostFile(locked), "[S]\r\nK=1\r\n");
}

// A save that runs out of room (here: the file size limit) leaves the old file whole and
// no temporary file behind, both for a rewrite and for an append in place.
TEST(IniFile, FailedSaveLeavesOldFile) {
    TempDir dir;
    std::string original = "\r\n[S]\r\n";
    for (int i = 0; i < 200; ++i) original += "key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    const std::string path = dir.MakeFile("r.dat", original);
    const std::string big(400, 'x');

    for (const bool append : {false, true}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit lim{static_cast<rlim_t>(original.size() + 100), static_cast<rlim_t>(original.size() + 100)};
            setrlimit(RLIMIT_FSIZE, &lim);
            int code = 1;
            try {
                TIniFile32 ini(path);
                if (append)
                    ini.WriteString("S", "new", big); // at the end of the file: appended in place
                else
                    ini.WriteString("S", "key0", big); // in the middle: the file is rewritten
            } catch (const EFileError& e) {
                code = std::string(e.what()) == "Cannot create file " + path ? 0 : 2;
            }
            _exit(code);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "append=" << append;
        EXPECT_EQ(ReadHostFile(path), original) << "append=" << append;
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"r.dat"});
    }
}

TEST(IniFile, HiddenFileKeepsAttributesAcrossSaves) {
    TempDir dir;
    Platform platform;
    const std::string path = dir.MakeFile("r.dat", "\r\n[S]\r\nK=1\r\n");
    chmod(path.c_str(), 0640);
    if (!platform.FileSetAttr(path, faHidden | faArchive) || !(platform.FileGetAttr(path) & faHidden))
        GTEST_SKIP() << "no extended attributes on this file system";
    char before[64] = {};
    const ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", before, sizeof before);
    ASSERT_GT(n, 0);

    TIniFile32 ini(path);
    ini.WriteString("S", "K", "2");  // rewrite
    ini.WriteString("S", "L", "3");  // append
    ini.WriteString("S", "K", "22"); // rewrite again
    EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\nK=22\r\nL=3\r\n");
    EXPECT_TRUE(platform.FileGetAttr(path) & faHidden);
    char after[64] = {};
    ASSERT_EQ(getxattr(path.c_str(), "user.DOSATTRIB", after, sizeof after), n);
    EXPECT_EQ(std::string(before, n), std::string(after, n));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"r.dat"});

    // Hidden by its name.
    const std::string dotted = dir.MakeFile(".hidden.dat", "\r\n[S]\r\nK=1\r\n");
    TIniFile32(dotted).WriteString("S", "K", "5");
    EXPECT_EQ(ReadHostFile(dotted), "\r\n[S]\r\nK=5\r\n");
}

// The temporary file of a rewrite is born with the record's final mode: no change of
// its permissions is ever seen on it (an inotify IN_ATTRIB would show one), for a
// private record, a group-readable one and a new file, and the result keeps the mode.
TEST(IniFile, TemporaryFileIsCreatedWithTheFinalMode) {
    const mode_t oldMask = umask(0);
    struct Case {
        const char* name;
        mode_t mode; // 0: the file does not exist yet
    };
    for (const Case c : {Case{"private.dat", 0600}, Case{"group.dat", 0640}, Case{"new.dat", 0}}) {
        TempDir dir;
        const std::string path = dir.path() + "/" + c.name;
        if (c.mode) {
            dir.MakeFile(c.name, "\r\n[S]\r\nK=1\r\n");
            ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        }
        const int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(in, 0);
        ASSERT_GE(inotify_add_watch(in, dir.path().c_str(), IN_CREATE | IN_ATTRIB), 0);
        TIniFile32 ini(path);
        ini.WriteString("S", "K", "22"); // a rewrite through the temporary file
        int created = 0, attribs = 0;
        alignas(inotify_event) char buf[8192];
        for (ssize_t n; (n = read(in, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(p);
                const std::string name = ev->len ? ev->name : "";
                if (name.rfind(".~ini-", 0) == 0) {
                    if (ev->mask & IN_CREATE) ++created;
                    if (ev->mask & IN_ATTRIB) ++attribs;
                }
                p += sizeof(inotify_event) + ev->len;
            }
        }
        close(in);
        EXPECT_EQ(created, 1) << c.name;
        EXPECT_EQ(attribs, 0) << c.name;
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode ? c.mode : 0666u) << c.name;
    }
    umask(oldMask);
}

// Two stores on one file: each save writes the writer's whole copy, so the last writer
// wins, also when the earlier content would allow appending.
TEST(IniFile, LastWriterWins) {
    TempDir dir;
    const std::string path = dir.path() + "/r.dat";
    TIniFile32 a(path);
    a.WriteString("S", "a", "1");
    TIniFile32 b(path);
    b.WriteString("S", "b", "2");
    b.WriteString("S", "c", "3");
    a.WriteString("S", "d", "4");
    EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\na=1\r\nd=4\r\n");
    unlink(path.c_str());
    a.WriteString("S", "e", "5");
    EXPECT_EQ(ReadHostFile(path), "\r\n[S]\r\na=1\r\nd=4\r\ne=5\r\n");
}

TEST(IniFile, DeferredMatchesPlainMode) {
    TempDir dir;
    const std::string plainPath = dir.path() + "/plain.dat";
    const std::string deferredPath = dir.path() + "/deferred.dat";
    struct Op {
        const char *s, *k, *v;
    };
    const std::vector<Op> ops = {{"A", "x", "1"},   {"A", "y", "2"},     {"B", "z", "3"},  {"a", "w", "4"},
                                 {"A", "x", "111"}, {"B", "z", ""},      {"C", "q", "[5"}, {"C", "r", "6"},
                                 {"A", "y", "2"},   {"B", "new", "7"},   {"c", "q", "8"},  {"A", "x", "1"}};
    {
        TIniFile32 plain(plainPath);
        TIniFile32 deferred(deferredPath);
        deferred.SetDeferred(true);
        for (const auto& op : ops) {
            plain.WriteString(op.s, op.k, op.v);
            deferred.WriteString(op.s, op.k, op.v);
        }
        EXPECT_EQ(access(deferredPath.c_str(), F_OK), -1) << "nothing on disk before a checkpoint";
        EXPECT_TRUE(deferred.HasUnsavedChanges());
        deferred.Checkpoint();
        EXPECT_FALSE(deferred.HasUnsavedChanges());
        EXPECT_EQ(ReadHostFile(deferredPath), ReadHostFile(plainPath));
        for (const auto& op : ops) deferred.WriteString(op.s, op.k, std::string(op.v) + "+");
        for (const auto& op : ops) plain.WriteString(op.s, op.k, std::string(op.v) + "+");
        EXPECT_NE(ReadHostFile(deferredPath), ReadHostFile(plainPath));
    }
    // The destructor saved the pending changes.
    EXPECT_EQ(ReadHostFile(deferredPath), ReadHostFile(plainPath));

    // An existing file changed in the middle in deferred mode is replaced as a whole
    // (a new file renamed over it), never rewritten in place.
    const ino_t before = Inode(deferredPath);
    {
        TIniFile32 deferred(deferredPath);
        deferred.SetDeferred(true);
        deferred.WriteString("A", "x", "changed");
        deferred.Checkpoint();
    }
    EXPECT_NE(Inode(deferredPath), before);
    EXPECT_EQ(TIniFile32(deferredPath).ReadString("A", "x", ""), "changed");
}

// The memorizer's pattern: a record built from scratch, one checkpoint per directory,
// names repeated across directories replaced with numbers of other lengths. The walk
// creates its file empty before the store opens it; that file must be updated in place
// as well, not rewritten whole at every checkpoint.
TEST(IniFile, DeferredCheckpointsPerDirectory) {
    for (const bool preCreated : {false, true}) {
        SCOPED_TRACE(preCreated ? "file created empty first" : "no file at first");
        TempDir dir;
        const std::string path = dir.path() + "/deferred.dat";
        if (preCreated) WriteHostFile(path, "");
        ScanIni ref; // what plain mode would have saved
        TIniFile32 deferred(path);
        deferred.SetDeferred(true);
        std::mt19937 rng(7);
        // The last folder comes back after another one, so its new names go in the middle.
        const std::vector<std::string> sections = {"E:\\", "Docs", "Music", "Docs"};
        const ino_t first = Inode(path);
        for (int d = 0; d < 80; ++d) {
            const std::string section = sections[static_cast<size_t>(d / 20)];
            const int files = static_cast<int>(rng() % 40);
            for (int f = 1; f <= files; ++f) {
                const std::string name = "file" + std::to_string(rng() % 60) + ".txt";
                const std::string value = std::to_string(rng() % 3 == 0 ? f * 1000 : f);
                ref.Write(section, name, value);
                deferred.WriteString(section, name, value);
            }
            deferred.Checkpoint();
            ASSERT_EQ(ReadHostFile(path), ref.Text()) << "after directory " << d;
            if (preCreated) {
                ASSERT_EQ(Inode(path), first) << "rewritten whole after directory " << d;
            }
        }
        const ino_t ino = Inode(path);
        deferred.WriteString("Docs", "file1.txt", "123456789");
        deferred.Checkpoint();
        EXPECT_EQ(Inode(path), ino) << "a record built by this store is updated in place";
        ref.Write("Docs", "file1.txt", "123456789");
        EXPECT_EQ(ReadHostFile(path), ref.Text());
    }
}

// The indexed store against the plain scan rules, over random writes that include
// duplicate headers, keys and values with "[", empty keys and keys with "=".
TEST(IniFile, IndexAgreesWithScanRules) {
    TempDir dir;
    const std::vector<std::string> sections = {"A", "a", "B", "[x", "C", "", "sec d", "c=d"};
    const std::vector<std::string> keys = {"k1", "K1", "k2", "", "x[y", "a=b", "k3", "[C", "long key"};
    const std::vector<std::string> values = {"1", "22", "v[", "", "333", "D]", "=", "x"};
    const std::string seed = "[A]\r\nk1=0\r\n[a]\r\nk2=0\r\n\r\n[B]\r\nk1=[\r\nk2=1\r\n";

    for (const bool deferred : {false, true}) {
        for (unsigned round = 0; round < (deferred ? 6u : 2u); ++round) {
            std::mt19937 rng(round * 31 + deferred);
            const std::string path = dir.path() + "/r" + std::to_string(round) + (deferred ? "d" : "p") + ".dat";
            ScanIni ref;
            if (round % 2) {
                WriteHostFile(path, seed);
                ref.lines = {"[A]", "k1=0", "[a]", "k2=0", "", "[B]", "k1=[", "k2=1"};
            }
            auto ini = std::make_unique<TIniFile32>(path);
            ini->SetDeferred(deferred);
            for (int step = 0; step < (deferred ? 250 : 150); ++step) {
                const auto& s = sections[rng() % sections.size()];
                const auto& k = keys[rng() % keys.size()];
                const auto& v = values[rng() % values.size()];
                const unsigned what = rng() % 10;
                if (what < 6) {
                    ref.Write(s, k, v);
                    ini->WriteString(s, k, v);
                } else if (what < 9) {
                    ASSERT_EQ(ini->ReadString(s, k, "?"), ref.Read(s, k, "?")) << s << "/" << k << " step " << step;
                    ASSERT_EQ(ini->FindSection(s), ref.FindSection(s));
                } else {
                    ini.reset(); // saves pending deferred changes
                    ini = std::make_unique<TIniFile32>(path);
                    ini->SetDeferred(deferred);
                }
                if (!deferred || step % 25 == 0) {
                    ini->Checkpoint();
                    ASSERT_EQ(ReadHostFile(path), ref.Text()) << "round " << round << " step " << step;
                }
            }
            ASSERT_EQ(ini->LineList(), ref.lines);
            for (const auto& s : sections)
                for (const auto& k : keys) ASSERT_EQ(ini->ReadString(s, k, "?"), ref.Read(s, k, "?")) << s << "/" << k;
        }
    }
}

// Records far larger than the store's internal blocks: runs of thousands of empty lines
// (bare LF, bare CR), a line of several megabytes, sections whose keys lie across block
// edges. Loading, lookups, inserts into early sections, replacements and every kind of
// save give what the plain scan rules give.
TEST(IniFile, LargeRecordsKeepTheRules) {
    TempDir dir;
    const std::string path = dir.path() + "/big.dat";
    std::string file;
    ScanIni ref;
    auto add = [&](const std::string& line, const char* brk) {
        file += line;
        file += brk;
        ref.lines.push_back(line);
    };
    for (int s = 0; s < 6; ++s) {
        add("[S" + std::to_string(s) + "]", "\n");
        for (int k = 0; k < 1500; ++k) add("k" + std::to_string(k) + "=" + std::string(k % 50, 'v'), "\r\n");
        for (int e = 0; e < 2500; ++e) add("", s % 2 ? "\n" : "\r");
    }
    add("[Huge]", "\r\n");
    add("h=" + std::string(3 << 20, 'h'), "\n");
    add("after=1", "");
    WriteHostFile(path, file);

    {
        TIniFile32 ini(path);
        ASSERT_EQ(ini.LineCount(), ref.lines.size());
        ASSERT_EQ(ini.LineList(), ref.lines);
        EXPECT_EQ(ini.FindSection("s3"), ref.FindSection("S3"));
        EXPECT_EQ(ini.ReadString("S4", "k1499", "?"), ref.Read("S4", "k1499", "?"));
        EXPECT_EQ(ini.ReadString("Huge", "h", "?").size(), size_t(3 << 20));
        EXPECT_EQ(ini.ReadString("Huge", "after", "?"), "1");
        EXPECT_EQ(ReadHostFile(path), file) << "reading never changes the file";

        // The file is not in the saved form (bare breaks): the first save rewrites it whole.
        ini.WriteString("S1", "new", "1");
        ref.Write("S1", "new", "1");
        ASSERT_EQ(ReadHostFile(path), ref.Text());
        ini.SetDeferred(true);
        std::mt19937 rng(3);
        for (int step = 0; step < 400; ++step) {
            const std::string s = "S" + std::to_string(rng() % 7);
            const std::string k = "k" + std::to_string(rng() % 1600);
            const std::string v = std::string(rng() % 60, 'w');
            ini.WriteString(s, k, v);
            ref.Write(s, k, v);
            if (step % 50 == 0) {
                ini.Checkpoint();
                ASSERT_EQ(ReadHostFile(path), ref.Text()) << "step " << step;
            }
        }
        ini.WriteString("Huge", "h", "short");
        ref.Write("Huge", "h", "short");
        ini.SetDeferred(false);
        ASSERT_EQ(ReadHostFile(path), ref.Text());
    }
    TIniFile32 again(path);
    EXPECT_EQ(again.LineList(), ref.lines);
    // Saved in the clean form: an append now writes only the new lines.
    again.WriteString("Z", "z", "1");
    ref.Write("Z", "z", "1");
    EXPECT_EQ(again.BytesWritten(), std::string("\r\n[Z]\r\nz=1\r\n").size());
    EXPECT_EQ(ReadHostFile(path), ref.Text());
}

// A write saves even when it changes no line, in both modes: the file is then the store's
// lines with CR LF, whatever line ends it had. A file already in that form is left alone
// (same inode, nothing written).
TEST(IniFile, WriteThatChangesNoLineSavesInEveryMode) {
    struct Case {
        const char* name;
        std::string file; // before the write of S/k=1
        std::string saved;
    };
    const std::vector<Case> cases = {
        {"bare CR", "[S]\rk=1\r", "[S]\r\nk=1\r\n"},
        {"bare LF", "\n[S]\nk=1\nz=2\n", "\r\n[S]\r\nk=1\r\nz=2\r\n"},
        {"no break at the end", "[S]\r\nk=1", "[S]\r\nk=1\r\n"},
        {"mixed, key in the middle", "[S]\r\nk=1\n[T]\rt=1\r\n", "[S]\r\nk=1\r\n[T]\r\nt=1\r\n"},
        {"already saved form", "\r\n[S]\r\nk=1\r\n", "\r\n[S]\r\nk=1\r\n"},
    };
    enum Finish { kPlain, kCheckpoint, kLeaveDeferred, kDestructor };
    const char* const finishName[] = {"plain", "checkpoint", "leaving deferred mode", "destructor"};
    TempDir dir;
    const std::string path = dir.path() + "/r.dat";
    for (const Case& c : cases) {
        for (const Finish how : {kPlain, kCheckpoint, kLeaveDeferred, kDestructor}) {
            SCOPED_TRACE(std::string(c.name) + ", " + finishName[how]);
            WriteHostFile(path, c.file);
            const ino_t before = Inode(path);
            uint64_t written = 0;
            {
                TIniFile32 ini(path);
                ini.SetDeferred(how != kPlain);
                ini.WriteString("S", "k", "1");
                ASSERT_EQ(ini.LineList(), (TIniFile32(path).LineList())) << "the write changed no line";
                if (how == kCheckpoint) ini.Checkpoint();
                if (how == kLeaveDeferred) ini.SetDeferred(false);
                written = ini.BytesWritten();
            }
            EXPECT_EQ(ReadHostFile(path), c.saved);
            if (c.file == c.saved) {
                EXPECT_EQ(Inode(path), before);
                EXPECT_EQ(written, 0u);
            }
        }
    }
}
