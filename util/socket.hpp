// IPv4 TCP and UDP sockets with the program's error mapping: failures surface as the Windows
// error numbers peers and callers know (windows_error.hpp), through the util exceptions.
//
// A Socket is a shared owner of one descriptor, like Handle; copies refer to the same socket.
// One thread uses a socket at a time, except that one thread may read while another writes,
// and another may shut it down or close it to end a blocked call.
#pragma once

#include "util/handle.hpp"
#include "util/inet_address.hpp"
#include "util/sync.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace tnw::util {

enum class ReceiveStatus : std::uint32_t {
    kReceived = 0,
    kNothingWaiting = 1, // non-blocking socket, no datagram queued
};

struct ReceiveFromResult {
    ReceiveStatus status = ReceiveStatus::kNothingWaiting;
    std::size_t count = 0;
    InetAddress sender;
};

class Socket {
public:
    // The descriptor owner. Closing it also empties the socket's event handle, so a copy of
    // that handle can never be polled after the descriptor number has been reused.
    class SocketHandleImpl : public Handle::HandleImpl {
    public:
        explicit SocketHandleImpl(int fd) : HandleImpl(fd, false) {}
        ~SocketHandleImpl() override;
        std::uint32_t close() override;
        std::pair<Handle, std::uint32_t> duplicate(bool inheritable) override;

    private:
        friend class Socket;
        Handle event_; // borrowed view of the descriptor, set once by makeEventDriven
        std::atomic<bool> sendShutDown_{false};
        std::atomic<bool> receiveShutDown_{false};
        std::atomic<std::uint64_t> sendWaitingSince_{0}; // monotonic microseconds, 0 = not
    };

    Socket() = default;
    // Takes ownership of an open socket descriptor made by a call this class does not wrap.
    static Socket adopt(int fd);

    // A close-on-exec IPv4 socket, TCP when `stream`, else UDP. False when this Socket already
    // holds an open one or creation fails.
    bool create(bool stream);
    bool isValid() const { return impl_ && impl_->fd() >= 0; }
    explicit operator bool() const { return isValid(); }
    // The descriptor as a Handle sharing ownership (byte counters, streams).
    Handle handle() const { return Handle(impl_); }
    // Closes the descriptor for every copy; 0 or the Windows error number of the close.
    std::uint32_t close() { return impl_ ? impl_->close() : 0; }
    // Drops this reference; the socket closes when it was the last one.
    void reset() { impl_.reset(); }

    // Stream sockets may bind a port that closed connections still hold in TIME_WAIT, as a
    // restarted server must; a port another socket listens on stays refused.
    bool bind(const InetAddress& address);
    bool listen(int backlog);
    // One waiting connection, or an empty Socket when none waits (non-blocking listener), the
    // call fails, or the peer is not IPv4 (that connection is closed at once). The accepted
    // socket is blocking exactly when the listener is, and is not event-driven.
    // `outOfResources`, when given, tells whether the system refused for want of descriptors
    // or memory: the connection then stays waiting, and asking again at once fails again.
    Socket accept(bool* outOfResources = nullptr);
    // Blocking connect; false on failure (and on a non-blocking socket, whose connect is then
    // still in progress).
    bool connect(const InetAddress& address);

    // Makes the socket non-blocking and gives it an event handle for waitForAny, signalled
    // while a connection or datagram waits (or the socket has an error). Readiness is the
    // socket's own, so there is nothing to reset. False when already event-driven or failed.
    bool makeEventDriven();
    // Empty unless event-driven; empties itself when the socket is closed.
    Handle eventHandle() const;

    // Failures of these are ignored, as callers cannot act on them.
    void setNonBlocking(bool nonBlocking);
    void setBroadcast(bool broadcast);
    // Receive time-out in milliseconds, 0 = none; a receive that waits longer throws
    // IOTimedOutException 10060. False when the option cannot be set.
    bool setReceiveTimeout(std::uint32_t milliseconds);
    // TCP: sends small writes at once instead of holding them back until the peer has
    // acknowledged what is in flight (Nagle's algorithm), which with the peer's delayed
    // acknowledgement costs a request-reply protocol ~40 ms per exchange. False on failure.
    bool setNoDelay(bool noDelay);

