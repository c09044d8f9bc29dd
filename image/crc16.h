// CRC-16/ARC (polynomial 0x8005 reflected, initial 0, no final XOR), the image file's checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kfw {

namespace detail {
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}
}  // namespace detail

// The standard 256-entry table for the reflected polynomial 0xA001, built at compile time.
inline constexpr std::array<uint16_t, 256> Crc16Table = detail::MakeCrc16Table();
static_assert(Crc16Table[1] == 0xC0C1 && Crc16Table[255] == 0x4040);

// Continues a CRC over more bytes; start from 0.
uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t count);

inline uint16_t Crc16(const uint8_t* bytes, size_t count) { return Crc16Update(0, bytes, count); }

}  // namespace kfw
