// The package index: query parsing and globs, case folding, names given back as written,
// random queries against a plain filter over the catalogues, reloading only what changed,
// and packages with catalogues that cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "catalogue/RecordBinding.h"
#include "index/CaseFold.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"
#include "support/DamagedCatalogue.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A disk as a walk leaves it: entries in walk order, the record with one section per
// top-level folder, the catalogue bound to it.
struct DiskSpec {
    std::string serial, title;
    char letter = 'E';
    struct Entry {
        uint32_t parent;
        std::string name;
        EntryKind kind;
        uint64_t size;
        int64_t mtime;
    };
    std::vector<Entry> entries; // without the root; parents index this list + 1 (0 is the root)
};

std::string RecordText(const DiskSpec& d) {
    std::map<std::string, std::string> sections; // section -> lines
    std::vector<std::string> order;
    std::vector<std::string> top(d.entries.size() + 1);
    const std::string root = std::string(1, d.letter) + ":\\";
    for (size_t i = 0; i < d.entries.size(); ++i) {
        const auto& e = d.entries[i];
        top[i + 1] = e.parent == 0 ? (e.kind == EntryKind::Folder ? e.name : root) : top[e.parent];
        if (e.kind == EntryKind::Folder) continue;
        const std::string& s = top[i + 1];
        if (!sections.count(s)) order.push_back(s);
        sections[s] += e.name + "=1\r\n";
    }
    std::string r;
    for (const auto& s : order) r += "[" + s + "]\r\n" + sections[s];
    r += "[" + kInfo + "]\r\nVolume Serial=" + d.serial + "\r\nMemorization Date=01/02/2024 10:00:00\r\nTitle=" +
         d.title + "\r\nDescription=\r\nAdditional=\r\n";
    return r;
}

Catalogue CatalogueOf(const DiskSpec& d) {
    CatalogueBuilder b;
    for (const auto& e : d.entries) b.Add(e.parent, e.name, e.kind, e.size, e.mtime);
    DiskFigures f;
    f.root = std::string(1, d.letter) + ":\\";
    f.complete = true;
    return b.Finish(f);
}

void WriteDisk(const std::string& dir, const DiskSpec& d, bool withCatalogue = true) {
    const std::string record = dir + "/" + d.serial + ".dat";
    WriteFile(record, RecordText(d));
    if (!withCatalogue) return;
    Catalogue c = CatalogueOf(d);
    c.header.binding = *BindingOfRecordFile(record, kInfo);
    const std::string temp = dir + "/.~cat-test.tmp";
    unlink(temp.c_str());
    WriteCatalogueFile(temp, c);
    ASSERT_EQ(rename(temp.c_str(), CataloguePathOf(record).c_str()), 0);
}

std::vector<std::string> Paths(const IndexSnapshot& s, const std::vector<FileHit>& hits) {
    std::vector<std::string> out;
    for (const FileHit& h : hits) out.push_back(s.disks[h.disk]->serial + " " + s.disks[h.disk]->WindowsPath(h.entry));
    return out;
}

std::vector<std::string> Find(const PackageIndex& index, const std::string& text, QueryFilters f = {}) {
    FileQuerySpec spec;
    spec.terms = ParseQuery(text);
    spec.filters = std::move(f);
    FileQuery q(index.Snapshot(), spec);
    return Paths(*index.Snapshot(), *q.Run());
}

} // namespace

