// STL models, binary or ASCII. Every defect the reader finds ends the job with a JobError that
// says which file, where and what.
#pragma once

#include "kernel/mesh.hpp"

#include <filesystem>
#include <string_view>

namespace plexmill::kernel {

// `name` is how messages call the model (the name the job gave).
Mesh readStl(const std::filesystem::path& path, std::string_view name);
Mesh parseStl(std::string_view bytes, std::string_view name);

} // namespace plexmill::kernel
