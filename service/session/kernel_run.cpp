#include "service/session/kernel_run.hpp"

#include "service/server/peer_display_name.hpp"
#include "service/server/settings.hpp"
#include "service/session/kernel_contract.hpp"
#include "service/session/kernel_folder.hpp"
#include "util/clock.hpp"
#include "util/console.hpp"
#include "util/durations.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/inet_address.hpp"
#include "util/pipe.hpp"
#include "util/process.hpp"
#include "util/sizes.hpp"
#include "util/sync.hpp"
#include "util/system_info.hpp"
#include "util/thread.hpp"

#include <algorithm>
#include <atomic>
#include <memory>

namespace plexmill::session {

namespace {

using tnw::util::globalLock;
using tnw::util::Lock;

// The most the relay hands the client in one piece.
constexpr std::size_t kRelayPiece = 65536;
// The kernel's output pipe: room for a burst of output while the relay waits on a client that
// is catching up, so the kernel keeps computing instead of blocking on every 64 KiB.
constexpr std::size_t kOutputPipeCapacity = 1024 * 1024;
// A silent kernel must not keep abort, the time-out and the statistics waiting: the relay
// looks at them at least this often.
constexpr std::uint32_t kRelayWait = 250'000;          // microseconds
constexpr std::uint64_t kStatisticsInterval = 500'000; // microseconds
constexpr std::uint64_t kStatusLineInterval = 2'500'000;
constexpr std::uint64_t kCpuSampleInterval = 2'000'000;
// Seeing to the kernel's priority means a look at each of its threads: done as the relay
// starts and then at most this often, which is what a silent kernel gets anyway.
constexpr std::uint64_t kPriorityInterval = kRelayWait;
// How long a run may take to end once it is aborted or past its time-out before its client
// counts as stalled: the last output still has to reach a client that reads slowly.
constexpr std::uint32_t kStalledClientGrace = 10'000'000; // microseconds

// The console status line is shared by all sessions: one line at most every 2.5 seconds.
std::atomic<std::uint64_t> statusLineTime{0};
std::atomic<std::uint32_t> statusLineSession{0};

bool consoleMode() {
    return !tnw::util::outputOptions().serviceMode;
}

void sessionInfo(const server::SessionState& session, const std::string& text) {
    tnw::util::printSessionInfo(session.number, text);
}

void sessionError(const server::SessionState& session, const std::string& text) {
    tnw::util::printSessionError(session.number, text);
}

// The kernel's share of the whole machine, sampled every two seconds.
class CpuSampler {
public:
    double sample(std::uint64_t cpuTime) {
        std::uint64_t now = tnw::util::monotonicMicroseconds();
        std::uint64_t elapsed = now - lastSample_;
        if (elapsed >= kCpuSampleInterval) {
            double used = static_cast<double>(cpuTime - std::min(cpuTime, lastCpuTime_));
            usage_ = std::clamp(used / (processors_ * static_cast<double>(elapsed)), 0.0, 1.0);
            lastSample_ = now;
            lastCpuTime_ = cpuTime;
        }
        return usage_;
    }

private:
    double processors_ = std::max<std::uint32_t>(tnw::util::SystemInfo::processorCount(), 1);
    std::uint64_t lastSample_ = tnw::util::monotonicMicroseconds();
    std::uint64_t lastCpuTime_ = 0;
    double usage_ = 0.0;
};

// A client that stops reading holds the relay in a send that neither abort nor the time-out
// reaches, and the kernel blocks on its full output pipe for good. This thread watches the run
// from outside: once the run is aborted or past `deadline` and still going after the grace
// period, it shuts the connection down, which ends that send and so the run.
class StalledClientGuard {
public:
    StalledClientGuard(Session& connection, std::uint64_t deadline)
        : connection_(connection), deadline_(deadline) {
        if (finished_.create() && thread_.start([this]() -> std::uint32_t {
                try {
                    watch();
                } catch (...) {
                    // Without the guard the run still ends with its client.
                }
                return 0;
            })) {
            thread_.resume();
        }
    }
    // The run has ended.
    ~StalledClientGuard() {
        finished_.set();
        thread_.wait(tnw::util::kInfinite);
    }
    StalledClientGuard(const StalledClientGuard&) = delete;
    StalledClientGuard& operator=(const StalledClientGuard&) = delete;

private:
    void watch() {
        while (!connection_.aborted && tnw::util::monotonicMicroseconds() <= deadline_) {
            if (finished_.wait(kRelayWait)) {
                return;
            }
        }
        if (!finished_.wait(kStalledClientGrace)) {
            connection_.close();
        }
    }

    Session& connection_;
    std::uint64_t deadline_;
    tnw::util::Event finished_;
    tnw::util::Thread thread_;
};

// While the relay runs, the guard above is the rule for a client that stops reading, not the
// session's send time-out: a client that reads slowly is served for as long as the run may go.
class RelaySendTimeout {
public:
    explicit RelaySendTimeout(Session& connection)
        : connection_(connection), saved_(connection.sendTimeout()) {
        connection_.setSendTimeout(tnw::util::kInfinite);
    }
    ~RelaySendTimeout() { connection_.setSendTimeout(saved_); }
    RelaySendTimeout(const RelaySendTimeout&) = delete;
    RelaySendTimeout& operator=(const RelaySendTimeout&) = delete;

private:
    Session& connection_;
    std::uint32_t saved_;
};

class KernelRelay {
public:
    explicit KernelRelay(Session& session)
        : manager_(session.server()), session_(session), connection_(session) {}

