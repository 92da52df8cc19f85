// Records that are damaged, odd or gone: the store and the count read what they can,
// raise a clear error for what they cannot, and never change a record by reading it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <random>

#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "search/CountOccurrences.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

// What a reader must leave alone: the bytes, the modification time and the mode.
struct Snapshot {
    std::string bytes;
    int64_t mtimeNs = 0;
    mode_t mode = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const std::string& path) {
    Snapshot s;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return s;
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.mode = st.st_mode;
    if (S_ISREG(st.st_mode)) s.bytes = ReadHostFile(path);
    return s;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The package dialog's view of a record: the five information keys.
std::vector<std::string> View(const std::string& path) {
    TIniFile32 ini(path);
    std::vector<std::string> v;
    for (const char* k : {"Volume Serial", "Memorization Date", "Title", "Description", "Additional"})
        v.push_back(ini.ReadString(kInfo, k, "-"));
    return v;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Counts over the text as the search sees it, written out plainly.
int PlainCount(const std::string& raw, std::string word) {
    std::string text;
    size_t start = 0;
    while (start < raw.size()) {
        size_t i = raw.find_first_of("\r\n", start);
        if (i == std::string::npos) i = raw.size();
        text += raw.substr(start, i - start) + "\r\n";
        if (i == raw.size()) break;
        start = i + ((raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ? 2 : 1);
    }
    for (char& c : text) c = Upper(c);
    for (char& c : word) c = Upper(c);
    int n = 0;
    for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + word.size())) ++n;
    return n;
}

} // namespace

TEST(RecordReliability, DamagedRecordsReadWhatTheyCanAndStayUntouched) {
    TempDir pkg;
    std::mt19937 rng(20240607);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    const std::string info = "[" + kInfo + "]";

    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> view; // expected five keys
        const char* word;
    };
    const std::vector<std::string> none(5, "-");
    const std::vector<Case> cases = {
        {"garbage.dat", garbage, none, "\x80"},
        // The information section after a NUL byte is read, not dropped.
        {"nul.dat", std::string("\r\n[E:\\]\r\na\0b=1\r\n\r\n", 16) + info + "\r\nVolume Serial=7\r\nTitle=After nul\r\n",
         {"7", "-", "After nul", "-", "-"}, "after"},
        {"cr.dat", "\r[E:\\]\rx.txt=1\r\r" + info + "\rTitle=Lone CR\rAdditional=z", {"-", "-", "Lone CR", "-", "z"}, "lone"},
        {"lf.dat", "\n[E:\\]\nx.txt=1\n\n" + info + "\nTitle=Lone LF\n", {"-", "-", "Lone LF", "-", "-"}, "\r\n"},
        {"noinfo.dat", "\r\n[E:\\]\r\nTitle=not information\r\n", none, "title"},
        // Two information sections: the first is the one read.
        {"twice.dat", "\r\n" + info + "\r\nTitle=First\r\n\r\n" + info + "\r\nTitle=Second\r\nDescription=d2\r\n",
         {"-", "-", "First", "-", "-"}, "title"},
        // Names that are not UTF-8, in keys and values alike.
        {"\xff\xfe-latin.dat", "\r\n[\xe9t\xe9]\r\n\xff\xfe.txt=1\r\n\r\n" + info + "\r\nTitle=Caf\xe9\r\n",
         {"-", "-", "Caf\xe9", "-", "-"}, "\xe9T"},
        {"empty.dat", "", none, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = pkg.MakeFile(c.name, c.bytes);
        const Snapshot before = Take(path);
        EXPECT_EQ(View(path), c.view);
        EXPECT_EQ(CountOccurrences(path, c.word), PlainCount(c.bytes, c.word));
        EXPECT_EQ(CountOccurrences(path, "Title"), PlainCount(c.bytes, "Title"));
        EXPECT_TRUE(Take(path) == before) << "reading changed the record";
    }
    EXPECT_GT(CountOccurrences(pkg.path() + "/cr.dat", "\r\n"), 4);

    // A change of a record holding a NUL keeps everything after the NUL.
    const std::string nul = pkg.path() + "/nul.dat";
    WriteDiskInfo(AppContext{}, nul, "7", "01/01/2026", "Changed", "", "");
    const std::string after = ReadHostFile(nul);
    EXPECT_NE(after.find(std::string("a\0b=1", 5)), std::string::npos);
    EXPECT_EQ(View(nul), (std::vector<std::string>{"7", "01/01/2026", "Changed", "", ""}));
}

// A folder on a RAM file system when there is one (writing 200 MB to a busy disk is slow).
struct FastDir {
    std::string path;
    TempDir fallback;
    FastDir() {
        std::string t = "/dev/shm/quindle-huge-XXXXXX";
        path = access("/dev/shm", W_OK) == 0 && mkdtemp(t.data()) ? t : fallback.path();
    }
    ~FastDir() {
        std::error_code ec;
        if (path != fallback.path()) std::filesystem::remove_all(path, ec);
    }
    std::string MakeFile(const std::string& name, const std::string& bytes) const {
        WriteHostFile(path + "/" + name, bytes);
        return path + "/" + name;
    }
};

