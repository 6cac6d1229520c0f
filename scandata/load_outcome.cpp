#include "scandata/load_outcome.h"

#include <algorithm>
#include <cmath>

#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "scandata/scan_times_check.h"

namespace tarmic {

namespace {

template <typename T>
void AddOnce(std::vector<T>& values, T v) {
  if (std::find(values.begin(), values.end(), v) == values.end()) values.push_back(v);
}

}  // namespace

const char* LoadStatusName(LoadOutcome::Status status) {
  switch (status) {
    case LoadOutcome::Status::NotLoaded: return "not loaded";
    case LoadOutcome::Status::Loaded: return "loaded";
    case LoadOutcome::Status::Refused: return "refused";
  }
  return "";
}

void DescribeLoadedSet(LoadOutcome* outcome) {
  auto& dataSetPart = DataSet();
  auto& scanFilePart = ScanFile();
  LoadOutcome& o = *outcome;
  o.kind = dataSetPart.bDLSData ? "DLS" : scanFilePart.bElectrophoresisMode ? "electrophoresis" : dataSetPart.bEquilibriumMode ? "equilibrium" : "velocity";
  // Fluorescence data count as absorbance data as well: they are asked first.
  o.signal = scanFilePart.bFluorescenceData ? "fluorescence" : scanFilePart.bInterferenceData ? "interference" : scanFilePart.bIntensityData ? "intensity"
                                                                                                      : "absorbance";
  o.scans.clear();
  o.cells.clear();
  o.wavelengths.clear();
  o.kindJudgement = {};
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    o.scans.push_back(ScanFilePath(s));
    if (static_cast<std::size_t>(s) >= dataSetPart.pScanInfo.size()) continue;
    const ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(s)];
    AddOnce(o.cells, info.cell);
    // Wavelength scans hold their radius there: they have no one wavelength.
    if (info.scanType != 'W' && info.scanType != 'V') AddOnce(o.wavelengths, std::lround(info.wavelength));
  }
  std::sort(o.cells.begin(), o.cells.end());
  std::sort(o.wavelengths.begin(), o.wavelengths.end());
  if (dataSetPart.bDLSData || scanFilePart.bElectrophoresisMode) return;
  o.kindJudgement = JudgeDataKind();
  // The note of the other kind of run, recorded once (the window's load shows it).
  const LoadMessageId other =
      dataSetPart.bEquilibriumMode ? LoadMessageId::VelocityRunAsEquilibrium : LoadMessageId::EquilibriumRunAsVelocity;
  if (const std::string id = LoadMessageIdName(other); !HasMessage(o.messages, id))
    if (std::string note = dataSetPart.bEquilibriumMode ? VelocityRunAsEquilibriumNote() : EquilibriumRunAsVelocityNote();
        !note.empty())
      o.messages.push_back({id, std::move(note)});
}

}  // namespace tarmic
