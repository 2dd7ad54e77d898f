// What the kernel reports when a job cannot be computed: the message names the job line, the
// model file or the value at fault, so the user can mend the job without reading our code.
#pragma once

#include <stdexcept>
#include <string>

namespace plexmill::kernel {

class JobError : public std::runtime_error {
public:
    explicit JobError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace plexmill::kernel
