// Copying a stream whose reads and writes both cost time (a file into a digest): the reads
// run on a second thread, a few pieces ahead of the writes.
#pragma once

#include "util/input_stream.hpp"
#include "util/output_stream.hpp"

#include <cstddef>

namespace tnw::util {

// As copy (stream_copy.hpp): the same ends, results and failures, never throws. The input is
// read on a thread of its own into `pieces` buffers of `pieceSize` bytes that the calling
// thread writes out in order, so a write waits for a read only when the reads fall behind.
bool copyOverlapped(InputStream& input,
                    OutputStream& output,
                    std::size_t pieceSize,
                    std::size_t pieces = 4);

} // namespace tnw::util
