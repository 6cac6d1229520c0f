#include "scandata/data_set_hooks.h"

#include "services/sounds.h"
#include "platform/backend.h"
#include "services/engine_notice.h"

namespace tarmic {

namespace {
DataSetHooks g_hooks;
}

DataSetHooks& GetDataSetHooks() { return g_hooks; }

void ResetDataSetHooks() { g_hooks = DataSetHooks(); }

int ActiveModelIdentity() { return g_hooks.activeModel ? g_hooks.activeModel() : 0; }
unsigned long long ModelSettingsIdentity() { return g_hooks.modelSettings ? g_hooks.modelSettings() : 0; }

void RunAfterReload(Window* window) {
  // The menu commands install the Run command here; until then a reload only
  // loads.
  if (g_hooks.runAfterReload) g_hooks.runAfterReload(window);
}

const char* LoadMessageIdName(LoadMessageId id) {
  switch (id) {
    case LoadMessageId::TooManyScans: return "too-many-scans";
    case LoadMessageId::NoScanFiles: return "no-scan-files";
    case LoadMessageId::FilesLeftOut: return "files-left-out";
    case LoadMessageId::UnreadableFile: return "unreadable-file";
    case LoadMessageId::OneFileSelected: return "one-file-selected";
    case LoadMessageId::SwitchToEquilibrium: return "switch-to-equilibrium";
    case LoadMessageId::MixedDataTypes: return "mixed-data-types";
    case LoadMessageId::TemperatureFluctuation: return "temperature-fluctuation";
    case LoadMessageId::ScanTimes: return "scan-times";
    case LoadMessageId::VelocityRunAsEquilibrium: return "velocity-as-equilibrium";
    case LoadMessageId::EquilibriumRunAsVelocity: return "equilibrium-as-velocity";
    case LoadMessageId::InterruptedSaves: return "interrupted-saves";
    case LoadMessageId::ReaderNotes: return "reader-notes";
    case LoadMessageId::FluorescenceTimeCorrection: return "fluorescence-time-correction";
    case LoadMessageId::TimeStampDiscrepancy: return "time-stamp-discrepancy";
  }
  return "";
}

int ShowLoadMessage(Window* window, const LoadMessage& message) {
  if (g_hooks.showLoadMessage) return g_hooks.showLoadMessage(window, message);
  if (message.sound == LoadMessage::Sound::Info) PlayInfoSound();
  if (message.sound == LoadMessage::Sound::Error) PlayErrorSound();
  return RaiseBox(message.text, message.caption, message.style);
}

}  // namespace tarmic
