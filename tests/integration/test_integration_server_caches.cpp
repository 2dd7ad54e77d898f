// plexmilld --console: what the server does to its file cache and kernel cache folders at start.
#include "tests/support/server_process.hpp"
#include "tests/support/temp_folder.hpp"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

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

} // namespace
} // namespace tnw::test
