#include "service/cli/remote_session.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "service/cli/session_client.hpp"
#include "service/server/settings.hpp"
#include "util/checksum.hpp"
#include "util/console.hpp"
#include "util/console_manager.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/sync.hpp"
#include "util/thread.hpp"

namespace plexmill::cli {

namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::uint32_t kPauseAfterDone = 500'000; // microseconds
constexpr std::uint32_t kInterruptCheck = 250'000; // microseconds

void printPlain(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Sends the size line and exactly that many bytes of the file: the server reads whatever
// follows as commands, so a file that grows meanwhile is cut at its announced size, and one
// that shrinks fails the transfer. `bytesSent` counts what reached the socket.
bool sendBody(SessionClient& client, const std::string& path, std::uint64_t& bytesSent) {
    try {
        tnw::util::FileInputStream file(path);
        std::uint64_t left = file.getSize();
        client.sendText(std::to_string(left) + "\n");
        std::unique_ptr<char[]> buffer(new char[kChunk]);
        while (left > 0) {
            std::uint64_t got = file.read(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk)));
            client.socket().sendAll(buffer.get(), static_cast<std::size_t>(got));
            bytesSent += got;
            left -= got;
        }
        return true;
    } catch (const tnw::util::Exception&) {
        // EndOfStreamException included: the file ended before its announced size.
        return false;
    }
}

bool sendFile(SessionClient& client, const std::string& name, const std::string& path, std::uint64_t& bytesSent) {
    try {
        client.sendText("FILE\n");
        client.sendText(name + "\n");
    } catch (const tnw::util::Exception&) {
        return false;
    }
    return sendBody(client, path, bytesSent);
}

bool sendCachedFile(SessionClient& client, const std::string& name, const std::string& path) {
    try {
        auto [checksum, size] = tnw::util::fileChecksumAndSize(path);
        client.sendText("FILE_CACHE\n");
        client.sendText(name + "\n");
        client.sendText(checksum + "\n");
        client.sendText(std::to_string(size) + "\n");
        return true;
    } catch (const tnw::util::Exception&) {
        return false;
    }
}

// One run of the session; false after printing an error.
class RemoteSession {
public:
    RemoteSession(tnw::util::ConsoleManager::SelfConsoleListener& interrupt, tnw::util::FileOutputStream& result)
        : interrupt_(interrupt), result_(result) {}

    bool run(const std::string& server, const std::string& jobPath, const std::vector<std::string>& files);
    void close() { client_.close(); }

private:
    bool fail(const std::string& message) {
        tnw::util::printError(message);
        return false;
    }
    bool sendJob(const std::string& jobPath);
    bool sendFurtherFile(const std::string& path);
    bool receiveResult();

    tnw::util::ConsoleManager::SelfConsoleListener& interrupt_;
    tnw::util::FileOutputStream& result_;
    SessionClient client_;
};

bool RemoteSession::sendJob(const std::string& jobPath) {
    const auto& options = server::settings();
    client_.sendText("RUN\n");
    client_.sendText("\n");
    std::uint64_t sent = 0;
    if (!sendBody(client_, jobPath, sent)) {
        return fail(tnw::util::format("Failed to transfer file '%1'.", jobPath));
    }
    if (options.debug) {
        printPlain("Transferred PATH=" + jobPath + " SIZE=" + std::to_string(sent));
    }
    if (sent == 0) {
        return fail(tnw::util::format("Failed to transfer file '%1'.", jobPath));
    }
    if (client_.readLine() != "ACK") {
        return fail("Failed to transfer job.");
    }
    return true;
}

bool RemoteSession::sendFurtherFile(const std::string& path) {
    const auto& options = server::settings();
    std::string name = baseName(path);
    bool cached = client_.serverRevision() >= SessionClient::kFileCacheRevision && client_.isFileCached(path);
    std::uint64_t sent = 0;
    bool delivered = false;
    if (cached) {
        if (options.debug) {
            printPlain("Using file from cache PATH=" + path);
        }
        delivered = sendCachedFile(client_, name, path);
    } else {
        delivered = sendFile(client_, name, path, sent);
    }
    if (!delivered) {
        return fail(tnw::util::format("Failed to transfer file '%1'.", path));
    }
    if (client_.readLine() != "ACK") {
        return fail("Failed to transfer file.");
    }
    if (!cached) {
        if (options.debug) {
            printPlain("Transferred PATH=" + path + " SIZE=" + std::to_string(sent));
        }
        if (sent == 0) {
            return fail(tnw::util::format("Failed to transfer file '%1'.", path));
        }
    }
    return true;
}

