// Writing a whole file so that readers see the old contents or the new, never a part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tnw::util {

// Writes `contents` to a temporary file beside `path`, flushes it to the disk and renames it
// over `path`, with permission bits `mode`. 0 or a Windows error number; on failure nothing
// is left behind and an old file stays as it was.
std::uint32_t replaceFile(const std::string& path, std::string_view contents, std::uint32_t mode);

} // namespace tnw::util
