// The calculators against closed physical formulas, the About, Keyboard Shortcuts
// and temperature-plot commands, and the messages of the outside-program commands.
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/disclaimer.h"
#include "app/mouse.h"
#include "app/paint.h"
#include "commands/unavailable_commands.h"
#include "lamm/lamm_ideal.h"
#include "modelfit/model_params.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/one_based.h"
#include "plot/temperature_plot.h"
#include "plot/winplot.h"
#include "resources/menus.h"
#include "commands_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr double kNA = 6.02214e23;
constexpr double kPiD = 3.14159265358979;

class CalculatorTest : public CommandTest {
 protected:
  // Runs a calculator with the typed answers; returns the result box's text.
  std::string Calculate(int id, std::initializer_list<const char*> answers) {
    Backend().AnswerUnscriptedBoxes(IDOK);
    Backend().ClearTranscript();
    for (const char* a : answers) Backend().QueueInput(std::string(a));
    Dispatch(id);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << id;
    const std::vector<std::string> texts = BoxTexts();
    return texts.empty() ? std::string() : texts.back();
  }
  // The number after key in text (NaN when key is missing).
  static double After(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + key.size(), nullptr);
  }
};

#define EXPECT_REL(a, b) EXPECT_NEAR((a), (b), 1.5e-3 * std::fabs(b))

