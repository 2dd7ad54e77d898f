// How a running server is told to stop and whether it is paused: by the console (Ctrl+C) or by
// the service manager. The main loop and the monitor only see this interface.
#pragma once

#include "util/handle.hpp"

namespace plexmill::server {

class RunControl {
public:
    virtual ~RunControl() = default;
    // Signalled when the server is to stop; the main loop waits on it.
    virtual const tnw::util::Handle& stopHandle() const = 0;
    virtual bool stopRequested() const = 0;
    virtual bool paused() const = 0;
    virtual bool serviceMode() const = 0;

    // Signalled when the server is asked to reload (a manual-reset event: whoever takes the
    // request resets it); an empty handle where nobody can ask.
    virtual const tnw::util::Handle& reloadHandle() const { return noHandle_; }
    virtual void resetReload() {}
    // The start phase is over and the main loop begins: the server takes work from now on.
    virtual void serverReady() {}

private:
    tnw::util::Handle noHandle_;
};

} // namespace plexmill::server
