#include "service/server/service_run_control.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace plexmill::server {
namespace {

using tnw::util::ServiceControlReply;
using tnw::util::ServiceState;
namespace control = tnw::util::service_control;

std::string uniqueName() {
    return "plexmill-test-run-control-" + std::to_string(::getpid());
}

struct Step {
    std::uint32_t control;
    bool privileged;
    std::uint32_t error;
    ServiceState state;
};

TEST(ServiceRunControl, StatesFollowTheControls) {
    ServiceRunControl service;
    ASSERT_TRUE(service.open(uniqueName()));
    EXPECT_TRUE(service.serviceMode());
    EXPECT_EQ(service.state(), ServiceState::StartPending);

    // While it starts, only a stop would be taken.
    for (const Step& step : {Step{control::kInterrogate, false, 0, ServiceState::StartPending},
                             Step{control::kPause, true, 1061, ServiceState::StartPending},
                             Step{128, true, 1061, ServiceState::StartPending}}) {
        SCOPED_TRACE(step.control);
        ServiceControlReply reply = service.handleControl(step.control, step.privileged);
        EXPECT_EQ(reply.error, step.error);
        EXPECT_EQ(reply.state, step.state);
    }
    service.serverReady();
    EXPECT_EQ(service.state(), ServiceState::Running);

    for (const Step& step : {Step{control::kInterrogate, false, 0, ServiceState::Running},
                             Step{control::kPause, false, 5, ServiceState::Running},
                             Step{control::kStop, false, 5, ServiceState::Running},
                             Step{128, false, 5, ServiceState::Running},
                             Step{control::kPause, true, 0, ServiceState::Paused},
                             Step{control::kInterrogate, false, 0, ServiceState::Paused},
                             Step{control::kPause, true, 0, ServiceState::Paused},
                             Step{control::kContinue, true, 0, ServiceState::Running},
                             Step{128, true, 0, ServiceState::Running},
                             Step{200, true, 0, ServiceState::Running},
                             Step{0, true, 1052, ServiceState::Running},
                             Step{5, true, 1052, ServiceState::Running},
                             Step{256, true, 1052, ServiceState::Running}}) {
        SCOPED_TRACE(testing::Message() << step.control << (step.privileged ? " privileged" : ""));
        ServiceControlReply reply = service.handleControl(step.control, step.privileged);
        EXPECT_EQ(reply.error, step.error);
        EXPECT_EQ(reply.state, step.state);
        EXPECT_EQ(service.paused(), step.state == ServiceState::Paused);
    }
    EXPECT_TRUE(tnw::util::waitForHandle(service.reloadHandle(), 0));
    service.resetReload();
    EXPECT_FALSE(tnw::util::waitForHandle(service.reloadHandle(), 0));
    EXPECT_FALSE(service.stopRequested());
    EXPECT_FALSE(tnw::util::waitForHandle(service.stopHandle(), 0));

    // SIGHUP is the reload request, SIGTERM the stop.
    service.onConsoleSignal(tnw::util::ConsoleSignal::HangUp);
    EXPECT_TRUE(tnw::util::waitForHandle(service.reloadHandle(), 0));
    service.onConsoleSignal(tnw::util::ConsoleSignal::Terminate);
    EXPECT_TRUE(service.stopRequested());
    EXPECT_TRUE(tnw::util::waitForHandle(service.stopHandle(), 0));
    EXPECT_EQ(service.state(), ServiceState::StopPending);

    // Stopping, it takes nothing more; once stopped, it says so.
    for (const Step& step : {Step{control::kContinue, true, 1061, ServiceState::StopPending},
                             Step{control::kStop, true, 1061, ServiceState::StopPending},
                             Step{control::kInterrogate, true, 0, ServiceState::StopPending}}) {
        SCOPED_TRACE(step.control);
        ServiceControlReply reply = service.handleControl(step.control, step.privileged);
        EXPECT_EQ(reply.error, step.error);
        EXPECT_EQ(reply.state, step.state);
    }
    service.serverReady(); // a start phase that ends after the stop came changes nothing
    EXPECT_EQ(service.state(), ServiceState::StopPending);
    service.reportStopped();
    EXPECT_EQ(service.state(), ServiceState::Stopped);
}

TEST(ServiceRunControl, AStopWhileStartingIsTaken) {
    ServiceRunControl service;
    ASSERT_TRUE(service.open(uniqueName()));
    ServiceControlReply reply = service.handleControl(control::kStop, true);
    EXPECT_EQ(reply.error, 0U);
    EXPECT_EQ(reply.state, ServiceState::StopPending);
    EXPECT_TRUE(service.stopRequested());
}

TEST(ServiceRunControl, AnswersOnItsChannelAndHoldsTheName) {
    std::string name = uniqueName();
    ServiceRunControl service;
    ASSERT_TRUE(service.open(name));
    ServiceRunControl second;
    EXPECT_FALSE(second.open(name));
    ASSERT_TRUE(service.startAnswering());
    service.serverReady();
    auto result = tnw::util::sendServiceControl(name, control::kPause, 5'000'000);
    EXPECT_EQ(result.reply.state, ServiceState::Paused);
    EXPECT_TRUE(service.paused());
    service.reportStopped();
    EXPECT_EQ(tnw::util::sendServiceControl(name, control::kInterrogate, 1'000'000).outcome,
              tnw::util::ServiceControlOutcome::NotListening);
}

} // namespace
} // namespace plexmill::server
