// Checksums through quindle-cli (add --checksums, files --json, show, dupes and unique
// --content) and verify, on folders mapped as drives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "catalogue/DiskCatalogue.h"
#include "changes/DiskChanges.h"
#include "checksums/ChecksumFiles.h"
#include "cli/CliRun.h"
#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"
#include "verify/Verify.h"

using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

using Result = quindle::test::CliResult;

struct Rig {
    TempDrive e{'E', 51u}, f{'F', 52u};
    TempDir package;
    Rig() { quindle::test::MapDrives({&e, &f}); }
    ~Rig() { quindle::test::MapDrives({}); }
    Result Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--package", package.path()});
        return quindle::test::RunCli(args);
    }
    std::string Record(const TempDrive& d) const { return package.path() + "/" + std::to_string(*d.Info().serial) + ".dat"; }
    quindle::Catalogue Catalogue(const TempDrive& d) const {
        auto c = quindle::OpenDiskCatalogue(Record(d), "Special Information about this disk by Quindle");
        EXPECT_TRUE(c.catalogue.has_value());
        return c.catalogue ? std::move(*c.catalogue) : quindle::Catalogue{};
    }
};

// The value of `"key":"` in a JSON line, "" when absent.
std::string JsonText(const std::string& line, const std::string& key) {
    const std::string k = "\"" + key + "\":\"";
    const size_t at = line.find(k);
    if (at == std::string::npos) return {};
    return line.substr(at + k.size(), line.find('"', at + k.size()) - at - k.size());
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    for (size_t at = 0; at < s.size();) {
        const size_t end = s.find('\n', at);
        out.push_back(s.substr(at, end - at));
        at = end == std::string::npos ? s.size() : end + 1;
    }
    return out;
}

TEST(ChecksumsCli, AddStoresWhatXxhsumPrintsForFilesAroundTheBlockBoundaries) {
    if (!quindle::test::HaveXxhsum()) GTEST_SKIP() << "no xxhsum";
    Rig rig;
    const size_t sizes[] = {0, 1, 16, 17, 128, 129, 240, 241, 1023, 1024, 1025, 65536, 65537, (2u << 20) + 1};
    std::vector<std::string> names, paths;
    for (size_t k = 0; k < std::size(sizes); ++k) {
        names.push_back("d/f" + std::to_string(sizes[k]));
        paths.push_back(rig.e.MakeFile(names.back(), quindle::test::RandomBytes(sizes[k], 7 + k)));
    }
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--checksums"}).status, 0);
    const std::vector<std::string> expected = quindle::test::XxhsumOf(paths);
    const Result files = rig.Cli({"files", "51", "--json"});
    ASSERT_EQ(files.status, 0);
    size_t found = 0;
    for (const std::string& line : Lines(files.out))
        for (size_t k = 0; k < names.size(); ++k)
            if (line.find("\"path\":\"" + names[k] + "\"") != std::string::npos) {
                EXPECT_EQ(JsonText(line, "xxh128"), expected[k]) << names[k];
                ++found;
            }
    EXPECT_EQ(found, names.size());
    const Result show = rig.Cli({"show", "51"});
    EXPECT_NE(show.out.find("checksummed\t" + std::to_string(names.size()) + "\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("unreadable\t0\n"), std::string::npos);
    // Memorize again keeps the disk's choice unless another is given.
    const auto kept = [&] {
        return quindle::KeptWalkOptions(rig.Record(rig.e), "Special Information about this disk by Quindle").checksums;
    };
    EXPECT_TRUE(kept());
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--replace"}).status, 0);
    EXPECT_TRUE(kept());
    EXPECT_NE(rig.Cli({"show", "51"}).out.find("checksummed\t" + std::to_string(names.size()) + "\n"),
              std::string::npos);
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--replace", "--no-checksums"}).status, 0);
    EXPECT_FALSE(kept());
    EXPECT_NE(rig.Cli({"show", "51"}).out.find("checksummed\t0\n"), std::string::npos);
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--replace"}).status, 0);
    EXPECT_FALSE(kept());
}

TEST(ChecksumsCli, VerifyTellsEachKindOfDifference) {
    struct Case {
        const char* name;
        void (*change)(const TempDrive&);
        const char* status; // "" when all is the same
        const char* path;
        bool silent;
    };
    const Case cases[] = {
        {"nothing", [](const TempDrive&) {}, "", "", false},
        {"flipped byte, date put back",
         [](const TempDrive& d) {
             const std::string p = d.path() + "/Docs/b.bin";
             struct stat st;
             stat(p.c_str(), &st);
             const int fd = open(p.c_str(), O_WRONLY);
             pwrite(fd, "Z", 1, 3);
             close(fd);
             const struct timespec times[2] = {st.st_atim, st.st_mtim};
             utimensat(AT_FDCWD, p.c_str(), times, 0);
         },
         "changed", "Docs/b.bin", true},
        {"grown", [](const TempDrive& d) { d.MakeFile("a.txt", "aaaa"); }, "changed", "a.txt", false},
        {"removed", [](const TempDrive& d) { unlink((d.path() + "/a.txt").c_str()); }, "missing", "a.txt", false},
        {"created", [](const TempDrive& d) { d.MakeFile("Docs/new.txt", "n"); }, "added", "Docs/new.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.e.MakeFile("a.txt", "aaa");
        rig.e.MakeFile("Docs/b.bin", quindle::test::RandomBytes(5000, 3));
        // Another name: a copy by content only.
        rig.e.MakeFile(".hidden/c.bin", quindle::test::RandomBytes(5000, 3));
        ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--checksums"}).status, 0);
        c.change(rig.e);
        const Result r = rig.Cli({"verify", "51", "--json"});
        if (!*c.status) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "");
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.err;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        EXPECT_EQ(JsonText(lines[0], "status"), c.status);
        EXPECT_EQ(JsonText(lines[0], "path"), c.path);
        EXPECT_EQ(lines[0].find("\"silent\":true") != std::string::npos, c.silent) << lines[0];
        EXPECT_NE(r.err.find("1 " + std::string(c.status)), std::string::npos) << r.err;
    }
}

TEST(ChecksumsCli, AFileThatCannotBeReadIsUnreadable) {
    Rig rig;
    rig.e.MakeFile("ok.txt", "ok");
    const std::string secret = rig.e.MakeFile("secret.txt", "s");
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--checksums"}).status, 0);
    const quindle::Catalogue c = rig.Catalogue(rig.e);
    chmod(secret.c_str(), 0);
    quindle::VerifyResult r;
    {
        quindle::test::WithoutPermissionOverride noOverride;
        r = quindle::VerifyDisk(c, rig.e.path(), {});
    }
    chmod(secret.c_str(), 0644);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].status, quindle::VerifyStatus::Unreadable);
    EXPECT_EQ(r.items[0].path, "secret.txt");
    EXPECT_EQ(r.items[0].error, "Permission denied");
    EXPECT_EQ(r.counts.unreadable, 1u);
    EXPECT_EQ(r.counts.checksummed, 1u);
}

