// Conversions between the UTF-8 text the program keeps and the UTF-16 text some formats and
// peers need, and the ASCII-only helpers used on identifiers.
#pragma once

#include <string>
#include <string_view>

namespace tnw::util {

// Malformed UTF-8 (a stray continuation byte, a truncated or overlong sequence, an encoded
// surrogate, a value above U+10FFFF) becomes U+FFFD, one per maximal malformed run, so the
// rest of the text survives.
std::u16string toUtf16(std::string_view utf8);

// An unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

// Byte by byte: bytes 0 to 127 keep their value, every other byte becomes the character 0.
// Meant for identifiers that are ASCII by definition (message table names).
std::u16string asciiToUtf16(std::string_view ascii);

// "A" to "Z" become "a" to "z"; every other byte, UTF-8 sequences included, stays.
std::string toLowerAscii(std::string_view text);

} // namespace tnw::util