TEST(Query, TermsGlobsAndTheirRequiredBytes) {
    const auto terms = ParseQuery("  Foo\tdocs\\Old *.JPG a[bc]d [x ?  ");
    ASSERT_EQ(terms.size(), 6u);
    const struct { std::string text; bool path, glob; std::string required; } want[] = {
        {"foo", false, false, "foo"}, {"docs/old", true, false, "docs/old"}, {"*.jpg", false, true, ".jpg"},
        {"a[bc]d", false, true, "a"}, {"[x", false, false, "[x"}, {"?", false, true, ""}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(terms[i].text, want[i].text) << i;
        EXPECT_EQ(terms[i].path, want[i].path) << i;
        EXPECT_EQ(terms[i].glob, want[i].glob) << i;
        EXPECT_EQ(terms[i].required, want[i].required) << i;
    }
    EXPECT_TRUE(ParseQuery(" \t ").empty());

    const struct { const char* pattern; const char* text; bool match; } globs[] = {
        {"*.jpg", "a.jpg", true},      {"*.jpg", "a.jpg.txt", false}, {"*.jpg", ".jpg", true},
        {"a?c", "abc", true},          {"a?c", "ac", false},          {"a?c", "a\xc3\xa9" "c", true}, // one character
        {"a?c", "a\xff" "c", true},     // a byte that is no UTF-8 is a character of its own
        {"[a-c]x", "bx", true},        {"[a-c]x", "dx", false},       {"[!a-c]x", "dx", true},
        {"[^a-c]x", "ax", false},      {"[]]", "]", true},            {"[z-a]", "m", false},
        {"[é]", "\xc3\xa9", true},      {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"*", "", true},               {"?", "", false},              {"a*", "a/b/c", true},
        {"x[", "x[", true},            {"**", "anything", true},
        // bytes that lead no character (0xF5..0xFF) stand alone; a lone lead byte in the
        // pattern does not match the start of a character in the name
        {"\xff*", "\xff\x97\x97", true}, {"???", "\xff\x97\x97", true}, {"?", "\xff\x97\x97", false},
        {"jp\xc3*", "jp\xc3\xa4x", false}, {"jp\xc3\xa4*", "jp\xc3\xa4x", true}, {"*\xc3", "x\xc3", true},
    };
    for (const auto& g : globs) {
        const auto t = ParseQuery(g.pattern);
        ASSERT_EQ(t.size(), 1u) << g.pattern;
        EXPECT_EQ(TermMatches(t[0], g.text), g.match) << g.pattern << " / " << g.text;
    }

    const struct { const char* text; std::optional<uint64_t> size; } sizes[] = {
        {"0", 0}, {"1500", 1500}, {"10K", 10240}, {"3m", 3u << 20}, {"2G", 2ull << 30},
        {"", std::nullopt}, {"K", std::nullopt}, {"1.5M", std::nullopt}, {"-1", std::nullopt},
        {"18446744073709551615", UINT64_MAX}, {"18446744073709551616", std::nullopt}, {"17179869184G", std::nullopt},
        {"1T", std::nullopt}};
    for (const auto& s : sizes) EXPECT_EQ(ParseSizeText(s.text), s.size) << s.text;

    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    EXPECT_EQ(ParseLocalDate("2024-07-01"), 1719784800); // midnight of summer time, UTC+2
    EXPECT_EQ(ParseLocalDate("2024-01-01"), 1704063600);
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-1-01", "20240101", "2024-01-01x", "abcd-ef-gh", ""})
        EXPECT_FALSE(ParseLocalDate(bad)) << bad;
    unsetenv("TZ");
    tzset();
}

