// A table from the five characters of a code to what the searches of a
// table find for it, made at load so that a lookup is one hash probe
// instead of a search.
//
// Keys are PackCode or PackCodeToNul values (40 bits); each holds four
// 16-bit values whose meaning the owning table gives. The slots are open
// addressed with linear probing, at most half full for up to kSmall keys (a
// search for a key not added ends soon) and at most four fifths full for
// more (the memory of the large diagnosis tables), so a probe ends at the
// key or at an empty slot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallow {

class CodeIndex {
 public:
  using Values = std::array<int16_t, 4>;

  static constexpr std::size_t kSmall = 4096;

  // Room for `keys` keys; drops what was added before.
  void Reserve(std::size_t keys) {
    std::size_t slots = 8;
    while (slots < (keys <= kSmall ? 2 * keys : keys + keys / 4 + 1)) slots *= 2;
    slots_.assign(slots, Slot{});
    shift_ = 64;
    for (std::size_t s = slots; s > 1; s /= 2) --shift_;
    added_ = 0;
  }

  // Adds a key not added before. Reserve must have made room for it.
  void Add(uint64_t key, const Values& values) {
    const uint64_t tagged = key | kUsed;
    std::size_t i = Home(key);
    while (slots_[i].key != 0) i = (i + 1) & (slots_.size() - 1);
    slots_[i] = Slot{tagged, values};
    ++added_;
  }

  // The values of a key, or null when it was not added.
  const Values* Find(uint64_t key) const {
    if (slots_.empty()) return nullptr;
    const uint64_t tagged = key | kUsed;
    for (std::size_t i = Home(key);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.key == tagged) return &slot.values;
      if (slot.key == 0) return nullptr;
    }
  }

  bool empty() const { return slots_.empty(); }
  std::size_t size() const { return added_; }
  void clear() {
    slots_.clear();
    added_ = 0;
  }

 private:
  // Set in every used slot, so that the key 0 (five NULs) has one too.
  static constexpr uint64_t kUsed = uint64_t{1} << 63;

  struct Slot {
    uint64_t key = 0;  ///< the key with kUsed, 0 when empty
    Values values{};
  };

  std::size_t Home(uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  std::vector<Slot> slots_;
  unsigned shift_ = 64;
  std::size_t added_ = 0;
};

}  // namespace tallow
