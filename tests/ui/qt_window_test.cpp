// The Qt windows on the offscreen platform against the simulated module in real time: a quick
// module on an unlimited link, so a session takes about two seconds (the procedures' own waits are
// ticks of 100 ms).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPointer>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "image/image_writer.h"
#include "midi/backends/backends.h"
#include "midi/port_layer.h"
#include "midi/port_settings_file.h"
#include "sim/module_ports.h"
#include "tests/support/doubles.h"
#include "ui/qt/boxes.h"
#include "ui/qt/desktop_identity.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/gui_thread.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_window.h"

namespace kfw {
namespace {

// Constructed before the fixture's members, which are widgets.
struct WithApplication {
  WithApplication() {
    static int argc = 1;
    static char name[] = "kfw_ui_qt_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform cannot raise windows, and says so every time one is shown.
    static const QtMessageHandler standard = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
          if (text != "This plugin does not support raise()") standard(type, context, text);
        });
    new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
};

// The offscreen platform has no window manager, and nothing becomes active when the active window
// goes. A desktop's window manager gives the activation back to the window that had it before, and
// with it the keyboard focus to that window's control: this does the same.
class WindowManager final : public QObject {
 public:
  WindowManager() { qApp->installEventFilter(this); }
  ~WindowManager() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow()) return false;
    if (event->type() == QEvent::WindowActivate) {
      activated_.removeAll(widget);
      activated_.append(widget);
    } else if (event->type() == QEvent::Hide) {
      const bool wasOnTop = !activated_.isEmpty() && activated_.last() == widget;
      activated_.removeAll(widget);
      while (!activated_.isEmpty() && (!activated_.last() || !activated_.last()->isVisible())) {
        activated_.removeLast();
      }
      if (wasOnTop && !activated_.isEmpty()) activated_.last()->activateWindow();
    }
    return false;
  }

 private:
  QList<QPointer<QWidget>> activated_;
};

// Waits until the window is the one that has the keyboard. (A box counts as active for the platform
// as soon as its owner is.)
bool WaitUntilActive(QWidget* window) {
  return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; });
}

// Caption, text, buttons and default button of a box.
using Box = std::tuple<std::string, std::string, int, int>;
constexpr int kOk = QMessageBox::Ok;
constexpr int kYes = QMessageBox::Yes;

// Answers boxes from a queue (else with the default button) and the file chooser with `file`
// (cancels when it is empty), recording what each showed. With showBoxes, a box is shown for real
// in its own loop, as the user sees it: it takes the focus, what the window handles meanwhile runs
// inside that loop, and whileShown acts on it before the answer is clicked; `shown` keeps where
// each box stood and `results` what ended each.
class ScriptedRunner final : public QtDialogRunner {
 public:
  int RunMessageBox(QMessageBox& box) override {
    EXPECT_TRUE(OnGuiThread());
    const int defaultButton = box.standardButton(box.defaultButton());
    boxes.emplace_back(box.windowTitle().toStdString(), box.text().toStdString(),
                       box.standardButtons().toInt(), defaultButton);
    const int answer = answers.empty() ? defaultButton : answers.takeFirst();
    if (!showBoxes) return answer;
    QTimer::singleShot(0, &box, [this, &box, answer] {
      EXPECT_TRUE(WaitUntilActive(&box));
      shown.push_back(box.frameGeometry());
      if (whileShown) whileShown(box);
      if (box.isVisible()) box.button(static_cast<QMessageBox::StandardButton>(answer))->click();
    });
    results.push_back(box.exec());
    return results.back();
  }
  bool RunFileDialog(QFileDialog& dialog, QString& chosen) override {
    chooser = dialog.windowTitle() + " " + dialog.nameFilters().join(";");
    chosen = file;
    return !file.isEmpty();
  }

  std::vector<Box> boxes;
  QList<int> answers;
  QString chooser, file;
  bool showBoxes = false;
  std::function<void(QMessageBox&)> whileShown;
  std::vector<QRect> shown;
  std::vector<int> results;
};

// The text a label shows, as a screen reader reads it out: markup, if the label took its text as
// such, is gone from it.
std::string ShownText(QWidget* label) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
  return accessible ? accessible->text(QAccessible::Name).toStdString() : "";
}

std::vector<std::string> Texts(const std::vector<Box>& boxes) {
  std::vector<std::string> texts;
  for (const Box& box : boxes) texts.push_back(std::get<1>(box));
  return texts;
}

