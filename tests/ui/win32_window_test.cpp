// The Win32 windows under Wine (or Windows): the dialog resources against the templates the Qt
// window is built from, the progress window on its own thread in each of its states, the boxes,
// and whole sessions of the main window against the simulated module in real time (a quick module
// on an unlimited link: a session takes a second or two). The main window runs on a thread of its
// own, as the program's main thread runs it; the test drives it from outside with the messages its
// controls send.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "image/image_writer.h"
#include "midi/port_layer.h"
#include "protocol/device_status.h"
#include "sim/module_ports.h"
#include "tests/support/doubles.h"
#include "ui/logic/dialog_templates.h"
#include "ui/win32/boxes.h"
#include "ui/win32/main_window.h"
#include "ui/win32/progress_window.h"
#include "ui/win32/text.h"

namespace kfw {
namespace {

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

// The progress bar's class is registered once, as the program does at its start.
void RegisterCommonControls() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != 0;
  }();
  ASSERT_TRUE(registered);
}

// Polls until the condition holds, for at most ten seconds: windows of other threads come and go
// in their own time.
bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The visible dialogs of this process: the windows a user would see.
int VisibleDialogs() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM counted) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
            ClassName(window) == "#32770") {
          ++*reinterpret_cast<int*>(counted);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// ---- UTF-8 and UTF-16 ----

TEST(Win32TextTest, NamesInAnyScriptGoBothWaysUnchangedAndBrokenBytesAreShownNotDropped) {
  const std::tuple<std::string, std::wstring> rows[] = {
      {"", L""},
      {"demo.kfw", L"demo.kfw"},
      {"C:\\Firmware\\\xC3\x9C"
       "ber.kfw",
       L"C:\\Firmware\\\u00DCber.kfw"},
      {"\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB", L"\u30D5\u30A1\u30A4\u30EB"},
      {"\xF0\x9F\x8E\xB9", L"\xD83C\xDFB9"},  // outside the basic plane: a surrogate pair
  };
  for (const auto& [utf8, utf16] : rows) {
    EXPECT_EQ(Utf16FromUtf8(utf8), utf16) << utf8;
    EXPECT_EQ(Utf8FromUtf16(utf16), utf8) << utf8;
  }
  EXPECT_EQ(Utf16FromUtf8("a\xFF"
                          "b"),
            L"a\uFFFDb");
}

// ---- The dialog resources ----

// A dialog resource as windres wrote it (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items), read
// back field by field: the templates are compared in dialog units, as written, before any window
// or visual style changes a style bit.
struct ResourceControl {
  int id;
  std::string className;
  std::string text;
  int x, y, width, height;
  DWORD style;
};

struct ResourceDialog {
  DWORD style;
  int width, height;
  std::string title;
  int pointSize;
  std::string font;
  std::vector<ResourceControl> controls;
};

class TemplateReader {
 public:
  explicit TemplateReader(const uint8_t* bytes) : at_(bytes) {}

  template <typename T>
  T Take() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  std::string String() {
    std::wstring text;
    for (wchar_t c = Take<wchar_t>(); c != 0; c = Take<wchar_t>()) text.push_back(c);
    return Utf8FromUtf16(text);
  }
  // A name or a number: the predefined window classes are numbers.
  std::string StringOrNumber() {
    static const std::map<uint16_t, std::string> kClasses = {
        {0x80, "Button"}, {0x81, "Edit"}, {0x82, "Static"}, {0x85, "ComboBox"}};
    uint16_t first;
    std::memcpy(&first, at_, sizeof first);
    if (first != 0xFFFF) return String();
    at_ += sizeof first;
    const uint16_t number = Take<uint16_t>();
    return kClasses.count(number) ? kClasses.at(number) : "#" + std::to_string(number);
  }
  void AlignToDword() {
    while (reinterpret_cast<uintptr_t>(at_) % 4 != 0) ++at_;
  }

 private:
  const uint8_t* at_;
};

ResourceDialog ReadDialogResource(const wchar_t* name) {
  ResourceDialog dialog{};
  HRSRC found = FindResourceW(Instance(), name, MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (!found) return dialog;
  TemplateReader read(static_cast<const uint8_t*>(LockResource(LoadResource(Instance(), found))));
  if (read.Take<uint16_t>() != 1 || read.Take<uint16_t>() != 0xFFFF) return dialog;  // not EX
  read.Take<DWORD>();                                                                // help ID
  read.Take<DWORD>();  // extended style
  dialog.style = read.Take<DWORD>();
  const uint16_t count = read.Take<uint16_t>();
  read.Take<int16_t>();
  read.Take<int16_t>();
  dialog.width = read.Take<int16_t>();
  dialog.height = read.Take<int16_t>();
  read.StringOrNumber();  // menu
  read.StringOrNumber();  // class
  dialog.title = read.String();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = read.Take<uint16_t>();
    read.Take<uint16_t>();  // weight
    read.Take<uint16_t>();  // italic, character set
    dialog.font = read.String();
  }
  for (uint16_t i = 0; i < count; ++i) {
    read.AlignToDword();
    ResourceControl control{};
    read.Take<DWORD>();  // help ID
    read.Take<DWORD>();  // extended style
    control.style = read.Take<DWORD>();
    control.x = read.Take<int16_t>();
    control.y = read.Take<int16_t>();
    control.width = read.Take<int16_t>();
    control.height = read.Take<int16_t>();
    control.id = static_cast<int>(read.Take<DWORD>());
    control.className = read.StringOrNumber();
    control.text = read.StringOrNumber();
    const uint16_t extra = read.Take<uint16_t>();
    for (uint16_t skipped = 0; skipped < extra; ++skipped) read.Take<uint8_t>();
    dialog.controls.push_back(control);
  }
  return dialog;
}

struct ResourceRow {
  const wchar_t* name;
  const DialogTemplate& (*dialog)();
  bool captionBar;
};

void PrintTo(const ResourceRow& row, std::ostream* out) {
  *out << Utf8FromUtf16(row.name);
}

class DialogResourceTest : public testing::TestWithParam<ResourceRow> {};

bool HasStyle(DWORD style, DWORD bits) {
  return (style & bits) == bits;
}

// What each kind of control must be, in the dialog manager's terms.
void ExpectKind(const ResourceControl& control, const ControlTemplate& expected) {
  const DWORD style = control.style;
  switch (expected.kind) {
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      EXPECT_EQ(control.className, "Button");
      EXPECT_EQ(
          style & BS_TYPEMASK,
          static_cast<DWORD>(expected.kind == ControlKind::kDefaultPushButton ? BS_DEFPUSHBUTTON
                                                                              : BS_PUSHBUTTON));
      EXPECT_TRUE(HasStyle(style, WS_TABSTOP));
      break;
    case ControlKind::kLabel:
    case ControlKind::kCentredLabel:
      EXPECT_EQ(control.className, "Static");
      EXPECT_EQ(
          style & SS_TYPEMASK,
          static_cast<DWORD>(expected.kind == ControlKind::kCentredLabel ? SS_CENTER : SS_LEFT));
      break;
    case ControlKind::kEdit:
      EXPECT_EQ(control.className, "Edit");
      EXPECT_TRUE(HasStyle(style, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP));
      EXPECT_FALSE(HasStyle(style, ES_MULTILINE));
      break;
    case ControlKind::kPortList:
      EXPECT_EQ(control.className, "ComboBox");
      EXPECT_EQ(style & 3, static_cast<DWORD>(CBS_DROPDOWN));
      EXPECT_TRUE(HasStyle(style, WS_VSCROLL | WS_TABSTOP));
      // Positions are the order of insertion.
      EXPECT_FALSE(HasStyle(style, CBS_SORT));
      break;
    case ControlKind::kBar:
      // Class names are told apart without regard to case; windres writes them in capitals.
      EXPECT_EQ(lstrcmpiA(control.className.c_str(), PROGRESS_CLASSA), 0) << control.className;
      EXPECT_TRUE(HasStyle(style, WS_BORDER));
      break;
  }
  EXPECT_TRUE(HasStyle(style, WS_CHILD | WS_VISIBLE));
  EXPECT_EQ(HasStyle(style, WS_DISABLED), expected.disabled);
}

TEST_P(DialogResourceTest, HoldsTheTemplatesControlsInTabOrderWithTheirPlacesTextsAndStyles) {
  const DialogTemplate& expected = GetParam().dialog();
  const ResourceDialog dialog = ReadDialogResource(GetParam().name);
  EXPECT_EQ(dialog.title, expected.title);
  EXPECT_EQ(std::make_pair(dialog.width, dialog.height),
            std::make_pair(expected.width, expected.height));
  EXPECT_EQ(std::make_pair(dialog.pointSize, dialog.font),
            std::make_pair(8, std::string("MS Sans Serif")));
  EXPECT_TRUE(HasStyle(dialog.style, WS_POPUP | DS_MODALFRAME | DS_CENTER));
  EXPECT_EQ(HasStyle(dialog.style, WS_CAPTION), GetParam().captionBar);
  EXPECT_EQ(HasStyle(dialog.style, WS_SYSMENU), GetParam().captionBar);
  EXPECT_FALSE(HasStyle(dialog.style, WS_MINIMIZEBOX) || HasStyle(dialog.style, WS_MAXIMIZEBOX));

  ASSERT_EQ(dialog.controls.size(), expected.controls.size());
  for (size_t i = 0; i < expected.controls.size(); ++i) {
    const ControlTemplate& want = expected.controls[i];
    const ResourceControl& have = dialog.controls[i];
    SCOPED_TRACE(testing::Message()
                 << "control " << i << " (" << want.id << " \"" << want.text << "\")");
    EXPECT_EQ(have.id, want.id);
    EXPECT_EQ(have.text, want.text);
    EXPECT_EQ(std::make_tuple(have.x, have.y, have.width, have.height),
              std::make_tuple(want.x, want.y, want.width, want.height));
    ExpectKind(have, want);
  }
}

TEST_P(DialogResourceTest, MakesAWindowWithEveryControl) {
  RegisterCommonControls();
  // A procedure that does nothing: only the dialog manager and the controls' classes are tried.
  HWND made = CreateDialogParamW(
      Instance(), GetParam().name, nullptr,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(made, nullptr);
  for (const ControlTemplate& control : GetParam().dialog().controls) {
    if (control.id != kNoControlId) {
      EXPECT_NE(GetDlgItem(made, control.id), nullptr) << control.id;
    }
  }
  DestroyWindow(made);
}

INSTANTIATE_TEST_SUITE_P(Windows, DialogResourceTest,
                         testing::Values(ResourceRow{L"DIALOG", MainWindowTemplate, true},
                                         ResourceRow{L"PROGRESS", ProgressWindowTemplate, false}),
                         [](const testing::TestParamInfo<ResourceRow>& row) {
                           return row.param.captionBar ? "MainWindow" : "ProgressWindow";
                         });

// ---- The boxes ----

// Answers boxes from a queue (else with OK or No) and the open-file dialog with `file` (cancels
// when it is empty), recording what each showed.
class ScriptedRunner final : public Win32DialogRunner {
 public:
  struct Box {
    HWND owner;
    std::string caption;
    std::string text;
    UINT type;
    bool operator==(const Box&) const = default;
    friend void PrintTo(const Box& box, std::ostream* out) {
      *out << "{owner " << box.owner << ", \"" << box.caption << "\", \"" << box.text
           << "\", type 0x" << std::hex << box.type << std::dec << "}";
    }
  };

  int RunMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                    UINT type) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back({owner, Utf8FromUtf16(caption), Utf8FromUtf16(text), type});
    if (!answers_.empty()) {
      const int answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    }
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
  }
  bool RunFileDialog(OPENFILENAMEW& record) override {
    std::lock_guard lock(mutex_);
    chooser_ = record;
    title_ = record.lpstrTitle ? Utf8FromUtf16(record.lpstrTitle) : "";
    // The filter is a list of strings, each ended by a NUL, ended by an empty one.
    filter_.clear();
    for (const wchar_t* part = record.lpstrFilter; part && *part; part += wcslen(part) + 1) {
      filter_.push_back(Utf8FromUtf16(part));
    }
    if (file_.empty()) return false;
    const std::wstring name = Utf16FromUtf8(file_);
    if (name.size() >= record.nMaxFile) return false;
    std::copy(name.c_str(), name.c_str() + name.size() + 1, record.lpstrFile);
    return true;
  }

  void Answer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
  }
  void ChooseFile(const std::string& file) {
    std::lock_guard lock(mutex_);
    file_ = file;
  }
  std::vector<Box> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> Filter() {
    std::lock_guard lock(mutex_);
    return filter_;
  }
  // The record as the dialog got it; its strings lived only as long as the dialog.
  OPENFILENAMEW Chooser() {
    std::lock_guard lock(mutex_);
    return chooser_;
  }
  std::string Title() {
    std::lock_guard lock(mutex_);
    return title_;
  }

 private:
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::vector<int> answers_;
  std::string file_;
  OPENFILENAMEW chooser_{};
  std::string title_;
  std::vector<std::string> filter_;
};

