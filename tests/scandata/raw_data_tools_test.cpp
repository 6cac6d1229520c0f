// The raw-data tools on a small hand-made set: every result is checked against
// arithmetic done here on the values the set was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "numerics/one_based.h"
#include "numerics/random.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/initial_data.h"
#include "scandata/offset_tools.h"
#include "scandata/radial_grid.h"
#include "scandata/raw_data_tools.h"
#include "scandata/result_files.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "tests/scandata/scandata_test_support.h"

namespace tarmic::testing {
namespace {

constexpr int kPoints = 41;

float R(int i) { return 6.0f + 0.025f * static_cast<float>(i - 1); }  // 6.0 .. 7.0 cm
// Signal of scan s (1-based) at point i: a smooth boundary shifted per scan.
float Y(int s, int i) { return 0.5f + 0.4f * std::tanh((R(i) - 6.3f - 0.1f * s) / 0.05f); }

class RawDataToolsTest : public ScanDataTest {
 protected:
  // Two absorbance scans on one radius grid; scan 2 also carries a third column and
  // a model (fit) curve. Names follow the instrument's numbering.
  void MakeSet(int scans = 2) {
    AllocScanTables(scans);
    ScanFile().bAbsorbanceData = true;
    for (int s = 1; s <= scans; ++s) {
      float* r = vector(1, kPoints);
      float* y = vector(1, kPoints);
      float* t = vector(1, kPoints);
      for (int i = 1; i <= kPoints; ++i) {
        r[i] = R(i);
        y[i] = Y(s, i);
        t[i] = 100.0f + static_cast<float>(i);
      }
      InstallScanArrays(s, kPoints, r, y, t, false);
      for (int i = 1; i <= kPoints; ++i) DataSet().ppFit[Z(s)][i] = 0.01f * static_cast<float>(i);
      DataSet().ppScanFileNames[Z(s)] = Format("%05d.ra1", 10 + s);
      ScanInfo& info = DataSet().pScanInfo[Z(s)];
      info.scanType = 'R';
      info.rpm = 20000.0f;
      info.wavelength = 280.0f;
      info.time = info.recordedTime = 1000.0 * s;
      info.omega2t = 4.0e9 * s;
    }
    DataSet().nScans = scans;
    DataSet().szDataDirectory = dir;
    ASSERT_TRUE(BuildCommonRadialGrid());
  }
  static std::size_t Z(int i) { return static_cast<std::size_t>(i); }

  // A written scan read back: its record, radii and signals (index 1 = first point).
  struct Scan {
    ScanInfo info;
    std::vector<float> r{0.0f}, y{0.0f};
    int n() const { return static_cast<int>(r.size()) - 1; }
  };
  static Scan ReadBack(const std::string& path) {
    Scan out;
    int n = 0;
    float *r = nullptr, *y = nullptr, *t = nullptr;
    EXPECT_EQ(ReadScanFile(path.c_str(), &out.info, &n, &r, &y, &t, nullptr, 0.0f), 1) << path;
    for (int i = 1; i <= n; ++i) {
      out.r.push_back(r[i]);
      out.y.push_back(y[i]);
    }
    for (float* v : {r, y, t})
      if (v) free_vector(v, 1, n);
    return out;
  }

