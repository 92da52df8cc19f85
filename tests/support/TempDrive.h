#pragma once
// Real folders in a temporary directory, mapped as drives of a Platform.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace quindle::test {

// A fresh temporary folder, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    // In `base` instead of the system's temporary folder (a RAM file system for a test that
    // makes many files).
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Creates a file (and its parent folders) at a path relative to the folder ('/' separated).
    std::string MakeFile(const std::string& rel, const std::string& content = "") const;
    std::string MakeDir(const std::string& rel) const;
    std::string Read(const std::string& rel) const; // whole file, "" when missing

private:
    std::string path_;
};

// A temporary folder mapped as drive `letter` with the given kind, serial and label.
class TempDrive : public TempDir {
public:
    explicit TempDrive(char letter = 'E', std::optional<uint32_t> serial = std::nullopt,
                       DriveKind kind = DriveKind::Fixed, std::optional<std::string> label = std::nullopt);
    DriveInfo Info() const;
    // Adds (or replaces) this drive in the platform's table.
    void MapInto(Platform& p) const;

private:
    char letter_;
    std::optional<uint32_t> serial_;
    DriveKind kind_;
    std::optional<std::string> label_;
};

// Reads a whole host file ("" when missing).
std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& content);

} // namespace quindle::test
