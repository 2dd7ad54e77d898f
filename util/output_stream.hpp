// Byte sinks: the abstract OutputStream and the stream over any descriptor.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <sys/types.h>

namespace tnw::util {

class OutputStream {
public:
    OutputStream() = default;
    virtual ~OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // By default IOException "Stream cannot be closed.".
    virtual std::uint32_t close();
    virtual bool isOpen() const { return false; }
    virtual bool canSeek() const { return false; }
    // By default IOException "Seek not supported by stream.".
    virtual std::uint64_t seek(std::int64_t offset, int origin);
    virtual void flush() {}
    // The number of bytes taken, which may be fewer than offered. By default IOException
    // "Write to stream is not supported.".
    virtual std::uint64_t write(const void* buffer, std::uint64_t size);
};

// Writes to a descriptor. A closed stream writes 0. Writing to a pipe or socket whose reader
// has gone ends the stream (EndOfStreamException) instead of raising SIGPIPE.
class HandleOutputStream : public OutputStream {
public:
    explicit HandleOutputStream(Handle handle);
    ~HandleOutputStream() override = default;

    // Flushes, then closes; a failed flush is reported when the close itself succeeds.
    std::uint32_t close() override;
    bool isOpen() const override { return handle_.isValid(); }
    // Regular files are written through to the device (fdatasync); descriptors that keep no
    // data of their own (pipes, sockets, terminals) have nothing to flush.
    void flush() override;
    std::uint64_t write(const void* buffer, std::uint64_t size) override;

    const Handle& handle() const { return handle_; }

protected:
    Handle handle_;

private:
    ssize_t writeOnce(const void* buffer, std::uint64_t size);
    bool regularFile_ = false;
};

} // namespace tnw::util
