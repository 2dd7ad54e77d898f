// Where both programs find the machine's settings: the server loads the key at every start and
// the tray monitor reads whether the HTTP status port is switched on.
#pragma once

namespace plexmill::protocol {

inline constexpr const char* kSettingsKey = "Software\\Quorvex\\Quorvex Plexmill";
// REG_DWORD, non-zero: the server opens its HTTP status port.
inline constexpr const char* kUseHttpValue = "use http";

} // namespace plexmill::protocol
