#pragma once

namespace tnw::util {

// True when the process has a controlling terminal (it was started from a console rather than
// by the service manager or detached).
bool hasControllingTerminal();

} // namespace tnw::util
