#include "records/RecordCommit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/Errors.h"

namespace quindle {

namespace {
std::atomic<unsigned> walkCounter{0};
} // namespace

std::string CreateWalkFile(const std::string& record, const char* prefix) {
    const auto slash = record.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : record.substr(0, slash + 1);
    struct stat old;
    const bool hadOld = stat(record.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = hadOld ? (old.st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + prefix + std::to_string(getpid()) + "-" +
                           std::to_string(walkCounter.fetch_add(1)) + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, hadOld ? 0600 : mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (hadOld) fchmod(fd, mode);
        close(fd);
        return temp;
    }
    throw EFileError(Format("Cannot create file %s", record));
}

bool SyncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return synced;
}

void SyncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
}

} // namespace quindle