TEST(Win32BoxesTest, EachBoxHasItsCaptionAndButtonsAndIsOwnedOnlyOnTheOwnersThread) {
  ScriptedRunner runner;
  Win32MessageBoxes boxes(runner);
  HWND owner =
      CreateWindowW(L"STATIC", L"owner", 0, 0, 0, 10, 10, nullptr, nullptr, Instance(), nullptr);
  ASSERT_NE(owner, nullptr);
  boxes.SetOwner(owner);
  const UINT question = MB_YESNO | MB_DEFBUTTON2;
  const std::string error = "Korvex Firmware Update Utility Error";
  const std::string asking = "Korvex Firmware Update Utility";

  boxes.ShowError("MIDI Response timeout");
  // Answers: Yes, No, a box that could not be shown (0), and Yes to the fatal text.
  for (const int answer : {IDYES, IDNO, 0, IDYES}) runner.Answer(answer);
  EXPECT_TRUE(boxes.AskYesNo("Update anyway?"));
  EXPECT_FALSE(boxes.AskYesNo("Update anyway?"));
  EXPECT_FALSE(boxes.AskYesNo("Update anyway?"));
  boxes.ShowFatal("midiOutLongMsg call failed - code 00000007\n");
  // From the MIDI input thread: the owner's thread does not look at its messages meanwhile.
  std::thread([&] { boxes.ShowFatal("midiInAddBuffer returned 00000005\n"); }).join();

  using Box = ScriptedRunner::Box;
  EXPECT_EQ(
      runner.Boxes(),
      (std::vector<Box>{{owner, error, "MIDI Response timeout", MB_OK},
                        {owner, asking, "Update anyway?", question},
                        {owner, asking, "Update anyway?", question},
                        {owner, asking, "Update anyway?", question},
                        {owner, asking, "midiOutLongMsg call failed - code 00000007\n", question},
                        {nullptr, asking, "midiInAddBuffer returned 00000005\n", question}}));
  DestroyWindow(owner);
}

