// Generate Series: synthetic data sets of the current model for every combination
// of grids of point spacing, rotor speed, noise level, meniscus and trace
// concentration, each in its own directory "xp<k>" with files that name its
// parameters and an experiment file that loads it again.
//
// The trace concentration is the loading of species 2 in percent of the loading of
// species 1; it is asked only when the model is the discrete-species model with
// species 2 included (otherwise the grid is the single value 0 and species 2 is
// left alone).
#include <cmath>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/xla_window.h"
#include "commands/model_commands.h"
#include "commands/command_support.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "prompts/number_prompt.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/experiment_file.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kSeriesCaption = "GENERATE SERIES";
// Every member of a series lies in a cell with its bottom at 7.2 cm.
constexpr float kSeriesBottom = 7.2f;

// The values Generate Series proposes: the last ones entered.
struct SeriesDefaults {
  std::string spacings = "0.005";
  std::string speeds = "50000";
  std::string noises = "0.005";
  std::string menisci = "6.0";
  std::string traces = "0";
  float acceleration = 200.0f;
  float interval = 300.0f;
  float scans = 0.0f;
  float offset = 0.0f;
};
SeriesDefaults& Defaults() {
  static SeriesDefaults d;
  return d;
}

// Asks for a grid of values of the quantity (the list prompt, asked again until
// every value lies within its range); nullopt when cancelled. *text keeps the
// answer as the next default.
std::optional<std::vector<float>> AskGrid(TXLAWindow& window, std::string* text, const char* prompt,
                                          const Quantity& quantity) {
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  std::optional<std::vector<float>> grid = InputFloatList(text, prompt, kSeriesCaption, quantity);
  window.bModalBoxOpen = previous;
  return grid;
}

bool TraceSpeciesPresent() { return ModelFlags().bDiscreteModel && AnalysisSwitches().pSpeciesLinked[1] && AnalysisSwitches().pSpeciesLinked[2]; }

// Scans enough for the slowest included species to clear the cell: its boundary
// reaches the bottom at t = ln(b/m) / (s w^2); 0 when no included species
// sediments.
int AutomaticScanCount(float meniscus, float rpm, float interval) {
  double s = 0.0;
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (AnalysisSwitches().pSpeciesLinked[k] && ModelParams().pSpeciesS[k] > 0.0f && (s == 0.0 || ModelParams().pSpeciesS[k] < s)) s = ModelParams().pSpeciesS[k];
  if (s == 0.0 || !(interval > 0.0f) || !(meniscus > 0.0f)) return 0;
  const double w = rpm * kTwoPiOver60;
  const double t = std::log(kSeriesBottom / meniscus) / (s * 1e-13 * w * w);
  const double n = std::ceil(t / interval);
  return n < 1.0 ? 1 : n > kMaxScans ? kMaxScans : static_cast<int>(n);
}

// One member's parameters.
struct Member {
  float dr, rpm, noise, meniscus, trace;
};

// The files that name the member's parameters in its directory (name, text).
std::vector<std::pair<std::string, std::string>> MemberInfoFiles(int number, const Member& m) {
  return {
      {Format("info_%d.txt", number),
       Format("%f (percent ctrace)\n%f (dr)\n%f (omega)\n%f (noise)\n%f (meniscus)\n",
              static_cast<double>(m.trace), static_cast<double>(m.dr), static_cast<double>(m.rpm),
              static_cast<double>(m.noise), static_cast<double>(m.meniscus))},
      {Format("tracepercent=%.3f.info", static_cast<double>(m.trace)), "1"},
      {Format("dr=%.4f_cm.info", static_cast<double>(m.dr)), "1"},
      {Format("omega=%.0f_rpm.info", static_cast<double>(m.rpm)), "1"},
      {Format("noise=%.3f.info", static_cast<double>(m.noise)), "1"},
      {Format("meniscus=%.3f.info", static_cast<double>(m.meniscus)), "1"},
  };
}

std::vector<std::string> MemberInfoNames(int number, const Member& m) {
  std::vector<std::string> names;
  for (const auto& file : MemberInfoFiles(number, m)) names.push_back(file.first);
  return names;
}

std::string MemberExperimentPath(const std::string& dir, int number) {
  return JoinPath(dir, Format("xp%d.xp", number));
}

// The files that name the member's parameters in its directory; false (after the
// message naming the file) when one cannot be written.
bool WriteMemberInfo(TXLAWindow& window, const std::string& dir, int number, const Member& m) {
  for (const auto& [name, text] : MemberInfoFiles(number, m)) {
    std::string error;
    if (!WriteTextFileAtomically(JoinPath(dir, name), text, &error)) {
      PlayErrorSound();
      CommandMessageBox(window, WithReason("could not write " + JoinPath(dir, name), error), "ERROR", MB_OK);
      return false;
    }
  }
  return true;
}

