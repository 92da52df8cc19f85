#pragma once
// Tests that mount a file system do it in a mount namespace of their own, so that the
// other tests running at the same time never see a drive come and go.
#include <sched.h>
#include <sys/mount.h>

namespace quindle::test {

// From now on, mounts made by this process are seen by it alone (and mounts made
// elsewhere are not propagated to it). False when that cannot be had (not root).
inline bool PrivateMounts() {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

} // namespace quindle::test
