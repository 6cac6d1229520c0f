// Dynamic light scattering: the dlsdat file round trip with the conversion between
// field and intensity correlation, the loading of a selection as the data set and
// its mean, and the model of a discrete species on a synthetic correlation function.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "modelcalc/dls_data_set.h"
#include "scandata/dls_ascii_import.h"
#include "modelcalc/dls_species_signal.h"
#include "modelcalc_test_support.h"
#include "platform/headless/headless_backend.h"
#include "scandata/dls_file.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_loading.h"

namespace tarmic {
namespace {

using test::Idx;

constexpr double kPi = 3.14159265358979323846;

std::string OutputDir(const std::string& name) {
  namespace fs = std::filesystem;
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/dls/" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A dlsdat file of n points at lag times 1e-6 .. 1e-1 s (log spaced) with values
// value(tau); parameters: 20 C, time, count rate 150, n = 1.33, 0.01002 poise,
// 90 degrees, 633 nm.
template <class F>
void WriteDlsFile(const std::string& path, double time, int flag, int n, F value) {
  std::ofstream out(path);
  out << "synthetic\n20.0 " << time << " 150.00 1.33 0.01002 90 6.33e-07 " << flag << "\n";
  out.precision(9);
  for (int i = 0; i < n; ++i) {
    const double tau = std::pow(10.0, -6.0 + 5.0 * i / (n - 1));
    // A correlation decayed below what a float holds is written as 0, as a
    // correlator does (the reader refuses a value it would hold as 0 otherwise).
    const double v = value(tau);
    out << tau << " " << (std::fabs(v) < 1e-30 ? 0.0 : v) << "\n";
  }
}

// q^2 (1/m^2) of those parameters, computed here from q = 4 pi n sin(theta/2) / lambda.
const double kQ2 = std::pow(4.0 * kPi * 1.33 * std::sin(kPi / 4.0) / 6.33e-7, 2);

// A dlsdat file read back (as g(2) - 1 if intensity), values one-based; ok 0 if refused.
struct DlsRead {
  int ok = 0;
  DLSInfo info;
  std::vector<float> x, y;
};
DlsRead ReadBack(const std::string& path, bool intensity) {
  DlsRead r;
  int n = 0;
  float* x = nullptr;
  float* y = nullptr;
  r.ok = ReadDLSDatFile(path.c_str(), &r.info, &n, &x, &y, intensity);
  if (r.ok == 1) {
    r.x.assign(x, x + n + 1);
    r.y.assign(y, y + n + 1);
    free_vector(x, 1, n);
    free_vector(y, 1, n);
  }
  return r;
}

class DlsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetModelCalcState(); }
  void TearDown() override {
    DlsFile().bDLSConvertOnWrite = false;
    test::ResetModelCalcState();
  }
};

// Writing a field correlation with the conversion on stores g(2) - 1 (signed
// squares, flag 0); reading back as g(1) returns the original values, as g(2) - 1
// the squares; without conversion the flag 1 makes the reader square on request.
// Refused files leave every output untouched.
TEST_F(DlsTest, FileRoundTripConvertsBetweenFieldAndIntensity) {
  const std::string dir = OutputDir("roundtrip");
  DLSInfo record;
  record.title = "sample A";
  record.temperatureC = 25.0f;
  record.elapsedTime = 120.7;
  record.meanCountRate = 321.456f;
  record.refractiveIndex = 1.33f;
  record.viscosity = 0.0089f;
  record.scatteringAngle = 173.0f;
  record.laserWavelength = 6.33e-7f;
  record.bFieldACF = true;
  const std::vector<float> x{0.0f, -6.0f, -4.5f, -2.0f};  // one-based
  const std::vector<float> g{0.0f, 0.9f, 0.3f, -0.1f};

  DlsFile().bDLSConvertOnWrite = true;
  const std::string converted = dir + "/converted.dlsdat";
  ASSERT_TRUE(WriteDLSDatFromRecord(converted.c_str(), 3, x.data(), g.data(), nullptr, record));
  DlsRead back = ReadBack(converted, false);
  ASSERT_EQ(back.ok, 1);
  ASSERT_EQ(back.y.size(), 4u);
  EXPECT_TRUE(back.info.bFieldACF);
  EXPECT_DOUBLE_EQ(back.info.elapsedTime, 120.0);  // whole seconds
  EXPECT_FLOAT_EQ(back.info.scatteringAngle, 173.0f);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(back.x[Idx(i)], x[Idx(i)], 1e-5);
    EXPECT_NEAR(back.y[Idx(i)], g[Idx(i)], 1e-5);
  }
  back = ReadBack(converted, true);
  EXPECT_FALSE(back.info.bFieldACF);
  EXPECT_NEAR(back.y[1], 0.81, 1e-5);
  EXPECT_NEAR(back.y[3], -0.01, 1e-6);

