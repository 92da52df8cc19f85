#include "catalogue/RecordBinding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"

namespace quindle {

namespace {

// Calls fn(lineStart, lineText) for each line (ends: CR LF, lone CR, lone LF) until fn
// returns false.
template <class Fn> void ForEachLine(std::string_view text, Fn fn) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        if (!fn(at, text.substr(at, end - at))) return;
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        at = end + 1;
    }
}

} // namespace

RecordBinding BindingOfRecordText(std::string_view record, std::string_view infoSection) {
    size_t header = record.size();
    std::string_view serial, date;
    bool inInfo = false, haveSerial = false, haveDate = false;
    ForEachLine(record, [&](size_t at, std::string_view line) {
        if (!inInfo) {
            if (line.size() == infoSection.size() + 2 && line.front() == '[' && line.back() == ']' &&
                SameText(line.substr(1, infoSection.size()), infoSection)) {
                header = at;
                inInfo = true;
            }
            return true;
        }
        if (line.find('[') != std::string_view::npos) return false; // the section ends
        const size_t eq = line.find('=');
        const std::string_view key = eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? line : line.substr(eq + 1);
        if (key == "Volume Serial" && !haveSerial) {
            serial = value;
            haveSerial = true;
        } else if (key == "Memorization Date" && !haveDate) {
            date = value;
            haveDate = true;
        }
        return true;
    });
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    XXH3_128bits_update(state, record.data(), header);
    for (const std::string_view v : {serial, date}) {
        XXH3_128bits_update(state, "\0", 1);
        XXH3_128bits_update(state, v.data(), v.size());
    }
    const XXH128_hash_t h = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    RecordBinding b;
    b.digestLow = h.low64;
    b.digestHigh = h.high64;
    b.boundBytes = header;
    return b;
}

namespace {

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWhole(const std::string& path, std::string& out, struct stat& st) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ReadResult::Failed;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    out.resize(done);
    return ReadResult::Ok;
}

int64_t MtimeNs(const struct stat& st) { return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec; }

} // namespace

std::optional<RecordBinding> BindingOfRecordFile(const std::string& path, std::string_view infoSection) {
    std::string text;
    struct stat st;
    if (ReadWhole(path, text, st) != ReadResult::Ok) return std::nullopt;
    RecordBinding b = BindingOfRecordText(text, infoSection);
    b.recordSize = static_cast<uint64_t>(st.st_size);
    b.recordInode = static_cast<uint64_t>(st.st_ino);
    b.recordMtimeNs = MtimeNs(st);
    return b;
}

CatalogueProblem CheckBinding(const RecordBinding& bound, const std::string& path, std::string_view infoSection) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? CatalogueProblem::NoRecord : CatalogueProblem::Unreadable;
    // The very file the walk renamed into place, untouched since: nothing to read.
    if (bound.recordInode != 0 && static_cast<uint64_t>(st.st_ino) == bound.recordInode &&
        static_cast<uint64_t>(st.st_size) == bound.recordSize && MtimeNs(st) == bound.recordMtimeNs)
        return CatalogueProblem::None;
    std::string text;
    switch (ReadWhole(path, text, st)) {
    case ReadResult::Missing: return CatalogueProblem::NoRecord;
    case ReadResult::Failed: return CatalogueProblem::Unreadable;
    case ReadResult::Ok: break;
    }
    const RecordBinding now = BindingOfRecordText(text, infoSection);
    const bool same = now.digestLow == bound.digestLow && now.digestHigh == bound.digestHigh &&
                      now.boundBytes == bound.boundBytes;
    return same ? CatalogueProblem::None : CatalogueProblem::NotBound;
}

} // namespace quindle
