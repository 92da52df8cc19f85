#include "records/PackageTitles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace quindle {

namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Position just past the line break at `at` (CR LF counts as one), or `at` at the end.
size_t SkipLineBreak(std::string_view text, size_t at) {
    if (at >= text.size()) return at;
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    return at + 1;
}

bool EqualsIgnoringCase(const char* a, std::string_view b) {
    for (size_t i = 0; i < b.size(); ++i)
        if (LowerByte(static_cast<unsigned char>(a[i])) != LowerByte(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// Index of the first header line of `header` ("[name]"), or npos. Every header begins
// with "[" at the start of a line, so only the "[" bytes of the text are candidates, and
// memchr finds those at memory speed; section headers and names holding "[" are few.
size_t FindHeader(std::string_view text, std::string_view header) {
    const char* base = text.data();
    const size_t n = text.size();
    size_t pos = 0;
    while (pos < n) {
        const void* hit = std::memchr(base + pos, '[', n - pos);
        if (!hit) return std::string_view::npos;
        const size_t p = static_cast<size_t>(static_cast<const char*>(hit) - base);
        const bool lineStart = p == 0 || IsLineBreak(base[p - 1]);
        if (lineStart && n - p >= header.size() && EqualsIgnoringCase(base + p, header) &&
            (p + header.size() == n || IsLineBreak(base[p + header.size()])))
            return p;
        pos = p + 1;
    }
    return std::string_view::npos;
}

} // namespace

std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key) {
    // No line holds a line break, so such a section has no header, even where its bytes
    // stand in the text across a break.
    if (section.find_first_of("\r\n") != std::string_view::npos) return {};
    std::string header;
    header.reserve(section.size() + 2);
    header += '[';
    header += section;
    header += ']';
    const size_t h = FindHeader(text, header);
    if (h == std::string_view::npos) return {};

    size_t at = SkipLineBreak(text, h + header.size());
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && !IsLineBreak(text[end])) ++end;
        const std::string_view line = text.substr(at, end - at);
        if (line.find('[') != std::string_view::npos) return {}; // the section ends here
        const size_t eq = line.find('=');
        const std::string_view lineKey = eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
        if (lineKey == key) return std::string(eq == std::string_view::npos ? line : line.substr(eq + 1));
        at = SkipLineBreak(text, end);
    }
    return {};
}

TRecordTitleReader::TRecordTitleReader() = default;
TRecordTitleReader::~TRecordTitleReader() = default;

std::string TRecordTitleReader::Read(const std::string& path, std::string_view section, std::string_view key) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        throw EFileError(Format("Cannot open file %s", path));
    }
    struct stat st;
    // Only a regular file is a record: a device such as /dev/zero never ends, and a FIFO
    // or socket may block or hand over someone else's data.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        throw EFileError(Format("Cannot open file %s", path));
    }
    auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    if (auto r = remembered_.find(path); r != remembered_.end()) {
        const Remembered& m = r->second;
        if (m.dev == st.st_dev && m.ino == st.st_ino && m.size == st.st_size &&
            same(m.mtime, st.st_mtim) && same(m.ctime, st.st_ctim) && m.section == section && m.key == key) {
            close(fd);
            return m.value;
        }
    }
    // One read of the whole file into a buffer that lives across calls; the size is only
    // a hint (the file may grow meanwhile).
    size_t want = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 1 << 16;
    size_t len = 0;
    for (;;) {
        if (cap_ - len < 1 || cap_ < want) {
            const size_t cap = std::max({want, cap_ * 2, static_cast<size_t>(1) << 16});
            std::unique_ptr<char[]> bigger(new char[cap]);
            if (len) std::memcpy(bigger.get(), buf_.get(), len);
            buf_ = std::move(bigger);
            cap_ = cap;
        }
        const ssize_t r = read(fd, buf_.get() + len, cap_ - len);
        if (r < 0) {
            if (errno == EINTR) continue;
            close(fd);
            throw EFileError(Format("Cannot open file %s", path));
        }
        if (r == 0) break;
        len += static_cast<size_t>(r);
        if (len == cap_) want = cap_ * 2;
    }
    close(fd);
    std::string value = FindIniValue(std::string_view(buf_.get(), len), section, key);
    if (static_cast<off_t>(len) == st.st_size)
        remembered_[path] = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim,
                             std::string(section), std::string(key), value};
    // A package of ordinary records keeps one buffer of a few megabytes; an outsized
    // record does not pin its memory for the rest of the run.
    if (cap_ > (static_cast<size_t>(64) << 20)) {
        buf_.reset();
        cap_ = 0;
    }
    return value;
}

std::string ReadRecordTitle(const std::string& path, std::string_view infoSection) {
    TRecordTitleReader reader;
    return reader.Read(path, infoSection, "Title");
}

} // namespace quindle