  void SetUp() override {
    ScanDataTest::SetUp();
    dir = ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  ScopedHeadlessBackend backend;
  std::string dir;
};

TEST_F(RawDataToolsTest, InMemoryToolsFollowTheirFormulas) {
  MakeSet();
  // Radius transform r -> a r + b, then back: every radius where it was.
  ASSERT_TRUE(TransformRadii(1.2f / 1.3f, 5.9f - 1.2f / 1.3f * 5.85f).ok());
  EXPECT_NEAR(DataSet().ppRadius[1][1], 1.2f / 1.3f * 6.0f + 5.9f - 1.2f / 1.3f * 5.85f, 1e-5);
  EXPECT_FALSE(TransformRadii(-1.0f, 0.0f).ok());  // would reverse the radii: refused

  MakeSet();
  // Mirror about 6.0 + 7.0: 6.2 becomes 6.8; the radii ascend again; signal and
  // third column travel with their radius; with negate the sign changes.
  ASSERT_TRUE(MirrorRawData(6.0f, 7.0f, true).ok());
  for (int i = 1; i <= kPoints; ++i) {
    const int from = kPoints + 1 - i;  // the point that lands at position i
    EXPECT_NEAR(DataSet().ppRadius[1][i], 13.0f - R(from), 1e-5);
    EXPECT_FLOAT_EQ(DataSet().ppSignal[1][i], -Y(1, from));
    EXPECT_FLOAT_EQ(DataSet().ppThirdColumn[1][i], 100.0f + static_cast<float>(from));
  }
  EXPECT_NEAR(DataSet().ppRadius[1][33], 6.8f, 1e-5);  // 6.2 was point 9
  EXPECT_LT(DataSet().ppRadius[1][1], DataSet().ppRadius[1][2]);

  MakeSet();
  // Invert, add the model, shift the times.
  ASSERT_TRUE(ScaleSignals(-1.0f).ok());
  ASSERT_TRUE(AddSimulatedSignal(1.0f).ok());
  for (int i = 1; i <= kPoints; ++i)
    EXPECT_FLOAT_EQ(DataSet().ppSignal[2][i], -Y(2, i) + 0.01f * static_cast<float>(i));
  ShiftScanTimes(60.0, 2.5e7);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].recordedTime, 2060.0);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].omega2t, 8.0e9 + 2.5e7);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[2].time, 2000.0);  // the working time waits for a reload
  // The common grid follows the changed signals.
  int g = 1;
  while (g < CurrentGrid().nGridPoints && CurrentGrid().pGridRadius[g] < R(5) - 1e-4f) ++g;
  EXPECT_NEAR(CurrentGrid().ppGridSignal[1][g], DataSet().ppSignal[1][5], 1e-4);

  MakeSet();
  // Noise 0 and factor 2: exactly doubled. A fixed seed repeats the same noise,
  // whose spread is the requested standard deviation.
  ASSERT_TRUE(AddNoiseToData(0.0f, 2.0f).ok());
  EXPECT_FLOAT_EQ(DataSet().ppSignal[1][20], 2.0f * Y(1, 20));
  EXPECT_FALSE(AddNoiseToData(-0.1f, 1.0f).ok());
  std::vector<float> first;
  for (int repeat = 0; repeat < 2; ++repeat) {
    MakeSet(20);
    SeedRandomGenerators(12345);
    ASSERT_TRUE(AddNoiseToData(0.01f, 1.0f).ok());
    double sum = 0.0, sum2 = 0.0;
    std::vector<float> now;
    for (int s = 1; s <= 20; ++s)
      for (int i = 1; i <= kPoints; ++i) {
        const double e = DataSet().ppSignal[Z(s)][i] - Y(s, i);
        sum += e;
        sum2 += e * e;
        now.push_back(DataSet().ppSignal[Z(s)][i]);
      }
    const double n = 20.0 * kPoints;
    EXPECT_NEAR(sum / n, 0.0, 0.002);
    EXPECT_NEAR(std::sqrt(sum2 / n), 0.01, 0.001);
    if (repeat == 0) first = now;
    else EXPECT_EQ(now, first);
  }
}

