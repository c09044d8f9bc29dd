#include "ui/logic/dialog_templates.h"

#include "midi/ports.h"

namespace kfw {

namespace {

using enum ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {kUpdateButton, kDefaultPushButton, "Update", 143, 125, 50, 14, true},
    {kConnectButton, kPushButton, "Connect", 7, 125, 50, 14, false},
    {kFindImageButton, kPushButton, "Find image", 75, 125, 50, 14, false},
    {kNoControlId, kLabel, "Transmit to", 7, 9, 94, 13, false},
    {kNoControlId, kLabel, "Receive from", 7, 29, 94, 13, false},
    {kNoControlId, kLabel, "Serial #", 7, 72, 111, 14, false},
    {kNoControlId, kLabel, "Current firmware version #", 7, 90, 111, 14, false},
    {kNoControlId, kLabel, "Image filename", 7, 109, 54, 14, false},
    {kImageNameField, kEdit, "", 63, 107, 199, 12, false},
    {kNoControlId, kLabel, ":", 122, 72, 11, 15, false},
    {kNoControlId, kLabel, ":", 122, 88, 11, 15, false},
    {kNoControlId, kLabel, ":", 122, 29, 11, 15, false},
    {kNoControlId, kLabel, ":", 121, 8, 11, 15, false},
    {kTransmitToList, kPortList, "", 135, 9, 127, 71, false},
    {kReceiveFromList, kPortList, "", 135, 27, 127, 69, false},
    {kSerialField, kLabel, "", 136, 73, 78, 8, false},
    {kVersionField, kLabel, "", 136, 89, 78, 8, false},
    {kExitButton, kPushButton, "Exit", 212, 125, 50, 14, false},
    {kProductLabel, kLabel, "Product", 7, 54, 111, 14, false},
    {kNoControlId, kLabel, ":", 122, 53, 11, 15, false},
    {kProductField, kLabel, "", 136, 54, 78, 8, false},
};

constexpr ControlTemplate kProgressControls[] = {
    {kProgressCancelButton, kPushButton, "Cancel", 69, 51, 50, 14, false},
    {kProgressCaption, kCentredLabel, "", 17, 13, 153, 10, false},
    {kProgressBar, kBar, "Progress1", 25, 31, 131, 14, false},
    {kNoControlId, kLabel, "100%", 161, 34, 18, 8, false},
    {kNoControlId, kLabel, "0%", 12, 34, 11, 8, false},
};

const DialogTemplate kMainWindow{"Korvex Firmware Update Utility - V1.03b", 269, 146,
                                 kMainControls};
const DialogTemplate kProgressWindow{"", 186, 73, kProgressControls};

// MulDiv: the product divided with rounding to the nearest integer.
int ScaleRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

}  // namespace

const DialogTemplate& MainWindowTemplate() {
  return kMainWindow;
}
const DialogTemplate& ProgressWindowTemplate() {
  return kProgressWindow;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

DialogBaseUnits BaseUnitsFromLetters(int widthOfAllLetters, int charHeight) {
  // Windows halves the width per pair of letters and rounds up the odd half.
  return {(widthOfAllLetters / 26 + 1) / 2, charHeight};
}

int HorizontalPixels(int dialogUnits, const DialogBaseUnits& units) {
  return ScaleRounded(dialogUnits, units.averageCharWidth, 4);
}

int VerticalPixels(int dialogUnits, const DialogBaseUnits& units) {
  return ScaleRounded(dialogUnits, units.charHeight, 8);
}

}  // namespace kfw
