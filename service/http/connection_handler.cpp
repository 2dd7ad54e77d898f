#include "service/http/connection_handler.hpp"

#include "service/http/http_connection.hpp"
#include "service/http/request_line.hpp"
#include "service/http/resource_manager.hpp"
#include "service/http/routes.hpp"
#include "util/exception.hpp"

#include <optional>
#include <string>

namespace plexmill::http {

namespace {

// Reads the header lines after the request line up to the empty line that ends them; false
// when there are more than the limit allows.
bool skipHeaderLines(HttpConnection& connection, std::size_t maximumLines) {
    for (std::size_t lines = 1; !connection.readLine().empty();) {
        if (++lines > maximumLines) {
            return false;
        }
    }
    return true;
}

} // namespace

void handleConnection(const server::Manager& manager,
                      tnw::util::Socket socket,
                      const HttpLimits& limits) {
    staticResources();
    const Requester requester = socket.getPeerAddress().address();
    // The accepted socket inherits the listener's non-blocking mode.
    socket.setNonBlocking(false);
    // An answer goes out in one piece, and pages are small: holding it back for the client's
    // acknowledgement of the previous one would only delay it.
    socket.setNoDelay(true);
    socket.setReceiveTimeout(limits.firstRequestTimeout);
    HttpConnection connection(socket, limits.sendTimeout);
    std::string requestLine = connection.readLine();
    socket.setReceiveTimeout(limits.receiveTimeout);
    while (!requestLine.empty()) {
        if (!skipHeaderLines(connection, limits.maximumHeaderLines)) {
            connection.write(kBadRequest);
            return;
        }
        std::optional<std::string> path;
        try {
            path = parseRequestLine(requestLine);
        } catch (const tnw::util::ParseException&) {
            connection.write(kBadRequest);
            return;
        }
        // Not GET: closed without an answer. A stopping server answers nothing more either,
        // since its state is being taken down.
        if (!path || manager.stopRequested()) {
            return;
        }
        Answer answer = answerRequest(manager, *path, requester);
        connection.write(answer.bytes);
        if (!answer.keepConnection) {
            return;
        }
        requestLine = connection.readLine();
    }
}

} // namespace plexmill::http
