// Equilibrium series: the attainment test's rmsd against the last scan over time,
// "Sort Eq Data to Disk" with its questions, eq files and experiment files (and the
// global analysis of the files it wrote), and the collect mode of the test of
// approach to equilibrium.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "commands/equilibrium_sorting.h"
#include "engine/equilibrium.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "modelfit/model_params.h"
#include "plot/winplot.h"
#include "scandata/experiment_file.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "tests/commands/commands_test_support.h"
#include "resources/command_ids.h"
#include "tests/engine/synthetic_run.h"

namespace tarmic::testing {
namespace {

struct ScanSpec {
  int cell;
  float wavelength, rpm;
  double time;
  float tilt;  // signal = exp(r - 6) + tilt r
};

constexpr int kPoints = 60;
float Radius(int k) { return 5.9f + 1.2f * static_cast<float>(k - 1) / (kPoints - 1); }

// Installs scans "000NN<ext>" of the specs, in this order.
void InstallScans(const std::vector<ScanSpec>& specs, const std::string& ext = ".ra1") {
  AllocScanTables(static_cast<int>(specs.size()));
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const ScanSpec& spec = specs[Idx(s - 1)];
    float* r = tarmic::vector(1, kPoints);
    float* y = tarmic::vector(1, kPoints);
    for (int k = 1; k <= kPoints; ++k) {
      r[k] = Radius(k);
      y[k] = static_cast<float>(std::exp(r[k] - 6.0) + spec.tilt * r[k]);
    }
    ScanInfo& info = DataSet().pScanInfo[Idx(s)];
    info.cell = spec.cell;
    info.wavelength = spec.wavelength;
    info.rpm = spec.rpm;
    info.time = info.recordedTime = spec.time;
    info.scanType = 'R';
    DataSet().ppScanFileNames[Idx(s)] = Format("%05d%s", s, ext.c_str());
    InstallScanArrays(s, kPoints, r, y, nullptr, false);
  }
}

// Population standard deviation of the radii: the rmsd of two scans that differ by
// a tilt d r is |d| times it once the mean difference is removed.
double RadiusSpread() {
  double mean = 0.0, sq = 0.0;
  for (int k = 1; k <= kPoints; ++k) mean += Radius(k);
  mean /= kPoints;
  for (int k = 1; k <= kPoints; ++k) sq += (Radius(k) - mean) * (Radius(k) - mean);
  return std::sqrt(sq / kPoints);
}

class EqSortingTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetEquilibriumSorting();
  }
  void TearDown() override {
    ResetEquilibriumSorting();
    CommandTest::TearDown();
  }
};

// Three scans at 1 h, 2 h and 3 h: two points, each the tilt difference times the
// spread of the radii; answering No leaves the rmsd plot (the scan is not shown).
// One scan: only the inclusion question. Intensity files are judged as absorbance.
TEST_F(EqSortingTest, AttainmentTestPlotsRmsdAgainstLastScan) {
  InstallScans({{1, 280, 20000, 3600, 0.02f}, {1, 280, 20000, 7200, 0.005f},
                {1, 280, 20000, 10800, 0.0f}});
  const int series[] = {0, 1, 2, 3, 3};
  Backend().QueueMessageBox(IDNO, "EQ Test");
  EXPECT_FALSE(TestEquilibriumAttainment(Win(), series, 4, 3));
  EXPECT_EQ(Backend().Transcript().back().text, "was equilibrium attained at 280 nm and 20000 rpm?");
  ASSERT_NE(pAuxPlot, nullptr);
  const CCurve* c = pAuxPlot->GetCurve(0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->X()->Length(), 2u);
  EXPECT_FLOAT_EQ(c->X()->Get(0), 3600.0f);
  EXPECT_FLOAT_EQ(c->X()->Get(1), 7200.0f);
  EXPECT_NEAR(c->Y()->Get(0), 0.02 * RadiusSpread(), 2e-5);
  EXPECT_NEAR(c->Y()->Get(1), 0.005 * RadiusSpread(), 2e-5);

  Backend().QueueMessageBox(IDYES, "EQ Test");
  Backend().QueueMessageBox(IDYES, "EQ Test");
  EXPECT_TRUE(TestEquilibriumAttainment(Win(), series, 4, 3));
  EXPECT_EQ(Backend().Transcript().back().text,
            "accept EQ scan at 280 nm and 20000 rpm to be included? ");

  const int one[] = {0, 2, 2};
  Backend().QueueMessageBox(IDYES, "EQ Test");
  EXPECT_TRUE(TestEquilibriumAttainment(Win(), one, 2, 2));
  EXPECT_EQ(Backend().Transcript().back().text,
            "accept EQ scan at 280 nm and 20000 rpm to be included? (no time-course available)");
  EXPECT_EQ(pAuxPlot->GetCurve(0)->X()->Length(), static_cast<std::uint32_t>(kPoints));
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // Intensity: the absorbance log10(reference / sample); a non-positive intensity
  // gives 10.
  InstallScans({{1, 280, 20000, 3600, 0.0f}}, ".ri1");
  float* third = tarmic::vector(1, kPoints);
  for (int k = 1; k <= kPoints; ++k) third[k] = 0.5f;
  DataSet().ppThirdColumn[1] = third;
  EXPECT_NEAR(EqScanValue(1, 1), std::log10(0.5 / DataSet().ppSignal[1][1]), 1e-6);
  DataSet().ppSignal[1][2] = 0.0f;
  EXPECT_FLOAT_EQ(EqScanValue(1, 2), 10.0f);
}

