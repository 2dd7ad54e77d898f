// Waiting on conditions with deadlines, never on fixed sleeps.
#pragma once

#include <chrono>
#include <thread>

namespace tnw::test {

using namespace std::chrono_literals;

// Looks at `condition` every `step` until it holds (true) or the deadline has passed (false).
template <typename Condition>
bool waitUntil(Condition condition,
               std::chrono::milliseconds deadline,
               std::chrono::milliseconds step = 20ms) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

} // namespace tnw::test