  // Stored as g(1) with its flag: the reader squares only when asked for g(2) - 1.
  DlsFile().bDLSConvertOnWrite = false;
  const std::string field = dir + "/field.dlsdat";
  ASSERT_TRUE(WriteDLSDatFromRecord(field.c_str(), 3, x.data(), g.data(), "as g1", record));
  back = ReadBack(field, false);
  EXPECT_EQ(back.info.title, "as g1");
  EXPECT_NEAR(back.y[2], 0.3, 1e-6);
  EXPECT_NEAR(ReadBack(field, true).y[2], 0.09, 1e-6);

  // In memory: each conversion acts once and marks the record.
  std::vector<float> v{0.0f, 0.25f, -0.04f};
  DLSInfo r;
  EXPECT_EQ(ConvertIntensityToFieldACF(2, v.data(), &r), 1);
  EXPECT_EQ(ConvertIntensityToFieldACF(2, v.data(), &r), 0);
  EXPECT_FLOAT_EQ(v[2], -0.2f);
  EXPECT_EQ(ConvertFieldToIntensityACF(2, v.data(), &r), 1);
  EXPECT_FLOAT_EQ(v[1], 0.25f);

  // Refused: a lag time of 0, a missing parameter line, a single point.
  const std::string bad = dir + "/bad.dlsdat";
  for (const char* text : {"t\n20 0 1 1.33 0.01 90 6e-7 0\n0 0.5\n1e-5 0.4\n", "t\n1e-5 0.4\n",
                           "t\n20 0 1 1.33 0.01 90 6e-7 0\n1e-5 0.4\n"}) {
    std::ofstream(bad) << text;
    DLSInfo untouched;
    untouched.title = "keep";
    int m = -7;
    float* px = nullptr;
    std::string why;
    EXPECT_EQ(ReadDLSDatFile(bad.c_str(), &untouched, &m, &px, &px, false, &why), 0) << text;
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(m, -7);
    EXPECT_EQ(px, nullptr);
    EXPECT_EQ(untouched.title, "keep");
  }
  // Refused with line 2: experiment values no experiment has, which would give a
  // vanishing scattering vector or a wrong R T.
  const struct {
    const char* line2;
    const char* why;
  } absurd[] = {
      {"-300 0 1 1.33 0.01 90 6e-7 0",
       "line 2: the temperature -300 C is outside the temperatures of a sample (-40 to 200 C)"},
      {"20 0 1 1.33 0.01 90 0 0",
       "line 2: the laser wavelength 0 m is outside the wavelengths of a laser (1e-08 to 0.0001 m)"},
      {"20 0 1 0 0.01 90 6e-7 0",
       "line 2: the refractive index 0 is outside the refractive indices of a solvent (1 to 10)"},
      {"20 0 1 1.33 -0.01 90 6e-7 0",
       "line 2: the viscosity -0.01 P is outside the viscosities of a solvent (above 0, at most 10000 P)"},
      {"20 0 1 1.33 0.01 0 6e-7 0",
       "line 2: the scattering angle 0 degrees is outside the angles of a detector (above 0, at most 180 "
       "degrees)"},
      {"20 0 1 1.33 0.01 190 6e-7 0",
       "line 2: the scattering angle 190 degrees is outside the angles of a detector (above 0, at most "
       "180 degrees)"},
      // A parameter line with a word that is no number, or too few values, is named
      // with its line and what it holds.
      {"20C 0 1 1.33 0.01 90 6e-7 0", "line 2 holds \"20C\" as the temperature, which is not a number"},
      {"20 0 1 1.33", "line 2 has too few values (4 of 7 or 8: temperature, time, count rate, "
                      "refractive index, viscosity, angle, wavelength, field flag): \"20 0 1 1.33\""},
  };
  for (const auto& a : absurd) {
    std::ofstream(bad) << "t\n" << a.line2 << "\n1e-5 0.4\n1e-4 0.3\n";
    int m = 0;
    float* px = nullptr;
    std::string why;
    EXPECT_EQ(ReadDLSDatFile(bad.c_str(), &record, &m, &px, &px, false, &why), 0) << a.line2;
    EXPECT_EQ(why, a.why);
  }
  // Values their float cannot hold (not 0, but held as 0) are refused with their
  // line: the temperature of line 2 and a correlation value.
  const char* const kTiny = "which is not 0 but too small to be held (below 1.4e-45)";
  const std::pair<std::string, std::string> tiny[] = {
      {"t\n1e-46 0 1 1.33 0.01 90 6e-7 0\n1e-5 0.4\n1e-4 0.3\n", std::string("line 2 holds \"1e-46\" as the temperature, ") + kTiny},
      {"t\n20 0 1 1.33 0.01 90 6e-7 0\n1e-5 1e-320\n1e-4 0.3\n", std::string("line 3 holds \"1e-320\", ") + kTiny},
      {"t\n20 0 1 1.33 0.01 90 6e-7 0\n1e-5 0.4\n1e-4 -1e-310\n", std::string("line 4 holds \"-1e-310\", ") + kTiny},
  };
  for (const auto& [text, expected] : tiny) {
    std::ofstream(bad) << text;
    int m = 0;
    float* px = nullptr;
    std::string why;
    EXPECT_EQ(ReadDLSDatFile(bad.c_str(), &record, &m, &px, &px, false, &why), 0) << text;
    EXPECT_EQ(why, expected);
  }
  std::ofstream(bad) << "t\n20 0 1 1.33 0.01 180 6e-7 0\n1e-5 0.4\n1e-4 0.3\n";
  EXPECT_EQ(ReadBack(bad, false).ok, 1) << "back scattering at 180 degrees";
  // The import of a two-column table writes no file it would refuse to read.
  const std::string table = dir + "/table.txt", target = dir + "/table.dlsdat";
  std::ofstream(table) << "1e-5 0.4\n1e-4 0.3\n";
  DLSInfo noWavelength = record;
  noWavelength.laserWavelength = 0.0f;
  std::string why;
  EXPECT_FALSE(ConvertTwoColumnDLS(table.c_str(), target.c_str(), noWavelength, AsciiCorrelation::Field, &why));
  EXPECT_EQ(why, "the laser wavelength 0 m is outside the wavelengths of a laser (1e-08 to 0.0001 m)");
  EXPECT_FALSE(std::filesystem::exists(target));
}

