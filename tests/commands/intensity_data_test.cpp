// Intensity data from file to fit, checked against the physics they were made from:
// a sedimentation velocity run of one 4 S species (loading absorbance 0.8) recorded
// as intensity scans, sample = reference x 10^(-A), with counting noise on both
// channels. The absorbance the program makes of them, the files it writes, and the
// fits of the discrete-species model and of c(s) must give A, s and D back.
#include "distribution_window_test_support.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/paint.h"
#include "commands/equilibrium_sorting.h"
#include "distributions/distribution_integration.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/noise_subtraction.h"
#include "scandata/initial_data.h"
#include "scandata/intensity_scans.h"
#include "scandata/raw_data_tools.h"
#include "scandata/result_files.h"
#include "scandata/scan_loading.h"

namespace tarmic::testing {
namespace {

constexpr int kScans = 12;
constexpr double kS = 4.0;
constexpr double kLoading = 0.8;
constexpr double kSampleNoise = 4.0;     // counts
constexpr double kReferenceNoise = 3.0;  // counts

std::size_t Z(int i) { return static_cast<std::size_t>(i); }

// The lamp's reference intensity across the cell: about 1000 counts, a little
// brighter towards the bottom.
double LampIntensity(double r) { return 1000.0 * (1.0 + 0.05 * (r - 6.6)); }

// The run: the true absorbance of every scan at the cell radii, and the files.
struct IntensityRun {
  std::vector<float> radii;
  std::vector<std::vector<float>> absorbance;  // [scan 1..kScans][point 1..n]
};

const IntensityRun& Truth() {
  static const IntensityRun run = [] {
    IntensityRun r;
    r.radii = SyntheticRadii();
    r.absorbance = SyntheticLammProfiles(kS, kScans);
    for (int j = 1; j <= kScans; ++j)
      for (float& a : r.absorbance[Z(j)]) a = static_cast<float>(kLoading * a);
    return r;
  }();
  return run;
}

// The true absorbance of scan j at radius x (linear between the cell radii).
double TrueAbsorbance(int j, double x) {
  const IntensityRun& t = Truth();
  const double u = (x - kCellMeniscus) / 0.01 + 1.0;
  const int k = std::clamp(static_cast<int>(std::floor(u)), 1, kSyntheticPoints - 1);
  const double w = std::clamp(u - k, 0.0, 1.0);
  return (1.0 - w) * t.absorbance[Z(j)][Z(k)] + w * t.absorbance[Z(j)][Z(k + 1)];
}

// The scan number of the file name "000jj.xxx".
int ScanOfFile(const std::string& path) {
  return std::atoi(std::filesystem::path(path).filename().string().c_str() + 1);
}

class IntensityDataTest : public DistributionWindowTest {
 protected:
  // Writes the run as intensity scans "00001.ri1" ...: the sample intensity in the
  // second column, the reference in the third; loads them and sets the cell.
  void LoadIntensityRun() {
    const std::string dir = ProgramDir() + "/data";
    std::filesystem::create_directories(dir);
    SeedRandomGenerators(20261208u);
    const IntensityRun& t = Truth();
    const int n = kSyntheticPoints;
    std::vector<std::string> paths;
    const double omega = 50000.0 * M_PI / 30.0;
    for (int j = 1; j <= kScans; ++j) {
      std::vector<float> sample(Z(n) + 1, 0.0f), reference(Z(n) + 1, 0.0f);
      for (int p = 1; p <= n; ++p) {
        const double lamp = LampIntensity(t.radii[Z(p)]);
        sample[Z(p)] = static_cast<float>(lamp * std::pow(10.0, -t.absorbance[Z(j)][Z(p)]) +
                                          GaussianRandomDouble(kSampleNoise));
        reference[Z(p)] = static_cast<float>(lamp + GaussianRandomDouble(kReferenceNoise));
      }
      char name[32];
      std::snprintf(name, sizeof name, "%05d.ri1", j);
      const std::string path = (std::filesystem::path(dir) / name).string();
      const double time = 600.0 * j;
      EXPECT_TRUE(WriteRadialScanFile(path.c_str(), n, t.radii.data(), sample.data(), reference.data(),
                                      "intensity", true, 0, 0, 0, false, 'I', 1, 20.0f, 50000.0f, time,
                                      omega * omega * time, 280.0f, 1));
      paths.push_back(path);
    }
    LoadThroughDialog(paths);
    ASSERT_EQ(DataSet().nScans, kScans);
    ASSERT_TRUE(ScanFile().bIntensityData);
    SetCellAndLimits();
    Backend().ClearTranscript();
  }

