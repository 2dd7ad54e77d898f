#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/console.hpp"
#include "util/event_log.hpp"
#include "util/time.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tnw::util {
namespace {

// Points standard output or error at a file for the life of the object.
class Capture {
public:
    Capture(int fd, const std::filesystem::path& path) : fd_(fd), path_(path) {
        std::fflush(nullptr);
        saved_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, fd);
        ::close(file);
    }
    ~Capture() { restore(); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::string text() {
        restore();
        return tnw::test::readText(path_);
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(nullptr);
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
        }
    }
    int fd_;
    std::filesystem::path path_;
    int saved_ = -1;
};

class ConsoleTest : public testing::Test {
protected:
    void SetUp() override { saved_ = outputOptions(); }
    void TearDown() override {
        eraseStatusLineQuietly();
        setOutputOptions(saved_);
    }
    void setOptions(bool color, bool serviceMode = false) {
        OutputOptions options;
        options.color = color;
        options.serviceMode = serviceMode;
        setOutputOptions(options);
    }
    // A status line left by a failed test must not leak into the next one's captured text.
    void eraseStatusLineQuietly() {
        Capture out(1, folder_ / "discard");
        eraseStatusLine();
    }

    tnw::test::TempFolder folder_{"plexmill-console"};
    OutputOptions saved_;
};

const std::string kPrefix = R"(\[\d{1,2}:\d\d:\d\d/\*\] )";

TEST_F(ConsoleTest, ShorterStatusLineLeavesNoStaleCharactersAndNextLineStartsCleared) {
    setOptions(false);
    Capture out(1, folder_ / "out");
    printStatus("Waiting... (10s)");
    printStatus("Waiting... (9s)");
    printInfo("x");
    std::string text = out.text();
    std::string expected = "Waiting... (10s)\r"
                           "Waiting... (9s) \r"
                           "               \r";
    ASSERT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_TRUE(std::regex_match(text.substr(expected.size()), std::regex(kPrefix + "x\n")))
        << text;
}

TEST_F(ConsoleTest, StatusLengthCountsCharactersNotBytes) {
    setOptions(false);
    Capture out(1, folder_ / "out");
    printStatus("\xc3\xa9\xc3\xa9\xc3\xa9"); // three characters, six bytes
    printStatus("a");
    eraseStatusLine();
    eraseStatusLine(); // nothing shown any more: writes nothing
    EXPECT_EQ(out.text(), "\xc3\xa9\xc3\xa9\xc3\xa9\ra  \r \r");
}

TEST_F(ConsoleTest, ErrorGoesToStandardErrorAfterTheStatusLineIsErased) {
    setOptions(false);
    Capture out(1, folder_ / "out");
    Capture err(2, folder_ / "err");
    printStatus("abc");
    printError("Failed to bind to port 7387.");
    std::string errors = err.text();
    EXPECT_EQ(out.text(), "abc\r   \r");
    EXPECT_TRUE(
        std::regex_match(errors, std::regex(kPrefix + "Error: Failed to bind to port 7387\\.\n")))
        << errors;
}

TEST_F(ConsoleTest, SessionLinesCarryTheSessionNumber) {
    setOptions(false);
    Capture out(1, folder_ / "out");
    Capture err(2, folder_ / "err");
    printSessionInfo(12, "Session completed in 01:03.004.");
    printSessionError(0, "broken");
    std::string output = out.text();
    std::string errors = err.text();
    EXPECT_TRUE(
        std::regex_match(output,
                         std::regex(R"(\[\d{1,2}:\d\d:\d\d/12\] Session completed in 01:03\.004\.)"
                                    "\n")))
        << output;
    EXPECT_TRUE(std::regex_match(errors,
                                 std::regex(R"(\[\d{1,2}:\d\d:\d\d/0\] Error: broken)"
                                            "\n")))
        << errors;
}

TEST_F(ConsoleTest, WithoutColourNoEscapeSequencesAreWritten) {
    setOptions(false);
    Capture out(1, folder_ / "out");
    Capture err(2, folder_ / "err");
    printInfo("i");
    printError("e");
    printSessionInfo(1, "s");
    printLine(ConsoleStream::Output, ConsoleColour::Settings, "Listening on port: 7387");
    resetColour();
    std::string all = out.text() + err.text();
    EXPECT_EQ(all.find('\x1b'), std::string::npos) << all;
}

