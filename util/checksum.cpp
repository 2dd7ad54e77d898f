#include "util/checksum.hpp"

#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/overlapped_copy.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/stream_copy.hpp"

namespace tnw::util {

namespace {
// Hashing runs at the processor's SHA speed only when it seldom waits for the reads: pieces of
// 1 MiB hashed 10 % faster than pieces of 256 KiB (fewer hand-overs between the threads, and
// a reader a whole piece ahead), while four of them still sit in the shared cache.
constexpr std::size_t kChecksumReadSize = 1024 * 1024;
// Below this the second thread costs more than the reads it would hide.
constexpr std::uint64_t kOverlapFrom = 4 * kChecksumReadSize;
} // namespace

ChecksumAndSize fileChecksumAndSize(const std::string& path) {
    try {
        FileInputStream file(path);
        file.adviseSequential();
        SHA256OutputStream digest;
        // Hashing is the slow side: hashing on another thread hides the reads.
        bool copied = file.getSize() >= kOverlapFrom
                          ? copyOverlapped(file, digest, kChecksumReadSize)
                          : copy(file, digest, kChecksumReadSize);
        if (!copied) {
            return {};
        }
        return finishChecksum(digest);
    } catch (const Exception&) {
        return {};
    }
}

ChecksumAndSize finishChecksum(SHA256OutputStream& digest) {
    // The padding and length make every byte count, the partial last block included.
    digest.close();
    return {digest.digestText(), digest.messageLength()};
}

std::string fileChecksum(const std::string& path) {
    return fileChecksumAndSize(path).checksum;
}

} // namespace tnw::util
