#pragma once
// Tests run as root, and root passes every permission check (CAP_DAC_OVERRIDE,
// CAP_DAC_READ_SEARCH): a folder without search permission stops nobody. These take the
// two capabilities away, so that such a folder really refuses a look at its entries, as it
// does for every other user. Without root they change nothing: the permissions hold anyway.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

namespace quindle::test {

// In a child between fork and exec: the program it executes runs without them.
inline void DropPermissionOverrideAtExec() {
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}

// Capabilities taken from the effective set of this thread and of the threads it starts
// meanwhile; given back at the end of the scope.
class WithoutCapabilities {
public:
    explicit WithoutCapabilities(std::initializer_list<int> caps) {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (const int cap : caps) lowered[cap / 32].effective &= ~(1u << (cap % 32));
        changed_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~WithoutCapabilities() {
        if (changed_) syscall(SYS_capset, &header_, saved_);
    }
    WithoutCapabilities(const WithoutCapabilities&) = delete;
    WithoutCapabilities& operator=(const WithoutCapabilities&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool changed_ = false;
};

// Without the two for this thread and the threads it starts meanwhile.
class WithoutPermissionOverride : public WithoutCapabilities {
public:
    WithoutPermissionOverride() : WithoutCapabilities({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {}
};

// A folder that may be listed but not searched (mode 0444): its names can be read, its
// entries cannot be looked at. Searchable again at the end of the scope.
class UnsearchableFolder {
public:
    explicit UnsearchableFolder(std::string path) : path_(std::move(path)) { made_ = chmod(path_.c_str(), 0444) == 0; }
    ~UnsearchableFolder() { chmod(path_.c_str(), 0755); }
    UnsearchableFolder(const UnsearchableFolder&) = delete;
    UnsearchableFolder& operator=(const UnsearchableFolder&) = delete;
    bool Made() const { return made_; }

private:
    std::string path_;
    bool made_ = false;
};

} // namespace quindle::test