// Double quotes: what they enclose is plain text, blanks included; the quotes are not
// part of the term, and they may enclose part of a term only.
TEST(Query, QuotedTextIsPlainAndKeepsItsBlanks) {
    const struct {
        const char* query;
        std::vector<std::string> texts; // the terms, folded, without their quotes
        bool glob;                      // of the first term
        std::vector<std::pair<const char*, bool>> names; // the first term against folded names
    } cases[] = {
        {"\"[1080p]\"", {"[1080p]"}, false,
         {{"movie [1080p].mkv", true}, {"movie 1.mkv", false}, {"[1080p]", true}}},
        {"[1080p]", {"[1080p]"}, true, {{"movie [1080p].mkv", false}, {"1", true}}}, // unquoted: a class
        {"\"Holiday 2019\"", {"holiday 2019"}, false, {{"my holiday 2019.jpg", true}, {"holiday_2019", false}}},
        {"\"a  b\" c", {"a  b", "c"}, false, {{"xa  bx", true}, {"a b", false}}},
        {"*\"[1080p]\".mkv", {"*[1080p].mkv"}, true,
         {{"movie [1080p].mkv", true}, {"movie 1.mkv", false}, {"movie [1080p].mkv.part", false}}},
        {"\"*\"", {"*"}, false, {{"a*b", true}, {"ab", false}}},
        {"\"?\"x", {"?x"}, false, {{"a?x", true}, {"ax", false}}},
        {"[\"]\"a]", {"[]a]"}, true, {{"]", true}, {"a", true}, {"b", false}}}, // a quoted "]" is a member
        {"[\"!\"a]", {"[!a]"}, true, {{"!", true}, {"a", true}, {"b", false}}},  // and "!" does not negate
        {"[a\"-\"c]", {"[a-c]"}, true, {{"-", true}, {"b", false}}},            // nor "-" make a range
        {"\"docs\\2019\"", {"docs/2019"}, false, {{"e:/docs/2019/a.jpg", true}}},  // separators stay
        {"\"[open", {"[open"}, false, {{"a [open door", true}}},                       // open to the end
        {"\"\" \"\"\"\" x", {"x"}, false, {{"x", true}}},                            // empty quotes: no term
        {"\"\xc3\x84\"*", {"\xc3\xa4*"}, true, {{"\xc3\xa4x", true}}},              // folded as unquoted
        {"\"\xff[\"", {"\xff["}, false, {{"a\xff[", true}}},                           // not UTF-8: ASCII folding
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const auto terms = ParseQuery(c.query);
        std::vector<std::string> texts;
        for (const QueryTerm& t : terms) texts.push_back(t.text);
        EXPECT_EQ(texts, c.texts);
        if (terms.empty()) continue;
        EXPECT_EQ(terms[0].glob, c.glob);
        for (const auto& [name, match] : c.names) EXPECT_EQ(TermMatches(terms[0], name), match) << name;
    }
    EXPECT_TRUE(ParseQuery("\"\"").empty());
    EXPECT_TRUE(ParseQuery("\"").empty());
}

