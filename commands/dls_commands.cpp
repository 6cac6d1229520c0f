// The DLS tools of the main window: "load DLS Data" reads dlsdat files as the data
// set (as g(2) - 1 when the preference "always load intensity autocorrelation
// g(2)-1" is on, else as g(1)); "save mean DLS Data in tarmic format" writes the
// mean correlation function of the loaded set; the toggle turns the loaded
// functions from g(2) - 1 into g(1) or back; the two-column converters turn text
// tables of lag time and correlation into dlsdat files.
#include <optional>
#include <string>
#include <vector>

#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "modelcalc/dls_data_set.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/dls_ascii_import.h"
#include "scandata/dls_file.h"
#include "scandata/radial_grid.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kDLSFilter = "DLS data (*.dlsdat)|*.dlsdat|All Files (*.*)|*.*";
constexpr const char* kConvertCaption = "CONVERT DLS DATA";

// The parameters of the experiment that a two-column table does not carry, asked
// one after the other; false when one is cancelled. With several tables the
// elapsed time is that of the first and the others follow at a fixed interval.
struct TableParameters {
  DLSInfo record;
  float interval = 0.0f;  // s between consecutive tables
};

bool AskTableParameters(TXLAWindow& w, int tables, TableParameters* out) {
  float temperature = 0, viscosity = 0, index = 0, angle = 0, wavelengthNm = 0, time = 0;
  if (!AskFloat(w, &temperature, 20.0f, "temperature (C)", kConvertCaption, kTemperature) ||
      !AskFloat(w, &viscosity, 0.01002f, "solvent viscosity (poise)", kConvertCaption,
                NamedAs("solvent viscosity", kBufferViscosity)) ||
      !AskFloat(w, &index, 1.33f, "refractive index of the solvent", kConvertCaption, kRefractiveIndex) ||
      !AskFloat(w, &angle, 90.0f, "scattering angle (degrees)", kConvertCaption, kScatteringAngle) ||
      !AskFloat(w, &wavelengthNm, 633.0f, "laser wavelength (nm)", kConvertCaption, kLaserWavelength) ||
      !AskFloat(w, &time, 0.0f,
                tables > 1 ? "elapsed time of the first file (sec)" : "elapsed time (sec)",
                kConvertCaption, kMeasurementTime))
    return false;
  out->interval = 0.0f;
  // Files measured one after the other: a time between them of 0 would give them
  // all one time.
  if (tables > 1 &&
      !AskFloat(w, &out->interval, 60.0f, "time between files (sec)", kConvertCaption,
                {"time between files", "s", Closed(1e-3, kMeasurementTime.range.high)}))
    return false;
  DLSInfo& r = out->record;
  r = DLSInfo{};
  r.temperatureC = temperature;
  r.viscosity = viscosity;
  r.refractiveIndex = index;
  r.scatteringAngle = angle;
  r.laserWavelength = wavelengthNm * 1e-9f;
  r.elapsedTime = time;
  return true;
}

// Converts the chosen tables, in the order chosen, each into a dlsdat file beside
// it (DLSDatPathFor). A table that cannot be converted is reported and skipped.
void ConvertTwoColumnTables(TXLAWindow& w, AsciiCorrelation values, const char* title) {
  if (bFileDialogOpen) return;
  FileDialogOptions options;
  options.title = title;
  options.filter = "All Files (*.*)|*.*|text files (*.txt;*.dat;*.asc)|*.txt;*.dat;*.asc";
  options.multiSelect = true;
  ReadLastDataDirectory(&w, options.directory);
  bFileDialogOpen = true;
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  bFileDialogOpen = false;
  if (files.empty()) return;
  SaveLastDataDirectory(&w, files.front());
  TableParameters p;
  if (!AskTableParameters(w, static_cast<int>(files.size()), &p)) return;
  bool allDone = true;
  for (std::size_t k = 0; k < files.size(); ++k) {
    DLSInfo record = p.record;
    record.elapsedTime += static_cast<double>(p.interval) * static_cast<double>(k);
    const std::string target = DLSDatPathFor(files[k]);
    std::string error, note;
    if (!ConvertTwoColumnDLS(files[k].c_str(), target.c_str(), record, values, &error, &note)) {
      allDone = false;
      ShowError(Format("could not convert %s\n%s", files[k].c_str(), error.c_str()), false);
    } else if (!note.empty() && HasBackend()) {
      GetBackend().MessageBox(note, "CONVERT DLS DATA", MB_OK | MB_ICONINFORMATION);
    }
  }
  if (allDone) PlayOkSound();
}

}  // namespace