class QtWindowTest : public testing::Test, private WithApplication {
 protected:
  // Without the module there is no MIDI port at all.
  explicit QtWindowTest(const ModuleIdentity& identity = {}, bool withModule = true) {
    SimulatedPortsOptions quick;
    quick.identity = identity;
    quick.link.baud = 0;
    quick.timing = {.answerMicros = 500, .eraseMicros = 2000, .programBlockMicros = 500};
    if (withModule) {
      auto ports = std::make_unique<SimulatedModulePorts>(quick);
      module = &ports->module();
      layer.AddBackend(std::move(ports));
    }
  }

  QComboBox* List(int id) { return static_cast<QComboBox*>(window.Control(id)); }
  // Whether Connect, Find image and Update are enabled, in that order.
  std::string Buttons() {
    const auto state = [&](int id) { return window.Control(id)->isEnabled() ? '1' : '0'; };
    return {state(kConnectButton), state(kFindImageButton), state(kUpdateButton)};
  }

  // Set up, shown, active, the module chosen both ways and connected.
  void ConnectToModule() {
    ASSERT_TRUE(window.Initialise());
    window.show();
    ASSERT_TRUE(WaitUntilActive(&window));
    List(kTransmitToList)->setCurrentIndex(1);
    List(kReceiveFromList)->setCurrentIndex(1);
    QTest::mouseClick(window.Control(kConnectButton), Qt::LeftButton);
    ASSERT_TRUE(window.Logic().IsConnected());
    ASSERT_TRUE(WaitUntilActive(&window));  // back from the box
  }
  static QString WriteImage(const char* name, const std::vector<uint8_t>& bytes) {
    QFile file(QString::fromStdString((test::ScratchDirectory() / name).string()));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.fileName();
  }

  // Every test starts with no ports remembered.
  static std::string FreshSettingsFile() {
    const std::filesystem::path path = test::ScratchDirectory() / "ports.conf";
    std::filesystem::remove(path);
    return path.string();
  }

  WindowManager windowManager;
  FilePortSettingsStore settings{FreshSettingsFile()};
  ScriptedRunner runner;
  PortsDeviceLayer layer;
  SimulatedModule* module = nullptr;
  QtMainWindow window{runner};
  QtMessageBoxes boxes{runner, &window};
  QtProgressWindow progress;
  InstalledSeams seams{
      {.deviceLayer = &layer, .portSettings = &settings, .boxes = &boxes, .progress = &progress}};
};