  // The rms misfit the noise alone leaves: the model's sample intensity is the
  // noisy reference times 10^(-A), the data the lamp times 10^(-A) plus noise.
  static double NoiseRmsd() {
    double sum = 0.0;
    long count = 0;
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int p = DataSet().pFitFirst[Z(s)]; p <= DataSet().pFitLast[Z(s)]; ++p) {
        const double f = std::pow(10.0, -2.0 * TrueAbsorbance(ScanOfFile(DataSet().ppScanFileNames[Z(s)]), DataSet().ppRadius[Z(s)][p]));
        sum += kSampleNoise * kSampleNoise + kReferenceNoise * kReferenceNoise * f;
        ++count;
      }
    return std::sqrt(sum / static_cast<double>(count));
  }

  // Rms of (values - true absorbance of scan j) at the radii, over points inside the
  // fit limits.
  static double RmsFromTruth(int j, const std::vector<float>& r, const std::vector<float>& v) {
    double sum = 0.0;
    long count = 0;
    for (std::size_t p = 0; p < r.size(); ++p) {
      if (r[p] < DataSet().fFitLeftLim || r[p] > DataSet().fFitRightLim) continue;
      const double d = v[p] - TrueAbsorbance(j, r[p]);
      sum += d * d;
      ++count;
    }
    EXPECT_GT(count, 50);
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 1e30;
  }
};

// Absorbance is log10(reference / sample): positive where the protein absorbs, on
// the common grid and in the files of "Save Intensity as Absorbance"; the data plot
// shows the sample intensity with the reference dotted beside it.
TEST_F(IntensityDataTest, GridAndAbsorbanceFilesHoldThePositiveAbsorbance) {
  LoadIntensityRun();
  // Counting noise of a few counts in 1000 leaves an absorbance error near 0.005.
  for (int s = 1; s <= DataSet().nScans; ++s) {
    std::vector<float> r, a;
    for (int g = CurrentGrid().iFitFirst; g <= CurrentGrid().iFitLast; ++g) {
      r.push_back(CurrentGrid().pGridRadius[g]);
      a.push_back(CurrentGrid().ppGridSignal[Z(s)][g]);
    }
    EXPECT_LT(RmsFromTruth(ScanOfFile(DataSet().ppScanFileNames[Z(s)]), r, a), 0.012) << s;
  }

  // The data plot: curve k-1 is the sample of display position k, curve nScans+k-1
  // its reference, both in intensity.
  ASSERT_NE(DataPlots().pDataPlot, nullptr);
  EXPECT_EQ(DataPlots().pDataPlot->szYLabel, "intensity");
  const int s1 = DataSet().pScanOrder[1];
  const double lamp = LampIntensity(DataSet().ppRadius[Z(s1)][60]);
  const double a1 = TrueAbsorbance(ScanOfFile(DataSet().ppScanFileNames[Z(s1)]), DataSet().ppRadius[Z(s1)][60]);
  EXPECT_NEAR(DataPlots().pDataPlot->GetCurve(0)->Y()->Get(59), lamp * std::pow(10.0, -a1), 5.0 * kSampleNoise);
  EXPECT_NEAR(DataPlots().pDataPlot->GetCurve(DataSet().nScans)->Y()->Get(59), lamp, 5.0 * kReferenceNoise);
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(DataSet().nScans), 7);

  // (Both sets are written before any file is read: the reader sets the data-kind
  // flags of the file it reads.)
  ASSERT_TRUE(SaveIntensityAsAbsorbance(true).ok());
  const RawToolOutcome pseudo = SaveIntensityAsPseudoAbsorbance(true);
  ASSERT_TRUE(pseudo.ok()) << pseudo.message;
  for (int j : {1, 6, 12}) {
    char name[32];
    std::snprintf(name, sizeof name, "%05d.ra1", j);
    const ScanRead file = ReadScan(ProgramDir() + "/data/" + name);
    EXPECT_EQ(file.info.scanType, 'R');
    EXPECT_LT(RmsFromTruth(j, file.r, file.y), 0.012) << name;
  }

