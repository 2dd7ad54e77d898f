#include "service/server/settings.hpp"
#include "service/session/session.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/socket_pair.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/exception.hpp"
#include "util/sync.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace plexmill::session {
namespace {

using namespace std::chrono_literals;

struct SessionTest : testing::Test {
    SessionTest() { server::settings() = server::Settings{}; }
    ~SessionTest() override { server::settings() = server::Settings{}; }

    bool isWaiting() {
        tnw::util::Lock lock(tnw::util::globalLock());
        return session.waiting;
    }
    bool waitUntilWaiting() {
        auto end = std::chrono::steady_clock::now() + 10s;
        while (!isWaiting() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        return isWaiting();
    }

    static server::Manager& configured(server::Manager& manager,
                                       const tnw::test::TempFolder& folder) {
        manager.config.intermediateFolder = folder.path().string();
        return manager;
    }

    tnw::test::TempFolder folder;
    server::Manager manager;
    tnw::test::SocketPair pair;
    Session session{configured(manager, folder), pair.server, {0x7F000001U, 4242}};
};

TEST_F(SessionTest, NamesItselfAfterItsId) {
    EXPECT_EQ(session.peer.address, 0x7F000001U);
    EXPECT_EQ(session.peer.port, 4242);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(session.id));
    EXPECT_EQ(session.folder, (folder.path() / (std::string("session-") + hex)).string());
    Session next(manager, {}, {});
    EXPECT_GT(next.id, session.id);
    EXPECT_EQ(next.number, session.number + 1);
    EXPECT_GE(next.startTime, session.startTime);
}

TEST_F(SessionTest, LinesFollowTheLineRule) {
    pair.send("abc\r\n" + std::string(1023, 'x') + "\n" + std::string(1024, 'y') + "\n\ntail");
    pair.shutdownClient();
    EXPECT_EQ(session.readLine(), "abc\r");
    EXPECT_EQ(session.readLine(), std::string(1023, 'x'));
    // 1024 characters without an LF read as empty and leave the LF unread.
    EXPECT_EQ(session.readLine(), "");
    EXPECT_EQ(session.readLine(), "");
    EXPECT_EQ(session.readLine(), "");
    // The end of the stream before an LF is an empty line too.
    EXPECT_EQ(session.readLine(), "");
}

TEST_F(SessionTest, ClosedSessionsRefuseToReply) {
    session.sendText("ACK\n");
    EXPECT_EQ(pair.receive(4), "ACK\n");
    session.closeSession();
    try {
        session.sendText("ACK\n");
        FAIL() << "sent on a closed connection";
    } catch (const tnw::util::IOException& failure) {
        EXPECT_EQ(failure.getMessage(), "Not connection.");
    }
    EXPECT_EQ(session.readLine(), "");
    EXPECT_EQ(pair.receiveUntilEnd(), "");
    session.closeSession();
}

TEST_F(SessionTest, ClosingFromAnotherThreadEndsABlockedRead) {
    std::thread reader(
        [&] { EXPECT_THROW(session.readCommandLine(), tnw::util::EndOfStreamException); });
    EXPECT_TRUE(waitUntilWaiting());
    session.close();
    reader.join();
    EXPECT_THROW(session.sendText("x"), tnw::util::EndOfStreamException);
}

TEST_F(SessionTest, TrafficAddsOnlyWhatGrew) {
    manager.statistics.dataReceived = 1000;
    pair.send("USER\nbob\n");
    session.readLine();
    session.sendText("ACK\n");
    session.updateTraffic();
    EXPECT_EQ(session.bytesReceived, 5U);
    EXPECT_EQ(session.bytesSent, 4U);
    session.readLine();
    session.updateTraffic();
    session.updateTraffic();
    EXPECT_EQ(session.bytesReceived, 9U);
    EXPECT_EQ(manager.statistics.dataReceived, 1009U);
    EXPECT_EQ(manager.statistics.dataSent, 4U);
}

TEST_F(SessionTest, CpuTimeNeverDecreases) {
    session.updateCpuTime(500);
    session.updateCpuTime(300);
    EXPECT_EQ(session.cpuTime, 500U);
}

TEST_F(SessionTest, WaitingOnlyWhileReadingACommand) {
    std::thread reader([&] { EXPECT_EQ(session.readCommandLine(), "INFO"); });
    EXPECT_TRUE(waitUntilWaiting());
    pair.send("INFO\n");
    reader.join();
    EXPECT_FALSE(isWaiting());
}

TEST_F(SessionTest, ClosingRemovesTheFolder) {
    ASSERT_TRUE(session.createFolder());
    tnw::test::writeFile(std::filesystem::path(session.folder) / "job.tornwell-job", "job");
    session.closeSession();
    EXPECT_FALSE(std::filesystem::exists(session.folder));
}

TEST_F(SessionTest, KeepingLeavesAFolderWithFiles) {
    server::settings().keep = true;
    ASSERT_TRUE(session.createFolder());
    tnw::test::writeFile(std::filesystem::path(session.folder) / "part_01.NC", "G0");
    session.closeSession();
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(session.folder) / "part_01.NC"));

    Session empty(manager, {}, {});
    ASSERT_TRUE(empty.createFolder());
    empty.closeSession();
    EXPECT_FALSE(std::filesystem::exists(empty.folder));
}

TEST_F(SessionTest, TheFolderIsMadeFreshAndPrivate) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(session.createFolder());
    EXPECT_EQ(fs::status(session.folder).permissions(), fs::perms::owner_all);
    session.closeSession();

    // Whatever already has the folder's name is neither used nor removed: a link planted
    // there keeps its target as it was.
    tnw::test::TempFolder elsewhere;
    tnw::test::writeFile(elsewhere / "job.tornwell-job", "theirs");
    const std::function<void(const fs::path&)> planted[] = {
        [&](const fs::path& name) { fs::create_directory_symlink(elsewhere.path(), name); },
        [](const fs::path& name) {
            fs::create_directory(name);
            tnw::test::writeFile(name / "job.tornwell-job", "theirs");
        },
        [](const fs::path& name) { tnw::test::writeFile(name, "theirs"); },
    };
    for (std::size_t i = 0; i < std::size(planted); ++i) {
        SCOPED_TRACE(i);
        Session next(manager, {}, {});
        planted[i](next.folder);
        EXPECT_FALSE(next.createFolder());
        next.closeSession();
        EXPECT_TRUE(fs::exists(fs::symlink_status(next.folder)));
        fs::path job = i == 2 ? fs::path(next.folder) : fs::path(next.folder) / "job.tornwell-job";
        EXPECT_EQ(tnw::test::readText(job), "theirs");
    }
    EXPECT_EQ(tnw::test::readText(elsewhere / "job.tornwell-job"), "theirs");

    // An intermediate folder that a clean-up of the temporary folder removed is made again,
    // as privately as at the start.
    fs::remove_all(folder.path());
    Session afterCleanUp(manager, {}, {});
    EXPECT_TRUE(afterCleanUp.createFolder());
    EXPECT_EQ(fs::status(folder.path()).permissions(), fs::perms::owner_all);
    afterCleanUp.closeSession();
    EXPECT_FALSE(fs::exists(afterCleanUp.folder));
}

TEST_F(SessionTest, TerminatingSetsTheStatus) {
    session.terminate("Session terminated");
    EXPECT_TRUE(session.terminated);
    EXPECT_EQ(session.status, "Session terminated");
    EXPECT_FALSE(session.refused());
    session.refuseCommand("BOGUS");
    EXPECT_TRUE(session.refused());
}

} // namespace
} // namespace plexmill::session
