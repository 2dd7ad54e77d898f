// A sink that runs SHA-256 over everything written to it.
#pragma once

#include "util/output_stream.hpp"
#include "util/sha256_compression.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tnw::util {

class SHA256OutputStream : public OutputStream {
public:
    SHA256OutputStream() = default;
    ~SHA256OutputStream() override = default;

    // Pads the message (0x80, zeros, the bit length) and compresses the last block; the state
    // is then the SHA-256 digest. IOException "Stream is not open." when already closed,
    // "Maximum message length exceeded." for 2^61 bytes or more. Returns 0.
    std::uint32_t close() override;
    bool isOpen() const override { return open_; }
    // Takes every byte; IOException "Stream is not open." after close().
    std::uint64_t write(const void* buffer, std::uint64_t size) override;

    // The eight state words, each least significant byte first, as 64 lowercase hexadecimal
    // digits. Before close() that is the state after the complete 64-byte blocks written so far;
    // after close() it is the digest.
    std::string digestText() const;
    // Bytes written so far.
    std::uint64_t messageLength() const { return length_; }

private:
    static constexpr std::size_t kBlockSize = 64;

    Sha256State state_ = kSha256InitialState;
    std::array<std::uint8_t, kBlockSize> block_{};
    std::size_t fill_ = 0;
    std::uint64_t length_ = 0;
    bool open_ = true;
};

} // namespace tnw::util
