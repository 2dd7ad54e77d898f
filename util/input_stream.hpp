// Byte sources: the abstract InputStream and the stream over any descriptor.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <sys/types.h>

namespace tnw::util {

// Origins of seek(): from the start, from the current position, from the end.
inline constexpr int kSeekBegin = 0;
inline constexpr int kSeekCurrent = 1;
inline constexpr int kSeekEnd = 2;

class InputStream {
public:
    InputStream() = default;
    virtual ~InputStream() = default;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Closes the source; returns 0 or the Windows error number of the failed close.
    virtual std::uint32_t close() = 0;
    virtual bool isOpen() const = 0;
    // Reads at most `size` bytes; what 0 and the end of the data mean depends on the stream.
    virtual std::uint64_t read(void* buffer, std::uint64_t size) = 0;
    // Reads and discards `count` bytes; IOException "Stream cannot be skipped." when a read
    // yields nothing first.
    virtual void skip(std::uint64_t count);
    virtual bool canSeek() const { return false; }
    // The new position. Streams that cannot seek throw IOException "Seek not support for stream.".
    virtual std::uint64_t seek(std::int64_t offset, int origin);
    virtual std::uint64_t getSize() const { return 0; }
};

// Reads from a descriptor (standard input, a pipe end, a socket). A read of 0 bytes returns 0;
// a closed stream reads 0.
class HandleInputStream : public InputStream {
public:
    explicit HandleInputStream(Handle handle) : handle_(std::move(handle)) {}
    ~HandleInputStream() override = default;

    std::uint32_t close() override;
    bool isOpen() const override { return handle_.isValid(); }
    std::uint64_t read(void* buffer, std::uint64_t size) override;

    const Handle& handle() const { return handle_; }

protected:
    // One read(2) of at most 2^32 - 1 bytes, retried on EINTR, counted on the handle. Returns
    // what read(2) returns; errno tells the failure.
    ssize_t readOnce(void* buffer, std::uint64_t size);
    // The failure of readOnce as an exception: end of file and broken pipe end the stream.
    [[noreturn]] static void raiseReadError(int errnoValue);

    Handle handle_;
};

} // namespace tnw::util
