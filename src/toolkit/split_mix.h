// The one pseudo-random sequence of the project (splitmix64): synthetic
// tables, synthetic cases and fuzz mutations are the same on every machine
// for the same seed, which no std:: distribution promises.
#pragma once

#include <cstdint>

namespace tallow {

// Advances the state and returns the next 64-bit value.
inline uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace tallow