TEST_F(RawDataToolsTest, RegionsAndBlanksChangeAllScansOrNone) {
  MakeSet();
  // r1 = r2 on a data radius removes exactly that point from every scan.
  ASSERT_TRUE(ExcludeRadialRange(R(11), R(11)).ok());
  ASSERT_EQ(DataSet().pnPoints[1], kPoints - 1);
  EXPECT_FLOAT_EQ(DataSet().ppRadius[2][10], R(10));
  EXPECT_FLOAT_EQ(DataSet().ppRadius[2][11], R(12));
  EXPECT_FLOAT_EQ(DataSet().ppSignal[2][11], Y(2, 12));
  EXPECT_FLOAT_EQ(DataSet().ppThirdColumn[2][11], 112.0f);
  // A range reaching beyond scan 1, or one leaving too few points, changes nothing.
  EXPECT_EQ(ExcludeRadialRange(6.5f, 7.5f).status, RawToolStatus::Refused);
  EXPECT_NE(ExcludeRadialRange(R(2), R(40)).message.find("nothing excluded"), std::string::npos);
  EXPECT_EQ(DataSet().pnPoints[1], kPoints - 1);

  MakeSet();
  // Blank linear in r: linear interpolation reproduces it, so the difference is exact.
  const std::string blank = dir + "/blank.ra1";
  std::vector<float> br(61), by(61);
  for (int i = 1; i <= 60; ++i) {
    br[Z(i)] = 5.95f + 0.02f * static_cast<float>(i - 1);
    by[Z(i)] = 0.1f + 0.05f * (br[Z(i)] - 6.0f);
  }
  ASSERT_TRUE(WriteScanFile(blank.c_str(), 60, br.data(), by.data(), nullptr, "blank", true,
                            DataSet().pScanInfo[1]));
  ASSERT_TRUE(SubtractBlankScan(blank).ok());
  for (int i = 1; i <= kPoints; i += 8)
    EXPECT_NEAR(DataSet().ppSignal[1][i], Y(1, i) - (0.1f + 0.05f * (R(i) - 6.0f)), 2e-5);
  // A blank that does not reach the scans leaves them as they are.
  for (int i = 1; i <= 60; ++i) br[Z(i)] = 3.0f + 0.01f * static_cast<float>(i);
  ASSERT_TRUE(WriteScanFile(blank.c_str(), 60, br.data(), by.data(), nullptr, "blank", true,
                            DataSet().pScanInfo[1]));
  const float before = DataSet().ppSignal[2][7];
  EXPECT_NE(SubtractBlankScan(blank).message.find("does not cover the radii of\n00011.ra1"),
            std::string::npos);
  EXPECT_FLOAT_EQ(DataSet().ppSignal[2][7], before);
}

// The savers of whole sets (raw data set, fitted scans) write every file before any
// replaces its target: one file that cannot be written leaves the others as they
// were, no temporary stays, and the message names the file and the ones kept.
TEST_F(RawDataToolsTest, SavedSetsReplaceTheirFilesTogether) {
  MakeSet();
  const std::string out = dir + "/set";
  std::filesystem::create_directories(out);
  ASSERT_TRUE(SaveRawDataToDirectory(out + "/x.rxx", false).ok());
  ASSERT_TRUE(SaveFittedScans(out + "/f0000x.ra1", false, AskingPolicy()));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 4u);  // two raw scans and two fits
  const std::string fit1 = names[0], fit2 = names[1], raw1 = names[2], raw2 = names[3];
  const std::string oldRaw = ReadText(raw1), oldFit = ReadText(fit1);
  for (int i = 1; i <= kPoints; ++i) DataSet().ppSignal[1][i] += 1.0f, DataSet().ppFit[1][i] += 1.0f;

  std::filesystem::remove(raw2);
  std::filesystem::create_directories(raw2);
  EXPECT_EQ(SaveRawDataToDirectory(out + "/x.rxx", true).message,
            "\n\aAttention: could not write:\n" + raw2 + ": " + std::strerror(EISDIR) + "\nnone of the set was replaced:\n" + raw1);
  EXPECT_EQ(ReadText(raw1), oldRaw);

  std::filesystem::remove(fit2);
  std::filesystem::create_directories(fit2);
  backend->QueueMessageBox(IDYES, "REPLACE FILES?");  // overwrite all?
  backend->QueueMessageBox(IDOK, "ERROR");
  EXPECT_FALSE(SaveFittedScans(out + "/f0000x.ra1", false, AskingPolicy()));
  EXPECT_EQ(backend->Transcript().back().text,
            "could not write:\n" + fit2 + ": " + std::strerror(EISDIR) + "\nnone of the set was replaced:\n" + fit1);
  EXPECT_EQ(ReadText(fit1), oldFit);
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 4) << "no temporary is left";

  // Without the obstacles both sets are replaced whole.
  std::filesystem::remove_all(raw2);
  std::filesystem::remove_all(fit2);
  EXPECT_TRUE(SaveRawDataToDirectory(out + "/x.rxx", true).ok());
  backend->QueueMessageBox(IDYES, "REPLACE FILES?");
  EXPECT_TRUE(SaveFittedScans(out + "/f0000x.ra1", false, AskingPolicy()));
  EXPECT_NEAR(ReadBack(raw1).y[5], Y(1, 5) + 1.0f, 1e-4);
  EXPECT_NEAR(ReadBack(fit1).y[5], 0.05f + 1.0f, 1e-4);
  EXPECT_EQ(ReadBack(raw2).n(), kPoints);
}

