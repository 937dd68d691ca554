// Decoding of the binary tables. Every multi-byte number of the table files
// is decoded here, with its byte order in the function name.
//
// The Load* functions read a fixed number of bytes at a pointer and REQUIRE
// that many bytes to be there; ByteReader checks the length and is the only
// way the loader walks a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tallow {

constexpr uint8_t LoadU8(const unsigned char* p) { return p[0]; }

// 16-bit, high byte first, as the diagnosis, procedure and DRG rule tables
// and CCTAB store them.
constexpr int16_t LoadBigEndian16(const unsigned char* p) {
  return static_cast<int16_t>(static_cast<uint16_t>((p[0] << 8) | p[1]));
}
constexpr uint16_t LoadBigEndianU16(const unsigned char* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// 16-bit, low byte first, as CCTAB0 and CCTAB1 store them.
constexpr int16_t LoadLittleEndian16(const unsigned char* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

// 32-bit, low byte first, as SGTAB0 stores its dates.
constexpr int32_t LoadLittleEndian32(const unsigned char* p) {
  const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

inline void StoreBigEndian16(unsigned char* p, int v) {
  const auto u = static_cast<uint16_t>(v);
  p[0] = static_cast<unsigned char>(u >> 8);
  p[1] = static_cast<unsigned char>(u & 0xFF);
}
inline void StoreLittleEndian16(unsigned char* p, int v) {
  const auto u = static_cast<uint16_t>(v);
  p[0] = static_cast<unsigned char>(u & 0xFF);
  p[1] = static_cast<unsigned char>(u >> 8);
}
inline void StoreLittleEndian32(unsigned char* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((u >> (8 * i)) & 0xFF);
}

// A view over the bytes of one file that is consumed from the front.
// Take() fails (returns nullptr) when fewer than n bytes are left, and then
// consumes nothing.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

  const unsigned char* Take(std::size_t n) {
    if (bytes_.size() - offset_ < n) return nullptr;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data()) + offset_;
    offset_ += n;
    return p;
  }
  std::size_t offset() const { return offset_; }
  std::size_t size() const { return bytes_.size(); }
  std::size_t remaining() const { return bytes_.size() - offset_; }

 private:
  std::string_view bytes_;
  std::size_t offset_ = 0;
};

}  // namespace tallow