// ---- The progress window ----

class Win32ProgressTest : public testing::Test {
 protected:
  void SetUp() override { RegisterCommonControls(); }

  bool WaitUntilShown() {
    return WaitFor([&] {
      HWND window = progress.Window();
      return window && IsWindowVisible(window);
    });
  }
  std::wstring Caption() { return WindowText(GetDlgItem(progress.Window(), kProgressCaption)); }
  LRESULT Percent() {
    return SendDlgItemMessageW(progress.Window(), kProgressBar, PBM_GETPOS, 0, 0);
  }
  // What the window's controls send it.
  void Command(int id, int code) {
    HWND window = progress.Window();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
  }

  Win32ProgressWindow progress{Instance()};
};

TEST_F(Win32ProgressTest, ShowsWhatWasSetBeforeItWasSetUpAndAfterwardsInItsBarOfAHundred) {
  progress.Show();
  // Right after the start, before the window's thread has made it.
  progress.Update(
      "\xC3\x9C"
      "bertragung...",
      40);
  ASSERT_TRUE(WaitUntilShown());
  EXPECT_EQ(Caption(), L"\u00DCbertragung...");
  EXPECT_EQ(Percent(), 40);
  EXPECT_EQ(SendDlgItemMessageW(progress.Window(), kProgressBar, PBM_GETRANGE, FALSE, 0), 100);
  progress.Update("Updating firmware area...", 75);
  EXPECT_EQ(Caption(), L"Updating firmware area...");
  EXPECT_EQ(Percent(), 75);
  EXPECT_EQ(VisibleDialogs(), 1);
  progress.Hide();
  EXPECT_EQ(progress.Window(), nullptr);
  EXPECT_EQ(VisibleDialogs(), 0);
}

