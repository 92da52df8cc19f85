#include "verify/Verify.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "checksums/ProgressText.h"
#include "records/EntryLooks.h"

namespace quindle {

const char* VerifyStatusName(VerifyStatus s) {
    switch (s) {
    case VerifyStatus::Changed: return "changed";
    case VerifyStatus::Missing: return "missing";
    case VerifyStatus::Added: return "added";
    case VerifyStatus::Unreadable: return "unreadable";
    }
    return "changed";
}

std::string VerifyCountsText(const VerifyCounts& c, const std::function<std::string(uint64_t)>& number) {
    const auto n = [&](uint64_t v) { return number ? number(v) : std::to_string(v); };
    return n(c.same) + " same, " + n(c.changed) + " changed (" + n(c.silent) + " silent), " + n(c.missing) +
           " missing, " + n(c.added) + " added, " + n(c.unreadable) + " unreadable";
}

std::string VerifyProgress::Text() const {
    if (bytesTotal == 0 && bytesDone == 0) return std::to_string(entries) + " entries";
    return ReadProgressText(std::min(bytesDone, bytesTotal), bytesTotal, seconds);
}

namespace {

constexpr uint64_t kIdleEvery = 256; // entries between two idle calls

// The names in a folder (no "." and ".."); false with errno when it cannot be read.
bool ReadNames(int fd, std::vector<std::string>& names) {
    names.clear();
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    DIR* dir = fdopendir(copy);
    if (!dir) {
        const int e = errno;
        close(copy);
        errno = e;
        return false;
    }
    errno = 0;
    while (const dirent* d = readdir(dir)) {
        const std::string_view n = d->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
        errno = 0;
    }
    const int e = errno;
    closedir(dir);
    errno = e;
    return e == 0;
}

class Verifier {
public:
    Verifier(const Catalogue& c, const std::string& root, const VerifyControl& control)
        : c_(c), root_(root), control_(control), reader_(control.reader) {
        // Each folder's entries, in entry order: the folders that lie on the disk only
        // (an archive's members are compared through their archive).
        first_.assign(c.Count(), kNone);
        next_.assign(c.Count(), kNone);
        for (size_t i = c.Count(); i-- > 1;) {
            if (c.Member(i)) continue;
            next_[i] = first_[c.parent[i]];
            first_[c.parent[i]] = static_cast<uint32_t>(i);
            if (c.ChecksumOf(i)) progress_.bytesTotal += c.size[i];
        }
        if (!root_.empty() && root_.back() == '/') root_.pop_back();
    }

    VerifyResult Run() {
        out_.withChecksums = c_.HasChecksums();
        const int rootFd = open((root_.empty() ? std::string("/") : root_).c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0) throw std::runtime_error("the drive's folder cannot be read: " + std::string(std::strerror(errno)));
        struct stat st;
        fstat(rootFd, &st);
        dev_ = st.st_dev;
        Idle();
        std::vector<Work> stack{{rootFd, 0, std::string()}};
        while (!stack.empty() && !out_.cancelled) {
            Work w = std::move(stack.back());
            stack.pop_back();
            Folder(w, stack);
            if (w.fd >= 0) close(w.fd);
        }
        for (const Work& w : stack)
            if (w.fd >= 0) close(w.fd);
        while (reader_.Outstanding() > 0) {
            Idle();
            Results(reader_.Take(std::chrono::milliseconds(100)));
        }
        std::sort(out_.items.begin(), out_.items.end(),
                  [](const VerifyItem& a, const VerifyItem& b) { return a.path < b.path; });
        return std::move(out_);
    }

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Work {
        int fd;          // the folder on the disk, -1 for a missing one
        uint32_t folder; // its entry, kNone for an added one
        std::string rel; // "" for the root
    };
    struct Pending {
        uint32_t entry;
        std::string rel;
        uint64_t size;
        int64_t mtime;
    };

    static std::string Join(const std::string& rel, std::string_view name) {
        std::string p = rel;
        if (!p.empty()) p += '/';
        p += name;
        return p;
    }

    void Idle() {
        const ChecksumProgress p = reader_.Progress();
        progress_.bytesDone = p.bytesDone;
        progress_.seconds = p.seconds;
        if (control_.idle && control_.idle(progress_) && !out_.cancelled) {
            out_.cancelled = true;
            reader_.Cancel();
        }
    }
    void Looked() {
        if (++progress_.entries % kIdleEvery == 0) {
            Idle();
            Results(reader_.Take());
        }
    }

    void Add(VerifyItem item) {
        VerifyCounts& n = out_.counts;
        switch (item.status) {
        case VerifyStatus::Changed: ++n.changed; n.silent += item.silent ? 1 : 0; break;
        case VerifyStatus::Missing: ++n.missing; break;
        case VerifyStatus::Added: ++n.added; break;
        case VerifyStatus::Unreadable: ++n.unreadable; break;
        }
        out_.items.push_back(std::move(item));
    }
    VerifyItem Item(VerifyStatus s, std::string rel, const struct stat* st, uint32_t entry) {
        VerifyItem it;
        it.status = s;
        it.path = std::move(rel);
        if (st) {
            it.kind = KindOfMode(st->st_mode);
            it.size = it.kind == EntryKind::Folder ? 0 : static_cast<uint64_t>(st->st_size);
            it.mtime = static_cast<int64_t>(st->st_mtim.tv_sec);
        } else if (entry != kNone) {
            it.kind = c_.Kind(entry);
            it.size = c_.size[entry];
            it.mtime = c_.mtime[entry];
        }
        if (entry != kNone) {
            it.oldSize = c_.size[entry];
            it.oldMtime = c_.mtime[entry];
        }
        return it;
    }