// Three files recorded at 300, 100 and 200 s load in time order, each with its own
// record and points; temperature and viscosity give the solvent; the mean of the
// set is g(2) - 1 whichever form was loaded; a selection with an unreadable file
// leaves the loaded set as it was.
TEST_F(DlsTest, LoadOrdersByTimeAndFailedLoadChangesNothing) {
  ScopedHeadlessBackend backend;
  const std::string dir = OutputDir("load");
  const double times[] = {300.0, 100.0, 200.0};
  const double values[] = {0.25, 0.5, -0.1};  // g(2) - 1 at every lag time
  std::vector<std::string> paths;
  for (int f = 0; f < 3; ++f) {
    paths.push_back(dir + "/s" + std::to_string(f + 1) + ".dlsdat");
    WriteDlsFile(paths.back(), times[f], 0, 20 + f, [&](double) { return values[f]; });
  }
  DataSet().fFitLeftLim = 5.0f;  // outside the lag-time range: moved to the ends of set 1
  DataSet().fFitRightLim = 6.0f;
  AnalysisSwitches().bFitTINoise = true;
  DataSet().bFitRangesSet = true;  // the fit ranges of an earlier set
  LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), false);
  ASSERT_EQ(DataSet().nScans, 3);
  EXPECT_TRUE(DataSet().bDLSData);
  EXPECT_FALSE(AnalysisSwitches().bFitTINoise);
  EXPECT_FALSE(DataSet().bFitRangesSet);
  EXPECT_EQ(DataSet().ppScanFileNames[3], "s1.dlsdat");
  EXPECT_EQ(DataSet().pnPoints[1], 21);
  EXPECT_EQ(DataSet().pDLSInfo[3].nDataPoints, 20);
  EXPECT_DOUBLE_EQ(DataSet().pDLSInfo[1].elapsedTime, 100.0);
  EXPECT_NEAR(DataSet().ppSignal[1][1], std::sqrt(0.5), 1e-6);
  EXPECT_NEAR(DataSet().ppSignal[2][5], -std::sqrt(0.1), 1e-6);
  EXPECT_NEAR(SolventConstants().RELVISCOSITY, 1.0, 1e-5);
  EXPECT_NEAR(DataSet().fTemperatureK, 293.15, 1e-4);
  EXPECT_NEAR(DataSet().fMeniscus, -6.0, 1e-5);
  EXPECT_NEAR(DataSet().fBottom, -1.0, 1e-5);
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, DataSet().fMeniscus);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, DataSet().fBottom);
  EXPECT_EQ(DataSet().szTmpParsPath, dir + "/~tmppars.dlsdat");
  {
    // Meniscus and bottom come from the set selected first, not from the earliest:
    // an earlier set whose lags run from 1e-7 to 1e-2 s leaves them at -6 and -1.
    const std::string early = dir + "/early.dlsdat";
    std::ofstream out(early);
    out << "synthetic\n20.0 50 150.00 1.33 0.01002 90 6.33e-07 0\n";
    for (int i = 0; i < 20; ++i) out << std::pow(10.0, -7.0 + 5.0 * i / 19) << " 0.3\n";
    out.close();
    LoadDLSData(nullptr, MakeSelectionBuffer({paths[0], early}).c_str(), false);
    ASSERT_EQ(DataSet().nScans, 2);
    EXPECT_DOUBLE_EQ(DataSet().pDLSInfo[1].elapsedTime, 50.0);
    EXPECT_NEAR(DataSet().fMeniscus, -6.0, 1e-5);
    EXPECT_NEAR(DataSet().fBottom, -1.0, 1e-5);
    LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), false);
    ASSERT_EQ(DataSet().nScans, 3);
  }

  // Mean of g(2) - 1: (0.5 + (-0.1) + 0.25) / 3 on the common grid.
  const std::string mean = dir + "/mean.dlsdat";
  ASSERT_TRUE(SaveMeanDLSData(mean.c_str()));
  const DlsRead m = ReadBack(mean, true);
  ASSERT_EQ(m.ok, 1);
  EXPECT_EQ(m.info.title, "averaged");
  EXPECT_NEAR(m.y[1], 0.65 / 3.0, 1e-5);

  // Loaded as g(2) - 1, the values are averaged as they are (not squared again).
  LoadDLSData(nullptr, MakeSelectionBuffer({paths[1], paths[2]}).c_str(), true);
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_FALSE(DataSet().pDLSInfo[1].bFieldACF);
  EXPECT_NEAR(DataSet().ppSignal[1][1], 0.5, 1e-6);
  ASSERT_TRUE(SaveMeanDLSData(mean.c_str()));
  EXPECT_NEAR(ReadBack(mean, true).y[2], 0.2, 1e-5);

  // A selection with an unreadable file: "LOAD ERROR", nothing changes.
  std::ofstream(dir + "/broken.dlsdat") << "no parameters\n";
  const std::string refused =
      LoadDLSData(nullptr, MakeSelectionBuffer({paths[0], dir + "/broken.dlsdat"}).c_str(), false);
  EXPECT_EQ(refused.rfind(dir + "/broken.dlsdat", 0), 0u) << "names the file";
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "s2.dlsdat");
  EXPECT_FALSE(DataSet().pDLSInfo[1].bFieldACF);
  EXPECT_TRUE(DataSet().bDLSData);
}