TEST_F(Win32ProgressTest, CancelOnlyRaisesTheFlagAndEscapeDoesNothing) {
  progress.Show();
  ASSERT_TRUE(WaitUntilShown());
  Command(kEscapeCommand, BN_CLICKED);
  EXPECT_EQ(CancelFlag.load(), 0);
  Command(kProgressCancelButton, BN_CLICKED);
  Command(kProgressCancelButton, BN_CLICKED);
  EXPECT_EQ(CancelFlag.load(), 1);
  // Neither closes the window nor disables the button.
  EXPECT_TRUE(IsWindowVisible(progress.Window()));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(progress.Window(), kProgressCancelButton)));
  progress.Hide();
}

TEST_F(Win32ProgressTest, EndsFromTheCallingThreadInEveryStateAndANewOneCanFollow) {
  // Still starting: it ends before it is ever shown.
  progress.Show();
  progress.Hide();
  EXPECT_EQ(progress.Window(), nullptr);
  EXPECT_EQ(VisibleDialogs(), 0);
  // Twice in a row.
  progress.Hide();

  // Closed by a close request: it goes without cancelling, later captions change nothing and
  // the close from the calling thread is harmless.
  progress.Show();
  ASSERT_TRUE(WaitUntilShown());
  PostMessageW(progress.Window(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return progress.Window() == nullptr; }));
  EXPECT_EQ(VisibleDialogs(), 0);
  progress.Update("Delaying...", 10);
  progress.Hide();
  EXPECT_EQ(CancelFlag.load(), 0);

  // A new window, set up afresh: an empty caption and an empty bar.
  progress.Show();
  ASSERT_TRUE(WaitUntilShown());
  EXPECT_EQ(Caption(), L"");
  EXPECT_EQ(Percent(), 0);
  progress.Hide();
  EXPECT_EQ(VisibleDialogs(), 0);
}