// Sphere of mass M: R = (3 M vbar / (4 pi N_A))^(1/3), and s = 2 R^2 (1 - vbar rho) /
// (9 eta vbar) (Stokes' law for a sphere of density 1/vbar); cgs units, eta in poise.
TEST_F(CalculatorTest, ResultsAgreeWithClosedFormulasOfSedimentation) {
  const double v = 0.73, rho = 1.0, etaP = 0.01002;

  // s20,w: viscosity and buoyancy of the buffer against water at 20 C.
  std::string text = Calculate(kCmCalculateS20w, {"4.0", "0.73", "0.73", "1.0", "1.5"});
  EXPECT_REL(After(text, "s(20,w) = "), 4.0 * (1.5 / 1.002) * (1 - 0.73 * 0.99823) / (1 - 0.73));
  EXPECT_EQ(Backend().ClipboardText(), text);

  // s(M) of a sphere.
  const double M = 66000.0;
  const double R = std::cbrt(3.0 * M * v / (4.0 * kPiD * kNA));  // cm
  const double sSphere = 2.0 * R * R * (1 - v * rho) / (9.0 * etaP * v) / 1e-13;
  text = Calculate(kCmSphereSFromM, {"66000", "0.73", "1.0", "1.002"});
  EXPECT_REL(After(text, "s = "), sSphere);

  // Rh(s) of that sphere is R, and s(Rh) gives s back.
  text = Calculate(kCmSphereRhFromS, {"4.5", "0.73", "1.0", "1.002"});
  EXPECT_REL(After(text, "Rh = "), std::sqrt(9.0 * etaP * v * 4.5e-13 / (2.0 * (1 - v * rho))) * 1e7);
  text = Calculate(kCmSphereSFromRh, {"3.0", "0.73", "1.0", "1.002"});
  EXPECT_REL(After(text, "s = "), 2.0 * 9e-14 * (1 - v * rho) / (9.0 * etaP * v) / 1e-13);

  // M(s) of an asymmetric particle: s = M (1 - vbar rho) / (N_A 6 pi eta (f/f0) R(M)).
  text = Calculate(kCmMFromS, {"4.0", "1.3", "0.73", "1.0", "1.002"});
  const double Mx = After(text, "M = ");
  const double Rx = std::cbrt(3.0 * Mx * v / (4.0 * kPiD * kNA));
  EXPECT_REL(Mx * (1 - v * rho) / (kNA * 6.0 * kPiD * etaP * 1.3 * Rx) / 1e-13, 4.0);

  // f/f0 of the sphere's own s is 1 (no axial ratio), of two thirds of it 1.5.
  text = Calculate(kCmCalculateFrictionalRatios, {"66000", "3.6", "0.73", "1.0", "1.002", "0"});
  EXPECT_REL(After(text, "f/f0 = "), sSphere / 3.6);
  text = Calculate(kCmCalculateFrictionalRatios, {"66000", std::to_string(sSphere).c_str(), "0.73", "1.0", "1.002", "0"});
  EXPECT_NEAR(After(text, "f/f0 = "), 1.0, 2e-4);
  EXPECT_NE(text.find("no axial ratio"), std::string::npos);
  // Longer ellipsoids have larger f/f0: Perrin gives f/f0 = 1.2497 for a prolate 5:1.
  text = Calculate(kCmShapesFromFrictionalRatio, {"1.25", "0.73", "0", "1.0"});
  EXPECT_NEAR(After(text, "prolate ellipsoid = "), 5.0, 0.1);

  // The friction force balances the buoyant centrifugal force M (1 - vbar rho) w^2 r / N_A.
  text = Calculate(kCmFrictionForce, {"66000", "4.0", "0.73", "1.0", "50000", "6.5"});
  const double w = 50000.0 * kPiD / 30.0;
  EXPECT_REL(After(text, "friction force F = "), M * (1 - v * rho) * w * w * 6.5 / kNA * 1e-5);

  // Plateau dilution exp(-2 s w^2 t) and the column pressure rho w^2 (r^2 - m^2) / 2.
  text = Calculate(kCmRadialDilution, {"10", "50000", "3600"});
  EXPECT_REL(After(text, "c/c0 = "), std::exp(-2.0 * 10e-13 * w * w * 3600.0));
  text = Calculate(kCmCalculatePressure, {"60000", "1.0", "6.0", "7.2"});
  const double w6 = 60000.0 * kPiD / 30.0;
  EXPECT_REL(After(text, "cm = "), 0.5 * 1000.0 * w6 * w6 * (7.2 * 7.2 - 36.0) * 1e-4 * 1e-5);

  // A cancelled input ends the calculator without a result; the clipboard keeps
  // the last result.
  const std::string clip = Backend().ClipboardText();
  Backend().ClearTranscript();
  Backend().QueueInput(std::string("4.0"));
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSphereSFromM);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(Backend().ClipboardText(), clip);
  // A negative mass is refused; a neutrally buoyant particle and a sign mismatch of s
  // and buoyancy have no solution.
  EXPECT_EQ(Calculate(kCmSphereSFromM, {"-5"}), "the molar mass M -5 g/mol must lie between 1 and 1e+16 g/mol");
  EXPECT_NE(Calculate(kCmCalculateS20w, {"4", "1.0", "1.0", "1.0", "1.0"}).find("neutrally buoyant"), std::string::npos);
  EXPECT_NE(Calculate(kCmMFromS, {"-4", "1", "0.73", "1.0", "1.0"}).find("same sign"), std::string::npos);
  EXPECT_EQ(Backend().ClipboardText(), clip);
}

