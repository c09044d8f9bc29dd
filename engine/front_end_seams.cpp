#include "engine/front_end_seams.h"

namespace kfw {

InstalledSeams::InstalledSeams(const FrontEndSeams& seams) : seams_(seams) {
  if (seams_.deviceLayer) InstallMidiDeviceLayer(seams_.deviceLayer);
  if (seams_.portSettings) InstallPortSettingsStore(seams_.portSettings);
  if (seams_.boxes) InstallMessageBoxes(seams_.boxes);
  if (seams_.progress) InstallProgressWindow(seams_.progress);
}

InstalledSeams::~InstalledSeams() {
  if (seams_.deviceLayer) ClosePorts();
  if (seams_.progress) InstallProgressWindow(nullptr);
  if (seams_.boxes) InstallMessageBoxes(nullptr);
  if (seams_.portSettings) InstallPortSettingsStore(nullptr);
  if (seams_.deviceLayer) InstallMidiDeviceLayer(nullptr);
}

}  // namespace kfw
