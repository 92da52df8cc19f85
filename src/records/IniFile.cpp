#include "records/IniFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace quindle {

namespace {

constexpr const char* kDosAttribXattr = "user.DOSATTRIB";

bool IsHeaderLine(std::string_view line) { return line.size() >= 2 && line.front() == '[' && line.back() == ']'; }

// Key of a line: the text before its first "="; the empty key for a line without one.
std::string_view KeyOf(std::string_view line) {
    const size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

// Value of a line: the text after its first "="; the whole line for a line without one.
std::string_view ValueOf(std::string_view line) {
    const size_t eq = line.find('=');
    return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

int64_t MtimeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsFatFs(int fd) {
    struct statfs sf;
    return fstatfs(fd, &sf) == 0 && sf.f_type == MSDOS_SUPER_MAGIC;
}

// The DOS attributes of an existing file, carried over to the file that replaces it.
struct DosAttributes {
    std::string xattr;   // raw user.DOSATTRIB value, empty when the file has none
    bool fat = false;    // FAT attribute bits in fatBits
    uint32_t fatBits = 0;
};

DosAttributes ReadDosAttributes(int fd) {
    DosAttributes a;
    if (IsFatFs(fd)) {
        a.fat = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &a.fatBits) == 0;
        return a;
    }
    const ssize_t n = fgetxattr(fd, kDosAttribXattr, nullptr, 0);
    if (n > 0) {
        a.xattr.resize(static_cast<size_t>(n));
        const ssize_t m = fgetxattr(fd, kDosAttribXattr, a.xattr.data(), a.xattr.size());
        a.xattr.resize(m > 0 ? static_cast<size_t>(m) : 0);
    }
    return a;
}

// Best effort: the old file could only carry what the file system supports.
void ApplyDosAttributes(int fd, const DosAttributes& a) {
    if (a.fat) {
        uint32_t bits = a.fatBits;
        (void)ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &bits);
    } else if (!a.xattr.empty()) {
        (void)fsetxattr(fd, kDosAttribXattr, a.xattr.data(), a.xattr.size(), 0);
    }
}

std::atomic<unsigned> tempCounter{0};

// Where the next CR or LF lies in [p, end), or end. The positions of both are kept
// between calls, so a block is searched for each of them once.
class BreakFinder {
public:
    BreakFinder(const char* begin, const char* end) : end_(end), cr_(Find(begin, '\r')), lf_(Find(begin, '\n')) {}
    const char* Next(const char* p) {
        if (cr_ < p) cr_ = Find(p, '\r');
        if (lf_ < p) lf_ = Find(p, '\n');
        return std::min(cr_, lf_);
    }

private:
    const char* Find(const char* p, char c) const {
        const void* hit = std::memchr(p, c, static_cast<size_t>(end_ - p));
        return hit ? static_cast<const char*>(hit) : end_;
    }
    const char* end_;
    const char* cr_;
    const char* lf_;
};

uint32_t FoldedHash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (const char c : s) h = (h ^ LowerByte(static_cast<unsigned char>(c))) * 1099511628211ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

uint32_t KeyHash(std::string_view key) {
    const uint64_t h = std::hash<std::string_view>()(key);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

} // namespace

TIniFile32::TIniFile32(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

TIniFile32::~TIniFile32() {
    if (deferred_ && modified_) {
        try {
            Checkpoint();
        } catch (...) {
            // A destructor cannot report; callers that care call Checkpoint() first.
        }
    }
    CloseFd();
}

std::vector<std::string> TIniFile32::LineList() const {
    std::vector<std::string> out;
    out.reserve(lines_.size());
    lines_.ForEach(0, [&](size_t, std::string_view l) {
        out.emplace_back(l);
        return true;
    });
    return out;
}

void TIniFile32::Load() {
    const int fd = open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            createdHere_ = true;
            return;
        }
        throw EFileError(Format("Cannot open file %s", fileName_));
    }
    struct stat st;
    // Only a regular file is a record: a device such as /dev/zero never ends, and a FIFO
    // may block or hand over someone else's data.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        throw EFileError(Format("Cannot open file %s", fileName_));
    }
    // An empty file (the walk creates its file so before the store opens it) holds nothing
    // that a torn in-place rewrite could lose: it is treated as created here.
    if (st.st_size == 0) createdHere_ = true;

    // The file is read in blocks and split as it comes, so that only the lines are ever
    // held, never the file text beside them. The file is "clean" when it is exactly
    // what a save would write (CR LF after every line): then later saves may append to
    // it in place. A NUL byte is an ordinary character: ending the text there would make
    // the next save drop everything after it, the information section included.
    bool clean = true;
    uint64_t total = 0;
    std::string partial;   // a line begun in an earlier block
    bool afterCr = false;  // the last block ended in CR: a LF first in this one belongs to it
    // A small file is read in one block on the stack, a larger one in blocks of 256 KB.
    char small[4096];
    std::unique_ptr<char[]> large;
    size_t blockSize = sizeof small;
    char* block = small;
    if (st.st_size > static_cast<off_t>(sizeof small)) {
        blockSize = static_cast<size_t>(std::min<off_t>(st.st_size, 1 << 18));
        large = std::make_unique_for_overwrite<char[]>(blockSize);
        block = large.get();
    }
    // The file is read up to the size it had when opened (a file that reports no size is
    // read to its end): a writer appending meanwhile cannot make the read endless, and a
    // save after it is a whole rewrite, since the size on disk no longer matches.
    for (;;) {
        if (st.st_size > 0 && total >= static_cast<uint64_t>(st.st_size)) break;
        const ssize_t got = read(fd, block, blockSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            close(fd);
            throw EFileError(Format("Cannot open file %s", fileName_));
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
        const char* p = block;
        const char* const end = p + got;
        if (afterCr) {
            afterCr = false;
            if (*p == '\n')
                ++p;
            else
                clean = false;
        }
        BreakFinder breaks(p, end);
        while (p < end) {
            const char* brk = breaks.Next(p);
            if (brk == end) {
                // A long line is gathered in a buffer sized for the rest of the file at
                // once, which the store then takes over: no copy, no growth.
                if (partial.size() + static_cast<size_t>(end - p) > TLineStore::kChunkBytes &&
                    partial.capacity() < partial.size() + static_cast<size_t>(end - p) + 1) {
                    const uint64_t rest = st.st_size > static_cast<off_t>(total) ? st.st_size - total : 0;
                    partial.reserve(partial.size() + static_cast<size_t>(end - p) + static_cast<size_t>(rest));
                }
                partial.append(p, end);
                break;
            }
            if (partial.empty()) {
                lines_.Append(std::string_view(p, static_cast<size_t>(brk - p)));
            } else {
                partial.append(p, brk);
                lines_.Append(std::move(partial));
                partial = std::string();
            }
            if (*brk == '\r') {
                if (brk + 1 == end) {
                    afterCr = true;
                    p = end;
                } else if (brk[1] == '\n') {
                    p = brk + 2;
                } else {
                    clean = false;
                    p = brk + 1;
                }
            } else {
                clean = false;
                p = brk + 1;
            }
        }
    }
    if (afterCr) clean = false; // a lone CR at the very end
    if (!partial.empty()) {
        lines_.Append(std::move(partial)); // last line without a line break
        clean = false;
    }
    if (clean && total == static_cast<uint64_t>(st.st_size)) {
        savedCount_ = lines_.size();
        savedBytes_ = lines_.Bytes();
        RecordDiskState(fd);
    }
    close(fd);
}

