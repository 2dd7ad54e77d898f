#include "util/process.hpp"

#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/proc_files.hpp"
#include "util/program_search.hpp"
#include "util/sync.hpp"
#include "util/windows_error.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tnw::util {

namespace {

constexpr int kChildFailureStatus = 127;
constexpr int kLevelNice[] = {19, 10, 0, -5, -10, -20};

int levelOfNice(int nice) {
    if (nice >= 15) {
        return priority_class::kIdle;
    }
    if (nice >= 5) {
        return priority_class::kBelowNormal;
    }
    if (nice >= -2) {
        return priority_class::kNormal;
    }
    if (nice >= -7) {
        return priority_class::kAboveNormal;
    }
    if (nice >= -15) {
        return priority_class::kHigh;
    }
    return priority_class::kRealTime;
}

std::uint64_t ticksToMicroseconds(std::uint64_t ticks) {
    static const long perSecond = ::sysconf(_SC_CLK_TCK);
    return perSecond > 0 ? ticks * 1000000U / static_cast<std::uint64_t>(perSecond) : 0;
}

std::uint64_t microsecondsOf(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000U +
           static_cast<std::uint64_t>(time.tv_usec);
}

// The program file for the options: the application, or arguments[0] looked up on PATH.
std::string programFile(const ProcessOptions& options) {
    if (!options.application.empty()) {
        return options.application;
    }
    if (options.arguments.empty()) {
        return {};
    }
    const std::string& name = options.arguments.front();
    if (name.find('/') != std::string::npos) {
        return name;
    }
    std::string found = findProgramOnPath(name);
    return found.empty() ? name : found;
}

// Why the program cannot be run, found before a child exists; 0 when it looks runnable.
std::uint32_t programProblem(const std::string& file) {
    struct stat status {};
    if (file.empty()) {
        return error::kFileNotFound;
    }
    if (::stat(file.c_str(), &status) != 0) {
        return fileError(file, errno);
    }
    if (!S_ISREG(status.st_mode) || ::access(file.c_str(), X_OK) != 0) {
        return error::kAccessDenied;
    }
    return 0;
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
    std::vector<std::string> block;
    if (options.inheritEnvironment) {
        block = environmentBlock();
    }
    for (const auto& [name, value] : options.environment) {
        std::string prefix = name + "=";
        std::erase_if(block, [&](const std::string& entry) { return entry.starts_with(prefix); });
        block.push_back(prefix + value);
    }
    return block;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (auto& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Everything the child needs, prepared before fork: after it only async-signal-safe calls.
struct ChildPlan {
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* workingFolder; // null: stay
    int standard[3];           // -1: keep the parent's (or /dev/null when detached)
    bool ownProcessGroup;
    bool detached;
    int statusFd; // write end: 0 for "ready", or the errno of a failed step
    int gateFd;   // read end: one byte lets the program run, end of file abandons it
};

void report(int fd, int value) {
    ssize_t written = 0;
    do {
        written = ::write(fd, &value, sizeof value);
    } while (written < 0 && errno == EINTR);
}

[[noreturn]] void failChild(const ChildPlan& plan) {
    report(plan.statusFd, errno != 0 ? errno : EINVAL);
    ::_exit(kChildFailureStatus);
}

void closeAllExcept(int first, int second) {
    int low = first < second ? first : second;
    int high = first < second ? second : first;
    if (low > 3) {
        ::close_range(3, static_cast<unsigned>(low - 1), 0);
    }
    if (high > low + 1) {
        ::close_range(static_cast<unsigned>(low + 1), static_cast<unsigned>(high - 1), 0);
    }
    ::close_range(static_cast<unsigned>(high + 1), ~0U, 0);
}

[[noreturn]] void runChild(const ChildPlan& plan) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) {
        ::sigaction(number, &byDefault, nullptr); // fails harmlessly for KILL, STOP and reserved
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (plan.detached) {
        if (::setsid() < 0) {
            failChild(plan);
        }
    } else if (plan.ownProcessGroup && ::setpgid(0, 0) != 0) {
        failChild(plan);
    }
    int standard[3] = {plan.standard[0], plan.standard[1], plan.standard[2]};
    if (plan.detached) {
        int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null < 0) {
            failChild(plan);
        }
        for (int& source : standard) {
            source = source >= 0 ? source : null;
        }
    }
    // Lift every source above 2 first, so that placing one cannot overwrite another.
    int lifted[3] = {-1, -1, -1};
    for (int slot = 0; slot < 3; ++slot) {
        if (standard[slot] >= 0 &&
            (lifted[slot] = ::fcntl(standard[slot], F_DUPFD_CLOEXEC, 3)) < 0) {
            failChild(plan);
        }
    }
    for (int slot = 0; slot < 3; ++slot) {
        if (lifted[slot] >= 0 && ::dup2(lifted[slot], slot) < 0) {
            failChild(plan);
        }
    }
    if (plan.workingFolder != nullptr && ::chdir(plan.workingFolder) != 0) {
        failChild(plan);
    }
    // Whatever the parent left inheritable stays behind: only 0, 1 and 2 go through exec.
    closeAllExcept(plan.statusFd, plan.gateFd);
    report(plan.statusFd, 0);
    char go = 0;
    ssize_t got = 0;
    do {
        got = ::read(plan.gateFd, &go, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        ::_exit(kChildFailureStatus);
    }
    ::execve(plan.program, plan.argv, plan.envp);
    failChild(plan);
}

// Reads one status report; nullopt at end of file.
std::optional<int> readReport(int fd) {
    int value = 0;
    std::size_t have = 0;
    while (have < sizeof value) {
        ssize_t got = ::read(fd, reinterpret_cast<char*>(&value) + have, sizeof value - have);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        have += static_cast<std::size_t>(got);
    }
    return value;
}

// Children whose Process went before they were reaped; collected on later starts so that
// they do not stay zombies.
std::mutex& orphanLock() {
    static std::mutex lock;
    return lock;
}

std::vector<pid_t>& orphans() {
    static std::vector<pid_t> list;
    return list;
}

void reapOrphans() {
    std::lock_guard lock(orphanLock());
    std::erase_if(orphans(), [](pid_t pid) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        return done == pid || (done < 0 && errno == ECHILD);
    });
}

} // namespace