// Cell 2 at 280 nm, three speeds of three scans (a 283 nm scan joins the first
// speed; two equal latest times keep the first), and a scan exactly 5 nm away,
// which starts its own key. All series are accepted except 20000 rpm: eq files
// for 10k and 15k listed in cell2_280.xp (MULTISEDEQ), eq10k_285 in its own
// single-file experiment. The collect mode records the same series without any
// question or file.
TEST_F(EqSortingTest, SortWritesEqFilesAndExperimentFiles) {
  InstallScans({{2, 280, 10000, 1000, 0.03f}, {2, 280, 15000, 5000, 0.0f},
                {2, 283, 10000, 2000, 0.02f}, {2, 280, 20000, 8000, 0.0f},
                {2, 280, 10000, 4000, 0.0f},  {2, 280, 15000, 7000, 0.01f},
                {2, 280, 15000, 7000, 0.02f}, {2, 280, 20000, 9000, 0.0f},
                {2, 285, 10000, 3000, 0.0f},  {2, 280, 10000, 3000, 0.01f}});
  namespace fs = std::filesystem;
  const std::string out = ProgramDir() + "/sorted";
  fs::create_directories(out);
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  for (const char* v : {"1.002", "0.72", "2.5", "1.5", "0.5"}) Backend().QueueInput(std::string(v));
  for (int answer : {IDYES, IDYES, IDYES, IDYES, IDNO, IDYES})
    Backend().QueueMessageBox(answer, "EQ Test");
  Dispatch(kCmSortEqData);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // 10k: latest of scans 1, 3, 5, 10 is scan 5 (4000 s).
  ASSERT_TRUE(fs::exists(out + "/eq10k_280.ra1"));
  ASSERT_TRUE(fs::exists(out + "/eq15k_280.ra1"));
  EXPECT_FALSE(fs::exists(out + "/eq20k_280.ra1"));
  ASSERT_TRUE(fs::exists(out + "/eq10k_285.ra1"));
  const ScanRead eq15k = ReadScan(out + "/eq15k_280.ra1");
  // 15k: scans 2, 6, 7; 6 and 7 share the latest time: scan 6 (tilt 0.01) is written.
  ASSERT_EQ(eq15k.y.size(), static_cast<std::size_t>(kPoints));
  EXPECT_NEAR(eq15k.y[9], std::exp(Radius(10) - 6.0) + 0.01 * Radius(10), 1e-4);
  EXPECT_EQ(eq15k.info.rpm, 15000.0f);

  const std::vector<std::string> xp = Lines(ReadFile(out + "/cell2_280.xp"));
  EXPECT_EQ(xp[0], "4 (ExperimentType: MULTISEDEQ)");
  EXPECT_EQ(xp[2], "\"" + out + "/\" \" eq10k_280.ra1 eq15k_280.ra1\"");
  EXPECT_EQ(xp[3], "1.002 (fBufferDensity)");
  EXPECT_EQ(Lines(ReadFile(out + "/cell2_285.xp"))[0], "3 (ExperimentType: SEDEQUILIBRIUM)");

  // Collect mode: the same four series, time-ordered with the latest last.
  Backend().ClearTranscript();
  RunEquilibriumTest(Win());
  EXPECT_TRUE(Backend().Transcript().empty());
  ASSERT_EQ(nEqGroups, 4);
  EXPECT_EQ(ppEqGroups[1], (std::vector<int>{0, 1, 3, 10, 5}));
  EXPECT_EQ(ppEqGroups[2], (std::vector<int>{0, 2, 7, 6}));
  EXPECT_EQ(pEqGroupSizes[4], 1);
  EXPECT_EQ(ppEqGroups[4][1], 9);
  EXPECT_TRUE(bEqSingleCell);
  ASSERT_NE(pAuxPlot, nullptr);
  EXPECT_NE(pAuxPlot->GetCurve(2), nullptr);  // one curve per series of several scans
  // Parameters (Ctrl+P) in the test's view only leaves the view: no dialog.
  Win().ParametersCommand();
  EXPECT_TRUE(Backend().Transcript().empty());
  EXPECT_FALSE(bEqTestView);
  EXPECT_EQ(pAuxPlot, nullptr);
  EXPECT_EQ(nEqGroups, 0);

  // A scan that joined a series (280.2 nm, 4.8 nm from 275.4 nm) opens none of its
  // own, though the whole nanometres of the two lie 5 apart.
  InstallScans({{1, 275.4f, 10000, 1000, 0.0f}, {1, 280.2f, 10000, 2000, 0.0f}});
  RunEquilibriumTest(Win());
  EXPECT_EQ(nEqGroups, 1);
  Win().ParametersCommand();
}


