#include "cli/RecordText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace quindle {

std::optional<std::string> ReadRecordText(const std::string& path) {
    // O_NONBLOCK: a FIFO by that name cannot hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw EFileError(Format("Cannot open file %s", path));
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        throw EFileError(Format("Cannot open file %s", path));
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            throw EFileError(Format("Cannot open file %s", path));
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

namespace {
bool HoldsIgnoringCase(std::string_view line, std::string_view upperWord) {
    if (upperWord.size() > line.size()) return false;
    for (size_t i = 0; i + upperWord.size() <= line.size(); ++i) {
        size_t j = 0;
        while (j < upperWord.size() &&
               UpperByte(static_cast<unsigned char>(line[i + j])) == static_cast<unsigned char>(upperWord[j]))
            ++j;
        if (j == upperWord.size()) return true;
    }
    return false;
}
} // namespace

void ForEachLineHolding(std::string_view text, std::string_view word, std::string_view infoSection,
                        const std::function<void(const RecordLineMatch&)>& fn) {
    if (word.empty()) return;
    std::string upper(word);
    for (char& c : upper) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
    std::string_view section;
    bool info = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        const std::string_view line = text.substr(at, end - at);
        const bool header = line.size() >= 2 && line.front() == '[' && line.back() == ']';
        if (header) {
            section = line.substr(1, line.size() - 2);
            info = SameText(std::string(section), std::string(infoSection));
        }
        if (HoldsIgnoringCase(line, upper)) {
            std::string_view key;
            if (!header) key = info ? line : line.substr(0, line.find('='));
            fn({section, key});
        }
        at = end;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at < text.size() && text[at] == '\n' && (at == 0 || text[at - 1] == '\r' || at == end)) ++at;
    }
}

} // namespace quindle
