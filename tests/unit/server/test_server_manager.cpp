#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "service/server/admission.hpp"
#include "service/server/capacity.hpp"
#include "service/server/discovery.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"

namespace plexmill::server {
namespace {

using tnw::util::Time;

class FakeSession : public SessionState {
public:
    void close() override {}
};

TEST(Accepting, CpuUsageLimitIsInclusive) {
    settings() = Settings{};
    Manager manager;
    manager.config.maximumSessions = 2;
    manager.config.minimumSystemMemory = 0;
    manager.cpuUsage = 0.75;
    EXPECT_TRUE(isAccepting(manager));
    manager.cpuUsage = 0.7501;
    EXPECT_FALSE(isAccepting(manager));
}

TEST(Accepting, OnlyJobSessionsCountAgainstTheLimit) {
    settings() = Settings{};
    Manager manager;
    manager.config.maximumSessions = 2;
    manager.config.minimumSystemMemory = 0;
    tnw::util::Lock lock(tnw::util::globalLock());
    std::vector<std::shared_ptr<FakeSession>> listed;
    for (int i = 0; i < 4; ++i) {
        listed.push_back(std::make_shared<FakeSession>());
        manager.listSession(listed.back());
    }
    EXPECT_TRUE(isAccepting(manager));
    manager.markJobSession(*listed[2]);
    manager.markJobSession(*listed[3]);
    manager.markJobSession(*listed[3]);
    EXPECT_EQ(manager.countJobSessions(), 2U);
    EXPECT_FALSE(isAccepting(manager));
    // A job session that ends frees its place; the others never held one.
    manager.unlistSession(*listed[0]);
    manager.unlistSession(*listed[3]);
    EXPECT_EQ(manager.countJobSessions(), 1U);
    EXPECT_TRUE(isAccepting(manager));
}

TEST(Accepting, NeedsTheMinimumMemoryAndAnAllowedTime) {
    settings() = Settings{};
    Manager manager;
    manager.config.maximumSessions = 1;
    manager.config.minimumSystemMemory = ~std::uint64_t{0};
    EXPECT_FALSE(isAccepting(manager));
    manager.config.minimumSystemMemory = 0;
    settings().allowedTimes = {{2200, 600}};
    EXPECT_FALSE(isAccepting(manager));
    settings() = Settings{};
}

TEST(Rating, FormulaCountsHyperThreadsAsAFifth) {
    EXPECT_DOUBLE_EQ(ratingFor(500'000, 4, 8), 4800.0);
    EXPECT_DOUBLE_EQ(ratingFor(500'000, 0, 2), 2000.0);
    EXPECT_DOUBLE_EQ(ratingFor(1'000'000, 2, 2), 1000.0);
    EXPECT_STREQ(ratingClassification(8000.1), "System rating is super.");
    EXPECT_STREQ(ratingClassification(8000), "System rating is great.");
    EXPECT_STREQ(ratingClassification(6000), "System rating is good.");
    EXPECT_STREQ(ratingClassification(4000), "");
    EXPECT_STREQ(ratingClassification(1000), "");
    EXPECT_STREQ(ratingClassification(999.999), "System rating is bad.");
}

TEST(RecentRequests, OneRecordPerAddressAndKindWithinTheWindow) {
    Manager manager;
    Time start(13'000'000'000'000'000ULL);
    recordRequest(manager, {0x0A000001, 5000}, RequestRecord::Session, start);
    recordRequest(manager, {0x0A000001, 5001}, RequestRecord::Session, Time(start.value() + 299'000'000));
    ASSERT_EQ(manager.recentRequests.size(), 1U);
    EXPECT_EQ(manager.recentRequests.front().count, 2U);
    EXPECT_EQ(manager.recentRequests.front().lastSeen.value(), start.value() + 299'000'000);
    recordRequest(manager, {0x0A000001, 5002}, RequestRecord::Discovery, Time(start.value() + 1));
    EXPECT_EQ(manager.recentRequests.size(), 2U);
    recordRequest(manager, {0x0A000001, 5003}, RequestRecord::Session, Time(start.value() + 301'000'000));
    EXPECT_EQ(manager.recentRequests.size(), 3U);
    EXPECT_EQ(manager.recentRequests.front().count, 1U);

    for (std::uint32_t client = 0; client < 21; ++client) {
        recordRequest(manager, {0x0A000100 + client, 1}, RequestRecord::Http, Time(start.value() + 302'000'000));
    }
    ASSERT_EQ(manager.recentRequests.size(), 20U);
    EXPECT_EQ(manager.recentRequests.front().peer.address, 0x0A000100U + 20);
    EXPECT_EQ(manager.recentRequests.back().peer.address, 0x0A000100U + 1);
}

TEST(Discovery, AdvertiseDatagramLayout) {
    EXPECT_EQ(advertiseDatagram(5320.45, true, false),
              "http://tornwell.example/namespace/tornwellpmd/advertise\nREVISION:42604\nRATING:5320.45\n"
              "ACCEPTING:YES\nHTTP:NO\n");
    EXPECT_EQ(advertiseDatagram(0, false, true),
              "http://tornwell.example/namespace/tornwellpmd/advertise\nREVISION:42604\nACCEPTING:NO\nHTTP:YES\n");
}

TEST(Discovery, KnownServersRefreshAndExpire) {
    Manager manager;
    Time start(13'000'000'000'000'000ULL);
    learnServer(manager, "10.77.0.2", "x/advertise\nREVISION:42604\nHTTP:YES\n", start);
    ASSERT_EQ(manager.knownServers.size(), 1U);
    EXPECT_EQ(manager.knownServers.list()[0].revision, 42604U);
    EXPECT_TRUE(manager.knownServers.list()[0].http);
    // A known server refreshes its time only; a changed HTTP value waits for expiry.
    learnServer(manager, "10.77.0.2", "x/advertise\nREVISION:1\nHTTP:NO\n", Time(start.value() + 100'000'000));
    ASSERT_EQ(manager.knownServers.size(), 1U);
    EXPECT_TRUE(manager.knownServers.list()[0].http);
    EXPECT_EQ(manager.knownServers.list()[0].lastSeen.value(), start.value() + 100'000'000);
    learnServer(manager, "10.77.0.3", "x/advertise\nREVISION:abc\n", Time(start.value() + 401'000'000));
    ASSERT_EQ(manager.knownServers.size(), 1U);
    EXPECT_EQ(manager.knownServers.list()[0].address, "10.77.0.3");
    EXPECT_EQ(manager.knownServers.list()[0].revision, 0U);
}

TEST(Discovery, KnownServersDropTheLongestUnheardBeyond1024) {
    KnownServers known;
    Time start(13'000'000'000'000'000ULL);
    auto address = [](int index) {
        return "10.0." + std::to_string(index / 256) + "." + std::to_string(index % 256);
    };
    for (int index = 0; index < 1024; ++index) {
        known.learn({Time(start.value() + index), address(index), 1, false});
    }
    // The first one is heard again, so the second is now the longest unheard.
    known.learn({Time(start.value() + 2000), address(0), 2, true});
    known.learn({Time(start.value() + 2001), "10.9.9.9", 3, false});
    std::vector<KnownServer> listed = known.list();
    ASSERT_EQ(listed.size(), 1024U);
    // First-heard order; a refresh changes the last-seen time only.
    EXPECT_EQ(listed.front().address, "10.0.0.0");
    EXPECT_EQ(listed.front().revision, 1U);
    EXPECT_EQ(listed.front().lastSeen.value(), start.value() + 2000);
    EXPECT_EQ(listed[1].address, "10.0.0.2");
    EXPECT_EQ(listed.back().address, "10.9.9.9");
}

} // namespace
} // namespace plexmill::server
