#include "util/checksum.hpp"

#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/stream_copy.hpp"

namespace tnw::util {

namespace {
// Larger pieces than copy's default: fewer system calls on the path of every uploaded file.
constexpr std::size_t kChecksumReadSize = 1024 * 1024;
} // namespace

ChecksumAndSize fileChecksumAndSize(const std::string& path) {
    try {
        FileInputStream file(path);
        SHA256OutputStream digest;
        if (!copy(file, digest, kChecksumReadSize)) {
            return {};
        }
        // The padding and length make every byte count, the partial last block included.
        digest.close();
        return {digest.digestText(), digest.messageLength()};
    } catch (const Exception&) {
        return {};
    }
}

std::string fileChecksum(const std::string& path) {
    return fileChecksumAndSize(path).checksum;
}

} // namespace tnw::util
