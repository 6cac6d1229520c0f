// Writes the example data set into the folder given as the only argument: twenty
// absorbance scans of a sedimentation velocity run of two non-interacting species
// (4 S with D 6.0e-7 cm^2/s and 8 S with D 4.2e-7 cm^2/s; 0.52 and 0.28 OD) at
// 50,000 rpm in water at 20 C, made by the program's simulation of the discrete
// species model with noise of 0.005 OD from a fixed seed. The scans end 0.04 cm
// before the bottom, as an instrument's do (the material packed against the bottom
// is never measured). Two parameter files start the analyses: "cs.~p" (a c(s)
// distribution from 0 to 15 S) and "species.~p" (two discrete species from start
// values, with their loading, D and s floated). Exit code 0 when every file was
// written.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "app/preferences.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "commands/program_services.h"
#include "commands/response_table.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_params.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "platform/headless/headless_backend.h"
#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "services/path_table.h"
#include "text/number_token.h"

namespace {

using namespace tarmic;

// The run: cell, rotor, scans and the two species (c tot and the fraction of the
// second species, D in 1e-7 cm^2/s, s in S).
constexpr float kMeniscus = 6.0f, kBottom = 7.2f;           // cm
constexpr float kDataEnd = 7.16f;                            // last radius of a scan, cm
constexpr float kLeftLimit = 6.05f, kRightLimit = 7.15f;     // cm
constexpr float kTotal = 0.8f, kSecondFraction = 0.35f;      // OD
constexpr float kD1 = 6.0f, kS1 = 4.0f, kD2 = 4.2f, kS2 = 8.0f;
constexpr std::uint32_t kSeed = 20261208;

void SetSpecies(float total, float fraction, float d1, float s1, float d2, float s2, bool fit) {
  for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k <= 2 ? 1 : 0;
  ModelParams().pSpeciesAmplitude[1] = total;
  ModelParams().pSpeciesAmplitude[2] = fraction;
  ModelParams().pSpeciesMassOrD[1] = d1;
  ModelParams().pSpeciesS[1] = s1;
  ModelParams().pSpeciesMassOrD[2] = d2;
  ModelParams().pSpeciesS[2] = s2;
  for (int k = 1; k <= 2; ++k) ModelParams().pSpeciesAmplitudeFit[k] = ModelParams().pSpeciesMassOrDFit[k] = ModelParams().pSpeciesSFit[k] = fit ? 1 : 0;
  PackModelParams();
}

void SetCell() {
  DataSet().fMeniscus = kMeniscus;
  DataSet().fBottom = kBottom;
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
  DataSet().fFitLeftLim = kLeftLimit;
  DataSet().fFitRightLim = kRightLimit;
  if (DataSet().nScans > 0) {
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }
}

// Water at 20 C: its density (the viscosity is that of water at 20 C by default).
void SetWater() {
  SolventConstants().fBufferDensity = fDensityWater20;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  SolventConstants().RELVISCOSITY = 1.0f;
}

// Scan file `path` without the rows beyond kDataEnd (the two header lines stay).
bool EndScanBeforeTheBottom(const std::string& path) {
  std::ifstream in(path);
  std::string text, line;
  for (int row = 0; std::getline(in, line); ++row) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    const std::optional<double> radius = NumberOf(first);
    if (row >= 2 && radius && *radius > kDataEnd + 1e-4) continue;
    text += line + "\n";
  }
  in.close();
  std::ofstream out(path, std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

bool Save(TXLAWindow& window, const std::string& path) {
  DataSet().szTmpParsPath = path;
  return TmpSaveBestParams(&window.GetHandle(), false).ok;
}

int Make(const std::string& out) {
  namespace fs = std::filesystem;
  const std::string work = out + "/.settings";
  fs::create_directories(work);
  ScopedHeadlessBackend backend(800, 600);
  (*backend).AnswerUnscriptedBoxes(IDOK);
  SetupPathTable(work, work);
  bDisclaimerAccepted = true;
  bMultiThreading = false;
  InstallResponseTable();
  InstallProgramServices();
  TXLAWindow window("Sedimentation Analysis");
  window.SetupWindow();

  SetCell();
  SetWater();
  DispatchCommand(window, kCmDiscreteSpecies);
  SetSpecies(kTotal, kSecondFraction, kD1, kS1, kD2, kS2, false);
  SeedRandomGenerators(kSeed);
  const SyntheticResult generated = GenerateSyntheticData(
      &window.GetHandle(), {.dr = 0.004f, .rpm = 50000.0f, .noise = 0.005f, .interval = 420.0f, .scans = 20,
                            .outputPath = out + "/00001.ra0"});
  if (generated.outcome != SyntheticOutcome::Generated) {
    std::fprintf(stderr, "the example scans were not generated: %s\n", generated.message.c_str());
    FreeDataSet();
    return 1;
  }
  for (int k = 1; k <= 20; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "/%05d.ra0", k);
    if (!EndScanBeforeTheBottom(out + name)) {
      std::fprintf(stderr, "could not rewrite %s\n", name);
      FreeDataSet();
      return 1;
    }
  }
  SetCell();

  // The c(s) analysis.
  DispatchCommand(window, kCmContinuousCs);
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 76.0f;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  UnpackModelParams();
  SetCell();
  SetWater();
  if (!Save(window, out + "/cs.~p")) {
    FreeDataSet();
    return 1;
  }

  // The discrete species from start values, loading, D and s floated.
  DispatchCommand(window, kCmDiscreteSpecies);
  SetSpecies(0.7f, 0.5f, 5.0f, 3.5f, 5.0f, 7.5f, true);
  SetCell();
  SetWater();
  const bool saved = Save(window, out + "/species.~p");
  FreeDataSet();
  fs::remove_all(work);
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarmic_make_example <folder>\n");
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  return Make(argv[1]);
}