// ---- The main window ----

// The port choice in memory, starting with none remembered.
class MemorySettings final : public PortSettingsStore {
 public:
  bool Open() override { return true; }
  bool Read(const char* name, int32_t& value) override {
    std::lock_guard lock(mutex_);
    if (!values_.count(name)) return false;
    value = values_[name];
    return true;
  }
  bool Write(const char* name, int32_t value) override {
    std::lock_guard lock(mutex_);
    values_[name] = value;
    return true;
  }
  void Close() override {}
  std::map<std::string, int32_t> Values() {
    std::lock_guard lock(mutex_);
    return values_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int32_t> values_;
};

class Win32MainWindowTest : public testing::Test {
 protected:
  explicit Win32MainWindowTest(bool withModule = true) {
    RegisterCommonControls();
    SimulatedPortsOptions quick;
    quick.link.baud = 0;
    quick.timing = {.answerMicros = 500, .eraseMicros = 2000, .programBlockMicros = 500};
    if (withModule) {
      auto ports = std::make_unique<SimulatedModulePorts>(quick);
      module = &ports->module();
      layer.AddBackend(std::move(ports));
    }
  }
  // The window's thread is ended first; the seams, and with them the ports, go after it.
  ~Win32MainWindowTest() override {
    if (ui.joinable()) {
      if (HWND running = window.Window()) PostMessageW(running, WM_CLOSE, 0, 0);
      ui.join();
    }
  }

