#include "util/name_resolver.hpp"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tnw::util {
namespace {

using namespace std::chrono_literals;

// Puts the resolver back as the program has it, whatever a test changed.
class ResolverSettings {
public:
    ResolverSettings() = default;
    ~ResolverSettings() {
        NameResolver::setTimeout(NameResolver::kDefaultTimeout);
        NameResolver::setLookups({});
    }
    ResolverSettings(const ResolverSettings&) = delete;
    ResolverSettings& operator=(const ResolverSettings&) = delete;
};

// A name server the test controls: lookups wait until it opens. Shared with the resolver
// threads, which may outlive the test's own reference.
class Server {
public:
    void answer() {
        std::unique_lock lock(mutex_);
        ++calls_;
        callers_.push_back(std::this_thread::get_id());
        changed_.wait(lock, [this] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::thread::id lastCaller() {
        std::lock_guard lock(mutex_);
        return callers_.back();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int calls_ = 0;
    std::vector<std::thread::id> callers_;
};

std::shared_ptr<Server> useServer(std::string name, std::uint32_t address, bool open = true) {
    auto server = std::make_shared<Server>();
    if (open) {
        server->open();
    }
    NameResolver::setLookups({[server, name](std::uint32_t) {
                                  server->answer();
                                  return name;
                              },
                              [server, address](const std::string&) {
                                  server->answer();
                                  return address;
                              }});
    return server;
}

bool resolverThreadsRunning() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name == "NameResolver") {
            return true;
        }
    }
    return false;
}

bool waitUntilResolverThreadsEnd() {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (resolverThreadsRunning()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(NameResolver, SlowLookupAnswersEmptyAfterTheTimeoutAndItsLateAnswerIsDropped) {
    ResolverSettings settings;
    EXPECT_EQ(NameResolver::timeout(), 2'000'000U);
    NameResolver::setTimeout(200'000);
    auto server = useServer("cam-01", 0, false); // a name server that does not answer

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NameResolver::lookupName(0x0A010201U), "");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 1500ms);

    server->open(); // the answer arrives after the caller gave up
    ASSERT_TRUE(waitUntilResolverThreadsEnd());
    EXPECT_EQ(server->calls(), 1);
    EXPECT_EQ(NameResolver::lookupName(0x0A010201U), "cam-01"); // asked again, now in time
    EXPECT_EQ(server->calls(), 2);
    EXPECT_EQ(NameResolver::lookupName(0x0A010201U), "cam-01"); // from the cache
    EXPECT_EQ(server->calls(), 2);
}

TEST(NameResolver, TimeoutZeroLooksUpOnTheCallingThreadAndCachesBothDirections) {
    ResolverSettings settings;
    NameResolver::setTimeout(0);
    auto server = useServer("cam-02", 0);
    EXPECT_EQ(NameResolver::lookupName(0x0A010202U), "cam-02");
    EXPECT_EQ(server->lastCaller(), std::this_thread::get_id());
    EXPECT_EQ(NameResolver::lookupAddress("cam-02"), 0x0A010202U);
    EXPECT_EQ(NameResolver::lookupName(0x0A010202U), "cam-02");
    EXPECT_EQ(server->calls(), 1);
}

TEST(NameResolver, ForwardLookupFinishedInTimeIsCached) {
    ResolverSettings settings;
    auto server = useServer("", 0x0A010203U);
    EXPECT_EQ(NameResolver::lookupAddress("cam-03"), 0x0A010203U);
    EXPECT_NE(server->lastCaller(), std::this_thread::get_id());
    EXPECT_EQ(NameResolver::lookupAddress("cam-03"), 0x0A010203U);
    EXPECT_EQ(NameResolver::lookupName(0x0A010203U), "cam-03");
    EXPECT_EQ(server->calls(), 1);
}

TEST(NameResolver, AddressTextsAreAnsweredWithoutALookup) {
    ResolverSettings settings;
    auto server = useServer("", 0);
    EXPECT_EQ(NameResolver::lookupAddress("10.1.2.4"), 0x0A010204U);
    EXPECT_EQ(server->calls(), 0);
    EXPECT_EQ(NameResolver::lookupAddress("10.1.2.256"), 0U); // not an address: looked up
    EXPECT_EQ(server->calls(), 1);
}

TEST(NameResolver, FailedLookupsAreAskedAgain) {
    ResolverSettings settings;
    auto server = useServer("", 0);
    EXPECT_EQ(NameResolver::lookupName(0x0A010205U), "");
    EXPECT_EQ(NameResolver::lookupName(0x0A010205U), "");
    EXPECT_EQ(NameResolver::lookupAddress("cam-05"), 0U);
    EXPECT_EQ(NameResolver::lookupAddress("cam-05"), 0U);
    EXPECT_EQ(server->calls(), 4);
}

TEST(NameResolver, AddStoresBothDirectionsButNotEmptyAnswers) {
    ResolverSettings settings;
    auto server = useServer("", 0);
    NameResolver::add("cam-06", 0x0A010206U);
    NameResolver::add("", 0x0A010207U);
    NameResolver::add("cam-08", 0);
    EXPECT_EQ(NameResolver::lookupName(0x0A010206U), "cam-06");
    EXPECT_EQ(NameResolver::lookupAddress("cam-06"), 0x0A010206U);
    EXPECT_EQ(server->calls(), 0);
    EXPECT_EQ(NameResolver::lookupName(0x0A010207U), "");
    EXPECT_EQ(NameResolver::lookupAddress("cam-08"), 0U);
    EXPECT_EQ(server->calls(), 2);
}

TEST(NameResolver, ConcurrentLookupsShareTheCache) {
    ResolverSettings settings;
    auto server = useServer("cam-10", 0);
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([] {
            for (std::uint32_t host = 0; host < 8; ++host) {
                EXPECT_EQ(NameResolver::lookupName(0x0A020000U + host), "cam-10");
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_GE(server->calls(), 8);
    EXPECT_LE(server->calls(), 32);
}

} // namespace
} // namespace tnw::util
