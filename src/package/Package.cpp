#include "package/Package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "browse/FileListBox.h"
#include "catalogue/DiskCatalogue.h"
#include "records/DiskRecord.h"
#include "records/PackageTitles.h"
#include "search/RecordLines.h"

namespace quindle {

void SetPackageListerRule(TFileListBox& lister) {
    lister.SetMask("*.dat");
    lister.SetFileType(ftReadOnly | ftHidden | ftArchive | ftNormal);
}

std::vector<std::string> PackageRecordFiles(const std::string& packageFolder) {
    AppContext own;
    TFileListBox files(own);
    SetPackageListerRule(files);
    files.SetDirectory(packageFolder);
    files.RefreshList();
    return files.CopyItems();
}

namespace {

// The offset in `text` of the line that is the section's header ("[" + section + "]",
// ASCII case ignored, alone on its line), npos when there is none.
size_t HeaderLine(std::string_view text, std::string_view section) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const size_t len = section.size() + 2;
    for (size_t at = 0; (at = text.find('[', at)) != std::string_view::npos; ++at) {
        if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r') continue;
        if (text.size() - at < len) break;
        bool same = text[at + len - 1] == ']';
        for (size_t k = 0; same && k < section.size(); ++k) same = lower(text[at + 1 + k]) == lower(section[k]);
        const size_t end = at + len;
        if (same && (end == text.size() || text[end] == '\r' || text[end] == '\n')) return at;
    }
    return std::string_view::npos;
}

void FillInfo(DiskInfo& info, std::string_view text, std::string_view section) {
    info.title = FindIniValue(text, section, "Title");
    info.description = FindIniValue(text, section, "Description");
    info.additional = FindIniValue(text, section, "Additional");
    info.date = FindIniValue(text, section, "Memorization Date");
}

} // namespace

DiskInfo ReadDiskInfo(const std::string& recordPath, std::string_view infoSection) {
    DiskInfo info;
    const size_t slash = recordPath.rfind('/');
    info.serial = SerialOfRecordName(recordPath.substr(slash == std::string::npos ? 0 : slash + 1));
    constexpr off_t kTail = 64 * 1024;
    const int fd = open(recordPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return info;
    struct stat st;
    std::string tail;
    bool whole = false;
    // Only a regular file is a record: a device never ends, a FIFO may block.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t want = std::min<off_t>(st.st_size, kTail);
        tail.resize(static_cast<size_t>(want));
        const ssize_t r = pread(fd, tail.data(), tail.size(), st.st_size - want);
        tail.resize(r > 0 ? static_cast<size_t>(r) : 0);
        whole = st.st_size <= kTail;
    }
    close(fd);
    if (const size_t at = HeaderLine(tail, infoSection); at != std::string::npos || whole) {
        if (at != std::string::npos) FillInfo(info, std::string_view(tail).substr(at), infoSection);
        info.readable = whole ? tail.size() == static_cast<size_t>(st.st_size) : true;
        return info;
    }
    try {
        const TRecordText record(recordPath);
        if (record.Present()) {
            FillInfo(info, record.Text(), infoSection);
            info.readable = true;
        }
    } catch (const std::exception&) {
    }
    return info;
}

DiskSummary SummarizeDisk(const std::string& packageFolder, const std::string& recordFile,
                          std::string_view infoSection) {
    const std::string record = packageFolder + recordFile;
    DiskSummary s;
    s.info = ReadDiskInfo(record, infoSection);
    s.memorized = ParseMemorizationDate(s.info.date);
    try {
        DiskCatalogueHeader h = OpenDiskCatalogueHeader(record, infoSection);
        if (h.header) {
            s.figures = h.header->figures;
            s.catalogue = "valid";
        } else {
            s.catalogue = CatalogueProblemText(h.problem);
        }
    } catch (const std::exception&) {
        s.catalogue = "the catalogue cannot be read";
    }
    return s;
}

LoadedDisk LoadPackageDisk(const std::string& packageFolder, const std::string& recordFile,
                           std::string_view infoSection) {
    const std::string record = packageFolder + recordFile;
    LoadedDisk out;
    out.info = ReadDiskInfo(record, infoSection);
    try {
        DiskCatalogue dc = OpenDiskCatalogue(record, infoSection);
        out.catalogue = std::move(dc.catalogue);
        if (!out.catalogue) out.reason = CatalogueProblemText(dc.problem);
    } catch (const std::bad_alloc&) {
        out.catalogue.reset();
        out.reason = CatalogueProblemText(CatalogueProblem::TooLarge);
    } catch (const std::exception& e) {
        out.catalogue.reset();
        out.reason = std::string("the catalogue cannot be read (") + e.what() + ")";
    }
    return out;
}

PackageCatalogues LoadPackageCatalogues(const std::string& packageFolder, const std::vector<std::string>& recordFiles,
                                        std::string_view infoSection, unsigned threads, LoadProgress* progress) {
    std::vector<LoadedDisk> loaded(recordFiles.size());
    std::vector<char> done(recordFiles.size(), 0);
    std::atomic<size_t> next{0};
    if (progress) progress->total = recordFiles.size();
    // Nothing leaves a thread: LoadPackageDisk answers every failure with a reason, and
    // what else could be thrown (memory for the reason itself) ends that thread's share.
    const auto work = [&]() noexcept {
        try {
            for (size_t i; (i = next.fetch_add(1)) < recordFiles.size();) {
                if (progress && progress->cancel) return;
                loaded[i] = LoadPackageDisk(packageFolder, recordFiles[i], infoSection);
                done[i] = 1;
                if (progress) ++progress->done;
            }
        } catch (...) {
        }
    };
    threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(recordFiles.size())));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();

    PackageCatalogues out;
    out.cancelled = progress && progress->cancel;
    for (size_t i = 0; i < recordFiles.size(); ++i) {
        LoadedDisk& l = loaded[i];
        if (!done[i]) {
            // Cancelled before it was read, or its thread ran out of memory.
            if (!out.cancelled)
                out.skipped.push_back({ReadDiskInfo(packageFolder + recordFiles[i], infoSection),
                                       "the catalogue cannot be read"});
            continue;
        }
        if (l.catalogue)
            out.disks.push_back({std::move(l.info), std::move(*l.catalogue)});
        else
            out.skipped.push_back({std::move(l.info), std::move(l.reason)});
    }
    return out;
}

void ForEachPackageDisk(const std::string& packageFolder, const std::vector<std::string>& recordFiles,
                        std::string_view infoSection, const std::function<void(LoadedDisk&)>& fn,
                        LoadProgress* progress) {
    if (progress) progress->total = recordFiles.size();
    const auto load = [&](size_t i) noexcept {
        LoadedDisk d;
        try {
            d = LoadPackageDisk(packageFolder, recordFiles[i], infoSection);
        } catch (...) { // memory for the reason itself
            d.catalogue.reset();
            d.reason = "the catalogue cannot be read";
        }
        return d;
    };
    if (recordFiles.empty()) return;
    LoadedDisk current = load(0);
    for (size_t i = 0; i < recordFiles.size(); ++i) {
        if (progress && progress->cancel) return;
        LoadedDisk next;
        std::thread ahead;
        if (i + 1 < recordFiles.size()) ahead = std::thread([&, i] { next = load(i + 1); });
        // The reader is joined whatever fn throws.
        struct Join {
            std::thread& t;
            ~Join() {
                if (t.joinable()) t.join();
            }
        } join{ahead};
        fn(current);
        if (progress) ++progress->done;
        if (ahead.joinable()) ahead.join();
        current = std::move(next);
    }
}

} // namespace quindle
