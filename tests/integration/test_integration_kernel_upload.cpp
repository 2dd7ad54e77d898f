// KERNEL and IS_CACHED against the real server: an upload is usable only once every file of it
// has been received and has passed the signature check, and a refused or broken upload leaves
// the kernel that was there before exactly as it was, says why, and creates nothing.
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"
#include "tests/support/temp_folder.hpp"
#include "tests/support/test_pki.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#ifndef PLEXMILL_ALLOWED_SIGNER
#error "PLEXMILL_ALLOWED_SIGNER must be the serial number of an allowed kernel signer"
#endif

namespace tnw::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGuid = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}";
const char* const kFileNames[] = {
    "millcore.exe", "millcore.dll", "pxmkernel.dll", "pxmcomponents.dll"};

std::string text(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// The four kernel files of one upload, each signed by `signer` (by default one the server
// allows).
std::vector<std::string> signedKernelFiles(const std::string& version,
                                           const SignerSpec& signer = {"kernel-signer",
                                                                       PLEXMILL_ALLOWED_SIGNER}) {
    TestPki::shared().issue(signer);
    std::vector<std::string> files;
    for (const char* name : kFileNames) {
        std::string content = std::string(name) + " " + version + "\n";
        files.push_back(text(signedFile(Bytes(content.begin(), content.end()), signer.name)));
    }
    return files;
}

std::string kernelCommand(const std::vector<std::string>& files, bool orrin) {
    std::string command = "KERNEL\n";
    command += orrin ? "ORRIN\n" : "";
    command += std::string(kGuid) + "\nX64\n";
    for (std::size_t i = 0; i < (orrin ? 4U : 2U); ++i) {
        command += std::to_string(files[i].size()) + "\n" + files[i];
    }
    return command;
}

std::map<std::string, std::string> folderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(folder)) {
        contents[entry.path().filename().string()] = readText(entry.path());
    }
    return contents;
}

