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

enum class HeaderBlock { Complete, Empty, TooLong };

// Reads the lines of one request up to the empty line that ends them; keeps the first.
HeaderBlock
readHeaderBlock(HttpConnection& connection, std::size_t maximumLines, std::string& requestLine) {
    requestLine = connection.readLine();
    if (requestLine.empty()) {
        return HeaderBlock::Empty;
    }
    for (std::size_t lines = 1; !connection.readLine().empty();) {
        if (++lines > maximumLines) {
            return HeaderBlock::TooLong;
        }
    }
    return HeaderBlock::Complete;
}

} // namespace

void handleConnection(const server::Manager& manager,
                      tnw::util::Socket socket,
                      const HttpLimits& limits) {
    staticResources();
    // The accepted socket inherits the listener's non-blocking mode.
    socket.setNonBlocking(false);
    socket.setReceiveTimeout(limits.receiveTimeout);
    HttpConnection connection(std::move(socket));
    while (!manager.stopRequested()) {
        std::string requestLine;
        switch (readHeaderBlock(connection, limits.maximumHeaderLines, requestLine)) {
        case HeaderBlock::Empty:
            return;
        case HeaderBlock::TooLong:
            connection.write(kBadRequest);
            return;
        case HeaderBlock::Complete:
            break;
        }
        std::optional<std::string> path;
        try {
            path = parseRequestLine(requestLine);
        } catch (const tnw::util::ParseException&) {
            connection.write(kBadRequest);
            return;
        }
        if (!path) {
            return; // not GET: closed without an answer
        }
        Answer answer = answerRequest(manager, *path);
        connection.write(answer.bytes);
        if (!answer.keepConnection) {
            return;
        }
    }
}

} // namespace plexmill::http
