// Folders that only the program's own user can change. The server keeps client data, its access
// log and its caches in them: in a shared temporary folder another local user could otherwise
// create the folder first and plant links or files there that the server, often running as
// root, would write through or trust.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

// Makes `path` a private folder: creates it with mode 0700 (missing parents the usual way), or
// checks the folder that is there. A link in its place, anything but a folder, a folder of
// another owner than the effective user, or one that group or others may write, is refused:
// raises IOException with a message that names the folder.
void preparePrivateFolder(const std::string& path);

// Creates a new folder with mode 0700. Whatever already has the name (a folder, a file, a
// link) is an error, kAlreadyExists: a folder someone else made is never taken over. 0 or a
// Windows error number.
std::uint32_t createFreshFolder(const std::string& path);

} // namespace tnw::util
