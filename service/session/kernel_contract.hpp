// What this system fixes about the CAM kernel, an external program it only finds, checks,
// starts and relays: its files, its command line, its folder and its standard handles.
#pragma once

#include <string>
#include <vector>

namespace plexmill::session {

inline constexpr const char* kKernelExecutable = "millcore.exe";
inline constexpr const char* kKernelModule = "millcore.dll";
inline constexpr const char* kOrrinKernelModule = "pxmkernel.dll";
inline constexpr const char* kOrrinComponentsModule = "pxmcomponents.dll";
// Standard error of the kernel, in the session folder.
inline constexpr const char* kKernelLog = "millcore.log";
// The job a client sends with RUN, in the session folder.
inline constexpr const char* kJobFile = "job.tornwell-job";
// The only architecture a kernel upload may announce, and the one the server runs.
inline constexpr const char* kKernelArchitecture = "X64";

// The kernel files of a kernel folder, in the order KERNEL receives them, with their labels.
struct KernelFile {
    const char* name;
    const char* label;
};
inline constexpr KernelFile kKernelFiles[] = {
    {kKernelExecutable, "CAM kernel exe"},
    {kKernelModule, "CAM kernel module"},
    {kOrrinKernelModule, "Orrin kernel module"},
    {kOrrinComponentsModule, "Orrin components module"},
};

// The kernel's argument vector: "millcore -p --proc -k MODULE [-orrin PXMKERNEL] JOB". Each
// path is one argument, so no quoting is needed.
std::vector<std::string> kernelArguments(const std::string& folder, bool orrin, const std::string& jobPath);

} // namespace plexmill::session