struct Process::State {
    ~State() {
        if (isCaller || reaped) {
            return;
        }
        gate.close(); // a child still held ends instead of running
        if (!tryReap()) {
            std::lock_guard lock(orphanLock());
            orphans().push_back(pid);
        }
    }

    // Collects the child's end if it has come; true once it has been collected.
    bool tryReap() {
        std::lock_guard lock(mutex);
        if (reaped) {
            return true;
        }
        int status = 0;
        rusage usage{};
        pid_t done = 0;
        do {
            done = ::wait4(pid, &status, WNOHANG, &usage);
        } while (done < 0 && errno == EINTR);
        if (done == 0) {
            return false;
        }
        reaped = true;
        if (done == pid) {
            waitStatus = status;
            finalUsage = usage;
            statusKnown = true;
        }
        return true;
    }

    std::mutex mutex;
    pid_t pid = 0;
    bool isCaller = false;
    bool ownProcessGroup = false;
    Handle pidfd;
    Handle gate;   // write end of the start gate
    Handle status; // read end of the child's reports
    Time created;
    bool terminated = false;
    bool reaped = false;
    bool statusKnown = false;
    int waitStatus = 0;
    rusage finalUsage{};
};

Process Process::start(const ProcessOptions& options, std::uint32_t* error) {
    auto fail = [&](std::uint32_t code) {
        if (error != nullptr) {
            *error = code;
        }
        return Process();
    };
    reapOrphans();
    std::string program = programFile(options);
    if (std::uint32_t problem = programProblem(program)) {
        return fail(problem);
    }
    if (!options.workingFolder.empty() && !isFolder(options.workingFolder)) {
        return fail(error::kPathNotFound);
    }
    std::vector<std::string> arguments = options.arguments;
    if (arguments.empty()) {
        arguments.push_back(program);
    }
    std::vector<std::string> environment = childEnvironment(options);
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);

    int statusEnds[2];
    int gateEnds[2];
    if (::pipe2(statusEnds, O_CLOEXEC) != 0) {
        return fail(lastError());
    }
    Handle statusRead(statusEnds[0]);
    Handle statusWrite(statusEnds[1]);
    if (::pipe2(gateEnds, O_CLOEXEC) != 0) {
        return fail(lastError());
    }
    Handle gateRead(gateEnds[0]);
    Handle gateWrite(gateEnds[1]);

    ChildPlan plan{
        program.c_str(),
        argv.data(),
        envp.data(),
        !options.workingFolder.empty() ? options.workingFolder.c_str()
        : options.detached             ? "/"
                                       : nullptr,
        {options.handles.input.fd(), options.handles.output.fd(), options.handles.error.fd()},
        options.ownProcessGroup,
        options.detached,
        statusWrite.fd(),
        gateRead.fd()};
    pid_t pid = ::fork();
    if (pid < 0) {
        return fail(lastError());
    }
    if (pid == 0) {
        runChild(plan);
    }
    auto state = std::make_shared<State>();
    state->pid = pid;
    state->created = Time::now();
    // A detached child leads a session, and so a process group, of its own.
    state->ownProcessGroup = options.ownProcessGroup || options.detached;
    statusWrite.close();
    gateRead.close();
    state->gate = std::move(gateWrite);
    state->status = std::move(statusRead);
    auto ready = readReport(state->status.fd());
    if (!ready || *ready != 0) {
        // The state's destructor collects the failed child.
        return fail(ready ? windowsError(*ready) : error::kInvalidParameter);
    }
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        std::uint32_t code = lastError();
        ::kill(pid, SIGKILL);
        return fail(code);
    }
    state->pidfd = Handle(pidfd);
    if (options.ownProcessGroup && !options.detached) {
        // The child did this too; doing it here as well closes the window in which a
        // terminate() could find no group yet.
        ::setpgid(pid, pid);
    }
    Process process;
    process.state_ = std::move(state);
    return process;
}

