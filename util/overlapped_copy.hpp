// Copying a stream whose reads and writes both cost time (a file into a digest): the writes
// run on a second thread, a few pieces behind the reads.
#pragma once

#include "util/input_stream.hpp"
#include "util/output_stream.hpp"

#include <cstddef>

namespace tnw::util {

// As copy (stream_copy.hpp): the same ends, results and failures, never throws. The calling
// thread reads the input into `pieces` buffers of `pieceSize` bytes that a thread of its own
// (BackgroundWriter) writes out in order, so a read waits for a write only when the writes
// fall behind.
bool copyOverlapped(InputStream& input,
                    OutputStream& output,
                    std::size_t pieceSize,
                    std::size_t pieces = 4);

} // namespace tnw::util
