// The program's clock. Tests move it forward without waiting: when PLEXMILL_TEST_CLOCK names a
// file, the number in it (microseconds) is added to every reading, and waits and sleeps end as
// soon as the shifted clock passes their deadline. Without the variable nothing changes.
#pragma once

#include <cstdint>

namespace tnw::util {

bool clockShiftEnabled();
// The current shift in microseconds; 0 unless a test sets one.
std::uint64_t clockShift();
// Steady time in microseconds (arbitrary origin) plus the shift.
std::uint64_t monotonicMicroseconds();

// Waits in slices no longer than this while a test drives the clock, so that moving the clock
// ends a wait promptly.
inline constexpr int kShiftedWaitSliceMs = 20;

} // namespace tnw::util