Process Process::current() {
    Process process;
    process.state_ = std::make_shared<State>();
    process.state_->isCaller = true;
    process.state_->pid = ::getpid();
    auto fields = procStatFields(readProcFile("/proc/self/stat").value_or(""));
    auto startTicks = procStatField(fields, 22);
    timespec sinceBoot{};
    if (startTicks && ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) == 0) {
        std::uint64_t bootMicroseconds = static_cast<std::uint64_t>(sinceBoot.tv_sec) * 1000000U +
                                         static_cast<std::uint64_t>(sinceBoot.tv_nsec) / 1000U;
        std::uint64_t age = bootMicroseconds - ticksToMicroseconds(*startTicks);
        process.state_->created = Time(Time::now().value() - age);
    }
    return process;
}

std::uint64_t Process::id() const {
    return state_ ? static_cast<std::uint64_t>(state_->pid) : 0;
}

bool Process::resume() {
    if (!state_ || state_->isCaller || !state_->gate.isValid()) {
        return false;
    }
    char go = 1;
    ssize_t written = ::write(state_->gate.fd(), &go, 1);
    state_->gate.close();
    if (written != 1) {
        return false;
    }
    // The report pipe closes at a successful exec; an errno arrives when exec failed.
    auto failure = readReport(state_->status.fd());
    state_->status.close();
    return !failure.has_value();
}

bool Process::isRunning() const {
    if (!state_) {
        return false;
    }
    return state_->isCaller || !state_->tryReap();
}

