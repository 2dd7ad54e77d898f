// Finding a program by name the way a shell does.
#pragma once

#include <string>

namespace tnw::util {

// The first executable regular file called `name` in the folders of $PATH (a default list when
// it is empty); a name holding "/" is taken as it is when it names such a file. Empty when there
// is none.
std::string findProgramOnPath(const std::string& name);

} // namespace tnw::util
