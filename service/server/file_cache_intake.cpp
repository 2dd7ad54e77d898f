#include "service/server/file_cache_intake.hpp"

#include "service/server/file_cache_add.hpp"

namespace plexmill::server {

void FileCacheIntake::Ticket::waitUntilCopied() {
    std::unique_lock lock(mutex_);
    copiedChanged_.wait(lock, [this] { return copied_; });
}

void FileCacheIntake::Ticket::markCopied() {
    {
        std::lock_guard lock(mutex_);
        copied_ = true;
    }
    copiedChanged_.notify_all();
}

void FileCacheIntake::start(Manager& manager) {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    thread_ = std::thread([this, &manager] { run(manager); });
}

void FileCacheIntake::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::shared_ptr<FileCacheIntake::Ticket>
FileCacheIntake::submit(std::string sessionFilePath,
                        PeerAddress source,
                        std::uint32_t sessionNumber,
                        std::optional<tnw::util::ChecksumAndSize> received) {
    auto ticket = std::make_shared<Ticket>();
    {
        std::lock_guard lock(mutex_);
        if (!stopping_ && thread_.joinable()) {
            queue_.push_back(Job{
                std::move(sessionFilePath), source, sessionNumber, std::move(received), ticket});
            queueChanged_.notify_all();
            return ticket;
        }
    }
    ticket->markCopied();
    return ticket;
}

void FileCacheIntake::run(Manager& manager) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                for (Job& dropped : queue_) {
                    dropped.ticket->markCopied();
                }
                queue_.clear();
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            addFile(
                manager,
                job.sessionFilePath,
                job.source,
                job.sessionNumber,
                [&job] { job.ticket->markCopied(); },
                job.received);
        } catch (...) {
            // The file is simply not cached; the session must not wait for it for ever.
        }
        job.ticket->markCopied();
    }
}

} // namespace plexmill::server