TEST(CaseFold, UnicodeSimpleFoldingForUtf8AsciiOnlyOtherwise) {
    const struct { std::string in, out; } cases[] = {
        {"ReadMe.TXT", "readme.txt"},
        {"\xc3\x84pfel", "\xc3\xa4pfel"},                         // Ä -> ä
        {"\xce\xa3\xce\x91\xce\xa3", "\xcf\x83\xce\xb1\xcf\x83"}, // ΣΑΣ -> σασ
        {"\xc3\x9f", "\xc3\x9f"},                                 // ß stays one letter (no "ss")
        {"\xe1\xba\x9e", "\xc3\x9f"},                             // ẞ -> ß, 3 bytes to 2
        {"\xe2\x84\xaa", "k"},                                    // Kelvin sign -> k, 3 bytes to 1
        {"\xc5\xbf", "s"},                                        // long s -> s
        {"\xd0\x94\xd0\xbe\xd0\xba", "\xd0\xb4\xd0\xbe\xd0\xba"}, // Док -> док
        {"\xc3\x84\xff" "AB", "\xc3\x84\xff" "ab"},                // not UTF-8: ASCII letters only
        {"A\xed\xa0\x80", "a\xed\xa0\x80"},                         // a surrogate is no UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(Folded(c.in), c.out) << c.in;
}

TEST(PackageIndex, NamesComeBackAsWrittenAndFoldedForTheScan) {
    TempDir dir;
    DiskSpec d{"11", "Names", 'F', {}};
    const std::string names[] = {"Plain", "lower", "\xc3\x84pfel.TXT", "Caf\xc3\xa9", "\xe2\x84\xaa" "elvin",
                                 "\xe1\xba\x9e" "x", "bad\xff" "BYTES", "tab\tand\r\nbreak", "ALLCAPS", "\xd0\x94"};
    d.entries.push_back({0, "Top", EntryKind::Folder, 0, 1});
    for (const auto& n : names) d.entries.push_back({1, n, EntryKind::File, 1, 2});
    WriteDisk(dir.path(), d);
    const auto disk = LoadIndexedDisk(dir.path() + "/11.dat", kInfo);
    ASSERT_TRUE(disk->details) << disk->problem;
    EXPECT_EQ(disk->title, "Names");
    for (size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(disk->Name(i + 2), names[i]);
        EXPECT_EQ(disk->FoldedName(i + 2), Folded(names[i]));
    }
    EXPECT_EQ(disk->WindowsPath(5), "F:\\Top\\Caf\xc3\xa9");
    EXPECT_EQ(disk->RelativePath(5), "Top/Caf\xc3\xa9");
    EXPECT_EQ(FoldedPath(*disk, 5), "f:/top/caf\xc3\xa9");
}

namespace {

// Random names from few letters, so that terms often match; some capitals, some letters
// beyond ASCII, the odd byte that is no UTF-8.
std::string RandomName(std::mt19937& rng, bool utf8Only) {
    static const char* const parts[] = {"a", "b", "A", "B", "c", ".", " ", "x", "\xc3\xa4", "\xc3\x84", "jpg", "JPG",
                                        "\xce\xa3", "\xcf\x83", "[", "1", "\xff"};
    std::string n;
    const size_t len = 1 + rng() % 6;
    for (size_t k = 0; k < len; ++k) {
        const size_t p = rng() % (utf8Only ? std::size(parts) - 1 : std::size(parts));
        n += parts[p];
    }
    return n;
}

DiskSpec RandomDisk(std::mt19937& rng, const std::string& serial, bool utf8Only) {
    DiskSpec d{serial, rng() % 2 ? "Disk b" : "disk A", static_cast<char>('D' + rng() % 5), {}};
    std::vector<uint32_t> folders{0};
    const size_t n = 20 + rng() % 60;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t parent = folders[rng() % folders.size()];
        const bool folder = rng() % 5 == 0;
        d.entries.push_back({parent, RandomName(rng, utf8Only), folder ? EntryKind::Folder : static_cast<EntryKind>(1 + rng() % 3),
                             rng() % 5000, static_cast<int64_t>(1600000000 + rng() % 100000)});
        if (folder) folders.push_back(static_cast<uint32_t>(d.entries.size()));
    }
    return d;
}

std::string RandomTerm(std::mt19937& rng) {
    static const char* const atoms[] = {"a", "b", "A", "\xc3\xa4", "\xc3\x84", "\xce\xa3", "jpg", ".", "x", "*", "?",
                                        "[ab]", "[!a]", "/", "\\", "1", "c"};
    std::string t;
    const size_t len = 1 + rng() % 3;
    for (size_t k = 0; k < len; ++k) t += atoms[rng() % std::size(atoms)];
    return t;
}

// Code points of valid UTF-8.
std::u32string Chars(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += c;
        i += static_cast<size_t>(n);
    }
    return out;
}

// The shell's glob, written the plain recursive way.
bool PlainGlob(std::u32string_view p, std::u32string_view s) {
    if (p.empty()) return s.empty();
    if (p[0] == U'*') return PlainGlob(p.substr(1), s) || (!s.empty() && PlainGlob(p, s.substr(1)));
    if (p[0] == U'?') return !s.empty() && PlainGlob(p.substr(1), s.substr(1));
    if (p[0] == U'[') {
        size_t j = 1;
        const bool negate = j < p.size() && (p[j] == U'!' || p[j] == U'^');
        if (negate) ++j;
        const size_t first = j;
        while (j < p.size() && (p[j] != U']' || j == first)) ++j;
        if (j < p.size()) {
            if (s.empty()) return false;
            bool in = false;
            for (size_t k = first; k < j; ++k) {
                if (k + 2 < j && p[k + 1] == U'-') {
                    in = in || (s[0] >= p[k] && s[0] <= p[k + 2]);
                    k += 2;
                } else {
                    in = in || s[0] == p[k];
                }
            }
            return in != negate && PlainGlob(p.substr(j + 1), s.substr(1));
        }
    }
    return !s.empty() && s[0] == p[0] && PlainGlob(p.substr(1), s.substr(1));
}