  // Runs the window on a thread of its own, as the program's main thread does, until it is set up.
  void Start() {
    ui = std::thread([this] { status = window.Run(); });
    ASSERT_TRUE(WaitFor([&] { return window.Window() != nullptr; }));
    dialog = window.Window();
  }
  // Waits for the window to end; its exit status.
  int Finish() {
    ui.join();
    return status;
  }

  HWND Control(int id) { return GetDlgItem(dialog, id); }
  // What a control sends its dialog; sent, so it returns when the command has been handled.
  void Notify(int id, int code) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Control(id)));
  }
  void Click(int id) { Notify(id, BN_CLICKED); }
  void UserSelects(int list, int position) {
    SendMessageW(Control(list), CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    Notify(list, CBN_SELCHANGE);
  }
  // Typed into the name field, then the field loses the focus.
  void UserTypesName(const std::string& name) {
    SetWindowTextW(Control(kImageNameField), Utf16FromUtf8(name).c_str());
    Notify(kImageNameField, EN_KILLFOCUS);
  }
  std::string Text(int id) { return Utf8FromUtf16(WindowText(Control(id))); }
  std::vector<std::string> Entries(int list) {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(Control(list), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      std::wstring entry(static_cast<size_t>(SendMessageW(Control(list), CB_GETLBTEXTLEN, i, 0)),
                         L'\0');
      SendMessageW(Control(list), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data()));
      entries.push_back(Utf8FromUtf16(entry));
    }
    return entries;
  }
  // Whether Connect, Find image and Update are enabled, in that order.
  std::string Buttons() {
    const auto state = [&](int id) { return IsWindowEnabled(Control(id)) ? '1' : '0'; };
    return {state(kConnectButton), state(kFindImageButton), state(kUpdateButton)};
  }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : runner.Boxes()) texts.push_back(box.text);
    return texts;
  }
  // A name in the scratch directory, as UTF-8.
  static std::string ScratchName(const std::string& name) {
    const std::u8string directory = test::ScratchDirectory().u8string();
    return std::string(directory.begin(), directory.end()) + "\\" + name;
  }
  static std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  }
  static std::string WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = ScratchName(name);
    std::ofstream(PathOf(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  void ConnectToModule() {
    Start();
    UserSelects(kTransmitToList, 1);
    UserSelects(kReceiveFromList, 1);
    Click(kConnectButton);
    ASSERT_EQ(Buttons(), "110");
  }

  PortsDeviceLayer layer;
  SimulatedModule* module = nullptr;
  MemorySettings settings;
  ScriptedRunner runner;
  Win32MessageBoxes boxes{runner};
  Win32ProgressWindow progress{Instance()};
  Win32MainWindow window{runner, boxes, Instance()};
  InstalledSeams seams{
      {.deviceLayer = &layer, .portSettings = &settings, .boxes = &boxes, .progress = &progress}};
  std::thread ui;
  int status = -1;
  HWND dialog = nullptr;
};

const std::string kSuccess = "Firmware Firmware Update Utility";

TEST_F(Win32MainWindowTest, ConnectsTakesATypedNameInAnyScriptAndUpdatesTheSimulatedModule) {
  Start();
  EXPECT_EQ(WindowText(dialog), L"Korvex Firmware Update Utility - V1.03b");
  const std::vector<std::string> listed{kChooseAPort, kSimulatedPortName};
  EXPECT_EQ(Entries(kTransmitToList), listed);
  EXPECT_EQ(Entries(kReceiveFromList), listed);
  EXPECT_EQ(Buttons(), "000");

  UserSelects(kTransmitToList, 1);
  EXPECT_EQ(Buttons(), "000");
  UserSelects(kReceiveFromList, 1);
  EXPECT_EQ(Buttons(), "100");
  Click(kConnectButton);
  EXPECT_EQ(Buttons(), "110");
  EXPECT_EQ(Text(kSerialField), deviceInfo.serialText);
  EXPECT_EQ(Text(kVersionField), "1.2");
  EXPECT_EQ(Text(kProductField), "QX-412");

  // A folder and a file whose names are not ASCII.
  const std::vector<uint8_t> data(600, 0x2B);
  std::filesystem::create_directories(
      PathOf(ScratchName("Pr\xC3\xBC"
                         "fung")));
  const std::string name = WriteImage(
      "Pr\xC3\xBC"
      "fung\\\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.kfw",
      ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, data).End().Bytes());
  UserTypesName(name);
  EXPECT_EQ(window.Logic().ImageFileName(), name);
  ASSERT_EQ(Buttons(), "111") << testing::PrintToString(BoxTexts());

  module->SetVersionAfterUpdate(1, 3);
  Click(kUpdateButton);
  EXPECT_EQ(module->ProgrammedImages(), std::vector<std::vector<uint8_t>>{data});
  EXPECT_EQ(Text(kVersionField), "1.3");
  EXPECT_EQ(VisibleDialogs(), 1);  // the progress window has gone with its thread
  using Box = ScriptedRunner::Box;
  EXPECT_EQ(runner.Boxes(),
            (std::vector<Box>{{dialog, kSuccess, "Connection established!", MB_OK},
                              {dialog, kSuccess, "Firmware was successfully updated.", MB_OK}}));

  // Exit: the close request follows the command; the choice is saved on the way out.
  UserSelects(kReceiveFromList, 0);
  Click(kExitButton);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(settings.Values(),
            (std::map<std::string, int32_t>{{kInputBusValue, 0}, {kOutputBusValue, 1}}));
}

