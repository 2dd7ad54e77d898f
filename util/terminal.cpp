#include "util/terminal.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace tnw::util {

bool hasControllingTerminal() {
    int fd = ::open("/dev/tty", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace tnw::util
