// Copying a 1 GiB cached file into a session (FILE_CACHE) against copies made the plain way,
// in the same run: a read/write loop with 1 MiB pieces, and cp(1). Run by hand:
//   file_cache_bench [FOLDER]   (default $TMPDIR or /tmp; needs about 4 GiB free there)
// Prints the rates and the ratios, and whether the file system clones blocks (reflink).
#include "service/server/file_cache_add.hpp"
#include "service/server/file_cache_copy.hpp"
#include "service/server/manager.hpp"
#include "util/checksum.hpp"
#include "util/files.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kFileSize = 1ULL << 30;
constexpr std::size_t kPiece = 1 << 20;
constexpr int kRounds = 3;

bool writeSource(const std::string& path) {
    std::vector<char> piece(kPiece);
    std::mt19937_64 random(7);
    for (auto& byte : piece) {
        byte = static_cast<char>(random());
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    for (std::uint64_t done = 0; ok && done < kFileSize; done += kPiece) {
        piece[0] = static_cast<char>(done >> 20); // no two pieces alike
        ok = ::write(fd, piece.data(), kPiece) == static_cast<ssize_t>(kPiece);
    }
    return ::close(fd) == 0 && ok;
}

bool readWriteCopy(const std::string& from, const std::string& to) {
    int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int target = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    std::vector<char> buffer(kPiece);
    bool ok = source >= 0 && target >= 0;
    for (ssize_t got = 1; ok && got > 0;) {
        got = ::read(source, buffer.data(), buffer.size());
        ok = got >= 0 && ::write(target, buffer.data(), static_cast<std::size_t>(got)) == got;
    }
    ok = ::close(target) == 0 && ok;
    ::close(source);
    return ok;
}

bool reflinkWorks(const std::string& folder) {
    std::string from = tnw::util::joinPath(folder, "probe-from");
    std::string to = tnw::util::joinPath(folder, "probe-to");
    int source = ::open(from.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int target = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool cloned = source >= 0 && target >= 0 && ::write(source, "probe", 5) == 5 &&
                  ::ioctl(target, FICLONE, source) == 0;
    ::close(source);
    ::close(target);
    tnw::util::removeFile(from);
    tnw::util::removeFile(to);
    return cloned;
}

// The best of kRounds runs in GB/s; the target is deleted after each run. Each run starts
// with no dirty pages, so none pays for the write-back of another.
double bestRate(const char* name, const std::string& target, const std::function<bool()>& copy) {
    double best = 0;
    double fastest = 0;
    for (int round = 0; round < kRounds; ++round) {
        tnw::util::removeFile(target);
        ::sync();
        auto start = Clock::now();
        if (!copy() || tnw::util::fileSize(target) != kFileSize) {
            std::fprintf(stderr, "%s failed\n", name);
            std::exit(1);
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (best < static_cast<double>(kFileSize) / seconds / 1e9) {
            best = static_cast<double>(kFileSize) / seconds / 1e9;
            fastest = seconds;
        }
    }
    tnw::util::removeFile(target);
    std::printf("%-28s %6.2f GB/s (1 GiB in %.1f ms)\n", name, best, fastest * 1000);
    return best;
}

} // namespace

int main(int argc, char** argv) {
    using namespace plexmill::server;
    std::string base = argc > 1 ? argv[1] : tnw::util::tempFolder();
    std::string folder =
        tnw::util::joinPath(base, "file-cache-bench-" + std::to_string(::getpid()));
    if (tnw::util::createFolders(folder) != 0) {
        std::fprintf(stderr, "cannot create %s\n", folder.c_str());
        return 1;
    }
    std::string source = tnw::util::joinPath(folder, "source");
    std::string target = tnw::util::joinPath(folder, "target");
    if (!writeSource(source)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        tnw::util::removeFolder(folder);
        return 1;
    }
    std::printf("reflink on this file system: %s\n", reflinkWorks(folder) ? "yes" : "no");

    Manager manager;
    manager.fileCache.reset(tnw::util::joinPath(folder, "cache"));
    auto start = Clock::now();
    addFile(manager, source, {}, 0);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string checksum = tnw::util::fileChecksum(source);
    if (manager.fileCache.find(checksum) == nullptr) {
        std::fprintf(stderr, "addFile did not enter the file\n");
        tnw::util::removeFolder(folder);
        return 1;
    }
    std::printf("%-28s %6.2f GB/s\n", "addFile (checksum + copy)", kFileSize / seconds / 1e9);
    // As FILE hands it over: hashed on receipt, entered under a second name, then the session
    // file gets its own copy. Into a fresh cache, or there would be nothing to do.
    {
        Manager received;
        received.fileCache.reset(tnw::util::joinPath(folder, "cache-received"));
        tnw::util::ChecksumAndSize contents{checksum, kFileSize};
        ::sync();
        auto begin = Clock::now();
        addFile(received, source, {}, 0, {}, contents);
        std::chrono::duration<double> entered = Clock::now() - begin;
        std::printf(
            "%-28s %6.2f GB/s\n", "addFile (hashed on receipt)", kFileSize / entered.count() / 1e9);
    }

    double cached = bestRate("copyCachedFile", target, [&] {
        return copyCachedFile(manager, checksum, kFileSize, target) == CachedCopy::Copied;
    });
    double loop =
        bestRate("read/write loop, 1 MiB", target, [&] { return readWriteCopy(source, target); });
    std::string command = "cp '" + source + "' '" + target + "'";
    double cp = bestRate("cp", target, [&] { return std::system(command.c_str()) == 0; });
    std::printf("copyCachedFile / read-write loop: %.2f\n", cached / loop);
    std::printf("copyCachedFile / cp:              %.2f\n", cached / cp);
    tnw::util::removeFolder(folder);
    return 0;
}