// The values written into the experiment files of a sort lie within their ranges:
// a buffer density of 0, a negative partial specific volume and a negative
// extinction coefficient are refused, naming the value and its range, and asked
// again; the files hold the values then given.
TEST_F(EqSortingTest, ExperimentFileValuesOutsideTheirRangesAreAskedAgain) {
  InstallScans({{2, 280, 10000, 1000, 0.0f}, {2, 280, 10000, 2000, 0.0f}});
  namespace fs = std::filesystem;
  const std::string out = ProgramDir() + "/sorted_ranges";
  fs::create_directories(out);
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  const auto refuseThen = [this](const char* bad, const char* good) {
    Backend().QueueInput(std::string(bad));
    Backend().QueueMessageBox(IDOK, "make QUENTAR xp file");
    Backend().QueueInput(std::string(good));
  };
  refuseThen("0", "1.002");
  refuseThen("-1", "0.72");
  refuseThen("-2", "2.5");
  for (const char* v : {"1.5", "0.5"}) Backend().QueueInput(std::string(v));
  Backend().AnswerUnscriptedBoxes(IDYES);  // the sort's own questions
  Dispatch(kCmSortEqData);
  std::vector<std::string> refusals;
  for (const std::string& t : BoxTexts())
    if (t.find(" must ") != std::string::npos) refusals.push_back(t);
  EXPECT_EQ(refusals, (std::vector<std::string>{
                          "the buffer density 0 g/ml must lie between 0.01 and 5 g/ml",
                          "the partial specific volume -1 ml/g must lie between 0.01 and 3 ml/g",
                          "the molar extinction coefficient A -2 must lie between 0 and 1e+08"}));
  const std::vector<std::string> xp = Lines(ReadFile(out + "/cell2_280.xp"));
  ASSERT_GT(xp.size(), 3u);
  EXPECT_EQ(xp[3], "1.002 (fBufferDensity)");
}

