#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/environment.hpp"
#include "util/exception.hpp"
#include "util/pipe.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tnw::util {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kLongWait = 20000000; // 20 s, only ever reached by a fault

// Everything the pipe delivers until its writers are gone; nullopt when they are still there
// at the deadline.
std::optional<std::string> readToEnd(PipeInputStream& stream,
                                     std::chrono::milliseconds deadline = 20s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string text;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd ready{stream.handle().fd(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        char buffer[4096];
        try {
            text.append(buffer, stream.read(buffer, sizeof buffer));
        } catch (const EndOfStreamException&) {
            return text;
        }
    }
}

struct Redirected {
    Redirected() {
        EXPECT_EQ(out.create(false), 0U);
        EXPECT_EQ(err.create(false), 0U);
    }
    // Starts the child with output and error on the pipes and keeps only the reading ends.
    Process start(ProcessOptions options, bool withError = true) {
        options.handles.output = out.writeEnd();
        if (withError) {
            options.handles.error = err.writeEnd();
        }
        Process process = Process::start(options, &error);
        out.writeEnd().reset();
        err.writeEnd().reset();
        return process;
    }
    Pipe out;
    Pipe err;
    std::uint32_t error = 0;
};

ProcessOptions shell(const std::string& script) {
    ProcessOptions options;
    options.application = "/bin/sh";
    options.arguments = {"sh", "-c", script};
    return options;
}

TEST(Process, ChildWritesOutputAndErrorInItsWorkingFolder) {
    test::TempFolder folder;
    Redirected pipes;
    ProcessOptions options = shell("pwd; echo oops >&2; exit 3");
    options.workingFolder = folder.path().string();
    Process child = pipes.start(options);
    ASSERT_TRUE(child.isValid()) << pipes.error;
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    PipeInputStream err(pipes.err);
    EXPECT_EQ(readToEnd(out), folder.path().string() + "\n");
    EXPECT_EQ(readToEnd(err), "oops\n");
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_FALSE(child.isRunning());
    EXPECT_EQ(child.exitCode(), 3U);
}

TEST(Process, OnlyOutputRedirectedPassesTheParentsInputAndError) {
    Redirected pipes;
    Process child = pipes.start(shell("readlink /proc/self/fd/0 /proc/self/fd/2"), false);
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    auto text = readToEnd(out);
    ASSERT_TRUE(text);
    char input[4096] = {};
    char error[4096] = {};
    ASSERT_GT(::readlink("/proc/self/fd/0", input, sizeof input - 1), 0);
    ASSERT_GT(::readlink("/proc/self/fd/2", error, sizeof error - 1), 0);
    EXPECT_EQ(*text, std::string(input) + "\n" + error + "\n");
}

TEST(Process, ChildInheritsOnlyItsStandardHandles) {
    Pipe stray;
    ASSERT_EQ(stray.create(true), 0U); // inheritable on purpose
    Redirected pipes;
    ASSERT_LT(stray.writeEnd().fd(), 64);
    // Tests each number without opening the folder (a listing would show its own descriptor).
    Process child = pipes.start(
        shell("for n in $(seq 0 64); do [ -e /proc/$$/fd/$n ] && echo -n \"$n \"; done; echo"));
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    EXPECT_EQ(readToEnd(out), "0 1 2 \n");
}

TEST(Process, EnvironmentAdditionsReplaceAndAdd) {
    ASSERT_TRUE(setEnvironment("PLEXMILL_KEPT", "kept"));
    ASSERT_TRUE(setEnvironment("TEMP", "/parent"));
    Redirected pipes;
    ProcessOptions options = shell("echo \"$TEMP|$TMPDIR|$PLEXMILL_KEPT\"");
    options.environment = {{"TEMP", "/session/7"}, {"TMPDIR", "/session/7"}};
    Process child = pipes.start(options);
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    EXPECT_EQ(readToEnd(out), "/session/7|/session/7|kept\n");
}

TEST(Process, DetachedChildLeadsItsOwnSessionWithNullStreamsAndOnlyItsEnvironment) {
    ASSERT_TRUE(setEnvironment("PLEXMILL_PARENT_ONLY", "parent"));
    test::TempFolder folder;
    auto report = folder / "report";
    ProcessOptions options = shell("exec >\"$REPORT\"; cut -d' ' -f6 /proc/$$/stat; echo $$; "
                                   "readlink /proc/$$/fd/0 /proc/$$/fd/2; pwd; "
                                   "echo \"[$PLEXMILL_PARENT_ONLY][$ONLY]\"");
    options.environment = {{"REPORT", report.string()}, {"ONLY", "given"}};
    options.inheritEnvironment = false;
    options.detached = true;
    Process child = Process::start(options);
    ASSERT_TRUE(child.isValid());
    ASSERT_TRUE(child.resume());
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_EQ(child.exitCode(), 0U);
    std::string pid = std::to_string(child.id());
    // Session id = its own pid: a session leader, so no controlling terminal of ours.
    EXPECT_EQ(test::readText(report), pid + "\n" + pid + "\n/dev/null\n/dev/null\n/\n[][given]\n");
}

TEST(Process, ChildIsHeldUntilResumed) {
    Redirected pipes;
    Process child = pipes.start(shell("echo started"));
    ASSERT_TRUE(child.isValid());
    EXPECT_TRUE(child.isRunning());
    pollfd output{pipes.out.readEnd().fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&output, 1, 100), 0); // nothing yet
    ASSERT_TRUE(child.resume());
    EXPECT_FALSE(child.resume());
    PipeInputStream out(pipes.out);
    EXPECT_EQ(readToEnd(out), "started\n");
    Handle ended = child.handle();
    EXPECT_EQ(waitForAny(&ended, 1, false, kLongWait), 1U);
    EXPECT_EQ(child.exitCode(), 0U);
}

