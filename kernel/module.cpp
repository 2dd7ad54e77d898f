// millcore.dll: the engine behind the two functions of module_interface.hpp.
#include "kernel/engine.hpp"
#include "kernel/module_interface.hpp"

#include <cstdio>

extern "C" {

__attribute__((visibility("default"))) int millcore_interface_version() {
    return plexmill::kernel::moduleInterfaceVersion;
}

__attribute__((visibility("default"))) int millcore_run(const char* jobPath, unsigned threads) {
    try {
        plexmill::kernel::RunOptions options;
        options.threads = threads;
        return plexmill::kernel::runJob(jobPath, options, stdout);
    } catch (...) {
        // Nothing may cross into the loader, which may be built by another compiler.
        std::fputs("ERROR: the kernel failed\n", stdout);
        return 2;
    }
}
}
