// Text that comes from outside the program, made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace kfw::cli {

// text with every byte a terminal could act on written out as \xHH (two lower-case hex digits):
// the control bytes below 0x20, DEL (0x7F), and every byte from 0x80 on (C1 controls, and parts
// of sequences a terminal may read as such). A backslash is written \\, so that an escape shown
// cannot be forged by the text itself. A module's product name with ESC in it could otherwise
// retitle the window, clear the screen or paint text of its choosing.
std::string VisibleText(std::string_view text);

}  // namespace kfw::cli
