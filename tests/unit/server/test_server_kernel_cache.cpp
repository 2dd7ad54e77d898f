#include "service/server/kernel_cache.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace plexmill::server {
namespace {

using tnw::util::Time;

constexpr const char* kGuidA = "{0123ABCD-4567-89ab-cdef-0123456789AB}";
constexpr const char* kGuidB = "{11111111-2222-3333-4444-555555555555}";
constexpr const char* kGuidC = "{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}";
constexpr const char* kGuidD = "{FFFFFFFF-0000-0000-0000-000000000000}";
constexpr const char* kGuidE = "{12345678-9abc-def0-1234-56789abcdef0}";

constexpr std::uint64_t kNow = 13'400'000'000'000'000ULL;
constexpr std::uint64_t kMinute = 60'000'000ULL;
constexpr std::uint64_t kHour = 60 * kMinute;
constexpr std::uint64_t kSecond = 1'000'000ULL;

class RunningSession : public SessionState {
public:
    explicit RunningSession(std::string guid) { kernel = std::move(guid); }
    void close() override {}
};

class KernelCacheTest : public testing::Test {
protected:
    void SetUp() override {
        settings() = Settings{};
        manager.config.cacheFolder = cacheFolder();
    }

    std::string cacheFolder() const { return (home / "kernels").string(); }
    std::string folderOf(const std::string& name) const {
        return (home / "kernels" / name).string();
    }
    void makeKernel(const std::string& guid) const {
        std::filesystem::create_directories(home / "kernels" / guid);
        tnw::test::writeFile(home / "kernels" / guid / "millcore.exe", "exe");
        tnw::test::writeFile(home / "kernels" / guid / "millcore.dll", "dll");
    }
    bool present(const std::string& name) const { return tnw::util::exists(folderOf(name)); }
    void sessionEnded() {
        tnw::util::Lock lock(tnw::util::globalLock());
        manager.sessionsChanged = true;
    }

    tnw::test::TempFolder home;
    Manager manager;
    KernelCacheCleaner cleaner;
};

TEST(KernelGuid, OnlyTheBracedEightFourFourFourTwelveShapeIsValid) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"{0123ABCD-4567-89ab-cdef-0123456789AB}", true},
        {"{00000000-0000-0000-0000-000000000000}", true},
        {"0123ABCD-4567-89ab-cdef-0123456789AB", false},
        {"{0123ABCD-4567-89ab-cdef-0123456789A}", false},
        {"{0123ABCD-4567-89ab-cdef-0123456789ABC}", false},
        {"{0123ABCD-4567-89ab-cdef-0123456789AB}x", false},
        {"{0123ABCG-4567-89ab-cdef-0123456789AB}", false},
        {"{0123ABCD4-567-89ab-cdef-0123456789AB}", false},
        {"{0123ABCD-4567-89ab-cdef_0123456789AB}", false},
        {"(0123ABCD-4567-89ab-cdef-0123456789AB)", false},
        {"{0123ABCD-4567-89ab-cdef-0123456789AB]", false},
        {"{0123ABCD-4567-89ab-cdef-01234567 9AB}", false},
        {"", false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(isValidKernelGuid(test.text), test.valid);
    }
}

TEST_F(KernelCacheTest, KernelFolderIsTheGuidInTheCacheFolder) {
    EXPECT_EQ(kernelFolder(manager, kGuidA), cacheFolder() + "/" + kGuidA);
}

TEST_F(KernelCacheTest, RemovesUnknownAndExpiredKernelsOnly) {
    makeKernel(kGuidA); // uploaded 24 hours and one minute ago
    makeKernel(kGuidB); // uploaded 23 hours ago
    makeKernel(kGuidC); // never uploaded in this run
    makeKernel(kGuidD); // unknown, but an open session runs it
    makeKernel(kGuidE); // unknown, but a session is uploading it
    std::filesystem::create_directories(home / "kernels" / "notes");
    std::filesystem::create_directories(home / "kernels" / "{0123ABCD-4567-89ab-cdef-0123456789A}");
    // A file with a GUID name is no kernel folder.
    tnw::test::writeFile(home / "kernels" / "{22222222-2222-2222-2222-222222222222}", "x");
    manager.kernelUploads[kGuidA] = Time(kNow - 24 * kHour - kMinute);
    manager.kernelUploads[kGuidB] = Time(kNow - 23 * kHour);
    manager.sessions.push_back(std::make_shared<RunningSession>(kGuidD));
    manager.sessions.push_back(std::make_shared<RunningSession>(""));
    {
        KernelUpload upload(manager, kGuidE);
        cleaner.clean(manager, Time(kNow), 0);
    }

    EXPECT_FALSE(present(kGuidA));
    EXPECT_FALSE(manager.kernelUploads.contains(kGuidA));
    EXPECT_TRUE(present(kGuidB));
    EXPECT_TRUE(tnw::util::exists(folderOf(kGuidB) + "/millcore.exe"));
    EXPECT_EQ(manager.kernelUploads.at(kGuidB), Time(kNow - 23 * kHour));
    EXPECT_FALSE(present(kGuidC));
    EXPECT_TRUE(present(kGuidD));
    EXPECT_TRUE(present(kGuidE));
    EXPECT_TRUE(manager.kernelsReceiving.empty());
    EXPECT_TRUE(present("notes"));
    EXPECT_TRUE(present("{0123ABCD-4567-89ab-cdef-0123456789A}"));
    EXPECT_TRUE(present("{22222222-2222-2222-2222-222222222222}"));
    EXPECT_FALSE(manager.sessionsChanged);
    EXPECT_TRUE(cleaner.undeletable().empty());
}

