#include "service/server/file_cache_add.hpp"
#include "service/server/file_cache_copy.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/files.hpp"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace plexmill::server {
namespace {

using namespace std::chrono_literals;
using tnw::util::Time;

// fileChecksum texts from Python's hashlib, each 32-bit word least significant byte first.
constexpr const char* kHelloChecksum =
    "b5b5915808dfd522b1f00f6dd2d9fb1071fcb41bd034af63e8a2868203bef646"; // "hello\n"
constexpr const char* kThousandAChecksum =
    "e4eced41d9e8632d9b5a51bf1c2e93a6f5c9cb206434d1a5b15ddb5aa37e73b9"; // 1000 times "a"

Time twoDaysAhead() {
    return Time(Time::now().value() + 2 * 86'400'000'000ULL);
}

// `prefix` and the number, built by appending: GCC 12 at -O3 takes `"f" + std::to_string(i)`
// for an overlapping copy (-Wrestrict, a false positive).
std::string numbered(std::string prefix, int number) {
    prefix += std::to_string(number);
    return prefix;
}

constexpr PeerAddress kFirstPeer{0x0A000001, 50001};
constexpr PeerAddress kSecondPeer{0x0A000002, 50002};

// A Manager whose file cache lives in a temporary folder, with files to add from "sessions".
class FileCacheTest : public testing::Test {
protected:
    void SetUp() override {
        manager.fileCache.reset(cacheFolder());
        settings() = Settings{};
    }

    std::string cacheFolder() const { return (home / "cache").string(); }
    std::string storedPath(const std::string& checksum) const {
        return (home / "cache" / checksum).string();
    }
    std::vector<std::string> storedFiles() const { return tnw::util::listFiles(cacheFolder()); }

    // A file as a session folder holds it.
    std::string sessionFile(const std::string& session,
                            const std::string& name,
                            const std::string& contents) const {
        std::filesystem::create_directories(home / session);
        tnw::test::writeFile(home / session / name, contents);
        return (home / session / name).string();
    }

    // Enters a stored file of `size` bytes named `checksum` directly, as addFile would.
    void enterStored(const std::string& checksum, std::uint64_t lastUse, std::uint64_t size) {
        tnw::test::writeFile(storedPath(checksum), std::string(size, 'x'));
        ASSERT_TRUE(manager.fileCache.enter(
            checksum, Time(lastUse), size, storedPath(checksum), kFirstPeer));
    }

    std::vector<std::string> keys() const {
        std::vector<std::string> result;
        for (const auto& [checksum, entry] : manager.fileCache.entries()) {
            result.push_back(checksum);
        }
        return result;
    }

    void setPins(const std::string& checksum, std::uint32_t pins) {
        tnw::util::Lock lock(tnw::util::globalLock());
        manager.fileCache.find(checksum)->pins = pins;
    }

    tnw::test::TempFolder home;
    Manager manager;
};

TEST_F(FileCacheTest, ResetDeletesEverythingAndStartsEmpty) {
    tnw::test::writeFile(home / "cache" / "left-over", "old");
    std::filesystem::create_directories(home / "cache" / "nested" / "deeper");
    tnw::test::writeFile(home / "cache" / "nested" / "deeper" / "file", "old");
    enterStored("aa", 1, 10);
    ASSERT_EQ(copyCachedFile(manager, "aa", 10, (home / "out").string()), CachedCopy::Copied);

    manager.fileCache.reset(cacheFolder());
    EXPECT_TRUE(tnw::util::isFolder(cacheFolder()));
    EXPECT_TRUE(storedFiles().empty());
    EXPECT_TRUE(manager.fileCache.entries().empty());
    EXPECT_EQ(manager.fileCache.totalSize(), 0U);
    EXPECT_EQ(manager.fileCache.hits(), 0U);
    EXPECT_EQ(manager.fileCache.hitBytes(), 0U);

    // A missing folder is created.
    std::filesystem::remove_all(home / "cache");
    manager.fileCache.reset(cacheFolder());
    EXPECT_TRUE(tnw::util::isFolder(cacheFolder()));
}

TEST_F(FileCacheTest, SameFileFromTwoSessionsIsStoredOnce) {
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    addFile(manager, sessionFile("session-2", "other.nc", "hello\n"), kSecondPeer, 2);

    ASSERT_EQ(keys(), std::vector<std::string>{kHelloChecksum});
    const CacheEntry& entry = manager.fileCache.entries().at(kHelloChecksum);
    EXPECT_EQ(entry.checksum, kHelloChecksum);
    EXPECT_EQ(entry.size, 6U);
    EXPECT_EQ(entry.path, storedPath(kHelloChecksum));
    // The second add stopped at the copy: the entry is still the first session's.
    EXPECT_EQ(entry.source.address, kFirstPeer.address);
    EXPECT_EQ(entry.source.port, kFirstPeer.port);
    EXPECT_EQ(entry.hits, 0U);
    EXPECT_EQ(manager.fileCache.totalSize(), 6U);
    EXPECT_EQ(storedFiles(), std::vector<std::string>{kHelloChecksum});
    EXPECT_EQ(tnw::test::readText(storedPath(kHelloChecksum)), "hello\n");
}

TEST_F(FileCacheTest, AFileHashedOnReceiptIsEnteredAndTheSessionKeepsACopyOfItsOwn) {
    std::string session = sessionFile("session-1", "part.nc", "hello\n");
    bool released = false;
    addFile(
        manager,
        session,
        kFirstPeer,
        1,
        [&] {
            // Released only once the session's name no longer stands for the cache's file.
            released = true;
            struct stat sessionStatus {};
            struct stat storedStatus {};
            ASSERT_EQ(::stat(session.c_str(), &sessionStatus), 0);
            ASSERT_EQ(::stat(storedPath(kHelloChecksum).c_str(), &storedStatus), 0);
            EXPECT_NE(sessionStatus.st_ino, storedStatus.st_ino);
            EXPECT_EQ(sessionStatus.st_nlink, 1U);
            EXPECT_EQ(storedStatus.st_nlink, 1U);
        },
        tnw::util::ChecksumAndSize{kHelloChecksum, 6});
    EXPECT_TRUE(released);
    ASSERT_EQ(keys(), std::vector<std::string>{kHelloChecksum});
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        EXPECT_TRUE(manager.fileCache.containsIntact(kHelloChecksum, 6));
        EXPECT_FALSE(manager.fileCache.find(kHelloChecksum)->sharedWithSession);
    }
    struct stat stored {};
    ASSERT_EQ(::stat(storedPath(kHelloChecksum).c_str(), &stored), 0);
    EXPECT_EQ(stored.st_mode & 0777, 0400U);
    // The session's file is its own: the kernel may write it, and the cache does not change.
    {
        std::ofstream overwrite(session, std::ios::trunc);
        overwrite << "changed by the kernel\n";
    }
    EXPECT_EQ(tnw::test::readText(storedPath(kHelloChecksum)), "hello\n");
    EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 6, (home / "out").string()),
              CachedCopy::Copied);
    EXPECT_EQ(tnw::test::readText(home / "out"), "hello\n");

    // Sent again: the cache holds it intact, so nothing is copied and the session file stays.
    std::string again = sessionFile("session-2", "part.nc", "hello\n");
    struct stat before {};
    ASSERT_EQ(::stat(again.c_str(), &before), 0);
    addFile(manager, again, kSecondPeer, 2, {}, tnw::util::ChecksumAndSize{kHelloChecksum, 6});
    struct stat after {};
    ASSERT_EQ(::stat(again.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(manager.fileCache.entries().at(kHelloChecksum).source.port, kFirstPeer.port);

    // A size that is not the file's (cut short after receipt) enters nothing and loses nothing.
    std::string cut = sessionFile("session-3", "other.nc", std::string(1000, 'a'));
    addFile(manager, cut, kSecondPeer, 3, {}, tnw::util::ChecksumAndSize{kThousandAChecksum, 999});
    EXPECT_EQ(keys(), std::vector<std::string>{kHelloChecksum});
    EXPECT_EQ(storedFiles(), std::vector<std::string>{kHelloChecksum});
    EXPECT_EQ(tnw::test::readText(cut), std::string(1000, 'a'));
}

TEST_F(FileCacheTest, SameNameWithOtherContentsBecomesASecondEntry) {
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    addFile(manager, sessionFile("session-2", "part.nc", std::string(1000, 'a')), kSecondPeer, 2);

    EXPECT_EQ(keys(), (std::vector<std::string>{kHelloChecksum, kThousandAChecksum}));
    EXPECT_EQ(manager.fileCache.totalSize(), 1006U);
    EXPECT_EQ(manager.fileCache.entries().at(kThousandAChecksum).source.port, kSecondPeer.port);
    EXPECT_EQ(tnw::test::readText(storedPath(kThousandAChecksum)), std::string(1000, 'a'));
}

TEST_F(FileCacheTest, UnreadableFileOrUnsetFolderAddsNothing) {
    addFile(manager, (home / "missing").string(), kFirstPeer, 1);
    std::filesystem::create_directories(home / "a-folder");
    addFile(manager, (home / "a-folder").string(), kFirstPeer, 1);
    EXPECT_TRUE(manager.fileCache.entries().empty());
    EXPECT_TRUE(storedFiles().empty());

    Manager unstarted;
    addFile(unstarted, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    EXPECT_TRUE(unstarted.fileCache.entries().empty());
    EXPECT_FALSE(std::filesystem::exists(kHelloChecksum));
}

TEST_F(FileCacheTest, EvictsLeastRecentlyUsedOnlyUntilTheNewFileFits) {
    manager.fileCache.setCapacity(100);
    enterStored("c1", 1, 30);
    enterStored("c2", 2, 30);
    enterStored("c3", 3, 30);

    // 40 bytes need only the oldest entry to go.
    enterStored("c4", 4, 40);
    EXPECT_EQ(keys(), (std::vector<std::string>{"c2", "c3", "c4"}));
    EXPECT_FALSE(std::filesystem::exists(storedPath("c1")));
    EXPECT_EQ(manager.fileCache.totalSize(), 100U);

    // A touched entry outlives the older untouched ones.
    manager.fileCache.touch(*manager.fileCache.find("c2"), Time(5));
    enterStored("c5", 6, 30);
    EXPECT_EQ(keys(), (std::vector<std::string>{"c2", "c4", "c5"}));
    EXPECT_FALSE(std::filesystem::exists(storedPath("c3")));
    EXPECT_TRUE(std::filesystem::exists(storedPath("c2")));
    EXPECT_EQ(manager.fileCache.totalSize(), 100U);

    // Exactly the capacity empties the cache.
    enterStored("c6", 7, 100);
    EXPECT_EQ(keys(), std::vector<std::string>{"c6"});
    EXPECT_EQ(storedFiles(), std::vector<std::string>{"c6"});
}

TEST_F(FileCacheTest, EqualLastUsesGoInChecksumOrder) {
    manager.fileCache.setCapacity(30);
    enterStored("b0", 7, 10);
    enterStored("a9", 7, 10);
    enterStored("c0", 7, 10);
    enterStored("d0", 8, 10);
    EXPECT_EQ(keys(), (std::vector<std::string>{"b0", "c0", "d0"}));
    enterStored("e0", 9, 10);
    EXPECT_EQ(keys(), (std::vector<std::string>{"c0", "d0", "e0"}));
}

TEST_F(FileCacheTest, FileLargerThanTheCapacityIsNeitherCopiedNorEntered) {
    manager.fileCache.setCapacity(6);
    addFile(manager, sessionFile("session-1", "big.nc", std::string(1000, 'a')), kFirstPeer, 1);
    EXPECT_TRUE(manager.fileCache.entries().empty());
    EXPECT_TRUE(storedFiles().empty());

    // Exactly the capacity fits.
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    EXPECT_EQ(keys(), std::vector<std::string>{kHelloChecksum});
    EXPECT_FALSE(manager.fileCache.enter("dd", Time(1), 7, storedPath("dd"), kFirstPeer));
}

TEST_F(FileCacheTest, DefaultCapacityIs32GiB) {
    EXPECT_EQ(manager.fileCache.capacity(), 34359738368ULL);
    tnw::test::writeFile(storedPath("huge"), "");
    EXPECT_FALSE(manager.fileCache.enter("huge", Time(1), 34359738369ULL, storedPath("huge"), {}));
    EXPECT_TRUE(manager.fileCache.enter("huge", Time(1), 34359738368ULL, storedPath("huge"), {}));
}

TEST_F(FileCacheTest, ExpiresEntriesUnusedForMoreThan24Hours) {
    const std::uint64_t start = 13'000'000'000'000'000ULL;
    enterStored("old", start, 5);
    enterStored("new", start + 1, 5);
    manager.fileCache.expire(Time(start + 86'400'000'000ULL));
    EXPECT_EQ(keys(), (std::vector<std::string>{"new", "old"}));
    manager.fileCache.expire(Time(start + 86'400'000'001ULL));
    EXPECT_EQ(keys(), std::vector<std::string>{"new"});
    EXPECT_FALSE(std::filesystem::exists(storedPath("old")));
    EXPECT_EQ(manager.fileCache.totalSize(), 5U);

    // A use renews the 24 hours.
    manager.fileCache.touch(*manager.fileCache.find("new"), Time(start + 86'400'000'000ULL));
    manager.fileCache.expire(Time(start + 2 * 86'400'000'000ULL));
    EXPECT_EQ(keys(), std::vector<std::string>{"new"});
}

TEST_F(FileCacheTest, InsertReplacesAnExistingEntryAndCorrectsTheTotal) {
    enterStored("aa", 1, 10);
    enterStored("bb", 1, 20);
    manager.fileCache.touch(*manager.fileCache.find("aa"), Time(2));
    manager.fileCache.insert("aa", Time(9), 15, "/elsewhere", kSecondPeer);
    const CacheEntry& entry = *manager.fileCache.find("aa");
    EXPECT_EQ(entry.lastUse, Time(9));
    EXPECT_EQ(entry.size, 15U);
    EXPECT_EQ(entry.path, "/elsewhere");
    EXPECT_EQ(entry.source.port, kSecondPeer.port);
    EXPECT_EQ(entry.hits, 0U);
    EXPECT_EQ(manager.fileCache.totalSize(), 35U);
    EXPECT_EQ(manager.fileCache.hits(), 1U);
    EXPECT_EQ(manager.fileCache.hitBytes(), 10U);
}

TEST_F(FileCacheTest, ContainsNeedsTheExactSize) {
    enterStored("aa", 1, 10);
    EXPECT_TRUE(manager.fileCache.contains("aa", 10));
    EXPECT_FALSE(manager.fileCache.contains("aa", 11));
    EXPECT_FALSE(manager.fileCache.contains("ab", 10));
    EXPECT_EQ(manager.fileCache.pathFor("aa"), storedPath("aa"));
    // The same checksum with another size gives way to the new copy.
    EXPECT_TRUE(manager.fileCache.enter("aa", Time(2), 12, storedPath("aa"), kSecondPeer));
    EXPECT_TRUE(manager.fileCache.contains("aa", 12));
    EXPECT_EQ(manager.fileCache.totalSize(), 12U);
    EXPECT_FALSE(manager.fileCache.enter("aa", Time(3), 12, storedPath("aa"), kFirstPeer));
}

TEST_F(FileCacheTest, RemovingAnUndeletableFileStillForgetsIt) {
    enterStored("aa", 1, 10);
    // A non-empty folder in place of the stored file cannot be deleted as a file.
    std::filesystem::create_directories(home / "blocked");
    tnw::test::writeFile(home / "blocked" / "inside", "x");
    manager.fileCache.insert("bb", Time(1), 20, (home / "blocked").string(), kFirstPeer);
    manager.fileCache.remove("bb");
    manager.fileCache.remove("unknown");
    EXPECT_EQ(keys(), std::vector<std::string>{"aa"});
    EXPECT_EQ(manager.fileCache.totalSize(), 10U);
    EXPECT_TRUE(std::filesystem::exists(home / "blocked" / "inside"));
}

TEST_F(FileCacheTest, PinnedEntriesAreNeverEvictedRemovedExpiredOrReplaced) {
    manager.fileCache.setCapacity(100);
    enterStored("p1", 1, 40); // the oldest, but pinned
    enterStored("u1", 2, 40);
    setPins("p1", 1);

    enterStored("n1", 3, 50);
    EXPECT_EQ(keys(), (std::vector<std::string>{"n1", "p1"}));

    manager.fileCache.remove("p1");
    manager.fileCache.expire(twoDaysAhead());
    EXPECT_EQ(keys(), std::vector<std::string>{"p1"});
    manager.fileCache.insert("p1", Time(5), 99, "/elsewhere", kSecondPeer);
    EXPECT_EQ(manager.fileCache.find("p1")->size, 40U);
    EXPECT_EQ(manager.fileCache.find("p1")->path, storedPath("p1"));
    EXPECT_FALSE(manager.fileCache.enter("p1", Time(5), 41, storedPath("p1"), kSecondPeer));
    EXPECT_EQ(manager.fileCache.totalSize(), 40U);

    // No room beside a pinned entry: a new copy is not entered, and addFile deletes it.
    EXPECT_FALSE(manager.fileCache.enter("n2", Time(6), 61, storedPath("n2"), kFirstPeer));
    manager.fileCache.setCapacity(45);
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    EXPECT_EQ(keys(), std::vector<std::string>{"p1"});
    EXPECT_EQ(storedFiles(), std::vector<std::string>{"p1"});

    setPins("p1", 0);
    manager.fileCache.remove("p1");
    EXPECT_TRUE(manager.fileCache.entries().empty());
    EXPECT_EQ(manager.fileCache.totalSize(), 0U);
}

TEST_F(FileCacheTest, CopyCachedFileCountsTheUseAndCopies) {
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    std::string target = (home / "session-2" / "copy.nc").string();
    std::filesystem::create_directories(home / "session-2");

    EXPECT_EQ(copyCachedFile(manager, kThousandAChecksum, 1000, target), CachedCopy::NotCached);
    EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 7, target), CachedCopy::NotCached);
    EXPECT_EQ(manager.fileCache.hits(), 0U);
    EXPECT_FALSE(std::filesystem::exists(target));

    Time before = Time::now();
    EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 6, target), CachedCopy::Copied);
    EXPECT_EQ(tnw::test::readText(target), "hello\n");
    const CacheEntry& entry = *manager.fileCache.find(kHelloChecksum);
    EXPECT_GE(entry.lastUse, before);
    EXPECT_EQ(entry.hits, 1U);
    EXPECT_EQ(entry.pins, 0U);
    EXPECT_EQ(manager.fileCache.hits(), 1U);
    EXPECT_EQ(manager.fileCache.hitBytes(), 6U);

    // An existing target fails the copy and stays as it was; the use still counts.
    tnw::test::writeFile(target, "mine");
    EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 6, target), CachedCopy::Failed);
    EXPECT_EQ(tnw::test::readText(target), "mine");
    EXPECT_EQ(manager.fileCache.hits(), 2U);
    EXPECT_EQ(manager.fileCache.hitBytes(), 12U);
    EXPECT_EQ(manager.fileCache.find(kHelloChecksum)->pins, 0U);
}

TEST_F(FileCacheTest, AStoredFileChangedBehindTheServersBackIsNeverServed) {
    namespace fs = std::filesystem;
    tnw::test::writeFile(home / "outside", "hello\n");
    struct Case {
        const char* change;
        std::function<void(const fs::path&)> apply;
    };
    const Case cases[] = {
        {"truncated", [](const fs::path& stored) { fs::resize_file(stored, 3); }},
        {"rewritten with its size and modification time kept",
         [](const fs::path& stored) {
             auto modified = fs::last_write_time(stored);
             std::fstream(stored, std::ios::in | std::ios::out | std::ios::binary) << "HELLO\n";
             fs::last_write_time(stored, modified);
         }},
        {"replaced by another file",
         [](const fs::path& stored) {
             tnw::test::writeFile(stored.string() + ".new", "hello\n");
             fs::rename(stored.string() + ".new", stored);
         }},
        {"replaced by a link",
         [&](const fs::path& stored) {
             fs::remove(stored);
             fs::create_symlink(home / "outside", stored);
         }},
        {"removed", [](const fs::path& stored) { fs::remove(stored); }},
    };
    const std::string target = (home / "copy.nc").string();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.change);
        addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
        ASSERT_TRUE(manager.fileCache.containsIntact(kHelloChecksum, 6));
        // The server's alone: read-only, for its owner only.
        EXPECT_EQ(fs::status(storedPath(kHelloChecksum)).permissions(), fs::perms::owner_read);
        test.apply(storedPath(kHelloChecksum));

        EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 6, target), CachedCopy::NotCached);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_TRUE(manager.fileCache.entries().empty());
        EXPECT_EQ(manager.fileCache.totalSize(), 0U);
        EXPECT_EQ(manager.fileCache.hits(), 0U);
        EXPECT_TRUE(storedFiles().empty());
    }
    EXPECT_EQ(tnw::test::readText(home / "outside"), "hello\n");

    // IS_FILE_CACHED's check drops such an entry too, and the file sent again takes its place.
    addFile(manager, sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    fs::resize_file(storedPath(kHelloChecksum), 0);
    EXPECT_FALSE(manager.fileCache.containsIntact(kHelloChecksum, 6));
    addFile(manager, sessionFile("session-2", "part.nc", "hello\n"), kSecondPeer, 2);
    EXPECT_EQ(copyCachedFile(manager, kHelloChecksum, 6, target), CachedCopy::Copied);
    EXPECT_EQ(tnw::test::readText(target), "hello\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_write, fs::perms::owner_write);
}

// Opens a FIFO for writing once its reader is there; -1 at the deadline.
int openFifoWriter(const std::filesystem::path& path) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO) {
            return fd;
        }
        std::this_thread::sleep_for(5ms);
    }
    return -1;
}

