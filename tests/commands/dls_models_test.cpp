// The light-scattering model commands and tools: the discrete Stokes-radius and
// cumulant models fitted to synthetic correlation functions, the toggle between
// intensity and field autocorrelation, the I(Rh,t) time course over a series whose
// radius grows, and the two-column converters.
#include "distribution_window_test_support.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "modelcalc/dls_species_signal.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/time_course.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "numerics/one_based.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "resources/menus.h"
#include "scandata/dls_file.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr double kBoltzmann = 1.380649e-23;  // J/K
constexpr double kWaterViscosity = 1.002e-3;  // Pa s at 20 C

// q^2 (1/m^2) at 633 nm in water (n 1.33) at the angle (degrees).
double Q2(double angle) {
  return std::pow(4.0 * kPi * 1.33 * std::sin(angle * kPi / 360.0) / 6.33e-7, 2);
}

// Stokes-Einstein at 20 C in water: D (cm^2/s) of a sphere of radius R (nm).
double DOfRadius(double nm) {
  return kBoltzmann * 293.15 / (6.0 * kPi * kWaterViscosity * nm * 1e-9) * 1e4;
}

class DlsModelsTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    Handle().AttachMenu(GetMenuResource(kMenuFull));
  }
  void TearDown() override {
    DlsFile().bDLSConvertOnWrite = false;
    DistributionWindowTest::TearDown();
  }

  // The time course of radii from 0.5 to 100 nm on 40 points at confidence 0.68,
  // one file a window.
  void ChooseTimeCourseOfSingleFiles() {
    Dispatch(kCmDLSTimeCourse);
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.5f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 100.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 40.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    UnpackModelParams();
    DistributionModels().fTimeCourseWindow = 1.0f;
  }

  // A dlsdat file at 20 C in water, 633 nm, with g(1) = value(tau) at n lag times
  // log spaced from 1e-7 s to tauMax.
  template <class F>
  std::string WriteField(const std::string& name, double time, double angle, double tauMax, int n,
                         F value) {
    const std::string path = ProgramDir() + "/" + name;
    std::ofstream out(path);
    out << name << "\n20.0 " << time << " 100.00 1.33 0.01002 " << angle << " 6.33e-07 1\n";
    out.precision(9);
    for (int i = 0; i < n; ++i) {
      const double tau = std::pow(10.0, -7.0 + (std::log10(tauMax) + 7.0) * i / (n - 1));
      // Below what a float holds a correlation is written as 0, as a correlator
      // writes it.
      const double v = value(tau);
      out << tau << " " << (std::fabs(v) < 1e-30 ? 0.0 : v) << "\n";
    }
    return path;
  }

  void Load(const std::vector<std::string>& files) {
    bAlwaysLoadG2 = false;
    Backend().QueueOpenFiles(files);
    Dispatch(kCmLoadDLSData);
    ASSERT_EQ(DataSet().nScans, static_cast<int>(files.size()));
    ASSERT_TRUE(DataSet().bDLSData);
    Backend().ClearTranscript();
  }

  // Species 1 alone, its second value floated (and slot 2 with cumulants, from
  // mu2Start), the amplitude solved linearly; the method as given.
  static void FloatSpeciesOne(float start, bool secondCumulant, bool marquardt = true,
                              float mu2Start = 0.0f) {
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1;
    ModelParams().pSpeciesMassOrD[1] = start;
    ModelParams().pSpeciesMassOrDFit[1] = 1;
    ModelParams().pSpeciesMassOrD[2] = mu2Start;
    ModelParams().pSpeciesMassOrDFit[2] = secondCumulant ? 1 : 0;
    ModelParams().pSpeciesMassOrD[3] = ModelParams().pSpeciesMassOrD[4] = 0.0f;
    ModelParams().pSpeciesMassOrDFit[3] = ModelParams().pSpeciesMassOrDFit[4] = 0;
    ModelParams().pSpeciesAmplitude[1] = 1.0f;
    ModelParams().pSpeciesAmplitudeFit[1] = 1;
    PackModelParams();
    UpdateLinearFitFlags();
    bFitMarquardt = marquardt;
    bFitSimplex = !marquardt;
    bFitAnnealing = false;
  }
};