bool Process::wait(std::uint32_t timeout) const {
    if (!state_ || state_->isCaller) {
        return false;
    }
    if (state_->tryReap()) {
        return true;
    }
    pollfd ended{state_->pidfd.fd(), POLLIN, 0};
    std::int64_t milliseconds = roundUpToMilliseconds(timeout);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int wait = -1;
        if (milliseconds >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        int ready = ::poll(&ended, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && state_->tryReap();
    }
}

bool Process::terminate() {
    if (!state_ || state_->isCaller) {
        return false;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->terminated = true;
    }
    bool signalled = false;
    if (state_->ownProcessGroup) {
        signalled = ::kill(-state_->pid, SIGKILL) == 0;
    }
    if (::syscall(SYS_pidfd_send_signal, state_->pidfd.fd(), SIGKILL, nullptr, 0) == 0) {
        signalled = true;
    }
    state_->gate.close();
    return signalled;
}

int Process::priority() const {
    if (!state_) {
        return priority_class::kIdle;
    }
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(state_->pid));
    if (nice == -1 && errno != 0) {
        return priority_class::kIdle;
    }
    return levelOfNice(nice);
}

bool Process::setPriority(int level) {
    if (!state_ || level < priority_class::kIdle || level > priority_class::kRealTime) {
        return false;
    }
    int nice = kLevelNice[level];
    // Nice values belong to threads on Linux: every thread of the process gets it.
    std::vector<std::string> threads = listFiles("/proc/" + std::to_string(state_->pid) + "/task");
    if (threads.empty()) {
        return ::setpriority(PRIO_PROCESS, static_cast<id_t>(state_->pid), nice) == 0;
    }
    bool all = true;
    for (const auto& thread : threads) {
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(std::stoul(thread)), nice) != 0 &&
            errno != ESRCH) {
            all = false;
        }
    }
    return all;
}

Time Process::creationTime() const {
    return state_ ? state_->created : Time();
}

std::uint64_t Process::workingSet() const {
    if (!state_) {
        return 0;
    }
    // statm holds the same resident page count as VmRSS in status, without the many other
    // figures status makes the kernel gather; this process's own is kept open. The status
    // port asks on every request.
    static const ProcFile ownStatm("/proc/self/statm");
    auto text = state_->pid == ::getpid()
                    ? ownStatm.read()
                    : readProcFile("/proc/" + std::to_string(state_->pid) + "/statm");
    auto residentPages = procStatmField(text.value_or(""), 2);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    return residentPages && pageSize > 0 ? *residentPages * static_cast<std::uint64_t>(pageSize)
                                         : 0;
}

std::uint64_t Process::peakWorkingSet() const {
    if (!state_) {
        return 0;
    }
    {
        std::lock_guard lock(state_->mutex);
        if (state_->reaped) {
            return state_->statusKnown
                       ? static_cast<std::uint64_t>(state_->finalUsage.ru_maxrss) * 1024U
                       : 0;
        }
    }
    auto text = readProcFile("/proc/" + std::to_string(state_->pid) + "/status");
    return text ? procValue(*text, "VmHWM").value_or(0) : 0;
}

CpuTimes Process::cpuTimes() const {
    if (!state_) {
        return {};
    }
    {
        std::lock_guard lock(state_->mutex);
        if (state_->reaped) {
            if (!state_->statusKnown) {
                return {};
            }
            return {microsecondsOf(state_->finalUsage.ru_stime),
                    microsecondsOf(state_->finalUsage.ru_utime)};
        }
    }
    if (state_->isCaller) {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return {microsecondsOf(usage.ru_stime), microsecondsOf(usage.ru_utime)};
    }
    auto fields =
        procStatFields(readProcFile("/proc/" + std::to_string(state_->pid) + "/stat").value_or(""));
    return {ticksToMicroseconds(procStatField(fields, 15).value_or(0)),
            ticksToMicroseconds(procStatField(fields, 14).value_or(0))};
}

std::optional<std::uint32_t> Process::exitCode() const {
    if (!state_ || state_->isCaller || !state_->tryReap()) {
        return std::nullopt;
    }
    std::lock_guard lock(state_->mutex);
    if (!state_->statusKnown) {
        return std::nullopt;
    }
    int status = state_->waitStatus;
    if (WIFEXITED(status)) {
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    }
    int signal = WTERMSIG(status);
    if (signal == SIGKILL && state_->terminated) {
        return kTerminatedExitCode;
    }
    return static_cast<std::uint32_t>(128 + signal);
}

Handle Process::handle() const {
    return state_ ? state_->pidfd : Handle();
}

} // namespace tnw::util
