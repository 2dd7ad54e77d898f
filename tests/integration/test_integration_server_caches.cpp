// plexmilld --console: what the server does to its file cache and kernel cache folders at start,
// and how files that clients send reach the file cache.
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/checksum.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace tnw::test {
namespace {

namespace fs = std::filesystem;

// Waits until the folder exists and is empty.
bool becomesEmptyFolder(const fs::path& folder, std::chrono::milliseconds deadline = 10s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        std::error_code error;
        if (fs::is_directory(folder, error) && fs::is_empty(folder, error)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
}

TEST(ServerCaches, StartWipesTheFileCacheFolder) {
    ServerHome home;
    fs::path cache = home.intermediateFolder() / "cache";
    fs::create_directories(cache / "nested" / "deeper");
    writeFile(cache / "b5b5915808dfd522b1f00f6dd2d9fb1071fcb41bd034af63e8a2868203bef646",
              "hello\n");
    writeFile(cache / "nested" / "deeper" / "file", "old");
    writeFile(home.intermediateFolder() / "beside-the-cache", "kept");

    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    EXPECT_TRUE(becomesEmptyFolder(cache));
    EXPECT_EQ(readText(home.intermediateFolder() / "beside-the-cache"), "kept");
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerCaches, StartRemovesEveryKernelFolderAndNothingElse) {
    ServerHome home;
    fs::path kernels = home.path() / "data" / "Quorvex Plexmill";
    const char* guids[] = {"{0123ABCD-4567-89ab-cdef-0123456789AB}",
                           "{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}"};
    for (const char* guid : guids) {
        fs::create_directories(kernels / guid);
        writeFile(kernels / guid / "millcore.exe", "exe");
        writeFile(kernels / guid / "millcore.dll", "dll");
    }
    fs::create_directories(kernels / "notes");
    fs::create_directories(kernels / "{0123ABCD-4567-89ab-cdef-0123456789A}");

    ServerProcess server(home, {"--rating", "5000", "--debug"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    std::string output = server.process().output();
    for (const char* guid : guids) {
        SCOPED_TRACE(guid);
        EXPECT_FALSE(fs::exists(kernels / guid));
        EXPECT_NE(output.find("] Cleaning up cache '" + (kernels / guid).string() + "'.\n"),
                  std::string::npos)
            << output;
    }
    EXPECT_TRUE(fs::exists(kernels / "notes"));
    EXPECT_TRUE(fs::exists(kernels / "{0123ABCD-4567-89ab-cdef-0123456789A}"));
    EXPECT_EQ(server.stop(), 0);
}

// The names in the file cache folder.
std::vector<std::string> cachedFiles(const ServerHome& home) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(home.intermediateFolder() / "cache")) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string isFileCached(const std::string& checksum, std::size_t size) {
    SessionClient client;
    client.handshake();
    client.send("IS_FILE_CACHED\n" + checksum + "\n" + std::to_string(size) + "\n");
    return client.receiveLine();
}

TEST(ServerCaches, AFileSentJustBeforeTheClientLeavesIsStillCached) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    // Large enough that the cache is still taking it in when the client has gone, and not a
    // multiple of 64 bytes: the checksum hashed as the bytes arrived covers the tail too.
    std::string contents((32 << 20) + 37, '\0');
    for (std::size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i * 131 + i / 4093);
    }
    writeFile(home.path() / "part.nc", contents);
    const std::string checksum = util::fileChecksum((home.path() / "part.nc").string());
    {
        SessionClient client;
        client.handshake();
        client.send("FILE\npart.nc\n" + std::to_string(contents.size()) + "\n" + contents);
        ASSERT_EQ(client.receiveLine(), "ACK\n");
    }
    auto end = std::chrono::steady_clock::now() + 20s;
    while (isFileCached(checksum, contents.size()) != "ACK\n" && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(isFileCached(checksum, contents.size()), "ACK\n");
    EXPECT_EQ(isFileCached(checksum, contents.size() + 1), "\n");
    EXPECT_TRUE(waitForNoSessionFolders(home));
    EXPECT_EQ(cachedFiles(home), std::vector<std::string>{checksum});
    EXPECT_EQ(readText(home.intermediateFolder() / "cache" / checksum), contents);
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerCaches, AClientLeavingInTheMiddleOfAFileLeavesNothingBehind) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    for (bool abrupt : {false, true}) {
        SCOPED_TRACE(abrupt ? "reset" : "closed");
        SessionClient client;
        client.handshake();
        client.send("FILE\npart.nc\n1048576\n" + std::string(300'000, 'x'));
        abrupt ? client.reset() : client.close();
        EXPECT_TRUE(waitForOpenSessions("1"));
        EXPECT_TRUE(waitForNoSessionFolders(home));
        EXPECT_TRUE(cachedFiles(home).empty());
    }
    // The server goes on serving.
    SessionClient client;
    client.handshake();
    client.send("FILE\npart.nc\n5\nG0 X1");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    client.close();
    EXPECT_EQ(server.stop(), 0);
}

std::string fileCache(const std::string& name, const std::string& checksum, std::size_t size) {
    SessionClient client;
    client.handshake();
    client.send("FILE_CACHE\n" + name + "\n" + checksum + "\n" + std::to_string(size) + "\n");
    return client.receiveLine();
}

TEST(ServerCaches, ACachedFileChangedOnDiskIsNotServed) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    const std::string contents = "G0 X1 Y1\nG1 Z-1\n";
    writeFile(home.path() / "part.nc", contents);
    const std::string checksum = util::fileChecksum((home.path() / "part.nc").string());
    const fs::path stored = home.intermediateFolder() / "cache" / checksum;
    struct Case {
        const char* change;
        std::function<void()> apply;
        // Whether the client asks IS_FILE_CACHED first, as plexmilld --connect does.
        bool asksFirst;
    };
    const Case cases[] = {
        {"truncated", [&] { fs::resize_file(stored, 4); }, false},
        {"rewritten with its size and modification time kept",
         [&] {
             auto modified = fs::last_write_time(stored);
             std::fstream(stored, std::ios::in | std::ios::out | std::ios::binary) << "M30";
             fs::last_write_time(stored, modified);
         },
         false},
        {"overwritten with other contents", [&] { writeFile(stored, "M30\n"); }, true},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.change);
        {
            SessionClient client;
            client.handshake();
            client.send("FILE\npart.nc\n" + std::to_string(contents.size()) + "\n" + contents);
            ASSERT_EQ(client.receiveLine(), "ACK\n");
        }
        auto end = std::chrono::steady_clock::now() + 20s;
        while (isFileCached(checksum, contents.size()) != "ACK\n" &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_EQ(isFileCached(checksum, contents.size()), "ACK\n");
        EXPECT_EQ(fs::status(stored).permissions(), fs::perms::owner_read);
        test.apply();
        // Served as if it had never been cached, and forgotten.
        if (test.asksFirst) {
            EXPECT_EQ(isFileCached(checksum, contents.size()), "\n");
        }
        EXPECT_EQ(fileCache("part.nc", checksum, contents.size()), "\n");
        EXPECT_EQ(isFileCached(checksum, contents.size()), "\n");
        EXPECT_FALSE(fs::exists(stored));
    }
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerCaches, ARestartRemovesTheSessionFoldersOfAKilledServer) {
    ServerHome home;
    fs::create_directories(home.path() / "theirs");
    writeFile(home.path() / "theirs" / "job.tornwell-job", "theirs");
    {
        ServerProcess server(home, {"--rating", "5000"});
        ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
        SessionClient client;
        client.handshake();
        client.send("FILE\npart.nc\n1048576\n" + std::string(300'000, 'x'));
        auto end = std::chrono::steady_clock::now() + 10s;
        while (sessionFolders(home).empty() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_EQ(sessionFolders(home).size(), 1U);
        server.process().signal(SIGKILL);
        EXPECT_EQ(server.process().wait(10s), 128 + SIGKILL);
    }
    ASSERT_EQ(sessionFolders(home).size(), 1U);
    // Whatever else has a session folder's name goes too; a link goes as a link.
    fs::create_directory_symlink(home.path() / "theirs",
                                 home.intermediateFolder() / "session-00000000000000ab");
    writeFile(home.intermediateFolder() / "session-0000000000000002", "file");
    fs::create_directories(home.intermediateFolder() / "session-notes");

    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    EXPECT_EQ(sessionFolders(home), std::set<std::string>{"session-notes"});
    EXPECT_EQ(readText(home.path() / "theirs" / "job.tornwell-job"), "theirs");
    EXPECT_EQ(server.stop(), 0);
}

} // namespace
} // namespace tnw::test
