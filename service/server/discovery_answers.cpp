#include "service/server/discovery_answers.hpp"

#include <chrono>

namespace plexmill::server {

void DiscoveryAnswers::start(Send send) {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    thread_ = std::thread([this, send = std::move(send)] { run(send); });
}

void DiscoveryAnswers::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    queue_.clear();
    waiting_.clear();
}

bool DiscoveryAnswers::enqueue(tnw::util::Socket socket, const tnw::util::InetAddress& requester) {
    std::lock_guard lock(mutex_);
    if (stopping_ || !thread_.joinable() || queue_.size() >= kQueueLimit) {
        return false;
    }
    if (!waiting_.insert(requester).second) {
        return false;
    }
    queue_.push_back(Answer{std::move(socket), requester});
    changed_.notify_all();
    return true;
}

void DiscoveryAnswers::run(const Send& send) {
    for (;;) {
        Answer answer;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // The pause comes before the answer; a stop cuts it short.
            if (changed_.wait_for(
                    lock, std::chrono::microseconds(kPause), [this] { return stopping_; })) {
                return;
            }
            answer = std::move(queue_.front());
            queue_.pop_front();
            waiting_.erase(answer.requester);
        }
        try {
            send(answer.socket, answer.requester);
        } catch (...) {
            // An answer that cannot be sent is simply not heard.
        }
    }
}

} // namespace plexmill::server
