#pragma once
// The kernel's mount table, watched: its descriptor turns "exceptional" (poll's POLLPRI)
// when a mount or unmount changes the table, until the table is read again. A window's
// event loop waits on Fd(); nothing runs while the table stays as it is.
#include <string>

namespace quindle {

class MountWatch {
public:
    // Opens /proc/self/mountinfo (or `path`, for tests); Fd() is -1 when it cannot be opened.
    explicit MountWatch(const std::string& path = "/proc/self/mountinfo");
    ~MountWatch();
    MountWatch(const MountWatch&) = delete;
    MountWatch& operator=(const MountWatch&) = delete;

    int Fd() const { return fd_; }
    // Whether the table changed since it was last read (a poll that does not wait).
    bool Changed() const;
    // The whole table as it is now; reading it clears the change mark.
    std::string Read();

private:
    int fd_ = -1;
};

} // namespace quindle
