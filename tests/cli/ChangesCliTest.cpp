// quindle-cli diff, dupes and unique, run as a process on folders mapped as drives.
#include <QSettings>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/DamagedCatalogue.h"
#include "support/TempDrive.h"

extern char** environ;

using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

using Result = quindle::test::CliResult;

Result Run(const std::string& package, std::vector<std::string> args) {
    args.insert(args.begin(), {"--package", package});
    return quindle::test::RunCli(args);
}

// Dates vary from run to run: every "mtime":N and "old_mtime":N becomes "mtime":*.
std::string MaskTimes(std::string s) {
    for (const std::string key : {"\"mtime\":", "\"old_mtime\":"}) {
        for (size_t at = s.find(key); at != std::string::npos; at = s.find(key, at + 1)) {
            size_t end = at + key.size();
            while (end < s.size() && (isdigit(static_cast<unsigned char>(s[end])) || s[end] == '-')) ++end;
            s.replace(at + key.size(), end - at - key.size(), "*");
        }
    }
    return s;
}

struct Rig {
    TempDrive e{'E', 5u}, f{'F', 6u};
    TempDir package;
    Rig() {
        quindle::test::MapDrives({&e, &f});
        e.MakeFile("a.txt", "aaa");
        e.MakeFile("Docs/a.txt", "aaa");
        e.MakeFile("Docs/b\xff.bin", "bb");
        e.MakeFile("setup.exe", "s");
        f.MakeFile("a.txt", "aaa");
        f.MakeFile("b\xff.bin", "bbb");
    }
    ~Rig() { quindle::test::MapDrives({}); }
    Result Cli(const std::vector<std::string>& args) const { return Run(package.path(), args); }
};

} // namespace

