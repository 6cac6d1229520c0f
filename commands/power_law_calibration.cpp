// The calibration of the s(M) power law s = Ks M^bs of the scaling-law models from
// a file of (s, M) pairs: the straight line log s = log Ks + bs log M through the
// pairs by least squares, shown with the pairs on log-log axes over the main
// window, and on acceptance Ks and bs go to parameter slots 11 and 18.
#include "commands/power_law_calibration.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/panes.h"
#include "app/paint.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "modelfit/model_params.h"
#include "numerics/ccurve.h"
#include "text/number_token.h"
#include "services/sounds.h"
#include "numerics/text_lines.h"
#include "plot/data_plots.h"
#include "platform/backend.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kCaption = "CALIBRATE POWER LAW";

// Draws the pairs and the fitted law over the plot area of the window.
void ShowCalibrationPlot(TXLAWindow& window, const std::vector<float>& logM,
                         const std::vector<float>& logS, float logKs, float bs) {
  const auto n = static_cast<std::uint32_t>(logM.size());
  std::vector<float> fitted;
  for (float x : logM) fitted.push_back(logKs + bs * x);
  CCurve pairs(logM.data(), logS.data(), n, 0, 0);
  CCurve law(logM.data(), fitted.data(), n, 0, 0);
  CWINPlot plot;
  plot.SetPlotRect(DataPlots().nPlotAreaTop, DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaBottom, DataPlots().nPlotAreaRight);
  plot.SetXAxisLabel("log10 M");
  plot.SetYAxisLabel("log10 s");
  plot.AddCurve(&pairs);
  plot.AddCurve(&law);
  plot.SetCurveStyle(0, 6);
  plot.SetCurveStyle(1, -1);
  if (!plot.Redraw() || !plot.hPicture) return;
  Window& handle = window.GetHandle();
  std::unique_ptr<DC> dc = handle.ClientDC();
  if (!dc) return;
  SetScreenMapping(*dc, handle.ClientSize());
  plot.hPicture->Play(*dc);
  dc.reset();
  handle.Refresh();
  // The next key or click repaints the window first.
  bTemperaturePlotShown = true;
}

}  // namespace

bool FitPowerLaw(const std::vector<float>& s, const std::vector<float>& M, float* Ks, float* bs) {
  // Least squares of y = a + b x with x = log10 M, y = log10 s.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < s.size() && i < M.size(); ++i) {
    if (!(s[i] > 0.0f) || !(M[i] > 0.0f)) continue;
    const double x = std::log10(static_cast<double>(M[i]));
    const double y = std::log10(static_cast<double>(s[i]));
    n += 1;
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double det = n * sxx - sx * sx;
  if (n < 2 || !(std::fabs(det) > 1e-12 * n * sxx)) return false;
  const double b = (n * sxy - sx * sy) / det;
  const double a = (sy - b * sx) / n;
  *Ks = static_cast<float>(std::pow(10.0, a));
  *bs = static_cast<float>(b);
  return std::isfinite(*Ks) && std::isfinite(*bs);
}

namespace {

// A field of a heading or comment line ("% s M", "s(S)"): no digit in it, and no
// value written as not finite ("nan", "-inf").
bool IsTextField(std::string_view field) {
  if (std::any_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  std::string word(field);
  if (!word.empty() && (word[0] == '+' || word[0] == '-')) word.erase(0, 1);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word != "nan" && word != "inf" && word != "infinity";
}

}  // namespace

bool ReadSMPairs(const std::string& path, std::vector<float>* s, std::vector<float>* M,
                 std::string* why) {
  std::vector<std::string> lines;
  if (!ReadTextFileLines(path, LastLine::kRefused, &lines, why)) return false;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    // A pair (s, M) per line, after any heading line of text.
    static constexpr RowField kPair[2] = {{nullptr, FieldKind::kFloat}, {nullptr, FieldKind::kFloat}};
    const RowShape shape = ExactRow(kPair, ",;");
    double values[2] = {0.0, 0.0};
    std::string_view texts[2];
    const RowScan row = ScanTableRow(lines[k], shape, values, texts);
    if (row.found == 0 || IsTextField(texts[0])) continue;
    if (!row) {
      if (why) *why = Format("line %zu ", k + 1) + RowFaultText(lines[k], shape, row);
      return false;
    }
    const float pair[2] = {static_cast<float>(values[0]), static_cast<float>(values[1])};
    s->push_back(pair[0]);
    M->push_back(pair[1]);
  }
  return true;
}

int CalibrateCMPowerLaw(TXLAWindow& window) {
  FileDialogOptions options;
  options.title = "file of s and M pairs for the calibration of s = Ks M^bs";
  options.filter = "All Files (*.*)|*.*";
  options.directory = DataSet().szDataDirectory;
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  const std::vector<std::string> chosen = GetBackend().OpenFileDialog(options);
  window.bModalBoxOpen = previous;
  if (chosen.empty()) return 0;
  std::vector<float> s, M;
  float Ks = 0, bs = 0;
  std::string why;
  if (!ReadSMPairs(chosen.front(), &s, &M, &why)) {
    PlayErrorSound();
    CommandMessageBox(window, "could not read " + chosen.front() + ": " + why, kCaption, MB_OK);
    return 0;
  }
  if (!FitPowerLaw(s, M, &Ks, &bs)) {
    PlayErrorSound();
    CommandMessageBox(window, "the file needs at least two pairs of positive s and M values", kCaption, MB_OK);
    return 0;
  }
  std::vector<float> logM, logS;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!(s[i] > 0.0f) || !(M[i] > 0.0f)) continue;
    logM.push_back(std::log10(M[i]));
    logS.push_back(std::log10(s[i]));
  }
  ShowCalibrationPlot(window, logM, logS, std::log10(Ks), bs);
  if (!AskYesNo(window, Format("s = Ks M^bs with Ks = %.5g and bs = %.4f: accept?", static_cast<double>(Ks),
                               static_cast<double>(bs)),
                kCaption))
    return 0;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = Ks;
  AnalysisSwitches().pParams[kContiSlotScalingExponent] = bs;
  return 1;
}

}  // namespace tarmic
