// Sorting of equilibrium series (see the header).
//
// Grouping. The key of a scan is floor(wavelength) + 1000 cell + the section offset
// (10000, 20000, 30000 for the section files whose names start with 'i', 'm', 'o';
// 0 for all others). Scan i starts a new key unless a key already handled lies
// within the tolerance; the members of a key are the scans j >= i of the same cell
// and section whose wavelength differs from scan i's by less than the tolerance.
// Both tests use the same strict bound, so that every scan either joins a key or
// starts one. Within a key, each rotor speed (compared in whole rpm) makes one
// series: its scans in index order, its latest scan (greatest time; the first of
// equal times) appended once more at the end.
#include "commands/equilibrium_sorting.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <optional>

#include "app/panes.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
#include "services/replace_question.h"
#include "services/error_box.h"
#include "numerics/interpolation.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/intensity_scans.h"
#include "scandata/data_set.h"
#include "scandata/offset_tools.h"
#include "scandata/experiment_file.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

CWINPlot* pAuxPlot = nullptr;
bool bEqCollectGroupsOnly = false;
int nEqGroups = 0;
std::vector<int> pEqGroupSizes;
std::vector<std::vector<int>> ppEqGroups;
bool bEqSingleCell = true;
int nEqGroupCell = 0;

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The curves of the auxiliary plot, which the plot refers to without owning them.
std::vector<std::unique_ptr<CCurve>> gAuxCurves;

void FreeAuxPlot() {
  delete pAuxPlot;
  pAuxPlot = nullptr;
  gAuxCurves.clear();
}

void FreeGroups() {
  nEqGroups = 0;
  pEqGroupSizes.clear();
  ppEqGroups.clear();
}

// The second character of the extension (without its dot), lower case; 0 when none.
char ExtensionKind(const std::string& name) {
  const std::string ext = ExtensionOf(name);
  return ext.size() > 2 ? static_cast<char>(std::tolower(static_cast<unsigned char>(ext[2]))) : '\0';
}

// The section letter of a scan ('i', 'm' or 'o' at the start of its name), else 0.
char SectionLetter(int s) {
  const std::string& name = DataSet().ppScanFileNames[Idx(s)];
  if (name.empty()) return '\0';
  const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return (c == 'i' || c == 'm' || c == 'o') ? c : '\0';
}

bool IsMember(int i, int j, float tolerance) {
  const ScanInfo& a = DataSet().pScanInfo[Idx(i)];
  const ScanInfo& b = DataSet().pScanInfo[Idx(j)];
  return b.cell == a.cell && SectionLetter(j) == SectionLetter(i) &&
         std::fabs(b.wavelength - a.wavelength) < tolerance;
}

// Fit range of scan s: its fit-limit indices, or all points where they are unset.
void FitRange(int s, int* first, int* last) {
  *first = DataSet().pFitFirst[Idx(s)] > 0 ? DataSet().pFitFirst[Idx(s)] : 1;
  *last = DataSet().pFitLast[Idx(s)] > 0 ? DataSet().pFitLast[Idx(s)] : DataSet().pnPoints[Idx(s)];
}

std::vector<float> EqValues(int s) {
  std::vector<float> v(Idx(DataSet().pnPoints[Idx(s)]) + 1, 0.0f);
  for (int k = 1; k <= DataSet().pnPoints[Idx(s)]; ++k) v[Idx(k)] = EqScanValue(s, k);
  return v;
}

// A new auxiliary plot over the whole plot area with the given axis titles.
CWINPlot* NewAuxPlot(const char* xTitle, const char* yTitle) {
  FreeAuxPlot();
  pAuxPlot = new CWINPlot();
  pAuxPlot->SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  pAuxPlot->SetXAxisLabel(xTitle);
  pAuxPlot->SetYAxisLabel(yTitle);
  return pAuxPlot;
}

void AddAuxCurve(const std::vector<float>& x, const std::vector<float>& y) {
  gAuxCurves.push_back(std::make_unique<CCurve>(x.data(), y.data(),
                                                static_cast<std::uint32_t>(x.size()), 0, 0));
  pAuxPlot->AddCurve(gAuxCurves.back().get());
}

