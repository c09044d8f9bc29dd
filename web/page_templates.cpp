#include "web/page_templates.h"

#include <algorithm>
#include <cstring>

namespace kfw {

namespace {

// A list's height in the template includes its dropped list; the closed list stands on one line,
// as high as a label's line.
constexpr int kClosedListHeight = 13;

bool NamesSomething(const ControlTemplate& control) {
  return control.kind == ControlKind::kLabel && control.text[0] != '\0' &&
         std::strcmp(control.text, ":") != 0;
}

// What a label may name: the lists, the name field, and the value fields (labels of their own,
// with an ID and no text).
bool Nameable(const ControlTemplate& control) {
  return control.kind == ControlKind::kPortList || control.kind == ControlKind::kEdit ||
         (control.kind == ControlKind::kLabel && control.id != kNoControlId &&
          control.text[0] == '\0');
}

int Height(const ControlTemplate& control) {
  return control.kind == ControlKind::kPortList ? kClosedListHeight : control.height;
}

int Overlap(const ControlTemplate& a, const ControlTemplate& b) {
  return std::min(a.y + Height(a), b.y + Height(b)) - std::max(a.y, b.y);
}

const ControlTemplate* LabelOf(const DialogTemplate& dialog, const ControlTemplate& control) {
  const ControlTemplate* best = nullptr;
  int bestOverlap = 0;
  for (const ControlTemplate& label : dialog.controls) {
    if (!NamesSomething(label) || label.x + label.width > control.x) continue;
    const int overlap = Overlap(label, control);
    if (overlap > bestOverlap) {
      best = &label;
      bestOverlap = overlap;
    }
  }
  return best;
}

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return "button";
    case ControlKind::kDefaultPushButton:
      return "defaultButton";
    case ControlKind::kLabel:
      return "label";
    case ControlKind::kCentredLabel:
      return "centredLabel";
    case ControlKind::kEdit:
      return "edit";
    case ControlKind::kPortList:
      return "portList";
    case ControlKind::kBar:
      return "bar";
  }
  return "label";
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[(c >> 4) & 0xF];
      out += hex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out + '"';
}

// A control's element: the window's prefix and the control's ID, or its place in the template for
// the labels that share the ID nothing addresses ("main-1003", "main-at-3"). The two windows' IDs
// overlap (1011 is the product's value in one, Cancel in the other).
std::string ElementName(const char* prefix, const DialogTemplate& dialog,
                        const ControlTemplate& control) {
  if (control.id != kNoControlId) return std::string(prefix) + "-" + std::to_string(control.id);
  return std::string(prefix) + "-at-" + std::to_string(&control - dialog.controls.data());
}

std::string DialogJson(const char* prefix, const DialogTemplate& dialog,
                       const DialogBaseUnits& units) {
  std::string json = "{\"title\": " + Quoted(dialog.title) +
                     ", \"width\": " + std::to_string(HorizontalPixels(dialog.width, units)) +
                     ", \"height\": " + std::to_string(VerticalPixels(dialog.height, units)) +
                     ", \"controls\": [";
  bool first = true;
  for (const ControlTemplate& control : dialog.controls) {
    const ControlTemplate* names = LabelledControl(dialog, control);
    json += first ? "\n" : ",\n";
    first = false;
    json += "  {\"id\": " + std::to_string(control.id) +
            ", \"element\": " + Quoted(ElementName(prefix, dialog, control)) +
            ", \"kind\": " + Quoted(KindName(control.kind)) +
            ", \"text\": " + Quoted(control.text) +
            ", \"x\": " + std::to_string(HorizontalPixels(control.x, units)) +
            ", \"y\": " + std::to_string(VerticalPixels(control.y, units)) +
            ", \"width\": " + std::to_string(HorizontalPixels(control.width, units)) +
            ", \"height\": " + std::to_string(VerticalPixels(Height(control), units)) +
            ", \"disabled\": " + (control.disabled ? "true" : "false") +
            ", \"names\": " + (names ? Quoted(ElementName(prefix, dialog, *names)) : "null") + "}";
  }
  return json + "]}";
}

}  // namespace

const ControlTemplate* LabelledControl(const DialogTemplate& dialog, const ControlTemplate& label) {
  if (!NamesSomething(label)) return nullptr;
  for (const ControlTemplate& control : dialog.controls) {
    if (Nameable(control) && LabelOf(dialog, control) == &label) return &control;
  }
  return nullptr;
}

std::string PageLayoutJson(int widthOfAllLetters, int charHeight) {
  const DialogBaseUnits units = BaseUnitsFromLetters(widthOfAllLetters, charHeight);
  return "{\"main\": " + DialogJson("main", MainWindowTemplate(), units) +
         ",\n\"progress\": " + DialogJson("progress", ProgressWindowTemplate(), units) + "}";
}

}  // namespace kfw
