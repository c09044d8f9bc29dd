// The Qt windows on the offscreen platform: built from their templates, the widgets raising the
// notifications a dialog raises, the boxes and the progress window reached from other threads, and
// whole sessions against the simulated module in real time (a quick module on an unlimited link,
// so a session takes about a second: the procedures' own waits are ticks of 100 ms).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "engine/progress.h"
#include "image/image_writer.h"
#include "image/report.h"
#include "image/waiting.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "sim/ports.h"
#include "tests/support/doubles.h"
#include "tests/ui/fake_window.h"
#include "ui/qt/boxes.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/gui_thread.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_window.h"

namespace kfw {
namespace {

QtMessageHandler standardMessageHandler = nullptr;

// The offscreen platform cannot raise windows and says so every time one is shown; nothing else
// is dropped.
void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text == QLatin1String("This plugin does not support raise()")) return;
  if (standardMessageHandler) standardMessageHandler(type, context, text);
}

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "kfw_ui_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    standardMessageHandler = qInstallMessageHandler(QuietMessageHandler);
    auto* made = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return made;
  }();
  (void)application;
}

struct BoxSeen {
  QString caption;
  QString text;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton;
  bool onGuiThread;
  QWidget* owner;
};

// Answers boxes from a queue (else with the box's default button) and the file chooser from
// another, recording what each showed.
class ScriptedRunner final : public DialogRunner {
 public:
  int RunMessageBox(QMessageBox& box) override {
    const QMessageBox::StandardButton defaultButton =
        box.defaultButton() ? box.standardButton(box.defaultButton()) : QMessageBox::NoButton;
    boxes.push_back({box.windowTitle(), box.text(), box.standardButtons(), defaultButton,
                     OnGuiThread(), box.parentWidget()});
    if (answers.empty()) return defaultButton;
    const QMessageBox::StandardButton answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool RunFileDialog(QFileDialog& dialog, QString& chosen) override {
    chooserTitles.push_back(dialog.windowTitle());
    chooserFilters.push_back(dialog.nameFilters());
    if (files.empty() || !files.front()) {
      if (!files.empty()) files.pop_front();
      return false;
    }
    chosen = *files.front();
    files.pop_front();
    return true;
  }

  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const BoxSeen& box : boxes) texts.push_back(box.text);
    return texts;
  }

  std::vector<BoxSeen> boxes;
  std::deque<QMessageBox::StandardButton> answers;
  std::vector<QString> chooserTitles;
  std::vector<QStringList> chooserFilters;
  std::deque<std::optional<QString>> files;
};

std::vector<uint8_t> SevenBitData(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 11 + 3) & 0x7F);
  return data;
}

QString WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path path = test::ScratchDirectory() / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return QString::fromStdString(path.string());
}

template <typename T>
T* As(QWidget* widget) {
  T* typed = qobject_cast<T*>(widget);
  EXPECT_NE(typed, nullptr);
  return typed;
}

// Sets a flag the moment a widget is hidden, on whatever thread looks at it.
class HideWatcher final : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) hidden.store(true);
    return false;
  }
  std::atomic<bool> hidden{false};
};

// --- The windows as built ---

TEST(QtWindows, MainWindowIsBuiltFromItsTemplate) {
  EnsureApplication();
  ScriptedRunner runner;
  QtMainWindow window(runner);
  const DialogTemplate& dialog = MainWindowTemplate();
  const DialogBaseUnits units = BaseUnitsOf(window.font());
  EXPECT_EQ(window.windowTitle(), "Korvex Firmware Update Utility - V1.03b");
  EXPECT_EQ(window.size(), PixelSize(dialog, units));
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);

  int unnamed = 0;
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == kNoControlId) {
      ++unnamed;
      continue;
    }
    QWidget* widget = window.Control(control.id);
    ASSERT_NE(widget, nullptr) << control.id;
    EXPECT_EQ(widget->objectName(), QString::number(control.id));
    const QRect expected = PixelRect(control, units);
    if (control.kind == ControlKind::kPortList) {
      EXPECT_EQ(widget->pos(), expected.topLeft()) << control.id;
      EXPECT_EQ(widget->width(), expected.width()) << control.id;
    } else {
      EXPECT_EQ(widget->geometry(), expected) << control.id;
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), QString::fromUtf8(control.text));
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), QString::fromUtf8(control.text));
    }
  }
  EXPECT_EQ(window.findChildren<QLabel*>("-1").size(), unnamed);

  auto* update = As<QPushButton>(window.Control(kUpdateButton));
  EXPECT_TRUE(update->isDefault());
  EXPECT_FALSE(update->isEnabled());

  std::vector<int> tabOrder;
  for (QWidget* widget = window.nextInFocusChain(); widget != &window;
       widget = widget->nextInFocusChain()) {
    if (widget->parentWidget() == &window && (widget->focusPolicy() & Qt::TabFocus)) {
      tabOrder.push_back(widget->objectName().toInt());
    }
  }
  EXPECT_EQ(tabOrder,
            (std::vector<int>{kUpdateButton, kConnectButton, kFindImageButton, kImageNameField,
                              kTransmitToList, kReceiveFromList, kExitButton}));
}

