#include "service/session/uploaded_kernels.hpp"

namespace plexmill::session {

bool keepsUploadedKernels(const server::Settings& settings) {
    return !settings.cloud && settings.fixedKernel.empty() && settings.includePaths.empty();
}

} // namespace plexmill::session
