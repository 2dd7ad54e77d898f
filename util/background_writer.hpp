// Writing to an output that costs as much time as producing the bytes (a digest): the caller
// fills pieces and hands them over, and a thread of its own writes them out in order, so that
// producing the next piece and writing the last one overlap.
#pragma once

#include "util/output_stream.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

namespace tnw::util {

class BackgroundWriter {
public:
    // Starts the thread that writes to `output`, which must outlive this writer, with `pieces`
    // buffers (at least 2) of `pieceSize` bytes. Throws std::bad_alloc or std::system_error
    // when it cannot.
    BackgroundWriter(OutputStream& output, std::size_t pieceSize, std::size_t pieces = 4);
    // Writes what was handed over, as finish().
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // The next piece to fill, `pieceSize` bytes, waiting while every piece is still being
    // written. Empty once the output has failed or ended: nothing more will be written.
    std::span<char> nextPiece();
    // Hands over the first `size` bytes of the piece nextPiece() gave.
    void submit(std::size_t size);

    // Waits until every piece handed over is written, and ends the thread. False when a write
    // took fewer bytes than given or failed; an output that ended (EndOfStreamException) ends
    // the writing well, and the pieces after it are dropped. Later calls give the same answer.
    bool finish();
    // Whether the output ended (EndOfStreamException) before everything was written.
    bool outputEnded() const { return outputEnded_; }

private:
    using Piece = std::unique_ptr<char[]>;

    void run();

    OutputStream& output_;
    const std::size_t pieceSize_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> empty_;                       // guarded by mutex_
    std::deque<std::pair<Piece, std::size_t>> full_; // guarded by mutex_
    bool producing_ = true;                         // guarded by mutex_
    bool stopped_ = false; // the output failed or ended; guarded by mutex_
    bool failed_ = false;  // guarded by mutex_; read without it once the thread is joined
    bool outputEnded_ = false; // as failed_
    Piece filling_;        // the producer's own
    std::thread thread_;
};

} // namespace tnw::util