    bool run(const std::string& jobFile, const std::string& guid, std::uint32_t clientRevision);

private:
    bool start(const std::string& folder, const std::string& jobFile);
    bool relay();
    void updateStatistics();
    void showStatus(std::uint64_t now, std::uint64_t start);

    server::Manager& manager_;
    server::SessionState& session_;
    Session& connection_;
    tnw::util::Process kernel_;
    tnw::util::Pipe output_;
    tnw::util::Pipe input_;
    std::unique_ptr<tnw::util::PipeInputStream> stream_;
    CpuSampler sampler_;
    std::uint64_t kernelCpu_ = 0;
};

bool KernelRelay::run(const std::string& jobFile,
                      const std::string& guid,
                      std::uint32_t clientRevision) {
    const auto& options = server::settings();
    if (!manager_.serviceMode() && !options.quiet) {
        std::string host = server::peerDisplayName(session_.peer.address);
        std::string user;
        {
            Lock lock(globalLock());
            user = session_.user;
        }
        sessionInfo(
            session_,
            user.empty()
                ? tnw::util::format("Opening session %1 for host %2.", session_.number, host)
                : tnw::util::format(
                      "Opening session %1 for host %2 and user %3.", session_.number, host, user));
    }
    KernelSources sources{options.fixedKernel,
                          options.includePaths,
                          options.cloud,
                          manager_.config.cacheFolder,
                          tnw::util::programFolder()};
    std::string folder = chooseKernelFolder(sources, clientRevision, guid);
    if (options.debug && consoleMode()) {
        sessionInfo(session_, tnw::util::format("Using CAM kernel folder '%1'", folder));
    }
    if (options.x86 ||
        tnw::util::SystemInfo::processorArchitecture() != tnw::util::architecture::kX64) {
        sessionError(session_, "Plexmill only supports 64-bit architecture.");
        return false;
    }
    if (!tnw::util::exists(tnw::util::joinPath(folder, kKernelExecutable)) ||
        tnw::util::isFolder(tnw::util::joinPath(folder, kKernelExecutable))) {
        sessionError(session_, "Failed to find CAM kernel executable.");
        return false;
    }
    if (!tnw::util::exists(tnw::util::joinPath(folder, kKernelModule)) ||
        tnw::util::isFolder(tnw::util::joinPath(folder, kKernelModule))) {
        sessionError(session_, "Failed to find CAM kernel library.");
        return false;
    }
    if (!start(folder, jobFile)) {
        return false;
    }
    bool result = relay();
    stream_.reset();
    output_.readEnd().close();
    input_.writeEnd().close();
    updateStatistics();
    if (kernel_.isRunning()) {
        kernel_.terminate();
    }
    kernel_.wait(tnw::util::kInfinite);
    statusLineTime = 0;
    return result;
}

bool KernelRelay::start(const std::string& folder, const std::string& jobFile) {
    const auto& options = server::settings();
    auto isFile = [&](const char* name) {
        std::string path = tnw::util::joinPath(folder, name);
        return tnw::util::exists(path) && !tnw::util::isFolder(path);
    };
    bool orrin = isFile(kOrrinKernelModule) && isFile(kOrrinComponentsModule);
    if (!orrin) {
        sessionInfo(session_, "Running without Orrin kernel.");
    }
    std::string executable = tnw::util::joinPath(folder, kKernelExecutable);
    if (options.debug && consoleMode()) {
        sessionInfo(session_, tnw::util::format("Running module '%1'", executable));
    }
    if (output_.create(false) != 0) {
        sessionError(session_, "Failed to create CAM kernel output stream.");
        return false;
    }
    output_.setCapacity(kOutputPipeCapacity);
    if (input_.create(false) != 0) {
        sessionError(session_, "Failed to create CAM kernel input stream.");
        return false;
    }
    stream_ = std::make_unique<tnw::util::PipeInputStream>(output_);
    if (!stream_->isOpen()) {
        sessionError(session_, "Failed to open CAM kernel output stream.");
        return false;
    }
    tnw::util::Handle log;
    try {
        log = tnw::util::FileOutputStream(tnw::util::joinPath(session_.folder, kKernelLog),
                                          tnw::util::LinkPolicy::Refuse)
                  .handle();
    } catch (const tnw::util::Exception&) {
        // The kernel then writes its messages where the server writes its own.
    }
    tnw::util::ProcessOptions process;
    process.application = executable;
    process.arguments = kernelArguments(folder, orrin, jobFile);
    process.handles = {input_.readEnd(), output_.writeEnd(), log};
    process.workingFolder = session_.folder;
    process.environment = {{"TEMP", session_.folder}, {"TMPDIR", session_.folder}};
    // Its own process group, so that ending it also ends whatever it started.
    process.ownProcessGroup = true;
    kernel_ = tnw::util::Process::start(process);
    if (!kernel_.isValid()) {
        sessionError(session_, "Failed to initiate CAM kernel.");
        return false;
    }
    kernel_.resume();
    if (options.debug && consoleMode()) {
        sessionInfo(session_, "CAM kernel started.");
    }
    // Only the kernel holds these ends now: its exit closes the output.
    output_.writeEnd().close();
    input_.readEnd().close();
    return true;
}

bool KernelRelay::relay() {
    const auto& options = server::settings();
    std::uint64_t start = tnw::util::monotonicMicroseconds();
    std::uint64_t now = start;
    std::uint64_t nextStatus = 0;
    std::uint64_t nextPriority = 0;
    bool idleSeen = false;
    bool timedOut = false;
    StalledClientGuard guard(connection_, start + options.sessionTimeout);
    RelaySendTimeout sendTimeout(connection_);
    try {
        for (;;) {
            if (session_.aborted) {
                break;
            }
            if (!idleSeen && now >= nextPriority) {
                if (kernel_.priority() == tnw::util::priority_class::kIdle) {
                    idleSeen = true;
                } else {
                    kernel_.setPriority(tnw::util::priority_class::kBelowNormal);
                }
                nextPriority = now + kPriorityInterval;
            }
            if (tnw::util::waitForHandle(stream_->handle(), kRelayWait)) {
                // The piece goes from the pipe to the client without a copy through this
                // process; an empty pipe that reads as ready has lost its last writer.
                if (connection_.spliceFrom(stream_->handle(), kRelayPiece) == 0) {
                    tnw::util::raise(tnw::util::EndOfStreamException());
                }
            } else if (!kernel_.isRunning()) {
                // The kernel has ended and nothing is left to read, but something it started
                // still holds its output: the run is over, and so is that leftover.
                kernel_.terminate();
            }
            now = tnw::util::monotonicMicroseconds();
            if (!timedOut && now - start > options.sessionTimeout) {
                timedOut = true;
                if (options.verbose) {
                    sessionInfo(session_, "Session terminated due to time out.");
                }
                updateStatistics();
                kernel_.terminate();
            }
            if (!session_.aborted && now >= nextStatus) {
                updateStatistics();
                showStatus(now, start);
                nextStatus = now + kStatisticsInterval;
            }
        }
    } catch (const tnw::util::EndOfStreamException&) {
        return true;
    } catch (const tnw::util::Exception& failure) {
        sessionError(
            session_,
            failure.getMessage().empty()
                ? std::string("CAM kernel failed.")
                : tnw::util::format("CAM kernel failed with error '%1'", failure.getMessage()));
        return false;
    } catch (...) {
        sessionError(session_, "CAM kernel failed.");
        return false;
    }
    return true;
}

void KernelRelay::updateStatistics() {
    auto times = kernel_.cpuTimes();
    kernelCpu_ = times.kernel + times.user;
    std::uint64_t threadCpu = tnw::util::Thread::current().cpuTime();
    std::uint64_t now = tnw::util::Time::now().value();
    Lock lock(globalLock());
    session_.memory = std::max(session_.memory, kernel_.peakWorkingSet());
    std::uint64_t cpu = threadCpu + kernelCpu_;
    if (cpu > session_.cpuTime) {
        manager_.statistics.processingTime += cpu - session_.cpuTime;
        session_.cpuTime = cpu;
    }
    std::uint64_t elapsed = now > session_.startTime.value() ? now - session_.startTime.value() : 0;
    if (elapsed > session_.elapsed) {
        manager_.statistics.elapsedTime += elapsed - session_.elapsed;
        session_.elapsed = elapsed;
    }
}

void KernelRelay::showStatus(std::uint64_t now, std::uint64_t start) {
    std::string user;
    std::uint64_t memory = 0;
    double usage = 0;
    {
        Lock lock(globalLock());
        usage = session_.cpuUsage = sampler_.sample(kernelCpu_);
        user = session_.user;
        memory = session_.memory;
    }
    if (!consoleMode() || !server::settings().verbose || now < statusLineTime.load()) {
        return;
    }
    std::string line =
        tnw::util::format("%1/%2: %3 %4 Time:%5 Mem:%6 CPU:%7",
                          session_.number,
                          manager_.openSessions(),
                          tnw::util::addressText(session_.peer.address),
                          user.empty() ? std::string("n/a") : user,
                          tnw::util::formatElapsed(now - start),
                          tnw::util::formatSizeShort(static_cast<std::int64_t>(memory)),
                          tnw::util::formatPrintf("%.1f%%", usage * 100));
    if (statusLineSession.exchange(session_.number) != session_.number) {
        tnw::util::eraseStatusLine();
    }
    tnw::util::printStatus(line);
    statusLineTime = now + kStatusLineInterval;
}

} // namespace

bool runKernel(Session& session,
               const std::string& jobFile,
               const std::string& guid,
               std::uint32_t clientRevision) {
    KernelRelay relay(session);
    return relay.run(jobFile, guid, clientRevision);
}

} // namespace plexmill::session