TEST_F(Win32MainWindowTest, FindImageShowsTheKfwChooserOwnedByTheWindowAndTakesTheChosenName) {
  ConnectToModule();
  const std::string name =
      WriteImage("chosen.kfw", ImageWriter::Version1(0x0021, 0x0A)
                                   .Image(1, 3, std::vector<uint8_t>(300, 0x11))
                                   .End()
                                   .Bytes());
  runner.ChooseFile(name);
  Click(kFindImageButton);
  const OPENFILENAMEW chooser = runner.Chooser();
  EXPECT_EQ(chooser.hwndOwner, dialog);
  EXPECT_EQ(runner.Title(), "Korvex Firmware Update Utility file selector");
  EXPECT_EQ(runner.Filter(), (std::vector<std::string>{"Korvex Firmware Image (*.kfw)", "*.kfw"}));
  EXPECT_EQ(chooser.Flags, static_cast<DWORD>(OFN_HIDEREADONLY));
  EXPECT_EQ(Text(kImageNameField), name);
  EXPECT_EQ(Buttons(), "111");

  // Cancelled: the field keeps its name, taken and checked again.
  runner.ChooseFile("");
  Click(kFindImageButton);
  EXPECT_EQ(Text(kImageNameField), name);
  EXPECT_EQ(Buttons(), "111");
}

TEST_F(Win32MainWindowTest, EscapeAndEnterAreCommandsLikeAnyOtherAndTheCloseBoxEndsTheWindow) {
  Start();
  UserSelects(kTransmitToList, 1);
  UserSelects(kReceiveFromList, 1);
  for (const int command : {kEscapeCommand, kOkCommand}) {
    Click(command);
    EXPECT_NE(window.Window(), nullptr) << command;
  }
  EXPECT_EQ(settings.Values(),
            (std::map<std::string, int32_t>{{kInputBusValue, 1}, {kOutputBusValue, 1}}));
  // The close box.
  SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(runner.Boxes().empty());
}

class Win32MainWindowWithoutPortsTest : public Win32MainWindowTest {
 protected:
  Win32MainWindowWithoutPortsTest() : Win32MainWindowTest(false) {}
};

TEST_F(Win32MainWindowWithoutPortsTest, EndsWithStatusOneAfterItsMessageWithoutShowingTheWindow) {
  ui = std::thread([this] { status = window.Run(); });
  EXPECT_EQ(Finish(), 1);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{"No MIDI input buses available! Please install your MIDI "
                                     "interface's Windows driver"});
  EXPECT_EQ(window.Window(), nullptr);
}

}  // namespace
}  // namespace kfw