// One species of D = 5e-7 cm^2/s: g(2) - 1 = beta exp(-2 D q^2 tau) loaded as g(1).
// The model at the true D fits to rounding with the amplitude sqrt(beta), and the
// rmsd over D is least there. The same data as g(2) - 1
// are fitted by the squared model, and the Stokes radius of that D (Stokes-Einstein
// at 20 C in water) gives the same model.
TEST_F(DlsTest, DiscreteSpeciesModelRecoversDiffusionCoefficient) {
  const std::string dir = OutputDir("model");
  const double D = 5e-7, beta = 0.8;
  const double gamma = 1e-4 * D * kQ2;  // 1/s
  std::vector<std::string> paths;
  for (int f = 0; f < 2; ++f) {
    paths.push_back(dir + "/m" + std::to_string(f) + ".dlsdat");
    WriteDlsFile(paths.back(), 60.0 * f, 0, 120,
                 [&](double tau) { return beta * std::exp(-2.0 * gamma * tau); });
  }
  auto setUpModel = [] {
    ModelFlags().bDiscreteModel = true;
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1;
    ModelParams().pSpeciesAmplitude[1] = 1.0f;
    ModelParams().pSpeciesAmplitudeFit[1] = 1;
    ModelParams().pSpeciesS[1] = 0.0f;
    PackModelParams();
    UpdateLinearFitFlags();
  };
  auto rmsdAt = [](double d) {
    AnalysisSwitches().pParams[1] = static_cast<float>(d * 1e7);
    const ModelResult r = CalculateModel(nullptr);
    EXPECT_EQ(r.status, ModelStatus::Computed);
    return static_cast<double>(FitRmsd());
  };

  LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), false);
  ASSERT_EQ(DataSet().nScans, 2);
  setUpModel();
  ASSERT_TRUE(ModelParams().bLinearAmplitudes);
  EXPECT_LT(rmsdAt(D), 1e-5);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], std::sqrt(beta), 1e-4);
  EXPECT_GT(rmsdAt(1.2 * D), 1e-3);

  // The rmsd is least at D: it rises 0.2 % to either side.
  const double best = rmsdAt(D);
  EXPECT_GT(rmsdAt(0.998 * D), best);
  EXPECT_GT(rmsdAt(1.002 * D), best);

  // As g(2) - 1 the model is squared: the amplitude is beta itself.
  LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), true);
  setUpModel();
  EXPECT_LT(rmsdAt(D), 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[1], beta, 1e-4);

  // Stokes radius (nm) of D: R = k T / (6 pi eta D).
  ModelFlags().bStokesRadii = true;
  const double R = 1.38065e-23 * 293.15 / (6.0 * kPi * 0.001002 * D * 1e-4) * 1e9;
  AnalysisSwitches().pParams[1] = static_cast<float>(R);
  EXPECT_EQ(CalculateModel(nullptr).status, ModelStatus::Computed);
  EXPECT_LT(FitRmsd(), 1e-4);
  // A fit that drives the radius below 0 gets the decay of its size.
  AnalysisSwitches().pParams[1] = static_cast<float>(-R);
  EXPECT_EQ(CalculateModel(nullptr).status, ModelStatus::Computed);
  EXPECT_LT(FitRmsd(), 1e-4);
}