// The plain filter: every entry of every catalogue, its path joined anew, folded and
// compared with std::string::find or the glob above.
std::vector<std::string> PlainFilter(const std::string& dir, const std::vector<DiskSpec>& disks,
                                     const std::vector<std::string>& terms, const QueryFilters& f) {
    struct Row {
        std::string titleKey, title, serial, pathKey, path, shown;
    };
    std::vector<Row> rows;
    for (const DiskSpec& d : disks) {
        if (!f.disks.empty() && std::find(f.disks.begin(), f.disks.end(), d.serial) == f.disks.end()) continue;
        const DiskCatalogue dc = OpenDiskCatalogue(dir + "/" + d.serial + ".dat", kInfo);
        if (!dc.catalogue) continue;
        const Catalogue& c = *dc.catalogue;
        const std::string root = c.header.figures.root;
        ForEachEntryPath(c, '/', [&](size_t i, std::string_view folder, std::string_view name) {
            if (!f.kinds.empty() && std::find(f.kinds.begin(), f.kinds.end(), c.Kind(i)) == f.kinds.end()) return;
            if (c.size[i] < f.minSize || c.size[i] > f.maxSize || c.mtime[i] < f.after || c.mtime[i] >= f.before) return;
            std::string rel(folder);
            if (!rel.empty()) rel += '/';
            rel += name;
            std::string rootSlash = root;
            std::replace(rootSlash.begin(), rootSlash.end(), '\\', '/');
            const std::string path = Folded(rootSlash + rel), fname = Folded(name);
            for (std::string t : terms) {
                const bool isPath = t.find_first_of("/\\") != std::string::npos;
                t = Folded(t);
                std::replace(t.begin(), t.end(), '\\', '/');
                const std::string& subject = isPath ? path : fname;
                const bool glob = t.find_first_of("*?") != std::string::npos ||
                                  (t.find('[') != std::string::npos && t.find(']', t.find('[') + 2) != std::string::npos);
                const bool ok = glob ? PlainGlob(Chars(t), Chars(subject)) : subject.find(t) != std::string::npos;
                if (!ok) return;
            }
            std::string shown = rel;
            std::replace(shown.begin(), shown.end(), '/', '\\');
            rows.push_back({Folded(d.title), d.title, d.serial, path, rel, d.serial + " " + root + shown});
        });
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::tie(a.titleKey, a.title, a.serial, a.pathKey, a.path) <
               std::tie(b.titleKey, b.title, b.serial, b.pathKey, b.path);
    });
    std::vector<std::string> out;
    for (const Row& r : rows) out.push_back(r.shown);
    return out;
}

} // namespace