TEST(QtWindows, ProgressWindowIsBuiltFromItsTemplateAndOpensCentredWithCancelFocused) {
  EnsureApplication();
  QtProgressWindow window;
  EXPECT_EQ(window.size(), PixelSize(ProgressWindowTemplate(), BaseUnitsOf(window.font())));
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  QStringList labels;
  for (QLabel* label : window.findChildren<QLabel*>("-1")) labels << label->text();
  labels.sort();
  EXPECT_EQ(labels, (QStringList{"0%", "100%"}));
  EXPECT_EQ(window.Bar()->minimum(), 0);
  EXPECT_EQ(window.Bar()->maximum(), 100);

  window.Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 2000));
  EXPECT_EQ(window.Caption()->text(), "");
  EXPECT_EQ(window.Bar()->value(), 0);
  EXPECT_EQ(window.focusWidget(), window.CancelButton());
  const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((window.frameGeometry().center() - screenCentre).manhattanLength(), 2);
  window.Hide();
  EXPECT_FALSE(window.isVisible());
}

// --- The progress window in use ---

TEST(QtWindows, ProgressCallsFromTheProceduresThreadKeepTheirOrderAndHideWaits) {
  EnsureApplication();
  QtProgressWindow window;
  HideWatcher watcher;
  window.installEventFilter(&watcher);
  std::promise<void> looked;
  std::atomic<bool> updated{false};
  std::atomic<bool> finished{false};
  bool hiddenWhenHideReturned = false;
  std::thread procedure([&] {
    window.Show();
    window.Update("Connecting...", 30);
    window.Update("Connecting...", 250);  // more than the bar holds
    updated.store(true);
    looked.get_future().wait();
    window.Hide();
    hiddenWhenHideReturned = watcher.hidden.load();
    finished.store(true);
  });
  // Show and the updates right after it were queued: none is lost, the last one counts.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return updated.load() && window.isVisible() && window.Bar()->value() == 100; }, 2000));
  EXPECT_EQ(window.Caption()->text(), "Connecting...");
  looked.set_value();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 2000));
  procedure.join();
  EXPECT_TRUE(hiddenWhenHideReturned);
  EXPECT_FALSE(window.isVisible());
}

TEST(QtWindows, CancelOnlyRaisesTheFlagEscapeDoesNothingAndACloseRequestDoesNotCancel) {
  EnsureApplication();
  QtProgressWindow window;
  window.Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 2000));

  QTest::mouseClick(window.CancelButton(), Qt::LeftButton);
  EXPECT_EQ(CancelFlag.load(), 1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.CancelButton()->isEnabled());
  ClearCancel();
  QTest::keyClick(window.CancelButton(), Qt::Key_Return);  // the focused button takes Enter
  EXPECT_EQ(CancelFlag.load(), 1);
  ClearCancel();

  QTest::keyClick(&window, Qt::Key_Escape);
  QTest::keyClick(window.CancelButton(), Qt::Key_Escape);
  EXPECT_EQ(CancelFlag.load(), 0);
  EXPECT_TRUE(window.isVisible());

  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(CancelFlag.load(), 0);
  // The procedure goes on without a window: its updates show nothing, its close does nothing.
  window.Update("Updating firmware area...", 50);
  QTest::qWait(20);
  EXPECT_FALSE(window.isVisible());
  window.Hide();
  // The next window starts afresh.
  window.Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 2000));
  EXPECT_EQ(window.Caption()->text(), "");
  EXPECT_EQ(window.Bar()->value(), 0);
  window.Hide();
}