// ---- index ----------------------------------------------------------------------------

template <class Same> int TIniFile32::LineTable::Find(uint32_t hash, Same same) const {
    if (slots_.empty()) return -1;
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.line == kEmpty) return -1;
        if (s.hash == hash && same(s.line)) return static_cast<int>(s.line);
    }
}

template <class Same> void TIniFile32::LineTable::Add(uint32_t hash, uint32_t line, Same same) {
    if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (s.line == kEmpty) {
            s = {hash, line};
            ++count_;
            return;
        }
        if (s.hash == hash && same(s.line)) {
            s.line = std::min(s.line, line); // the first line wins
            return;
        }
    }
}

void TIniFile32::LineTable::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_ = std::vector<Slot>();
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.line == kEmpty) continue;
        size_t i = s.hash & mask;
        while (slots_[i].line != kEmpty) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void TIniFile32::LineTable::ShiftFrom(uint32_t at) {
    for (Slot& s : slots_)
        if (s.line != kEmpty && s.line >= at) ++s.line;
}

void TIniFile32::LineTable::Clear() {
    slots_ = std::vector<Slot>();
    count_ = 0;
}

void TIniFile32::AddHeader(std::string_view line, int at) const {
    headers_.Add(FoldedHash(line), static_cast<uint32_t>(at),
                         [&](uint32_t other) { return SameText(lines_[other], line); });
}

