// SPDX-License-Identifier: MIT
// The device keeps its records in a ring of 32768 slots.
#pragma once

namespace korvel {

inline constexpr int kRingSize = 0x8000;
// One slot stays free: a full ring holds this many records, and the oldest goes when one more is taken.
inline constexpr int kRingRecords = kRingSize - 1;
// The device takes a record every 121 seconds: a count of records covers this many seconds each.
inline constexpr int kSecondsPerRecord = 121;
inline constexpr int kIndexMask = 0x7FFF;

// The index one below, 0 wrapping to 32767. Unsigned, so any number the device sends is safe to step.
constexpr int StepDown(int index) {
    return static_cast<int>((static_cast<unsigned>(index) - 1u) & kIndexMask);
}

// The ring distance from index b up to index a: a - b, plus the ring size when a < b.
constexpr int RingDistance(int b, int a) { return a < b ? a - b + kRingSize : a - b; }

}  // namespace korvel
