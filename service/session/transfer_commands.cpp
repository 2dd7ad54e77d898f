#include "service/session/transfer_commands.hpp"

#include <optional>
#include <system_error>
#include <string>
#include <vector>

#include "service/protocol/numbers.hpp"
#include "service/server/capacity.hpp"
#include "service/server/file_cache_copy.hpp"
#include "service/server/kernel_cache.hpp"
#include "service/server/settings.hpp"
#include "service/session/kernel_contract.hpp"
#include "service/session/signature_verification.hpp"
#include "service/session/uploaded_kernels.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/checksum.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/private_folder.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/sync.hpp"

namespace plexmill::session {

namespace {

using tnw::util::Lock;
using tnw::util::globalLock;

constexpr std::uint32_t kMaximumJobSize = 16'777'215;
constexpr std::uint32_t kMaximumKernelFileSize = 67'108'864;

const char* const kSizeExceeded = "Session terminated due to exceeded maximum size";
const char* const kTerminated = "Session terminated";

// A name made of letters, digits, "." and "_" only; "." and ".." name folders, not files,
// and are refused too.
bool isValidFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

// Receives `size` bytes from the client into the file (created or overwritten), and into
// `digest` when given. A partly written file stays where it is; the session folder goes with
// the session.
bool receiveFile(Session& session,
                 const std::string& path,
                 std::uint64_t size,
                 tnw::util::OutputStream* digest = nullptr) {
    try {
        tnw::util::FileOutputStream file(path, tnw::util::LinkPolicy::Refuse);
        if (session.receiveInto(file, size, digest) == tnw::util::SplicedReceipt::PeerClosed) {
            session.error("Failed to read file.");
            return false;
        }
        // Dropping the stream closes the file without forcing it to disk: a session's files
        // live only as long as the session.
        return true;
    } catch (const tnw::util::Exception&) {
        return false;
    } catch (const std::system_error&) {
        return false; // no thread for the hashing
    }
}

struct NamedFile {
    std::string name;
    std::optional<std::uint32_t> size;
};

// FILE and FILE_CACHE steps 1 to 5: the name rule, the size, duplicates and the data limit.
bool acceptFile(Session& session, const NamedFile& file) {
    if (!isValidFileName(file.name)) {
        session.printVerbose("Invalid filename: '" + file.name + "'.");
        session.terminate(kTerminated);
        return false;
    }
    if (!file.size || *file.size == 0) {
        session.printVerbose("Invalid data size.");
        session.terminate(kSizeExceeded);
        return false;
    }
    if (!session.fileNames.insert(file.name).second) {
        session.printVerbose("Invalid duplicate filename: '" + file.name + "'.");
        session.terminate(kTerminated);
        return false;
    }
    session.printDebug(tnw::util::format("Loading file '%1' of size %2.", file.name, *file.size));
    session.dataSize += *file.size;
    if (session.dataSize > server::settings().maximumDataSize) {
        session.error("Failed to transfer file.");
        session.terminate(kSizeExceeded);
        return false;
    }
    return true;
}

} // namespace

void handleRun(Session& session) {
    server::Manager& manager = session.server();
    if (session.jobLoaded) {
        session.printVerbose("Already running job.");
        session.terminate(kTerminated);
        return;
    }
    bool accepted = false;
    {
        // One hold of the lock from the check to the mark: two RUNs at once must not both
        // pass a session limit that has room for one.
        Lock lock(globalLock());
        accepted = server::isAccepting(manager);
        if (accepted) {
            manager.markJobSession(session);
            ++manager.totalSessions;
        }
    }
    if (!accepted) {
        session.printVerbose("Currently not accepting.");
        session.terminate("Server is busy");
        return;
    }
    std::string guid;
    guid = session.readLine();
    {
        Lock lock(globalLock());
        session.kernel = guid;
    }
    if (!guid.empty()) {
        if (!server::isValidKernelGuid(guid)) {
            session.printVerbose("Invalid guid.");
            session.sendText("\n");
            session.terminate(kTerminated);
            return;
        }
        bool known = false;
        {
            Lock lock(globalLock());
            known = manager.kernelUploads.contains(guid);
        }
        if (keepsUploadedKernels(server::settings()) && !known) {
            session.printVerbose("CAM kernel '" + guid + "' not available.");
            session.terminate(kTerminated);
            return;
        }
    }
    auto size = protocol::parseUnsigned(session.readLine());
    if (!size || *size == 0 || *size > kMaximumJobSize) {
        session.printVerbose("Invalid job size.");
        session.terminate(kSizeExceeded);
        return;
    }
    session.jobFile = tnw::util::joinPath(session.folder, kJobFile);
    session.printDebug(tnw::util::format("Loading job of size %1.", *size));
    if (!receiveFile(session, session.jobFile, *size)) {
        session.error("Failed to transfer job.");
        session.terminate("Transmission failed");
        return;
    }
    session.jobLoaded = true;
    session.sendText("ACK\n");
}

void handleFile(Session& session) {
    NamedFile file;
    file.name = session.readLine();
    file.size = protocol::parseUnsigned(session.readLine());
    if (!acceptFile(session, file)) {
        return;
    }
    std::string path = tnw::util::joinPath(session.folder, file.name);
    bool caching = !server::settings().nocache;
    // Hashed as it arrives, the file need not be read again for the cache's checksum.
    tnw::util::SHA256OutputStream digest;
    if (!receiveFile(session, path, *file.size, caching ? &digest : nullptr)) {
        session.error("Failed to transfer file.");
        session.terminate("Transmission failed");
        return;
    }
    session.sendText("ACK\n");
    if (caching) {
        session.cacheCopies.push_back(session.server().fileCacheIntake.submit(
            path, session.peer, session.number, tnw::util::finishChecksum(digest)));
    }
}

void handleFileCache(Session& session) {
    NamedFile file;
    file.name = session.readLine();
    std::string checksum = session.readLine();
    file.size = protocol::parseUnsigned(session.readLine());
    if (!acceptFile(session, file)) {
        return;
    }
    std::string target = tnw::util::joinPath(session.folder, file.name);
    switch (server::copyCachedFile(session.server(), checksum, *file.size, target)) {
    case server::CachedCopy::NotCached:
        session.sendText("\n");
        return;
    case server::CachedCopy::Failed:
        session.error("Failed to transfer file.");
        session.terminate("Session failed");
        return;
    case server::CachedCopy::Copied:
        session.sendText("ACK\n");
        return;
    }
}

void handleIsFileCached(Session& session) {
    std::string checksum = session.readLine();
    auto size = protocol::parseUnsigned(session.readLine());
    bool cached = false;
    if (size) {
        Lock lock(globalLock());
        cached = session.server().fileCache.containsIntact(checksum, *size);
    }
    session.sendText(cached ? "ACK\n" : "\n");
}

namespace {

// The kernel folder is made, or reused, only as the server's own: the kernel is run from it.
bool prepareKernelFolder(const std::string& folder) {
    try {
        tnw::util::preparePrivateFolder(folder);
        return true;
    } catch (const tnw::util::Exception&) {
        return false;
    }
}

// One kernel file into a temporary name of the kernel folder, verified there. Nothing of it
// is usable until every file of the upload has passed and been renamed into place.
bool receiveKernelFile(Session& session, const std::string& temporary, const char* label) {
    auto size = protocol::parseUnsigned(session.readLine());
    if (!size || *size == 0 || *size > kMaximumKernelFileSize) {
        session.printVerbose(std::string("Invalid ") + label + " size.");
        return false;
    }
    if (!receiveFile(session, temporary, *size)) {
        session.error(std::string("Failed to transfer ") + label);
        return false;
    }
    if (!server::settings().noverify && !verifySignature(temporary)) {
        session.error(std::string("Failed to verify ") + label);
        return false;
    }
    return true;
}

} // namespace

void handleKernel(Session& session) {
    server::Manager& manager = session.server();
    if (!keepsUploadedKernels(server::settings())) {
        session.printDebug("KERNEL command is not supported.");
        session.terminate(kTerminated);
        return;
    }
    std::string line = session.readLine();
    bool orrin = line == "ORRIN";
    std::string guid = orrin ? session.readLine() : line;
    if (!orrin && guid.empty()) {
        guid = session.readLine();
    }
    if (!server::isValidKernelGuid(guid)) {
        session.printVerbose("Invalid guid.");
        session.terminate(kTerminated);
        return;
    }
    std::string architecture = session.readLine();
    if (architecture != kKernelArchitecture) {
        session.printVerbose("Invalid CAM kernel architecture: '" + architecture + "'.");
        session.terminate(kTerminated);
        return;
    }
    server::KernelUpload upload(manager, guid);
    std::string folder = server::kernelFolder(manager, guid);
    if (!prepareKernelFolder(folder)) {
        session.error("Failed to create CAM kernel cache.");
        session.terminate("Server error");
        return;
    }
    session.printVerbose("Loading CAM kernel for architecture " + architecture + ".");

    std::vector<std::pair<std::string, std::string>> received; // temporary -> final
    bool complete = true;
    for (const auto& file : kKernelFiles) {
        bool orrinFile = std::string(file.name) == kOrrinKernelModule || std::string(file.name) == kOrrinComponentsModule;
        if (orrinFile && !orrin) {
            continue;
        }
        std::string target = tnw::util::joinPath(folder, file.name);
        std::string temporary = tnw::util::joinPath(folder, tnw::util::format(".%1.upload-%2", file.name, session.id));
        received.emplace_back(temporary, target);
        if (!receiveKernelFile(session, temporary, file.label)) {
            complete = false;
            break;
        }
    }
    if (complete) {
        for (const auto& [temporary, target] : received) {
            if (target.ends_with(kKernelExecutable)) {
                tnw::util::makeExecutable(temporary);
            }
            if (tnw::util::renameFile(temporary, target) != 0) {
                complete = false;
            }
        }
    }
    if (!complete) {
        for (const auto& [temporary, target] : received) {
            tnw::util::removeFile(temporary);
        }
        session.terminate(kTerminated);
        return;
    }
    // Recorded before the acknowledgement: a client that asks IS_CACHED the moment it reads
    // "ACK" must find the kernel, or it uploads all of it again.
    {
        Lock lock(globalLock());
        manager.kernelUploads[guid] = tnw::util::Time::now();
    }
    session.sendText("ACK\n");
}

void handleIsCached(Session& session) {
    std::string guid = session.readLine();
    if (!server::isValidKernelGuid(guid)) {
        session.printVerbose("Invalid guid.", false);
        session.terminate(kTerminated);
        return;
    }
    if (!keepsUploadedKernels(server::settings())) {
        session.printDebug("Using fixed cache.");
        session.sendText("ACK\n");
        return;
    }
    bool uploaded = false;
    {
        Lock lock(globalLock());
        uploaded = session.server().kernelUploads.contains(guid);
    }
    std::string folder = server::kernelFolder(session.server(), guid);
    auto isFile = [&](const char* name) {
        std::string path = tnw::util::joinPath(folder, name);
        return tnw::util::exists(path) && !tnw::util::isFolder(path);
    };
    session.sendText(uploaded && isFile(kKernelExecutable) && isFile(kKernelModule) ? "ACK\n" : "\n");
}

} // namespace plexmill::session
