#include "service/http/resource_manager.hpp"

#include "service/http/embedded_resources.hpp"
#include "service/http/style_sheet.hpp"

#include <mutex>

namespace plexmill::http {

const Resource* ResourceManager::find(std::string_view path) const {
    auto found = resources_.find(path);
    return found == resources_.end() ? nullptr : &found->second;
}

void ResourceManager::add(std::string_view path,
                          std::string_view bytes,
                          std::string_view contentType) {
    resources_.insert_or_assign(std::string(path), Resource{bytes, contentType});
}

const ResourceManager& staticResources() {
    static ResourceManager resources;
    static std::once_flag filled;
    std::call_once(filled, [] {
        for (const EmbeddedResource& resource : embeddedResources()) {
            resources.add(resource.path, resource.bytes, resource.contentType);
        }
        resources.add("/style.css", styleSheet(), "text/css");
    });
    return resources;
}

} // namespace plexmill::http