TEST_F(RawDataToolsTest, WritersNameSaveAndNeverOverwriteUnasked) {
  MakeSet();
  // Speed names: 00011.ra1 at 20000 rpm and 280 nm -> 20k280_0011.ra1; read back as saved.
  ASSERT_TRUE(SaveRawDataWithSpeedNames(dir + "/x.rxx", false).ok());
  const Scan speed = ReadBack(dir + "/20k280_0011.ra1");
  ASSERT_EQ(speed.n(), kPoints);
  EXPECT_NEAR(speed.y[17], Y(1, 17), 1e-5);
  EXPECT_DOUBLE_EQ(speed.info.recordedTime, 1000.0);
  EXPECT_EQ(DataSet().szTmpParsPath, dir + "/~tmppars.ra1");

  // Into a directory with the chosen name part; existing files: declined -> untouched.
  const std::string out = dir + "/out";
  std::filesystem::create_directories(out);
  WriteText(out + "/x00012.ra1", "keep");
  EXPECT_EQ(SaveRawDataToDirectory(out + "/x.rxx", false).status, RawToolStatus::FilesExist);
  EXPECT_EQ(ReadText(out + "/x00012.ra1"), "keep");
  EXPECT_FALSE(std::filesystem::exists(out + "/x00011.ra1"));
  EXPECT_TRUE(SaveRawDataToDirectory(out + "/x.rxx", true).ok());
  EXPECT_NE(ReadText(out + "/x00012.ra1"), "keep");

  // Two scans that would get one speed name: nothing is written.
  DataSet().ppScanFileNames[1] = "00012.ra1";  // same first character and characters 3-5
  DataSet().ppScanFileNames[2] = "01012.ra1";
  const std::string clash = dir + "/clash";
  std::filesystem::create_directories(clash);
  EXPECT_NE(SaveRawDataWithSpeedNames(clash + "/x.rxx", true).message.find("same file name"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(clash));

  // Six-channel sections: boundary points belong to two sections; the loaded
  // interference signals stay as they were although the sections are aligned.
  MakeSet();
  ScanFile().bInterferenceData = true;
  for (int i = 1; i <= kPoints; ++i) DataSet().ppSignal[2][i] += 3.0f;
  DataSet().szTmpParsPath = dir + "/~tmppars.ra1";
  ASSERT_TRUE(SaveSixChannelSubsets(R(11), R(31), false).ok());
  EXPECT_FLOAT_EQ(DataSet().ppSignal[2][1], Y(2, 1) + 3.0f);
  const Scan middle = ReadBack(dir + "/m00012.ra1");
  ASSERT_EQ(middle.n(), 21);  // points 11..31
  EXPECT_NE(middle.info.description.find("middle section of 00012.ra1"), std::string::npos);
  // The middle section of scan 2 is aligned to scan 1 at 6.5 cm: whole fringes off.
  EXPECT_NEAR(middle.y[1], Y(2, 11) + 3.0f - 3.0f, 1e-5);
  EXPECT_TRUE(std::filesystem::exists(dir + "/i00011.ra1"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/o00011.ra1"));

  // The average of the scans on the common grid (0.001 cm spacing): at grid radii
  // that are data radii it is the mean of the two scans' values there.
  // It holds only radii both scans hold (the grid reaches past their ends), every
  // grid point among them, and it takes the time it was written, not a source's.
  MakeSet();
  DataSet().ppRadius[2][kPoints] = DataSet().ppRadius[2][kPoints - 1];  // scan 2 ends a point earlier
  DataSet().pnPoints[2] = kPoints - 1;
  const std::int64_t longAgo = 1000000000LL * 1000000000LL;  // 2001, in ns
  const FileTimes old{true, longAgo, longAgo, longAgo};
  DataSet().pScanInfo[1].creationTime = old.creation;
  DataSet().pScanInfo[1].lastAccessTime = old.lastAccess;
  DataSet().pScanInfo[1].lastWriteTime = old.lastWrite;
  DataSet().pScanInfo[1].fileTimesValid = true;
  ASSERT_TRUE(WriteAveragedScan(dir + "/average.ra1").ok());
  const Scan avg = ReadBack(dir + "/average.ra1");
  int inside = 0;
  for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) inside += CurrentGrid().pGridRadius[g] >= R(1) && CurrentGrid().pGridRadius[g] <= R(kPoints - 1);
  ASSERT_EQ(avg.n(), inside);
  EXPECT_LT(inside, CurrentGrid().nGridPoints);
  EXPECT_GE(avg.r[1], R(1));
  EXPECT_LE(avg.r.back(), R(kPoints - 1));
  EXPECT_NE(GetFileTimes(dir + "/average.ra1").lastWrite, old.lastWrite);
  for (int k : {5, 21, 33}) {
    const auto at = std::find_if(avg.r.begin() + 1, avg.r.end(),
                                 [&](float r) { return std::fabs(r - R(k)) <= 1e-4f; });
    ASSERT_NE(at, avg.r.end()) << k;
    EXPECT_NEAR(avg.y[static_cast<std::size_t>(at - avg.r.begin())], 0.5f * (Y(1, k) + Y(2, k)), 2e-4) << k;
  }
}

// Intensity scans (".ri1": the optics letter is the extension's second character)
// saved as absorbance, raw or fitted, become ".ra1" files.
TEST_F(RawDataToolsTest, IntensityScansSavedAsAbsorbanceGetTheLetterA) {
  MakeSet();
  ScanFile().bIntensityData = true;
  ScanFile().bAbsorbanceData = false;
  for (int s = 1; s <= 2; ++s) {
    DataSet().ppScanFileNames[Z(s)] = Format("%05d.ri1", 10 + s);
    DataSet().pScanInfo[Z(s)].scanType = 'I';
  }
  const std::string out = dir + "/intensity";
  std::filesystem::create_directories(out);
  DataSet().szTmpParsPath = out + "/~tmppars.ri1";
  ASSERT_TRUE(SaveIntensityAsAbsorbance(false).ok());
  ASSERT_TRUE(SaveFittedScans(out + "/f0000x.ri1", true, AskingPolicy()));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"00011.ra1", "00012.ra1", "f0011.ra1", "f0012.ra1"}));
  ScanFile().bIntensityData = false;
}

