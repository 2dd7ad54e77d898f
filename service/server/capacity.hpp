// How powerful this server is (the system rating) and whether it takes new work right now.
#pragma once

#include <cstdint>

#include "util/handle.hpp"

namespace plexmill::server {

class Manager;

// The stored rating; negative until measured or set with --rating. It never decreases.
double systemRating();
void setSystemRating(double rating);
// The stored rating, measured first when it is still negative.
double knownSystemRating();

// Runs the matrix benchmark; stores and returns the larger of the stored and the new rating.
double measureRating();
// The rating formula: cores count fully, hyper-threads for a fifth of a core each.
double ratingFor(std::uint64_t elapsedMicroseconds, std::uint32_t cores, std::uint32_t logical);

// Start-up: measures when needed and prints the rating with its classification.
void reportRatingAtStart(bool serviceMode, bool quiet);
// "System rating is super." and friends; empty between 1000 and 4000.
const char* ratingClassification(double rating);

// Not paused, below the session limit, CPU at most 75 %, enough free memory, allowed time.
bool isAccepting(const Manager& manager);

// Prints a change of isAccepting on the console (never in service mode).
void updateAcceptingState(const Manager& manager);

// The monitor thread's body: samples CPU usage (1 s while sessions are open and for five
// passes after, 5 s when idle) and reports accepting changes until the server stops or `end`
// (an event) is signalled. Started and ended by MonitorThread (monitor_thread.hpp).
void monitorThread(Manager& manager, const tnw::util::Handle& end);

} // namespace plexmill::server