// The experiment file of the member just generated: its scans with the geometry
// and solvent they were made with.
bool WriteMemberExperiment(TXLAWindow& window, const std::string& dir, int number) {
  ExperimentFile xp;
  xp.type = kXpSedVelocity;
  xp.directory = dir;
  for (int j = 1; j <= DataSet().nScans; ++j) xp.files.push_back(DataSet().ppScanFileNames[static_cast<std::size_t>(j)]);
  xp.bufferDensity = fDensityWater20;
  xp.bufferViscosity = STANDARDVISCOSITY * SolventConstants().RELVISCOSITY;
  xp.vbar = SolventConstants().VBAR;
  xp.vbar20 = SolventConstants().VBAR20;
  xp.meniscus = DataSet().fMeniscus;
  xp.bottom = DataSet().fBottom;
  xp.fitLeftLimit = DataSet().fFitLeftLim;
  xp.fitRightLimit = DataSet().fFitRightLim;
  xp.fitTINoise = xp.fitRINoise = false;
  xp.varyBaseline = false;
  std::string error;
  const std::string path = MemberExperimentPath(dir, number);
  if (WriteXpFile(path, xp, &error)) return true;
  PlayErrorSound();
  CommandMessageBox(window, WithReason("could not write " + path, error), "ERROR", MB_OK);
  return false;
}

}  // namespace

