// How the status port's costs grow with what the server knows: the answers to "/json/status.json",
// "/" and "/json/servers.json" (headers included, as sent) with N known servers beside a full
// session history and a full list of recent requests, and learning one advertisement with N
// servers known, for N = 10, 100, 1,000 and 10,000. The known-servers list holds at most
// KnownServers::kLimit (1,024) servers, so the larger N are that many servers and the rest
// forgotten on the way.
//
// Each figure is processor time per operation of this thread (a busy machine slows the wall
// clock, not the work), the least of several runs, beside the same operation on an empty
// server measured in this run: a cost that stays flat in N reads about 1.0 whatever the machine.
//
//   build/release/bench/status_scale_bench

#include "service/http/routes.hpp"
#include "service/server/admission.hpp"
#include "service/server/capacity.hpp"
#include "service/server/discovery.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "service/session/session_end.hpp"
#include "util/format.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolver.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using plexmill::server::Manager;
using tnw::util::Time;

class BenchSession : public plexmill::server::SessionState {
public:
    void close() override {}
};

double threadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Microseconds of processor time per call: the least of five runs of enough calls to take
// about 50 ms each.
double microsecondsPer(const std::function<void()>& operation) {
    std::size_t calls = 1;
    for (;;) {
        double start = threadSeconds();
        for (std::size_t i = 0; i < calls; ++i) {
            operation();
        }
        if (threadSeconds() - start > 0.01 || calls >= (1U << 24)) {
            break;
        }
        calls *= 2;
    }
    calls *= 5;
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        double start = threadSeconds();
        for (std::size_t i = 0; i < calls; ++i) {
            operation();
        }
        best = std::min(best, (threadSeconds() - start) / static_cast<double>(calls));
    }
    return best * 1e6;
}

std::string dotted(std::uint32_t address) {
    return tnw::util::InetAddress(address, 0).addressText();
}

std::string advertisement() {
    return plexmill::server::advertiseDatagram(5000.0, true, true);
}

// Servers 10.(i / 65536).(i / 256).(i % 256) + 1, heard one after the other a second apart.
void learnServers(Manager& manager, std::size_t count, Time start) {
    std::string datagram = advertisement();
    for (std::size_t i = 0; i < count; ++i) {
        auto address = static_cast<std::uint32_t>(0x0A000001U + i);
        plexmill::server::learnServer(manager,
                                      dotted(address),
                                      datagram,
                                      Time(start.value() + static_cast<std::uint64_t>(i) * 1000));
    }
}

// The history and the recent requests as full as the server lets them grow, from peers of
// their own, with the names of a busy shop.
void fillLists(Manager& manager, Time now) {
    for (std::size_t i = 0; i < plexmill::session::kHistoryLimit; ++i) {
        auto peer = static_cast<std::uint32_t>(0xC0A80001U + i);
        Time started(now.value() - 3'600'000'000ULL + i * 1'000'000ULL);
        manager.history.push_back(
            plexmill::server::SessionRecord{{peer, 50000},
                                            "operator" + std::to_string(i),
                                            "CAM Studio",
                                            started,
                                            Time(started.value() + 120'000'000ULL),
                                            30'000'000ULL,
                                            256ULL << 20,
                                            64ULL << 20,
                                            16ULL << 20,
                                            i % 7 == 0 ? "Failed" : "Success"});
    }
    for (std::size_t i = 0; i < 40; ++i) {
        plexmill::server::recordRequest(manager,
                                        {static_cast<std::uint32_t>(0xC0A80101U + i), 8080},
                                        plexmill::server::RequestRecord::Http,
                                        now);
    }
    for (int i = 0; i < 4; ++i) {
        auto session = std::make_shared<BenchSession>();
        session->jobSession = true;
        session->id = i + 1;
        session->peer = {static_cast<std::uint32_t>(0xC0A80201U + i), 50000};
        session->user = "operator";
        session->application = "CAM Studio";
        session->startTime = Time(now.value() - 60'000'000ULL);
        manager.sessions.push_back(session);
    }
}

struct Row {
    std::size_t n;
    double statusJson;
    double statusPage;
    double serversJson;
    double learn;
};

Row measure(std::size_t n, Time now) {
    Manager manager;
    fillLists(manager, now);
    learnServers(manager, n, Time(now.value() - 200'000'000ULL));
    auto answer = [&manager](const char* path) {
        return [&manager, path] {
            auto bytes = plexmill::http::answerRequest(manager, path).bytes;
            if (bytes.empty()) {
                std::abort();
            }
        };
    };
    Row row{n, 0, 0, 0, 0};
    row.statusJson = microsecondsPer(answer("/json/status.json"));
    row.statusPage = microsecondsPer(answer("/"));
    row.serversJson = microsecondsPer(answer("/json/servers.json"));
    // Refreshing a known server and hearing a new one, alternately: once the list is full each
    // new one forgets the longest unheard.
    std::string datagram = advertisement();
    std::uint64_t heard = 0;
    if (n == 0) {
        return row;
    }
    row.learn = microsecondsPer([&] {
        ++heard;
        auto address = heard % 2 == 0 ? static_cast<std::uint32_t>(0x0A000001U + heard % n)
                                      : static_cast<std::uint32_t>(0x0B000000U + heard);
        plexmill::server::learnServer(
            manager, dotted(address), datagram, Time(now.value() + heard));
    });
    return row;
}

} // namespace

int main() {
    plexmill::server::setSystemRating(5000);
    // Every peer has a name at once, as a warm name cache gives it; lookups are not measured.
    tnw::util::NameResolver::setLookups(
        {[](std::uint32_t address) { return "host-" + std::to_string(address & 0xFFFF); }, {}});
    Time now = Time::now();
    Row base = measure(0, now);
    std::printf("microseconds of processor time per operation (ratio to an empty server, same "
                "run); 4 open job sessions, %zu closed, 20 recent requests\n",
                plexmill::session::kHistoryLimit);
    std::printf("%8s %8s  %-18s %-18s %-18s %-18s\n",
                "N",
                "kept",
                "status.json",
                "/",
                "servers.json",
                "learn one");
    auto cell = [](double value, double baseline) {
        return tnw::util::formatPrintf("%8.2f (%5.2f)", value, value / baseline);
    };
    std::printf("%8d %8d  %-18s %-18s %-18s %-18s\n",
                0,
                0,
                cell(base.statusJson, base.statusJson).c_str(),
                cell(base.statusPage, base.statusPage).c_str(),
                cell(base.serversJson, base.serversJson).c_str(),
                "");
    double learnBase = 0;
    for (std::size_t n : {10U, 100U, 1000U, 10000U}) {
        Row row = measure(n, now);
        if (learnBase == 0) {
            learnBase = row.learn;
        }
        std::size_t kept = std::min<std::size_t>(n, plexmill::server::KnownServers::kLimit);
        std::printf("%8zu %8zu  %-18s %-18s %-18s %-18s  servers.json per server %.3f us\n",
                    n,
                    kept,
                    cell(row.statusJson, base.statusJson).c_str(),
                    cell(row.statusPage, base.statusPage).c_str(),
                    cell(row.serversJson, base.serversJson).c_str(),
                    cell(row.learn, learnBase).c_str(),
                    (row.serversJson - base.serversJson) / static_cast<double>(kept));
    }
    std::printf("learn one: ratio to N = 10\n");
    return 0;
}
