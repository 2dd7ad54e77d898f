#include "service/cli/service_main.hpp"

#include "service/cli/command_line.hpp"
#include "service/cli/server_wiring.hpp"
#include "service/protocol/namespaces.hpp"
#include "service/server/service_identity.hpp"
#include "service/server/service_run_control.hpp"
#include "service/server/settings.hpp"
#include "util/console.hpp"
#include "util/console_manager.hpp"
#include "util/environment.hpp"
#include "util/format.hpp"
#include "util/systemd_notify.hpp"
#include "util/version.hpp"

namespace plexmill::cli {

namespace {

constexpr int kDispatcherFailed = 1001;

// The service takes no arguments, so this is what gives it the rating that --rating gives a
// console server, instead of a measurement at every start. Tests use it, so that a test
// machine busy with other work does not make every start slow.
constexpr char kRatingVariable[] = "PLEXMILL_RATING";

void takeRatingFromEnvironment() {
    std::string text = tnw::util::getEnvironment(kRatingVariable);
    if (text.empty()) {
        return;
    }
    auto rating = parseRating(text);
    if (!rating || *rating < 0) {
        tnw::util::printError(tnw::util::format(
            "Invalid system rating '%1' in %2; the rating is measured.", text, kRatingVariable));
        return;
    }
    server::settings().ratingOverride = *rating;
}

} // namespace

bool takeServiceMarker() {
    std::string marker = tnw::util::getEnvironment(server::kServiceMarkerVariable);
    tnw::util::unsetEnvironment(server::kServiceMarkerVariable);
    return marker == server::kServiceName;
}

int runAsService() {
    auto output = tnw::util::outputOptions();
    output.serviceMode = true;
    output.color = false;
    tnw::util::setOutputOptions(output);
    tnw::util::SystemdNotifier::takeSocketFromEnvironment();
    takeRatingFromEnvironment();

    server::ServiceRunControl control;
    if (!control.open(protocol::serviceControlName())) {
        tnw::util::printError(
            tnw::util::format("%1 service already running on this PC.", tnw::util::kProductName));
        return kDispatcherFailed;
    }
    // SIGTERM and SIGHUP are controls from here on.
    tnw::util::ConsoleManager::addListener(&control);
    int result = kDispatcherFailed;
    if (control.startAnswering()) {
        result = server::runServer(wireServer, &control);
    } else {
        tnw::util::printError("Failed to answer service controls.");
    }
    tnw::util::ConsoleManager::removeListener(&control);
    control.reportStopped();
    return result;
}

} // namespace plexmill::cli