TEST_F(ConsoleTest, ColourWrapsEachLineAndIsResetAfterIt) {
    setOptions(true);
    Capture out(1, folder_ / "out");
    Capture err(2, folder_ / "err");
    printInfo("i");
    printError("e");
    printLine(ConsoleStream::Output, ConsoleColour::Settings, "Cache folder: /tmp");
    printLine(ConsoleStream::Output, ConsoleColour::Debug, "Got command 'RUN'.");
    printLine(ConsoleStream::Error, ConsoleColour::Error, "Error: Failed to install service.");
    resetColour();
    std::string output = out.text();
    std::string errors = err.text();
    EXPECT_TRUE(std::regex_match(output,
                                 std::regex("\x1b\\[94m" + kPrefix +
                                            "i\n\x1b\\[0m"
                                            "\x1b\\[92mCache folder: /tmp\n\x1b\\[0m"
                                            "\x1b\\[93mGot command 'RUN'\\.\n\x1b\\[0m"
                                            "\x1b\\[0m")))
        << output;
    EXPECT_TRUE(std::regex_match(errors,
                                 std::regex("\x1b\\[91m" + kPrefix +
                                            "Error: e\n\x1b\\[0m"
                                            "\x1b\\[91mError: Failed to install service\\.\n"
                                            "\x1b\\[0m")))
        << errors;
}

TEST_F(ConsoleTest, PrefixHourIsLocalAndNotPadded) {
    setOptions(false);
    // Pick a zone in which it is now 5 o'clock (or 6, should the hour turn meanwhile).
    std::int64_t utcHour = Time::now().fields().hour;
    std::int64_t east = (5 - utcHour + 24) % 24;
    if (east > 12) {
        east -= 24;
    }
    std::string zone = "ZZZ" + std::to_string(-east); // POSIX: the offset is west of UTC
    std::optional<std::string> previous;
    if (const char* old = std::getenv("TZ")) {
        previous = old;
    }
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
    std::string prefix = messagePrefix();
    std::string session = sessionPrefix(7);
    if (previous) {
        ::setenv("TZ", previous->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    EXPECT_TRUE(std::regex_match(prefix, std::regex(R"(\[[56]:\d\d:\d\d/\*\] )"))) << prefix;
    EXPECT_TRUE(std::regex_match(session, std::regex(R"(\[[56]:\d\d:\d\d/7\] )"))) << session;
}

TEST_F(ConsoleTest, ServiceModeWritesEventsAndNothingToTheConsole) {
    std::filesystem::path events = folder_ / "events.log";
    ::setenv(kEventLogVariable, events.c_str(), 1);
    setOptions(true, true);
    Capture out(1, folder_ / "out");
    Capture err(2, folder_ / "err");
    printInfo("Quorvex Plexmill now ready.");
    printError("Failed to bind to port 7387.");
    printSessionInfo(5, "started");
    printSessionError(0, "no session");
    printStatus("Waiting... (10s)");
    printLine(ConsoleStream::Output, ConsoleColour::Settings, "settings");
    resetColour();
    std::string output = out.text();
    std::string errors = err.text();
    ::unsetenv(kEventLogVariable);
    EXPECT_EQ(output, "");
    EXPECT_EQ(errors, "");
    std::string log = tnw::test::readText(events);
    EXPECT_TRUE(std::regex_match(log,
                                 std::regex("information: Quorvex Plexmill now ready\\.\n"
                                            "error: Failed to bind to port 7387\\.\n"
                                            R"(information: \[\d{1,2}:\d\d:\d\d/5\] started)"
                                            "\n"
                                            R"(error: \[\d{1,2}:\d\d:\d\d\] no session)"
                                            "\n")))
        << log;
}

TEST_F(ConsoleTest, ConcurrentWritersKeepEveryLineWhole) {
    setOptions(true);
    Capture out(1, folder_ / "out");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (i % 10 == 0) {
                    printStatus("status " + std::to_string(t));
                }
                printSessionInfo(static_cast<std::uint32_t>(t + 1), "line " + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    eraseStatusLine();
    std::string text = out.text();
    // Every line is colour, prefix, text, newline, reset, possibly after an erased status line.
    std::regex line(R"((?:status \d *\r| *\r)*\x1b\[94m\[\d{1,2}:\d\d:\d\d/[1-4]\] line \d+)");
    std::size_t lines = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\n\x1b[0m", start)) != std::string::npos;) {
        std::string piece = text.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(piece, line)) << piece;
        start = end + 5;
        ++lines;
    }
    EXPECT_EQ(lines, 800U);
}

} // namespace
} // namespace tnw::util
