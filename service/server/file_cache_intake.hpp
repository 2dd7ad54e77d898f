// The thread that takes received files into the file cache, so that a session answers its
// client's next command while the file it just received is still being copied and checksummed.
//
// A session must not change or delete a submitted file before its ticket says the file has
// been copied: the kernel run and the removal of the session folder wait for that.
#pragma once

#include "service/server/records.hpp"
#include "util/checksum.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace plexmill::server {

class Manager;

class FileCacheIntake {
public:
    class Ticket {
    public:
        // Returns once the file has been copied out of the session, or dropped.
        void waitUntilCopied();

    private:
        friend class FileCacheIntake;
        void markCopied();

        std::mutex mutex_;
        std::condition_variable copiedChanged_;
        bool copied_ = false;
    };

    FileCacheIntake() = default;
    ~FileCacheIntake() { stop(); }
    FileCacheIntake(const FileCacheIntake&) = delete;
    FileCacheIntake& operator=(const FileCacheIntake&) = delete;

    // Starts the thread; the manager outlives it (stop() or the destructor joins it).
    void start(Manager& manager);
    // Lets the file being copied finish, drops the files still waiting (their tickets are
    // marked copied, as nothing will read them) and joins the thread.
    void stop();

    // Queues the session's file, with the checksum and size of the bytes as received when the
    // session hashed them (see addFile). Without a running thread the file is dropped at once.
    std::shared_ptr<Ticket> submit(std::string sessionFilePath,
                                   PeerAddress source,
                                   std::uint32_t sessionNumber,
                                   std::optional<tnw::util::ChecksumAndSize> received = {});

private:
    struct Job {
        std::string sessionFilePath;
        PeerAddress source;
        std::uint32_t sessionNumber = 0;
        std::optional<tnw::util::ChecksumAndSize> received;
        std::shared_ptr<Ticket> ticket;
    };

    void run(Manager& manager);

    std::mutex mutex_;
    std::condition_variable queueChanged_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace plexmill::server