// --- The boxes ---

TEST(QtWindows, BoxesFromAnyThreadShowTheirCaptionsButtonsAndDefaults) {
  EnsureApplication();
  ScriptedRunner runner;
  QWidget owner;
  QtMessageBoxes boxes(runner, &owner);
  runner.answers = {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes};
  std::atomic<bool> finished{false};
  std::vector<bool> answers;
  std::thread procedure([&] {
    boxes.ShowError("MIDI Response timeout");
    answers.push_back(boxes.AskYesNo("Update anyway?"));
    answers.push_back(boxes.AskYesNo("Update anyway?"));
    boxes.ShowFatal("midiOutLongMsg call failed - code 00000007\n");
    finished.store(true);
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 5000));
  procedure.join();
  EXPECT_EQ(answers, (std::vector<bool>{true, false}));

  const auto yesNo = QMessageBox::Yes | QMessageBox::No;
  struct Expected {
    const char* caption;
    const char* text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
  };
  const Expected expected[] = {
      {"Korvex Firmware Update Utility Error", "MIDI Response timeout", QMessageBox::Ok,
       QMessageBox::Ok},
      {"Korvex Firmware Update Utility", "Update anyway?", yesNo, QMessageBox::No},
      {"Korvex Firmware Update Utility", "Update anyway?", yesNo, QMessageBox::No},
      {"Korvex Firmware Update Utility", "midiOutLongMsg call failed - code 00000007\n", yesNo,
       QMessageBox::No},
  };
  ASSERT_EQ(runner.boxes.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(runner.boxes[i].caption, expected[i].caption) << i;
    EXPECT_EQ(runner.boxes[i].text, expected[i].text) << i;
    EXPECT_EQ(runner.boxes[i].buttons, expected[i].buttons) << i;
    EXPECT_EQ(runner.boxes[i].defaultButton, expected[i].defaultButton) << i;
    EXPECT_TRUE(runner.boxes[i].onGuiThread) << i;
    EXPECT_EQ(runner.boxes[i].owner, &owner) << i;
  }
}

// --- Sessions against the simulated module ---

// Constructed before the members of a fixture, which may be widgets.
struct WithApplication {
  WithApplication() { EnsureApplication(); }
};

class QtSessionTest : public testing::Test, private WithApplication {
 protected:
  QtSessionTest() {
    SimulatedPortsOptions quick;
    quick.link.baud = 0;
    quick.timing.answerMicros = 500;
    quick.timing.eraseMicros = 2000;
    quick.timing.programBlockMicros = 500;
    auto ports = std::make_unique<SimulatedModulePorts>(quick);
    module = &ports->module();
    layer.AddBackend(std::move(ports));
    InstallMidiDeviceLayer(&layer);
    window = std::make_unique<QtMainWindow>(runner);
    boxes = std::make_unique<QtMessageBoxes>(runner, window.get());
    InstallMessageBoxes(boxes.get());
    InstallProgressWindow(&progress);
  }
  ~QtSessionTest() override {
    ClosePorts();
    InstallProgressWindow(nullptr);
    InstallMessageBoxes(nullptr);
    boxes.reset();
    window.reset();
    InstallMidiDeviceLayer(nullptr);
  }

  QPushButton* Button(int id) { return As<QPushButton>(window->Control(id)); }
  QComboBox* List(int id) { return As<QComboBox>(window->Control(id)); }
  QLineEdit* NameFieldOf() { return As<QLineEdit>(window->Control(kImageNameField)); }
  QString Text(int id) { return As<QLabel>(window->Control(id))->text(); }

  void OpenAndChooseTheModule() {
    ASSERT_TRUE(window->Initialise());
    window->show();
    Activate();
    List(kTransmitToList)->setCurrentIndex(1);
    List(kReceiveFromList)->setCurrentIndex(1);
  }

  void Connect() {
    OpenAndChooseTheModule();
    QTest::mouseClick(Button(kConnectButton), Qt::LeftButton);
    ASSERT_TRUE(window->Logic().IsConnected()) << runner.Texts().back().toStdString();
    // The progress window took the activation while it was shown.
    Activate();
  }