TEST_F(RawDataToolsTest, FringeOffsetsJumpsAndScanRmsd) {
  // Scans 2..4 offset from scan 1 by 2.6, 0.4 and -1.5 fringes.
  MakeSet(4);
  ScanFile().bInterferenceData = true;
  const float offsets[] = {0.0f, 2.6f, 0.4f, -1.5f};
  for (int s = 2; s <= 4; ++s)
    for (int i = 1; i <= kPoints; ++i) DataSet().ppSignal[Z(s)][i] = Y(1, i) + offsets[s - 1];
  AlignFringeOffsets(0.0f, 6.5f);
  EXPECT_NEAR(DataSet().ppSignal[2][3], Y(1, 3) + 2.6f - 3.0f, 1e-5);
  EXPECT_NEAR(DataSet().ppSignal[3][3], Y(1, 3) + 0.4f, 1e-5);
  EXPECT_NEAR(DataSet().ppSignal[4][3], Y(1, 3) - 1.5f + 2.0f, 1e-5);

  // A jump of 2.2 fringes inside the fit range is removed; with a threshold below
  // one half a step of 0.6 fringes is left alone (and the tool ends).
  MakeSet(1);
  DataSet().fMeniscus = 5.95f;  // the cell around the limits, which the grid's rebuild keeps
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = R(2);
  DataSet().fFitRightLim = R(40);
  DataSet().pFitFirst[1] = 2;
  DataSet().pFitLast[1] = 40;
  for (int i = 1; i <= kPoints; ++i) DataSet().ppSignal[1][i] = 0.1f + (i >= 20 ? 2.2f : 0.0f);
  RemoveFringeJumps(0.5f, false);
  EXPECT_NEAR(DataSet().ppSignal[1][30], 0.1f + 0.2f, 1e-5);
  for (int i = 1; i <= kPoints; ++i) DataSet().ppSignal[1][i] = 0.1f + (i >= 20 ? 0.6f : 0.0f);
  RemoveFringeJumps(0.3f, false);
  EXPECT_NEAR(DataSet().ppSignal[1][30], 0.1f - 0.4f, 1e-5);

  // rmsd between scans after their mean difference is removed: a constant offset
  // counts nothing, an alternating +-e pattern counts e.
  MakeSet(2);
  for (int i = 1; i <= kPoints; ++i)
    DataSet().ppSignal[2][i] = DataSet().ppSignal[1][i] + 0.3f + ((i % 2) ? 0.002f : -0.002f);
  DataSet().pFitFirst[2] = 2;
  DataSet().pFitLast[2] = 41;  // 40 points: as many + as -
  EXPECT_NEAR(RmsdBetweenScans(1, 2), 0.002f, 1e-5);
  EXPECT_EQ(RmsdBetweenScans(1, 1), 0.0f);
  EXPECT_EQ(RmsdBetweenScans(1, 3), 0.0f);
  // Interference files (".ip1") are compared as they are.
  DataSet().ppScanFileNames[1] = "00011.ip1";
  DataSet().ppScanFileNames[2] = "00012.ip1";
  EXPECT_NEAR(RmsdBetweenScans(1, 2), 0.002f, 1e-5);
  // Intensity files (".ri1") as absorbance log10(I0 / I): absorbances 0.1 apart
  // with an alternating +-0.003 give 0.003, whatever the intensities.
  DataSet().ppScanFileNames[1] = "00011.ri1";
  DataSet().ppScanFileNames[2] = "00012.ri1";
  for (int s = 1; s <= 2; ++s) {
    ASSERT_NE(DataSet().ppThirdColumn[Z(s)], nullptr);
    for (int i = 1; i <= kPoints; ++i) {
      double A = 0.3 + 0.01 * i;
      if (s == 2) A += 0.1 + ((i % 2) ? 0.003 : -0.003);
      DataSet().ppThirdColumn[Z(s)][i] = 2.0f;
      DataSet().ppSignal[Z(s)][i] = static_cast<float>(2.0 * std::pow(10.0, -A));
    }
  }
  EXPECT_NEAR(RmsdBetweenScans(1, 2), 0.003f, 2e-5);
}