TEST(PackageIndex, RandomQueriesAgreeWithAPlainFilterOverTheCatalogues) {
    // Names here are UTF-8, for the plain glob's sake; bytes that are not are checked in
    // the glob table above.
    std::mt19937 rng(2025);
    TempDir dir;
    std::vector<DiskSpec> disks;
    for (int i = 0; i < 6; ++i) {
        disks.push_back(RandomDisk(rng, std::to_string(1000 + i * 7), true));
        WriteDisk(dir.path(), disks.back());
    }
    PackageIndex index(dir.path(), kInfo);
    index.Refresh(2);
    EXPECT_TRUE(index.Problems().empty());
    size_t nonEmpty = 0;
    for (int q = 0; q < 600; ++q) {
        std::vector<std::string> terms;
        const size_t nTerms = 1 + rng() % 2;
        std::string text;
        for (size_t k = 0; k < nTerms; ++k) {
            terms.push_back(RandomTerm(rng));
            // "[" alone in a term with "]" later in another place is parsed term by term.
            text += terms.back() + " ";
        }
        QueryFilters f;
        if (rng() % 3 == 0) f.kinds = {static_cast<EntryKind>(rng() % 4)};
        if (rng() % 3 == 0) f.minSize = rng() % 3000;
        if (rng() % 3 == 0) f.maxSize = rng() % 5000;
        if (rng() % 3 == 0) f.after = 1600000000 + rng() % 100000;
        if (rng() % 3 == 0) f.before = 1600000000 + rng() % 100000;
        if (rng() % 4 == 0) f.disks = {disks[rng() % disks.size()].serial, disks[rng() % disks.size()].serial};
        const auto want = PlainFilter(dir.path(), disks, terms, f);
        const auto got = Find(index, text, f);
        if (got != want) {
            std::vector<std::string> onlyGot, onlyWant;
            std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(onlyGot));
            std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(onlyWant));
            ADD_FAILURE() << "query \"" << text << "\" (#" << q << "): " << got.size() << " found, " << want.size()
                          << " wanted; first found only: " << (onlyGot.empty() ? "-" : onlyGot[0])
                          << "; first wanted only: " << (onlyWant.empty() ? "-" : onlyWant[0]);
            return;
        }
        nonEmpty += !want.empty();
        // A limit gives the first rows of the same order.
        FileQuerySpec spec;
        spec.terms = ParseQuery(text);
        spec.filters = f;
        const auto first = Paths(*index.Snapshot(), *FileQuery(index.Snapshot(), spec).Run(3));
        ASSERT_EQ(first, std::vector<std::string>(want.begin(), want.begin() + std::min<size_t>(3, want.size())));
        ASSERT_EQ(*FileQuery(index.Snapshot(), spec).Count(), want.size());
    }
    EXPECT_GT(nonEmpty, 150u); // the queries are not all empty
}

TEST(PackageIndex, OtherOrdersAndCancel) {
    TempDir dir;
    DiskSpec d{"5", "T", 'E', {}};
    d.entries = {{0, "b.txt", EntryKind::File, 30, 300}, {0, "A.txt", EntryKind::File, 10, 200},
                 {0, "c.txt", EntryKind::File, 20, 100}};
    WriteDisk(dir.path(), d);
    PackageIndex index(dir.path(), kInfo);
    index.Refresh(1);
    const struct { FileOrder order; bool desc; std::vector<std::string> want; } cases[] = {
        {FileOrder::TitlePath, false, {"5 E:\\A.txt", "5 E:\\b.txt", "5 E:\\c.txt"}},
        {FileOrder::TitlePath, true, {"5 E:\\c.txt", "5 E:\\b.txt", "5 E:\\A.txt"}},
        {FileOrder::Size, false, {"5 E:\\A.txt", "5 E:\\c.txt", "5 E:\\b.txt"}},
        {FileOrder::Date, true, {"5 E:\\b.txt", "5 E:\\A.txt", "5 E:\\c.txt"}},
        {FileOrder::Name, true, {"5 E:\\c.txt", "5 E:\\b.txt", "5 E:\\A.txt"}},
    };
    for (const auto& c : cases) {
        FileQuerySpec spec{ParseQuery(".txt"), {}, c.order, c.desc};
        EXPECT_EQ(Paths(*index.Snapshot(), *FileQuery(index.Snapshot(), spec).Run()), c.want);
    }
    FileQuery cancelled(index.Snapshot(), FileQuerySpec{ParseQuery("txt"), {}, FileOrder::TitlePath, false});
    cancelled.Cancel();
    EXPECT_FALSE(cancelled.Run());
    EXPECT_FALSE(cancelled.Count());
}