class KernelUpload : public testing::Test {
protected:
    void SetUp() override {
        TestPki::shared().trustRoot();
        server = std::make_unique<ServerProcess>(
            home, std::vector<std::string>{"--rating", "5000", "--verbose"});
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    void TearDown() override { EXPECT_EQ(server->stop(), 0); }

    // The server's reply line to the commands (empty when it ended the session instead).
    std::string exchange(const std::string& commands) {
        SessionClient client;
        client.handshake();
        client.send(commands);
        return client.receiveLine(20s);
    }
    std::string isCached() { return exchange(std::string("IS_CACHED\n") + kGuid + "\n"); }

    fs::path cacheFolder() const { return home.path() / "data" / "Quorvex Plexmill"; }
    fs::path kernelFolder() const { return cacheFolder() / kGuid; }

    ServerHome home;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(KernelUpload, OrrinUploadStoresFourVerifiedFiles) {
    // A job for the kernel, taken back before it runs.
    const std::string job = std::string("RUN\n") + kGuid + "\n5\ncopy\nABORT\n";
    EXPECT_EQ(isCached(), "\n");
    EXPECT_EQ(exchange(job), "");
    EXPECT_TRUE(server->process().waitForOutput(std::string("] CAM kernel '") + kGuid +
                                                "' not available.\n"));
    auto files = signedKernelFiles("1");
    EXPECT_EQ(exchange(kernelCommand(files, true)), "ACK\n");
    // Known the moment it is acknowledged, to any connection.
    EXPECT_EQ(isCached(), "ACK\n");
    EXPECT_EQ(exchange(job), "ACK\n");

    std::map<std::string, std::string> expected;
    for (std::size_t i = 0; i < 4; ++i) {
        expected[kFileNames[i]] = files[i];
    }
    EXPECT_EQ(folderContents(kernelFolder()), expected); // no temporary file left beside them
    auto permissions = fs::status(kernelFolder() / "millcore.exe").permissions();
    EXPECT_NE(permissions & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(KernelUpload, RefusedUploadsLeaveThePreviousKernelAsItWas) {
    auto good = signedKernelFiles("1");
    ASSERT_EQ(exchange(kernelCommand(good, false)), "ACK\n");
    const auto before = folderContents(kernelFolder());
    const auto cacheBefore = folderContents(cacheFolder());

    auto newer = signedKernelFiles("2");
    // An allowed serial number on a certificate whose key may not make signatures.
    auto mayNotSign = signedKernelFiles("2",
                                        {"kernel-encipherment-only",
                                         PLEXMILL_ALLOWED_SIGNER,
                                         "intermediate",
                                         "20200101000000Z",
                                         "20400101000000Z",
                                         "codeSigning",
                                         "ec",
                                         "critical, keyEncipherment"});
    std::string unsigned_module = "millcore.dll 2, never signed\n";
    const std::string prefix = std::string("KERNEL\n") + kGuid + "\nX64\n";
    const std::string executable = std::to_string(newer[0].size()) + "\n" + newer[0];
    // The module's temporary name, as the refusal in the access log names it.
    const std::string module = (kernelFolder() / ".millcore.dll.upload-").string();
    struct Case {
        const char* what;
        std::string commands;
        bool disconnect;
        std::string printed; // the console line (standard output or error)
        std::string logged;  // the access log's reason, empty when no signature was checked
    };
    const Case cases[] = {
        {"a zero-byte module",
         prefix + executable + "0\n",
         false,
         "Invalid CAM kernel module size.",
         ""},
        {"an unsigned module",
         prefix + executable + std::to_string(unsigned_module.size()) + "\n" + unsigned_module,
         false,
         "Error: Failed to verify CAM kernel module",
         "No signature (0x800b0100) for '" + module},
        {"a module whose signer may not sign",
         prefix + executable + std::to_string(mayNotSign[1].size()) + "\n" + mayNotSign[1],
         false,
         "Error: Failed to verify CAM kernel module",
         "Invalid signature (0x800b0110) for '" + module},
        {"a module cut short by the client",
         prefix + executable + std::to_string(newer[1].size()) + "\n" +
             newer[1].substr(0, newer[1].size() / 2),
         true,
         "Error: Failed to read file.",
         ""},
        {"an oversized module",
         prefix + executable + "67108865\n",
         false,
         "Invalid CAM kernel module size.",
         ""},
        // One hexadecimal digit short: no folder of that name may appear.
        {"an invalid GUID",
         "KERNEL\n{6F9619FF-8B86-D011-B42D-00C04FC964F}\nX64\n" + executable,
         false,
         "Invalid guid.",
         ""},
        {"a GUID that climbs out of the cache folder",
         "KERNEL\nORRIN\n{../../../../../../../../../../../tmp}\nX64\n" + executable,
         false,
         "Invalid guid.",
         ""},
        {"another architecture",
         prefix.substr(0, prefix.size() - 4) + "X86\n" + executable,
         false,
         "Invalid CAM kernel architecture: 'X86'.",
         ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        const std::string log = home.accessLog();
        const std::string output = server->process().output();
        const std::string errors = server->process().errors();
        SessionClient client;
        client.handshake();
        client.send(test.commands);
        if (!test.disconnect) {
            EXPECT_EQ(client.receiveUntilEnd(20s), "");
        }
        // A refused session waits for its client to leave; then only the next query's own
        // session is left.
        client.close();
        EXPECT_TRUE(waitForOpenSessions("1"));
        EXPECT_EQ(folderContents(kernelFolder()), before);
        EXPECT_EQ(folderContents(cacheFolder()), cacheBefore);
        EXPECT_EQ(isCached(), "ACK\n");
        // Each refusal says why: on the console, and for a signature in the access log.
        std::string console = server->process().output().substr(output.size()) +
                              server->process().errors().substr(errors.size());
        EXPECT_NE(console.find("] " + test.printed + "\n"), std::string::npos) << console;
        std::string newLog = home.accessLog().substr(log.size());
        if (test.logged.empty()) {
            EXPECT_EQ(newLog.find("signature"), std::string::npos) << newLog;
        } else {
            EXPECT_NE(newLog.find(" " + test.logged), std::string::npos) << newLog;
        }
    }
}

} // namespace
} // namespace tnw::test