TEST_F(KernelCacheTest, ExactlyTwentyFourHoursIsNotYetExpired) {
    makeKernel(kGuidA);
    manager.kernelUploads[kGuidA] = Time(kNow - 24 * kHour);
    cleaner.clean(manager, Time(kNow), 0);
    EXPECT_TRUE(present(kGuidA));
}

TEST_F(KernelCacheTest, RunsAtMostEvery300SecondsAndOnlyAfterASessionEnded) {
    cleaner.clean(manager, Time(kNow), 1000 * kSecond);
    makeKernel(kGuidA);

    // Nothing ended since the last clean-up.
    cleaner.clean(manager, Time(kNow), 2000 * kSecond);
    EXPECT_TRUE(present(kGuidA));

    // 200 seconds after the last clean-up nothing happens, and the flag is spent.
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 1200 * kSecond);
    EXPECT_TRUE(present(kGuidA));
    EXPECT_FALSE(manager.sessionsChanged);
    cleaner.clean(manager, Time(kNow), 1400 * kSecond);
    EXPECT_TRUE(present(kGuidA));

    // The next session end lets it run.
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 1400 * kSecond);
    EXPECT_FALSE(present(kGuidA));

    // 300 seconds is enough; one microsecond less is not.
    makeKernel(kGuidA);
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 1700 * kSecond - 1);
    EXPECT_TRUE(present(kGuidA));
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 1700 * kSecond);
    EXPECT_FALSE(present(kGuidA));
}

TEST_F(KernelCacheTest, AfterARestartEveryGuidFolderGoes) {
    makeKernel(kGuidA);
    makeKernel(kGuidB);
    std::filesystem::create_directories(home / "kernels" / "notes");
    // A new Manager: the flag is set and no kernel has been uploaded in this run.
    ASSERT_TRUE(manager.sessionsChanged);
    cleaner.clean(manager, Time(kNow), 5);
    EXPECT_EQ(tnw::util::listFiles(cacheFolder()), std::vector<std::string>{"notes"});
}

TEST_F(KernelCacheTest, MissingCacheFolderIsNoError) {
    cleaner.clean(manager, Time(kNow), 0);
    EXPECT_FALSE(tnw::util::exists(cacheFolder()));
}

// Sets or clears the immutable flag, which keeps even root from deleting the file.
bool setImmutable(const std::filesystem::path& path, bool on) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

TEST_F(KernelCacheTest, UndeletableFoldersAreRememberedAndNotTriedAgain) {
    makeKernel(kGuidA);
    makeKernel(kGuidB);
    auto stuck = home / "kernels" / kGuidA / "millcore.dll";
    if (!setImmutable(stuck, true)) {
        GTEST_SKIP() << "the file system or the user cannot set the immutable flag";
    }
    cleaner.clean(manager, Time(kNow), 0);
    bool cleared = setImmutable(stuck, false);
    ASSERT_TRUE(cleared);
    EXPECT_TRUE(present(kGuidA));
    EXPECT_FALSE(present(kGuidB));
    EXPECT_EQ(cleaner.undeletable(), std::set<std::string>{folderOf(kGuidA)});

    // Deletable again, but not tried until the process restarts.
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 301 * kSecond);
    EXPECT_TRUE(present(kGuidA));
    KernelCacheCleaner restarted;
    sessionEnded();
    restarted.clean(manager, Time(kNow), 0);
    EXPECT_FALSE(present(kGuidA));
}

TEST_F(KernelCacheTest, UploadMarksCountNestedUploadsOfOneGuid) {
    makeKernel(kGuidA);
    {
        KernelUpload first(manager, kGuidA);
        {
            KernelUpload second(manager, kGuidA);
            EXPECT_EQ(manager.kernelsReceiving.at(kGuidA), 2U);
        }
        cleaner.clean(manager, Time(kNow), 0);
        EXPECT_TRUE(present(kGuidA));
    }
    EXPECT_TRUE(manager.kernelsReceiving.empty());
    sessionEnded();
    cleaner.clean(manager, Time(kNow), 300 * kSecond);
    EXPECT_FALSE(present(kGuidA));
}

} // namespace
} // namespace plexmill::server
