// Files as streams: reading an existing file, and creating (or truncating) one to write.
#pragma once

#include "util/input_stream.hpp"
#include "util/output_stream.hpp"

#include <cstdint>
#include <string>

namespace tnw::util {

// Opens an existing file for reading; others may read and write it meanwhile. Failure throws
// IOException with the Windows error number and no message (2 for a missing file, 3 for a
// missing folder on the path, 5 for a folder). Reading at the end of the file, or after close,
// throws EndOfStreamException.
class FileInputStream : public HandleInputStream {
public:
    explicit FileInputStream(const std::string& path);
    ~FileInputStream() override = default;

    std::uint32_t close() override { return HandleInputStream::close(); }
    bool isOpen() const override { return HandleInputStream::isOpen(); }
    std::uint64_t read(void* buffer, std::uint64_t size) override;
    bool canSeek() const override { return true; }
    // Origins kSeekBegin, kSeekCurrent, kSeekEnd; anything else, a closed stream or a failed
    // seek gives 0 without moving.
    std::uint64_t seek(std::int64_t offset, int origin) override;
    // The size when the file was opened.
    std::uint64_t getSize() const override { return size_; }
    // Tells the system the file will be read once from start to end, so it reads further
    // ahead. Only a hint: nothing happens when it is not taken.
    void adviseSequential();

private:
    std::uint64_t size_ = 0;
};

// Whether a link in the place of a file that is opened for writing is followed. A user's own
// paths follow links as every tool does; in the server's private folders a link can only have
// been planted, and writing through it would change a file elsewhere.
enum class LinkPolicy { Follow, Refuse };

// Creates the file, or truncates an existing one, for writing. Failure throws IOException
// "Unable to open the file '<path>'." with the Windows error number; so does a link in the
// file's place when `links` refuses them.
class FileOutputStream : public HandleOutputStream {
public:
    explicit FileOutputStream(const std::string& path, LinkPolicy links = LinkPolicy::Follow);
    ~FileOutputStream() override = default;

    bool canSeek() const override { return true; }
    // As FileInputStream::seek.
    std::uint64_t seek(std::int64_t offset, int origin) override;
};

} // namespace tnw::util
