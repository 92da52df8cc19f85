// Copies across a small real package: files of the same name and size, and files with none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/DiskCatalogue.h"
#include "copies/Copies.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::TempDrive;
using quindle::test::WalkRig;

namespace {

// Three disks memorized into one package, and a record without a catalogue.
struct Package {
    WalkRig rig;
    TempDrive e{'E', 5u}, f{'F', 6u}, g{'G', 7u};
    PackageCatalogues loaded;

    Package() {
        e.MakeFile("a.txt", "aaa");
        e.MakeFile("Docs/a.txt", "aaa");
        e.MakeFile("b.bin", "bb");
        e.MakeFile("zero", "");
        std::filesystem::create_symlink("a.txt", e.path() + "/link.txt");
        f.MakeFile("a.txt", "aaa");
        f.MakeFile("B.bin", "bb"); // another name: case counts
        f.MakeFile("c.dat", "cccc");
        f.MakeFile("zero", "");
        f.MakeFile("link.txt", "a.txt"); // a file, where E has a link of the same size
        g.MakeFile("c.dat", "ccc"); // another size
        g.MakeFile("Sub/c.dat", "cccc");
        g.MakeFile("Sub/b.bin\xff", "bb");
        rig.Memorize(e, "5");
        rig.Memorize(f, "6");
        rig.Memorize(g, "7");
        rig.package.MakeFile("9.dat", "\r\n[x]\r\ny=1\r\n");
        loaded = LoadPackageCatalogues(rig.ctx.PackageFolder, {"5.dat", "6.dat", "7.dat", "9.dat"}, rig.ctx.InfoSection);
    }
};

// "a.txt 3: 5:a.txt 5:Docs/a.txt 6:a.txt" per group, in order.
std::vector<std::string> Groups(const PackageCatalogues& p, const Copies& c) {
    std::vector<std::string> out;
    for (const CopyGroup& g : c.groups) {
        const FileRef& first = c.refs[g.first];
        std::string s = std::string(p.disks[first.disk].catalogue.Name(first.entry)) + " " + std::to_string(g.size) + ":";
        for (uint32_t k = 0; k < g.count; ++k) {
            const FileRef& r = c.refs[g.first + k];
            s += " " + p.disks[r.disk].Serial() + ":" + p.disks[r.disk].catalogue.Path(r.entry);
        }
        out.push_back(s);
    }
    return out;
}

} // namespace

TEST(Copies, GroupsOfSameNameAndSizeLargestTotalFirst) {
    Package p;
    ASSERT_EQ(p.loaded.disks.size(), 3u);
    ASSERT_EQ(p.loaded.skipped.size(), 1u);
    EXPECT_EQ(p.loaded.skipped[0].info.serial, "9");
    EXPECT_EQ(p.loaded.skipped[0].reason, CatalogueProblemText(CatalogueProblem::Missing));

    struct Case {
        uint64_t minSize;
        std::vector<std::string> groups;
        uint64_t files, spare;
    };
    const std::vector<Case> cases = {
        {1, {"a.txt 3: 5:a.txt 5:Docs/a.txt 6:a.txt", "c.dat 4: 6:c.dat 7:Sub/c.dat"}, 5, 10},
        {0, {"a.txt 3: 5:a.txt 5:Docs/a.txt 6:a.txt", "c.dat 4: 6:c.dat 7:Sub/c.dat", "zero 0: 5:zero 6:zero"}, 7, 10},
        {4, {"c.dat 4: 6:c.dat 7:Sub/c.dat"}, 2, 4},
        {5, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minSize);
        const Copies copies = FindCopies(p.loaded.disks, c.minSize);
        EXPECT_EQ(Groups(p.loaded, copies), c.groups);
        EXPECT_EQ(copies.copyFiles, c.files);
        EXPECT_EQ(copies.spareBytes, c.spare);
    }
}

TEST(Copies, UniqueFilesHaveNoSameNameAndSizeOnAnotherDisk) {
    Package p;
    struct Case {
        size_t disk;
        std::vector<std::string> unique;
    };
    // E's a.txt has a copy on E itself and on F; a copy on the same disk alone would not count.
    const std::vector<Case> cases = {
        {0, {"b.bin"}},
        {1, {"B.bin", "link.txt"}},
        {2, {"c.dat", "Sub/b.bin\xff"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disk);
        const Catalogue& disk = p.loaded.disks[c.disk].catalogue;
        UniqueFiles u(disk);
        for (size_t o = 0; o < p.loaded.disks.size(); ++o)
            if (o != c.disk) u.Compare(p.loaded.disks[o].catalogue);
        std::vector<std::string> paths;
        for (const uint32_t i : u.Entries()) paths.push_back(disk.Path(i));
        EXPECT_EQ(paths, c.unique);
    }
    // Against no other disk, every regular file is unique; a copy on the disk itself is no copy.
    const Catalogue& e = p.loaded.disks[0].catalogue;
    UniqueFiles alone(e);
    alone.Compare(e);
    EXPECT_TRUE(alone.Entries().empty());
    EXPECT_EQ(UniqueFiles(e).Entries().size(), 4u); // a.txt, Docs/a.txt, b.bin, zero
}