void TIniFile32::EnsureIndex() const {
    if (indexBuilt_) return;
    headers_.Clear();
    sections_.clear();
    for (size_t i = lines_.NextBracket(TLineStore::npos); i < lines_.size(); i = lines_.NextBracket(i)) {
        const std::string_view line = lines_[i];
        if (IsHeaderLine(line)) AddHeader(line, static_cast<int>(i));
    }
    indexBuilt_ = true;
}

int TIniFile32::SectionEnd(int header) const { return static_cast<int>(lines_.NextBracket(static_cast<size_t>(header))); }

TIniFile32::LineTable& TIniFile32::KeysOf(int header) const {
    auto [it, inserted] = sections_.try_emplace(header);
    if (inserted) {
        const size_t end = static_cast<size_t>(SectionEnd(header));
        auto& keys = it->second;
        lines_.ForEach(static_cast<size_t>(header) + 1, [&](size_t i, std::string_view line) {
            if (i >= end) return false;
            const std::string_view key = KeyOf(line);
            keys.Add(KeyHash(key), static_cast<uint32_t>(i),
                             [&](uint32_t other) { return KeyOf(lines_[other]) == key; });
            return true;
        });
    }
    return it->second;
}

int TIniFile32::FindKey(int header, std::string_view key) const {
    return KeysOf(header).Find(KeyHash(key), [&](uint32_t line) { return KeyOf(lines_[line]) == key; });
}

int TIniFile32::FindSection(std::string_view section) const {
    EnsureIndex();
    if (lastHeader_ >= 0 && section == lastSection_) return lastHeader_;
    std::string header;
    header.reserve(section.size() + 2);
    header += '[';
    header += section;
    header += ']';
    const int found =
        headers_.Find(FoldedHash(header), [&](uint32_t line) { return SameText(lines_[line], header); });
    if (found >= 0) {
        lastSection_.assign(section);
        lastHeader_ = found;
    }
    return found;
}

std::string TIniFile32::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    if (lines_.empty()) return std::string(def);
    const int h = FindSection(section);
    if (h < 0) return std::string(def);
    const int line = FindKey(h, key);
    return line < 0 ? std::string(def) : std::string(ValueOf(lines_[static_cast<size_t>(line)]));
}

void TIniFile32::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line += key;
    line += '=';
    line += value;

    const int h = FindSection(section);
    if (h < 0) {
        std::string header;
        header.reserve(section.size() + 2);
        header += '[';
        header += section;
        header += ']';
        AppendLine(std::string());
        AppendLine(std::move(header));
        AppendLine(std::move(line));
    } else {
        const int found = FindKey(h, key);
        if (found >= 0) {
            ReplaceLine(found, h, line);
        } else {
            // Not in the section: the new line goes right before the line that ends the
            // section (a line holding "["), or at the end of the file.
            const int end = SectionEnd(h);
            if (end == static_cast<int>(lines_.size()))
                AppendLine(std::move(line));
            else
                InsertLine(end, line);
        }
    }
    // A write owes a save even when it changed no line: the file may not be in the saved
    // form yet (other line ends, no break at the end) or may have been replaced since. A
    // deferred store settles that at its checkpoint, as a plain one does here; a file that
    // already holds exactly these lines is not written again in either mode.
    modified_ = true;
    if (!deferred_) Flush(Mode::Plain);
}

void TIniFile32::MarkChanged(size_t fromLine) {
    modified_ = true;
    dirtyFrom_ = std::min(dirtyFrom_, fromLine);
}

void TIniFile32::AppendLine(std::string line) {
    const size_t at = lines_.size();
    lines_.Append(std::move(line));
    modified_ = true;
    if (!indexBuilt_) return;
    const std::string_view l = lines_[at];
    if (lines_.HasBracket(at)) {
        if (IsHeaderLine(l)) AddHeader(l, static_cast<int>(at));
    } else if (const size_t last = lines_.PrevBracket(at); last != TLineStore::npos) {
        // The line extends the section that reaches the end of the file, if any.
        if (auto s = sections_.find(static_cast<int>(last)); s != sections_.end()) {
            const std::string_view key = KeyOf(l);
            s->second.Add(KeyHash(key), static_cast<uint32_t>(at),
                                  [&](uint32_t other) { return KeyOf(lines_[other]) == key; });
        }
    }
}

