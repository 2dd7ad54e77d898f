// The life of the server: start phase, main loop, stop phase.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "service/protocol/namespaces.hpp"
#include "service/server/banner.hpp"
#include "service/server/admission.hpp"
#include "service/server/capacity.hpp"
#include "service/server/discovery.hpp"
#include "service/server/kernel_cache.hpp"
#include "service/server/manager.hpp"
#include "service/server/monitor_thread.hpp"
#include "service/server/session_folders.hpp"
#include "service/server/settings.hpp"
#include "util/access_log.hpp"
#include "util/clock.hpp"
#include "util/console.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/instance_lock.hpp"
#include "util/resource_limits.hpp"
#include "util/sizes.hpp"
#include "util/system_info.hpp"
#include "util/thread.hpp"
#include "util/version.hpp"

namespace plexmill::server {

namespace {

using tnw::util::InetAddress;
using tnw::util::Socket;

constexpr std::uint32_t kLoopWait = 15'000'000;         // microseconds
constexpr std::uint64_t kTickInterval = 30'000'000;     // microseconds
constexpr unsigned kSlowTickEvery = 10;                 // ticks: every 300 seconds
constexpr std::uint32_t kHttpDrainTime = 10'000'000;    // microseconds
// How long the listeners rest when the system has no descriptor left for a connection: the
// waiting connection keeps them signalled, and waking for it at once would only spin.
constexpr std::uint32_t kAcceptPause = 250'000; // microseconds

const char* architectureName(bool x86) {
    if (x86) {
        return "IA32";
    }
    switch (tnw::util::SystemInfo::processorArchitecture()) {
    case 1: return "IA32";
    case 2: return "IA64";
    case 3: return "x64";
    default: return "unknown";
    }
}

void printSystemDescription() {
    using namespace tnw::util;
    std::string model = lookupDisplayName(SystemInfo::machineModel());
    if (!model.empty()) {
        printLine(ConsoleStream::Output, ConsoleColour::Settings, "System description: " + model);
    }
    printLine(ConsoleStream::Output, ConsoleColour::Settings, "Operating system: " + SystemInfo::osName());
    printLine(ConsoleStream::Output, ConsoleColour::Settings,
              std::string("Architecture: ") + architectureName(settings().x86));
    printLine(ConsoleStream::Output, ConsoleColour::Settings,
              format("Number of logical CPUs: %1", SystemInfo::processorCount()));
    printLine(ConsoleStream::Output, ConsoleColour::Settings,
              "Physical memory: " + formatSize(SystemInfo::memoryStatus().totalPhysical));
    printLine(ConsoleStream::Output, ConsoleColour::Settings, "");
}

// The sockets of a running server; closed in reverse order of creation.
struct Sockets {
    Socket sessionListener;
    Socket discovery;
    Socket httpListener;
    Socket discoverySender;

