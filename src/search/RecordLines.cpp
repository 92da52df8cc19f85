#include "search/RecordLines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace quindle {

namespace {

[[noreturn]] void CannotOpen(const std::string& path) { throw EFileError(Format("Cannot open file %s", path)); }

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

// End of the line starting at `p` (the first CR or LF, or `end`).
const char* LineEnd(const char* p, const char* end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lf) lf = end;
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lf - p)));
    return cr ? cr : lf;
}

// Walks the lines; `wanted(lineStart, lineEnd)` says whether fn sees the line. Headers are
// looked at for every line, whatever `wanted` says.
template <class Wanted>
void Walk(std::string_view text, std::string_view infoSection, Wanted&& wanted,
          const std::function<void(const RecordLine&)>& fn) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    std::string_view section;
    bool info = false;
    for (const char* p = begin; p < end;) {
        const char* e = LineEnd(p, end);
        const std::string_view line(p, static_cast<size_t>(e - p));
        const bool header = line.size() >= 2 && line.front() == '[' && line.back() == ']';
        if (header) {
            section = line.substr(1, line.size() - 2);
            info = SameText(section, infoSection);
        }
        if (wanted(p, e)) {
            RecordLine rl;
            rl.section = section;
            rl.text = line;
            rl.header = header;
            rl.info = info;
            const size_t eq = header ? std::string_view::npos : (info ? line.find('=') : line.rfind('='));
            rl.key = eq == std::string_view::npos ? line : line.substr(0, eq);
            if (eq != std::string_view::npos) rl.value = line.substr(eq + 1);
            fn(rl);
        }
        if (e == end) break;
        p = (*e == '\r' && e + 1 < end && e[1] == '\n') ? e + 2 : e + 1;
    }
}

} // namespace

TRecordText::TRecordText(const std::string& path) {
    // O_NONBLOCK so that a FIFO by that name cannot hang at open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            present_ = false;
            return;
        }
        CannotOpen(path);
    }
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) CannotOpen(path);
    const size_t size = static_cast<size_t>(st.st_size);
    text_.resize(size);
    size_t len = 0;
    while (len < size) {
        const ssize_t r = ::read(fd, text_.data() + len, size - len);
        if (r < 0) {
            if (errno == EINTR) continue;
            CannotOpen(path);
        }
        if (r == 0) break; // the file shrank while we read it
        len += static_cast<size_t>(r);
    }
    text_.resize(len);
}

TRecordText TRecordText::FromText(std::string text) {
    TRecordText r;
    r.text_ = std::move(text);
    return r;
}

void TRecordText::ForEachLine(std::string_view infoSection, const std::function<void(const RecordLine&)>& fn) const {
    Walk(text_, infoSection, [](const char*, const char*) { return true; }, fn);
}

void TRecordText::ForEachMatchingLine(std::string_view word, std::string_view infoSection,
                                      const std::function<void(const RecordLine&)>& fn) const {
    if (word.empty() || word.find_first_of("\r\n") != std::string_view::npos || text_.size() < word.size()) return;
    // One folded copy of the text; the next match is found over the whole rest of it, so
    // lines without the word cost only their line-end search.
    std::string folded(text_.size(), '\0');
    for (size_t i = 0; i < text_.size(); ++i)
        folded[i] = static_cast<char>(LowerByte(static_cast<unsigned char>(text_[i])));
    std::string needle(word.size(), '\0');
    for (size_t i = 0; i < word.size(); ++i) needle[i] = static_cast<char>(LowerByte(static_cast<unsigned char>(word[i])));
    const char* const base = text_.data();
    const char* const fbase = folded.data();
    auto nextFrom = [&](size_t from) -> size_t {
        if (from >= folded.size()) return folded.size();
        const void* hit = ::memmem(fbase + from, folded.size() - from, needle.data(), needle.size());
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - fbase) : folded.size();
    };
    size_t next = nextFrom(0);
    // A word without CR or LF never spans a line end, so a match starting in a line lies in it.
    Walk(text_, infoSection,
         [&](const char* s, const char* e) {
             const size_t ls = static_cast<size_t>(s - base), le = static_cast<size_t>(e - base);
             if (next >= le || next < ls) return false;
             next = nextFrom(le);
             return true;
         },
         fn);
}

void ForEachMatchingLine(const std::string& path, std::string_view word, std::string_view infoSection,
                         const std::function<void(const RecordLine&)>& fn) {
    TRecordText(path).ForEachMatchingLine(word, infoSection, fn);
}

} // namespace quindle
