// Whole small files as text: configuration the administration commands read, replace, or hand
// to another program by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tnw::util {

// The whole file; nullopt when it cannot be read.
std::optional<std::string> readTextFile(const std::string& path);

// Replaces the file in one rename, so that readers (and a machine that stops half-way) see the
// old contents or the whole new ones. An existing file keeps its permissions and owner; a new
// one gets `mode`. 0 or a Windows error number.
std::uint32_t replaceFile(const std::string& path, std::string_view contents, unsigned mode = 0644);

// A file of the temporary folder holding `contents`, private to the user, removed when the
// owner goes. path() is empty when it could not be written.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string_view contents);
    ~TemporaryFile();
    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace tnw::util
