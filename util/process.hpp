// Child processes with redirected standard handles, and facts about running processes.
#pragma once

#include "util/handle.hpp"
#include "util/time.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tnw::util {

// Priority classes as levels; each maps to a nice value.
namespace priority_class {
inline constexpr int kIdle = 0;        // nice 19 (also what an unreadable priority reads as)
inline constexpr int kBelowNormal = 1; // nice 10
inline constexpr int kNormal = 2;      // nice 0
inline constexpr int kAboveNormal = 3; // nice -5
inline constexpr int kHigh = 4;        // nice -10
inline constexpr int kRealTime = 5;    // nice -20
} // namespace priority_class

// Exit code of a process ended by terminate().
inline constexpr std::uint32_t kTerminatedExitCode = 0xFFFFFFFFU;

// Standard input, output and error of a child; an empty Handle means the parent's own.
struct StandardHandles {
    Handle input;
    Handle output;
    Handle error;
};

struct ProcessOptions {
    // The program file. Empty: arguments[0] names it and is looked up on PATH.
    std::string application;
    // The command line as words; the first is the name the program sees as its own.
    std::vector<std::string> arguments;
    StandardHandles handles;
    // Empty: the parent's current folder.
    std::string workingFolder;
    // Added to the parent's environment; a name already there takes the new value.
    std::vector<std::pair<std::string, std::string>> environment;
    // Puts the child at the head of a process group of its own, so that terminate() also ends
    // whatever it started (which could otherwise keep its pipes open).
    bool ownProcessGroup = false;
    // False: the child's environment is `environment` alone, nothing of the parent's.
    bool inheritEnvironment = true;
    // Detaches the child from the parent's terminal and session, as a service runs: a session
    // of its own (so no controlling terminal), standard handles not given read and write
    // /dev/null, and the working folder is "/" unless one is given. It outlives the parent.
    bool detached = false;
};

struct CpuTimes {
    std::uint64_t kernel = 0; // microseconds
    std::uint64_t user = 0;   // microseconds
};

// A shared reference to a process. A child inherits no descriptor other than its three
// standard handles, and starts with default signal handling.
class Process {
public:
    Process() = default;

    // Starts the child held before it runs its program, so its priority can be set first;
    // resume() lets it run. An empty Process on failure, with the Windows error number in
    // `error` (2 for a missing program, 5 for one that is not executable, 3 for a missing
    // working folder).
    static Process start(const ProcessOptions& options, std::uint32_t* error = nullptr);
    // This process. It cannot be resumed, waited for or terminated through this object.
    static Process current();

    bool isValid() const { return state_ != nullptr; }
    std::uint64_t id() const;
    // Lets a started child run its program. False when there is nothing to resume or the
    // program could not be run (the child then ends with exit code 127).
    bool resume();
    bool isRunning() const;
    // True once the child has ended; microseconds, kInfinite waits for ever.
    bool wait(std::uint32_t timeout) const;
    // SIGKILL to the child, or to its whole process group when it has one; the exit code then
    // reads kTerminatedExitCode. False when nothing was left to end.
    bool terminate();
    // The level of the priority class (see priority_class); kIdle when it cannot be read.
    int priority() const;
    // Applies to every thread of the process; raising the priority needs privileges.
    bool setPriority(int level);
    // When the process was created; Time() when unknown.
    Time creationTime() const;
    // Resident memory now, and the most it has held; bytes, 0 when unknown.
    std::uint64_t workingSet() const;
    std::uint64_t peakWorkingSet() const;
    CpuTimes cpuTimes() const;
    // The exit code once the child has ended: its status, 128 + the signal that ended it, or
    // kTerminatedExitCode after terminate().
    std::optional<std::uint32_t> exitCode() const;
    // Readable (signalled) once the child has ended, for waitForAny.
    Handle handle() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tnw::util