bool RemoteSession::receiveResult() {
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        if (interrupt_.interrupted) {
            client_.sendText("ABORT\n");
            return fail("Aborted by user.");
        }
        // A kernel may compute silently for hours: look at the interrupt between bounded
        // waits instead of blocking in a receive that Ctrl+C cannot reach.
        if (!tnw::util::waitForHandle(client_.socket().handle(), kInterruptCheck)) {
            continue;
        }
        std::size_t got = client_.socket().receive(buffer.get(), kChunk);
        if (got == 0) {
            return true;
        }
        std::size_t written = 0;
        while (written < got) {
            std::uint64_t step = result_.write(buffer.get() + written, got - written);
            if (step == 0) {
                raise(tnw::util::IOException("Failed to write result file."));
            }
            written += static_cast<std::size_t>(step);
        }
    }
}

bool RemoteSession::run(const std::string& server, const std::string& jobPath, const std::vector<std::string>& files) {
    const auto& options = server::settings();
    bool receiving = false;
    if (options.verbose) {
        printPlain(tnw::util::format("Connecting to '%1'...", server));
    }
    try {
        if (!client_.open(server)) {
            return fail("Failed to connect to server.");
        }
        if (!sendJob(jobPath)) {
            return false;
        }
        for (const auto& path : files) {
            if (interrupt_.interrupted) {
                return fail("Aborted by user.");
            }
            if (!sendFurtherFile(path)) {
                return false;
            }
        }
        client_.sendText("DONE\n");
        if (client_.readLine() != "ACK") {
            return fail("Failed to close connection.");
        }
        receiving = true;
        tnw::util::Thread::sleep(kPauseAfterDone);
        return receiveResult();
    } catch (const tnw::util::EndOfStreamException&) {
        // The server ends the connection after the result. Before DONE was acknowledged it
        // ended the session instead (busy, a refused file): no kernel ran, which is no success.
        if (!receiving) {
            return fail("Remote session failed.");
        }
        printPlain("Remote session completed.");
        return true;
    } catch (const tnw::util::Exception&) {
        return fail("Remote session failed.");
    }
}

} // namespace

std::string baseName(const std::string& path) {
    auto separator = path.find_last_of("\\/");
    if (separator != std::string::npos) {
        return path.substr(separator + 1);
    }
    auto colon = path.find(':');
    return colon == std::string::npos ? path : path.substr(colon + 1);
}

int runRemoteSession(const std::string& server, const std::string& jobPath, const std::vector<std::string>& files,
                     const std::string& resultPath) {
    const auto& options = server::settings();
    tnw::util::ConsoleManager::SelfConsoleListener interrupt;
    tnw::util::ConsoleManager::addListener(&interrupt);
    if (!tnw::util::exists(jobPath) || tnw::util::isFolder(jobPath)) {
        tnw::util::printError("Job does not exist.");
        return 1;
    }
    if (options.verbose) {
        printPlain(tnw::util::format("Creating CAM kernel result file '%1'", resultPath));
    }
    std::unique_ptr<tnw::util::FileOutputStream> result;
    try {
        result = std::make_unique<tnw::util::FileOutputStream>(resultPath);
    } catch (const tnw::util::Exception&) {
        tnw::util::printError("Failed to open result file.");
        return 1;
    }
    RemoteSession session(interrupt, *result);
    bool succeeded = session.run(server, jobPath, files);
    if (options.verbose) {
        printPlain("Client connection closed.");
    }
    session.close();
    // Written data can still fail on its way to the disk, and then the result is not there.
    if (result->close() != 0 && succeeded) {
        tnw::util::printError("Remote session failed.");
        succeeded = false;
    }
    return succeeded ? 0 : 1;
}

} // namespace plexmill::cli
