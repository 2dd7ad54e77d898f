#include "util/background_writer.hpp"

#include "util/exception.hpp"

#include <algorithm>

namespace tnw::util {

BackgroundWriter::BackgroundWriter(OutputStream& output, std::size_t pieceSize, std::size_t pieces)
    : output_(output), pieceSize_(pieceSize) {
    for (std::size_t i = 0; i < std::max<std::size_t>(pieces, 2); ++i) {
        empty_.push_back(std::make_unique_for_overwrite<char[]>(pieceSize));
    }
    thread_ = std::thread([this] { run(); });
}

BackgroundWriter::~BackgroundWriter() {
    finish();
}

std::span<char> BackgroundWriter::nextPiece() {
    if (!filling_) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stopped_ || !empty_.empty(); });
        if (stopped_) {
            return {};
        }
        filling_ = std::move(empty_.front());
        empty_.pop_front();
    }
    return {filling_.get(), pieceSize_};
}

void BackgroundWriter::submit(std::size_t size) {
    if (!filling_) {
        return;
    }
    std::lock_guard lock(mutex_);
    full_.emplace_back(std::move(filling_), std::min(size, pieceSize_));
    changed_.notify_all();
}

bool BackgroundWriter::finish() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            producing_ = false;
        }
        changed_.notify_all();
        thread_.join();
    }
    return !failed_;
}

void BackgroundWriter::run() {
    for (;;) {
        std::pair<Piece, std::size_t> piece;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !producing_ || !full_.empty(); });
            if (full_.empty()) {
                return;
            }
            piece = std::move(full_.front());
            full_.pop_front();
        }
        bool failed = false;
        bool ended = false;
        try {
            failed = piece.second > 0 && output_.write(piece.first.get(), piece.second) != piece.second;
        } catch (const EndOfStreamException&) {
            ended = true;
        } catch (...) {
            failed = true;
        }
        std::lock_guard lock(mutex_);
        if (failed || ended) {
            failed_ = failed;
            outputEnded_ = ended;
            stopped_ = true;
            changed_.notify_all();
            return;
        }
        empty_.push_back(std::move(piece.first));
        changed_.notify_all();
    }
}

} // namespace tnw::util