// Two sizes of g1 = a1 exp(-G1 tau) + a2 exp(-G2 tau), loaded with one species
// included (its signal table made at the load), then the second included as a
// reloaded parameter file does, without the Parameters dialog: the model has both
// species with their amplitudes, not the first alone reported as computed.
TEST_F(DlsTest, SpeciesIncludedAfterTheLoadEntersTheModel) {
  const std::string dir = OutputDir("tables");
  const double D1 = 3e-7, D2 = 9e-7, a1 = 0.5, a2 = 0.3;
  const std::string path = dir + "/two.dlsdat";
  WriteDlsFile(path, 0.0, 1, 120, [&](double tau) {
    return a1 * std::exp(-1e-4 * D1 * kQ2 * tau) + a2 * std::exp(-1e-4 * D2 * kQ2 * tau);
  });
  LoadDLSData(nullptr, MakeSelectionBuffer({path}).c_str(), false);
  ASSERT_EQ(DataSet().nScans, 1);
  ASSERT_TRUE(CurrentGrid().pppSpeciesSignal[2].empty());

  ModelFlags().bDiscreteModel = true;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    AnalysisSwitches().pSpeciesLinked[k] = k <= 2;
    ModelParams().pSpeciesAmplitude[k] = k == 1 ? 1.0f : 0.5f;
    ModelParams().pSpeciesAmplitudeFit[k] = 1;
    ModelParams().pSpeciesS[k] = 0.0f;
  }
  ModelParams().pSpeciesMassOrD[1] = static_cast<float>(D1 * 1e7);
  ModelParams().pSpeciesMassOrD[2] = static_cast<float>(D2 * 1e7);
  PackModelParams();
  UpdateLinearFitFlags();
  ASSERT_TRUE(ModelParams().bLinearAmplitudes);
  const ModelResult r = CalculateModel(nullptr);
  EXPECT_EQ(r.status, ModelStatus::Computed);
  EXPECT_LT(FitRmsd(), 1e-5);
  EXPECT_NEAR(LinearAmplitudes().pAppliedAmplitude[1], a1, 1e-4);
  EXPECT_NEAR(LinearAmplitudes().pAppliedAmplitude[2], a2, 1e-4);
}