    // Entry `e` and all it holds are not on the disk.
    void Missing(uint32_t e, const std::string& rel) {
        std::vector<std::pair<uint32_t, std::string>> todo{{e, rel}};
        while (!todo.empty()) {
            auto [i, path] = std::move(todo.back());
            todo.pop_back();
            Add(Item(VerifyStatus::Missing, path, nullptr, i));
            if (c_.Kind(i) == EntryKind::Folder)
                for (uint32_t k = first_[i]; k != kNone; k = next_[k]) todo.push_back({k, Join(path, c_.Name(k))});
        }
    }

    void Folder(const Work& w, std::vector<Work>& stack) {
        // The catalogue's entries of the folder and the disk's, each sorted by name bytes.
        std::vector<std::pair<std::string_view, uint32_t>> known;
        if (w.folder != kNone)
            for (uint32_t k = first_[w.folder]; k != kNone; k = next_[k]) known.push_back({c_.Name(k), k});
        std::sort(known.begin(), known.end());
        std::vector<std::string> names;
        if (w.fd >= 0 && !ReadNames(w.fd, names)) {
            VerifyItem it = Item(VerifyStatus::Unreadable, w.rel, nullptr, w.folder);
            it.kind = EntryKind::Folder;
            it.error = std::strerror(errno);
            Add(std::move(it));
            return;
        }
        std::sort(names.begin(), names.end());
        size_t a = 0, b = 0;
        while (a < known.size() || b < names.size()) {
            if (out_.cancelled) return;
            Looked();
            if (b == names.size() || (a < known.size() && known[a].first < names[b])) {
                Missing(known[a].second, Join(w.rel, known[a].first));
                ++a;
                continue;
            }
            const bool inCatalogue = a < known.size() && known[a].first == names[b];
            const uint32_t e = inCatalogue ? known[a].second : kNone;
            const std::string& name = names[b];
            std::string rel = Join(w.rel, name);
            if (inCatalogue) ++a;
            ++b;
            struct stat st;
            if (fstatat(w.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                VerifyItem it = Item(VerifyStatus::Unreadable, std::move(rel), nullptr, e);
                it.error = std::strerror(errno);
                Add(std::move(it));
                continue;
            }
            const EntryKind kind = KindOfMode(st.st_mode);
            // Another file system mounted here: the catalogue never holds it.
            if (kind == EntryKind::Folder && st.st_dev != dev_) continue;
            if (!inCatalogue) {
                Add(Item(VerifyStatus::Added, rel, &st, kNone));
                if (kind == EntryKind::Folder) Descend(w.fd, name, kNone, std::move(rel), stack);
                continue;
            }
            if (kind != c_.Kind(e)) {
                Add(Item(VerifyStatus::Changed, std::move(rel), &st, e));
                continue;
            }
            if (kind == EntryKind::Folder) {
                ++out_.counts.same;
                Descend(w.fd, name, e, std::move(rel), stack);
                continue;
            }
            const auto size = static_cast<uint64_t>(st.st_size);
            const auto mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
            if (kind != EntryKind::Other && (size != c_.size[e] || mtime != c_.mtime[e])) {
                Add(Item(VerifyStatus::Changed, std::move(rel), &st, e));
                continue;
            }
            if (kind == EntryKind::File && c_.ChecksumOf(e)) {
                pending_.push_back({e, rel, size, mtime});
                reader_.Submit({pending_.size() - 1, root_ + "/" + rel, size}, [this] { Idle(); });
                continue;
            }
            ++out_.counts.same;
        }
    }

    void Descend(int fd, const std::string& name, uint32_t e, std::string rel, std::vector<Work>& stack) {
        const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            VerifyItem it = Item(VerifyStatus::Unreadable, rel, nullptr, e);
            it.kind = EntryKind::Folder;
            it.error = std::strerror(errno);
            Add(std::move(it));
            return;
        }
        stack.push_back({sub, e, std::move(rel)});
    }

    void Results(const std::vector<ChecksumResult>& results) {
        for (const ChecksumResult& r : results) {
            const Pending& p = pending_[r.id];
            VerifyItem it;
            it.path = p.rel;
            it.kind = EntryKind::File;
            it.size = p.size;
            it.mtime = p.mtime;
            it.oldSize = c_.size[p.entry];
            it.oldMtime = c_.mtime[p.entry];
            switch (r.status) {
            case ChecksumStatus::Done:
                ++out_.counts.checksummed;
                if (r.sum.bytes == *c_.ChecksumOf(p.entry)) {
                    ++out_.counts.same;
                    break;
                }
                it.status = VerifyStatus::Changed;
                it.silent = true; // size and date were found equal before the read
                Add(std::move(it));
                break;
            case ChecksumStatus::Failed:
                it.status = VerifyStatus::Unreadable;
                it.error = ChecksumProblemText(r);
                Add(std::move(it));
                break;
            case ChecksumStatus::Changed: // changed while it was read
                it.status = VerifyStatus::Changed;
                it.size = r.size;
                Add(std::move(it));
                break;
            case ChecksumStatus::Cancelled: break;
            }
        }
    }

    const Catalogue& c_;
    std::string root_;
    const VerifyControl& control_;
    ChecksumReader reader_;
    std::vector<uint32_t> first_, next_;
    std::vector<Pending> pending_;
    VerifyProgress progress_;
    VerifyResult out_;
    dev_t dev_ = 0;
};

} // namespace

VerifyResult VerifyDisk(const Catalogue& c, const std::string& rootHost, const VerifyControl& control) {
    Verifier v(c, rootHost, control);
    return v.Run();
}

} // namespace quindle
