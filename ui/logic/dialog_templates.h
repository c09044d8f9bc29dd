// The two windows of the desktop program as data: every control with its ID, kind, text, place and
// size in dialog units, in tab order. A toolkit builds its widgets from these, so the windows look
// and tab the same whichever toolkit draws them.
#pragma once

#include <cstdint>
#include <span>

namespace kfw {

// Control IDs of the main window.
inline constexpr int kConnectButton = 1000;
inline constexpr int kUpdateButton = 1001;
inline constexpr int kFindImageButton = 3;
inline constexpr int kExitButton = 4;
inline constexpr int kImageNameField = 1005;
inline constexpr int kSerialField = 1009;
inline constexpr int kVersionField = 1010;
inline constexpr int kProductField = 1011;
inline constexpr int kProductLabel = 1015;
// The lists are kTransmitToList (1003) and kReceiveFromList (1004), from midi/ports.h.

// Control IDs of the progress window.
inline constexpr int kProgressCancelButton = 1011;
inline constexpr int kProgressCaption = 1012;
inline constexpr int kProgressBar = 1013;

// Labels nothing addresses share this ID.
inline constexpr int kNoControlId = -1;

enum class ControlKind : uint8_t {
  kPushButton,
  kDefaultPushButton,
  kLabel,         // left-aligned static text
  kCentredLabel,  // centred static text
  kEdit,          // single line, border, scrolls horizontally
  kPortList,      // drop-down list; its height includes the dropped list
  kBar,           // progress bar, 0 to 100, with a border
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x;
  int y;
  int width;
  int height;
  bool disabled;  // disabled when the window is set up
};

struct DialogTemplate {
  const char* title;
  int width;
  int height;
  std::span<const ControlTemplate> controls;  // in tab order
};

// "Korvex Firmware Update Utility - V1.03b", 269 x 146 dialog units.
const DialogTemplate& MainWindowTemplate();
// No title, 186 x 73 dialog units.
const DialogTemplate& ProgressWindowTemplate();

// The first control of a template with this ID; nullptr when there is none.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

// A dialog unit is a quarter of the font's average character width across and an eighth of its
// height down. The average width is taken as Windows takes it: the width of the 52 letters
// A-Z a-z, divided by 52 and rounded.
struct DialogBaseUnits {
  int averageCharWidth;
  int charHeight;
};
DialogBaseUnits BaseUnitsFromLetters(int widthOfAllLetters, int charHeight);
inline constexpr const char* kBaseUnitLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Dialog units to pixels, rounded to the nearest pixel as the dialog manager does.
int HorizontalPixels(int dialogUnits, const DialogBaseUnits& units);
int VerticalPixels(int dialogUnits, const DialogBaseUnits& units);

}  // namespace kfw