TEST(ChangesCli, DiffTellsWhatChangedOnTheConnectedDiskAndWritesNothing) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    Result r = rig.Cli({"diff", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("nothing changed"), std::string::npos) << r.err;

    std::filesystem::rename(rig.e.path() + "/Docs", rig.e.path() + "/Papers");
    rig.e.MakeFile("setup.exe", "longer");
    const std::string record = rig.package.Read("5.dat"), catalogue = rig.package.Read("5.cat");
    r = rig.Cli({"diff", "5", "--json"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(MaskTimes(r.out),
              "{\"change\":\"removed\",\"path\":\"Docs\",\"kind\":\"folder\",\"size\":5,\"mtime\":*}\n"
              "{\"change\":\"removed\",\"path\":\"Docs/a.txt\",\"kind\":\"file\",\"size\":3,\"mtime\":*}\n"
              "{\"change\":\"removed\",\"path\":\"Docs/b\\udcff.bin\",\"kind\":\"file\",\"size\":2,\"mtime\":*}\n"
              "{\"change\":\"added\",\"path\":\"Papers\",\"kind\":\"folder\",\"size\":5,\"mtime\":*}\n"
              "{\"change\":\"added\",\"path\":\"Papers/a.txt\",\"kind\":\"file\",\"size\":3,\"mtime\":*}\n"
              "{\"change\":\"added\",\"path\":\"Papers/b\\udcff.bin\",\"kind\":\"file\",\"size\":2,\"mtime\":*}\n"
              "{\"change\":\"changed\",\"path\":\"setup.exe\",\"kind\":\"file\",\"size\":6,\"mtime\":*,"
              "\"old_size\":1,\"old_mtime\":*}\n");
    EXPECT_NE(r.err.find("2 files and 1 folder added, 2 files and 1 folder removed, 1 file changed"), std::string::npos)
        << r.err;
    EXPECT_EQ(rig.package.Read("5.dat"), record);
    EXPECT_EQ(rig.package.Read("5.cat"), catalogue);
    r = rig.Cli({"diff", "5"});
    EXPECT_NE(r.out.find("changed\tfile\t6\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tE:\\setup.exe\t1\t"), std::string::npos) << r.out;

    // add --replace counts the same changes.
    r = rig.Cli({"add", "E:", "--title", "E", "--replace"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(": 2 files and 1 folder added, 2 files and 1 folder removed, 1 file changed\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(rig.Cli({"diff", "5"}).status, 0);

    // No diff without a catalogue to compare with, or without the disk.
    struct Case {
        std::vector<std::string> args;
        std::string errHas;
    };
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    std::filesystem::remove(rig.package.path() + "/6.cat");
    const std::vector<Case> cases = {
        {{"diff", "6"}, "diff: disk 6: no catalogue; memorize it again"},
        {{"diff", "7"}, "diff: no disk 7 in the package"},
        {{"diff", "x"}, "is not a volume serial"},
        {{"diff"}, "diff: missing SERIAL"},
    };
    for (const Case& c : cases) {
        r = rig.Cli(c.args);
        EXPECT_EQ(r.status, 2) << c.args.back();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }
    std::filesystem::rename(rig.e.path(), rig.e.path() + ".away");
    r = rig.Cli({"diff", "5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("disk 5 is not in any drive"), std::string::npos) << r.err;
    std::filesystem::rename(rig.e.path() + ".away", rig.e.path());
}

TEST(ChangesCli, DupesAndUniqueOverThePackage) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    rig.package.MakeFile("9.dat", "\r\n[x]\r\ny=1\r\n"); // no catalogue: left out, and said so
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, errHas;
    };
    const std::vector<Case> cases = {
        {{"dupes", "--json"},
         0,
         "{\"name\":\"a.txt\",\"size\":3,\"copies\":[{\"serial\":\"5\",\"path\":\"a.txt\"},"
         "{\"serial\":\"5\",\"path\":\"Docs/a.txt\"},{\"serial\":\"6\",\"path\":\"a.txt\"}]}\n",
         "disk 9 left out: no catalogue"},
        {{"dupes"}, 0, "3\t3\ta.txt\n\t5\tE:\\a.txt\n\t5\tE:\\Docs\\a.txt\n\t6\tF:\\a.txt\n",
         "1 group of copies, 3 files; 6 bytes"},
        {{"dupes", "--min-size", "4"}, 1, "", "0 groups"},
        {{"dupes", "--min-size", "x"}, 2, "", "dupes: --min-size: \"x\" is not a size"},
        {{"unique", "6", "--json"}, 0, "{\"path\":\"b\\udcff.bin\",\"kind\":\"file\",\"size\":3,\"mtime\":*}\n",
         "1 file of disk 6 (3 bytes) has no copy"},
        // In walk order: a folder's files before its subfolders.
        {{"unique", "5", "--json"},
         0,
         "{\"path\":\"setup.exe\",\"kind\":\"file\",\"size\":1,\"mtime\":*}\n"
         "{\"path\":\"Docs/b\\udcff.bin\",\"kind\":\"file\",\"size\":2,\"mtime\":*}\n",
         "2 files of disk 5 (3 bytes) have no copy"},
        {{"unique", "9"}, 2, "", "unique: disk 9: no catalogue"},
        {{"unique", "8"}, 2, "", "unique: no disk 8 in the package"},
    };
    for (const Case& c : cases) {
        const Result r = rig.Cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
        EXPECT_EQ(MaskTimes(r.out), c.out) << c.args[0];
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }
}

// One disk's catalogue damaged as a failed copy or a file-system fault leaves it: every
// command goes on with the other disks, names the damaged one and exits normally.
TEST(ChangesCli, ADamagedCatalogueIsNamedAndTheOtherDisksServed) {
    Rig rig;
    TempDrive g{'G', 7u};
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.setValue("Drives/G/path", QString::fromStdString(g.path()));
        s.setValue("Drives/G/serial", 7u);
        s.sync();
    }
    g.MakeFile("a.txt", "aaa");
    g.MakeFile("g only.txt", "g");
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "G:", "--title", "G"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> outHas;
        std::string errHas;
    };
    const std::vector<Case> cases = {
        {{"locate", "a.txt"},
         0,
         {"5\tE\tfile\t3\t", "\tE:\\Docs\\a.txt\n", "6\tF\tfile\t-\t-\tF:\\a.txt\n", "7\tG\tfile\t3\t"},
         "disk 6 (F): the catalogue is damaged; only its record's names are searched"},
        {{"dupes"}, 0, {"3\t3\ta.txt\n\t5\tE:\\a.txt\n\t5\tE:\\Docs\\a.txt\n\t7\tG:\\a.txt\n"},
         "dupes: disk 6 left out: the catalogue is damaged"},
        {{"unique", "7"}, 0, {"\tG:\\g only.txt\n"}, "unique: disk 6 left out: the catalogue is damaged"},
        {{"unique", "6"}, 2, {}, "unique: disk 6: the catalogue is damaged"},
        {{"files", "6"}, 2, {}, "files: disk 6: the catalogue is damaged"},
        {{"show", "6"}, 2, {}, "show: disk 6: the catalogue is damaged"},
        {{"find", "--names", "a.txt"}, 0, {"\tE:\\Docs\ta.txt\n", "1\t6\tF\n\tF:\\\ta.txt\n"},
         "find: disk 6: the catalogue is damaged"},
    };
    for (const quindle::test::CatalogueDamage how : quindle::test::kCatalogueDamages) {
        SCOPED_TRACE(quindle::test::CatalogueDamageName(how));
        // Memorized again first: a damaged catalogue is replaced as any other.
        const Result add = rig.Cli({"add", "F:", "--title", "F", "--replace"});
        ASSERT_EQ(add.status, 0) << add.err;
        ASSERT_EQ(rig.Cli({"files", "6"}).status, 0);
        quindle::test::DamageCatalogue(rig.package.path() + "/6.cat", how);
        for (const Case& c : cases) {
            const Result r = rig.Cli(c.args);
            // 4 billion entries do not fit in this computer's memory (one with more finds
            // the frame damaged).
            std::string errHas = c.errHas;
            if (how == quindle::test::CatalogueDamage::HugeCount &&
                r.err.find("the catalogue is too large for this computer's memory") != std::string::npos)
                errHas.replace(errHas.find("the catalogue is damaged"), 24,
                               "the catalogue is too large for this computer's memory");
            EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
            for (const std::string& has : c.outHas) EXPECT_NE(r.out.find(has), std::string::npos) << c.args[0] << "\n" << r.out;
            EXPECT_NE(r.err.find(errHas), std::string::npos) << c.args[0] << "\n" << r.err;
        }
    }
}

// Hidden entries are listed by every command that lists entries, with "hidden": true in
// JSON, and --no-hidden leaves them out.
TEST(ChangesCli, HiddenEntriesAreListedAndNoHiddenLeavesThemOut) {
    Rig rig;
    rig.e.MakeFile(".git/HEAD", "ref");
    rig.e.MakeFile(".git/objects/ab/cd", "xyz");
    rig.f.MakeFile(".backup/Docs/setup.exe", "s");
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    rig.e.MakeFile(".git/objects/ef/gh", "new");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"locate", "--json", "HEAD"},
         0,
         "{\"serial\":\"5\",\"title\":\"E\",\"path\":\".git/HEAD\",\"kind\":\"file\",\"size\":3,\"mtime\":*,"
         "\"hidden\":true}\n"},
        {{"locate", "--no-hidden", "HEAD"}, 1, ""},
        {{"locate", "--json", "--no-hidden", "setup"},
         0,
         "{\"serial\":\"5\",\"title\":\"E\",\"path\":\"setup.exe\",\"kind\":\"file\",\"size\":1,\"mtime\":*}\n"},
        {{"files", "5", "--json", "--no-hidden"},
         0,
         "{\"path\":\"\",\"kind\":\"folder\",\"size\":15,\"mtime\":*}\n"
         "{\"path\":\"a.txt\",\"kind\":\"file\",\"size\":3,\"mtime\":*}\n"
         "{\"path\":\"setup.exe\",\"kind\":\"file\",\"size\":1,\"mtime\":*}\n"
         "{\"path\":\"Docs\",\"kind\":\"folder\",\"size\":5,\"mtime\":*}\n"
         "{\"path\":\"Docs/a.txt\",\"kind\":\"file\",\"size\":3,\"mtime\":*}\n"
         "{\"path\":\"Docs/b\\udcff.bin\",\"kind\":\"file\",\"size\":2,\"mtime\":*}\n"},
        {{"diff", "5", "--json"},
         1,
         "{\"change\":\"added\",\"path\":\".git/objects/ef\",\"kind\":\"folder\",\"size\":3,\"mtime\":*,"
         "\"hidden\":true}\n"
         "{\"change\":\"added\",\"path\":\".git/objects/ef/gh\",\"kind\":\"file\",\"size\":3,\"mtime\":*,"
         "\"hidden\":true}\n"},
        {{"diff", "5", "--no-hidden"}, 0, ""},
        {{"dupes", "--min-size", "1"},
         0,
         "3\t3\ta.txt\n\t5\tE:\\a.txt\n\t5\tE:\\Docs\\a.txt\n\t6\tF:\\a.txt\n"
         "2\t1\tsetup.exe\n\t5\tE:\\setup.exe\n\t6\tF:\\.backup\\Docs\\setup.exe\n"},
        {{"dupes", "--no-hidden"}, 0, "3\t3\ta.txt\n\t5\tE:\\a.txt\n\t5\tE:\\Docs\\a.txt\n\t6\tF:\\a.txt\n"},
        {{"dupes", "--json", "--min-size", "1"},
         0,
         "{\"name\":\"a.txt\",\"size\":3,\"copies\":[{\"serial\":\"5\",\"path\":\"a.txt\"},"
         "{\"serial\":\"5\",\"path\":\"Docs/a.txt\"},{\"serial\":\"6\",\"path\":\"a.txt\"}]}\n"
         "{\"name\":\"setup.exe\",\"size\":1,\"copies\":[{\"serial\":\"5\",\"path\":\"setup.exe\"},"
         "{\"serial\":\"6\",\"path\":\".backup/Docs/setup.exe\",\"hidden\":true}]}\n"},
        // setup.exe's only copy is hidden: with hidden files left out, it has none.
        {{"unique", "5", "--no-hidden", "--json"},
         0,
         "{\"path\":\"setup.exe\",\"kind\":\"file\",\"size\":1,\"mtime\":*}\n"
         "{\"path\":\"Docs/b\\udcff.bin\",\"kind\":\"file\",\"size\":2,\"mtime\":*}\n"},
    };
    for (const Case& c : cases) {
        const Result r = rig.Cli(c.args);
        std::string what;
        for (const auto& a : c.args) what += a + " ";
        EXPECT_EQ(r.status, c.status) << what << r.err;
        EXPECT_EQ(MaskTimes(r.out), c.out) << what;
    }
    // Without --no-hidden, files lists the hidden entries too, each marked.
    const Result all = rig.Cli({"files", "5", "--json"});
    EXPECT_NE(all.out.find("{\"path\":\".git/objects/ab/cd\",\"kind\":\"file\",\"size\":3,\"mtime\":"), std::string::npos);
    size_t marked = 0;
    for (size_t at = all.out.find("\"hidden\":true}"); at != std::string::npos; at = all.out.find("\"hidden\":true}", at + 1))
        ++marked;
    EXPECT_EQ(marked, 5u); // .git, HEAD, objects, ab, cd
}
