#pragma once

namespace plexmill::cli {

// The whole of plexmilld: prepares the process, reads the arguments, runs one command and
// returns the exit code.
int runMain(int argc, const char* const* argv);

} // namespace plexmill::cli