// The second moment against the Lamm equation itself: a species of 4.4 S (D 6e-7
// cm^2/s) at 50,000 rpm solved by the program's finite-element solver on a fine
// grid, scans from 600 s on (boundary still near the meniscus) to 3000 s, on a
// baseline of 0.05 that the model knows (fBaseline). The amount inside the plateau
// radius gives r_w^2 = m^2 exp(2 s w^2 t) exactly, so every scan gives 4.4 S back.
// Then a sharp boundary at r_b = m exp(s w^2 t) ahead of a plateau diluted to
// c0 (m / r_b)^2: the same s for every scan, also when the scans' order differs
// from their times and when a scan has no recorded w^2 t.
TEST_F(CalculatorTest, SecondMomentRecoversSOfSedimentingBoundaries) {
  const double rpm = 50000.0, m = 6.0, w = rpm * kPiD / 30.0, baseline = 0.05;
  ModelParams().fBaseline = static_cast<float>(baseline);
  {
    constexpr int kScans = 5, kRadii = 1201;
    const double sLamm = 4.4;
    std::vector<LammScanRecord> records(kScans + 1);
    std::vector<float> radii(kRadii + 1, 0.0f);
    for (int i = 1; i <= kRadii; ++i) radii[Idx(i)] = static_cast<float>(m + 0.001 * (i - 1));
    std::vector<std::vector<float>> rows(kScans + 1, std::vector<float>(kRadii + 1, 0.0f));
    std::vector<float*> out(kScans + 1, nullptr);
    for (int j = 1; j <= kScans; ++j) {
      records[Idx(j)].time = records[Idx(j)].timeUncorrected = 600.0 * j;
      records[Idx(j)].rpm = static_cast<float>(rpm);
      records[Idx(j)].temperature = 20.0f;
      out[Idx(j)] = rows[Idx(j)].data();
    }
    CLammIdeal solver;
    solver.SetIdealModel();
    solver.LoadSedimentationParameters(sLamm, 6e-7, m, 7.2, 1.0, 6.001f, 7.199f);
    solver.SkipAccelerationCheck();
    solver.LoadOutputParameters({.pScans = records.data(),
                                 .ppOut = out.data(),
                                 .pOutRadii = radii.data(),
                                 .nOutRadii = kRadii,
                                 .nScanCount = kScans});
    LammDiscretizationSettings fine;
    fine.nDefaultGrid = 2000;
    fine.bAutoGridSize = false;
    solver.LoadDiscretizationParameters(fine);
    solver.SetSolventConditions(20.0, 0.73, 1.0, 1.0);
    ASSERT_EQ(solver.Solve(), 0);
    AllocScanTables(kScans);
    for (int j = 1; j <= kScans; ++j) {
      float* r = tarmic::vector(1, kRadii);
      float* c = tarmic::vector(1, kRadii);
      for (int i = 1; i <= kRadii; ++i) {
        r[i] = radii[Idx(i)];
        c[i] = static_cast<float>(rows[Idx(j)][Idx(i)] + baseline);
      }
      DataSet().pScanInfo[Idx(j)].time = 600.0 * j;
      DataSet().pScanInfo[Idx(j)].rpm = static_cast<float>(rpm);
      DataSet().pScanInfo[Idx(j)].omega2t = w * w * 600.0 * j;
      InstallScanArrays(j, kRadii, r, c, nullptr, false);
    }
    const std::vector<std::string> lines = Lines(Calculate(kCmSecondMomentS, {"6.0", "6.9"}));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kScans + 3));
    for (std::size_t k = 2; k < kScans + 2; ++k)
      EXPECT_NEAR(std::strtod(Fields(lines[k])[1].c_str(), nullptr), sLamm, 0.001 * sLamm) << lines[k];
  }

  const double s = 5e-13;
  const double times[] = {3000.0, 1000.0, 2000.0};
  constexpr int kRadii = 2000;
  AllocScanTables(3);
  for (int j = 1; j <= 3; ++j) {
    const double w2t = w * w * times[j - 1];
    const double rb = m * std::exp(s * w2t);
    float* r = tarmic::vector(1, kRadii);
    float* c = tarmic::vector(1, kRadii);
    for (int i = 1; i <= kRadii; ++i) {
      r[i] = static_cast<float>(5.95 + 1.2 * (i - 1) / (kRadii - 1));
      c[i] = static_cast<float>(baseline + (r[i] > rb ? (m / rb) * (m / rb) : 0.0));
    }
    ScanInfo& info = DataSet().pScanInfo[Idx(j)];
    info.time = times[j - 1];
    info.rpm = static_cast<float>(rpm);
    info.omega2t = j == 3 ? 0.0 : w2t;  // scan 3 without a recorded w^2t: rpm and time
    InstallScanArrays(j, kRadii, r, c, nullptr, false);
  }
  DataSet().pScanOrder = {0, 2, 3, 1};
  const std::string text = Calculate(kCmSecondMomentS, {"6.0", "7.1"});
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2].rfind("1000.0\t", 0), 0u);
  for (int k = 2; k <= 4; ++k) EXPECT_NEAR(std::strtod(Fields(lines[k])[1].c_str(), nullptr), 5.0, 0.02) << lines[k];
  EXPECT_NEAR(After(text, "mean\t"), 5.0, 0.02);
  EXPECT_EQ(Backend().ClipboardText(), text);
  // A plateau inside the meniscus, or a meniscus beyond every boundary (no material
  // has left it), has no answer.
  EXPECT_NE(Calculate(kCmSecondMomentS, {"6.0", "5.99"}).find("beyond the meniscus"), std::string::npos);
  EXPECT_NE(Calculate(kCmSecondMomentS, {"6.5", "6.6"}).find("no scan has a boundary"), std::string::npos);
  ModelParams().fBaseline = 0.0f;
}