    // Zero when unknown or not IPv4.
    InetAddress getLocalAddress() const;
    InetAddress getPeerAddress() const;

    // Half-closes; afterwards send throws EndOfStreamException (10058) and so does a receive
    // that finds no more data. Failures are ignored.
    void shutdownReceive();
    void shutdownSend();

    // At most 2^31 - 1 bytes per call. Returns the bytes moved; 0 means the call would block
    // (non-blocking socket) or, for receive, that the peer closed the connection in order.
    // Connection aborted (10053) and shut down (10058) throw EndOfStreamException; timed out
    // throws IOTimedOutException 10060; any other failure IOException with its number
    // (a reset connection is 10054). A closed peer never raises SIGPIPE.
    std::size_t send(const void* buffer, std::size_t size);
    std::size_t receive(void* buffer, std::size_t size);
    // Sends every byte, waiting for room when the socket is non-blocking; throws as send
    // does, and IOException 6 when the socket is closed. `timeout` (microseconds, on the
    // program's clock) bounds each wait for room: a peer that takes nothing for that long
    // gets IOTimedOutException 10060, one that keeps reading however slowly does not.
    void sendAll(const void* buffer, std::size_t size, std::uint32_t timeout = kInfinite);
    // Sends what the socket takes, waiting at most `timeout` for room: at least one byte
    // (when size > 0), or IOTimedOutException 10060. Blocking or not, the call never waits
    // longer than that.
    std::size_t sendWithin(const void* buffer, std::size_t size, std::uint32_t timeout);
    // Moves at most `size` bytes that wait in a pipe's read end straight into the socket,
    // without passing them through this process (splice): the bytes moved, at least one, or 0
    // when every writer of the pipe has gone and it is empty. Waits for room as long as it
    // takes and throws as send does (a failing pipe: IOException with its number). Meant for
    // a caller that knows the pipe holds data: with none it waits for some.
    std::size_t spliceFrom(const Handle& pipe, std::size_t size);
    // The other way: moves at most `size` bytes that the peer sent straight into a pipe's
    // write end, as many as are there once some are (splice). Returns the bytes moved, 0 when
    // the peer closed the connection in order; waits for data on a non-blocking socket too,
    // and throws as receive does. The pipe must have room: its reader is the caller.
    std::size_t spliceTo(const Handle& pipe, std::size_t size);
    // Waits at most `timeout` for data (or the end of the stream), then receives as receive
    // does; IOTimedOutException 10060 when nothing came in time. For blocking sockets.
    std::size_t receiveWithin(void* buffer, std::size_t size, std::uint32_t timeout);
    // Since when (monotonic microseconds, program clock) a sendWithin or sendAll with a
    // time-out has been waiting for the peer to make room; 0 while none waits. Any thread
    // may ask.
    std::uint64_t sendWaitingSince() const;

    // Datagrams. Timed out throws IOTimedOutException 10060; every other failure IOException
    // with its number (sendTo on a full non-blocking socket: 10035).
    std::size_t sendTo(const InetAddress& address, const void* buffer, std::size_t size);
    // kNothingWaiting when a non-blocking socket has no datagram; a longer datagram than the
    // buffer is cut to the buffer's size. A sender that is not IPv4 throws IOException
    // "Invalid IP family.".
    ReceiveFromResult receiveFrom(void* buffer, std::size_t size);

private:
    explicit Socket(std::shared_ptr<SocketHandleImpl> impl) : impl_(std::move(impl)) {}
    int fd() const { return impl_ ? impl_->fd() : Handle::kNone; }
    // One send(2) with these flags; nullopt when the socket has no room at the moment.
    std::optional<std::size_t> trySend(const void* buffer, std::size_t size, int flags);

    std::shared_ptr<SocketHandleImpl> impl_;
};

} // namespace tnw::util