void TXLAWindow::CmGenerateSeries() {
  if (!RequireChosenModel(*this)) return;
  SeriesDefaults& d = Defaults();
  SeriesDefaults v = d;
  const std::optional<std::vector<float>> spacings =
      AskGrid(*this, &v.spacings, "point spacings dr (cm), separated by blanks:",
              NamedAs("point spacing dr", kGeneratedRadialStep));
  if (!spacings) return;
  const std::optional<std::vector<float>> speeds =
      AskGrid(*this, &v.speeds, "rotor speeds (rpm), separated by blanks:", kRotorSpeed);
  if (!speeds) return;
  const std::optional<std::vector<float>> noises =
      AskGrid(*this, &v.noises, "noise levels (OD), separated by blanks:", NamedAs("noise level", kNoiseLevel));
  if (!noises) return;
  const std::optional<std::vector<float>> menisci =
      AskGrid(*this, &v.menisci, "menisci (cm), separated by blanks:", NamedAs("meniscus", kRotorRadius));
  if (!menisci) return;
  std::vector<float> traces{0.0f};
  const bool trace = TraceSpeciesPresent();
  if (trace) {
    const std::optional<std::vector<float>> t = AskGrid(
        *this, &v.traces, "trace concentrations (percent of species 1), separated by blanks:",
        {"trace concentration", "%", Closed(0.0, 100.0)});
    if (!t) return;
    traces = *t;
  }
  for (float m : *menisci) {
    if (m >= kSeriesBottom) {
      PlayErrorSound();
      CommandMessageBox(*this, "every meniscus must lie below the bottom at 7.2 cm", "ERROR", MB_OK);
      return;
    }
  }
  float acceleration = -1.0f;
  if (AskYesNo(*this, "simulate with rotor acceleration phase?", kSeriesCaption) &&
      AskFloat(*this, &v.acceleration, d.acceleration, "acceleration (rpm/sec)", kSeriesCaption,
               kRotorAcceleration) &&
      v.acceleration > 0.0f)
    acceleration = v.acceleration;
  if (!AskFloat(*this, &v.interval, d.interval, "time interval of scans (sec)", kSeriesCaption,
                kScanInterval)) return;
  if (!AskFloat(*this, &v.scans, d.scans, "number of simulated scans (0: auto)", kSeriesCaption,
                {kScanCount.name, "", Count(0.0, kScanCount.range.high)})) return;
  if (!AskFloat(*this, &v.offset, d.offset, "first directory number xp<n> minus 1 (offset)",
                kSeriesCaption, NamedAs("offset", kDirectoryNumber)))
    return;
  d = v;
  const int scans = TruncateToInt(v.scans);
  const int offset = TruncateToInt(v.offset);
  if (scans < 0 || scans > kMaxScans || !(v.interval > 0.0f)) {
    PlayErrorSound();
    CommandMessageBox(*this, "the interval must be positive and the number of scans 0 to 1000", "ERROR",
                      MB_OK);
    return;
  }
  // Later times would make scan files the loaders refuse (an automatic count may
  // reach the largest).
  if (static_cast<double>(v.interval) * (scans > 0 ? scans : kMaxScans) > kMaxRunTimeS) {
    PlayErrorSound();
    CommandMessageBox(*this, Format("the scans would reach beyond %g s, the longest time of a run", kMaxRunTimeS),
                      "ERROR", MB_OK);
    return;
  }
  FileDialogOptions options;
  options.title = "save generated series in";
  options.filter = "All Files (*.*)|*.*";
  options.directory = DataSet().szDataDirectory;
  options.defaultName = "series";
  const std::optional<std::string> chosen = AskSaveFilePath(*this, options);
  if (!chosen) return;
  const std::string parent = DirectoryOf(*chosen);

  const float amplitude1 = ModelParams().pSpeciesAmplitude[1];
  SyntheticData().bGeneratingSeries = true;
  bUserAbort = false;
  int k = 0;
  std::string stopped;
  for (float dr : *spacings)
    for (float rpm : *speeds)
      for (float noise : *noises)
        for (float meniscus : *menisci)
          for (float tr : traces) {
            if (!stopped.empty() || bUserAbort) continue;
            ++k;
            const Member m{dr, rpm, noise, meniscus, tr};
            const int number = k + offset;
            const std::string dir = JoinPath(parent, Format("xp%d", number));
            std::error_code ec;
            std::filesystem::create_directory(dir, ec);
            if (ec || !std::filesystem::is_directory(dir)) {
              PlayErrorSound();
              CommandMessageBox(*this,
                                WithReason("could not create new directory\n" + dir,
                                           SystemReason(dir, ec ? ec.value() : ENOTDIR)),
                                "ERROR", MB_OK);
              stopped = dir;
              continue;
            }
            // Every file of the member is asked about once, before any is written.
            SyntheticDataSettings targets;
            targets.outputPath = JoinPath(dir, "00001.ra0");
            targets.scans = scans > 0 ? scans : AutomaticScanCount(meniscus, rpm, v.interval);
            std::vector<std::string> memberFiles = SyntheticDataFiles(targets);
            for (const std::string& name : MemberInfoNames(number, m)) memberFiles.push_back(JoinPath(dir, name));
            memberFiles.push_back(MemberExperimentPath(dir, number));
            if (!MayReplace(*this, memberFiles)) {
              stopped = dir;
              continue;
            }
            if (!WriteMemberInfo(*this, dir, number, m)) {
              stopped = dir;
              continue;
            }
            DataSet().fMeniscus = meniscus;
            DataSet().fBottom = kSeriesBottom;
            DataSet().fFitLeftLim = DataSet().fMeniscus + 0.01f;
            if (trace) {
              ModelParams().pSpeciesAmplitude[2] = 0.01f * tr * amplitude1;
              PackModelParams();
            }
            SyntheticDataSettings s;
            s.dr = dr;
            s.rpm = rpm;
            s.acceleration = acceleration;
            s.noise = noise;
            s.interval = v.interval;
            // With an acceleration phase the first scan follows 10 s after the ramp.
            s.firstTime = acceleration > 0.0f ? rpm / acceleration + 10.0f : 0.0f;
            s.scans = scans > 0 ? scans : AutomaticScanCount(meniscus, rpm, v.interval);
            s.outputPath = JoinPath(dir, "00001.ra0");
            if (s.scans < 1) {
              PlayErrorSound();
              CommandMessageBox(*this, "no sedimenting species for an automatic number of scans", "ERROR",
                                MB_OK);
              stopped = dir;
              continue;
            }
            AskSyntheticDataQuestions(*this, s);
            GetHandle().SetCursor(CursorShape::Wait);
            AnalysisSwitches().bSimulating = true;
            const SyntheticResult generated = GenerateSyntheticData(&GetHandle(), s);
            const SyntheticOutcome outcome = generated.outcome;
            AnalysisSwitches().bSimulating = false;
            GetHandle().SetCursor(CursorShape::Arrow);
            if (outcome != SyntheticOutcome::Generated) {
              // The member's settings the generation refuses, with the value at fault.
              if (outcome == SyntheticOutcome::Refused) {
                PlayErrorSound();
                CommandMessageBox(*this, "could not generate data in\n" + dir + "\n" + generated.message, "ERROR",
                                  MB_OK);
              } else if (!generated.message.empty()) {
                CommandMessageBox(*this, generated.message, "ERROR", MB_OK);
              }
              stopped = dir;
              continue;
            }
            if (!WriteMemberExperiment(*this, dir, number)) stopped = dir;
          }
  SyntheticData().bGeneratingSeries = false;
  UpdateMenuForLoadedData();
  RepaintMain();
}

}  // namespace tarmic
