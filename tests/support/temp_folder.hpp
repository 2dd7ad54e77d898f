// Temporary folders that tests own and remove.
#pragma once

#include <filesystem>
#include <string>

namespace tnw::test {

// A new empty folder under $TMPDIR (or /tmp) whose name starts with `stem`.
std::filesystem::path makeTempFolder(const std::string& stem);

// A folder removed with its contents when the object goes.
class TempFolder {
public:
    explicit TempFolder(const std::string& stem = "plexmill-test") : path_(makeTempFolder(stem)) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& contents);

} // namespace tnw::test
