// Receiving a known number of bytes from a connection into a file without passing them through
// this process: the kernel moves them from the socket into a pipe and from the pipe into the
// file (splice). A digest of the bytes reads them back from the file's cache, on a thread of
// its own, right behind the writing: hashing runs beside the transfer, and the thread that
// receives never copies a byte.
#pragma once

#include "util/file_stream.hpp"
#include "util/output_stream.hpp"
#include "util/socket.hpp"

#include <cstdint>

namespace tnw::util {

enum class SplicedReceipt { Received, PeerClosed };

// Moves `size` bytes from `connection` into `file` at its position, and writes the same bytes,
// in order, to `digest` unless it is null. What the digest sees is what the file holds: the
// pages the peer's bytes came in may be shared with the sender on this machine, which could
// still change them, so they are read only once. PeerClosed when the peer closed the
// connection in order before all of the bytes came. Throws what the connection's receive
// throws, IOException with the number for a failing pipe or file, and what the digest threw
// (after the receive ended); std::system_error when no thread can be started for the digest.
SplicedReceipt receiveSpliced(Socket& connection,
                              FileOutputStream& file,
                              std::uint64_t size,
                              OutputStream* digest);

} // namespace tnw::util
