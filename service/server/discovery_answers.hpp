// The thread that answers request-advertise datagrams. Each answer waits its pause and they go
// out one after the other, as they always have, but off the main loop: there the pauses let a
// dozen requests a second from anyone keep the server from its sessions, its status page and
// Ctrl+C. A requester that is still waiting for its answer gets no second one, so the answers
// sent never outgrow what the pauses allow. Every other requester is queued, up to as many as
// the known-servers list keeps: a LAN of that many servers starting together must all be
// answered within one request round (1,024 pauses are 102 s of the 300), or each would learn
// only the first few others until the next round.
#pragma once

#include "util/inet_address.hpp"
#include "util/socket.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace plexmill::server {

class DiscoveryAnswers {
public:
    static constexpr std::size_t kQueueLimit = 1024;
    static constexpr std::uint32_t kPause = 100'000; // microseconds before each answer

    // Sends one answer: the datagram built at that moment, from `socket` to `requester`.
    using Send =
        std::function<void(tnw::util::Socket& socket, const tnw::util::InetAddress& requester)>;

    DiscoveryAnswers() = default;
    ~DiscoveryAnswers() { stop(); }
    DiscoveryAnswers(const DiscoveryAnswers&) = delete;
    DiscoveryAnswers& operator=(const DiscoveryAnswers&) = delete;

    void start(Send send);
    // Drops the answers not sent yet and joins the thread.
    void stop();

    // Queues an answer to the requester, from the socket the request came in on. False when it
    // was dropped: no thread, a full queue, or an answer to that requester already queued.
    bool enqueue(tnw::util::Socket socket, const tnw::util::InetAddress& requester);

private:
    struct Answer {
        tnw::util::Socket socket;
        tnw::util::InetAddress requester;
    };

    void run(const Send& send);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Answer> queue_;                  // guarded by mutex_
    std::set<tnw::util::InetAddress> waiting_; // the requesters in queue_; guarded by mutex_
    bool stopping_ = false;    // guarded by mutex_
    std::thread thread_;
};

} // namespace plexmill::server