TEST_F(QtWindowTest, ConnectFindImageAndUpdateTheSimulatedModuleOnceCancelledOnceAsked) {
  ASSERT_TRUE(window.Initialise());
  window.show();
  List(kTransmitToList)->setCurrentIndex(1);
  List(kReceiveFromList)->setCurrentIndex(1);
  EXPECT_EQ(Buttons(), "100");
  QTest::mouseClick(window.Control(kConnectButton), Qt::LeftButton);
  EXPECT_EQ(Buttons(), "110");

  // The module's own version, after a delay of a second.
  const std::vector<uint8_t> data(600, 0x2B);
  const std::vector<uint8_t> image =
      ImageWriter::Version1(0x0021, 0x0A).Delay(10).Image(1, 2, data).End().Bytes();
  QFile file(QString::fromStdString((test::ScratchDirectory() / "session.kfw").string()));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
  file.close();
  runner.file = file.fileName();
  QTest::mouseClick(window.Control(kFindImageButton), Qt::LeftButton);
  EXPECT_EQ(runner.chooser,
            "Korvex Firmware Update Utility file selector Korvex Firmware Image (*.kfw)");
  EXPECT_EQ(window.ControlText(kImageNameField), file.fileName().toStdString());
  EXPECT_EQ(Buttons(), "111");

  // Cancelled while the delay runs; the main window drops the Exit click made meanwhile.
  QTimer::singleShot(300, [&] {
    QTest::mouseClick(window.Control(kExitButton), Qt::LeftButton);
    QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
  });
  QTest::mouseClick(window.Control(kUpdateButton), Qt::LeftButton);
  EXPECT_EQ(module->CountCommands(0x13), 0u);  // no prepare area after the cancel
  QTest::qWait(50);
  EXPECT_TRUE(window.isVisible());

  // Declined: asked before the erase, so the module keeps its firmware and the window its version.
  runner.answers = {QMessageBox::No};
  QTest::mouseClick(window.Control(kUpdateButton), Qt::LeftButton);
  EXPECT_EQ(module->CountCommands(0x13), 0u);
  EXPECT_EQ(module->Identity().state, 0);
  EXPECT_EQ(window.ControlText(kVersionField), "1.2");

  module->SetVersionAfterUpdate(1, 3);
  runner.answers = {QMessageBox::Yes};
  QTest::mouseClick(window.Control(kUpdateButton), Qt::LeftButton);
  EXPECT_EQ(module->ProgrammedImages(), std::vector<std::vector<uint8_t>>{data});
  EXPECT_EQ(window.ControlText(kVersionField), "1.3");
  EXPECT_EQ(Buttons(), "111");
  EXPECT_FALSE(progress.isVisible());
  const std::string success = "Firmware Firmware Update Utility";
  EXPECT_EQ(
      runner.boxes,
      (std::vector<Box>{{success, "Connection established!", kOk, kOk},
                        {"Korvex Firmware Update Utility Error", "Operation canceled", kOk, kOk},
                        {"Korvex Firmware Update Utility", TextTable[kTextSameVersionQuestion],
                         (QMessageBox::Yes | QMessageBox::No).toInt(), QMessageBox::No},
                        {"Korvex Firmware Update Utility Error", "Operation canceled", kOk, kOk},
                        {"Korvex Firmware Update Utility", TextTable[kTextSameVersionQuestion],
                         (QMessageBox::Yes | QMessageBox::No).toInt(), QMessageBox::No},
                        {success, "Firmware was successfully updated.", kOk, kOk}}));

  // The name field reports the loss of the focus, the program's selections nothing.
  QTest::keyClicks(window.Control(kImageNameField), "x");
  EXPECT_EQ(window.Logic().ImageFileName(), file.fileName().toStdString());
  QFocusEvent focusLost(QEvent::FocusOut);
  QApplication::sendEvent(window.Control(kImageNameField), &focusLost);
  EXPECT_EQ(window.Logic().ImageFileName(), file.fileName().toStdString() + "x");
  // Escape is a command like any other: the Connect rule sees the program's selection.
  window.SelectPortEntry(kReceiveFromList, 0);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_EQ(Buttons(), "010");
  List(kReceiveFromList)->setCurrentIndex(1);
  EXPECT_FALSE(window.Logic().IsConnected());
  EXPECT_EQ(Buttons(), "100");

  // Exit closes the window once its click has been handled.
  QTest::mouseClick(window.Control(kExitButton), Qt::LeftButton);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
}

TEST_F(QtWindowTest, TheProgressWindowsEscapeDoesNothingAndItsCloseRequestDoesNotCancel) {
  progress.Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return progress.isVisible(); }, 2000));
  QTest::keyClick(progress.CancelButton(), Qt::Key_Escape);
  EXPECT_TRUE(progress.isVisible());
  progress.close();
  EXPECT_FALSE(progress.isVisible());
  EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(QtWindowTest, OneLossOfTheNameFieldsFocusIsOneCheckHoweverOftenTheProgramsWindowsComeAndGo) {
  runner.showBoxes = true;
  ConnectToModule();
  const std::vector<uint8_t> data(600, 0x2B);
  runner.file =
      WriteImage("good.kfw", ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, data).End().Bytes());
  QTest::mouseClick(window.Control(kFindImageButton), Qt::LeftButton);
  ASSERT_EQ(Buttons(), "111");
  auto* field = static_cast<QLineEdit*>(window.Control(kImageNameField));
  const std::string missing = (test::ScratchDirectory() / "missing.kfw").string();
  const std::string cannotOpen = "Can't open file " + missing + " for reading";
  const std::string success = "Firmware was successfully updated.";

  // A missing file's name typed over the good one, then Enter: Update runs on the good file while
  // the focus leaves the field for each progress window and comes back, then leaves it for the
  // success box. The name is checked once, when the field first lost the focus.
  runner.boxes.clear();
  QTest::mouseClick(field, Qt::LeftButton);
  field->selectAll();
  QTest::keyClicks(field, QString::fromStdString(missing));
  QTest::keyClick(field, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(module->ProgrammedImages(), std::vector<std::vector<uint8_t>>{data});
  EXPECT_EQ(Texts(runner.boxes), (std::vector<std::string>{success, cannotOpen}));
  EXPECT_EQ(window.Logic().ImageFileName(), missing);

  // The user going back into the field and out again is a loss of its own.
  runner.boxes.clear();
  ASSERT_TRUE(WaitUntilActive(&window));
  QTest::mouseClick(field, Qt::LeftButton);
  QTest::keyClick(field, Qt::Key_Tab);
  EXPECT_EQ(Texts(runner.boxes), std::vector<std::string>{cannotOpen});

  // So is each departure to another program, though the name is the same.
  runner.boxes.clear();
  ASSERT_TRUE(WaitUntilActive(&window));
  QTest::mouseClick(field, Qt::LeftButton);
  for (int away = 0; away < 2; ++away) {
    QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }));  // back, after the box
  }
  EXPECT_EQ(Texts(runner.boxes), (std::vector<std::string>(2, cannotOpen)));
}

