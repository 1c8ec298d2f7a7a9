// Little-endian reads and writes, as both file formats store their numbers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace skov::xls {

// On a little-endian host a number is its bytes: one load or store each,
// which matters where every cell of a sheet passes through here.
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

inline uint16_t Get16(const uint8_t* p) {
  if constexpr (kLittleEndianHost) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  if constexpr (kLittleEndianHost) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return uint64_t{Get32(p)} | (uint64_t{Get32(p + 4)} << 32); }

inline void Put16(uint8_t* p, uint16_t v) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(p, &v, sizeof v);
    return;
  }
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(p, &v, sizeof v);
    return;
  }
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// An IEEE 754 double as NUMBER and FORMULA records store it.
inline double GetF64(const uint8_t* p) { return std::bit_cast<double>(Get64(p)); }
inline void PutF64(uint8_t* p, double v) { Put64(p, std::bit_cast<uint64_t>(v)); }

}  // namespace skov::xls
