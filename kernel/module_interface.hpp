// What millcore.exe looks up in millcore.dll. Plain C functions, so any compiler's module
// serves; the interface version lets the loader refuse a module built for another one.
#pragma once

namespace plexmill::kernel {

constexpr int moduleInterfaceVersion = 1;
constexpr const char* moduleVersionSymbol = "millcore_interface_version";
constexpr const char* moduleRunSymbol = "millcore_run";

// int millcore_interface_version(void)
using ModuleVersionFunction = int (*)();
// int millcore_run(const char* jobPath, unsigned threads): the G-code on standard output,
// progress on standard error; 0 on success.
using ModuleRunFunction = int (*)(const char*, unsigned);

} // namespace plexmill::kernel
