#include "support/TempDrive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quindle::test {

namespace fs = std::filesystem;

TempDir::TempDir() : TempDir(fs::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& base) {
    std::string tmpl = (fs::path(base) / "quindle-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back permissions a test may have taken away, so everything can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    chmod(path_.c_str(), 0700);
    fs::remove_all(path_, ec);
}

std::string TempDir::MakeFile(const std::string& rel, const std::string& content) const {
    const fs::path p = fs::path(path_) / rel;
    fs::create_directories(p.parent_path());
    WriteHostFile(p.string(), content);
    return p.string();
}

std::string TempDir::MakeDir(const std::string& rel) const {
    const fs::path p = fs::path(path_) / rel;
    fs::create_directories(p);
    return p.string();
}

std::string TempDir::Read(const std::string& rel) const { return ReadHostFile((fs::path(path_) / rel).string()); }

TempDrive::TempDrive(char letter, std::optional<uint32_t> serial, DriveKind kind, std::optional<std::string> label)
    : letter_(letter), serial_(serial), kind_(kind), label_(std::move(label)) {}

DriveInfo TempDrive::Info() const {
    DriveInfo d;
    d.letter = letter_;
    d.root = path();
    d.kind = kind_;
    d.serial = serial_;
    d.label = label_;
    return d;
}

void TempDrive::MapInto(Platform& p) const {
    auto drives = p.Drives();
    std::erase_if(drives, [&](const DriveInfo& d) { return d.letter == letter_; });
    drives.push_back(Info());
    p.SetDrives(std::move(drives));
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteHostFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

} // namespace quindle::test
