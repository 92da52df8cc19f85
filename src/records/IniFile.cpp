#include "records/IniFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
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

bool HasBracket(std::string_view line) { return line.find('[') != std::string_view::npos; }

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
    std::string text;
    if (S_ISREG(st.st_mode) && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            throw EFileError(Format("Cannot open file %s", fileName_));
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }

    // The file is "clean" when it is exactly what Serialize() would write: then later
    // saves may append to it in place.
    bool clean = S_ISREG(st.st_mode) && static_cast<off_t>(text.size()) == st.st_size;
    // A NUL byte is an ordinary character: ending the text there would make the next
    // save drop everything after it, the information section included.
    size_t start = 0;
    while (start < text.size()) {
        const size_t brk = text.find_first_of("\r\n", start);
        if (brk == std::string::npos) {
            lines_.emplace_back(text, start); // last line without a line break
            clean = false;
            break;
        }
        lines_.emplace_back(text, start, brk - start);
        if (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') {
            start = brk + 2;
        } else {
            clean = false;
            start = brk + 1;
        }
    }
    if (clean) {
        offsets_.assign(1, 0);
        ExtendOffsets(0);
        savedCount_ = lines_.size();
        RecordDiskState(fd);
    }
    close(fd);
}

// ---- index ----------------------------------------------------------------------------

int TIniFile32::SectionKeys::Find(std::string_view key, const std::vector<std::string>& lines) const {
    if (slots_.empty()) return -1;
    const uint64_t h = std::hash<std::string_view>()(key);
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.line < 0) return -1;
        if (s.hash == h && KeyOf(lines[static_cast<size_t>(s.line)]) == key) return s.line;
    }
}

void TIniFile32::SectionKeys::AddIfAbsent(std::string_view key, int line, const std::vector<std::string>& lines) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const uint64_t h = std::hash<std::string_view>()(key);
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (s.line < 0) {
            s = {h, line};
            ++count_;
            return;
        }
        if (s.hash == h && KeyOf(lines[static_cast<size_t>(s.line)]) == key) return; // the first line wins
    }
}

void TIniFile32::SectionKeys::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.line < 0) continue;
        size_t i = s.hash & mask;
        while (slots_[i].line >= 0) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void TIniFile32::EnsureIndex() const {
    if (indexBuilt_) return;
    headers_.clear();
    brackets_.clear();
    sections_.clear();
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (!HasBracket(line)) continue;
        brackets_.push_back(static_cast<int>(i));
        if (IsHeaderLine(line)) headers_.try_emplace(AnsiLowerCase(line), static_cast<int>(i));
    }
    indexBuilt_ = true;
}

int TIniFile32::SectionEnd(int header) const {
    const auto it = std::upper_bound(brackets_.begin(), brackets_.end(), header);
    return it == brackets_.end() ? static_cast<int>(lines_.size()) : *it;
}

TIniFile32::SectionKeys& TIniFile32::KeysOf(int header) const {
    auto [it, inserted] = sections_.try_emplace(header);
    if (inserted) {
        const int end = SectionEnd(header);
        auto& keys = it->second;
        for (int i = header + 1; i < end; ++i) keys.AddIfAbsent(KeyOf(lines_[i]), i, lines_);
    }
    return it->second;
}

int TIniFile32::FindSection(std::string_view section) const {
    EnsureIndex();
    std::string header;
    header.reserve(section.size() + 2);
    header += '[';
    header += section;
    header += ']';
    const auto it = headers_.find(AnsiLowerCase(header));
    return it == headers_.end() ? -1 : it->second;
}

std::string TIniFile32::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    if (lines_.empty()) return std::string(def);
    const int h = FindSection(section);
    if (h < 0) return std::string(def);
    const int line = KeysOf(h).Find(key, lines_);
    return line < 0 ? std::string(def) : std::string(ValueOf(lines_[line]));
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
        const int found = KeysOf(h).Find(key, lines_);
        if (found >= 0) {
            ReplaceLine(found, h, std::move(line));
        } else {
            // Not in the section: the new line goes right before the line that ends the
            // section (a line holding "["), or at the end of the file.
            const int end = SectionEnd(h);
            if (end == static_cast<int>(lines_.size()))
                AppendLine(std::move(line));
            else
                InsertLine(end, std::move(line));
        }
    }
    if (!deferred_) Flush(Mode::Plain);
}

void TIniFile32::MarkChanged(size_t fromLine) {
    modified_ = true;
    dirtyFrom_ = std::min(dirtyFrom_, fromLine);
}

void TIniFile32::AppendLine(std::string line) {
    const int at = static_cast<int>(lines_.size());
    lines_.push_back(std::move(line));
    modified_ = true;
    if (!indexBuilt_) return;
    const std::string& l = lines_.back();
    if (HasBracket(l)) {
        brackets_.push_back(at);
        if (IsHeaderLine(l)) headers_.try_emplace(AnsiLowerCase(l), at);
    } else if (!brackets_.empty()) {
        // The line extends the section that reaches the end of the file, if any.
        if (auto s = sections_.find(brackets_.back()); s != sections_.end())
            s->second.AddIfAbsent(KeyOf(l), at, lines_);
    }
}

