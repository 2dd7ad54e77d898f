// A job end to end: transfers into the session folder, the kernel run, and --connect.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"

namespace tnw::test {
namespace {

// A kernel folder with the test kernel as millcore.exe and its library beside it.
std::filesystem::path makeKernel(const ServerHome& home, bool withLibrary = true) {
    auto folder = home.path() / "kernel";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(TEST_KERNEL_PATH, folder / "millcore.exe",
                               std::filesystem::copy_options::overwrite_existing);
    if (withLibrary) {
        writeFile(folder / "millcore.dll", "");
    }
    return folder;
}

std::string runJob(SessionClient& client, const std::string& job) {
    EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    client.send("RUN\n\n" + std::to_string(job.size()) + "\n" + job);
    return client.receiveLine();
}

class JobSession : public testing::Test {
protected:
    void start(std::vector<std::string> extra = {}, bool withLibrary = true) {
        std::vector<std::string> arguments = {"--rating", "5000", "--kernel", makeKernel(home, withLibrary).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        server = std::make_unique<ServerProcess>(home, arguments);
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->stop(), 0);
            // No session folder outlives its session.
            for (const auto& entry : std::filesystem::directory_iterator(home.intermediateFolder())) {
                EXPECT_FALSE(entry.path().filename().string().starts_with("session-")) << entry.path();
            }
        }
    }
    ServerHome home;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(JobSession, JobAndFilesReachTheKernelAndItsOutputComesBack) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "copy\n"), "ACK\n");
    client.send("FILE\npart_01.NC\n5\nG0 X1");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    std::string result = client.receiveUntilEnd();
    EXPECT_NE(result.find("ARGS [millcore] [-p] [--proc] [-k] ["), std::string::npos) << result;
    EXPECT_NE(result.find("FILE job.tornwell-job copy\n"), std::string::npos);
    EXPECT_NE(result.find("FILE part_01.NC G0 X1\n"), std::string::npos);
    EXPECT_NE(result.find("\nTEMP " + home.intermediateFolder().string() + "/session-"), std::string::npos);
    EXPECT_TRUE(result.ends_with("ACK\n"));
}

TEST_F(JobSession, TransferRefusals) {
    start({"--size", "1"});
    struct Case {
        std::string commands;
        std::string reply;
    };
    const Case cases[] = {
        {"RUN\n\n16777216\n", ""},
        {"RUN\n{bad}\n", "\n"},
        {"FILE\n../x\n1\nx", ""},
        {"FILE\n..\n1\nx", ""},
        {"FILE\na\n0\n", ""},
        {"FILE\na\n1048577\n", ""},
        {"FILE\na\n1\nxFILE\na\n1\nx", "ACK\n"},
        {"IS_FILE_CACHED\nabc\nx\n", "\n"},
        {"FILE_CACHE\na\n" + std::string(64, '0') + "\n5\nFILE\na\n1\nx", "\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.commands);
        SessionClient client;
        client.handshake();
        client.send(test.commands);
        EXPECT_EQ(client.receiveUntilEnd(5s), test.reply);
    }
    SessionClient accepted;
    accepted.handshake();
    accepted.send("FILE\na\n1048576\n" + std::string(1048576, 'x'));
    EXPECT_EQ(accepted.receiveLine(), "ACK\n");
}

TEST_F(JobSession, AbortDuringSilenceStopsTheKernel) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "silent 3600\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(client.staysQuiet(500ms));
    client.send("ABORT\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "ACK\n");
}

TEST_F(JobSession, AChildHoldingTheOutputDoesNotKeepTheRunGoing) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "child\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "parent\nACK\n");
}

TEST_F(JobSession, CrashingKernelStillEndsTheRun) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "crash\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "before crash\nACK\n");
}

TEST_F(JobSession, MissingKernelLibraryIsReported) {
    start({}, false);
    SessionClient client;
    EXPECT_EQ(runJob(client, "copy\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "\n");
    EXPECT_TRUE(server->process().waitForError("Error: Failed to find CAM kernel library.\n"));
}

TEST_F(JobSession, ConnectWritesTheResultAndUsesTheCacheTheSecondTime) {
    start();
    writeFile(home.path() / "job", "copy\n");
    writeFile(home.path() / "part.nc", std::string(100000, 'p'));
    std::vector<std::string> command = {PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "job").string(),
                                        (home.path() / "result").string(), (home.path() / "part.nc").string(),
                                        "--debug"};
    auto first = run(command, home.environment());
    EXPECT_EQ(first.exitCode, 0) << first.errors;
    std::string result = readText(home.path() / "result");
    EXPECT_NE(result.find("FILE part.nc ppp"), std::string::npos);
    EXPECT_TRUE(result.ends_with("ACK\n"));
    std::this_thread::sleep_for(1s); // the first session ends once its client has gone
    auto second = run(command, home.environment());
    EXPECT_EQ(second.exitCode, 0) << second.errors << server->process().output() << server->process().errors();
    EXPECT_NE(second.output.find("Using file from cache PATH=" + (home.path() / "part.nc").string()), std::string::npos)
        << second.output;
    EXPECT_NE(readText(home.path() / "result").find("FILE part.nc ppp"), std::string::npos);
}

TEST_F(JobSession, ConnectFailuresExitWithOne) {
    start();
    writeFile(home.path() / "empty", "");
    auto missing = run({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "nojob").string(), "r"},
                       home.environment());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.errors.find("Error: Job does not exist.\n"), std::string::npos);
    auto noResult = run({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "empty").string()}, home.environment());
    EXPECT_EQ(noResult.exitCode, 1);
    EXPECT_NE(noResult.errors.find("Error: Failed to open result file.\n"), std::string::npos);
    auto empty = run({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "empty").string(),
                      (home.path() / "r").string()},
                     home.environment());
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.errors.find("Error: Failed to transfer file '"), std::string::npos) << empty.errors;
}

TEST_F(JobSession, CtrlCWhileReceivingSendsAbort) {
    start();
    writeFile(home.path() / "job", "silent 3600\n");
    ChildProcess client({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "job").string(),
                         (home.path() / "result").string(), "--verbose"},
                        home.environment());
    ASSERT_TRUE(client.waitForOutput("Connecting to"));
    std::this_thread::sleep_for(1500ms); // past DONE and its pause
    client.signal(SIGINT);
    EXPECT_EQ(client.wait(20s), 1);
    EXPECT_NE(client.errors().find("Error: Aborted by user.\n"), std::string::npos) << client.errors();
}

} // namespace
} // namespace tnw::test
