#include "service/cli/server_wiring.hpp"

#include "service/http/http_service.hpp"
#include "service/session/session_thread.hpp"

#include <memory>

namespace plexmill::cli {

void wireServer(server::Manager& manager) {
    manager.startSession = session::startSession;
    manager.http = std::make_shared<http::HttpService>();
}

} // namespace plexmill::cli