  void Activate() {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  std::vector<std::string> saves;
  test::MemoryPortSettings settings{saves};
  ScriptedRunner runner;
  PortsDeviceLayer layer;
  SimulatedModule* module = nullptr;
  std::unique_ptr<QtMainWindow> window;
  std::unique_ptr<QtMessageBoxes> boxes;
  QtProgressWindow progress;
};

TEST_F(QtSessionTest, ConnectFindImageAndUpdate) {
  OpenAndChooseTheModule();
  EXPECT_TRUE(Button(kConnectButton)->isEnabled());
  EXPECT_FALSE(Button(kFindImageButton)->isEnabled());
  EXPECT_FALSE(Button(kUpdateButton)->isEnabled());

  QTest::mouseClick(Button(kConnectButton), Qt::LeftButton);
  ASSERT_EQ(runner.boxes.size(), 1u) << runner.Texts().back().toStdString();
  EXPECT_EQ(runner.boxes[0].caption, "Firmware Firmware Update Utility");
  EXPECT_EQ(runner.boxes[0].text, "Connection established!");
  EXPECT_EQ(runner.boxes[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(Text(kSerialField), "4b5804120001");
  EXPECT_EQ(Text(kVersionField), "1.2");
  EXPECT_EQ(Text(kProductField), "QX-412");
  EXPECT_TRUE(Button(kConnectButton)->isEnabled());
  EXPECT_TRUE(Button(kFindImageButton)->isEnabled());
  EXPECT_FALSE(Button(kUpdateButton)->isEnabled());
  EXPECT_FALSE(progress.isVisible());

  const std::vector<uint8_t> data = SevenBitData(600);
  const QString path = WriteImage(
      "session.kfw", ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, data).End().Bytes());
  runner.files = {path};
  QTest::mouseClick(Button(kFindImageButton), Qt::LeftButton);
  ASSERT_EQ(runner.chooserTitles.size(), 1u);
  EXPECT_EQ(runner.chooserTitles[0], "Korvex Firmware Update Utility file selector");
  EXPECT_EQ(runner.chooserFilters[0], QStringList{"Korvex Firmware Image (*.kfw)"});
  EXPECT_EQ(NameFieldOf()->text(), path);
  EXPECT_TRUE(Button(kFindImageButton)->isEnabled());
  EXPECT_TRUE(Button(kUpdateButton)->isEnabled());
  EXPECT_EQ(runner.boxes.size(), 1u);

  module->SetVersionAfterUpdate(1, 3);
  QTest::mouseClick(Button(kUpdateButton), Qt::LeftButton);
  ASSERT_EQ(runner.boxes.size(), 2u);
  EXPECT_EQ(runner.boxes[1].caption, "Firmware Firmware Update Utility");
  EXPECT_EQ(runner.boxes[1].text, "Firmware was successfully updated.");
  ASSERT_EQ(module->ProgrammedImages().size(), 1u);
  EXPECT_EQ(module->ProgrammedImages()[0], data);
  EXPECT_EQ(Text(kVersionField), "1.3");
  EXPECT_TRUE(Button(kConnectButton)->isEnabled());
  EXPECT_TRUE(Button(kFindImageButton)->isEnabled());
  EXPECT_TRUE(Button(kUpdateButton)->isEnabled());
  EXPECT_FALSE(window->Busy());
  EXPECT_FALSE(progress.isVisible());
}

TEST_F(QtSessionTest, CancelInTheProgressWindowEndsAnUpdateWhileTheMainWindowTakesNoInput) {
  Connect();
  const QString path = WriteImage(
      "slow.kfw",
      ImageWriter::Version1(0x0021, 0x0A).Delay(100).Image(1, 3, SevenBitData(300)).End().Bytes());
  NameFieldOf()->setText(path);
  NameFieldOf()->setFocus();
  QTest::keyClick(NameFieldOf(), Qt::Key_Tab);  // the name is taken as the focus leaves
  ASSERT_TRUE(Button(kUpdateButton)->isEnabled()) << runner.Texts().back().toStdString();

  bool sawBusyWindow = false;
  bool progressBackInFront = false;
  std::string nameWhileBusy;
  QTimer watch;
  watch.setInterval(10);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!progress.isVisible() || progress.Caption()->text() != "Delaying...") return;
    watch.stop();
    sawBusyWindow = window->Busy();
    // Clicks and keys on the main window are dropped while the procedure runs.
    QTest::mouseClick(Button(kExitButton), Qt::LeftButton);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    // The name field's notifications wait until the procedure has returned.
    NameFieldOf()->setText("later.kfw");
    QFocusEvent focusLost(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(NameFieldOf(), &focusLost);
    nameWhileBusy = window->Logic().ImageFileName();
    // Bringing the busy window to the front leaves the progress window in front of it.
    window->activateWindow();
    progressBackInFront = QTest::qWaitFor([&] { return progress.isActiveWindow(); }, 2000);
    QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
  });
  watch.start();
  const auto started = std::chrono::steady_clock::now();
  QTest::mouseClick(Button(kUpdateButton), Qt::LeftButton);
  const auto took = std::chrono::steady_clock::now() - started;

