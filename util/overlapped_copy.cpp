#include "util/overlapped_copy.hpp"

#include "util/background_writer.hpp"
#include "util/exception.hpp"

namespace tnw::util {

bool copyOverlapped(InputStream& input,
                    OutputStream& output,
                    std::size_t pieceSize,
                    std::size_t pieces) {
    try {
        BackgroundWriter writer(output, pieceSize, pieces);
        bool inputEnded = false;
        bool inputFailed = false;
        while (!inputEnded && !inputFailed) {
            std::span<char> piece = writer.nextPiece();
            if (piece.empty()) {
                break; // the output failed or ended: finish() tells which
            }
            // Pieces are filled whole: short reads do not end the input. What was read before
            // a failure is still written.
            std::size_t size = 0;
            try {
                while (size < piece.size()) {
                    std::uint64_t got = input.read(piece.data() + size, piece.size() - size);
                    if (got == 0) {
                        inputEnded = true;
                        break;
                    }
                    size += static_cast<std::size_t>(got);
                }
            } catch (const EndOfStreamException&) {
                inputEnded = true;
            } catch (...) {
                inputFailed = true;
            }
            writer.submit(size);
        }
        bool written = writer.finish();
        return writer.outputEnded() || (written && inputEnded);
    } catch (...) {
        return false;
    }
}

} // namespace tnw::util
