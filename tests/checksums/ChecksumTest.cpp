// The checksum itself: the same 32 hex digits as `xxhsum -H2` for files of every size
// around the hash's own boundaries (its 64-byte stripes, 1024-byte blocks, 256-byte
// stream buffer, the 16/128/240-byte short-input cases) and the reader's chunks, however
// the file is cut into chunks; its text form and back; the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checksums/Checksum.h"
#include "checksums/ChecksumFiles.h"
#include "checksums/ChecksumReader.h"
#include "checksums/ProgressText.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kChunk = ChecksumReader::kChunkBytes;

const std::vector<size_t> kSizes = {
    0,          1,          3,          4,          8,          9,          16,        17,
    128,        129,        240,        241,        255,        256,        257,       511,
    512,        513,        1023,       1024,       1025,       2047,       2048,      2049,
    4095,       4096,       4097,       65535,      65536,      65537,      kChunk - 1, kChunk,
    kChunk + 1, 2 * kChunk - 1, 2 * kChunk, 2 * kChunk + 1, 5 * kMiB + 7, 9 * kMiB + 4096 + 3,
};

struct Cut {
    const char* what;
    size_t chunk;
    unsigned threads;
};

TEST(Checksum, FilesOfEverySizeGiveWhatXxhsumPrintsHoweverTheyAreReadInChunks) {
    if (!test::HaveXxhsum()) GTEST_SKIP() << "xxhsum (package xxhash) is not installed";
    TempDir dir;
    std::vector<std::string> paths, contents;
    for (size_t i = 0; i < kSizes.size(); ++i) {
        contents.push_back(test::RandomBytes(kSizes[i], static_cast<uint32_t>(i + 1)));
        paths.push_back(dir.MakeFile("f" + std::to_string(i), contents.back()));
    }
    const std::vector<std::string> expected = test::XxhsumOf(paths);
    for (size_t i = 0; i < kSizes.size(); ++i) {
        ASSERT_EQ(expected[i].size(), 32u) << "xxhsum printed nothing for " << kSizes[i] << " bytes";
        EXPECT_EQ(ChecksumOf(contents[i].data(), contents[i].size()).Hex(), expected[i]) << kSizes[i] << " bytes";
    }
    // The reader's chunks fall on none, some or all of the hash's boundaries.
    for (const Cut& cut : {Cut{"default chunks", kChunk, 2}, Cut{"one-page chunks", 4096, 3},
                           Cut{"chunks of an odd number of pages", 3 * 4096, 1}}) {
        ChecksumReader reader({cut.threads, cut.chunk, 4096});
        for (size_t i = 0; i < kSizes.size(); ++i) reader.Submit({i, paths[i], kSizes[i]});
        const auto results = test::ResultsById(reader);
        ASSERT_EQ(results.size(), kSizes.size()) << cut.what;
        for (size_t i = 0; i < kSizes.size(); ++i) {
            const ChecksumResult& r = results.at(i);
            ASSERT_EQ(r.status, ChecksumStatus::Done) << cut.what << ", " << kSizes[i] << " bytes: " << ChecksumProblemText(r);
            EXPECT_EQ(r.size, kSizes[i]);
            EXPECT_EQ(r.sum.Hex(), expected[i]) << cut.what << ", " << kSizes[i] << " bytes";
        }
    }
}

TEST(Checksum, StreamGivesTheSameChecksumHoweverTheBytesAreCut) {
    const std::string bytes = test::RandomBytes(10'000, 7);
    const Checksum whole = ChecksumOf(bytes.data(), bytes.size());
    for (const size_t piece : {1, 63, 64, 65, 256, 1024, 3000}) {
        ChecksumStream s;
        s.Update("garbage", 7);
        s.Reset();
        for (size_t at = 0; at < bytes.size(); at += piece)
            s.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(s.Digest(), whole) << "pieces of " << piece;
    }
    // The checksum of nothing is xxhsum's of an empty file.
    EXPECT_EQ(ChecksumOf("", 0).Hex(), "99aa06d3014798d86001c324468d497f");
    EXPECT_EQ(ChecksumStream().Digest().Hex(), "99aa06d3014798d86001c324468d497f");
}

TEST(Checksum, HexFormGoesBothWaysAndRefusesAnythingElse) {
    const Checksum c = ChecksumOf("hello\n", 6);
    EXPECT_EQ(c.Hex(), "6bba86c7e069f56d5a10b435f1c8e49c"); // xxhsum -H2 of a file holding "hello\n"
    ASSERT_TRUE(Checksum::FromHex(c.Hex()));
    EXPECT_EQ(*Checksum::FromHex(c.Hex()), c);
    EXPECT_EQ(*Checksum::FromHex("6BBA86C7E069F56D5A10B435F1C8E49C"), c);
    struct Bad {
        const char* text;
        const char* why;
    };
    for (const Bad& b : {Bad{"", "empty"}, Bad{"6bba86c7e069f56d5a10b435f1c8e49", "31 digits"},
                         Bad{"6bba86c7e069f56d5a10b435f1c8e49c0", "33 digits"},
                         Bad{"6bba86c7e069f56d5a10b435f1c8e49g", "not a hex digit"},
                         Bad{" bba86c7e069f56d5a10b435f1c8e49c", "a blank"},
                         Bad{"0x6bba86c7e069f56d5a10b435f1c8e4", "a prefix"}})
        EXPECT_FALSE(Checksum::FromHex(b.text)) << b.why;
    EXPECT_NE(Checksum{}, c);
}

TEST(ProgressText, SizesSpeedAndTimeLeft) {
    struct Case {
        uint64_t done, total;
        double seconds;
        const char* text;
    };
    const uint64_t GiB = uint64_t{1} << 30;
    for (const Case& c : {
             Case{0, 0, 0, "0 B of 0 B"},
             Case{0, 2 * GiB, 5, "0 B of 2.00 GB"},                       // nothing read: no pace yet
             Case{GiB, 2 * GiB, 0.1, "1.00 GB of 2.00 GB"},               // too soon for a pace
             Case{GiB, 2 * GiB, 1, "1.00 GB of 2.00 GB, 1.00 GB/s, 1 s left"},
             Case{850 * kMiB, 2 * GiB, 1, "850 MB of 2.00 GB, 850 MB/s, 2 s left"},
             Case{100 * kMiB, 100 * kMiB + 1, 1, "100 MB of 100 MB, 100 MB/s, 1 s left"}, // rounded up
             Case{kMiB, 126 * kMiB, 1, "1.00 MB of 126 MB, 1.00 MB/s, 2 min 5 s left"},
             Case{kMiB, 3726 * kMiB, 1, "1.00 MB of 3.64 GB, 1.00 MB/s, 1 h 2 min left"},
             Case{2 * GiB, 2 * GiB, 2, "2.00 GB of 2.00 GB, 1.00 GB/s, 0 s left"},
             Case{1536, 10240, 0.5, "1.50 KB of 10.0 KB, 3.00 KB/s, 3 s left"},
         })
        EXPECT_EQ(ReadProgressText(c.done, c.total, c.seconds), c.text);
    struct Size {
        uint64_t bytes;
        const char* text;
    };
    for (const Size& s : {Size{0, "0 B"}, Size{1023, "1023 B"}, Size{1024, "1.00 KB"}, Size{10239, "10.00 KB"},
                          Size{10240, "10.0 KB"}, Size{1048575, "1024 KB"}, Size{uint64_t(1) << 60, "1.00 EB"},
                          Size{UINT64_MAX, "16.0 EB"}})
        EXPECT_EQ(ByteSizeText(s.bytes), s.text) << s.bytes;
}

} // namespace