TEST_F(FileCacheTest, EntryBeingCopiedSurvivesEvictionAndExpiryByOtherThreads) {
    // The stored "file" is a FIFO, so the copy lasts exactly until the test feeds it.
    manager.fileCache.setCapacity(100);
    std::string fifo = storedPath("slow");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(manager.fileCache.enter("slow", Time(1), 10, fifo, kFirstPeer));
    enterStored("other", 2, 40);

    std::string target = (home / "copy.nc").string();
    auto copying =
        std::async(std::launch::async, [&] { return copyCachedFile(manager, "slow", 10, target); });
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        {
            tnw::util::Lock lock(tnw::util::globalLock());
            if (manager.fileCache.find("slow")->pins == 1) {
                break;
            }
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(1ms);
    }

    // Evicting and expiring from other threads while the copy runs: the unpinned entries go.
    std::thread([&] {
        addFile(manager, sessionFile("session-2", "big.nc", std::string(60, 'b')), kSecondPeer, 2);
    }).join();
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        EXPECT_EQ(manager.fileCache.find("other"), nullptr);
        EXPECT_EQ(manager.fileCache.entries().size(), 2U);
        EXPECT_EQ(manager.fileCache.totalSize(), 70U);
    }
    std::thread([&] {
        tnw::util::Lock lock(tnw::util::globalLock());
        manager.fileCache.expire(twoDaysAhead());
    }).join();
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        EXPECT_EQ(keys(), std::vector<std::string>{"slow"});
        EXPECT_EQ(manager.fileCache.totalSize(), 10U);
    }

    int writer = openFifoWriter(fifo);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "0123456789", 10), 10);
    ::close(writer);
    EXPECT_EQ(copying.get(), CachedCopy::Copied);
    EXPECT_EQ(tnw::test::readText(target), "0123456789");

    // Unpinned, it expires like any other.
    tnw::util::Lock lock(tnw::util::globalLock());
    EXPECT_EQ(manager.fileCache.find("slow")->pins, 0U);
    manager.fileCache.expire(twoDaysAhead());
    EXPECT_TRUE(manager.fileCache.entries().empty());
    EXPECT_EQ(manager.fileCache.totalSize(), 0U);
}

