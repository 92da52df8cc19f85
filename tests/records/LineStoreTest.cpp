#include "records/LineStore.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quindle;

namespace {

bool Bracket(const std::string& l) { return l.find('[') != std::string::npos; }

// Every query of the store against the plain list of lines.
void ExpectSame(const TLineStore& store, const std::vector<std::string>& ref, const std::string& where) {
    ASSERT_EQ(store.size(), ref.size()) << where;
    uint64_t bytes = 0;
    std::vector<size_t> brackets;
    for (size_t i = 0; i < ref.size(); ++i) {
        ASSERT_EQ(store[i], ref[i]) << where << " line " << i;
        ASSERT_EQ(store.HasBracket(i), Bracket(ref[i])) << where << " line " << i;
        ASSERT_EQ(store.BytesBefore(i), bytes) << where << " line " << i;
        bytes += ref[i].size() + 2;
        if (Bracket(ref[i])) brackets.push_back(i);
    }
    ASSERT_EQ(store.Bytes(), bytes) << where;
    // Next and previous "[" line from every position, including before the first line.
    size_t next = 0;
    ASSERT_EQ(store.NextBracket(TLineStore::npos), brackets.empty() ? ref.size() : brackets[0]) << where;
    for (size_t i = 0; i < ref.size(); ++i) {
        while (next < brackets.size() && brackets[next] <= i) ++next;
        ASSERT_EQ(store.NextBracket(i), next < brackets.size() ? brackets[next] : ref.size()) << where << " after " << i;
        const size_t prev = next > 0 && brackets[next - 1] == i ? (next > 1 ? brackets[next - 2] : TLineStore::npos)
                                                              : (next > 0 ? brackets[next - 1] : TLineStore::npos);
        ASSERT_EQ(store.PrevBracket(i), prev) << where << " before " << i;
    }
    size_t seen = 0;
    store.ForEach(ref.size() / 2, [&](size_t i, std::string_view l) {
        EXPECT_EQ(i, ref.size() / 2 + seen);
        EXPECT_EQ(l, ref[i]);
        ++seen;
        return true;
    });
    ASSERT_EQ(seen, ref.size() - ref.size() / 2) << where;
}

} // namespace

// Appends, inserts and replacements at chunk edges: runs of empty lines longer than a
// chunk, lines that push a chunk past its byte limit, lines longer than any chunk (taken
// over as buffers or copied), and "[" lines appearing and disappearing.
TEST(LineStore, EditsAgreeWithAPlainList) {
    std::mt19937 rng(7);
    auto text = [&](size_t n) {
        std::string s(n, 'x');
        for (auto& c : s) c = "ab=[] \0\xE9"[rng() % 8];
        return s;
    };
    auto length = [&] {
        const unsigned r = rng() % 100;
        if (r < 40) return size_t(0);
        if (r < 85) return size_t(rng() % 40);
        if (r < 97) return size_t(2000 + rng() % 9000);
        return size_t(TLineStore::kChunkBytes - 50 + rng() % 200);
    };

    TLineStore store;
    std::vector<std::string> ref;
    ExpectSame(store, ref, "empty");
    for (int i = 0; i < 3000; ++i) {
        std::string l = i % 700 < 300 ? std::string() : text(length());
        ref.push_back(l);
        if (i % 5 == 0)
            store.Append(std::move(l));
        else
            store.Append(std::string_view(l));
    }
    ExpectSame(store, ref, "after appends");

    for (int step = 0; step < 3000; ++step) {
        const unsigned what = rng() % 3;
        const size_t at = rng() % (ref.size() + 1);
        const std::string l = text(length());
        if (what == 0 || at == ref.size()) {
            store.Insert(at, l);
            ref.insert(ref.begin() + static_cast<long>(at), l);
        } else {
            store.Replace(at, l);
            ref[at] = l;
        }
        if (step % 500 == 0) ExpectSame(store, ref, "step " + std::to_string(step));
    }
    ExpectSame(store, ref, "after edits");

    // The last "[" line losing its bracket hands the part to the one before.
    std::vector<size_t> brackets;
    for (size_t i = 0; i < ref.size(); ++i)
        if (Bracket(ref[i])) brackets.push_back(i);
    ASSERT_GE(brackets.size(), 2u);
    store.Replace(brackets.back(), "plain");
    ref[brackets.back()] = "plain";
    EXPECT_EQ(store.PrevBracket(ref.size()), brackets[brackets.size() - 2]);
    EXPECT_EQ(store.NextBracket(brackets[brackets.size() - 2]), ref.size());
    ExpectSame(store, ref, "bracket removed");
}
