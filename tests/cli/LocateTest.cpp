// quindle-cli locate on a package memorized by quindle-cli add: random queries agree
// with a plain filter over the lines of files --json; options, output and exit statuses.
#include <QSettings>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fnmatch.h>
#include <spawn.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "catalogue/EntryText.h"
#include "cli/CliRun.h"
#include "support/TempDrive.h"

extern char** environ;

using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

using CliRun = quindle::test::CliResult;
const auto Cli = quindle::test::RunCli;

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1) out.push_back(s.substr(start, nl - start));
    return out;
}

// The value of a key of one JSON line (names here need no escapes but \" and \\).
std::string Field(const std::string& line, const std::string& key) {
    const std::string k = "\"" + key + "\":";
    size_t at = line.find(k);
    if (at == std::string::npos) return {};
    at += k.size();
    if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
    std::string v;
    for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) v += line[i] == '\\' ? line[++i] : line[i];
    return v;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

time_t LocalMidnight(int y, int m, int d) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The user's settings file maps drive E, and no other, to the folder with that serial.
void MapDriveE(const TempDrive& e, unsigned serial) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    s.clear();
    s.setValue("Drives/E/path", QString::fromStdString(e.path()));
    s.setValue("Drives/E/serial", serial);
    s.sync();
}

void SetTime(const std::string& path, time_t t) {
    const struct timeval tv[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(lutimes(path.c_str(), tv), 0);
}

} // namespace

TEST(CliLocate, RandomQueriesAgreeWithAPlainFilterOverFilesAndOptionsWork) {
    TempDrive e('E', 439041101u);
    TempDir package;
    MapDriveE(e, 439041101u);
    std::mt19937 rng(31);
    const char* const parts[] = {"a", "B", "ab", "x", ".", "jpg", "JPG", "Doc", "_", "1", "[", "q"};
    std::vector<std::string> folders{""};
    for (int i = 0; i < 90; ++i) {
        std::string name;
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) name += parts[rng() % std::size(parts)];
        const std::string rel = folders[rng() % folders.size()] + name;
        if (rng() % 5 == 0) {
            if (std::find(folders.begin(), folders.end(), rel + "/") == folders.end()) {
                e.MakeDir(rel);
                folders.push_back(rel + "/");
            }
        } else {
            e.MakeFile(rel, std::string(rng() % 3000, 'x'));
        }
    }
    // Boundaries of the date options: one file at local midnight of a day, one a second before.
    SetTime(e.MakeFile("Day/on.txt", "1"), LocalMidnight(2020, 5, 10));
    SetTime(e.MakeFile("Day/before.txt", "1"), LocalMidnight(2020, 5, 10) - 1);
    const std::vector<std::string> pkg{"--package", package.path()};
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), pkg.begin(), pkg.end());
        return Cli(args);
    };
    ASSERT_EQ(cli({"add", "E:", "--title", "Backup"}).status, 0);
    const CliRun files = cli({"files", "439041101", "--json"});
    ASSERT_EQ(files.status, 0);
    struct Entry {
        std::string path, kind;
        uint64_t size;
        int64_t mtime;
    };
    std::vector<Entry> entries;
    for (const std::string& l : Lines(files.out))
        if (!Field(l, "path").empty())
            entries.push_back({Field(l, "path"), Field(l, "kind"), std::stoull(Field(l, "size")), std::stoll(Field(l, "mtime"))});
    ASSERT_GT(entries.size(), 80u);

    const char* const atoms[] = {"a", "B", "x", ".", "jpg", "doc", "*", "?", "[ab]", "/", "1", "_"};
    const char* const kinds[] = {"file", "folder"};
    size_t nonEmpty = 0;
    for (int q = 0; q < 60; ++q) {
        std::string term;
        for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) term += atoms[rng() % std::size(atoms)];
        std::vector<std::string> args{"locate", "--json"};
        std::string kind;
        uint64_t minSize = 0;
        if (rng() % 3 == 0) {
            kind = kinds[rng() % 2];
            args.insert(args.end(), {"--kind", kind});
        }
        if (rng() % 3 == 0) {
            minSize = rng() % 3 * 1024;
            args.insert(args.end(), {"--min-size", std::to_string(minSize / 1024) + "K"});
        }
        args.push_back("--");
        args.push_back(term);
        // The plain filter: the whole path when the term holds "/", else the name; a glob
        // with fnmatch, else a substring; ASCII case ignored; sorted by the folded path.
        const bool isPath = term.find('/') != std::string::npos;
        const bool glob = term.find_first_of("*?") != std::string::npos || term.find("[ab]") != std::string::npos;
        std::vector<std::pair<std::string, std::string>> want;
        for (const Entry& en : entries) {
            if ((!kind.empty() && en.kind != kind) || en.size < minSize) continue;
            const std::string full = "e:/" + Lower(en.path);
            const std::string name = Lower(en.path.substr(en.path.rfind('/') + 1));
            const std::string& subject = isPath ? full : name;
            const std::string t = Lower(term);
            if (glob ? fnmatch(t.c_str(), subject.c_str(), FNM_NOESCAPE) == 0 : subject.find(t) != std::string::npos)
                want.emplace_back(full, en.path);
        }
        std::sort(want.begin(), want.end());
        const CliRun r = cli(args);
        std::vector<std::string> got, wanted;
        for (const std::string& l : Lines(r.out)) got.push_back(Field(l, "path"));
        for (const auto& w : want) wanted.push_back(w.second);
        ASSERT_EQ(got, wanted) << "locate " << term << " (kind " << kind << ", min " << minSize << ")";
        ASSERT_EQ(r.status, wanted.empty() ? 1 : 0) << term;
        nonEmpty += !wanted.empty();
    }
    EXPECT_GT(nonEmpty, 20u);

    // Text lines, the date options at their boundary, and the JSON keys.
    const time_t onTime = LocalMidnight(2020, 5, 10);
    const CliRun on = cli({"locate", "--after", "2020-05-10", "--before", "2020-05-11", "day\\"});
    EXPECT_EQ(on.status, 0);
    EXPECT_EQ(on.out, "439041101\tBackup\tfile\t1\t" + quindle::IsoUtc(onTime) + "\tE:\\Day\\on.txt\n");
    const CliRun before = cli({"locate", "--before", "2020-05-10", "--json", "DAY/"});
    EXPECT_EQ(before.out, "{\"serial\":\"439041101\",\"title\":\"Backup\",\"path\":\"Day/before.txt\",\"kind\":\"file\","
                          "\"size\":1,\"mtime\":" + std::to_string(onTime - 1) + "}\n");
    EXPECT_EQ(cli({"locate", "--max-size", "0", "--kind", "file", "on.txt"}).status, 1);

    // A disk with its record only: its names, no sizes or dates, and a word on stderr.
    quindle::test::WriteHostFile(package.path() + "/7.dat", "[Pics]\r\nOn.txt.png=1\r\n");
    const CliRun degraded = cli({"locate", "on.txt"});
    EXPECT_EQ(degraded.status, 0);
    EXPECT_NE(degraded.out.find("7\t\tfile\t-\t-\tPics\\On.txt.png\n"), std::string::npos) << degraded.out;
    EXPECT_NE(degraded.err.find("disk 7: no catalogue"), std::string::npos) << degraded.err;
    EXPECT_EQ(cli({"locate", "--disk", "7", "--min-size", "1", "on.txt"}).status, 1);

    const struct { std::vector<std::string> args; std::string err; } errors[] = {
        {{"locate"}, "missing TERM"},
        {{"locate", " "}, "missing TERM"},
        {{"locate", "--min-size", "1.5K", "a"}, "is not a size"},
        {{"locate", "--max-size", "99999999999999999999", "a"}, "is not a size"},
        {{"locate", "--after", "2020-02-30", "a"}, "is not a date"},
        {{"locate", "--before", "10.05.2020", "a"}, "is not a date"},
        {{"locate", "--disk", "5", "a"}, "no disk 5 in the package"},
        {{"locate", "--disk", "x", "a"}, "is not a volume serial"},
        {{"locate", "--kind", "dir", "a"}, "is not one of folder, file, link, other"},
    };
    for (const auto& c : errors) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.status, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