TEST_F(CommandTest, AboutShortcutsAndTemperaturePlot) {
  Backend().AnswerUnscriptedBoxes(IDOK);
  // About shows the disclaimer with the version; agreeing stores the acceptance.
  Backend().QueueDialog(IDOK);
  Dispatch(kCmAbout);
  ASSERT_EQ(Shown("Dialog"), 1);
  EXPECT_EQ(Lines(ReadFile(szParamsIni)).at(0), "1");
  EXPECT_FALSE(UiEvents().Any([](const Event& e) { return e.type == EventType::Quit; }));
  // Closing the box (Esc) answers nothing: the agreement, the file and the program
  // stay as they were.
  const std::string agreed = ReadFile(szParamsIni);
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmAbout);
  EXPECT_TRUE(bDisclaimerAccepted);
  EXPECT_EQ(ReadFile(szParamsIni), agreed);
  EXPECT_FALSE(UiEvents().Any([](const Event& e) { return e.type == EventType::Quit; }));
  // "don't agree" withdraws it in the file (the next start asks again) and ends the program.
  Backend().QueueDialog(kDisclaimerDisagree);
  Dispatch(kCmAbout);
  EXPECT_FALSE(bDisclaimerAccepted);
  EXPECT_EQ(Lines(ReadFile(szParamsIni)).at(0), "0");
  EXPECT_TRUE(UiEvents().Any([](const Event& e) { return e.type == EventType::Quit; }));
  UiEvents().Clear();
  Backend().ClearTranscript();

  Dispatch(kCmKeyboardShortcuts);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].find("command "), std::string::npos);  // every key has a name
  Backend().ClearTranscript();

  // The temperature plot needs data; with data it holds one point per scan in time
  // order, is painted once and freed.
  Dispatch(kCmShowTemperaturePlot);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"load data first"});
  LoadVelocitySet();
  Dispatch(kCmShowTemperaturePlot);
  ASSERT_NE(TemperaturePlot().pTemperaturePlot, nullptr);
  const CCurve* curve = TemperaturePlot().pTemperaturePlot->GetCurve(0);
  ASSERT_EQ(curve->X()->Length(), 3u);
  for (std::uint32_t i = 0; i + 1 < 3; ++i) EXPECT_LT(curve->X()->Get(static_cast<int>(i)), curve->X()->Get(static_cast<int>(i) + 1));
  EXPECT_EQ(curve->Y()->Get(0), DataSet().pScanInfo[Idx(DataSet().pScanOrder[1])].temperature);
  std::unique_ptr<DC> dc = Handle().ClientDC();
  Win().Paint(*dc, true, Rect{});
  EXPECT_EQ(TemperaturePlot().pTemperaturePlot, nullptr);
  EXPECT_TRUE(bTemperaturePlotShown);
  Win().Paint(*dc, true, Rect{});
  EXPECT_FALSE(bTemperaturePlotShown);
}

