// Byte strings written the way the trace log and the protocol tables show them: "F0 00 7F".
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace kfw::test {

inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (unsigned byte = 0; in >> std::hex >> byte;) bytes.push_back(static_cast<uint8_t>(byte));
  return bytes;
}

// The other way round: "F0 00 7F".
inline std::string HexText(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) text += {' ', kDigits[byte >> 4], kDigits[byte & 15]};
  return text.empty() ? text : text.substr(1);
}

}  // namespace kfw::test