// DLS files and the two-column import follow one set of rules: lag times must be
// lag times and increase (descending lags set the fitting limits the wrong way
// round, an equal one is no new point), values must be signals, the parameter line
// must hold an experiment's values, every number must be a number as a whole, and
// UTF-16 is no plain text; each refusal names its line. An angle of exactly 180
// degrees, as an earlier import wrote it, loads with a note; the import refuses it.
TEST_F(DlsTest, ImpossibleValuesOfDlsFilesAndTablesAreRefusedWithTheirLine) {
  const std::string dir = OutputDir("impossible");
  const std::string head = "t\n20 100 150 1.33 0.01 90 6.33e-7 0\n";
  const struct {
    const char* name;
    std::string text;
    std::string why;
  } files[] = {
      {"descending", head + "1e-2 0.1\n1e-4 0.5\n1e-6 0.9\n",
       "line 4: the lag time 0.0001 s is not above the lag time 0.01 s before it"},
      {"duplicate", head + "1e-6 0.9\n1e-5 0.5\n1e-5 0.4\n1e-4 0.1\n",
       "line 5: the lag time 1e-05 s is not above the lag time 1e-05 s before it"},
      {"huge_lag", head + "1e-6 0.9\n1e30 0.5\n",
       "line 4: the lag time 1e+30 s is outside the lag times of a correlator (1e-12 to 1e+06 s)"},
      {"huge_value", head + "1e-6 0.9\n1e-5 1e30\n",
       "line 4: the value 1e+30 is outside the signals of a detector (-1e+10 to 1e+10)"},
      {"negative_time", "t\n20 -5 150 1.33 0.01 90 6.33e-7 0\n1e-6 0.9\n1e-5 0.5\n",
       "line 2: the elapsed time -5 s is outside the times of a measurement (0 to 1e+10 s)"},
      {"negative_count_rate", "t\n20 100 -150 1.33 0.01 90 6.33e-7 0\n1e-6 0.9\n1e-5 0.5\n",
       "line 2: the count rate -150 is outside the count rates of a detector (0 to 1e+10)"},
      {"hex_angle", "t\n20 100 150 1.33 0.01 0x5A 6.33e-7 0\n1e-6 0.9\n1e-5 0.5\n",
       "line 2 holds \"0x5A\" as the angle, which is not a number"},
      {"trailing_word", head + "1e-6 0.9\n1e-5 0.5x\n", "line 4 holds \"0.5x\", which is not a number"},
  };
  for (const auto& f : files) {
    const std::string path = dir + "/" + f.name + ".dlsdat";
    std::ofstream(path) << f.text;
    int n = -1;
    float* x = nullptr;
    std::string why;
    DLSInfo record;
    EXPECT_EQ(ReadDLSDatFile(path.c_str(), &record, &n, &x, &x, false, &why), 0) << f.name;
    EXPECT_EQ(why, f.why) << f.name;
    EXPECT_EQ(x, nullptr) << f.name;
  }
  {
    std::string utf16 = "\xFF\xFE";
    for (char c : head + "1e-6 0.9\n1e-5 0.5\n") utf16 += std::string{c, '\0'};
    std::ofstream(dir + "/utf16.dlsdat", std::ios::binary) << utf16;
    std::string why;
    DLSInfo record;
    int n = 0;
    float* x = nullptr;
    EXPECT_EQ(ReadDLSDatFile((dir + "/utf16.dlsdat").c_str(), &record, &n, &x, &x, false, &why), 0);
    EXPECT_EQ(why.rfind("the file is not plain text: it is UTF-16 text", 0), 0u) << why;
  }

  // 180 degrees: read with its note, which the loader shows after the load.
  const std::string backscatter = dir + "/backscatter.dlsdat";
  std::ofstream(backscatter) << "t\n20 100 150 1.33 0.01 180 6.33e-7 0\n1e-6 0.9\n1e-5 0.5\n";
  {
    ScopedHeadlessBackend backend;
    backend->QueueMessageBox(IDOK, "ATTENTION");
    EXPECT_EQ(LoadDLSData(nullptr, MakeSelectionBuffer({backscatter}).c_str(), false), "");
    EXPECT_EQ(DataSet().nScans, 1);
    EXPECT_TRUE(backend->AllAnswersUsed());
    ASSERT_FALSE(backend->Transcript().empty());
    EXPECT_NE(backend->Transcript().back().text.find(backscatter + ":\nline 2: the scattering angle is 180"),
              std::string::npos)
        << backend->Transcript().back().text;
  }

  // The import: the same rules with the table's lines; rows of a lag time 0 or of
  // values written as not finite are left out, as before.
  DLSInfo entered;
  entered.temperatureC = 20.0f;
  entered.refractiveIndex = 1.33f;
  entered.viscosity = 0.01f;
  entered.scatteringAngle = 90.0f;
  entered.laserWavelength = 6.33e-7f;
  const std::string target = dir + "/table.dlsdat";
  const struct {
    const char* name;
    const char* table;
    std::string why;
  } tables[] = {
      {"descending", "0 1.0\n1e-4 0.5\n1e-6 0.9\n",
       "line 3: the lag time 1e-06 s is not above the lag time 0.0001 s before it"},
      {"huge_lag", "1e-6 0.9\n\n1e30 0.5\n",
       "line 3: the lag time 1e+30 s is outside the lag times of a correlator (1e-12 to 1e+06 s)"},
      {"hex", "1e-6 0.9\n0x10 0.5\n", "line 2 holds \"0x10\", which is not a number"},
      {"apart_beyond_a_float", "1e-6 0.9\n1e-5 0.5\n1.0000001e-5 0.4\n",
       "line 3: the lag time 1e-05 s is not above the lag time 1e-05 s before it"},
      {"single_column", "1e-6 0.9\n1e-5\n", "line 2 has too few values (1 of 2): \"1e-5\""},
  };
  for (const auto& t : tables) {
    const std::string table = dir + "/" + t.name + ".txt";
    std::ofstream(table) << t.table;
    std::string why;
    EXPECT_FALSE(ConvertTwoColumnDLS(table.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why))
        << t.name;
    EXPECT_EQ(why, t.why) << t.name;
    EXPECT_FALSE(std::filesystem::exists(target)) << t.name;
  }
  const std::string good = dir + "/good.txt";
  std::ofstream(good) << "0 1.0\n1e-6; 0.9\n2e-6 nan\n4e-6,0.5\n";
  std::string why;
  ASSERT_TRUE(ConvertTwoColumnDLS(good.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why)) << why;
  const DlsRead converted = ReadBack(target, false);
  ASSERT_EQ(converted.ok, 1);
  ASSERT_EQ(converted.y.size(), 3u);
  EXPECT_NEAR(converted.x[2], std::log10(4e-6), 1e-6);
  entered.scatteringAngle = 180.0f;
  EXPECT_FALSE(ConvertTwoColumnDLS(good.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why));
  EXPECT_EQ(why.rfind("the scattering angle is 180 degrees", 0), 0u) << why;
}

