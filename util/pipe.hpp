// Anonymous pipes: the pair of ends, and the input stream over the read end.
#pragma once

#include "util/handle.hpp"
#include "util/input_stream.hpp"

#include <cstdint>

namespace tnw::util {

class Pipe {
public:
    // Creates the pipe. Both ends are close-on-exec unless `inheritable`; a child started with
    // Process::start gets its redirected ends either way. Returns 0 or the Windows error number;
    // 183 when this Pipe already holds an open end.
    std::uint32_t create(bool inheritable);

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