  // The two pseudo-absorbance sets: log10(1000 / intensity) of the sample channel
  // ('S') and of the reference channel ('R').
  for (int j : {1, 12}) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.ra1", j);
    const ScanRead sample = ReadScan(ProgramDir() + "/data/S" + name);
    const ScanRead reference = ReadScan(ProgramDir() + "/data/R" + name);
    std::vector<float> sampleA = sample.y, referenceA = reference.y;
    for (std::size_t p = 0; p < sample.r.size(); ++p) {
      sampleA[p] -= static_cast<float>(std::log10(1000.0 / LampIntensity(sample.r[p])));
      referenceA[p] = static_cast<float>(std::log10(1000.0 / LampIntensity(reference.r[p])) - referenceA[p] +
                                         TrueAbsorbance(j, reference.r[p]));
    }
    EXPECT_LT(RmsFromTruth(j, sample.r, sampleA), 0.012) << name;
    EXPECT_LT(RmsFromTruth(j, reference.r, referenceA), 0.005) << name;
  }

  // The raw set saved by the program loads back to the same intensities.
  const int s = DataSet().pScanOrder[5];
  const std::string stored = DataSet().ppScanFileNames[Z(s)];
  const int n = DataSet().pnPoints[Z(s)];
  const std::vector<float> sampleIn(DataSet().ppSignal[Z(s)] + 1, DataSet().ppSignal[Z(s)] + n + 1);
  const std::vector<float> referenceIn(DataSet().ppThirdColumn[Z(s)] + 1, DataSet().ppThirdColumn[Z(s)] + n + 1);
  ScanFile().bIntensityData = true;  // as loaded (the reads above set the flags of their files)
  const std::string raw = ProgramDir() + "/raw";
  std::filesystem::create_directories(raw);
  ASSERT_TRUE(SaveRawDataToDirectory(raw + "/x.rxx", true).ok());
  Backend().QueueMessageBox(IDOK, "ATTENTION");  // two copies of one scan: one time
  LoadThroughDialog({raw + "/x" + stored, raw + "/x" + stored});
  ASSERT_EQ(DataSet().nScans, 2);
  ASSERT_TRUE(ScanFile().bIntensityData);
  ASSERT_EQ(DataSet().pnPoints[1], n);
  for (int p = 1; p <= n; ++p) {
    ASSERT_NEAR(DataSet().ppSignal[1][p], sampleIn[Z(p - 1)], 1e-5 * std::fabs(sampleIn[Z(p - 1)]) + 1e-3) << p;
    ASSERT_NEAR(DataSet().ppThirdColumn[1][p], referenceIn[Z(p - 1)], 1e-5 * referenceIn[Z(p - 1)]) << p;
  }
}

// An intensity scan read as the initial distribution starts the models as its
// absorbance, with its reference intensity as the third column.
TEST_F(IntensityDataTest, InitialDistributionFromAnIntensityScanIsItsAbsorbance) {
  LoadIntensityRun();
  ASSERT_EQ(LoadInitialData(nullptr, ProgramDir() + "/data/00002.ri1"), 1);
  ASSERT_GT(InitialData().nInitPoints, 100);
  ASSERT_EQ(InitialData().pInitThird.size(), InitialData().pInitSignal.size());
  std::vector<float> r(InitialData().pInitRadius.begin() + 1, InitialData().pInitRadius.end());
  std::vector<float> a(InitialData().pInitSignal.begin() + 1, InitialData().pInitSignal.end());
  EXPECT_LT(RmsFromTruth(2, r, a), 0.012);
  EXPECT_NEAR(InitialData().pInitThird[60], LampIntensity(InitialData().pInitRadius[60]), 5.0 * kReferenceNoise);
  EXPECT_TRUE(ScanFile().bIntensityData);
}