// 536 on a sphere of 4 nm (two angles) fits R = 4 nm; it needs DLS data.
TEST_F(DlsModelsTest, StokesRadiusFitRecoversRadius) {
  // Without DLS data the Stokes-radius model says what it needs.
  Dispatch(kCmDLSStokesRadii);
  EXPECT_TRUE(ModelFlags().bDiscreteModel && ModelFlags().bStokesRadii);
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmRun);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"this model needs DLS data: load DLS Data first"});

  const double R = 4.0, A = 0.8;
  std::vector<std::string> files;
  for (const double angle : {90.0, 173.0}) {
    const double gamma = 1e-4 * DOfRadius(R) * Q2(angle);
    files.push_back(WriteField("sphere" + std::to_string(int(angle)) + ".dlsdat", angle, angle,
                               1e-2, 90, [&](double tau) { return A * std::exp(-gamma * tau); }));
  }
  Load(files);
  Dispatch(kCmDLSStokesRadii);
  FloatSpeciesOne(2.5f, false);
  Dispatch(kCmFit);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], R, 0.002 * R);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], A, 1e-3);
  EXPECT_LT(Rmsd().fFitRmsd, 1e-4f);
}

// 890 with the second cumulant floated, from a mean D half as large again as the
// truth and mu2 = 0 (the simplex, the default method) or from half the truth and
// mu2 / D^2 = 0.3 (Marquardt-Levenberg), on correlation functions recorded out to
// 1 s (some ten thousand mean decay times): a single size, a Schulz (gamma)
// distribution of decay rates and two sizes of equal intensity. The mean rate and
// the polydispersity mu2 / G^2 are those of the decay-rate distribution: k theta and
// k theta^2 of the gamma distribution, whose g1 is (1 + theta tau)^-k; the
// intensity-weighted mean and variance of the two rates.
TEST_F(DlsModelsTest, CumulantFitFromAFarStartRecoversMeanRateAndPolydispersity) {
  const double A = 0.8, q2 = Q2(90.0), toRate = 1e-4 * 1e-7 * q2;  // 1e-7 cm^2/s -> 1/s
  std::mt19937 random(5);
  constexpr float kNoise = 5e-4f;
  std::normal_distribution<double> noise(0.0, kNoise);
  struct Sample {
    std::string name;
    double meanRate, mu2;  // 1/s, 1/s^2
    std::function<double(double)> g1;
  };
  std::vector<Sample> samples;
  {
    const double G = 5.357 * toRate;
    samples.push_back({"single", G, 0.0, [=](double tau) { return A * std::exp(-G * tau); }});
  }
  {
    const double G = 4.0 * toRate, pdi = 0.15, k = 1.0 / pdi, theta = G / k;
    samples.push_back({"schulz", k * theta, k * theta * theta,
                       [=](double tau) { return A * std::pow(1.0 + theta * tau, -k); }});
  }
  {
    const double G1 = 3.5 * toRate, G2 = 6.0 * toRate, mean = 0.5 * (G1 + G2);
    const double mu2 = 0.5 * (G1 - mean) * (G1 - mean) + 0.5 * (G2 - mean) * (G2 - mean);
    samples.push_back({"two sizes", mean, mu2, [=](double tau) {
                         return 0.5 * A * (std::exp(-G1 * tau) + std::exp(-G2 * tau));
                       }});
  }
  for (const Sample& sample : samples) {
    Load({WriteField(sample.name + ".dlsdat", 0.0, 90.0, 1.0, 150,
                     [&](double tau) { return sample.g1(tau) + noise(random); })});
    for (const bool marquardt : {false, true}) {
      SCOPED_TRACE(sample.name + (marquardt ? ", Marquardt" : ", simplex"));
      Dispatch(kCmDLSCumulants);
      ASSERT_TRUE(ModelFlags().bDiscreteModel && ModelFlags().bCumulants && !ModelFlags().bStokesRadii);
      const double off = marquardt ? 0.5 : 1.5;
      const float start = static_cast<float>(off * sample.meanRate / toRate);
      FloatSpeciesOne(start, true, marquardt, marquardt ? 0.3f * start * start : 0.0f);
      Dispatch(kCmFit);
      const double D = ModelParams().pSpeciesMassOrD[1];
      EXPECT_NEAR(D * toRate, sample.meanRate, 0.01 * sample.meanRate);
      EXPECT_NEAR(ModelParams().pSpeciesMassOrD[2] / (D * D), sample.mu2 / (sample.meanRate * sample.meanRate),
                  0.02);
      EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], A, 0.01);
      EXPECT_LT(Rmsd().fFitRmsd, 2.5f * kNoise);
    }
  }
}

