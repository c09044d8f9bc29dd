// Our texts are UTF-8; the window's are UTF-16. Converted here, at the boundary, so that file and
// port names in any script reach the window and come back unchanged.
#pragma once

#include <string>

namespace kfw {

// Invalid UTF-8 bytes, or unpaired UTF-16 halves, become U+FFFD: a name is shown, never dropped.
std::wstring Utf16FromUtf8(const std::string& text);
std::string Utf8FromUtf16(const std::wstring& text);

}  // namespace kfw