// Double quotes that reach quindle-cli make a term plain text, blanks included.
TEST(CliLocate, QuotedTermsArePlainTextBlanksIncluded) {
    TempDrive e('E', 5151u);
    TempDir package;
    MapDriveE(e, 5151u);
    for (const char* name : {"Movie [1080p].mkv", "Movie 1.mkv", "holiday 2019.jpg", "holiday_2019.jpg", "a*b.txt"})
        e.MakeFile(name, "x");
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--package", package.path()});
        return Cli(args);
    };
    ASSERT_EQ(cli({"add", "E:", "--title", "Films"}).status, 0);
    const struct {
        std::vector<std::string> terms;
        std::vector<std::string> paths;
    } cases[] = {
        {{"\"[1080p]\""}, {"Movie [1080p].mkv"}},
        {{"[1080p]"}, {}}, // unquoted: a class of one character
        {{"*\"[1080p]\".mkv"}, {"Movie [1080p].mkv"}},
        {{"\"holiday 2019\""}, {"holiday 2019.jpg"}},
        {{"holiday 2019"}, {"holiday 2019.jpg", "holiday_2019.jpg"}}, // two terms
        {{"\"holiday", "2019\""}, {"holiday 2019.jpg"}},               // a quote spans the arguments
        {{"\"*\""}, {"a*b.txt"}},
        {{"\"MOVIE \""}, {"Movie 1.mkv", "Movie [1080p].mkv"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"locate", "--json", "--"};
        args.insert(args.end(), c.terms.begin(), c.terms.end());
        const CliRun r = cli(args);
        std::vector<std::string> got;
        for (const std::string& l : Lines(r.out)) got.push_back(Field(l, "path"));
        EXPECT_EQ(got, c.paths) << c.terms[0];
        EXPECT_EQ(r.status, c.paths.empty() ? 1 : 0) << c.terms[0] << r.err;
    }
}