// The fields of a line of the two-column import are whole numbers: a line with a
// ',' or ';' is split there alone, so that a decimal comma is no separator between
// other numbers ("1,5" was read as 1); glued text and values a double cannot hold
// are refused with their line; a third column of a blank-separated table is still
// passed over; the points written as not finite are left out as before, and the
// note names their lines.
TEST(DLSAsciiImport, ALineIsTwoWholeNumbersAndLeftOutPointsAreNamed) {
  ScopedHeadlessBackend backend;
  const std::string dir = OutputDir("two_fields");
  DLSInfo entered;
  entered.temperatureC = 20.0f;
  entered.refractiveIndex = 1.33f;
  entered.viscosity = 0.01f;
  entered.scatteringAngle = 90.0f;
  entered.laserWavelength = 6.33e-7f;
  const std::string target = dir + "/table.dlsdat";
  const struct {
    const char* name;
    const char* table;
    const char* why;
  } tables[] = {
      {"decimal_comma", "1e-6 0.9\n2e-6 0,5\n", "line 2 holds \"2e-6 0\", which is not a number"},
      {"decimal_commas", "1,5e-6 0,9\n", "line 1 has too many values (3 of 2): \"1,5e-6 0,9\""},
      {"empty_field", "1e-6;;0.9\n", "line 1 has too many values (3 of 2): \"1e-6;;0.9\""},
      {"empty_first", ";0.9\n", "line 1 holds no number"},
      {"third_column", "1e-6 0.9 0.01\n", "line 1 has too many values (3 of 2): \"1e-6 0.9 0.01\""},
      {"glued", "1e-6 0.9abc\n", "line 1 holds \"0.9abc\", which is not a number"},
      {"tiny", "1e-330 0.9\n2e-6 0.5\n", "line 1 holds \"1e-330\", which is not 0 but too small to be held (below 4.9e-324)"},
      {"huge", "1e-6 0.9\n2e-6 1e999\n", "line 2 holds \"1e999\", which is beyond 3.4e38"},
      {"tiny_value", "1e-6 0.9\n2e-6 1e-46\n",
       "line 2 holds \"1e-46\", which is not 0 but too small to be held (below 1.4e-45)"},
  };
  for (const auto& t : tables) {
    const std::string table = dir + "/" + t.name + ".txt";
    std::ofstream(table) << t.table;
    std::string why, note;
    EXPECT_FALSE(ConvertTwoColumnDLS(table.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why, &note))
        << t.name;
    EXPECT_EQ(why, t.why) << t.name;
    EXPECT_FALSE(std::filesystem::exists(target)) << t.name;
  }
  const std::string gaps = dir + "/gaps.txt";
  std::ofstream(gaps) << "1e-6 0.9\n2e-6 nan\n3e-6, 0.7;\n-inf 0.6\n5e-6 0.5\n";
  std::string why, note;
  ASSERT_TRUE(ConvertTwoColumnDLS(gaps.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why, &note))
      << why;
  EXPECT_EQ(note, gaps + ": the points of lines 2, 4 are not finite (nan or inf) and are left out");
  std::ofstream(gaps) << "1e-6 0.9\n2e-6 0.8\n";
  note.clear();
  ASSERT_TRUE(ConvertTwoColumnDLS(gaps.c_str(), target.c_str(), entered, AsciiCorrelation::Field, &why, &note))
      << why;
  EXPECT_EQ(note, "");
}

