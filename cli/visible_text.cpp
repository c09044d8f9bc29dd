#include "cli/visible_text.h"

namespace kfw::cli {

std::string VisibleText(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string visible;
  visible.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      visible += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7F) {
      visible += "\\x";
      visible += kHex[byte >> 4];
      visible += kHex[byte & 0x0F];
    } else {
      visible += c;
    }
  }
  return visible;
}

}  // namespace kfw::cli
