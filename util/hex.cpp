#include "util/hex.hpp"

namespace tnw::util {

namespace {
constexpr char kDigits[] = "0123456789abcdef";
}

std::string formatDigest(std::span<const std::uint8_t, 32> bytes) {
    std::string out(64, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0xF];
    }
    return out;
}

std::string formatHex(std::uint64_t value, unsigned flags) {
    char digits[16];
    int count = 0;
    do {
        digits[15 - count] = kDigits[value & 0xF];
        value >>= 4;
        ++count;
    } while (value != 0);
    if ((flags & kHexFullWidth) != 0) {
        for (; count < 16; ++count) {
            digits[15 - count] = '0';
        }
    }
    std::string out = (flags & kHexPrefix) != 0 ? "0x" : "";
    out.append(digits + 16 - count, static_cast<std::size_t>(count));
    return out;
}

} // namespace tnw::util