// On DLS data a fitting limit is log10 of a lag time, and 0 is 1 s: a right limit
// there is kept by the next load of a set that holds it, and the grid's last fitted
// point follows it, instead of the limit being taken for unset and moved to the
// data's end.
TEST_F(DlsTest, FittingLimitAtOneSecondIsALimitLikeAnyOther) {
  ScopedHeadlessBackend backend;
  const std::string dir = OutputDir("limit_at_one_second");
  std::vector<std::string> paths;
  for (int f = 0; f < 2; ++f) {
    paths.push_back(dir + "/l" + std::to_string(f) + ".dlsdat");
    std::ofstream out(paths.back());
    out << "synthetic\n20.0 " << 10 * f << " 150.00 1.33 0.01002 90 6.33e-07 0\n";
    for (int i = 0; i <= 40; ++i) out << std::pow(10.0, -6.0 + 0.2 * i) << " " << 0.5 * std::exp(-i / 10.0) << "\n";
  }
  ASSERT_EQ(LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), false), "");
  EXPECT_NEAR(DataSet().fBottom, 2.0, 1e-5);
  DataSet().fFitLeftLim = -5.0f;
  DataSet().fFitRightLim = 0.0f;  // picked at 1 s
  ASSERT_EQ(LoadDLSData(nullptr, MakeSelectionBuffer({paths[1], paths[0]}).c_str(), false), "");
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, -5.0f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 0.0f);
  ASSERT_GT(CurrentGrid().iFitLast, 1);
  ASSERT_LT(CurrentGrid().iFitLast, CurrentGrid().nGridPoints);
  EXPECT_LE(CurrentGrid().pGridRadius[CurrentGrid().iFitLast], 0.0f);
  EXPECT_GT(CurrentGrid().pGridRadius[CurrentGrid().iFitLast + 1], 0.0f);
}

}  // namespace
}  // namespace tarmic
