// millcore.exe: reads its command line, loads the kernel module named after -k and hands it
// the job. The server starts it as
//   millcore -p --proc -k "<kernel folder>/millcore.dll" [-orrin "<module>"] "<job>"
// -p and --proc ask for all processors (or for N with a number after either); without them
// the kernel keeps to one. The Orrin modules are not needed by this kernel and are ignored.
#include "kernel/module_interface.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <thread>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "millcore: error: %s\n", message.c_str());
    std::fprintf(stdout, "ERROR: %s\n", message.c_str());
    std::fflush(stdout);
    return 1;
}

bool isCount(const std::string& text) {
    return !text.empty() && text.size() <= 4 &&
           text.find_first_not_of("0123456789") == std::string::npos && std::stoul(text) > 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace plexmill::kernel;
    std::string module;
    std::string job;
    unsigned threads = 1;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "-p" || argument == "--proc") {
            if (i + 1 < argc && isCount(argv[i + 1])) {
                threads = static_cast<unsigned>(std::stoul(argv[++i]));
            } else {
                threads = std::max(1u, std::thread::hardware_concurrency());
            }
        } else if (argument == "-k" || argument == "-orrin") {
            if (i + 1 == argc) {
                return fail(argument + " needs a path after it");
            }
            std::string path = argv[++i];
            if (argument == "-k") {
                module = path;
            } else {
                std::fprintf(stderr,
                             "millcore: running alone; the Orrin module %s is not used\n",
                             path.c_str());
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            return fail("unknown option " + argument +
                        "; usage: millcore [-p|--proc [N]] -k MODULE [-orrin MODULE] JOB");
        } else if (!job.empty()) {
            return fail("more than one job given: " + job + " and " + argument);
        } else {
            job = argument;
        }
    }
    if (module.empty() || job.empty()) {
        return fail("usage: millcore [-p|--proc [N]] -k MODULE [-orrin MODULE] JOB");
    }
    // A name without a slash would be looked for on the library path, not here.
    if (module.find('/') == std::string::npos) {
        module = "./" + module;
    }
    void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        return fail("cannot load the kernel module " + module + ": " +
                    (reason ? reason : "unknown reason"));
    }
    auto version = reinterpret_cast<ModuleVersionFunction>(dlsym(library, moduleVersionSymbol));
    auto run = reinterpret_cast<ModuleRunFunction>(dlsym(library, moduleRunSymbol));
    if (version == nullptr || run == nullptr) {
        return fail("the kernel module " + module + " is not a millcore module");
    }
    if (version() != moduleInterfaceVersion) {
        return fail("the kernel module " + module + " speaks interface " +
                    std::to_string(version()) + ", this program " +
                    std::to_string(moduleInterfaceVersion));
    }
    // The module stays loaded until the process ends: its threads and buffers are gone by then.
    return run(job.c_str(), threads);
}
