#pragma once
// Small helpers the integrity checkers share: hexadecimal text for reports
// and little-endian loads from file images.

#include <cstdint>
#include <sstream>
#include <string>

namespace testsupport {

inline std::string Hex(uint64_t Value) {
  std::ostringstream out;
  out << "0x" << std::hex << Value;
  return out.str();
}

inline uint16_t LoadU16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | (P[1] << 8));
}

inline uint32_t LoadU32(const uint8_t* P) {
  return P[0] | (P[1] << 8) | (P[2] << 16) | (static_cast<uint32_t>(P[3]) << 24);
}

}  // namespace testsupport