// The green initial profile stands in the data plot's unit, counts: the profile
// read from the second scan's file lies on that scan's sample intensities (it lay
// flat near 0, drawn as absorbance). An absorbance profile is drawn against the
// first displayed scan's reference intensity: over the second scan's data within the
// reference channels' noise.
TEST_F(IntensityDataTest, InitialProfileIsDrawnInCountsOverItsScan) {
  LoadIntensityRun();
  int s = 0;
  for (int k = 1; k <= DataSet().nScans; ++k)
    if (DataSet().ppScanFileNames[Z(k)] == "00002.ri1") s = k;
  ASSERT_GT(s, 0);
  // The overlay's points by column.
  auto drawn = [] {
    std::map<int, int> rowOfColumn;
    std::unique_ptr<MetaFile> overlay = InitialProfileOverlay();
    EXPECT_TRUE(overlay);
    if (!overlay) return rowOfColumn;
    for (const MetaRecord& m : overlay->Records()) {
      if (m.op == MetaOp::Polyline)
        for (const Point& p : m.points) rowOfColumn[p.x] = p.y;
      if (m.op == MetaOp::MoveTo || m.op == MetaOp::LineTo) rowOfColumn[m.a] = m.b;
    }
    return rowOfColumn;
  };
  // The largest distance in rows of the drawn profile from the second scan's data,
  // and the rows that counts tolerance spans there.
  auto offBy = [&](double counts) {
    const std::map<int, int> rows = drawn();
    double worst = 0.0, tolerance = 0.0;
    int compared = 0;
    for (int p = DataSet().pFitFirst[Z(s)]; p <= DataSet().pFitLast[Z(s)]; p += 5) {
      const auto at = rows.find(DataPlots().pDataPlot->MapX(DataSet().ppRadius[Z(s)][p]));
      if (at == rows.end()) continue;
      const float data = DataSet().ppSignal[Z(s)][p];
      worst = std::max(worst, std::fabs(static_cast<double>(at->second - DataPlots().pDataPlot->MapY(data))));
      tolerance = std::max(tolerance, std::fabs(static_cast<double>(DataPlots().pDataPlot->MapY(data) -
                                                                     DataPlots().pDataPlot->MapY(data + static_cast<float>(counts)))));
      ++compared;
    }
    EXPECT_GT(compared, 10);
    return worst - tolerance;
  };
  AnalysisSwitches().bInitialDataProfile = true;
  ASSERT_EQ(LoadInitialData(nullptr, ProgramDir() + "/data/00002.ri1"), 1);
  EXPECT_LE(offBy(0.5), 1.0);

  // The second scan's absorbance as an absorbance file.
  const std::vector<float> absorbance = ScanAbsorbance(s);
  const std::string path = ProgramDir() + "/absorbance.ra1";
  ASSERT_TRUE(WriteRadialScanFile(path.c_str(), DataSet().pnPoints[Z(s)], DataSet().ppRadius[Z(s)], absorbance.data(), nullptr,
                                  "absorbance", true, 0, 0, 0, false, 'R', 1, 20.0f, 50000.0f,
                                  DataSet().pScanInfo[Z(s)].time, DataSet().pScanInfo[Z(s)].omega2t, 280.0f, 1));
  ASSERT_EQ(LoadInitialData(nullptr, path), 1);
  EXPECT_LE(offBy(5.0 * kReferenceNoise), 1.0);
}

// Noise found in absorbance and taken out of intensity data changes the sample
// intensities so that their absorbance drops by it, as the grid does.
TEST_F(IntensityDataTest, NoiseTakenOutOfIntensityDataIsAnAbsorbanceOffset) {
  LoadIntensityRun();
  AnalysisSwitches().bFitRINoise = true;
  const int s = DataSet().pScanOrder[3];
  std::vector<double> before(Z(DataSet().pnPoints[Z(s)]) + 1, 0.0);
  for (int p = 1; p <= DataSet().pnPoints[Z(s)]; ++p) before[Z(p)] = std::log10(DataSet().ppThirdColumn[Z(s)][p] / DataSet().ppSignal[Z(s)][p]);
  const float grid = CurrentGrid().ppGridSignal[Z(s)][CurrentGrid().iFitFirst + 100];
  for (int k = 1; k <= DataSet().nScans; ++k) CurrentGrid().pRINoise[k] = 0.05f;
  ASSERT_TRUE(SubtractRINoise());
  EXPECT_NEAR(CurrentGrid().ppGridSignal[Z(s)][CurrentGrid().iFitFirst + 100], grid - 0.05f, 1e-5);
  // The data plot zooms onto the intensities it shows: tens to about 1100 counts.
  ASSERT_NE(DataPlots().pDataPlot, nullptr);
  EXPECT_GT(DataPlots().pDataPlot->fYMax, 900.0f);
  EXPECT_LT(DataPlots().pDataPlot->fYMax, 1300.0f);
  // (Points behind the boundary pile-up at the bottom pass no light.)
  for (int p = 1; p <= DataSet().pnPoints[Z(s)]; ++p)
    if (std::isfinite(before[Z(p)]))
      ASSERT_NEAR(std::log10(DataSet().ppThirdColumn[Z(s)][p] / DataSet().ppSignal[Z(s)][p]), before[Z(p)] - 0.05, 1e-5) << p;
}

