// The process environment and the user it runs as.
#pragma once

#include <string>
#include <vector>

namespace tnw::util {

// The value of the variable; empty when it is not set.
std::string getEnvironment(const std::string& name);
// Sets a variable of this process; processes started afterwards inherit it. False for a name
// that cannot be a variable name (empty or holding '=').
bool setEnvironment(const std::string& name, const std::string& value);
// Removes a variable of this process, so that processes started afterwards do not see it.
void unsetEnvironment(const std::string& name);
// "NAME=value" for every variable, taken at one moment.
std::vector<std::string> environmentBlock();

// The name of the effective user; empty when it cannot be found.
std::string userName();

} // namespace tnw::util