// Asks for a repaint and draws the auxiliary plot over the window; the window paints
// nothing while the question that follows is open, so the plot stays visible.
void ShowAuxPlot(TXLAWindow& window) {
  window.RepaintMain();
  if (!pAuxPlot || !pAuxPlot->Redraw() || !pAuxPlot->hPicture) return;
  Window& handle = window.GetHandle();
  std::unique_ptr<DC> dc = handle.ClientDC();
  if (!dc) return;
  SetScreenMapping(*dc, handle.ClientSize());
  pAuxPlot->hPicture->Play(*dc);
  dc.reset();
  handle.Refresh();
}

// The profile of the scan (radius against value over its fit range).
void PlotScanProfile(TXLAWindow& window, int s) {
  int first = 1, last = 0;
  FitRange(s, &first, &last);
  std::vector<float> x, y;
  for (int k = first; k <= last; ++k) {
    x.push_back(DataSet().ppRadius[Idx(s)][k]);
    y.push_back(EqScanValue(s, k));
  }
  NewAuxPlot("radius", "signal");
  if (!x.empty()) {
    AddAuxCurve(x, y);
    pAuxPlot->SetCurveStyle(0, -1);
  }
  ShowAuxPlot(window);
}

bool AskEqTest(TXLAWindow& window, const std::string& text) {
  PlayInfoSound();
  return CommandMessageBox(window, text, "EQ Test", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The entries of a series other than its latest scan, by ascending time (equal
// times keep their order).
std::vector<int> EarlierScans(const int* series, int n, int lastScan) {
  std::vector<int> earlier;
  for (int k = 1; k <= n; ++k)
    if (series[k] != lastScan) earlier.push_back(series[k]);
  std::stable_sort(earlier.begin(), earlier.end(), [](int a, int b) {
    return DataSet().pScanInfo[Idx(a)].time < DataSet().pScanInfo[Idx(b)].time;
  });
  return earlier;
}

// ---- writing ----

struct Blank {
  bool present = false;
  int n = 0;
  std::vector<float> radius, value;  // one-based
  float wavelength = 0.0f;
};

Blank ReadBlank(const std::string& path) {
  Blank blank;
  if (path.empty()) return blank;
  ScanInfo info;
  int n = 0;
  float *r = nullptr, *v = nullptr, *third = nullptr;
  bool mark = false;
  const FolderReading reading({path});
  if (const std::string& note = reading.Note(); !note.empty()) ShowError(note, false);
  // The blank leaves the kind of the loaded data as it is.
  const int ok = ReadScanFileAndKind(path.c_str(), ScanDataKind::InForce(), nullptr, &info, &n, &r,
                                     &v, &third, &mark, 0.0f);
  if (!ok) {
    ShowError("LOAD ERROR in blank", false);
    return blank;
  }
  blank.present = true;
  blank.n = n;
  blank.wavelength = info.wavelength;
  blank.radius.assign(r, r + n + 1);
  blank.value.assign(v, v + n + 1);
  if (IsIntensityFileName(path) && third)
    for (int k = 1; k <= n; ++k) blank.value[Idx(k)] = AbsorbanceFromIntensities(v[k], third[k]);
  free_vector(r, 1, n);
  free_vector(v, 1, n);
  if (third) free_vector(third, 1, n);
  return blank;
}

// Writes the latest scan L of a series; the file name (name and extension) or empty
// when it could not be written (reported).
std::string WriteEqScan(const std::string& directory, int L, int keyScan, const Blank& blank,
                        float tolerance) {
  const ScanInfo& keyInfo = DataSet().pScanInfo[Idx(keyScan)];
  const std::string& stored = DataSet().ppScanFileNames[Idx(L)];
  const bool intensity = IsIntensityFileName(stored);
  const std::string ext = intensity ? ReplaceCharacterAt(ExtensionOf(stored), 2, "a") : ExtensionOf(stored);
  std::string name = Format("eq%dk_%.0f", static_cast<int>(std::floor(0.001 * DataSet().pScanInfo[Idx(L)].rpm)),
                            static_cast<double>(keyInfo.wavelength));
  if (const char section = SectionLetter(keyScan)) name = std::string(1, section) + "_" + name;
  name += ext;

  const int n = DataSet().pnPoints[Idx(L)];
  std::vector<float> values = EqValues(L);
  if (blank.present && std::fabs(blank.wavelength - keyInfo.wavelength) < tolerance) {
    std::vector<float> onL(values.size(), 0.0f);
    if (InterpolateCurve(n, DataSet().ppRadius[Idx(L)], onL.data(), blank.n, blank.radius.data(),
                         blank.value.data()))
      for (int k = 1; k <= n; ++k) values[Idx(k)] -= onL[Idx(k)];
  }
  ScanInfo info = DataSet().pScanInfo[Idx(L)];
  if (intensity) info.scanType = info.scanType == 'V' ? 'W' : info.scanType == 'I' ? 'R' : info.scanType;
  const std::string path = JoinPath(directory, name);
  if (!MayReplaceFiles({path})) return {};
  if (!WriteScanFile(path.c_str(), n, DataSet().ppRadius[Idx(L)], values.data(),
                     intensity ? DataSet().ppThirdColumn[Idx(L)] : nullptr, stored.c_str(), true, info)) {
    ShowError(WithReason(Format("could not write %s", path.c_str()), SaveFailureReason(path)), false);
    return {};
  }
  return name;
}

// The experiment file of one key: its written files and the run's values.
void WriteKeyXpFile(const std::string& directory, int keyScan, const std::vector<std::string>& files,
                    float density, float vbar, float eA, float eB, float eC) {
  const ScanInfo& info = DataSet().pScanInfo[Idx(keyScan)];
  std::string name = (info.wavelength == 675.0f || info.wavelength == 660.0f)
                         ? Format("cell%d_IF", info.cell)
                         : Format("cell%d_%d", info.cell, static_cast<int>(std::floor(info.wavelength)));
  if (const char section = SectionLetter(keyScan)) name = std::string(1, section) + "_" + name;
  const std::string path = JoinPath(directory, name + ".xp");

  ExperimentFile xp;
  xp.type = files.size() == 1 ? kXpSedEquilibrium : kXpMultiSedEquilibrium;
  xp.directory = directory;
  xp.files = files;
  xp.bufferDensity = density;
  xp.bufferViscosity = 0.001002f;
  xp.vbar = xp.vbar20 = vbar;
  xp.meniscus = DataSet().fMeniscus;
  xp.bottom = DataSet().fBottom;
  xp.fitLeftLimit = DataSet().fFitLeftLim;
  xp.fitRightLimit = DataSet().fFitRightLim;
  // Interference series of more than one file carry their systematic noise.
  xp.fitTINoise = xp.fitRINoise = files.size() >= 2 && ExtensionKind(files.back()) == 'p';
  xp.extinctionA = eA;
  xp.extinctionB = eB;
  xp.extinctionC = eC;
  // A record that would not load again is not written, and the box says why, not
  // that the file could not be opened.
  if (const std::string refusal = XpFileRefusal(xp); !refusal.empty()) {
    PlayErrorSound();
    if (HasBackend())
      GetBackend().MessageBox(Format("did not write %s: the experiment file would not load again: %s", path.c_str(),
                                     refusal.c_str()),
                              "ERROR", MB_OK);
    return;
  }
  std::string why;
  if (!MayReplaceFiles({path})) return;
  if (!WriteXpFile(path, xp, &why)) {
    PlayErrorSound();
    if (HasBackend())
      GetBackend().MessageBox(WithReason(Format("could not open %s", path.c_str()), why), "ERROR", MB_OK);
  }
}

// Records one series in collect mode: one scan, or the earlier scans by time and the
// latest last.
void RecordGroup(const std::vector<int>& series, int L) {
  std::vector<int> list{0};
  const int n = static_cast<int>(series.size()) - 1;
  const bool single = n == 1 || (n == 2 && series[1] == series[2]);
  if (single) {
    list.push_back(L);
  } else {
    for (int s : EarlierScans(series.data(), n, L)) list.push_back(s);
    list.push_back(L);
  }
  ++nEqGroups;
  if (ppEqGroups.empty()) ppEqGroups.emplace_back();
  if (pEqGroupSizes.empty()) pEqGroupSizes.push_back(0);
  ppEqGroups.push_back(list);
  pEqGroupSizes.push_back(static_cast<int>(list.size()) - 1);
  if (!single && bEqSingleCell) {
    const int cell = DataSet().pScanInfo[Idx(L)].cell;
    if (nEqGroupCell == 0)
      nEqGroupCell = cell;
    else if (cell != nEqGroupCell)
      bEqSingleCell = false;
  }
}

}  // namespace

float EqScanValue(int s, int k) {
  const float v = DataSet().ppSignal[Idx(s)][k];
  if (!IsIntensityFileName(DataSet().ppScanFileNames[Idx(s)])) return v;
  const float* reference = DataSet().ppThirdColumn[Idx(s)];
  return AbsorbanceFromIntensities(v, reference ? reference[k] : 0.0f);
}

bool TestEquilibriumAttainment(TXLAWindow& window, const int* series, int n, int lastScan) {
  const ScanInfo& info = DataSet().pScanInfo[Idx(lastScan)];
  const double nm = info.wavelength, rpm = info.rpm;
  if (n == 1 || (n == 2 && series[1] == series[2])) {
    PlotScanProfile(window, lastScan);
    return AskEqTest(window, Format("accept EQ scan at %.0f nm and %.0f rpm to be included? "
                                    "(no time-course available)", nm, rpm));
  }
  std::vector<float> x, y;
  for (int s : EarlierScans(series, n, lastScan)) {
    x.push_back(static_cast<float>(DataSet().pScanInfo[Idx(s)].time));
    y.push_back(RmsdBetweenScans(s, lastScan));
  }
  NewAuxPlot("elapsed time (sec)", "rmsd difference");
  if (!x.empty()) {
    AddAuxCurve(x, y);
    pAuxPlot->SetCurveStyle(0, 6);
    pAuxPlot->ToggleConnectPoints();
  }
  pAuxPlot->nMarkSize = 10;
  PlotRedraw().nErrorBarCap = 15;
  ShowAuxPlot(window);
  if (!AskEqTest(window, Format("was equilibrium attained at %.0f nm and %.0f rpm?", nm, rpm)))
    return false;
  PlotScanProfile(window, lastScan);
  return AskEqTest(window, Format("accept EQ scan at %.0f nm and %.0f rpm to be included? ", nm, rpm));
}

void SortEqDataToDisk(TXLAWindow& window, const std::string& outputPath,
                      const std::string& blankPath, float tolerance, bool makeXp, float density,
                      float vbar, float extinctionA, float extinctionB, float extinctionC) {
  const bool collect = bEqCollectGroupsOnly;
  const std::string directory = DirectoryOf(outputPath);
  const Blank blank = collect ? Blank() : ReadBlank(blankPath);
  if (collect) {
    FreeGroups();
  }
  // The scans that opened a group: a scan that is a member of one of their groups
  // has been handled there (the test is the membership itself, so that no scan is
  // both written with a group and made to open one of its own).
  std::vector<int> keyScans;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    if (std::any_of(keyScans.begin(), keyScans.end(), [&](int k) { return IsMember(k, i, tolerance); }))
      continue;
    keyScans.push_back(i);
    std::vector<int> speeds;  // whole rpm handled for this key
    std::vector<std::string> written;
    for (int j = i; j <= DataSet().nScans; ++j) {
      if (!IsMember(i, j, tolerance)) continue;
      const float rpm = DataSet().pScanInfo[Idx(j)].rpm;
      const int wholeRpm = static_cast<int>(rpm);
      if (std::find(speeds.begin(), speeds.end(), wholeRpm) != speeds.end()) continue;
      speeds.push_back(wholeRpm);
      // The series of this speed, its latest scan appended once more.
      std::vector<int> series{0, j};
      int latest = j;
      for (int k = j + 1; k <= DataSet().nScans; ++k) {
        if (!IsMember(i, k, tolerance) || static_cast<int>(DataSet().pScanInfo[Idx(k)].rpm) != wholeRpm) continue;
        series.push_back(k);
        if (DataSet().pScanInfo[Idx(k)].time > DataSet().pScanInfo[Idx(latest)].time) latest = k;
      }
      series.push_back(latest);
      if (collect) {
        RecordGroup(series, latest);
        continue;
      }
      if (!TestEquilibriumAttainment(window, series.data(), static_cast<int>(series.size()) - 1, latest))
        continue;
      const std::string name = WriteEqScan(directory, latest, i, blank, tolerance);
      if (!name.empty()) written.push_back(name);
    }
    if (makeXp && !collect && !written.empty())
      WriteKeyXpFile(directory, i, written, density, vbar, extinctionA, extinctionB, extinctionC);
  }
  if (!collect) window.RepaintMain();
}

void RunEquilibriumTest(TXLAWindow& window) {
  bEqCollectGroupsOnly = true;
  nEqGroups = 0;
  nEqGroupCell = 0;
  bEqSingleCell = true;
  SortEqDataToDisk(window, "", "", 5.0f, false, 1.0f, 0.73f, 1.0f, 1.0f, 0.0f);
  bEqCollectGroupsOnly = false;

  NewAuxPlot("elapsed time (sec)", "rmsd difference");
  int curve = 0;
  for (int g = 1; g <= nEqGroups; ++g) {
    const std::vector<int>& list = ppEqGroups[Idx(g)];
    const int size = pEqGroupSizes[Idx(g)];
    if (size < 2) continue;
    const int L = list[Idx(size)];
    std::vector<float> x, y;
    for (int k = 1; k < size; ++k) {
      x.push_back(static_cast<float>(DataSet().pScanInfo[Idx(list[Idx(k)])].time));
      y.push_back(RmsdBetweenScans(list[Idx(k)], L));
    }
    AddAuxCurve(x, y);
    pAuxPlot->SetCurveStyle(curve, 6);
    pAuxPlot->SetCurveColor(curve, FalseColor(g, nEqGroups));
    const ScanInfo& info = DataSet().pScanInfo[Idx(L)];
    const std::string legend = bEqSingleCell
                                   ? Format("%.0f nm, %.0f rpm", static_cast<double>(info.wavelength),
                                            static_cast<double>(info.rpm))
                                   : Format("cell %d, %.0f nm, %.0f rpm", info.cell,
                                            static_cast<double>(info.wavelength),
                                            static_cast<double>(info.rpm));
    pAuxPlot->SetCurveLegend(curve, legend.c_str());
    ++curve;
  }
  if (curve > 0) {
    pAuxPlot->ShowLegend();
    pAuxPlot->ToggleConnectPoints();
  }
  bEqTestView = true;
  ShowAuxPlot(window);
}

void EndEqTestMode(TXLAWindow& window) {
  if (!bEqTestView) return;
  bEqTestView = false;
  bEqTestMode = false;
  FreeAuxPlot();
  FreeGroups();
  RebuildDataAndResidualPlots();
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  window.RepaintMain();
}

void ResetEquilibriumSorting() {
  FreeAuxPlot();
  FreeGroups();
  bEqCollectGroupsOnly = false;
  bEqSingleCell = true;
  nEqGroupCell = 0;
  bEqTestView = false;
}

}  // namespace tarmic

