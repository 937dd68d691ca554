// Table file images for the loader tests, built byte by byte here so that
// these tests depend on nothing but the loader: a full set of valid, inert
// files (no codes, no rules, no lists) that a test then pokes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tables/bytes.h"
#include "tables/codes.h"
#include "tables/loader.h"

namespace tallow::testing {

inline std::size_t BinarySizeOf(const std::string& name) {
  static const std::map<std::string, std::size_t> kSizes = {
      {"DXTAB8", 56914}, {"DXTAB9", 57964}, {"DXTAB0", 72414}, {"DXTAB1", 72419},
      {"SGTAB8", 19046}, {"SGTAB9", 19062}, {"SGTAB0", 62712}, {"DGTAB", 24516},
      {"DGTAB0", 24884}, {"CCTAB0", 29182}, {"CCTAB1", 29213}, {"CCTAB", 16748}};
  const auto it = kSizes.find(name);
  return it == kSizes.end() ? 0 : it->second;
}

// `count` copies of a line, each ended by a line feed.
inline std::string RepeatLine(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + "\n";
  return text;
}

// The lines, each ended by a line feed.
inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

inline constexpr char kInertRefinedCcLine[] = "ZZZZZ0 0 4700 001";
inline constexpr char kInertRefinedDrgLine[] = "4700 4700 00";

inline TableImages InertImages() {
  TableImages images;
  for (const char* name : kTableFiles) {
    const std::size_t size = BinarySizeOf(name);
    if (size != 0) images[name] = std::string(size, '\0');
  }
  const int ccRows[4] = {1969, 2007, 2420, 2421};
  const char* ccNames[4] = {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"};
  for (int e = 0; e < 4; ++e) images[ccNames[e]] = RepeatLine(kInertRefinedCcLine, ccRows[e]);
  for (const char* name : {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0", "RDRGNEO1"}) images[name] = "";
  images["RDRGDRG"] = RepeatLine(kInertRefinedDrgLine, 485);
  images["RDRGCL"] = RepeatLine(std::string(86, '0'), 62);
  return images;
}

inline void Poke8(std::string& image, std::size_t offset, int value) {
  image.at(offset) = static_cast<char>(static_cast<uint8_t>(value));
}
inline void PokeBigEndian16(std::string& image, std::size_t offset, int value) {
  Poke8(image, offset, (value >> 8) & 0xFF);
  Poke8(image, offset + 1, value & 0xFF);
}
inline void PokeLittleEndian16(std::string& image, std::size_t offset, int value) {
  Poke8(image, offset, value & 0xFF);
  Poke8(image, offset + 1, (value >> 8) & 0xFF);
}
inline void PokeLittleEndian32(std::string& image, std::size_t offset, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i)
    Poke8(image, offset + i, static_cast<int>((u >> (8 * i)) & 0xFF));
}
inline void PokeBytes(std::string& image, std::size_t offset, const std::vector<int>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) Poke8(image, offset + i, bytes[i]);
}

// Category-indexed tables (DXTAB*, SGTAB8/9): record of category c.
inline void SetCategory(std::string& image, int category, int count, int start) {
  const auto at = static_cast<std::size_t>(category) * 3;
  Poke8(image, at, count);
  PokeBigEndian16(image, at + 1, start);
}
inline void SetDiagnosisEntry(std::string& dxtab, int entry, int tail, int cls, int ccRow = 0) {
  const std::size_t at = 7800 + static_cast<std::size_t>(entry) * 5;
  Poke8(dxtab, at, tail);
  PokeBigEndian16(dxtab, at + 1, cls);
  PokeBigEndian16(dxtab, at + 3, ccRow);
}

// Writes the codes (given in table order: by category, then by tail) as
// entries 0, 1, ... of class 1, and points their categories at them.
inline void PutDiagnosisCodes(std::string& dxtab, const std::vector<std::string>& codes) {
  int entry = 0;
  int category = -1;
  int first = 0;
  for (const std::string& text : codes) {
    const std::string code = (text + "     ").substr(0, 5);
    DecodedCode decoded;
    if (!DecodeCode(code.c_str(), true, &decoded)) throw std::invalid_argument(code);
    if (decoded.category != category) {
      category = decoded.category;
      first = entry;
    }
    SetDiagnosisEntry(dxtab, entry, decoded.tail, 1);
    ++entry;
    SetCategory(dxtab, category, entry - first, first);
  }
}

// A source over images that records every name asked for.
struct CountingSource {
  TableImages images;
  std::vector<std::string> asked;

  TableFileSource Source() {
    return [this](const std::string& name, Status*) -> std::optional<std::string> {
      asked.push_back(name);
      const auto it = images.find(name);
      if (it == images.end()) return std::nullopt;
      return it->second;
    };
  }
};

}  // namespace tallow::testing
