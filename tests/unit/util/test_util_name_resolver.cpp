#include "util/name_resolver.hpp"

#include <atomic>
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
        return callers_.empty() ? std::thread::id() : callers_.back();
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

// The cache lives as long as the process, which may run the tests more than once: every test
// asks about hosts no earlier test has seen.
std::uint32_t freshAddress() {
    static std::atomic<std::uint32_t> next{0x0A010001U};
    return next++;
}

std::string freshName() {
    static std::atomic<int> next{1};
    return "host-" + std::to_string(next++);
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
    std::uint32_t address = freshAddress();
    auto server = useServer("cam-01", 0, false); // a name server that does not answer

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NameResolver::lookupName(address), "");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 1500ms);

    server->open(); // the answer arrives after the caller gave up
    ASSERT_TRUE(waitUntilResolverThreadsEnd());
    EXPECT_EQ(server->calls(), 1);
    EXPECT_EQ(NameResolver::lookupName(address), "cam-01"); // asked again, now in time
    EXPECT_EQ(server->calls(), 2);
    EXPECT_EQ(NameResolver::lookupName(address), "cam-01"); // from the cache
    EXPECT_EQ(server->calls(), 2);
}

TEST(NameResolver, TimeoutZeroLooksUpOnTheCallingThreadAndCachesBothDirections) {
    ResolverSettings settings;
    NameResolver::setTimeout(0);
    std::uint32_t address = freshAddress();
    std::string name = freshName();
    auto server = useServer(name, 0);
    EXPECT_EQ(NameResolver::lookupName(address), name);
    EXPECT_EQ(server->lastCaller(), std::this_thread::get_id());
    EXPECT_EQ(NameResolver::lookupAddress(name), address);
    EXPECT_EQ(NameResolver::lookupName(address), name);
    EXPECT_EQ(server->calls(), 1);
}

TEST(NameResolver, ForwardLookupFinishedInTimeIsCached) {
    ResolverSettings settings;
    std::uint32_t address = freshAddress();
    std::string name = freshName();
    auto server = useServer("", address);
    EXPECT_EQ(NameResolver::lookupAddress(name), address);
    EXPECT_NE(server->lastCaller(), std::this_thread::get_id());
    EXPECT_EQ(NameResolver::lookupAddress(name), address);
    EXPECT_EQ(NameResolver::lookupName(address), name);
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
    std::uint32_t address = freshAddress();
    std::string name = freshName();
    auto server = useServer("", 0);
    EXPECT_EQ(NameResolver::lookupName(address), "");
    EXPECT_EQ(NameResolver::lookupName(address), "");
    EXPECT_EQ(NameResolver::lookupAddress(name), 0U);
    EXPECT_EQ(NameResolver::lookupAddress(name), 0U);
    EXPECT_EQ(server->calls(), 4);
}

TEST(NameResolver, AddStoresBothDirectionsButNotEmptyAnswers) {
    ResolverSettings settings;
    std::uint32_t known = freshAddress();
    std::uint32_t unnamed = freshAddress();
    std::string name = freshName();
    std::string addressless = freshName();
    auto server = useServer("", 0);
    NameResolver::add(name, known);
    NameResolver::add("", unnamed);
    NameResolver::add(addressless, 0);
    EXPECT_EQ(NameResolver::lookupName(known), name);
    EXPECT_EQ(NameResolver::lookupAddress(name), known);
    EXPECT_EQ(server->calls(), 0);
    EXPECT_EQ(NameResolver::lookupName(unnamed), "");
    EXPECT_EQ(NameResolver::lookupAddress(addressless), 0U);
    EXPECT_EQ(server->calls(), 2);
}

TEST(NameResolver, ConcurrentLookupsShareTheCache) {
    ResolverSettings settings;
    std::vector<std::uint32_t> addresses;
    for (int i = 0; i < 8; ++i) {
        addresses.push_back(freshAddress());
    }
    auto server = useServer("cam-10", 0);
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&addresses] {
            for (std::uint32_t address : addresses) {
                EXPECT_EQ(NameResolver::lookupName(address), "cam-10");
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
