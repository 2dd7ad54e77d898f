#pragma once

namespace plexmill::cli {

// True when whatever started this process asked it to run as the service (the marker of
// service_identity.hpp names this service). Takes the marker out of the environment, so that
// the programs the server starts do not inherit it.
bool takeServiceMarker();

// The service entry: runs the server as the service until it is stopped, answering controls
// and reporting its state. In service mode nothing reaches the console; messages go to the
// event log. Returns 0 after an orderly stop, 1 when the server failed, and 1001 when the
// service cannot take its control channel (another instance of the service holds it).
int runAsService();

} // namespace plexmill::cli
