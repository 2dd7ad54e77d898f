// Writing a whole buffer to a descriptor, for the log files that append one line per write.
#pragma once

#include <string_view>

namespace tnw::util {

// Retries partial writes and interruptions; false when the descriptor refuses the rest.
bool writeFully(int fd, std::string_view bytes);

} // namespace tnw::util