TEST_F(QtWindowTest, WhileAProcedureRunsABusyCursorStandsOverTheWholeMainWindow) {
  // The cursor over the middle of each control, as the pointer would take it.
  const auto cursors = [&] {
    std::vector<Qt::CursorShape> shapes;
    for (const int id : {kConnectButton, kFindImageButton, kUpdateButton, kExitButton,
                         kTransmitToList, kReceiveFromList, kImageNameField, kProductField}) {
      shapes.push_back(window.childAt(window.Control(id)->geometry().center())->cursor().shape());
    }
    return shapes;
  };
  const std::vector<Qt::CursorShape> idle = cursors();
  EXPECT_NE(std::ranges::count(idle, Qt::WaitCursor), static_cast<long>(idle.size()));
  // Looked at when the connect procedure shows its progress window.
  struct OnShow : QObject {
    std::function<void()> action;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Show) action();
      return false;
    }
  } onShow;
  std::vector<Qt::CursorShape> whileConnecting;
  onShow.action = [&] { whileConnecting = cursors(); };
  progress.installEventFilter(&onShow);
  ConnectToModule();
  EXPECT_EQ(whileConnecting, std::vector<Qt::CursorShape>(idle.size(), Qt::WaitCursor));
  EXPECT_EQ(cursors(), idle);
}

class QtWindowWithoutPortsTest : public QtWindowTest {
 protected:
  QtWindowWithoutPortsTest() : QtWindowTest({}, /*withModule=*/false) {}
};

TEST_F(QtWindowWithoutPortsTest, TheBoxShownBeforeTheWindowIsCentredOnTheScreen) {
  runner.showBoxes = true;
  EXPECT_FALSE(window.Initialise());
  ASSERT_EQ(runner.shown.size(), 1u);
  EXPECT_EQ(std::get<1>(runner.boxes[0]).rfind("No MIDI input buses available!", 0), 0u);
  const QPoint offCentre =
      runner.shown[0].center() - QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
}

// Started from the desktop's menu on a machine without MIDI: the program's own device layer says
// what is true on Linux, not that a Windows driver is missing, and ends the program as before.
TEST_F(QtWindowWithoutPortsTest, OnLinuxTheBoxSaysWhatIsMissingAndHowToTryWithoutHardware) {
  BackendOptions nothing;
  nothing.systemBackends = false;
  const auto standard = MakeStandardDeviceLayer(std::move(nothing));
  InstallMidiDeviceLayer(standard.get());
  EXPECT_FALSE(window.Initialise());
  InstallMidiDeviceLayer(&layer);
  ASSERT_EQ(runner.boxes.size(), 1u);
  const std::string text = std::get<1>(runner.boxes[0]);
  EXPECT_EQ(text.rfind("No MIDI input found: ", 0), 0u) << text;
  EXPECT_NE(text.find("start it with --simulator."), std::string::npos) << text;
  EXPECT_EQ(text.find("Windows"), std::string::npos) << text;
}

TEST_F(QtWindowTest, EveryBoxIsWideEnoughForItsCaptionBesideTheTitleBarsButtons) {
  runner.showBoxes = true;
  window.show();
  boxes.ShowError("Operation canceled");
  window.ShowSuccess("Connection established!");
  boxes.AskYesNo("Update anyway?");
  QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  titleFont.setBold(true);
  const QFontMetrics title(titleFont);
  // Minimise, maximise and close, each at least as wide as the bar is high.
  const int buttons = 3 * window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  ASSERT_EQ(runner.shown.size(), runner.boxes.size());
  for (size_t i = 0; i < runner.shown.size(); ++i) {
    const std::string& caption = std::get<0>(runner.boxes[i]);
    EXPECT_GE(runner.shown[i].width(),
              title.horizontalAdvance(QString::fromStdString(caption)) + buttons)
        << caption;
  }
}

