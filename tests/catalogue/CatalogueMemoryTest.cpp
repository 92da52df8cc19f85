// A catalogue being built and written is held in memory once: the columns grow without a
// second copy, are handed over a chunk at a time, and the file is compressed as it is
// written, never built whole beside the catalogue. Peaks are read from the kernel (VmHWM,
// reset through clear_refs before each step).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueFile.h"
#include "catalogue/GrowingColumn.h"

using namespace quindle;

namespace {

// VmRSS or VmHWM of this process, in bytes.
int64_t StatusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(line.find(':') + 1)) * 1024;
    return -1;
}

// Makes VmHWM start again from the present resident size; false where the kernel cannot.
bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

// What a step adds to the resident peak beyond what was resident before it; -1 where that
// cannot be told (AddressSanitizer's shadow grows with every block allocated).
template <class Step> int64_t PeakGrowth(Step step) {
#if defined(__SANITIZE_ADDRESS__)
    step();
    return -1;
#endif
    const int64_t before = StatusBytes("VmRSS");
    if (!ResetPeak()) return -1;
    step();
    return StatusBytes("VmHWM") - before;
}

// A walk's worth of entries: folders of 100 files, names as long as a real disk's.
void AddEntries(CatalogueBuilder& b, uint32_t count) {
    uint32_t folder = 0;
    for (uint32_t i = 1; i < count; ++i) {
        if (i % 101 == 1) folder = b.Add(0, "folder " + std::to_string(i), EntryKind::Folder, 0, 1600000000 + i);
        else b.Add(folder, "IMG_" + std::to_string(i) + ".jpg", EntryKind::File, 1000 + i % 977, 1600000000 + i);
    }
}

} // namespace

TEST(GrowingColumn, KeepsWhatWasPutThroughEveryGrowthAndHandsItOverWhole) {
    struct Case {
        size_t pushes, appendEvery, resizeTo;
    } const cases[] = {{0, 0, 0}, {1, 0, 0}, {16383, 0, 0}, {16384, 0, 0}, {16385, 7, 0}, {1000000, 1000, 0},
                       {5, 0, 100000}, {300000, 0, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pushes) + " pushes");
        GrowingColumn<uint32_t> column;
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < c.pushes; ++i) {
            const auto v = static_cast<uint32_t>(i * 2654435761u);
            if (c.appendEvery && i % c.appendEvery == 0) {
                const uint32_t run[3] = {v, v + 1, v + 2};
                column.append(run, 3);
                expected.insert(expected.end(), run, run + 3);
            } else {
                column.push_back(v);
                expected.push_back(v);
            }
        }
        if (c.resizeTo) {
            column.resize(c.resizeTo);
            expected.resize(c.resizeTo); // grown with zeros, or cut
        }
        ASSERT_EQ(column.size(), expected.size());
        for (size_t i = 0; i < expected.size(); i += 997) ASSERT_EQ(column[i], expected[i]) << i;
        const std::vector<uint32_t> out = column.TakeVector();
        EXPECT_EQ(out, expected);
        EXPECT_EQ(out.capacity(), out.size());
        EXPECT_TRUE(column.empty());
        column.push_back(7); // usable again
        EXPECT_EQ(column.TakeVector(), std::vector<uint32_t>{7});
    }
}

TEST(GrowingColumn, IsNeverResidentTwice) {
    constexpr size_t kCount = size_t(16) << 20; // 64 MB of uint32_t
    GrowingColumn<uint32_t> column;
    const int64_t growing = PeakGrowth([&] {
        for (size_t i = 0; i < kCount; ++i) column.push_back(static_cast<uint32_t>(i));
    });
    if (growing < 0) GTEST_SKIP() << "resident peaks cannot be told here";
    const int64_t bytes = static_cast<int64_t>(kCount * sizeof(uint32_t));
    // Growing by doubling keeps no old copy: a std::vector's peak here is 1.5 times its size.
    EXPECT_LT(growing, bytes + bytes / 8);
    std::vector<uint32_t> out;
    const int64_t handing = PeakGrowth([&] { out = column.TakeVector(); });
    EXPECT_LT(handing, bytes / 16) << "the column and its vector were resident together";
    EXPECT_EQ(out.size(), kCount);
    EXPECT_EQ(out[kCount - 1], kCount - 1);
}

TEST(CatalogueMemory, BuildingAndEncodingHoldTheCatalogueOnce) {
    constexpr uint32_t kEntries = 1'000'000;
    CatalogueBuilder b;
    Catalogue c;
    const int64_t built = PeakGrowth([&] {
        AddEntries(b, kEntries);
        c = b.Finish(DiskFigures{});
    });
    if (built < 0) GTEST_SKIP() << "resident peaks cannot be told here";
    ASSERT_EQ(c.Count(), kEntries);
    const auto size = static_cast<int64_t>(c.MemoryBytes());
    EXPECT_LT(built, size + size / 4) << "catalogue of " << size << " bytes";
    // The file's bytes stream out of the compressor: what encoding adds is its window and
    // tables and the compressed file, not the entries' bytes uncompressed.
    EncodedEntries entries;
    const int64_t encoding = PeakGrowth([&] { entries = EncodeCatalogueEntries(c); });
    EXPECT_LT(encoding, static_cast<int64_t>(entries.frame.size()) + (int64_t(3) << 20))
        << "entries of " << entries.rawBytes << " bytes uncompressed";
    EXPECT_GT(entries.rawBytes, uint64_t(8) << 20); // many blocks of the compressor went through
    // And the file reads back entry for entry.
    CatalogueProblem problem = CatalogueProblem::None;
    const auto back = DecodeCatalogue(EncodeCatalogue(c, entries), problem);
    ASSERT_TRUE(back) << CatalogueProblemText(problem);
    ASSERT_EQ(back->Count(), c.Count());
    EXPECT_EQ(back->names, c.names);
    EXPECT_EQ(back->parent, c.parent);
    EXPECT_EQ(back->size, c.size);
    EXPECT_EQ(back->mtime, c.mtime);
    EXPECT_EQ(back->kind, c.kind);
    EXPECT_EQ(back->header.figures.files, c.header.figures.files);
}

TEST(CatalogueMemory, WritingTheFileNeverCopiesItsEntries) {
    // Names that hardly compress, so that the entries' frame is megabytes: a copy of it
    // stands out from what the kernel's figures wander by.
    CatalogueBuilder b;
    uint64_t x = 88172645463325252ull;
    std::string name(16, ' ');
    for (uint32_t i = 1; i < 400000; ++i) {
        for (char& ch : name) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            ch = static_cast<char>('a' + x % 26);
        }
        b.Add(0, name, EntryKind::File, x % 100000, static_cast<int64_t>(1600000000 + x % 100000000));
    }
    const Catalogue c = b.Finish({});
    const EncodedEntries entries = EncodeCatalogueEntries(c);
    ASSERT_GT(entries.frame.size(), size_t(4) << 20);
    const std::string path = ::testing::TempDir() + "quindle-memory-" + std::to_string(getpid()) + ".cat";
    std::remove(path.c_str());
    const int64_t writing = PeakGrowth([&] { WriteCatalogueFile(path, c, 0644, &entries); });
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    EXPECT_TRUE(written == EncodeCatalogue(c, entries)) << written.size() << " bytes written";
    if (writing < 0) GTEST_SKIP() << "resident peaks cannot be told here";
    EXPECT_LT(writing, static_cast<int64_t>(entries.frame.size() / 4)) << "frame of " << entries.frame.size() << " bytes";
}
