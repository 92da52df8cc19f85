// Loads arbitrary bytes as a record file and runs WriteString / ReadString / save
// sequences on it, against a plain list-of-lines model of the store's scan rules.
//
// Input: two bytes (little-endian) of file length (0: no file; n: a file of n - 1 bytes;
// the top bit set: the store starts in plain mode, not deferred), the file's bytes, then operations
// (see Run).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Errors.h"
#include "records/IniFile.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

using Lines = std::vector<std::string>;

// The checks run after every operation, so they compare in place rather than build
// copies: under the sanitizers an allocation costs more than the comparison.
bool SameLines(const TIniFile32& store, const Lines& lines) {
    if (store.LineCount() != lines.size()) return false;
    for (size_t i = 0; i < lines.size(); ++i)
        if (store.Line(i) != lines[i]) return false;
    return true;
}

// The file holds the lines, each followed by CR LF.
bool FileHolds(const std::string& path, const Lines& lines) {
    static std::string bytes;
    ReadWhole(path, bytes);
    std::string_view rest = bytes;
    for (const auto& l : lines) {
        if (rest.size() < l.size() + 2 || rest.substr(0, l.size()) != l || rest.substr(l.size(), 2) != "\r\n")
            return false;
        rest.remove_prefix(l.size() + 2);
    }
    return rest.empty();
}

bool HasBracket(const std::string& l) { return l.find('[') != std::string::npos; }
std::string KeyOf(const std::string& l) {
    const size_t eq = l.find('=');
    return eq == std::string::npos ? std::string() : l.substr(0, eq);
}
std::string ValueOf(const std::string& l) {
    const size_t eq = l.find('=');
    return eq == std::string::npos ? l : l.substr(eq + 1);
}
bool SameAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lo = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lo(static_cast<unsigned char>(a[i])) != lo(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

struct Model {
    Lines lines;

    int FindSection(const std::string& s) const {
        const std::string h = "[" + s + "]";
        for (size_t i = 0; i < lines.size(); ++i)
            if (SameAscii(lines[i], h)) return static_cast<int>(i);
        return -1;
    }
    // Index of the entry of key k in the section headed at h, or of the line that ends
    // the section (a "[" line or the end) negated minus one.
    int Scan(int h, const std::string& k) const {
        size_t i = static_cast<size_t>(h) + 1;
        while (i < lines.size() && !HasBracket(lines[i]) && KeyOf(lines[i]) != k) ++i;
        if (i < lines.size() && !HasBracket(lines[i])) return static_cast<int>(i);
        return -static_cast<int>(i) - 1;
    }
    std::string Read(const std::string& s, const std::string& k, const std::string& d) const {
        const int h = FindSection(s);
        if (h < 0) return d;
        const int i = Scan(h, k);
        return i >= 0 ? ValueOf(lines[static_cast<size_t>(i)]) : d;
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) {
        const int h = FindSection(s);
        if (h < 0) {
            lines.push_back("");
            lines.push_back("[" + s + "]");
            lines.push_back(k + "=" + v);
            return;
        }
        const int i = Scan(h, k);
        if (i >= 0)
            lines[static_cast<size_t>(i)] = k + "=" + v;
        else
            lines.insert(lines.begin() + (-i - 1), k + "=" + v);
    }
};

// Strings for keys, sections and values: a small alphabet rich in the store's special
// characters, so that collisions and hidden sections happen often. No line breaks: the
// store does not escape them.
std::string Text(Reader& in) {
    static const char kAlphabet[] = {'a', 'A', 'b', 'B', '=', '[', ']', ' ', '\0', '\xE9', 'x', '\t'};
    const size_t n = in.Byte() % 6;
    std::string s;
    for (size_t i = 0; i < n; ++i) s += kAlphabet[in.Byte() % sizeof kAlphabet];
    return s;
}

void Expect(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok) Fail(what, detail);
}

// Operations per input, and how they are drawn from one byte: mostly writes and reads,
// which in deferred mode stay in memory; one value in sixteen each for the operations
// that touch the file (leaving or entering deferred mode, a checkpoint, a reopen, a
// save). In plain mode every write is a crash-safe save, a dozen and more system calls:
// the store starts in deferred mode unless the input asks for plain mode, so that a run
// spends its time on the rules rather than on the same save again.
constexpr int kMaxOps = 16;
enum Op { kWrite, kRead, kToggle, kCheckpoint, kReopen, kSave };
constexpr Op kOps[16] = {kWrite, kWrite, kWrite, kWrite, kWrite,  kWrite,  kWrite,      kRead,
                         kRead,  kRead,  kRead,  kRead,  kToggle, kReopen, kCheckpoint, kSave};

void Run(Reader& in) {
    static const std::string path = ScratchFolder() + "/r.dat";
    const size_t head = in.Byte() | (static_cast<size_t>(in.Byte()) << 8);
    const size_t len = head & 0x7fff;
    std::string original;
    if (len > 0) {
        original = std::string(in.Bytes(len - 1));
        WriteWhole(path, original);
    } else {
        unlink(path.c_str());
    }

    Model model;
    model.lines = SplitLines(original);
    auto store = std::make_unique<TIniFile32>(path);
    Expect(SameLines(*store, model.lines), "load splits lines as CR LF, CR or LF");
    if (!(head & 0x8000)) store->SetDeferred(true);

    bool saved = false;
    int ops = 0;
    while (!in.AtEnd() && ops++ < kMaxOps) {
        switch (kOps[in.Byte() % 16]) {
        case kWrite: {
            const std::string s = Text(in), k = Text(in), v = Text(in);
            model.Write(s, k, v);
            store->WriteString(s, k, v);
            saved = true;
            Expect(SameLines(*store, model.lines), "WriteString puts the line where the scan says");
            Expect(store->ReadString(s, k, "\x01") == model.Read(s, k, "\x01"), "written key reads back", k);
            if (!store->Deferred()) Expect(FileHolds(path, model.lines), "plain write reached the file");
            break;
        }
        case kRead: {
            const std::string s = Text(in), k = Text(in);
            Expect(store->ReadString(s, k, "\x01") == model.Read(s, k, "\x01"), "ReadString follows the scan", s + "|" + k);
            Expect(store->FindSection(s) == model.FindSection(s), "FindSection finds the first header", s);
            break;
        }
        case kToggle:
            store->SetDeferred(!store->Deferred());
            if (!store->Deferred() && saved) Expect(FileHolds(path, model.lines), "leaving deferred mode saves");
            break;
        case kCheckpoint:
            store->Checkpoint();
            if (saved) Expect(FileHolds(path, model.lines), "checkpoint saves everything");
            break;
        case kReopen: {
            const bool deferred = store->Deferred();
            store.reset();
            store = std::make_unique<TIniFile32>(path);
            Expect(SameLines(*store, model.lines), "a reopened store sees what was saved");
            store->SetDeferred(deferred);
            break;
        }
        case kSave:
            store->Save();
            saved = true;
            Expect(FileHolds(path, model.lines), "Save writes the whole list");
            break;
        }
    }
    store.reset();
    if (saved) {
        Expect(FileHolds(path, model.lines), "the file after the last save");
        Expect(SameLines(TIniFile32(path), model.lines), "the file reloads to the same lines");
    } else {
        Expect(ReadWhole(path) == original, "reading never changes the file");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    try {
        Run(in);
    } catch (const EFileError& e) {
        Fail("unexpected file error", e.what());
    }
    return 0;
}
