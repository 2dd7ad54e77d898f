#include "util/overlapped_copy.hpp"

#include "util/exception.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tnw::util {

namespace {

struct Piece {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
};

// The pieces passed between the reader and the writer, each way in order.
class PieceExchange {
public:
    PieceExchange(std::size_t pieces, std::size_t pieceSize) {
        for (std::size_t i = 0; i < pieces; ++i) {
            empty_.push_back(Piece{std::make_unique_for_overwrite<char[]>(pieceSize), 0});
        }
    }

    // The reader: an empty piece, or none once the writer has stopped.
    std::optional<Piece> takeEmpty() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return writerStopped_ || !empty_.empty(); });
        return take(empty_, writerStopped_);
    }
    // The writer: the next full piece, or none once the reader has ended and all are taken.
    std::optional<Piece> takeFull() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return readerEnded_ || !full_.empty(); });
        return take(full_, false);
    }
    void giveFull(Piece piece) { give(full_, std::move(piece)); }
    void giveEmpty(Piece piece) { give(empty_, std::move(piece)); }

    // The reader is done: `succeeded` tells whether it reached the end of the input.
    void endReading(bool succeeded) {
        std::lock_guard lock(mutex_);
        readerEnded_ = true;
        readSucceeded_ = succeeded;
        changed_.notify_all();
    }
    void stopWriting() {
        std::lock_guard lock(mutex_);
        writerStopped_ = true;
        changed_.notify_all();
    }
    bool readSucceeded() {
        std::lock_guard lock(mutex_);
        return readSucceeded_;
    }

private:
    std::optional<Piece> take(std::deque<Piece>& from, bool stopped) {
        if (stopped || from.empty()) {
            return std::nullopt;
        }
        Piece piece = std::move(from.front());
        from.pop_front();
        return piece;
    }
    void give(std::deque<Piece>& to, Piece piece) {
        std::lock_guard lock(mutex_);
        to.push_back(std::move(piece));
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> empty_;
    std::deque<Piece> full_;
    bool readerEnded_ = false;
    bool readSucceeded_ = false;
    bool writerStopped_ = false;
};

// Fills pieces whole (short reads do not end the input) until the input ends or fails; what
// was read before a failure is still handed on.
void readPieces(InputStream& input, PieceExchange& exchange, std::size_t pieceSize) {
    bool ended = false;
    try {
        bool failed = false;
        while (!ended && !failed) {
            std::optional<Piece> piece = exchange.takeEmpty();
            if (!piece) {
                break;
            }
            piece->size = 0;
            try {
                while (piece->size < pieceSize) {
                    std::uint64_t got =
                        input.read(piece->bytes.get() + piece->size, pieceSize - piece->size);
                    if (got == 0) {
                        ended = true;
                        break;
                    }
                    piece->size += static_cast<std::size_t>(got);
                }
            } catch (const EndOfStreamException&) {
                ended = true;
            } catch (...) {
                failed = true;
            }
            exchange.giveFull(std::move(*piece));
        }
    } catch (...) {
        ended = false;
    }
    exchange.endReading(ended);
}

} // namespace

bool copyOverlapped(InputStream& input,
                    OutputStream& output,
                    std::size_t pieceSize,
                    std::size_t pieces) {
    std::unique_ptr<PieceExchange> exchange;
    std::thread reader;
    try {
        exchange = std::make_unique<PieceExchange>(std::max<std::size_t>(pieces, 2), pieceSize);
        reader = std::thread([&] { readPieces(input, *exchange, pieceSize); });
    } catch (...) {
        return false;
    }
    bool written = true;
    bool outputEnded = false;
    try {
        while (std::optional<Piece> piece = exchange->takeFull()) {
            if (piece->size > 0 && output.write(piece->bytes.get(), piece->size) != piece->size) {
                written = false;
                break;
            }
            exchange->giveEmpty(std::move(*piece));
        }
    } catch (const EndOfStreamException&) {
        // The output has had enough: as copy, that ends the copy well.
        outputEnded = true;
    } catch (...) {
        written = false;
    }
    exchange->stopWriting();
    reader.join();
    return outputEnded || (written && exchange->readSucceeded());
}

} // namespace tnw::util
