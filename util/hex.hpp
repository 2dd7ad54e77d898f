// Hexadecimal texts: digests (the file checksum's text form) and numbers (session folder names).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tnw::util {

// 64 lowercase digits, byte by byte in memory order, high nibble first.
std::string formatDigest(std::span<const std::uint8_t, 32> bytes);

inline constexpr unsigned kHexPrefix = 1;    // "0x" in front
inline constexpr unsigned kHexFullWidth = 2; // exactly 16 digits, leading zeros kept

// Lowercase digits; without kHexFullWidth no leading zeros ("0" for 0).
std::string formatHex(std::uint64_t value, unsigned flags);

} // namespace tnw::util
