#include "util/spliced_receive.hpp"

#include "util/exception.hpp"
#include "util/pipe.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace tnw::util {

namespace {

// As much as an unprivileged process may ask for: fewer, larger moves per megabyte.
constexpr std::size_t kPipeCapacity = std::size_t{1} << 20;

[[noreturn]] void raiseLastError() {
    raise(IOException(lastError()));
}

// Hashes a file's bytes as they are written: the writer says how far it has come, and a
// thread of its own reads each new stretch back (from the cache, where it has just been
// written) and writes it to the digest. A digest that throws ends the hashing; its exception
// is handed to the writer at finish().
class FileDigestFeed {
public:
    // Reads through a descriptor of its own for the file that `file` writes, from `start` on.
    FileDigestFeed(OutputStream& digest, const Handle& file, std::uint64_t start)
        : digest_(digest), reader_(reopenForReading(file)), hashed_(start), written_(start),
          thread_([this] { run(); }) {}
    // Stops at once, whatever is left to hash.
    ~FileDigestFeed() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                abandoned_ = true;
            }
            changed_.notify_one();
            thread_.join();
        }
    }
    FileDigestFeed(const FileDigestFeed&) = delete;
    FileDigestFeed& operator=(const FileDigestFeed&) = delete;

    // The file now holds everything up to `end`.
    void writtenUpTo(std::uint64_t end) {
        {
            std::lock_guard lock(mutex_);
            written_ = end;
        }
        changed_.notify_one();
    }

    // Waits until everything written is hashed, then rethrows what the digest or the reading
    // threw.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        changed_.notify_one();
        thread_.join();
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

private:
    static Handle reopenForReading(const Handle& file) {
        std::string path = "/proc/self/fd/" + std::to_string(file.fd());
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            raiseLastError();
        }
        return Handle(fd);
    }

    void run() {
        try {
            auto buffer = std::make_unique_for_overwrite<char[]>(kPipeCapacity);
            for (;;) {
                std::uint64_t end = 0;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [this] { return abandoned_ || ended_ || written_ > hashed_; });
                    if (abandoned_ || written_ == hashed_) {
                        return;
                    }
                    end = written_;
                }
                while (hashed_ < end) {
                    hashStretch(buffer.get(), std::min<std::uint64_t>(end - hashed_, kPipeCapacity));
                }
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
    }

    void hashStretch(char* buffer, std::uint64_t size) {
        ssize_t got = ::pread(reader_.fd(), buffer, size, static_cast<off_t>(hashed_));
        if (got < 0 && errno == EINTR) {
            return;
        }
        if (got < 0) {
            raiseLastError();
        }
        if (got == 0) {
            raise(IOException(error::kHandleEof)); // cut short under us: not what came
        }
        for (std::size_t taken = 0; taken < static_cast<std::size_t>(got);) {
            std::uint64_t step = digest_.write(buffer + taken, static_cast<std::size_t>(got) - taken);
            if (step == 0) {
                raise(IOException("The digest took no more bytes."));
            }
            taken += static_cast<std::size_t>(step);
        }
        hashed_ += static_cast<std::uint64_t>(got);
    }

    OutputStream& digest_;
    Handle reader_;
    std::uint64_t hashed_; // the thread's own
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t written_;   // guarded by mutex_
    bool ended_ = false;      // guarded by mutex_
    bool abandoned_ = false;  // guarded by mutex_
    std::exception_ptr failure_; // the thread's own until it has been joined
    std::thread thread_;
};

// Moves exactly `size` bytes from the front of the pipe to the file.
void spliceToFile(const Handle& pipe, const Handle& file, std::size_t size) {
    while (size > 0) {
        ssize_t moved = ::splice(pipe.fd(), nullptr, file.fd(), nullptr, size, SPLICE_F_MOVE);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            raiseLastError();
        }
        if (moved == 0) {
            raise(IOException(error::kDiskFull));
        }
        file.impl()->bytesWritten.fetch_add(static_cast<std::uint64_t>(moved),
                                            std::memory_order_relaxed);
        size -= static_cast<std::size_t>(moved);
    }
}

} // namespace

SplicedReceipt receiveSpliced(Socket& connection,
                              FileOutputStream& file,
                              std::uint64_t size,
                              OutputStream* digest) {
    const Handle& target = file.handle();
    off_t position = ::lseek(target.fd(), 0, SEEK_CUR);
    if (position < 0) {
        raiseLastError();
    }
    Pipe pipe;
    if (std::uint32_t failure = pipe.create(false); failure != 0) {
        raise(IOException(failure));
    }
    pipe.setCapacity(kPipeCapacity);
    std::optional<FileDigestFeed> feed;
    if (digest != nullptr) {
        feed.emplace(*digest, target, static_cast<std::uint64_t>(position));
    }
    auto written = static_cast<std::uint64_t>(position);
    while (size > 0) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, kPipeCapacity));
        std::size_t got = connection.spliceTo(pipe.writeEnd(), wanted);
        if (got == 0) {
            return SplicedReceipt::PeerClosed;
        }
        spliceToFile(pipe.readEnd(), target, got);
        written += got;
        size -= got;
        if (feed) {
            feed->writtenUpTo(written);
        }
    }
    if (feed) {
        feed->finish();
    }
    return SplicedReceipt::Received;
}

} // namespace tnw::util