TEST(RecordReliability, HugeRecordIsReadWholeAndLeftAlone) {
    FastDir pkg;
    // About 200 MB of 1000-byte entry lines (few lines keep the test quick; the bytes
    // are what matter), then the information section.
    std::string entry(988, 'n');
    entry += "=12345678\r\n";
    std::string text;
    text.reserve(200u * 1024 * 1024 + 4096);
    text += "\r\n[Huge]\r\n";
    const size_t lines = 200u * 1024 * 1024 / entry.size();
    for (size_t i = 0; i < lines; ++i) {
        const size_t at = text.size();
        text += entry;
        // A unique name per line: the line number in the first 8 bytes.
        for (int d = 7, v = static_cast<int>(i); d >= 0; --d, v /= 10) text[at + d] = static_cast<char>('0' + v % 10);
    }
    text += "\r\n[" + kInfo + "]\r\nTitle=Big one\r\n";
    const std::string path = pkg.MakeFile("huge.dat", text);
    text.clear();
    text.shrink_to_fit();
    const Snapshot before = Take(path);
    ASSERT_GE(before.bytes.size(), 200'000'000u);

    {
        TIniFile32 ini(path);
        EXPECT_EQ(ini.LineList().size(), lines + 5);
        EXPECT_EQ(ini.ReadString(kInfo, "Title", "-"), "Big one");
        EXPECT_EQ(ini.ReadString("huge", "00000007" + std::string(980, 'n'), "-"), "12345678");
    }
    EXPECT_EQ(CountOccurrences(path, "big ONE"), 1);
    EXPECT_EQ(CountOccurrences(path, "=12345678\r\n"), static_cast<int32_t>(lines));
    EXPECT_TRUE(Take(path) == before);
}

TEST(RecordReliability, RecordsThatAreNotPlainFiles) {
    TempDir pkg;
    const std::string rec = "\r\n[" + kInfo + "]\r\nTitle=Target\r\n";

    // A folder named like a record: a clear error, and the folder stays.
    const std::string dir = pkg.MakeDir("x.dat");
    EXPECT_EQ(ErrorOf([&] { TIniFile32 ini(dir); }), "Cannot open file " + dir);
    EXPECT_EQ(ErrorOf([&] { CountOccurrences(dir, "a"); }), "Cannot open file " + dir);
    EXPECT_EQ(ErrorOf([&] { WriteDiskInfo(AppContext{}, dir, "1", "d", "t", "", ""); }), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir));

    // A symbolic link to a record reads the record; a change goes to the record and the
    // link stays a link.
    const std::string target = pkg.MakeFile("real/target.dat", rec);
    const std::string link = pkg.path() + "/y.dat";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const Snapshot linkBefore = Take(link), targetBefore = Take(target);
    EXPECT_EQ(View(link)[2], "Target");
    EXPECT_EQ(CountOccurrences(link, "target"), 1);
    EXPECT_TRUE(Take(link) == linkBefore);
    EXPECT_TRUE(Take(target) == targetBefore);
    WriteDiskInfo(AppContext{}, link, "5", "d", "Changed", "", "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(View(target)[2], "Changed");

    // A dangling link is a record that is gone.
    const std::string dangling = pkg.path() + "/gone.dat";
    ASSERT_EQ(symlink((pkg.path() + "/nothing").c_str(), dangling.c_str()), 0);
    EXPECT_EQ(View(dangling), std::vector<std::string>(5, "-"));
    EXPECT_EQ(CountOccurrences(dangling, "a"), 0);

    // A FIFO, or a link to a device that never ends, is no record: a clear error, no hang.
    const std::string fifo = pkg.path() + "/fifo.dat";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string zero = pkg.path() + "/zero.dat";
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    for (const std::string& odd : {fifo, zero}) {
        EXPECT_EQ(ErrorOf([&] { TIniFile32 ini(odd); }), "Cannot open file " + odd);
        EXPECT_EQ(ErrorOf([&] { CountOccurrences(odd, "a"); }), "Cannot open file " + odd);
    }
    // A change through a link to something that is no file must not replace that thing.
    const std::string toFifo = pkg.path() + "/tofifo.dat";
    ASSERT_EQ(symlink(fifo.c_str(), toFifo.c_str()), 0);
    EXPECT_EQ(ErrorOf([&] { WriteDiskInfo(AppContext{}, toFifo, "1", "d", "t", "", ""); }), "Cannot open file " + toFifo);
    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A record nobody may read (permissions do not stop root).
    if (geteuid() != 0) {
        const std::string locked = pkg.MakeFile("locked.dat", rec);
        chmod(locked.c_str(), 0);
        const Snapshot b = Take(locked);
        EXPECT_EQ(ErrorOf([&] { TIniFile32 ini(locked); }), "Cannot open file " + locked);
        EXPECT_EQ(ErrorOf([&] { CountOccurrences(locked, "a"); }), "Cannot open file " + locked);
        EXPECT_TRUE(Take(locked) == b);
    }
}

TEST(RecordReliability, RecordDeletedBetweenRefreshAndUse) {
    TempDir pkg;
    const std::string path = pkg.MakeFile("9.dat", "\r\n[" + kInfo + "]\r\nTitle=Here\r\n");
    AppContext ctx;
    ctx.PackageFolder = pkg.path() + "/";
    ASSERT_EQ(View(path)[2], "Here");
    std::filesystem::remove(path);
    // The search counts 0, View shows the defaults, a Change creates nothing.
    EXPECT_EQ(CountOccurrences(path, "here"), 0);
    EXPECT_EQ(View(path), std::vector<std::string>(5, "-"));
    WriteDiskInfo(ctx, path, "9", "d", "Back?", "", "");
    EXPECT_FALSE(std::filesystem::exists(path));
}
