// Moving whole streams: from one stream into another, or into memory.
#pragma once

#include "util/input_stream.hpp"
#include "util/output_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tnw::util {

inline constexpr std::size_t kCopyBufferSize = 65536;

// Copies until the input reads nothing or ends (EndOfStreamException from either side ends the
// copy successfully). False when a write takes fewer bytes than given or on any other failure;
// never throws. Short reads do not end the copy, so pipes and sockets are copied whole.
bool copy(InputStream& input, OutputStream& output, std::size_t bufferSize = kCopyBufferSize);

// Bytes read into memory, never more than `limit`.
struct ReadBuffer {
    explicit ReadBuffer(std::size_t limit) : limit(limit) {}
    std::size_t limit;
    std::string bytes; // what has been read; its size is the count used
};

// Appends the rest of the stream to the buffer; the space grows by doubling from 16384 bytes
// up to the limit. True when the stream ended (a read of 0 bytes or EndOfStreamException);
// false when it holds more than the limit allows or on any other failure (never throws).
bool readAll(InputStream& stream, ReadBuffer& buffer);

// readAll over the file; false when it cannot be opened.
bool readFile(const std::string& path, ReadBuffer& buffer);

} // namespace tnw::util