TEST(ChecksumsCli, VerifyCancelledMidwayStopsEarly) {
    Rig rig;
    for (int k = 0; k < 40; ++k) rig.e.MakeFile("d" + std::to_string(k % 4) + "/f" + std::to_string(k), quindle::test::RandomBytes(1 << 20, k));
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "T", "--checksums"}).status, 0);
    const quindle::Catalogue c = rig.Catalogue(rig.e);
    int calls = 0;
    quindle::VerifyControl control;
    control.reader.threads = 1;
    control.reader.chunkBytes = 4096;
    // Once when it starts, then when every file is handed over and being read.
    control.idle = [&](const quindle::VerifyProgress&) { return ++calls >= 2; };
    const quindle::VerifyResult r = quindle::VerifyDisk(c, rig.e.path(), control);
    EXPECT_TRUE(r.cancelled);
    EXPECT_LT(r.counts.checksummed, 40u);
    EXPECT_TRUE(r.items.empty()); // a cancelled read is no difference
    const quindle::VerifyResult whole = quindle::VerifyDisk(c, rig.e.path(), {});
    EXPECT_FALSE(whole.cancelled);
    EXPECT_EQ(whole.counts.checksummed, 40u);
}

TEST(ChecksumsCli, CopiesByContentWhateverTheirNames) {
    Rig rig;
    const std::string same = quindle::test::RandomBytes(777, 9);
    rig.e.MakeFile("one.bin", same);
    rig.e.MakeFile("Docs/other name.bin", same);
    rig.e.MakeFile("lonely.bin", "x");
    rig.f.MakeFile("renamed.bin", same); // no checksums on F yet: left out
    ASSERT_EQ(rig.Cli({"add", "E:", "--title", "E", "--checksums"}).status, 0);
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F"}).status, 0);
    const Result dupes = rig.Cli({"dupes", "--content", "--json"});
    EXPECT_EQ(dupes.status, 0);
    const std::vector<std::string> lines = Lines(dupes.out);
    ASSERT_EQ(lines.size(), 1u) << dupes.out;
    EXPECT_EQ(lines[0].find("\"name\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"size\":777,\"xxh128\":\"" + quindle::Checksum{quindle::ChecksumOf(same.data(), same.size())}.Hex()),
              std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"path\":\"Docs/other name.bin\""), std::string::npos);
    EXPECT_EQ(lines[0].find("\"serial\":\"52\""), std::string::npos);
    EXPECT_NE(dupes.err.find("disk 52 left out: it has no checksums"), std::string::npos) << dupes.err;
    EXPECT_EQ(rig.Cli({"unique", "52", "--content"}).status, 2);
    const Result verify = rig.Cli({"verify", "52"});
    EXPECT_EQ(verify.status, 0);
    EXPECT_NE(verify.err.find("has no checksums"), std::string::npos);
    // F's copy under another name: by content, only E's lonely file has no copy elsewhere.
    ASSERT_EQ(rig.Cli({"add", "F:", "--title", "F", "--checksums", "--replace"}).status, 0);
    const Result unique = rig.Cli({"unique", "51", "--content"});
    EXPECT_EQ(unique.status, 0);
    EXPECT_EQ(Lines(unique.out).size(), 1u) << unique.out;
    EXPECT_NE(unique.out.find("lonely.bin"), std::string::npos);
    EXPECT_EQ(rig.Cli({"unique", "51"}).out.find("renamed"), std::string::npos);
}

} // namespace
