#include "service/session/kernel_run.hpp"

namespace plexmill::session {

// No job can be loaded while RUN is refused, so this is not reached yet; should it be, the
// client gets the failure reply rather than a silent success.
bool runKernel(Session& session, const std::string&, const std::string&, std::uint32_t) {
    session.error("Failed to initiate CAM kernel.");
    return false;
}

} // namespace plexmill::session
