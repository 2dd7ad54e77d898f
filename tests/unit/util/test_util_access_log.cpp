#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/access_log.hpp"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace tnw::util {
namespace {

// 2017-03-06 13:04:05 UTC is 1488805445 s after the Unix epoch (python3 datetime).
const Time kAfternoon = Time::fromUnixMicroseconds(1488805445LL * 1000000 + 6999);

TEST(AccessLog, LineLayoutIsUtcTimeOfDayWithMilliseconds) {
    EXPECT_EQ(AccessLog::line(kAfternoon, "x"), "13:04:05.006 x\r\n");
    EXPECT_EQ(AccessLog::line(Time(0), ""), "00:00:00.000 \r\n");
    EXPECT_EQ(AccessLog::line(Time::fromUnixMicroseconds(86399999999), "late"),
              "23:59:59.999 late\r\n");
    EXPECT_EQ(AccessLog::line(kAfternoon, "caf\xc3\xa9"), "13:04:05.006 caf\xc3\xa9\r\n");
}

TEST(AccessLog, LineBreaksInsideTheTextCannotForgeLines) {
    EXPECT_EQ(AccessLog::line(kAfternoon, "host\r\n00:00:00.000 forged"),
              "13:04:05.006 host  00:00:00.000 forged\r\n");
}

TEST(AccessLog, AppendsToExistingContentUntilClosed) {
    tnw::test::TempFolder folder("plexmill-access");
    tnw::test::TempFolder other("plexmill-access");
    tnw::test::writeFile(folder / "access.log", "old line\r\n");
    ASSERT_TRUE(AccessLog::open(folder.path().string()));
    EXPECT_TRUE(AccessLog::isOpen());
    // Opening again while open keeps the first file.
    EXPECT_TRUE(AccessLog::open(other.path().string()));
    AccessLog::write("Accepted connection from 10.77.0.2.");
    AccessLog::write("second");
    AccessLog::close();
    EXPECT_FALSE(AccessLog::isOpen());
    AccessLog::write("after close");

    std::string text = tnw::test::readText(folder / "access.log");
    EXPECT_TRUE(std::regex_match(text,
                                 std::regex("old line\r\n"
                                            R"(\d\d:\d\d:\d\d\.\d{3} )"
                                            "Accepted connection from 10\\.77\\.0\\.2\\.\r\n"
                                            R"(\d\d:\d\d:\d\d\.\d{3} )"
                                            "second\r\n")))
        << text;
    EXPECT_FALSE(std::filesystem::exists(other / "access.log"));
}

TEST(AccessLog, MissingFolderLeavesTheLogClosed) {
    tnw::test::TempFolder folder("plexmill-access");
    EXPECT_FALSE(AccessLog::open((folder / "missing").string()));
    EXPECT_FALSE(AccessLog::isOpen());
    AccessLog::write("nowhere"); // a no-op, not a failure
}

TEST(AccessLog, NeverWritesThroughALinkOrWaitsOnAFifo) {
    tnw::test::TempFolder folder("plexmill-access");
    tnw::test::TempFolder elsewhere("plexmill-access");
    tnw::test::writeFile(elsewhere / "target", "theirs\n");
    std::filesystem::create_symlink(elsewhere / "target", folder / "access.log");
    EXPECT_FALSE(AccessLog::open(folder.path().string()));
    EXPECT_FALSE(AccessLog::isOpen());
    AccessLog::write("Incoming connection from 10.77.0.2:5000 accepted.");
    EXPECT_EQ(tnw::test::readText(elsewhere / "target"), "theirs\n");

    std::filesystem::remove(folder / "access.log");
    ASSERT_EQ(::mkfifo((folder / "access.log").c_str(), 0600), 0);
    EXPECT_FALSE(AccessLog::open(folder.path().string()));
}

} // namespace
} // namespace tnw::util
