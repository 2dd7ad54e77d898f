// Which CAM kernel a real server runs for a client's revision: include folders with numbered
// subfolders, the folder of the file cache, and the fixed kernel folder. Every kernel is a
// copy of the test kernel that names its own executable, so the test sees which one ran.
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace tnw::test {
namespace {

// One session that announces `revision` (when given) and runs the job "where": what came back
// after DONE was acknowledged.
std::string ranKernel(std::optional<std::string> revision) {
    SessionClient client;
    EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    if (revision) {
        client.send("REVISION\n" + *revision + "\n");
        EXPECT_EQ(client.receiveLine(), "ACK\n");
    }
    client.send("RUN\n\n6\nwhere\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    return client.receiveUntilEnd(20s);
}

class KernelFolders : public testing::Test {
protected:
    void start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--rating", "5000"});
        server = std::make_unique<ServerProcess>(home, arguments);
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->stop(), 0);
        }
    }
    // The folder of uploaded kernels; with an empty kernel GUID, the kernel folder itself.
    std::filesystem::path cacheFolder() const { return home.path() / "data" / "Quorvex Plexmill"; }
    std::string executable(const std::filesystem::path& folder) const {
        return (folder / "millcore.exe").string() + "\nACK\n";
    }

    ServerHome home;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(KernelFolders, TheRevisionPicksTheSubfolderOfAnIncludeFolder) {
    auto first = home.path() / "first";
    auto second = home.path() / "second";
    for (const char* number : {"100", "250", "300"}) {
        installTestKernel(first / number);
    }
    // The same exact folder as the first (the first include wins), a number equal to one of
    // the first folder's (the first folder wins), and one between.
    installTestKernel(second / "300");
    installTestKernel(second / "0250");
    installTestKernel(second / "280");
    // Neither a revision nor a number that fits 32 bits.
    installTestKernel(first / "latest");
    installTestKernel(first / "4294967296");
    installTestKernel(cacheFolder());
    start({"--include", first.string(), "--include", second.string()});
    struct Case {
        std::optional<std::string> revision;
        std::filesystem::path folder;
    };
    const Case cases[] = {
        {"260", first / "250"},        // the greatest not above, from either folder
        {"300", first / "300"},        // exact in both folders: the first include's
        {"280", second / "280"},       // exact in the second folder
        {"290", second / "280"},       // the greatest not above lives in the second folder
        {"250", first / "250"},        // exact beats the equal number "0250"
        {"255", first / "250"},        // among equal numbers the first folder's
        {"4294967295", first / "300"}, // the oversized name is no number
        {"99", cacheFolder()},         // nothing at or below: the cache folder
        {"0", cacheFolder()},          // revision 0 never looks at the include folders
        {std::nullopt, cacheFolder()}, // nor does a client that sends no revision
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.revision.value_or("none"));
        EXPECT_EQ(ranKernel(test.revision), executable(test.folder));
    }
}

TEST_F(KernelFolders, OnlyAnExactRevisionFolderWinsOverTheFixedKernelFolder) {
    auto include = home.path() / "include";
    installTestKernel(include / "250");
    installTestKernel(home.path() / "fixed");
    start({"--kernel", (home.path() / "fixed").string(), "--include", include.string()});
    EXPECT_EQ(ranKernel("260"), executable(home.path() / "fixed"));
    EXPECT_EQ(ranKernel("250"), executable(include / "250"));
}

TEST_F(KernelFolders, AnIncludeFolderWithoutKernelFilesFailsTheRun) {
    auto include = home.path() / "include";
    installTestKernel(include / "100");
    std::filesystem::create_directories(include / "250");
    installTestKernel(cacheFolder());
    start({"--include", include.string()});
    // The chosen folder exists but holds no kernel: no falling back to an older one.
    EXPECT_EQ(ranKernel("260"), "\n");
    EXPECT_TRUE(server->process().waitForError("Error: Failed to find CAM kernel executable.\n"));
    EXPECT_EQ(ranKernel("100"), executable(include / "100"));
}

} // namespace
} // namespace tnw::test
