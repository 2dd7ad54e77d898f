// Anonymous pipes: the pair of ends, and the input stream over the read end.
#pragma once

#include "util/handle.hpp"
#include "util/input_stream.hpp"

#include <cstddef>
#include <cstdint>

namespace tnw::util {

class Pipe {
public:
    // Creates the pipe. Both ends are close-on-exec unless `inheritable`; a child started with
    // Process::start gets its redirected ends either way. Returns 0 or the Windows error number;
    // 183 when this Pipe already holds an open end.
    std::uint32_t create(bool inheritable);

    // Asks for a buffer of at least `bytes`, so that a writer faster than its reader blocks
    // less often; the system rounds up and caps what an unprivileged process may ask for.
    // Returns the buffer's size afterwards, 0 when the pipe has no open end.
    std::size_t setCapacity(std::size_t bytes);

    Handle& readEnd() { return read_; }
    Handle& writeEnd() { return write_; }

private:
    Handle read_;
    Handle write_;
};

// Reads the read end of a pipe, which it takes over from the Pipe. Once every writer has gone
// (the other end closed, the child ended) a read throws EndOfStreamException.
class PipeInputStream : public HandleInputStream {
public:
    explicit PipeInputStream(Pipe& pipe);
    ~PipeInputStream() override = default;

    std::uint64_t read(void* buffer, std::uint64_t size) override;
};

} // namespace tnw::util
