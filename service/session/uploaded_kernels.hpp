// Whether this server keeps the CAM kernels clients upload: only when it is not in cloud mode
// and no fixed kernel folder or include path says where its kernels come from.
#pragma once

#include "service/server/settings.hpp"

namespace plexmill::session {

bool keepsUploadedKernels(const server::Settings& settings);

} // namespace plexmill::session
