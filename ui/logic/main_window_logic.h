// The main window's command handling, written once over a small window interface addressed by
// control IDs: the Qt window and the Win32 window's dialog procedure drive it alike, and the tests
// drive it with a fake window and no display.
//
// The window raises the notifications a dialog's controls raise (OnCommand with the control ID and
// the notification code), its close request (OnCloseRequest), and calls OnInitDialog once before it
// is shown.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/report.h"
#include "base/result.h"
#include "midi/ports.h"
#include "ui/logic/dialog_templates.h"

namespace kfw {

// Commands that come from no control: what Enter (when no button takes it) and Escape send.
inline constexpr int kOkCommand = 1;
inline constexpr int kEscapeCommand = 2;

// Notification codes, with a dialog's numbers. A button click is code 0.
inline constexpr int kClicked = 0;              // BN_CLICKED
inline constexpr int kListSelectionChange = 1;  // CBN_SELCHANGE
inline constexpr int kListSetFocus = 3;         // CBN_SETFOCUS
inline constexpr int kListKillFocus = 4;        // CBN_KILLFOCUS
inline constexpr int kListDropDown = 7;         // CBN_DROPDOWN
inline constexpr int kListCloseUp = 8;          // CBN_CLOSEUP
inline constexpr int kFieldSetFocus = 0x0100;   // EN_SETFOCUS
inline constexpr int kFieldKillFocus = 0x0200;  // EN_KILLFOCUS
inline constexpr int kFieldChange = 0x0300;     // EN_CHANGE
inline constexpr int kFieldUpdate = 0x0400;     // EN_UPDATE

// The image file name is taken from the field with at most this many characters.
inline constexpr size_t kImageFileNameLimit = 248;

inline constexpr const char* kChooserTitle = "Korvex Firmware Update Utility file selector";
inline constexpr const char* kChooserFilter = "Korvex Firmware Image (*.kfw)";
inline constexpr const char* kChooserPattern = "*.kfw";

// What the command logic needs of the window. Every call comes from the window's own thread. The
// port lists and the Update button of PortListWindow are part of it.
class MainWindowControls : public PortListWindow {
 public:
  // Enables or disables a button.
  virtual void EnableControl(int id, bool enabled) = 0;
  // The selected position of list 1003 or 1004; -1 when nothing is selected.
  virtual int32_t SelectedPosition(int list) = 0;
  // The whole text of a control, as UTF-8.
  virtual std::string ControlText(int id) = 0;
  // Sets a control's text. Setting the name field's text raises its change notifications, as a
  // dialog's edit control does.
  virtual void SetControlText(int id, const std::string& text) = 0;
  // Asks the window to close once the current notification has been handled; the close then
  // arrives as OnCloseRequest.
  virtual void PostCloseRequest() = 0;
  // Ends the window: the program's end follows.
  virtual void EndWindow() = 0;
  // A box with the caption kSuccessCaption, the text and an OK button; returns when confirmed.
  virtual void ShowSuccess(const std::string& text) = 0;
  // The open-file dialog (title kChooserTitle, filter kChooserFilter). True with the chosen name;
  // false when the user cancelled.
  virtual bool ChooseFile(std::string& name) = 0;
  // Runs a procedure that talks to the module and returns its result. The window takes no input
  // meanwhile; the procedure may call the progress window and the boxes.
  virtual ResultCode RunProcedure(const std::function<ResultCode()>& procedure) = 0;

  void EnableUpdate(bool enabled) override { EnableControl(kUpdateButton, enabled); }
};

class MainWindowLogic {
 public:
  explicit MainWindowLogic(MainWindowControls& window);
  ~MainWindowLogic();
  MainWindowLogic(const MainWindowLogic&) = delete;
  MainWindowLogic& operator=(const MainWindowLogic&) = delete;

  // Setting up: the window becomes the home of the port lists, the three buttons are disabled,
  // the lists filled and the remembered ports selected. False, after its message, when there is
  // no MIDI input or no MIDI output at all: the program then ends with status 1.
  bool OnInitDialog();
  // One notification of a control, or a command (kOkCommand, kEscapeCommand).
  void OnCommand(int id, int code);
  // The close box, or the close request posted by Exit: saves the port choice and ends the window.
  void OnCloseRequest();

  void EnableFindImage(uint32_t flag);  // only the low 8 bits count
  void EnableConnect(uint32_t flag);
  // Shows the open-file dialog; a chosen name goes into the name field.
  void ChooseImageFile();
  // Checks the file named by the last name taken and enables Update only if it may be played to
  // the connected module.
  void PrevalidateImage();

  bool IsConnected() const { return isConnected_; }
  const std::string& ImageFileName() const { return imageFileName_; }

 private:
  void TakeImageFileName();
  void ApplyConnectRule();
  void ConnectCommand();
  void UpdateCommand();
  void DropConnection();

  MainWindowControls& window_;
  bool isConnected_ = false;
  std::string imageFileName_;
  bool chooserOpen_ = false;
};

// The first `limit` characters (code points) of a UTF-8 text; never splits a character.
std::string FirstCharacters(const std::string& text, size_t limit);

}  // namespace kfw
