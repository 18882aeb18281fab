// SPDX-License-Identifier: MIT
// A small generator whose sequence is the same on every platform and standard library, so a seed
// reproduces the same records and the same faults everywhere.
#pragma once

#include <cstdint>

namespace korvel::sim {

class SplitMix {
  public:
    explicit SplitMix(uint64_t seed = 0) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }  // [0, 1)
    bool Chance(double rate) { return rate > 0 && (rate >= 1 || Unit() < rate); }
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }

  private:
    uint64_t state_;
};

// A stateless hash for values that must not depend on the order they are asked for.
inline uint64_t Mix(uint64_t a, uint64_t b) {
    SplitMix m(a * 0xD1B54A32D192ED03ull ^ b);
    return m.Next();
}

}  // namespace korvel::sim
