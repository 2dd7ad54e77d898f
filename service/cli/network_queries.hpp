// The query commands: --list, --status [HOST], --iscached HOST FILE.
#pragma once

#include <string>

namespace plexmill::cli {

void listServers();
void showStatus(const std::string& host);
void showLocalStatus();
// 0 when the server holds the file in its cache, else 1.
int showCached(const std::string& host, const std::string& file);

} // namespace plexmill::cli
