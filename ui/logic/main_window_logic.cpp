#include "ui/logic/main_window_logic.h"

#include <vector>

#include "engine/connect.h"
#include "engine/transfer.h"
#include "engine/update.h"
#include "image/image_file.h"
#include "base/report.h"
#include "protocol/device_status.h"
#include "image/image_file_io.h"

namespace kfw {

namespace {

bool IsListSelection(int id, int code) {
  return (id == kReceiveFromList || id == kTransmitToList) && code == kListSelectionChange;
}

bool NoPortChosen(int32_t position) {
  return position == -1 || position == 0;
}

}  // namespace

std::string FirstCharacters(const std::string& text, size_t limit) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == limit) return text.substr(0, i);
    ++characters;
  }
  return text;
}

MainWindowLogic::MainWindowLogic(MainWindowControls& window) : window_(window) {}

MainWindowLogic::~MainWindowLogic() {
  InstallPortListWindow(nullptr);
}

bool MainWindowLogic::OnInitDialog() {
  InstallPortListWindow(&window_);
  EnableUpdate(0);
  EnableFindImage(0);
  EnableConnect(0);
  if (!FillPortLists()) return false;
  LoadPortSettings();
  return true;
}

void MainWindowLogic::OnCommand(int id, int code) {
  // Saved first at every notification, so the file holds the positions read at the one before.
  SavePortSettings();

  if (id == kImageNameField && code == kFieldKillFocus) {
    TakeImageFileName();
    PrevalidateImage();
  }

  if (IsListSelection(id, code)) {
    isConnected_ = false;
    EnableFindImage(0);
    EnableUpdate(0);
  }

  const bool clicked = code == kClicked;
  // The close request is handled after this notification; the steps below still run.
  if (clicked && id == kExitButton) window_.PostCloseRequest();

  if (clicked && id == kFindImageButton) {
    if (!isConnected_) {
      ShowError("Establish a connection first!");
      return;
    }
    ChooseImageFile();
    TakeImageFileName();
    PrevalidateImage();
  }

  ApplyConnectRule();

  if (clicked && id == kConnectButton) ConnectCommand();
  if (clicked && id == kUpdateButton) UpdateCommand();
}

void MainWindowLogic::OnCloseRequest() {
  SavePortSettings();
  window_.EndWindow();
}

void MainWindowLogic::EnableFindImage(uint32_t flag) {
  window_.EnableControl(kFindImageButton, (flag & 0xFF) != 0);
}

void MainWindowLogic::EnableConnect(uint32_t flag) {
  window_.EnableControl(kConnectButton, (flag & 0xFF) != 0);
}

void MainWindowLogic::ChooseImageFile() {
  // A notification during the dialog's own loop must not open a second one.
  if (chooserOpen_) return;
  imageFileName_.clear();
  std::string chosen;
  chooserOpen_ = true;
  const bool wasChosen = window_.ChooseFile(chosen);
  chooserOpen_ = false;
  if (!wasChosen) return;
  // The name field holds only the first 248 characters, and a cut path names another file, or
  // none: such a name is refused here, where the user can still do something about it.
  if (FirstCharacters(chosen, kImageFileNameLimit) != chosen) {
    ShowError("The file name chosen is longer than " + std::to_string(kImageFileNameLimit) +
              " characters: move or rename the file, then choose it again");
    return;
  }
  window_.SetControlText(kImageNameField, chosen);
}

void MainWindowLogic::PrevalidateImage() {
  if (!isConnected_ || imageFileName_.empty()) {
    EnableUpdate(0);
    return;
  }
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(imageFileName_, bytes, message)) {
    ShowError(message);
    EnableUpdate(0);
    return;
  }
  const ResultCode result = ValidateImage(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (result != kOk) {
    ShowError(ResultText(result));
    EnableUpdate(0);
    return;
  }
  EnableUpdate(1);
}

void MainWindowLogic::TakeImageFileName() {
  imageFileName_ = FirstCharacters(window_.ControlText(kImageNameField), kImageFileNameLimit);
}

void MainWindowLogic::ApplyConnectRule() {
  inputBus = window_.SelectedPosition(kReceiveFromList);
  outputBus = window_.SelectedPosition(kTransmitToList);
  EnableConnect(!NoPortChosen(inputBus) && !NoPortChosen(outputBus));
}

void MainWindowLogic::DropConnection() {
  // The ports were closed at the start of this Connect. A window that still called itself
  // connected would let Update send on closed ports, which ends the process.
  isConnected_ = false;
  EnableFindImage(0);
  EnableUpdate(0);
}

void MainWindowLogic::ConnectCommand() {
  ClosePorts();
  if (NoPortChosen(outputBus)) {
    DropConnection();
    ShowError("MIDI Transmit bus not selected");
    return;
  }
  if (NoPortChosen(inputBus)) {
    DropConnection();
    ShowError("MIDI Receive bus not selected");
    return;
  }
  // Each entry keeps its own device number: a device whose name could not be read has no entry,
  // and the position no longer tells the device.
  if (!OpenPorts(InputDeviceAt(inputBus), OutputDeviceAt(outputBus))) {
    DropConnection();
    return;
  }
  isConnected_ = false;
  TakeImageFileName();

  const ResultCode result = window_.RunProcedure([] { return Connect(deviceInfo); });
  if (result != kOk) {
    ClosePorts();
    EnableFindImage(0);
    EnableUpdate(0);
    ShowError(ResultText(result));
    return;
  }
  window_.SetControlText(kSerialField, deviceInfo.serialText);
  window_.SetControlText(kVersionField, deviceInfo.versionText);
  window_.SetControlText(kProductField, deviceInfo.productName);
  isConnected_ = true;
  window_.ShowSuccess(kConnectedText);
  EnableFindImage(1);
  EnableUpdate(0);
  PrevalidateImage();
}

void MainWindowLogic::UpdateCommand() {
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(imageFileName_, bytes, message)) {
    ShowError(message);
    return;
  }
  const uint32_t length = static_cast<uint32_t>(bytes.size());
  ResultCode result = ValidateImage(bytes.data(), length);
  if (result != kOk) {
    ShowError(ResultText(result));
    return;
  }
  result = window_.RunProcedure([&] { return RunUpdate(bytes.data(), length, deviceInfo); });
  if (result != kOk) {
    // Once the module was told to erase its firmware area, the version shown is no longer what it
    // holds: it has no verified firmware until an update succeeds, as its next Connect shows.
    if (firmwareAreaErased) window_.SetControlText(kVersionField, "");
    ShowError(ResultText(result));
    return;
  }
  window_.SetControlText(kSerialField, deviceInfo.serialText);
  window_.SetControlText(kVersionField, deviceInfo.versionText);
  window_.ShowSuccess(kUpdatedText);
}

}  // namespace kfw