TEST(Process, StartFailuresGiveAnEmptyProcessAndTheReason) {
    test::TempFolder folder;
    test::writeFile(folder / "plain", "#!/bin/sh\n");
    ::chmod((folder / "plain").c_str(), 0644);
    struct Case {
        std::string name;
        ProcessOptions options;
        std::uint32_t error;
    };
    std::vector<Case> cases;
    cases.push_back({"missing program", {}, 2});
    cases.back().options.application = (folder / "missing").string();
    cases.push_back({"missing folder on the path", {}, 3});
    cases.back().options.application = (folder / "none/missing").string();
    cases.push_back({"not executable", {}, 5});
    cases.back().options.application = (folder / "plain").string();
    cases.push_back({"a folder", {}, 5});
    cases.back().options.application = folder.path().string();
    cases.push_back({"missing working folder", shell("true"), 3});
    cases.back().options.workingFolder = (folder / "none").string();
    cases.push_back({"not on PATH", {}, 2});
    cases.back().options.arguments = {"plexmill-no-such-program"};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        std::uint32_t error = 0;
        Process process = Process::start(entry.options, &error);
        EXPECT_FALSE(process.isValid());
        EXPECT_EQ(error, entry.error);
    }
}

TEST(Process, ProgramThatCannotBeRunFailsAtResume) {
    test::TempFolder folder;
    test::writeFile(folder / "garbage", "\x7f\x01not a program");
    ::chmod((folder / "garbage").c_str(), 0755);
    ProcessOptions options;
    options.application = (folder / "garbage").string();
    Process child = Process::start(options);
    ASSERT_TRUE(child.isValid());
    EXPECT_FALSE(child.resume());
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_EQ(child.exitCode(), 127U);
}

TEST(Process, TerminatingAGroupEndsTheChildrenThatHoldItsPipe) {
    Redirected pipes;
    ProcessOptions options = shell("sleep 1000 & echo ready; wait");
    options.ownProcessGroup = true;
    Process child = pipes.start(options);
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    char buffer[6];
    ASSERT_EQ(out.read(buffer, sizeof buffer), 6U);
    EXPECT_EQ(std::string(buffer, 6), "ready\n");
    EXPECT_EQ(::getpgid(static_cast<pid_t>(child.id())), static_cast<pid_t>(child.id()));
    EXPECT_TRUE(child.terminate());
    // The sleep held the output pipe too; it went with the group, so the pipe ends.
    EXPECT_EQ(readToEnd(out), "");
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_EQ(child.exitCode(), kTerminatedExitCode);
}

