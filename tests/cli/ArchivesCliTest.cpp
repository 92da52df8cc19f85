// Archives on a disk, memorized by the real quindle-cli: members become entries below their
// archive, and files, locate, dupes, unique and diff take them like any other file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/TempDrive.h"

using quindle::test::CliResult;
using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Makes archives with python3's zipfile and tarfile (in the tools' own formats), in `dir`.
void Python(const std::string& script) {
    const CliResult r = quindle::test::RunProgram("/usr/bin/python3", {"-c", script});
    ASSERT_EQ(r.status, 0) << r.err;
}

struct Rig {
    TempDrive e{'E', 21u}, f{'F', 22u};
    TempDir package, work;
    Rig() {
        quindle::test::MapDrives({&e, &f});
        e.MakeFile("notes.txt", "plain");
        // photos.zip: 2019/beach.jpg; outer.zip holds inner.tar.gz holding 2019/sun.jpg;
        // broken.zip is a zip's first bytes and garbage; fake.zip is text.
        Python("import zipfile,tarfile,io,os\n"
               "d='" + e.path() + "/backup'\n"
               "os.makedirs(d)\n"
               "with zipfile.ZipFile(d+'/photos.zip','w') as z: z.writestr('2019/beach.jpg','sand and sea')\n"
               "b=io.BytesIO()\n"
               "with tarfile.open(fileobj=b,mode='w:gz') as t:\n"
               "  data=b'sunny'; i=tarfile.TarInfo('2019/sun.jpg'); i.size=len(data); t.addfile(i,io.BytesIO(data))\n"
               "with zipfile.ZipFile(d+'/outer.zip','w') as z: z.writestr('inner.tar.gz',b.getvalue())\n"
               "open(d+'/broken.zip','wb').write(b'PK\\x03\\x04'+os.urandom(200))\n"
               "open(d+'/fake.zip','w').write('not an archive at all, just text'*20)\n");
        // F keeps the beach picture as a plain file: a copy of a member.
        f.MakeFile("beach.jpg", "sand and sea");
    }
    ~Rig() { quindle::test::MapDrives({}); }
    CliResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--package", package.path()});
        return quindle::test::RunCli(args);
    }
};

TEST(ArchivesCli, MembersAreEntriesBelowTheirArchiveAndEveryCommandTakesThem) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backups"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "Pictures"}).status, 0);
    const CliResult files = rig.Cli({"files", "21", "--json"});
    ASSERT_EQ(files.status, 0) << files.err;
    for (const char* part : {
             R"({"path":"backup/photos.zip/2019","kind":"folder")",
             R"("path":"backup/photos.zip/2019/beach.jpg","kind":"file","size":12,)",
             R"("archive":"backup/photos.zip"})",
             R"("path":"backup/outer.zip/inner.tar.gz/2019/sun.jpg","kind":"file","size":5,)",
             R"("archive":"backup/outer.zip/inner.tar.gz"})",
             R"("archive_error":"damaged archive")",
         })
        EXPECT_TRUE(Has(files.out, part)) << part << "\n" << files.out;
    // A file named like an archive is a file; members of nothing else.
    EXPECT_FALSE(Has(files.out, "backup/fake.zip/")) << files.out;
    EXPECT_FALSE(Has(files.out, "backup/broken.zip/")) << files.out;

    // The disk's figures count what is on the disk: five files, members apart.
    const CliResult show = rig.Cli({"show", "21"});
    EXPECT_TRUE(Has(show.out, "files\t5\n")) << show.out;

    const CliResult locate = rig.Cli({"locate", "sun.jpg"});
    EXPECT_EQ(locate.status, 0);
    EXPECT_TRUE(Has(locate.out, "E:\\backup\\outer.zip\\inner.tar.gz\\2019\\sun.jpg")) << locate.out;

    // The picture kept only inside a zip on E has a copy on F, and so is no unique file of F.
    const CliResult dupes = rig.Cli({"dupes"});
    EXPECT_TRUE(Has(dupes.out, "E:\\backup\\photos.zip\\2019\\beach.jpg")) << dupes.out;
    EXPECT_TRUE(Has(dupes.out, "F:\\beach.jpg")) << dupes.out;
    EXPECT_EQ(rig.Cli({"unique", "22"}).status, 1);

    // A member changed inside its archive is told as such, with the archive itself.
    Python("import zipfile\n"
           "with zipfile.ZipFile('" + rig.e.path() + "/backup/photos.zip','w') as z: "
           "z.writestr('2019/beach.jpg','sand and sea and sky')\n");
    const CliResult diff = rig.Cli({"diff", "21"});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_TRUE(Has(diff.out, "E:\\backup\\photos.zip\t")) << diff.out;
    EXPECT_TRUE(Has(diff.out, "E:\\backup\\photos.zip\\2019\\beach.jpg\t")) << diff.out;
}

TEST(ArchivesCli, TheChoiceIsKeptByTheDiskAndNoneListsNothing) {
    Rig rig;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backups", "--archives", "none"}).status, 0);
    CliResult files = rig.Cli({"files", "21", "--json"});
    EXPECT_FALSE(Has(files.out, "\"archive")) << files.out;
    // Memorized again without a choice: the disk's own (none) holds.
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backups", "--replace"}).status, 0);
    files = rig.Cli({"files", "21", "--json"});
    EXPECT_FALSE(Has(files.out, "\"archive")) << files.out;
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "Backups", "--replace", "--archives", "all"}).status, 0);
    files = rig.Cli({"files", "21", "--json"});
    EXPECT_TRUE(Has(files.out, R"("archive":"backup/photos.zip")")) << files.out;
    // A choice that is none of the three is a usage error.
    const CliResult bad = rig.Cli({"add", "E:", "--title", "Backups", "--replace", "--archives", "some"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(Has(bad.err, "--archives")) << bad.err;
}

} // namespace
