// The static resources of the status port, by exact path: the files compiled into the program
// and the style sheet. They are sent as they are and the connection is closed after them.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace plexmill::http {

struct Resource {
    std::string_view bytes;       // lives as long as the program
    std::string_view contentType; // e.g. "image/png"
};

class ResourceManager {
public:
    // Exact, case-sensitive; null when no resource has the path.
    const Resource* find(std::string_view path) const;
    // A later resource with the same path replaces the earlier one.
    void add(std::string_view path, std::string_view bytes, std::string_view contentType);

private:
    std::map<std::string, Resource, std::less<>> resources_;
};

// The process's table, filled exactly once on first use (also when several connections ask at
// the same moment) and read-only afterwards.
const ResourceManager& staticResources();

} // namespace plexmill::http