TEST_F(FileCacheTest, ConcurrentAddsAndCopiesKeepTheTotalWithinTheCapacity) {
    manager.fileCache.setCapacity(3000);
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(sessionFile(
            "session-0", numbered("f", i), std::string(500 + 100 * i, static_cast<char>('a' + i))));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                const std::string& file = files[static_cast<std::size_t>((t + round) % 8)];
                addFile(manager, file, kFirstPeer, static_cast<std::uint32_t>(t));
                std::string checksum;
                {
                    tnw::util::Lock lock(tnw::util::globalLock());
                    if (!manager.fileCache.entries().empty()) {
                        checksum = manager.fileCache.entries().begin()->first;
                    }
                }
                std::string target = (home / (numbered("t", t) + numbered("-", round))).string();
                for (std::uint64_t size = 500; !checksum.empty() && size <= 1200; size += 100) {
                    copyCachedFile(manager, checksum, size, target);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::uint64_t sum = 0;
    for (const auto& [checksum, entry] : manager.fileCache.entries()) {
        sum += entry.size;
        EXPECT_EQ(entry.pins, 0U);
        EXPECT_EQ(tnw::util::fileSize(entry.path), entry.size);
    }
    EXPECT_EQ(manager.fileCache.totalSize(), sum);
    EXPECT_LE(sum, 3000U);
    EXPECT_EQ(storedFiles().size(), manager.fileCache.entries().size());
}

TEST_F(FileCacheTest, IntakeLetsTheSessionGoOnOnceTheFileIsCopied) {
    manager.fileCacheIntake.start(manager);
    std::string path = sessionFile("session-1", "part.nc", "hello\n");
    auto ticket = manager.fileCacheIntake.submit(path, kFirstPeer, 1);
    ticket->waitUntilCopied();
    // What the session does with its file from now on cannot reach the cache.
    tnw::test::writeFile(path, "changed by the kernel");
    auto end = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        {
            tnw::util::Lock lock(tnw::util::globalLock());
            if (manager.fileCache.contains(kHelloChecksum, 6) ||
                std::chrono::steady_clock::now() > end) {
                break;
            }
        }
        std::this_thread::sleep_for(5ms);
    }
    manager.fileCacheIntake.stop();
    EXPECT_EQ(keys(), std::vector<std::string>{kHelloChecksum});
    EXPECT_EQ(storedFiles(), std::vector<std::string>{kHelloChecksum});
    EXPECT_EQ(tnw::test::readText(storedPath(kHelloChecksum)), "hello\n");
}

TEST_F(FileCacheTest, IntakeNotRunningDropsFilesAtOnce) {
    auto ticket = manager.fileCacheIntake.submit(
        sessionFile("session-1", "part.nc", "hello\n"), kFirstPeer, 1);
    ticket->waitUntilCopied();
    EXPECT_TRUE(keys().empty());
    EXPECT_TRUE(storedFiles().empty());
}

} // namespace
} // namespace plexmill::server
