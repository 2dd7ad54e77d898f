// The working folders of sessions: "session-" and the session id as 16 lowercase hexadecimal
// digits, inside the intermediate folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plexmill::server {

std::string sessionFolderName(std::int64_t sessionId);
bool isSessionFolderName(std::string_view name);

// Deletes the session folders in `intermediateFolder`: those of a server that ended without
// its stop phase (killed, crashed) would otherwise stay for ever with their clients' files.
// Only while this server holds the single-instance name, so no running server owns them.
// Entries of other names are left alone; links are removed as links. With `report`, prints
// each folder it deletes.
void removeLeftoverSessionFolders(const std::string& intermediateFolder, bool report);

} // namespace plexmill::server