TEST(PackageIndex, RefreshReadsOnlyTheDisksThatChanged) {
    TempDir dir;
    std::mt19937 rng(7);
    for (int i = 0; i < 4; ++i) WriteDisk(dir.path(), RandomDisk(rng, std::to_string(i + 1), false));
    PackageIndex index(dir.path(), kInfo);
    auto fig = index.Refresh(2);
    EXPECT_EQ(fig.read, 4u);
    const auto before = index.Snapshot();
    fig = index.Refresh(2);
    EXPECT_EQ(fig.read, 0u);
    EXPECT_EQ(fig.kept, 4u);
    EXPECT_EQ(index.Snapshot()->disks, before->disks); // the very same disks

    // Disk 2 memorized again (as another machine would: new files renamed in), disk 3
    // removed, disk 9 added.
    DiskSpec again{"2", "New title", 'G', {{0, "Fresh.file", EntryKind::File, 1, 1}}};
    WriteDisk(dir.path(), again);
    unlink((dir.path() + "/3.dat").c_str());
    unlink((dir.path() + "/3.cat").c_str());
    WriteDisk(dir.path(), DiskSpec{"9", "Nine", 'H', {{0, "nine", EntryKind::File, 1, 1}}});
    fig = index.Refresh(2);
    EXPECT_EQ(fig.read, 2u);
    EXPECT_EQ(fig.kept, 2u);
    EXPECT_EQ(fig.removed, 1u);
    EXPECT_EQ(Find(index, "fresh"), std::vector<std::string>{"2 G:\\Fresh.file"});
    EXPECT_EQ(Find(index, "nine"), std::vector<std::string>{"9 H:\\nine"});
    // A query that began before keeps its disks.
    EXPECT_EQ(before->disks.size(), 4u);

    // Only the record changes (Package > Update writes a new title): its disk is read again.
    const std::string rec = dir.path() + "/2.dat";
    std::string text;
    {
        std::ifstream in(rec, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = text.find("Title=New title");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 15, "Title=Renamed disk");
    const std::string temp = dir.path() + "/.~walk-test.tmp";
    WriteFile(temp, text);
    ASSERT_EQ(rename(temp.c_str(), rec.c_str()), 0);
    fig = index.Refresh(2);
    EXPECT_EQ(fig.read, 1u);
    bool found = false;
    for (const auto& d : index.Snapshot()->disks)
        if (d->serial == "2") {
            found = true;
            EXPECT_EQ(d->title, "Renamed disk");
            EXPECT_TRUE(d->details) << d->problem; // the binding holds across a new title
        }
    EXPECT_TRUE(found);
}

TEST(PackageIndex, CatalogueThatCannotBeUsedGivesTheRecordNamesAndItsReason) {
    TempDir dir;
    const auto disk = [](const std::string& serial) {
        return DiskSpec{serial, "Disk " + serial, 'E',
                        {{0, "Photos", EntryKind::Folder, 0, 1}, {1, "Deep", EntryKind::Folder, 0, 1},
                         {2, "IMG_" + serial + ".JPG", EntryKind::File, 5, 1}, {0, "root_" + serial + ".txt", EntryKind::File, 1, 1}}};
    };
    WriteDisk(dir.path(), disk("1"));                     // sound
    WriteDisk(dir.path(), disk("2"));
    WriteFile(dir.path() + "/2.cat", "");                 // empty
    WriteDisk(dir.path(), disk("3"));
    {
        std::ifstream in(dir.path() + "/3.cat", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        WriteFile(dir.path() + "/3.cat", bytes.substr(0, bytes.size() / 2)); // truncated
    }
    WriteDisk(dir.path(), disk("4"));
    WriteDisk(dir.path(), disk("5"));
    std::filesystem::copy_file(dir.path() + "/4.cat", dir.path() + "/5.cat",
                               std::filesystem::copy_options::overwrite_existing); // another record's
    WriteDisk(dir.path(), disk("6"), false);              // none
    WriteFile(dir.path() + "/7.cat", "stray");            // a catalogue without a record is no disk
    std::filesystem::create_directory(dir.path() + "/8.dat"); // no record either

    PackageIndex index(dir.path(), kInfo);
    index.Refresh(2);
    const auto problems = index.Problems();
    std::map<std::string, std::string> why;
    for (const auto& p : problems) {
        EXPECT_FALSE(p.skipped);
        EXPECT_EQ(p.title, "Disk " + p.serial);
        why[p.serial] = p.reason;
    }
    EXPECT_EQ(why, (std::map<std::string, std::string>{{"2", "the catalogue is damaged"},
                                                      {"3", "the catalogue is damaged"},
                                                      {"5", "the catalogue does not belong to this record"},
                                                      {"6", "no catalogue"}}));
    // Every disk is searched; those without details by their record's names, in the
    // top-level folder, with no size or date to filter by.
    EXPECT_EQ(Find(index, "img"), (std::vector<std::string>{"1 E:\\Photos\\Deep\\IMG_1.JPG", "2 E:\\Photos\\IMG_2.JPG",
                                                            "3 E:\\Photos\\IMG_3.JPG", "4 E:\\Photos\\Deep\\IMG_4.JPG",
                                                            "5 E:\\Photos\\IMG_5.JPG", "6 E:\\Photos\\IMG_6.JPG"}));
    EXPECT_EQ(Find(index, "root_6"), std::vector<std::string>{"6 E:\\root_6.txt"});
    QueryFilters sized;
    sized.minSize = 1;
    EXPECT_EQ(Find(index, "img", sized).size(), 2u);
    QueryFilters folders;
    folders.kinds = {EntryKind::Folder};
    EXPECT_EQ(Find(index, "photos", folders).size(), 6u);
}

// Catalogues damaged as failed copies and file-system faults leave them: the index reads
// every other disk, names each damaged one with its reason and searches it by its record's
// names; it never takes the memory the damaged files claim.
TEST(PackageIndex, DamagedCataloguesAreNamedAndTheirDisksSearchedByTheirRecords) {
    TempDir dir;
    const auto disk = [](const std::string& serial) {
        return DiskSpec{serial, "Disk " + serial, 'E',
                        {{0, "Photos", EntryKind::Folder, 0, 1}, {1, "IMG_" + serial + ".JPG", EntryKind::File, 5, 1}}};
    };
    WriteDisk(dir.path(), disk("1"));
    std::map<std::string, std::string> want;
    std::string serial = "1";
    for (const test::CatalogueDamage how : test::kCatalogueDamages) {
        serial = std::to_string(std::stoi(serial) + 1);
        WriteDisk(dir.path(), disk(serial));
        test::DamageCatalogue(dir.path() + "/" + serial + ".cat", how);
        want[serial] = "the catalogue is damaged";
    }
    PackageIndex index(dir.path(), kInfo);
    index.Refresh(2);
    std::map<std::string, std::string> why;
    for (const auto& p : index.Problems()) {
        EXPECT_FALSE(p.skipped) << p.serial;
        EXPECT_EQ(p.title, "Disk " + p.serial);
        why[p.serial] = p.reason;
    }
    // 4 billion entries do not fit in this computer's memory (one with more finds the frame damaged).
    if (why["5"] == "the catalogue is too large for this computer's memory") want["5"] = why["5"];
    EXPECT_EQ(why, want);
    // The record knows no drive root when no file lies at the root.
    EXPECT_EQ(Find(index, "img"), (std::vector<std::string>{"1 E:\\Photos\\IMG_1.JPG", "2 Photos\\IMG_2.JPG",
                                                            "3 Photos\\IMG_3.JPG", "4 Photos\\IMG_4.JPG",
                                                            "5 Photos\\IMG_5.JPG"}));
    const auto snapshot = index.Snapshot();
    for (const auto& d : snapshot->disks) EXPECT_EQ(d->details, d->serial == "1") << d->serial;
    EXPECT_EQ(index.Refresh(2).kept, 5u);
}
