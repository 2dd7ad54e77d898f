// The static files the HTTP status service serves from inside the program: the task-manager
// page, the monitor's icon and the maker's logos. Their bytes are compiled in from
// service/http/resources/ (see cmake/embed_resources.cmake), so a running server never
// depends on files next to it.
#pragma once

#include <span>
#include <string_view>

namespace plexmill::http {

struct EmbeddedResource {
    std::string_view path;        // the request path, matched exactly, e.g. "/taskmanager"
    std::string_view bytes;       // the content, byte for byte
    std::string_view contentType; // e.g. "text/html"
};

// Every embedded resource, in a fixed order; the data lives as long as the program.
std::span<const EmbeddedResource> embeddedResources();

} // namespace plexmill::http