TEST_F(QtWindowTest, OnlyItsButtonsAnswerTheQuestionAndTheFatalTextNotEscapeNorTheCloseBox) {
  runner.showBoxes = true;
  window.show();
  bool answeredYes = false;
  const std::function<void()> boxesShown[] = {
      [&] { answeredYes = boxes.AskYesNo(TextTable[kTextSameVersionQuestion]); },
      [&] { boxes.ShowFatal("midiOutLongMsg call failed - code 00000007\n"); }};
  const std::function<void(QMessageBox&)> attempts[] = {
      [](QMessageBox& box) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &box,
                        Qt::Key_Escape);
      },
      [](QMessageBox& box) { box.close(); }};
  for (const auto& show : boxesShown) {
    for (const auto& attempt : attempts) {
      bool stillShown = false;
      runner.whileShown = [&](QMessageBox& box) {
        attempt(box);
        stillShown = box.isVisible();
      };
      runner.answers = {kYes};
      show();
      EXPECT_TRUE(stillShown);
      EXPECT_EQ(runner.results.back(), kYes);
    }
  }
  EXPECT_TRUE(answeredYes);
}

// The keys of a desktop entry's "[Desktop Entry]" group; none when there is no such file.
std::map<std::string, std::string> DesktopEntryKeys(const std::string& path) {
  std::map<std::string, std::string> keys;
  std::ifstream file(path);
  std::string line;
  bool inGroup = false;
  while (std::getline(file, line)) {
    if (line.starts_with('[')) {
      inGroup = line == "[Desktop Entry]";
    } else if (const size_t equals = line.find('='); inGroup && equals != std::string::npos) {
      keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  return keys;
}

// Docks find the entry by the window's desktop file name and show the icon the entry names: the
// window shows that same icon, drawn from the file installed under that name.
TEST_F(QtWindowTest, TheWindowNamesItsDesktopEntryAndShowsTheIconThatEntryNames) {
  SetDesktopIdentity();
  const std::string id = QGuiApplication::desktopFileName().toStdString();
  const std::string directory = KFW_DESKTOP_DIRECTORY;
  const std::map<std::string, std::string> entry =
      DesktopEntryKeys(directory + "/" + id + ".desktop");
  ASSERT_TRUE(entry.contains("Icon")) << "no desktop entry \"" << id << ".desktop\" with an icon";
  EXPECT_EQ(entry.at("Icon"), id);

  const QImage shown = window.windowIcon().pixmap(48, 48).toImage();
  ASSERT_FALSE(shown.isNull()) << "no icon, or no SVG icon engine to draw it";
  const QString installed = QString::fromStdString(directory + "/" + entry.at("Icon") + ".svg");
  EXPECT_EQ(shown, QIcon(installed).pixmap(48, 48).toImage());
  int drawn = 0;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) drawn += qAlpha(shown.pixel(x, y)) > 0;
  }
  EXPECT_GT(drawn, shown.width() * shown.height() / 4);
}

class QtWindowMarkupTest : public QtWindowTest {
 protected:
  QtWindowMarkupTest() : QtWindowTest({.productName = "<b>QX</b>-412"}) {}
};

TEST_F(QtWindowMarkupTest, TheModulesNameAndAFileNameAreShownAsTheyAreNotAsMarkup) {
  runner.showBoxes = true;
  std::vector<std::string> boxTexts;
  runner.whileShown = [&](QMessageBox& box) {
    boxTexts.push_back(ShownText(box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))));
  };
  ConnectToModule();
  EXPECT_EQ(ShownText(window.Control(kProductField)), "<b>QX</b>-412");
  const std::string name = (test::ScratchDirectory() / "<i>fw</i>.kfw").string();
  QTest::mouseClick(window.Control(kImageNameField), Qt::LeftButton);
  QTest::keyClicks(window.Control(kImageNameField), QString::fromStdString(name));
  QTest::keyClick(window.Control(kImageNameField), Qt::Key_Tab);
  EXPECT_EQ(boxTexts, (std::vector<std::string>{"Connection established!",
                                                "Can't open file " + name + " for reading"}));
}

}  // namespace
}  // namespace kfw
