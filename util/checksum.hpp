// The file checksum that keys the file cache and that clients send with cached files.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

class SHA256OutputStream;

// The SHA-256 digest of the whole file, as SHA256OutputStream::digestText() renders it after
// close(): 64 lowercase hexadecimal digits, each state word least significant byte first.
// Empty when the file cannot be read.
std::string fileChecksum(const std::string& path);

struct ChecksumAndSize {
    std::string checksum;   // as fileChecksum; empty on failure
    std::uint64_t size = 0; // the bytes read; 0 on failure
};

// The checksum and the number of bytes it covers, from one pass over the file.
ChecksumAndSize fileChecksumAndSize(const std::string& path);

// The checksum of the bytes written to `digest`, which it closes: what fileChecksumAndSize
// gives for a file of those bytes, for a reader that hashes them as they pass by.
ChecksumAndSize finishChecksum(SHA256OutputStream& digest);

} // namespace tnw::util
