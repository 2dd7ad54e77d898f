#include "service/http/routes.hpp"

#include "service/http/metrics.hpp"
#include "service/http/resource_manager.hpp"
#include "service/http/status_json.hpp"
#include "service/http/status_page.hpp"
#include "util/format.hpp"

#include <cstdint>

namespace plexmill::http {

namespace {

struct DynamicRoute {
    std::string_view path;
    std::string (*render)(const server::Manager&, Requester);
    std::string_view contentType;
    std::string_view cacheControl;
};

constexpr std::string_view kNoCache = "Cache-Control: private, max-age=0, no-cache\r\n";

const DynamicRoute kDynamicRoutes[] = {
    {"/", buildStatusPage, "text/html", kNoCache},
    {"/json/status.json", statusJson, "application/json", kNoCache},
    {"/json/servers.json",
     [](const server::Manager& manager, Requester) { return serversJson(manager); },
     "application/json",
     "Cache-Control: public, max-age=3\r\n"},
};

Answer staticAnswer(const Resource& resource) {
    std::string bytes = "HTTP/1.1 200 OK\r\n";
    bytes += contentHeaders(resource.bytes.size(), resource.contentType, "");
    bytes += "Cache-Control: public, max-age=3600\r\nConnection: Keep-Alive\r\n\r\n";
    bytes += resource.bytes;
    return Answer{std::move(bytes), false};
}

Answer dynamicAnswer(const DynamicRoute& route, const std::string& body) {
    // Documents end in a line break. It is part of the body: a length that left it out would
    // leave two bytes on a kept-alive connection that clients read as the start of the next
    // response, and refuse.
    constexpr std::string_view kLineBreak = "\r\n";
    std::string headers =
        contentHeaders(body.size() + kLineBreak.size(), route.contentType, "UTF-8");
    constexpr std::string_view kStatus = "HTTP/1.1 200 OK\r\n";
    constexpr std::string_view kCrossOrigin =
        "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET\r\n";
    constexpr std::string_view kKeepAlive = "Connection: Keep-Alive\r\n\r\n";
    // One piece, sized once: the answer goes out in a single send.
    std::string bytes;
    bytes.reserve(kStatus.size() + headers.size() + kCrossOrigin.size() +
                  route.cacheControl.size() + kKeepAlive.size() + body.size() + kLineBreak.size());
    bytes += kStatus;
    bytes += headers;
    bytes += kCrossOrigin;
    bytes += route.cacheControl;
    bytes += kKeepAlive;
    bytes += body;
    bytes += kLineBreak;
    return Answer{std::move(bytes), true};
}

} // namespace

Answer answerRequest(const server::Manager& manager, std::string_view path, Requester requester) {
    if (const Resource* resource = staticResources().find(path)) {
        return staticAnswer(*resource);
    }
    if (path == kMetricsPath) {
        return metricsAnswer(manager, requester);
    }
    for (const DynamicRoute& route : kDynamicRoutes) {
        if (route.path == path) {
            return dynamicAnswer(route, route.render(manager, requester));
        }
    }
    return Answer{std::string(kNotFound), false};
}

std::string
contentHeaders(std::size_t length, std::string_view contentType, std::string_view charset) {
    std::string headers = tnw::util::format("Allow: GET\r\nContent-Length: %1\r\n",
                                            static_cast<std::uint32_t>(length));
    if (!contentType.empty()) {
        headers += charset.empty()
                       ? tnw::util::format("Content-Type: %1\r\n", contentType)
                       : tnw::util::format("Content-Type: %1; %2\r\n", contentType, charset);
    }
    return headers;
}

} // namespace plexmill::http