// Reader and writer of experiment files agree on every key; the experiment file of
// a sort loads the sorted scans with the sort's settings ("Load New Files"); a file
// that lists a missing scan, or is no experiment file, changes nothing.
TEST_F(EqSortingTest, ExperimentFileRoundTrip) {
  namespace fs = std::filesystem;
  ExperimentFile xp;
  xp.type = kXpSedVelocity;
  xp.directory = ProgramDir() + "/some dir";
  xp.files = {"a.ra1", "b.ra1", "c.ra1"};
  xp.bufferDensity = 1.0123f;
  xp.bufferViscosity = 0.0011f;
  xp.vbar = 0.71f;
  xp.meniscus = 6.012f;
  xp.bottom = 7.198f;
  xp.maxMeniscus = 6.03f;
  xp.minMeniscus = 5.99f;
  xp.maxBottom = 7.25f;
  xp.minBottom = 7.15f;
  xp.fitLeftLimit = 6.05f;
  xp.fitRightLimit = 7.1f;
  xp.weight = 2.0f;
  xp.noise = 0.007f;
  xp.fitTINoise = true;
  xp.fitRINoise = false;
  xp.varyBaseline = false;
  xp.varyBottom = true;
  xp.varyMeniscus = true;
  xp.baseline = 0.02f;
  xp.extinctionA = 3.5f;
  xp.extinctionB = 0.25f;
  xp.extinctionC = 7.0f;
  xp.vbar20 = 0.715f;
  xp.hydration = 0.35f;
  xp.pathLength = 0.3f;
  xp.temperature = 4.0f;
  const std::string path = ProgramDir() + "/all.xp";
  ASSERT_TRUE(WriteXpFile(path, xp));
  ExperimentFile back;
  ASSERT_TRUE(LoadXpFile(path, &back));
  EXPECT_EQ(FormatXpFile(back), FormatXpFile(xp));
  EXPECT_EQ(back.files, xp.files);

  // Sort: cell 1 at 280 nm, two speeds of two scans, every series accepted.
  InstallScans({{1, 280, 10000, 1000, 0.02f}, {1, 280, 10000, 2000, 0.01f},
                {1, 280, 20000, 3000, 0.03f}, {1, 280, 20000, 4000, 0.005f}});
  DataSet().fMeniscus = 5.95f;
  DataSet().fBottom = 7.15f;
  DataSet().fFitLeftLim = 6.0f;
  DataSet().fFitRightLim = 7.05f;
  const std::string out = ProgramDir() + "/sorted";
  fs::create_directories(out);
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  for (const char* v : {"1.01", "0.74", "1.0", "1.0", "0.0"}) Backend().QueueInput(std::string(v));
  for (int k = 0; k < 4; ++k) Backend().QueueMessageBox(IDYES, "EQ Test");
  Dispatch(kCmSortEqData);
  ASSERT_TRUE(Backend().AllAnswersUsed());
  const std::string xpPath = out + "/cell1_280.xp";
  ASSERT_TRUE(fs::exists(xpPath));

  // Loaded from a fresh start.
  FreeDataSet();
  DataSet().fMeniscus = DataSet().fBottom = DataSet().fFitLeftLim = DataSet().fFitRightLim = 0.0f;
  SolventConstants().fBufferDensity = 1.0f;
  SolventConstants().VBAR = 0.73f;
  DataSet().bEquilibriumMode = false;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  LoadThroughDialog({xpPath});
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(DataSet().ppScanFileNames[2], "eq20k_280.ra1");
  EXPECT_EQ(DataSet().pScanInfo[2].rpm, 20000.0f);
  // The latest scans' profiles: tilts 0.01 (10k) and 0.005 (20k).
  EXPECT_NEAR(DataSet().ppSignal[1][7], std::exp(DataSet().ppRadius[1][7] - 6.0) + 0.01 * DataSet().ppRadius[1][7], 1e-4);
  EXPECT_NEAR(DataSet().ppSignal[2][7], std::exp(DataSet().ppRadius[2][7] - 6.0) + 0.005 * DataSet().ppRadius[2][7], 1e-4);
  EXPECT_TRUE(DataSet().bEquilibriumMode);
  EXPECT_NEAR(DataSet().fMeniscus, 5.95f, 1e-6);
  EXPECT_NEAR(DataSet().fBottom, 7.15f, 1e-6);
  EXPECT_NEAR(DataSet().fFitRightLim, 7.05f, 1e-6);
  EXPECT_NEAR(SolventConstants().fBufferDensity, 1.01f, 1e-6);
  EXPECT_NEAR(SolventConstants().VBAR, 0.74f, 1e-6);
  EXPECT_FALSE(AnalysisSwitches().bFitTINoise);  // absorbance files: no systematic noise
  EXPECT_FALSE(AnalysisSwitches().bFitRINoise);

  // A listed scan that is missing: the loaded set and the settings stay.
  std::string text = ReadFile(xpPath);
  text.replace(text.find("eq20k_280.ra1"), 13, "eq30k_280.ra1");
  text.replace(text.find("1.01 (fBufferDensity)"), 4, "1.05");
  text.replace(text.find("5.95 (Meniscus)"), 4, "5.90");
  WriteFile(out + "/broken.xp", text);
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({out + "/broken.xp"});
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(DataSet().ppScanFileNames[2], "eq20k_280.ra1");
  EXPECT_NEAR(DataSet().fMeniscus, 5.95f, 1e-6);
  EXPECT_NEAR(SolventConstants().fBufferDensity, 1.01f, 1e-6);
  EXPECT_EQ(Captions().back(), "LOAD ERROR");
  // Not an experiment file.
  WriteFile(out + "/empty.xp", "hello\n");
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({out + "/empty.xp"});
  EXPECT_EQ(DataSet().nScans, 2);
  EXPECT_EQ(Captions().back(), "LOAD ERROR");
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // A sort whose cell lies the wrong way round writes its scans but no experiment
  // file it would not load, and says why (not that the file could not be opened).
  InstallScans({{3, 280, 10000, 1000, 0.02f}, {3, 280, 10000, 2000, 0.01f}});
  DataSet().fMeniscus = 7.1f;
  DataSet().fBottom = 6.9f;
  Backend().ClearTranscript();
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  for (const char* v : {"1.01", "0.74", "1.0", "1.0", "0.0"}) Backend().QueueInput(std::string(v));
  for (int k = 0; k < 2; ++k) Backend().QueueMessageBox(IDYES, "EQ Test");
  Backend().QueueMessageBox(IDYES);  // the scan of the earlier sort already exists: replace it
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmSortEqData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(fs::exists(out + "/eq10k_280.ra1"));
  EXPECT_FALSE(fs::exists(out + "/cell3_280.xp"));
  ASSERT_FALSE(BoxTexts().empty());
  EXPECT_EQ(BoxTexts().back(), "did not write " + out +
                                   "/cell3_280.xp: the experiment file would not load again: lines 7 and 8 hold "
                                   "the meniscus 7.1 cm, which must lie below the bottom 6.9 cm");
}