void TIniFile32::InsertLine(int at, const std::string& line) {
    lines_.Insert(static_cast<size_t>(at), line);
    MarkChanged(static_cast<size_t>(at));
    shiftFrom_ = std::min(shiftFrom_, static_cast<size_t>(at));
    lastHeader_ = -1;
    if (!indexBuilt_) return;

    // Everything from `at` on moves down one line. Sections starting there lose their
    // key maps and rebuild them when next used; the section that gains the line ends
    // at `at`, so no other map holds a line past it.
    headers_.ShiftFrom(static_cast<uint32_t>(at));
    for (auto it = sections_.begin(); it != sections_.end();) {
        if (it->first >= at)
            it = sections_.erase(it);
        else
            ++it;
    }

    if (lines_.HasBracket(static_cast<size_t>(at))) {
        // An earlier equal header keeps its place: the first one wins.
        if (IsHeaderLine(line)) AddHeader(line, at);
    } else if (const size_t prev = lines_.PrevBracket(static_cast<size_t>(at)); prev != TLineStore::npos) {
        if (auto s = sections_.find(static_cast<int>(prev)); s != sections_.end()) {
            const std::string_view key = KeyOf(line);
            s->second.Add(KeyHash(key), static_cast<uint32_t>(at),
                                  [&](uint32_t other) { return KeyOf(lines_[other]) == key; });
        }
    }
}

// Replaces an entry of the section headed at `header` with an entry of the same key.
void TIniFile32::ReplaceLine(int at, int header, const std::string& line) {
    const size_t i = static_cast<size_t>(at);
    const std::string_view old = lines_[i];
    if (old == line) return;
    const bool sameLength = old.size() == line.size();
    lines_.Replace(i, line);
    // The old line holds no "[" (a section never reaches past one). A value bringing one
    // in ends the section here; the new line cannot be a header, its key having no "[".
    if (lines_.HasBracket(i)) sections_.erase(header);
    MarkChanged(i);
    // A saved line that keeps its length moves nothing after it: a tail rewrite can
    // patch it alone. Any other change shifts the bytes from that line on.
    if (sameLength && i < savedCount_) {
        if (i < shiftFrom_) patched_.push_back(i);
    } else {
        shiftFrom_ = std::min(shiftFrom_, i);
    }
}

// ---- saving ---------------------------------------------------------------------------

void TIniFile32::Save() { Flush(Mode::Plain); }

void TIniFile32::SetDeferred(bool on) {
    if (deferred_ && !on && modified_) Checkpoint();
    deferred_ = on;
}

void TIniFile32::Checkpoint() {
    if (!modified_) return;
    Flush(deferred_ ? Mode::AllowTailRewrite : Mode::Plain);
}

void TIniFile32::Flush(Mode mode) {
    if (DiskIsOurs()) {
        if (dirtyFrom_ >= savedCount_) {
            if (lines_.size() > savedCount_) AppendInPlace();
        } else if (mode == Mode::AllowTailRewrite && createdHere_) {
            RewriteTail();
        } else {
            RewriteWhole();
        }
    } else {
        RewriteWhole();
    }
    modified_ = false;
    dirtyFrom_ = SIZE_MAX;
    shiftFrom_ = SIZE_MAX;
    patched_.clear();
}

bool TIniFile32::DiskIsOurs() const {
    if (!diskKnown_) return false;
    struct stat st;
    if (stat(fileName_.c_str(), &st) != 0) return false;
    return st.st_dev == diskDev_ && st.st_ino == diskIno_ && st.st_size == diskSize_ && MtimeNs(st) == diskMtimeNs_;
}

void TIniFile32::RecordDiskState(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        diskKnown_ = false;
        return;
    }
    diskDev_ = st.st_dev;
    diskIno_ = st.st_ino;
    diskSize_ = st.st_size;
    diskMtimeNs_ = MtimeNs(st);
    diskKnown_ = static_cast<uint64_t>(st.st_size) == savedBytes_;
}

bool TIniFile32::WriteLinesAt(int fd, size_t fromLine, off_t at) {
    // One buffer of bounded size for the life of the store: the memorizer saves a tail
    // at every directory, and a whole file is never copied into memory to be saved.
    constexpr size_t kBlock = size_t(1) << 20;
    std::string& out = serialized_;
    out.clear();
    bool ok = true;
    auto flush = [&] {
        ok = WriteAllAt(fd, out, at);
        at += static_cast<off_t>(out.size());
        out.clear();
        return ok;
    };
    lines_.ForEach(fromLine, [&](size_t, std::string_view line) {
        if (line.size() >= kBlock) {
            // A long line goes out straight from the store.
            if (!flush() || !(ok = WriteAllAt(fd, line, at))) return false;
            at += static_cast<off_t>(line.size());
        } else {
            out += line;
        }
        out += "\r\n";
        return out.size() < kBlock || flush();
    });
    return ok && flush();
}