// A fit of s and D with the amplitude solved linearly gives the species back, and
// the misfit is the noise; the fit saved as absorbance, and as intensity, loads
// back to the values of the model.
TEST_F(IntensityDataTest, DiscreteSpeciesFitRecoversTheSpeciesAndItsSavedFitLoadsBack) {
  LoadIntensityRun();
  Dispatch(kCmDiscreteSpecies);
  for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  const float trueD = DFromM(CalculateM(static_cast<float>(kS)), 20.0f) * 1e7f;
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesS[1] = static_cast<float>(1.05 * kS);
  ModelParams().pSpeciesSFit[1] = 1;
  ModelParams().pSpeciesMassOrD[1] = 1.15f * trueD;
  ModelParams().pSpeciesMassOrDFit[1] = 1;
  ModelParams().pSpeciesAmplitude[1] = 0.3f;
  ModelParams().bLinearAmplitudes = true;
  PackModelParams();
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], kS, 0.01 * kS);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], trueD, 0.05 * trueD);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], kLoading, 0.02 * kLoading);
  const double noise = NoiseRmsd();
  EXPECT_NEAR(FitRmsd(), noise, 0.1 * noise);

  // The copied data, fit and residual tables are in one unit: data = fit + residual
  // at every radius the fit covers.
  auto table = [&](int command) {
    Dispatch(command);
    std::map<std::string, std::vector<double>> rows;  // radius text -> scan columns
    std::istringstream text(Backend().ClipboardTextValue());
    std::string line;
    std::getline(text, line);  // header
    while (std::getline(text, line)) {
      std::istringstream fields(line);
      std::string radius, value;
      std::getline(fields, radius, '\t');
      std::vector<double>& row = rows[radius];
      while (std::getline(fields, value, '\t')) row.push_back(value.empty() ? NAN : std::stod(value));
    }
    return rows;
  };
  const auto data = table(kCmCopyDataTable), fitted = table(kCmCopyFitDataTable),
             residual = table(kCmCopyResidualsTable);
  ASSERT_FALSE(fitted.empty());
  for (const auto& [radius, f] : fitted) {
    ASSERT_TRUE(data.count(radius) && residual.count(radius)) << radius;
    const std::vector<double>&d = data.at(radius), &e = residual.at(radius);
    ASSERT_EQ(f.size(), static_cast<std::size_t>(DataSet().nScans));
    ASSERT_EQ(d.size(), f.size());
    for (std::size_t k = 0; k < f.size(); ++k)
      EXPECT_NEAR(d[k], f[k] + e[k], 1e-3 * std::fabs(d[k]) + 0.01) << radius << " scan " << k + 1;
  }

  // The model's absorbance, by the physics of the model's sample intensity.
  const int s = DataSet().pScanOrder[DataSet().nScans];
  const int j = ScanOfFile(DataSet().ppScanFileNames[Z(s)]);
  std::vector<float> fit(DataSet().ppFit[Z(s)] + 1, DataSet().ppFit[Z(s)] + DataSet().pnPoints[Z(s)] + 1);
  std::vector<float> reference(DataSet().ppThirdColumn[Z(s)] + 1, DataSet().ppThirdColumn[Z(s)] + DataSet().pnPoints[Z(s)] + 1);
  std::vector<float> radius(DataSet().ppRadius[Z(s)] + 1, DataSet().ppRadius[Z(s)] + DataSet().pnPoints[Z(s)] + 1);
  const std::string out = ProgramDir() + "/fits";
  std::filesystem::create_directories(out);
  // The model of the last scan saved as a profile keeps its reference column.
  {
    ASSERT_TRUE(SaveEquilibriumProfile((out + "/profile.ri1").c_str()));
    ScanInfo info;
    int n = 0;
    float *pr = nullptr, *py = nullptr, *pt = nullptr;
    ASSERT_EQ(ReadScanFile((out + "/profile.ri1").c_str(), &info, &n, &pr, &py, &pt, nullptr, 0.0f), 1);
    ASSERT_EQ(n, static_cast<int>(fit.size()));
    ASSERT_NE(pt, nullptr);
    for (int p = 1; p <= n; ++p) {
      EXPECT_NEAR(py[p], fit[Z(p - 1)], 1e-4 * fit[Z(p - 1)] + 1e-3) << p;
      EXPECT_NEAR(pt[p], reference[Z(p - 1)], 1e-4 * reference[Z(p - 1)]) << p;
    }
    free_vector(pr, 1, n);
    free_vector(py, 1, n);
    free_vector(pt, 1, n);
  }
  ASSERT_TRUE(SaveFittedScans(out + "/f0000x.ri1", true, AskingPolicy()));
  ASSERT_TRUE(SaveFittedScans(out + "/f0000x.ri1", false, AskingPolicy()));
  char name[32];
  std::snprintf(name, sizeof name, "f%04d", j);
  const std::string converted = out + "/" + name + ".ra1", intensity = out + "/" + name + ".ri1";

  // Loaded back, the converted fit is log10(reference / model intensity) at every
  // point, and the absorbance of the run.
  Backend().QueueMessageBox(IDOK, "ATTENTION");  // two copies of one scan: one time
  LoadThroughDialog({converted, converted});
  ASSERT_EQ(DataSet().nScans, 2);
  ASSERT_TRUE(ScanFile().bAbsorbanceData);
  std::vector<float> r(DataSet().ppRadius[1] + 1, DataSet().ppRadius[1] + DataSet().pnPoints[1] + 1);
  std::vector<float> a(DataSet().ppSignal[1] + 1, DataSet().ppSignal[1] + DataSet().pnPoints[1] + 1);
  std::size_t at = 0;
  while (at < radius.size() && radius[at] < r[0] - 1e-4f) ++at;
  ASSERT_LT(at + r.size(), radius.size() + 1);
  for (std::size_t p = 0; p < r.size(); ++p)
    ASSERT_NEAR(a[p], std::log10(reference[at + p] / fit[at + p]), 2e-5) << p;
  EXPECT_LT(RmsFromTruth(j, r, a), 0.01);

  // The unconverted fit is the model's sample intensity beside the reference.
  Backend().QueueMessageBox(IDOK, "ATTENTION");  // two copies of one scan: one time
  LoadThroughDialog({intensity, intensity});
  ASSERT_EQ(DataSet().nScans, 2);
  ASSERT_TRUE(ScanFile().bIntensityData);
  for (int p = 1; p <= DataSet().pnPoints[1]; ++p) {
    ASSERT_NEAR(DataSet().ppSignal[1][p], fit[at + Z(p) - 1], 1e-4 * fit[at + Z(p) - 1]) << p;
    ASSERT_NEAR(DataSet().ppThirdColumn[1][p], reference[at + Z(p) - 1], 1e-4 * reference[at + Z(p) - 1]) << p;
  }
}

