#include "platform/MountWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quindle {

MountWatch::MountWatch(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    Read(); // the mark counts from now
}

MountWatch::~MountWatch() {
    if (fd_ >= 0) close(fd_);
}

bool MountWatch::Changed() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLPRI, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR));
}

std::string MountWatch::Read() {
    std::string text;
    if (fd_ < 0) return text;
    char buf[8192];
    off_t at = 0;
    for (;;) {
        const ssize_t n = pread(fd_, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

} // namespace quindle