TEST(Process, WithoutAGroupAGrandchildKeepsThePipeOpen) {
    Redirected pipes;
    Process child = pipes.start(shell("sleep 1000 & echo $!; wait"));
    ASSERT_TRUE(child.resume());
    PipeInputStream out(pipes.out);
    char buffer[32] = {};
    ASSERT_GT(out.read(buffer, sizeof buffer - 1), 0U);
    pid_t grandchild = static_cast<pid_t>(std::stol(buffer));
    EXPECT_TRUE(child.terminate());
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_EQ(readToEnd(out, 300ms), std::nullopt);
    ::kill(grandchild, SIGKILL);
    EXPECT_EQ(readToEnd(out), "");
}

TEST(Process, PriorityClassesMapToNiceValues) {
    ProcessOptions options;
    options.arguments = {"sleep", "1000"};
    Process child = Process::start(options);
    ASSERT_TRUE(child.isValid());
    EXPECT_EQ(child.priority(), priority_class::kNormal);
    ASSERT_TRUE(child.setPriority(priority_class::kBelowNormal));
    EXPECT_EQ(child.priority(), priority_class::kBelowNormal);
    ASSERT_TRUE(child.resume());
    ASSERT_TRUE(child.setPriority(priority_class::kIdle));
    EXPECT_EQ(child.priority(), priority_class::kIdle);
    EXPECT_FALSE(child.setPriority(6));
    EXPECT_FALSE(child.wait(10000));
    EXPECT_TRUE(child.terminate());
    ASSERT_TRUE(child.wait(kLongWait));
    EXPECT_FALSE(child.isRunning());
}

TEST(Process, ReportsTimesAndMemoryDuringAndAfterTheRun) {
    // Busy for a moment, then reads its input until the test closes it.
    Pipe input;
    ASSERT_EQ(input.create(false), 0U);
    ProcessOptions options =
        shell("i=0; while [ $i -lt 200000 ]; do i=$((i+1)); done; cat >/dev/null");
    options.handles.input = input.readEnd();
    Time before = Time::now();
    Process child = Process::start(options);
    input.readEnd().reset();
    ASSERT_TRUE(child.isValid());
    EXPECT_GE(child.creationTime().value(), before.value());
    EXPECT_LE(child.creationTime().value(), Time::now().value());
    ASSERT_TRUE(child.resume());
    EXPECT_GT(child.workingSet(), 0U);
    EXPECT_GT(child.peakWorkingSet(), 0U);
    input.writeEnd().close();
    ASSERT_TRUE(child.wait(kLongWait));
    CpuTimes times = child.cpuTimes();
    EXPECT_GT(times.user + times.kernel, 10000U);
    EXPECT_GT(child.peakWorkingSet(), 0U);
    EXPECT_EQ(child.workingSet(), 0U); // gone
}

TEST(Process, CurrentProcessKnowsItselfButCannotBeEnded) {
    Process self = Process::current();
    EXPECT_EQ(self.id(), static_cast<std::uint64_t>(::getpid()));
    EXPECT_TRUE(self.isRunning());
    EXPECT_FALSE(self.terminate());
    EXPECT_FALSE(self.resume());
    EXPECT_FALSE(self.exitCode().has_value());
    EXPECT_GT(self.workingSet(), 0U);
    EXPECT_GE(self.peakWorkingSet(), self.workingSet());
    EXPECT_LE(self.creationTime().value(), Time::now().value());
    EXPECT_GT(self.creationTime().value(), Time::now().value() - 3600ULL * 1000000U);
    CpuTimes times = self.cpuTimes();
    EXPECT_GT(times.user + times.kernel, 0U);
}

} // namespace
} // namespace tnw::util
