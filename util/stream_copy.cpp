#include "util/stream_copy.hpp"

#include "util/exception.hpp"
#include "util/file_stream.hpp"

#include <algorithm>
#include <memory>

namespace tnw::util {

namespace {
constexpr std::size_t kFirstCapacity = 16384;
} // namespace

bool copy(InputStream& input, OutputStream& output, std::size_t bufferSize) {
    try {
        auto buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
        for (;;) {
            std::uint64_t got = input.read(buffer.get(), bufferSize);
            if (got == 0) {
                return true;
            }
            if (output.write(buffer.get(), got) != got) {
                return false;
            }
        }
    } catch (const EndOfStreamException&) {
        return true;
    } catch (...) {
        return false;
    }
}

bool readAll(InputStream& stream, ReadBuffer& buffer) {
    std::string& bytes = buffer.bytes;
    std::size_t used = bytes.size();
    // While reading, `bytes` also holds the free space; every way out cuts it back to the data.
    struct Trim {
        std::string& bytes;
        const std::size_t& used;
        ~Trim() { bytes.resize(used); }
    } trim{bytes, used};
    try {
        for (;;) {
            if (used == bytes.size()) {
                if (used >= buffer.limit) {
                    // Full at the limit: still a success when the stream has nothing more.
                    char probe = 0;
                    return stream.read(&probe, 1) == 0;
                }
                bytes.resize(std::min(std::max(kFirstCapacity, used * 2), buffer.limit));
            }
            std::uint64_t got = stream.read(bytes.data() + used, bytes.size() - used);
            if (got == 0) {
                return true;
            }
            used += static_cast<std::size_t>(got);
        }
    } catch (const EndOfStreamException&) {
        return true;
    } catch (...) {
        return false;
    }
}

bool readFile(const std::string& path, ReadBuffer& buffer) {
    try {
        FileInputStream file(path);
        return readAll(file, buffer);
    } catch (...) {
        return false;
    }
}

} // namespace tnw::util