bool TIniFile32::WriteAllAt(int fd, std::string_view bytes, off_t at) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<size_t>(n);
        bytesWritten_ += static_cast<uint64_t>(n);
    }
    return true;
}

void TIniFile32::ThrowCreate() const { throw EFileError(Format("Cannot create file %s", fileName_)); }

void TIniFile32::CloseFd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

// Opens the write handle on the saved file when the store has none yet (a file loaded
// from disk). False when the name now leads to another file.
bool TIniFile32::OpenSavedFile() {
    if (fd_ >= 0) return true;
    const int fd = open(fileName_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) ThrowCreate();
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_dev != diskDev_ || st.st_ino != diskIno_) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void TIniFile32::AppendInPlace() {
    if (!OpenSavedFile()) {
        RewriteWhole();
        return;
    }
    const off_t oldSize = diskSize_;
    if (!WriteLinesAt(fd_, savedCount_, oldSize)) {
        // Take back a partial append so the file stays as it was.
        if (ftruncate(fd_, oldSize) == 0)
            RecordDiskState(fd_);
        else
            diskKnown_ = false;
        ThrowCreate();
    }
    savedCount_ = lines_.size();
    savedBytes_ = lines_.Bytes();
    RecordDiskState(fd_);
}

void TIniFile32::RewriteTail() {
    if (!OpenSavedFile()) {
        RewriteWhole();
        return;
    }
    // Lines before `from` kept their offsets: the ones replaced by a value of the same
    // length are written alone, the rest of the file from `from` on.
    const size_t from = std::min(shiftFrom_, savedCount_);
    for (const size_t i : patched_) {
        if (i >= from) continue;
        if (!WriteAllAt(fd_, lines_[i], static_cast<off_t>(lines_.BytesBefore(i)))) {
            diskKnown_ = false; // torn: the next save rewrites the whole file
            ThrowCreate();
        }
    }
    const off_t at = static_cast<off_t>(lines_.BytesBefore(from));
    // A tail that grew needs no truncation; one that shrank must drop the old end.
    const off_t end = static_cast<off_t>(lines_.Bytes());
    if (!WriteLinesAt(fd_, from, at) || (end < diskSize_ && ftruncate(fd_, end) != 0)) {
        diskKnown_ = false; // torn: the next save rewrites the whole file
        ThrowCreate();
    }
    savedCount_ = lines_.size();
    savedBytes_ = lines_.Bytes();
    RecordDiskState(fd_);
}

void TIniFile32::RewriteWhole() {
    // A symbolic link keeps pointing at the record: replace the file it leads to.
    std::string target = fileName_;
    struct stat st;
    bool exists = lstat(target.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
        exists = stat(target.c_str(), &st) == 0;
    }
    DosAttributes dos;
    if (exists) {
        if (S_ISDIR(st.st_mode)) ThrowCreate();
        // A file that may not be written (read-only, access denied) is not replaced,
        // even though its folder would allow the rename.
        const int probe = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (probe < 0) ThrowCreate();
        dos = ReadDosAttributes(probe);
        close(probe);
    }

    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    // The temporary file is born with at most the final permissions (the umask can only
    // narrow them, and the fchmod below restores them exactly): a private record is never
    // readable by others, not even while it is being written.
    const mode_t finalMode = exists ? (st.st_mode & 07777) : 0666;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (dir == "/" ? std::string() : dir) + "/.~ini-" + std::to_string(getpid()) + "-" +
               std::to_string(tempCounter.fetch_add(1)) + ".tmp";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, finalMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) ThrowCreate();

    auto fail = [&]() {
        close(fd);
        unlink(temp.c_str());
        ThrowCreate();
    };
    if (!WriteLinesAt(fd, 0, 0)) fail();
    if (exists) {
        struct stat made;
        if (fstat(fd, &made) != 0 || (made.st_mode & 07777) != finalMode) (void)fchmod(fd, finalMode);
        // Keeping the owner needs the right to give files away; without it the saver owns the file.
        if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
        ApplyDosAttributes(fd, dos);
    }
    if (fsync(fd) != 0) fail();
    if (rename(temp.c_str(), target.c_str()) != 0) fail();

    CloseFd();
    fd_ = fd;
    savedCount_ = lines_.size();
    savedBytes_ = lines_.Bytes();
    RecordDiskState(fd_);
}

} // namespace quindle
