#pragma once
// The platform layer: drives, volumes, Windows-style paths, directory search and file
// attributes on top of Linux. Above this layer the program sees drive letters and
// backslashes only ("E:\Docs\Old"); host paths (beginning with "/") are accepted as
// well, for the program's own folders.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Drives.h"

namespace quindle {

// DOS attribute bits, as the directory search reports and filters them.
enum FileAttr : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeID = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
};

// FindFiles hint (in needAttrs): the caller discards everything but directories.
constexpr uint32_t kDirectoriesOnly = 0x10000;

struct SearchRec {
    std::string Name; // bytes as the file system gives them
    uint32_t Attr = 0;
};

class Platform {
public:
    // ---- drive table --------------------------------------------------------------
    void SetDrives(std::vector<DriveInfo> drives);
    const std::vector<DriveInfo>& Drives() const { return drives_; }
    const DriveInfo* FindDrive(char letter) const; // any case; nullptr when unknown
    uint32_t GetLogicalDrives() const;             // bit 0 = A:, bit 25 = Z:
    // Kind of the drive of a root such as "c:\"; NoRootDir for an unknown letter.
    DriveKind GetDriveType(const std::string& root) const;
    std::optional<uint32_t> GetVolumeSerial(char letter) const;
    std::optional<std::string> GetVolumeLabel(char letter) const;
    std::optional<std::string> GetRemoteName(char letter) const; // network drives only

    // ---- paths --------------------------------------------------------------------
    // Host path of a program path; nullopt when its drive is unknown.
    std::optional<std::string> ToHostPath(const std::string& path) const;
    // The process current directory of the program (not the real working directory):
    // "C:\" for a root, "C:\A\B" otherwise, drive letter upper case.
    const std::string& GetCurrentDir() const { return currentDir_; }
    bool SetCurrentDir(const std::string& path); // false (and unchanged) when it can't be entered
    // Enters a folder the caller already has in hand: `host` is the folder itself, `shown`
    // its path as the user sees it ("E:\a\b" for the folder named "a\b"), which becomes the
    // current directory as it stands. Names are never parsed out of `shown`.
    bool EnterDirectory(const std::string& shown, const std::string& host);
    // Host folder of a drive's root; nullopt for an unknown letter.
    std::optional<std::string> DriveRootHost(char letter) const;
    // Full path: relative paths against the current directory, "." and ".." resolved,
    // a trailing separator kept.
    std::string ExpandFileName(const std::string& path) const;

    // ---- files --------------------------------------------------------------------
    bool FileExists(const std::string& path) const;      // exists and is not a directory
    bool DirectoryExists(const std::string& path) const; // exists, is a directory, can be entered
    // Enumerates the entries of directory `dir` whose names match `pattern`, applying the
    // requested-attribute rule: an entry carrying any of hidden, system, volume label or
    // directory is reported only when that attribute is in searchAttr. "." and ".." are
    // reported in directories other than a root when faDirectory is requested. Symbolic
    // links are files; subdirectories on another file system are not reported.
    // Attr always holds faDirectory; other bits only where `needAttrs` asks for them
    // (attributes cost system calls). Returns false when the directory can't be read.
    bool FindFiles(const std::string& dir, const std::string& pattern, uint32_t searchAttr,
                   const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs = 0) const;
    // FindFiles over a host folder the caller already has in hand (never parsed); `isRoot`
    // when it is a drive's root, where "." and ".." are not reported.
    bool FindFilesIn(const std::string& host, bool isRoot, const std::string& pattern, uint32_t searchAttr,
                     const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs = 0) const;
    // The entries of host folder `host` that a search leaves out unless it asks for hidden
    // (or, for folders, system) entries: folders hidden or system by the rule of FindFiles
    // (a name beginning with ".", the DOS attributes), on this folder's device only; other
    // entries hidden. Attr as FindFiles gives it; no "." and "..". While repeated reads are
    // shared, the read of `host` just made serves this one too. False when the folder
    // cannot be read.
    bool FindHiddenIn(const std::string& host, bool isRoot, const std::function<void(const SearchRec&)>& fn) const;
    int FileGetAttr(const std::string& path) const; // -1 on failure
    bool FileSetAttr(const std::string& path, uint32_t attr) const;
    bool DeleteFile(const std::string& path) const;
    bool CreateDir(const std::string& path) const;

    // While on, a read of the same host folder right after it was read, unchanged since,
    // answers from that first read instead of reading it again (once). A walk reads every
    // directory twice in a row, the tree for its subdirectories and the lister for its
    // files, and enters it once; outside a walk every search reads the directory afresh.
    void SetShareRepeatedRead(bool on);
    // While sharing: the descriptor of host folder `host` when the last read of it is still
    // open (owned by the platform, valid until the next search), -1 otherwise.
    int FolderFdOfLastRead(const std::string& host) const;

    struct DirSnapshot; // the last directory read while sharing

private:
    struct ListingRules;
    void ForgetEnteredDir() const;
    bool CanEnter(std::string host);
    // Where the device keeps DOS attributes (a DosSource of the search), decided at its
    // first search; `fd` is a folder on it. A local disk is probed on its first entries.
    uint8_t DosSourceOf(dev_t dev, int fd) const;
    void NoteDosProbe(dev_t dev, bool found) const;
    void NoteDosAttributeOn(const std::string& host) const; // one was seen or written there
    std::vector<DriveInfo> drives_;
    std::string currentDir_ = "C:\\";
    std::string currentHost_; // the host folder of currentDir_ when EnterDirectory set it
    bool shareRepeatedRead_ = false;
    mutable std::shared_ptr<DirSnapshot> snapshot_; // the last directory read while sharing
    struct DosDevice {
        dev_t dev;
        uint8_t source;
        int probed; // entries probed while undecided
    };
    mutable std::vector<DosDevice> dosDevices_;
};

// Whether a name alone makes an entry hidden (it begins with "."), whatever its DOS
// attributes say.
inline bool HiddenByName(std::string_view name) { return !name.empty() && name[0] == '.'; }

// Host path helpers shared by the core.
std::string HostJoin(const std::string& dir, const std::string& name);

// True for a full drive path already in the form ExpandFileName gives it: "X:\" followed
// by names separated by single backslashes, none of them "." or "..", no "/", at most a
// trailing backslash. Such a path expands to itself.
bool IsPlainDrivePath(const std::string& path);

} // namespace quindle