// c(s) of the intensity scans: the peak lies at the species' s, and the fit drawn
// over the sample intensities misses them by the noise.
TEST_F(IntensityDataTest, CsOfIntensityDataPeaksAtTheSpecies) {
  LoadIntensityRun();
  ChooseSmallCs();
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  float area = 0, mean = 0, total = 0;
  IntegrateDistribution(2.0f, 6.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(mean, kS, 0.01 * kS);
  EXPECT_NEAR(area, kLoading, 0.05 * kLoading);
  const double noise = NoiseRmsd();
  EXPECT_NEAR(FitRmsd(), noise, 0.15 * noise);
}

// The equilibrium sorting writes the latest scan of a series as its absorbance.
TEST_F(IntensityDataTest, EquilibriumSortingWritesThePositiveAbsorbance) {
  LoadIntensityRun();
  const std::string out = ProgramDir() + "/eq";
  std::filesystem::create_directories(out);
  Backend().QueueMessageBox(IDYES, "EQ Test");  // equilibrium attained
  Backend().QueueMessageBox(IDYES, "EQ Test");  // include the last scan
  SortEqDataToDisk(Win(), out + "/x", "", 5.0f, false, 1.0f, 0.73f, 0.0f, 0.0f, 0.0f);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const ScanRead file = ReadScan(out + "/eq50k_280.ra1");
  EXPECT_EQ(file.info.scanType, 'R');
  EXPECT_LT(RmsFromTruth(kScans, file.r, file.y), 0.012);
}

}  // namespace
}  // namespace tarmic::testing
