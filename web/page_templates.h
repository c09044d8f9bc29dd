// The two window templates as the page's script builds them: every control with its kind, text,
// place and size in pixels of the page's font, in tab order, and for each label the control it
// names, so that the page's labels are tied to their controls. Web builds only.
#pragma once

#include <string>

#include "ui/logic/dialog_templates.h"

namespace kfw {

// The control a label names: the list, field or value that stands on the label's line, right of
// it, where the most of their heights meet. nullptr for a label that names none (the ":" between
// them, "0%" and "100%"), and for a control that is no label.
const ControlTemplate* LabelledControl(const DialogTemplate& dialog, const ControlTemplate& label);

// Both templates, "main" and "progress", as JSON, laid out with the base units of a font whose 52
// letters A-Z a-z are `widthOfAllLetters` pixels wide and whose lines are `charHeight` high, as
// the windows lay them out with theirs.
std::string PageLayoutJson(int widthOfAllLetters, int charHeight);

}  // namespace kfw