// The toggle turns g(1) into g(2) - 1 (signed squares: a negative tail stays
// negative) and back; the grid rows, the records, the axis labels and the fit
// follow, so that an exact fit keeps zero residuals in either form.
TEST_F(DlsModelsTest, ToggleRoundTripsTheLoadedFunctions) {
  // Without data nothing happens.
  Dispatch(kCmToggleCorrelationForm);
  EXPECT_TRUE(Backend().Transcript().empty());

  const double gamma = 1e-4 * DOfRadius(3.0) * Q2(90.0);
  Load({WriteField("a.dlsdat", 10.0, 90.0, 1e-1, 60,
                   [&](double tau) { return 0.9 * std::exp(-gamma * tau) - 0.01; }),
        WriteField("b.dlsdat", 20.0, 90.0, 1e-1, 50,
                   [&](double tau) { return 0.7 * std::exp(-gamma * tau); })});
  std::vector<std::vector<float>> original(3);
  for (int s = 1; s <= 2; ++s) {
    original[Idx(s)].assign(DataSet().ppSignal[Idx(s)], DataSet().ppSignal[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
    for (int j = 1; j <= DataSet().pnPoints[Idx(s)]; ++j) DataSet().ppFit[Idx(s)][j] = DataSet().ppSignal[Idx(s)][j];
  }
  const int last = DataSet().pnPoints[1];
  ASSERT_LT(original[1][Idx(last)], 0.0f);
  const float grid = CurrentGrid().ppGridSignal[1][1];

  Dispatch(kCmToggleCorrelationForm);
  EXPECT_FALSE(DataSet().pDLSInfo[1].bFieldACF || DataSet().pDLSInfo[2].bFieldACF);
  for (int s = 1; s <= 2; ++s)
    for (int j = 1; j <= DataSet().pnPoints[Idx(s)]; ++j) {
      const float g = original[Idx(s)][Idx(j)];
      ASSERT_FLOAT_EQ(DataSet().ppSignal[Idx(s)][j], g * std::fabs(g));
    }
  EXPECT_NEAR(CurrentGrid().ppGridSignal[1][1], grid * grid, 1e-6);
  std::vector<float> residuals(Idx(last) + 1);
  ComputeScanResiduals(1, residuals.data());
  for (int j = 1; j <= last; ++j) ASSERT_NEAR(residuals[Idx(j)], 0.0f, 1e-7f);

  Dispatch(kCmToggleCorrelationForm);
  EXPECT_TRUE(DataSet().pDLSInfo[1].bFieldACF && DataSet().pDLSInfo[2].bFieldACF);
  for (int s = 1; s <= 2; ++s)
    for (int j = 1; j <= DataSet().pnPoints[Idx(s)]; ++j)
      ASSERT_NEAR(DataSet().ppSignal[Idx(s)][j], original[Idx(s)][Idx(j)], 1e-6f);
  ComputeScanResiduals(2, residuals.data());
  for (int j = 1; j <= DataSet().pnPoints[2]; ++j) ASSERT_NEAR(residuals[Idx(j)], 0.0f, 1e-6f);
}

// Seven functions a minute apart of a sphere growing by half its radius each
// minute, from 2 nm: with one-minute windows window w analyses function w + 1 alone,
// and its I(Rh) peaks at that function's radius; the table of the course is
// written with one row per window.
TEST_F(DlsModelsTest, TimeCourseFollowsAGrowingRadius) {
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0.0, 1e-3);
  std::vector<std::string> files;
  std::vector<double> radius(8);
  for (int p = 1; p <= 7; ++p) {
    radius[Idx(p)] = 2.0 * std::pow(1.5, p - 1);
    const double gamma = 1e-4 * DOfRadius(radius[Idx(p)]) * Q2(90.0);
    files.push_back(WriteField("t" + std::to_string(p) + ".dlsdat", 60.0 * p, 90.0, 1e-1, 100,
                               [&](double tau) { return 0.7 * std::exp(-gamma * tau) + noise(random); }));
  }
  Load(files);
  ChooseTimeCourseOfSingleFiles();
  EXPECT_TRUE(ModelFlags().bContiModel && ModelFlags().bDLSTimeCourseModel);

  std::vector<double> peaks;
  const auto step = [&](Window* window) {
    const bool ok = RunTimeCourseStep(window);
    int top = 1;
    for (int i = 2; i <= DistributionVectors().nDistGrid; ++i)
      if (DistributionVectors().pDistValues[i] > DistributionVectors().pDistValues[top]) top = i;
    peaks.push_back(DistributionVectors().pDistGrid[top] + 9.0);  // log10 of Rh in nm
    // The course waits after each window; r runs on.
    if (peaks.size() == 1) Backend().Headless().PressKey('R', 0, 'r');
    return ok;
  };
  TimeCourseTable course;
  ASSERT_TRUE(RunContinuousModel(&Handle(), course, step));
  ASSERT_EQ(TimeCourse().nTimeCourseWindowsDone, 7);
  WriteTimeCourse(course, ProgramDir() + "/sizes.dat");
  const double gridStep = std::log10(200.0) / 39.0;  // decades between grid points
  for (int w = 1; w <= 6; ++w)
    EXPECT_NEAR(peaks[Idx(w - 1)], std::log10(radius[Idx(w + 1)]), gridStep) << "window " << w;

  std::ifstream times(ProgramDir() + "/times.dat");
  std::vector<double> t;
  for (double v; times >> v;) t.push_back(v);
  ASSERT_EQ(t.size(), 7u);
  EXPECT_DOUBLE_EQ(t[0], 120.0);
  std::ifstream sizes(ProgramDir() + "/sizes.dat");
  int rows = 0;
  for (std::string line; std::getline(sizes, line);) rows += !line.empty();
  EXPECT_EQ(rows, 7);
}

// A course stopped by a key in the analysis of a window says so once, with the Run
// command: in window 2 the distribution of window 1 stays on show and the note
// names it; in window 1 the distribution of before the course (that window 1) is
// shown again and the note says it is the earlier result.
TEST_F(DlsModelsTest, TimeCourseStoppedByAKeySaysWhatIsOnShow) {
  std::vector<std::string> files;
  for (int p = 1; p <= 5; ++p) {
    const double gamma = 1e-4 * DOfRadius(2.0 * std::pow(1.5, p - 1)) * Q2(90.0);
    files.push_back(WriteField("t" + std::to_string(p) + ".dlsdat", 60.0 * p, 90.0, 1e-1, 100,
                               [&](double tau) { return 0.7 * std::exp(-gamma * tau); }));
  }
  Load(files);
  ChooseTimeCourseOfSingleFiles();
  // The analyses end ("cleanup done") and start their normal equations.
  int ended = 0, solves = 0;
  const auto log = GetDistributionHooks().writeDebugLog;
  GetDistributionHooks().writeDebugLog = [&](const std::string& text) {
    if (text == " --> cleanup done.") ++ended;
    if (text == "\n RunContiSed starting normal equations") ++solves;
    if (log) log(text);
  };
  // The course stopped in window 2 leaves window 1 on show: the result before the
  // course stopped in window 1.
  std::vector<float> before;
  for (const int window : {2, 1}) {
    SCOPED_TRACE("key in window " + std::to_string(window));
    ended = solves = 0;
    bool typedR = false, typedKey = false;
    std::vector<float> windowOne;
    // Window 1 done, the course waits: r runs on; then a key in the next solve.
    Backend().SetPumpHook([&] {
      if (window == 2 && !typedR && ended == 1) {
        typedR = true;
        windowOne.assign(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
        Backend().Headless().PressKey('R', 0, 'r');
      } else if (!typedKey && solves == window) {
        typedKey = true;
        Backend().Headless().PressKey('S');
      }
    });
    Backend().ClearTranscript();
    if (window == 2) Backend().QueueSaveFile(std::nullopt);  // the table is not saved
    Backend().AnswerUnscriptedBoxes(IDOK);
    Dispatch(kCmRun);
    Backend().SetPumpHook(nullptr);
    ASSERT_TRUE(typedKey);
    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("user interrupt\n", 0), 0u) << boxes[0];
    ASSERT_NE(DistributionVectors().pDistValues, nullptr);
    const std::vector<float> shown(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
    if (window == 2) {
      EXPECT_NE(boxes[0].find("after 1 of 5 windows"), std::string::npos) << boxes[0];
      EXPECT_NE(boxes[0].find("that of window 1"), std::string::npos) << boxes[0];
      EXPECT_EQ(shown, windowOne);
      before = shown;
    } else {
      EXPECT_NE(boxes[0].find("before its first window: the result on show is the earlier one"),
                std::string::npos)
          << boxes[0];
      EXPECT_EQ(shown, before);
    }
  }
}

// "2 column ASCII data" reads lag time and g(1), "2 column ASCII g(2)-1" lag time
// and g(2) - 1; both ask the experiment's parameters and write dlsdat files beside
// the tables that load as any other (several tables a fixed interval apart). Lag
// times that are not positive are left out; a table with a line of text is
// refused, and a cancelled question writes nothing.
TEST_F(DlsModelsTest, TwoColumnTablesBecomeDlsdatFiles) {
  const std::string field = ProgramDir() + "/field.txt";
  std::ofstream(field) << "0 1.0\n1e-6 0.81\n2e-6, 0.64\n\n4e-6 -0.04\n";
  Backend().QueueOpenFiles({field});
  for (const char* v : {"25", "0.0089", "1.33", "173", "532", "30"}) Backend().QueueInput(v);
  Dispatch(kCmConvertTwoColumnData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const DlsRead converted = ReadDls(ProgramDir() + "/field.dlsdat", false);
  const DLSInfo& record = converted.record;
  ASSERT_EQ(converted.y.size(), 4u);
  EXPECT_TRUE(record.bFieldACF);
  EXPECT_FLOAT_EQ(record.temperatureC, 25.0f);
  EXPECT_NEAR(record.laserWavelength, 5.32e-7, 1e-12);
  EXPECT_DOUBLE_EQ(record.elapsedTime, 30.0);
  EXPECT_NEAR(converted.x[1], -6.0, 1e-5);
  EXPECT_NEAR(converted.y[2], 0.64, 1e-6);
  EXPECT_NEAR(converted.y[3], -0.04, 1e-6);

  std::vector<std::string> tables;
  for (int k = 0; k < 2; ++k) {
    tables.push_back(ProgramDir() + "/g2_" + std::to_string(k) + ".dat");
    std::ofstream(tables.back()) << "1e-6 " << 0.5 - 0.1 * k << "\n1e-5 0.25\n1e-4 0.01\n";
  }
  Backend().QueueOpenFiles(tables);
  for (const char* v : {"20", "0.01002", "1.33", "90", "633", "100", "45"}) Backend().QueueInput(v);
  Dispatch(kCmConvertTwoColumnG2);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  Load({ProgramDir() + "/g2_1.dlsdat", ProgramDir() + "/g2_0.dlsdat"});
  EXPECT_EQ(DataSet().ppScanFileNames[1], "g2_0.dlsdat");
  EXPECT_DOUBLE_EQ(DataSet().pDLSInfo[2].elapsedTime, 145.0);
  EXPECT_TRUE(DataSet().pDLSInfo[1].bFieldACF);  // g(2) - 1 in the file, g(1) loaded
  EXPECT_NEAR(DataSet().ppSignal[1][1], std::sqrt(0.5), 1e-6);
  EXPECT_NEAR(DataSet().ppSignal[2][1], std::sqrt(0.4), 1e-6);

  // A line of text: refused with a message. A cancelled question: nothing written.
  const std::string text = ProgramDir() + "/text.txt";
  std::ofstream(text) << "tau g1\n1e-6 0.5\n1e-5 0.2\n";
  Backend().QueueOpenFiles({text});
  for (const char* v : {"20", "0.01002", "1.33", "90", "633", "0"}) Backend().QueueInput(v);
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmConvertTwoColumnData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(std::filesystem::exists(ProgramDir() + "/text.dlsdat"));
  std::filesystem::remove(ProgramDir() + "/field.dlsdat");
  Backend().QueueOpenFiles({field});
  Backend().QueueInput("20");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmConvertTwoColumnData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(std::filesystem::exists(ProgramDir() + "/field.dlsdat"));
}

}  // namespace
}  // namespace tarmic::testing
