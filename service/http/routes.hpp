// What the status port answers for a path: a static resource, one of the dynamic documents, or
// "not found". The answers are complete responses, headers included, in the fixed header sets
// browsers and the task-manager page see.
#pragma once

#include "service/http/status_snapshot.hpp"
#include "service/server/manager.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace plexmill::http {

inline constexpr std::string_view kNotFound = "HTTP/1.1 404 Not Found\r\n\r\n";
inline constexpr std::string_view kBadRequest = "Status-Line: HTTP/1.1 400 Bad Request\r\n\r\n";

struct Answer {
    std::string bytes;
    // Dynamic documents keep the connection for the next request; static resources and
    // "not found" end it.
    bool keepConnection = false;
};

// Static resources first, then the dynamic routes "/", "/json/status.json" and
// "/json/servers.json"; paths match exactly.
// `requester`, the asking client, decides whether the documents name the allow list.
Answer answerRequest(const server::Manager& manager,
                     std::string_view path,
                     Requester requester = std::nullopt);

// "Allow: GET", "Content-Length: N", and "Content-Type: TYPE" or "Content-Type: TYPE; CHARSET"
// (none when the type is empty), each line ending in CR LF.
std::string
contentHeaders(std::size_t length, std::string_view contentType, std::string_view charset);

} // namespace plexmill::http