TEST_F(RawDataToolsTest, InitialProfileExtrapolatesFromTheProfileAsRead) {
  MakeSet();
  // A profile linear in r: the first-order extrapolation reproduces the line.
  std::vector<float> r(kPoints + 1), y(kPoints + 1);
  for (int i = 1; i <= kPoints; ++i) {
    r[Z(i)] = R(i);
    y[Z(i)] = 0.2f + 0.5f * (R(i) - 6.0f);
  }
  std::vector<float> measured = y;
  for (int i = 1; i <= 6; ++i) measured[Z(i)] = 3.0f;  // spoiled near the meniscus
  SetInitialProfile(kPoints, r.data(), measured.data(), DataSet().pScanInfo[1]);
  AnalysisSwitches().bInitialDataProfile = true;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = R(9);  // 6.2 cm: support points 9..16
  DataSet().fFitRightLim = 7.5f;
  ExtrapolateInitialData(0.0f);
  for (int i = 1; i <= 9; ++i) EXPECT_NEAR(InitialData().pInitSignal[Z(i)], y[Z(i)], 1e-5) << i;
  EXPECT_FLOAT_EQ(InitialData().pInitSignal[20], y[20]);
  // Baseline as the lower bound.
  ExtrapolateInitialData(0.25f);
  EXPECT_FLOAT_EQ(InitialData().pInitSignal[1], 0.25f);
  // Moving the left limit back inwards gives the measured points back.
  DataSet().fFitLeftLim = R(3);
  ExtrapolateInitialData(0.0f);
  EXPECT_FLOAT_EQ(InitialData().pInitSignal[5], measured[5]);
  // Too few points for the support: unchanged.
  InitialData().nInitPolyOrder = 5;
  DataSet().fFitLeftLim = R(38);
  InitialData().fInitExtrapFactor = 0.01f;
  ExtrapolateInitialData(0.0f);
  EXPECT_FLOAT_EQ(InitialData().pInitSignal[1], measured[1]);
}

}  // namespace
}  // namespace tarmic::testing
