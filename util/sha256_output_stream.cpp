#include "util/sha256_output_stream.hpp"

#include <array>

#include "util/hex.hpp"

#include "util/exception.hpp"

#include <algorithm>
#include <cstring>

namespace tnw::util {

namespace {
// The bit count of the message must fit the 64-bit length field of the padding.
constexpr std::uint64_t kMaximumLength = std::uint64_t{1} << 61;
} // namespace

std::uint64_t SHA256OutputStream::write(const void* buffer, std::uint64_t size) {
    if (!open_) {
        raise(IOException("Stream is not open."));
    }
    if (size == 0) {
        return 0;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint64_t remaining = size;
    length_ += size;
    if (fill_ > 0) {
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize - fill_, remaining));
        std::memcpy(block_.data() + fill_, bytes, take);
        fill_ += take;
        bytes += take;
        remaining -= take;
        if (fill_ < kBlockSize) {
            return size;
        }
        sha256Compress(state_, block_.data(), 1);
        fill_ = 0;
    }
    std::uint64_t wholeBlocks = remaining / kBlockSize;
    sha256Compress(state_, bytes, static_cast<std::size_t>(wholeBlocks));
    bytes += wholeBlocks * kBlockSize;
    remaining -= wholeBlocks * kBlockSize;
    std::memcpy(block_.data(), bytes, static_cast<std::size_t>(remaining));
    fill_ = static_cast<std::size_t>(remaining);
    return size;
}

std::uint32_t SHA256OutputStream::close() {
    if (!open_) {
        raise(IOException("Stream is not open."));
    }
    if (length_ >= kMaximumLength) {
        raise(IOException("Maximum message length exceeded."));
    }
    block_[fill_++] = 0x80;
    constexpr std::size_t kLengthOffset = kBlockSize - 8;
    if (fill_ > kLengthOffset) {
        std::fill(block_.begin() + static_cast<std::ptrdiff_t>(fill_), block_.end(), 0);
        sha256Compress(state_, block_.data(), 1);
        fill_ = 0;
    }
    std::fill(
        block_.begin() + static_cast<std::ptrdiff_t>(fill_), block_.begin() + kLengthOffset, 0);
    std::uint64_t bits = length_ * 8;
    for (std::size_t i = 0; i < 8; ++i) {
        block_[kLengthOffset + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    }
    sha256Compress(state_, block_.data(), 1);
    fill_ = 0;
    open_ = false;
    return 0;
}

std::string SHA256OutputStream::digestText() const {
    // Each state word least significant byte first, as the digest has always been written.
    std::array<std::uint8_t, 32> bytes{};
    for (std::size_t word = 0; word < state_.size(); ++word) {
        for (std::size_t byte = 0; byte < 4; ++byte) {
            bytes[word * 4 + byte] = static_cast<std::uint8_t>(state_[word] >> (8 * byte));
        }
    }
    return formatDigest(bytes);
}

} // namespace tnw::util
