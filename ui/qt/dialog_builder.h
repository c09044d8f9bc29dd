// Builds a window's controls from its template: placed and sized in pixels from the window font's
// dialog units, named by their IDs, in tab order. The list and the name field raise the
// notifications a dialog's combo box and edit control raise.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <map>

#include "ui/logic/dialog_templates.h"

namespace kfw {

// A control's notification: its ID and the notification code.
using NotifyFunction = std::function<void(int id, int code)>;

// The platform's default sans-serif at 8 points, standing in for the templates' MS Sans Serif.
QFont DialogFont();
DialogBaseUnits BaseUnitsOf(const QFont& font);
QRect PixelRect(const ControlTemplate& control, const DialogBaseUnits& units);
QSize PixelSize(const DialogTemplate& dialog, const DialogBaseUnits& units);

// A port list ("Transmit to", "Receive from"): a drop-down list. The user's changes raise the
// selection notification; the program's (AddEntry, SelectEntry) raise none, as adding and
// selecting by message does not in a dialog. Focus changes and the list dropping down and closing
// raise theirs.
class PortListBox final : public QComboBox {
 public:
  PortListBox(int id, NotifyFunction notify, QWidget* parent);

  void AddEntry(const QString& text);
  // A position outside the list leaves nothing selected.
  void SelectEntry(int position);

  void showPopup() override;
  void hidePopup() override;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Notify(int code);

  int id_;
  NotifyFunction notify_;
  bool programChange_ = false;
  bool popupShown_ = false;
};

// The image file name field: raises the focus notifications, and the change notifications at
// every change of its text, the program's own included.
//
// Its loss of focus is where a typed name is taken and checked, and one loss is checked once.
// Whenever one of the program's own windows comes and goes (each progress window, each box), the
// focus leaves the field for it and the window manager gives it back, without the user going near
// the field: these departures repeat the loss already reported and raise no notification. The
// user moving the focus (a click, Tab, another program) is a loss of its own, and the user
// bringing the focus back or a change of the text makes the next departure a new loss.
class NameField final : public QLineEdit {
 public:
  NameField(int id, NotifyFunction notify, QWidget* parent);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Notify(int code);

  int id_;
  NotifyFunction notify_;
  bool lossReported_ = false;  // since the user last brought the focus or changed the text
};

// Creates the template's controls as children of window, whose font must already be set.
// Returns the controls that have an ID, by ID.
std::map<int, QWidget*> BuildControls(const DialogTemplate& dialog, QWidget& window,
                                      const NotifyFunction& notify);

}  // namespace kfw
