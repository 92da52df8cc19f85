#include "records/EntryLooks.h"

#include "archives/HeadReader.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace quindle {

namespace {

EntryLook Looked(const struct stat& st) {
    return {KindOfMode(st.st_mode), static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec), 0};
}

EntryLook Failed(int error) {
    EntryLook l;
    l.error = error != 0 ? error : EIO;
    return l;
}

} // namespace

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISLNK(mode)) return EntryKind::Link;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return EntryKind::Other;
}

void LookAtFolder(FolderLook& look, int dirfd, const std::string& host, const ArchiveOptions* archives) {
    struct stat st;
    const auto pathOf = [&](const std::string& name) { return host == "/" ? "/" + name : host + "/" + name; };
    if (dirfd >= 0 ? fstat(dirfd, &st) == 0 : lstat(host.c_str(), &st) == 0)
        look.self = {EntryKind::Folder, 0, static_cast<int64_t>(st.st_mtim.tv_sec), 0};
    else
        look.self = Failed(errno);
    look.found.resize(look.names.size());
    for (size_t i = 0; i < look.names.size(); ++i) {
        const bool ok = dirfd >= 0 ? fstatat(dirfd, look.names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                                   : lstat(pathOf(look.names[i]).c_str(), &st) == 0;
        look.found[i] = ok ? Looked(st) : Failed(errno);
    }
    if (!archives || archives->mode == ArchiveMode::None) return;
    // The archive reader opens each file below the folder itself, never through a link.
    int folder = dirfd;
    if (folder < 0) folder = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    std::vector<uint32_t> files;
    std::vector<const char*> names;
    std::vector<uint64_t> sizes;
    for (size_t i = 0; i < look.names.size(); ++i) {
        const EntryLook& l = look.found[i];
        if (l.error != 0 || l.kind != EntryKind::File) continue;
        files.push_back(static_cast<uint32_t>(i));
        names.push_back(look.names[i].c_str());
        sizes.push_back(l.size);
    }
    for (auto& [k, listing] : ListArchivesAmong(folder, names, sizes, *archives))
        look.archives.emplace_back(files[k], std::move(listing));
    if (folder != dirfd) close(folder);
}

size_t EntryLooker::DefaultMaxInFlight() {
    // An eighth of the soft limit: the program's own descriptors, the lister's and the
    // record's stay far from it. 64 folders keep the worker busy whatever their sizes.
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return 64;
    return std::clamp<size_t>(static_cast<size_t>(rl.rlim_cur / 8), 1, 64);
}

EntryLooker::EntryLooker(size_t maxInFlight, ArchiveOptions archives)
    : max_(maxInFlight > 0 ? maxInFlight : DefaultMaxInFlight()),
      // The worker is woken for a batch of folders, not for each: a wake-up per folder
      // costs both threads a switch, and the walk its processor.
      batch_(std::clamp<size_t>(max_ / 4, 1, 16)), archives_([&] {
          ArchiveOptions o = std::move(archives);
          o.stop = [this, asked = std::move(o.stop)] { return stopListings_.load() || (asked && asked()); };
          return o;
      }()),
      workers_([this, archives = archives_.mode != ArchiveMode::None] {
          std::vector<std::thread> t;
          const size_t n = archives && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
          for (size_t i = 0; i < n; ++i) t.emplace_back([this] { Work(); });
          return t;
      }()) {}

EntryLooker::~EntryLooker() {
    stopListings_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
    for (auto& [place, look] : todo_) close(look.fd); // never looked at: the walk ended
}

void EntryLooker::Hand(FolderLook look) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (inFlight_ >= max_) {
        // Too many folders open: the walk waits until the worker has caught up a batch.
        flush_ = true;
        wake_.notify_one();
        room_.wait(lock, [this] { return inFlight_ + batch_ <= max_ || inFlight_ == 0; });
        flush_ = false;
    }
    todo_.emplace_back(handed_++, std::move(look));
    ++inFlight_;
    const bool wake = asleep_ > 0 && todo_.size() >= batch_;
    lock.unlock(); // the worker, woken, finds the lock free
    if (wake) wake_.notify_one();
}

std::deque<FolderLook> EntryLooker::Take(bool all) {
    if (all) {
        std::deque<FolderLook> out;
        for (std::deque<FolderLook> some; !(some = TakeNext()).empty();)
            std::move(some.begin(), some.end(), std::back_inserter(out));
        return out;
    }
    std::deque<FolderLook> out;
    std::lock_guard<std::mutex> lock(mutex_);
    out.swap(done_);
    return out;
}

bool EntryLooker::HasRoom() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inFlight_ < max_;
}

std::deque<FolderLook> EntryLooker::TakeNext() {
    std::deque<FolderLook> out;
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.empty() && inFlight_ > 0) {
        flush_ = true;
        wake_.notify_all();
        room_.wait(lock, [this] { return !done_.empty() || inFlight_ == 0; });
        flush_ = false;
    }
    out.swap(done_);
    return out;
}

void EntryLooker::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    // A sleeping worker wakes for a batch of folders; an awake one takes them one at a time
    // until none is left, so that two workers share the last heavy folders (a run of
    // archives at the end of a disk) instead of one taking them all in its batch.
    const auto ready = [this] { return todo_.size() >= batch_ || (flush_ && !todo_.empty()); };
    for (;;) {
        if (!stop_ && !ready()) {
            ++asleep_;
            wake_.wait(lock, [&] { return stop_ || ready(); });
            --asleep_;
        }
        while (!stop_ && !todo_.empty()) {
            auto [place, look] = std::move(todo_.front());
            todo_.pop_front();
            if (ready()) wake_.notify_one(); // more than one worker's share: wake another
            lock.unlock();
            LookAtFolder(look, look.fd, std::string(), stopListings_ ? nullptr : &archives_);
            close(look.fd);
            look.fd = -1;
            // The names are given back unless the walk must name one that failed.
            const bool allLooked = look.self.error == 0 &&
                                   std::all_of(look.found.begin(), look.found.end(),
                                               [](const EntryLook& l) { return l.error == 0; });
            if (allLooked) std::vector<std::string>().swap(look.names);
            lock.lock();
            early_.emplace(place, std::move(look));
            // In the walk's order: what follows the last taken, as far as it is done.
            for (auto it = early_.begin(); it != early_.end() && it->first == next_; it = early_.erase(it), ++next_)
                done_.push_back(std::move(it->second));
            --inFlight_;
            room_.notify_all();
        }
        if (stop_) return; // what is left is closed by the destructor
    }
}

} // namespace quindle