// A run sorted with experiment files on is fitted by the global equilibrium analysis
// from the files the sort wrote: three cells at three speeds of a monomer-dimer
// system, loaded as the window holds them.
TEST_F(EqSortingTest, SortedFilesFitByTheGlobalAnalysisToTheTruth) {
  const engine::testing::Truth truth{"monomer-nmer", 2, 30000, 0, 0, 5.0, 0.01};
  const std::vector<engine::DataSet> run = engine::testing::SyntheticRun(truth, 77);
  AllocScanTables(static_cast<int>(run.size()));
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const engine::DataSet& d = run[Idx(s - 1)];
    const int n = static_cast<int>(d.scans[0].radius.size());
    float* r = tarmic::vector(1, n);
    float* y = tarmic::vector(1, n);
    for (int k = 1; k <= n; ++k) {
      r[k] = static_cast<float>(d.scans[0].radius[Idx(k - 1)]);
      y[k] = static_cast<float>(d.scans[0].value[Idx(k - 1)]);
    }
    ScanInfo& info = DataSet().pScanInfo[Idx(s)];
    info.cell = d.cell;
    info.wavelength = 280;
    info.rpm = static_cast<float>(d.rpm);
    info.temperature = 20.0f;
    info.time = info.recordedTime = 3600.0 * s;
    info.scanType = 'R';
    DataSet().ppScanFileNames[Idx(s)] = Format("%05d.ra%d", s, d.cell);
    InstallScanArrays(s, n, r, y, nullptr, false);
  }
  namespace fs = std::filesystem;
  const std::string out = ProgramDir() + "/sorted-global";
  fs::remove_all(out);
  fs::create_directories(out);
  Backend().QueueSaveFile(out + "/eq.ra1");
  Backend().QueueMessageBox(IDYES);  // make xp files?
  for (const char* v : {"1.003", "0.73", "40000", "1", "0"}) Backend().QueueInput(std::string(v));
  for (std::size_t k = 0; k < run.size(); ++k) Backend().QueueMessageBox(IDYES, "EQ Test");
  Dispatch(kCmSortEqData);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  std::vector<std::string> xps;
  for (int cell = 1; cell <= 3; ++cell) xps.push_back(out + "/cell" + std::to_string(cell) + "_280.xp");
  std::vector<engine::DataSet> sets;
  std::string error;
  ASSERT_TRUE(engine::ReadEquilibriumRun(xps, &sets, &error)) << error;
  ASSERT_EQ(sets.size(), 9u);
  engine::EquilibriumModelSpec spec;
  ASSERT_TRUE(engine::ParseEquilibriumModel("monomer-nmer", 2, &spec, &error));
  engine::Problem p;
  ASSERT_TRUE(engine::BuildEquilibriumProblem(sets, spec, {}, 2, &p, &error)) << error;
  const engine::Summary s = engine::Solve(engine::Options{}, p);
  ASSERT_EQ(s.status, engine::Status::kConverged);
  EXPECT_FALSE(s.misfit);
  EXPECT_NEAR(s.globals[0].value, 30000, 3 * s.globals[0].error);
  EXPECT_NEAR(s.globals[1].value, 5.0, 3 * s.globals[1].error);
  EXPECT_LE(s.globals[1].lower95, 5.0 + 3 * s.globals[1].error);
}

}  // namespace
}  // namespace tarmic::testing
