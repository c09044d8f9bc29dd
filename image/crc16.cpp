#include "image/crc16.h"

namespace kfw {

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(Crc16Table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8));
  }
  return crc;
}

}  // namespace kfw
