#include "ui/qt/dialog_builder.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "ui/logic/main_window_logic.h"

namespace kfw {

namespace {

// Focus that goes to a popup (a list dropping down, a context menu) comes back to the same control:
// a dialog's control keeps its focus meanwhile and says nothing.
bool RealFocusChange(const QFocusEvent* event) {
  return event->reason() != Qt::PopupFocusReason;
}

QLabel* MakeLabel(const ControlTemplate& control, QWidget& window) {
  auto* label = new QLabel(QString::fromUtf8(control.text), &window);
  label->setTextFormat(Qt::PlainText);
  // Static text starts at the top of its rectangle and wraps at word breaks.
  const Qt::Alignment across =
      control.kind == ControlKind::kCentredLabel ? Qt::AlignHCenter : Qt::AlignLeft;
  label->setAlignment(across | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

}  // namespace

QFont DialogFont() {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  return BaseUnitsFromLetters(metrics.horizontalAdvance(QString::fromLatin1(kBaseUnitLetters)),
                              metrics.height());
}

QRect PixelRect(const ControlTemplate& control, const DialogBaseUnits& units) {
  return {HorizontalPixels(control.x, units), VerticalPixels(control.y, units),
          HorizontalPixels(control.width, units), VerticalPixels(control.height, units)};
}

QSize PixelSize(const DialogTemplate& dialog, const DialogBaseUnits& units) {
  return {HorizontalPixels(dialog.width, units), VerticalPixels(dialog.height, units)};
}

PortListBox::PortListBox(int id, NotifyFunction notify, QWidget* parent)
    : QComboBox(parent), id_(id), notify_(std::move(notify)) {
  connect(this, &QComboBox::currentIndexChanged, this, [this] {
    if (!programChange_) Notify(kListSelectionChange);
  });
}

void PortListBox::AddEntry(const QString& text) {
  programChange_ = true;
  // A list selects its first entry by itself; a dialog's list selects nothing until told.
  const int before = currentIndex();
  addItem(text);
  if (currentIndex() != before) setCurrentIndex(before);
  programChange_ = false;
}

void PortListBox::SelectEntry(int position) {
  programChange_ = true;
  setCurrentIndex(position >= 0 && position < count() ? position : -1);
  programChange_ = false;
}

void PortListBox::showPopup() {
  popupShown_ = true;
  Notify(kListDropDown);
  QComboBox::showPopup();
}

void PortListBox::hidePopup() {
  QComboBox::hidePopup();
  if (popupShown_) {
    popupShown_ = false;
    Notify(kListCloseUp);
  }
}

void PortListBox::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  if (RealFocusChange(event)) Notify(kListSetFocus);
}

void PortListBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  if (RealFocusChange(event)) Notify(kListKillFocus);
}

void PortListBox::Notify(int code) {
  if (notify_) notify_(id_, code);
}

NameField::NameField(int id, NotifyFunction notify, QWidget* parent)
    : QLineEdit(parent), id_(id), notify_(std::move(notify)) {
  connect(this, &QLineEdit::textChanged, this, [this] {
    lossReported_ = false;
    Notify(kFieldUpdate);
    Notify(kFieldChange);
  });
}

void NameField::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (!RealFocusChange(event)) return;
  // Brought by the user; the window manager giving it back with the window is no new visit.
  if (event->reason() != Qt::ActiveWindowFocusReason) lossReported_ = false;
  Notify(kFieldSetFocus);
}

void NameField::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (!RealFocusChange(event)) return;
  // The active window has already changed when the focus leaves with it; there is none when
  // another program took it.
  const QWidget* nowActive = QApplication::activeWindow();
  const bool toOwnWindow = event->reason() == Qt::ActiveWindowFocusReason && nowActive != nullptr &&
                           nowActive != window();
  if (toOwnWindow && lossReported_) return;
  lossReported_ = true;
  Notify(kFieldKillFocus);
}

void NameField::Notify(int code) {
  if (notify_) notify_(id_, code);
}

std::map<int, QWidget*> BuildControls(const DialogTemplate& dialog, QWidget& window,
                                      const NotifyFunction& notify) {
  const DialogBaseUnits units = BaseUnitsOf(window.font());
  std::map<int, QWidget*> byId;
  QWidget* previousInTabOrder = nullptr;
  for (const ControlTemplate& control : dialog.controls) {
    QWidget* widget = nullptr;
    QRect rect = PixelRect(control, units);
    switch (control.kind) {
      case ControlKind::kPushButton:
      case ControlKind::kDefaultPushButton: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), &window);
        // A focused push button takes Enter, as in a dialog; otherwise the default button does.
        button->setAutoDefault(true);
        button->setDefault(control.kind == ControlKind::kDefaultPushButton);
        widget = button;
        break;
      }
      case ControlKind::kLabel:
      case ControlKind::kCentredLabel:
        widget = MakeLabel(control, window);
        break;
      case ControlKind::kEdit:
        widget = new NameField(control.id, notify, &window);
        break;
      case ControlKind::kPortList: {
        auto* list = new PortListBox(control.id, notify, &window);
        // The template's height includes the dropped list; the closed list is as high as its
        // text needs, and the rest tells how many entries the dropped list shows at once.
        const int closedHeight = list->sizeHint().height();
        const int entryHeight = QFontMetrics(window.font()).height() + 4;
        list->setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / entryHeight));
        rect.setHeight(closedHeight);
        widget = list;
        break;
      }
      case ControlKind::kBar: {
        auto* bar = new QProgressBar(&window);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
    }
    widget->setObjectName(QString::number(control.id));
    widget->setGeometry(rect);
    widget->setEnabled(!control.disabled);
    if (control.id != kNoControlId) byId.emplace(control.id, widget);
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousInTabOrder) QWidget::setTabOrder(previousInTabOrder, widget);
      previousInTabOrder = widget;
    }
  }
  return byId;
}

}  // namespace kfw