void TIniFile32::InsertLine(int at, std::string line) {
    lines_.insert(lines_.begin() + at, std::move(line));
    MarkChanged(static_cast<size_t>(at));
    shiftFrom_ = std::min(shiftFrom_, static_cast<size_t>(at));
    if (!indexBuilt_) return;
    const std::string& l = lines_[static_cast<size_t>(at)];

    // Everything from `at` on moves down one line. Sections starting there lose their
    // key maps and rebuild them when next used.
    for (auto it = std::lower_bound(brackets_.begin(), brackets_.end(), at); it != brackets_.end(); ++it) ++*it;
    for (auto& [name, index] : headers_)
        if (index >= at) ++index;
    for (auto it = sections_.begin(); it != sections_.end();) {
        if (it->first >= at)
            it = sections_.erase(it);
        else
            ++it;
    }

    if (HasBracket(l)) {
        brackets_.insert(std::lower_bound(brackets_.begin(), brackets_.end(), at), at);
        if (IsHeaderLine(l)) {
            auto [it, inserted] = headers_.try_emplace(AnsiLowerCase(l), at);
            if (!inserted && it->second > at) it->second = at;
        }
    } else {
        const auto pos = std::lower_bound(brackets_.begin(), brackets_.end(), at);
        if (pos != brackets_.begin()) {
            if (auto s = sections_.find(*(pos - 1)); s != sections_.end())
                s->second.AddIfAbsent(KeyOf(l), at, lines_);
        }
    }
}

// Replaces an entry of the section headed at `header` with an entry of the same key.
void TIniFile32::ReplaceLine(int at, int header, std::string line) {
    std::string& old = lines_[static_cast<size_t>(at)];
    if (old == line) return;
    // The old line holds no "[" (a section never reaches past one). A value bringing one
    // in ends the section here; the new line cannot be a header, its key having no "[".
    if (HasBracket(line)) {
        brackets_.insert(std::lower_bound(brackets_.begin(), brackets_.end(), at), at);
        sections_.erase(header);
    }
    const bool sameLength = old.size() == line.size();
    old = std::move(line);
    MarkChanged(static_cast<size_t>(at));
    // A saved line that keeps its length moves nothing after it: a tail rewrite can
    // patch it alone. Any other change shifts the bytes from that line on.
    const size_t i = static_cast<size_t>(at);
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
    diskKnown_ = static_cast<uint64_t>(st.st_size) == offsets_[savedCount_];
}

void TIniFile32::ExtendOffsets(size_t fromLine) {
    offsets_.resize(fromLine + 1);
    uint64_t pos = offsets_.back();
    for (size_t i = fromLine; i < lines_.size(); ++i) {
        pos += lines_[i].size() + 2;
        offsets_.push_back(pos);
    }
}

const std::string& TIniFile32::Serialize(size_t fromLine) const {
    // One buffer for the life of the store: the memorizer serialises a tail at every
    // directory, and a fresh allocation each time shows in its profile.
    size_t total = 0;
    for (size_t i = fromLine; i < lines_.size(); ++i) total += lines_[i].size() + 2;
    std::string& out = serialized_;
    out.clear();
    out.reserve(total);
    for (size_t i = fromLine; i < lines_.size(); ++i) {
        out += lines_[i];
        out += "\r\n";
    }
    return out;
}

bool TIniFile32::WriteAllAt(int fd, const std::string& bytes, off_t at) {
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
    const std::string& tail = Serialize(savedCount_);
    const off_t oldSize = diskSize_;
    if (!WriteAllAt(fd_, tail, oldSize)) {
        // Take back a partial append so the file stays as it was.
        if (ftruncate(fd_, oldSize) == 0)
            RecordDiskState(fd_);
        else
            diskKnown_ = false;
        ThrowCreate();
    }
    ExtendOffsets(savedCount_);
    savedCount_ = lines_.size();
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
        const std::string& line = lines_[i];
        if (!WriteAllAt(fd_, line, static_cast<off_t>(offsets_[i]))) {
            diskKnown_ = false; // torn: the next save rewrites the whole file
            ThrowCreate();
        }
    }
    const std::string& tail = Serialize(from);
    const off_t at = static_cast<off_t>(offsets_[from]);
    // A tail that grew needs no truncation; one that shrank must drop the old end.
    const off_t end = at + static_cast<off_t>(tail.size());
    if (!WriteAllAt(fd_, tail, at) || (end < diskSize_ && ftruncate(fd_, end) != 0)) {
        diskKnown_ = false; // torn: the next save rewrites the whole file
        ThrowCreate();
    }
    ExtendOffsets(from);
    savedCount_ = lines_.size();
    RecordDiskState(fd_);
}

void TIniFile32::RewriteWhole() {
    // A symbolic link keeps pointing at the record: replace the file it leads to.
    std::string target = fileName_;
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }

    const bool exists = stat(target.c_str(), &st) == 0;
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
    const std::string& text = Serialize(0);
    if (!WriteAllAt(fd, text, 0)) fail();
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
    offsets_.assign(1, 0);
    ExtendOffsets(0);
    savedCount_ = lines_.size();
    RecordDiskState(fd_);
}

} // namespace quindle
