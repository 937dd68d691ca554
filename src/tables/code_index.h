// A table from the five characters of a code to what the searches of a
// table find for it, made at load so that a lookup is one hash probe
// instead of a search.
//
// Keys are PackCode or PackCodeToNul values (40 bits); each holds a value of
// up to 23 bits whose meaning the owning table gives. Key and value share
// one 64-bit slot, so that the index of a large table stays small enough to
// stay in the cache. The slots are open addressed with linear probing, at
// most half full for up to kSmall keys (a search for a key not added ends
// soon) and at most four fifths full for more, so a probe ends at the key or
// at an empty slot.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallow {

class CodeIndex {
 public:
  static constexpr int kValueBits = 23;
  static constexpr uint32_t kMaxValue = (uint32_t{1} << kValueBits) - 1;
  static constexpr std::size_t kSmall = 4096;

  // Room for `keys` keys; drops what was added before.
  void Reserve(std::size_t keys) {
    const std::size_t slots = SlotsFor(keys);
    slots_.assign(slots, 0);
    shift_ = 64;
    for (std::size_t s = slots; s > 1; s /= 2) --shift_;
    limit_ = std::max(keys, slots <= 2 * kSmall ? slots / 2 : slots - slots / 5);
    added_ = 0;
  }

  // Adds a key (below 2^40) not added before, with a value up to kMaxValue.
  // Past the keys reserved for, the slots double first.
  void Add(uint64_t key, uint32_t value) {
    if (added_ >= limit_) Grow();
    Place(Tagged(key) | (value & kMaxValue));
    ++added_;
  }

  // The value of a key, or -1 when it was not added.
  int32_t Find(uint64_t key) const {
    if (slots_.empty()) return -1;
    const uint64_t tagged = Tagged(key);
    for (std::size_t i = Home(key);; i = (i + 1) & (slots_.size() - 1)) {
      const uint64_t slot = slots_[i];
      if ((slot & ~uint64_t{kMaxValue}) == tagged) return static_cast<int32_t>(slot & kMaxValue);
      if (slot == 0) return -1;
    }
  }

  bool empty() const { return slots_.empty(); }
  void clear() {
    slots_.clear();
    limit_ = 0;
    added_ = 0;
  }

 private:
  // The key above the value, with a bit set in every used slot so that the
  // key 0 (five NULs) with the value 0 is no empty slot.
  static uint64_t Tagged(uint64_t key) { return (key << 24) | (uint64_t{1} << kValueBits); }

  static std::size_t SlotsFor(std::size_t keys) {
    std::size_t slots = 8;
    while (slots < (keys <= kSmall ? 2 * keys : keys + keys / 4 + 1)) slots *= 2;
    return slots;
  }

  std::size_t Home(uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void Place(uint64_t slot) {
    std::size_t i = Home(slot >> 24);
    while (slots_[i] != 0) i = (i + 1) & (slots_.size() - 1);
    slots_[i] = slot;
  }

  void Grow() {
    std::vector<uint64_t> old;
    old.swap(slots_);
    const std::size_t added = added_;
    Reserve(std::max(added + 1, old.size()));  // more slots than before
    for (uint64_t slot : old)
      if (slot != 0) Place(slot);
    added_ = added;
  }

  std::vector<uint64_t> slots_;  ///< 0 when empty
  unsigned shift_ = 64;
  std::size_t limit_ = 0;  ///< keys the slots take before they double
  std::size_t added_ = 0;
};

}  // namespace tallow
