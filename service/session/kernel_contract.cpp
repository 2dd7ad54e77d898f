#include "service/session/kernel_contract.hpp"

#include "util/files.hpp"

namespace plexmill::session {

std::vector<std::string> kernelArguments(const std::string& folder, bool orrin, const std::string& jobPath) {
    std::vector<std::string> arguments = {"millcore", "-p", "--proc", "-k", tnw::util::joinPath(folder, kKernelModule)};
    if (orrin) {
        arguments.push_back("-orrin");
        arguments.push_back(tnw::util::joinPath(folder, kOrrinKernelModule));
    }
    arguments.push_back(jobPath);
    return arguments;
}

} // namespace plexmill::session
