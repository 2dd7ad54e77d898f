// The SHA-256 compression function (FIPS 180-4) over whole 64-byte blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tnw::util {

using Sha256State = std::array<std::uint32_t, 8>;

inline constexpr Sha256State kSha256InitialState = {0x6a09e667U,
                                                    0xbb67ae85U,
                                                    0x3c6ef372U,
                                                    0xa54ff53aU,
                                                    0x510e527fU,
                                                    0x9b05688cU,
                                                    0x1f83d9abU,
                                                    0x5be0cd19U};

// Runs the compression over `blockCount` consecutive 64-byte blocks (message words read
// big-endian), updating `state`. Uses the processor's SHA instructions where it has them.
void sha256Compress(Sha256State& state, const std::uint8_t* blocks, std::size_t blockCount);

} // namespace tnw::util