  EXPECT_TRUE(sawBusyWindow);
  EXPECT_TRUE(progressBackInFront);
  EXPECT_EQ(nameWhileBusy, path.toStdString());
  ASSERT_GE(runner.boxes.size(), 2u);
  EXPECT_EQ(runner.boxes[1].caption, "Korvex Firmware Update Utility Error");
  EXPECT_EQ(runner.boxes[1].text, "Operation canceled");
  EXPECT_LT(took, std::chrono::seconds(5));    // the delay record alone is 10 s
  EXPECT_EQ(module->CountCommands(0x13), 0u);  // no prepare area after the cancel
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->Logic().IsConnected());
  EXPECT_TRUE(Button(kUpdateButton)->isEnabled());
  EXPECT_FALSE(progress.isVisible());

  // Then the notifications that waited are handled.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return window->Logic().ImageFileName() == "later.kfw"; }, 2000));
  EXPECT_EQ(runner.boxes.back().text, "Can't open file later.kfw for reading");
  // The Exit click made during the run was dropped, not kept for later.
  QTest::qWait(50);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(QtSessionTest, TheUsersSelectionEndsTheConnectionTheProgramsDoesNot) {
  Connect();
  window->SelectPortEntry(kTransmitToList, 1);
  EXPECT_TRUE(window->Logic().IsConnected());
  List(kTransmitToList)->setCurrentIndex(0);
  EXPECT_FALSE(window->Logic().IsConnected());
  EXPECT_FALSE(Button(kConnectButton)->isEnabled());
  EXPECT_FALSE(Button(kFindImageButton)->isEnabled());
  EXPECT_FALSE(Button(kUpdateButton)->isEnabled());
}

TEST_F(QtSessionTest, TheNameIsTakenWhenTheFieldLosesTheFocus) {
  Connect();
  NameFieldOf()->setFocus();
  QTest::keyClicks(NameFieldOf(), "typed.kfw");
  EXPECT_EQ(window->Logic().ImageFileName(), "");
  EXPECT_EQ(runner.boxes.size(), 1u);
  List(kReceiveFromList)->setFocus();
  EXPECT_EQ(window->Logic().ImageFileName(), "typed.kfw");
  ASSERT_EQ(runner.boxes.size(), 2u);
  EXPECT_EQ(runner.boxes[1].text, "Can't open file typed.kfw for reading");
}

TEST_F(QtSessionTest, EscapeKeepsTheWindowTheCloseBoxSavesAndEndsIt) {
  OpenAndChooseTheModule();
  QSignalSpy finished(window.get(), &QDialog::finished);
  saves.clear();
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(finished.count(), 0);
  EXPECT_EQ(saves, (std::vector<std::string>{"save InputBus=1", "save OutputBus=1"}));

  List(kReceiveFromList)->setCurrentIndex(0);
  saves.clear();
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(saves, (std::vector<std::string>{"save InputBus=0", "save OutputBus=1"}));
}

TEST_F(QtSessionTest, ExitClosesTheWindowAfterItsClickHasBeenHandled) {
  OpenAndChooseTheModule();
  QSignalSpy finished(window.get(), &QDialog::finished);
  QTest::mouseClick(Button(kExitButton), Qt::LeftButton);
  EXPECT_TRUE(window->isVisible());  // the close request is posted
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 2000));
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace kfw
