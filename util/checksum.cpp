#include "util/checksum.hpp"

#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/overlapped_copy.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/stream_copy.hpp"

namespace tnw::util {

namespace {
// Larger pieces than copy's default mean fewer system calls; small enough that a piece is
// still in the processor's cache when it is hashed right after it was read.
constexpr std::size_t kChecksumReadSize = 256 * 1024;
// Below this the second thread costs more than the reads it would hide.
constexpr std::uint64_t kOverlapFrom = 4 * kChecksumReadSize;
} // namespace

ChecksumAndSize fileChecksumAndSize(const std::string& path) {
    try {
        FileInputStream file(path);
        file.adviseSequential();
        SHA256OutputStream digest;
        // Hashing is the slow side: reading ahead on another thread hides the reads.
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