// In trace mode the temperature plot stays on the screen, and the pointer over a
// scan's mark reads that scan's time and temperature (to within a pixel).
TEST_F(CommandTest, TemperatureTraceReadsTheMarkUnderThePointer) {
  Backend().AnswerUnscriptedBoxes(IDOK);
  LoadVelocitySet();
  TemperaturePlot().bTemperatureTrace = true;
  Dispatch(kCmShowTemperaturePlot);
  std::unique_ptr<DC> dc = Handle().ClientDC();
  Win().Paint(*dc, true, Rect{});
  ASSERT_NE(TemperaturePlot().pTemperaturePlot, nullptr);
  EXPECT_FALSE(bTemperaturePlotShown);
  const ScanInfo& info = DataSet().pScanInfo[Idx(DataSet().pScanOrder[2])];
  const Size client = Handle().ClientSize();
  const double perX = client.cx / 1400.0, perY = client.cy / 1000.0;
  const int x = static_cast<int>(TemperaturePlot().pTemperaturePlot->MapX(static_cast<float>(info.time)) * perX + 0.5);
  const int y = static_cast<int>(TemperaturePlot().pTemperaturePlot->MapY(info.temperature) * perY + 0.5);
  DispatchToWindow(Win(), Event::Mouse(EventType::MouseMove, x, y, 0));
  const double xPixel = 1.0 / (TemperaturePlot().pTemperaturePlot->fScaleX * perX);
  const double yPixel = 1.0 / std::fabs(TemperaturePlot().pTemperaturePlot->fScaleY * perY);
  EXPECT_NEAR(std::strtod(szReadoutLine1.c_str(), nullptr), info.time, 2.0 * xPixel);
  EXPECT_NEAR(std::strtod(szReadoutLine2.c_str(), nullptr), info.temperature, 2.0 * yPixel);
  // Without trace mode the plot is shown once, and a move reads nothing.
  TemperaturePlot().bTemperatureTrace = false;
  szReadoutLine1.clear();
  Win().Paint(*dc, true, Rect{});
  EXPECT_EQ(TemperaturePlot().pTemperaturePlot, nullptr);
  DispatchToWindow(Win(), Event::Mouse(EventType::MouseMove, x, y, 0));
  EXPECT_TRUE(szReadoutLine1.empty());
}

TEST_F(CommandTest, OutsideProgramsThatAreMissingAreNamed) {
  Backend().AnswerUnscriptedBoxes(IDOK);
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  setenv("PATH", (ProgramDir() + "/temp").c_str(), 1);

  // The six plot commands stay in the full menu without their programs, and each,
  // chosen from it, names its program and the place it looked.
  bFullCommandSet = true;
  Win().AttachCommandMenu();
  for (const int id : {kCmPlotDataAs3d, kCmMakeSedimentationMovie, kCmMATLABPlotDataFitRes,
                       kCmMATLABPlotDataFitResDistribution, kCmMATLABPlotSizeAndShapeDistribution,
                       kCmPlotTriangulatedStructureFromBEST}) {
    Backend().ClearTranscript();
    ASSERT_TRUE(Backend().Headless().ChooseMenuItem(id)) << id;
    PostQuitMessage(0);
    RunMessageLoop(Win());
    ASSERT_EQ(BoxTexts().size(), 1u) << id;
    EXPECT_EQ(Captions()[0], "PROGRAM NOT FOUND") << id;
    EXPECT_NE(BoxTexts()[0].find(szProgramDir + "bin/"), std::string::npos) << BoxTexts()[0];
  }
  bFullCommandSet = false;
  Win().AttachCommandMenu();
  Backend().ClearTranscript();

  Dispatch(kCmPlotDataAs3d);
  Dispatch(kCmHYDROPROCalculation);
  Dispatch(kCmExportDataToQUENTAR);
  ASSERT_EQ(BoxTexts().size(), 3u);
  EXPECT_EQ(Captions()[0], "PROGRAM NOT FOUND");

  // A program that is present is not reported missing: found on PATH, or in "bin".
  const std::string onPath = ProgramDir() + "/temp/hydropro";
  WriteFile(onPath, "#!/bin/sh\n");
  chmod(onPath.c_str(), 0755);
  std::filesystem::create_directories(szProgramDir + "bin");
  WriteFile(szProgramDir + "bin/plotdata3d", "#!/bin/sh\n");
  chmod((szProgramDir + "bin/plotdata3d").c_str(), 0755);
  Backend().ClearTranscript();
  Dispatch(kCmHYDROPROCalculation);
  Dispatch(kCmPlotDataAs3d);
  ASSERT_EQ(BoxTexts().size(), 2u);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"ATTENTION", "ATTENTION"}));
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace tarmic::testing