namespace tarmic {

namespace {

std::optional<std::string> AskSavePath(TXLAWindow& window, const char* title, const std::string& directory,
                                       const std::string& defaultName) {
  FileDialogOptions options;
  options.title = title;
  options.directory = directory;
  options.defaultName = defaultName;
  return AskSaveFilePath(window, options);
}

}  // namespace

void TXLAWindow::CmSortEqData() {
  if (DataSet().nScans < 1) {
    CommandMessageBox(*this, "please load data first", "Sort SE data", MB_OK);
    return;
  }
  if (RadialGrid().fRadialStep > 0.001f) {
    // Merged points would be lost from the written scans.
    PlayInfoSound();
    if (!ConfirmChange(*this, "resolution is limiting data points - continue?", "sort EQ data")) {
      if (AskYesNo(*this, "change resolution?", "sort EQ data")) CmSetRadialResolution();
      return;
    }
  }
  const std::optional<std::string> output =
      AskSavePath(*this, "select filename for sorted eq data", DataSet().szDataDirectory, "eq.ra1");
  if (output) {
    std::string blank;
    if (ScanFile().bInterferenceData && AskYesNo(*this, "subtract blank file?", "")) {
      const std::optional<std::string> chosen =
          AskSavePath(*this, "select blank scan", DataSet().szDataDirectory, "");
      if (chosen) blank = *chosen;
    }
    const bool makeXp = ConfirmChange(*this, "make xp files?", "");
    float density = SolventConstants().fBufferDensity, vbar = SolventConstants().VBAR, eA = 1.0f, eB = 1.0f, eC = 0.0f;
    if (makeXp) {
      const char* caption = "make QUENTAR xp file";
      AskFloat(*this, &density, density, "buffer density (g/ml)", caption, kBufferDensity);
      AskFloat(*this, &vbar, vbar, "partial-specific volume (ml/g)", caption, kPartialSpecificVolume);
      AskFloat(*this, &eA, eA, "molar extinction coefficient A", caption,
               NamedAs("molar extinction coefficient A", kXpExtinction));
      AskFloat(*this, &eB, eB, "molar extinction coefficient B", caption,
               NamedAs("molar extinction coefficient B", kXpExtinction));
      AskFloat(*this, &eC, eC, "molar extinction coefficient C", caption,
               NamedAs("molar extinction coefficient C", kXpExtinction));
    }
    SortEqDataToDisk(*this, *output, blank, 5.0f, makeXp, density, vbar, eA, eB, eC);
  }
  PlayOkSound();
}

}  // namespace tarmic
