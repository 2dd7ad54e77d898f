// --connect: sends a job and the files it needs to a server, lets the server run its CAM
// kernel on them, and stores everything the server streams back as the result file.
#pragma once

#include <string>
#include <vector>

namespace plexmill::cli {

// The exit code: 0 when the session went through, 1 when an error was printed.
int runRemoteSession(const std::string& server, const std::string& jobPath, const std::vector<std::string>& files,
                     const std::string& resultPath);

// The name a file goes by on the wire: the text after the last "\" or "/", else after the
// first ":", else the whole path.
std::string baseName(const std::string& path);

} // namespace plexmill::cli