void TXLAWindow::CmLoadDLSData() {
  if (bFileDialogOpen) return;
  FileDialogOptions options;
  options.title = "load DLS Data";
  options.filter = kDLSFilter;
  options.multiSelect = true;
  ReadLastDataDirectory(this, options.directory);
  bFileDialogOpen = true;
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  bFileDialogOpen = false;
  if (files.empty()) return;
  SaveLastDataDirectory(this, files.front());
  const std::string refused =
      LoadDLSData(&GetHandle(), MakeSelectionBuffer(files).c_str(), bAlwaysLoadG2);
  if (!refused.empty()) {
    PlayInfoSound();
    CommandMessageBox(*this, refused, "LOAD ERROR", MB_OK | MB_ICONEXCLAMATION);
  }
  UpdateMenuForLoadedData();
}

void TXLAWindow::CmSaveMeanDLSData() {
  if (!DataSet().bDLSData || DataSet().nScans < 1) return;
  FileDialogOptions options;
  options.title = "save mean DLS Data as";
  options.filter = kDLSFilter;
  options.directory = DataSet().szDataDirectory;
  options.defaultName = "average.dlsdat";
  options.defaultExt = "dlsdat";
  const std::optional<std::string> path = AskSaveFilePath(*this, options);
  if (!path || !MayReplace(*this, {*path})) return;
  std::string error;
  if (!SaveMeanDLSData(path->c_str(), &error))
    ShowError(Format("could not write %s\n%s", path->c_str(), error.c_str()), false);
  else
    PlayOkSound();
}

// Turns every loaded correlation function from the field autocorrelation g(1) into
// the intensity autocorrelation g(2) - 1 (signed squares) or back (signed square
// roots), as the first record says they are now. The model values follow, so that
// the residuals stay the difference of data and fit in one form; the common grid
// rows follow the data.
void TXLAWindow::CmToggleCorrelationForm() {
  if (DataSet().nScans < 1 || !DataSet().bDLSData || DataSet().pDLSInfo.size() <= static_cast<std::size_t>(DataSet().nScans)) return;
  const bool toIntensity = DataSet().pDLSInfo[1].bFieldACF;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::size_t k = static_cast<std::size_t>(s);
    const int n = DataSet().pnPoints[k];
    const bool changed = toIntensity ? ConvertFieldToIntensityACF(n, DataSet().ppSignal[k], &DataSet().pDLSInfo[k]) != 0
                                     : ConvertIntensityToFieldACF(n, DataSet().ppSignal[k], &DataSet().pDLSInfo[k]) != 0;
    if (changed && k < DataSet().ppFit.size() && DataSet().ppFit[k]) {
      for (int j = 1; j <= n; ++j)
        DataSet().ppFit[k][j] = toIntensity ? SignedSquare(DataSet().ppFit[k][j]) : SignedSqrt(DataSet().ppFit[k][j]);
    }
    FillGridSignalRow(s);
  }
  DataSet().bDataChanged = true;
  const char* label =
      toIntensity ? "g(2)-1 intensity autocorrelation " : "g(1) field autocorrelation ";
  if (DataPlots().pDataPlot) DataPlots().pDataPlot->SetYAxisLabel(label);
  if (DataPlots().pResidualsPlot) DataPlots().pResidualsPlot->SetYAxisLabel(label);
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  GetHandle().Invalidate();
}

// Two-column tables of lag time (s) and g(1), or of lag time and g(2) - 1.
void TXLAWindow::CmConvertTwoColumnData() {
  ConvertTwoColumnTables(*this, AsciiCorrelation::Field, "2 column ASCII data (lag time, g(1))");
}

void TXLAWindow::CmConvertTwoColumnG2() {
  ConvertTwoColumnTables(*this, AsciiCorrelation::Intensity,
                         "2 column ASCII g(2)-1 (lag time, g(2)-1)");
}

}  // namespace tarmic
