#include "util/hex.hpp"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(FormatDigest, WritesBytesInMemoryOrderHighNibbleFirst) {
    // SHA-256("abc"), as printed by python3 -c 'import hashlib; print(hashlib.sha256(b"abc")...'
    const std::array<std::uint8_t, 32> digest = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea,
                                                 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                                                 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
                                                 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(formatDigest(digest),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(FormatHex, HonoursPrefixAndFullWidthFlags) {
    struct Case {
        std::uint64_t value;
        unsigned flags;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, "0"},
        {0, 1, "0x0"},
        {0, 2, "0000000000000000"},
        {0, 3, "0x0000000000000000"},
        {0xabc, 0, "abc"},
        {0x1234, 2, "0000000000001234"},
        {0xfedcba9876543210, 1, "0xfedcba9876543210"},
        {UINT64_MAX, 2, "ffffffffffffffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(formatHex(c.value, c.flags), c.expected);
    }
}

} // namespace
} // namespace tnw::util