    void closeAll() {
        discoverySender.close();
        httpListener.close();
        discovery.close();
        sessionListener.close();
    }
};

// Creates, binds and listens as the start phase says; false after printing why.
bool openSockets(Manager& manager, Sockets& sockets) {
    using tnw::util::format;
    using tnw::util::printError;
    const auto& config = manager.config;
    // Room for the connections the server lets wait for admission: with a queue as short as
    // the session limit, a burst of clients found it full and waited seconds for the retry of
    // their connection request.
    int backlog =
        static_cast<int>(std::max<std::size_t>(config.maximumSessions, kWaitingConnectionLimit));
    if (!sockets.sessionListener.create(true)) {
        return false;
    }
    sockets.sessionListener.setNonBlocking(true);
    sockets.sessionListener.makeEventDriven();
    if (!sockets.discovery.create(false)) {
        printError("Failed to create socket.");
        return false;
    }
    sockets.discovery.setNonBlocking(true);
    sockets.discovery.setBroadcast(true);
    sockets.discovery.makeEventDriven();
    if (config.useHttp) {
        sockets.httpListener.create(true);
        sockets.httpListener.setNonBlocking(true);
        sockets.httpListener.makeEventDriven();
    }
    if (!sockets.sessionListener.bind(InetAddress(InetAddress::kAny, config.port))) {
        printError(format("Failed to bind to port %1.", config.port));
        return false;
    }
    if (!sockets.sessionListener.listen(backlog)) {
        printError("Failed to listen for connections.");
        return false;
    }
    if (!sockets.discovery.bind(InetAddress(InetAddress::kAny, config.broadcastPort))) {
        printError(format("Failed to bind to broadcast port %1.", config.broadcastPort));
        return false;
    }
    if (config.useHttp) {
        if (!sockets.httpListener.bind(InetAddress(InetAddress::kAny, config.httpStatusPort))) {
            printError(format("Failed to bind HTTP to port %1.", config.httpStatusPort));
            return false;
        }
        if (!sockets.httpListener.listen(backlog)) {
            printError("Failed to listen for HTTP connections.");
            return false;
        }
    }
    return true;
}

// The ten-second pause that keeps a failed start readable in a console; Ctrl+C cuts it short.
void waitBeforeExit(const Manager& manager) {
    if (manager.serviceMode() || manager.stopRequested()) {
        return;
    }
    for (int second = 10; second >= 1; --second) {
        tnw::util::printStatus(tnw::util::format("Waiting... (%1s)", second));
        tnw::util::Thread::sleep(1'000'000);
        if (manager.stopRequested()) {
            break;
        }
    }
    tnw::util::eraseStatusLine();
}

void timeOutSessions(Manager& manager, tnw::util::Time now) {
    tnw::util::Lock lock(tnw::util::globalLock());
    std::uint64_t timeout = settings().sessionTimeout;
    for (const auto& session : manager.sessions) {
        if (session->startTime.value() + timeout < now.value() && !session->aborted.exchange(true) &&
            !manager.serviceMode()) {
            tnw::util::printSessionInfo(session->number, "Session timed out.");
        }
    }
}

} // namespace

bool Manager::run() {
    using namespace tnw::util;
    const Settings& options = settings();
    Sockets sockets;
    bool listening = false;
    auto fail = [&] {
        waitBeforeExit(*this);
        sockets.closeAll();
        if (listening) {
            ConsoleManager::removeListener(this);
        }
        return false;
    };

    if (!serviceMode() && !options.quiet) {
        std::fputs(bannerText().c_str(), stdout);
        std::fflush(stdout);
    }
    instance_ = InstanceLock::acquire(protocol::serverInstanceName());
    if (!instance_.isValid()) {
        printError(format("%1 already running on this PC.", kProductName));
        return fail();
    }
    if (!createStopEvent()) {
        return fail();
    }
    ConsoleManager::addListener(this);
    listening = true;
    if (!loadSettings(config)) {
        return fail();
    }
    if (!options.keep) {
        // Held the instance name first: no other server can be using these.
        removeLeftoverSessionFolders(config.intermediateFolder, options.debug && !serviceMode());
    }
    cleanKernelCache(*this);
    // Before "now ready.": a client told the server is ready may upload at once.
    std::string fileCacheFolder = joinPath(config.intermediateFolder, "cache");
    bool fileCacheReady = false;
    {
        Lock lock(globalLock());
        fileCacheReady = fileCache.reset(fileCacheFolder);
    }
    if (!fileCacheReady) {
        printError(format("Unable to create the folder '%1'.", fileCacheFolder));
        return fail();
    }
    reportRatingAtStart(serviceMode(), options.quiet);
    raiseDescriptorLimit();
    if (!openSockets(*this, sockets)) {
        return fail();
    }
    if (!serviceMode() && options.verbose) {
        printSystemDescription();
    }
    if (!options.quiet) {
        printInfo(format("%1 now ready.", kProductName));
    }
    announce(*this, InetAddress(InetAddress::kBroadcast, config.broadcastPort));

    // Ends on every way out of run(), before the Manager can go.
    MonitorThread monitor(*this);

    fileCacheIntake.start(*this);
    if (sockets.discoverySender.create(false)) {
        sockets.discoverySender.setBroadcast(true);
        sockets.discoverySender.bind(InetAddress(InetAddress::kAny, 0));
        sockets.discoverySender.setNonBlocking(true);
        if (!sockets.discoverySender.makeEventDriven()) {
            return fail();
        }
    }

    discoveryAnswers.start([this](Socket& socket, const InetAddress& requester) {
        sendAdvertise(*this, socket, requester);
    });
    std::uint64_t lastTick = 0;
    unsigned ticks = 0;
    bool firstPass = true;
    std::uint64_t acceptAgainAt = 0;
    runControl().serverReady();
    for (;;) {
        std::uint64_t restLeft = acceptAgainAt - std::min(acceptAgainAt, monotonicMicroseconds());
        Handle handles[] = {control().stopHandle(),
                            restLeft == 0 ? sockets.sessionListener.eventHandle() : Handle(),
                            sockets.discovery.eventHandle(),
                            restLeft == 0 ? sockets.httpListener.eventHandle() : Handle(),
                            sockets.discoverySender.eventHandle(),
                            control().reloadHandle()};
        // Every socket that is ready gets its turn, so a flood on one cannot starve the others.
        std::uint64_t signalled = signalledHandles(
            handles, 6, restLeft == 0 ? kLoopWait : static_cast<std::uint32_t>(restLeft));
        if (stopRequested()) {
            break;
        }
        if ((signalled & 1U) != 0) {
            printInfo(format("Terminating %1...", kProductName));
            break;
        }
        bool outOfResources = false;
        if ((signalled & 2U) != 0) {
            outOfResources = !acceptConnections(*this, sockets.sessionListener);
        }
        if ((signalled & 4U) != 0) {
            handleDatagrams(*this, sockets.discovery);
        }
        if ((signalled & 8U) != 0) {
            bool refused = false;
            if (Socket connection = sockets.httpListener.accept(&refused); connection && http) {
                http->serve(*this, connection);
            }
            outOfResources = outOfResources || refused;
        }
        if ((signalled & 16U) != 0) {
            handleDatagrams(*this, sockets.discoverySender);
        }
        if ((signalled & 32U) != 0) {
            // Settings are read only at start; a reload reopens the access log, so that a
            // rotated log is let go and a new one begun.
            runControl().resetReload();
            AccessLog::close();
            AccessLog::open(config.intermediateFolder);
        }
        if (outOfResources) {
            acceptAgainAt = monotonicMicroseconds() + kAcceptPause;
        }
        std::uint64_t now = monotonicMicroseconds();
        if (firstPass || now - lastTick > kTickInterval) {
            firstPass = false;
            lastTick = now;
            Time wallNow = Time::now();
            timeOutSessions(*this, wallNow);
            if (ticks++ % kSlowTickEvery == 0) {
                {
                    Lock lock(globalLock());
                    fileCache.expire(wallNow);
                }
                if (sockets.discoverySender) {
                    requestAdvertisements(sockets.discoverySender);
                }
            }
        }
    }
    discoveryAnswers.stop();
    {
        Lock lock(globalLock());
        for (const auto& session : sessions) {
            session->aborted = true;
        }
    }
    monitor.stop();
    {
        Lock lock(globalLock());
        for (const auto& session : sessions) {
            session->aborted = true;
            session->close();
        }
    }
    Thread::sleep(250'000);
    while (openSessions() != 0) {
        Thread::sleep(250'000);
    }
    fileCacheIntake.stop();
    cleanKernelCache(*this);
    sockets.closeAll();
    ConsoleManager::removeListener(this);
    return true;
}

int runServer(const std::function<void(Manager&)>& wire, RunControl* service) {
    try {
        auto manager = std::make_unique<Manager>(service);
        wire(*manager);
        bool stopped = manager->run();
        // Status connections are served on threads that read the manager. They end within a
        // second or so, unless a client stopped reading a page: its thread then stays in a
        // send, and the manager is left to the end of the process rather than freed under it.
        if (manager->http && !manager->http->waitUntilIdle(kHttpDrainTime)) {
            (void)manager.release();
        }
        return stopped ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

} // namespace plexmill::server
