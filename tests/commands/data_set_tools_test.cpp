// Synthetic data from the model, saved fits, residuals and noise, the noise
// subtraction, and the files the program writes beside the scans when the folder is
// loaded again.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "distribution_window_test_support.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/noise_subtraction.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_options.h"
#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "services/replace_question.h"
#include "app/zoom.h"
#include "scandata/data_set_hooks.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"
#include "resources/command_ids.h"
#include "commands/save_outcome.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

// Every regular file of dir, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Linear interpolation in a curve with ascending x.
float Interpolate(const std::vector<float>& x, const std::vector<float>& y, float at) {
  std::size_t k = 1;
  while (k + 1 < x.size() && x[k] < at) ++k;
  const float w = (at - x[k - 1]) / (x[k] - x[k - 1]);
  return y[k - 1] + w * (y[k] - y[k - 1]);
}

class DataSetToolsTest : public DistributionWindowTest {
 protected:
  void TearDown() override {
    NoiseSubtraction().bNoiseTakenFromData = false;
    ResetSyntheticData();
    SetNoiseZoomHook(nullptr);
    DistributionWindowTest::TearDown();
  }

  std::string DataDir() { return ProgramDir() + "/data"; }

  // The synthetic run with a constant offset added to every value.
  std::vector<std::string> WriteRunWithOffset(float offset) {
    fs::create_directories(DataDir());
    std::vector<std::string> paths = WriteSyntheticRun(DataDir());
    for (const std::string& p : paths) {
      ScanRead s = ReadScan(p);
      for (float& v : s.y) v += offset;
      s.r.insert(s.r.begin(), 0.0f);
      s.y.insert(s.y.begin(), 0.0f);
      EXPECT_TRUE(WriteScanFile(p.c_str(), static_cast<int>(s.r.size()) - 1, s.r.data(), s.y.data(),
                                nullptr, nullptr, true, s.info));
    }
    return paths;
  }

  // The species that made the synthetic run, s given.
  void SetSpecies(float s, bool floatS) {
    for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
    AnalysisSwitches().pSpeciesLinked[1] = 1;
    ModelParams().pSpeciesS[1] = s;
    ModelParams().pSpeciesSFit[1] = floatS ? 1 : 0;
    ModelParams().pSpeciesMassOrD[1] = DFromM(CalculateM(static_cast<float>(kSyntheticS)), 20.0f) * 1e7f;
    ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
    PackModelParams();
  }

  // Generate Single's answers up to its save dialog: 0.01 cm, 50,000 rpm, no
  // acceleration phase, then interval, number of scans and noise.
  void QueueGenerate(const char* interval, const char* scans, const char* noise, const std::string& dir) {
    for (const char* answer : {"0.01", "50000"}) Backend().QueueInput(answer);
    Backend().QueueMessageBox(IDNO, "GENERATE DATA");
    for (const char* answer : {interval, scans, noise}) Backend().QueueInput(answer);
    Backend().QueueSaveFile(dir + "/anything.ra0");
  }
};

// Generate Single asks each setting within its range: a step of 1e-9 cm, a rotor
// speed of 1e-30 rpm (written as 0 rpm, which no scan reader takes), an interval
// of 0 s (every scan at t = 0), 2.5 scans and a negative noise are each refused,
// naming the setting and its range, and asked again; cancelled, nothing is written.
TEST_F(DataSetToolsTest, GenerateRefusesSettingsOutsideTheirRanges) {
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  fs::create_directories(DataDir());
  const std::size_t filesBefore = FilesIn(DataDir()).size();
  const auto refuseThen = [this](const char* bad, const char* good) {
    Backend().QueueInput(std::string(bad));
    Backend().QueueMessageBox(IDOK, "GENERATE DATA");
    if (good) Backend().QueueInput(std::string(good));
  };
  refuseThen("1e-9", "0.01");
  refuseThen("1e-30", "50000");
  Backend().QueueMessageBox(IDNO, "GENERATE DATA");  // no acceleration phase
  refuseThen("0", "600");
  refuseThen("2.5", "10");
  refuseThen("-0.01", nullptr);
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmGenerateSingle);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{"the density of points dr 1e-09 cm must lie between 0.0001 and 0.1 cm",
                                      "the rotor speed 1e-30 rpm must lie between 1 and 100000 rpm",
                                      "simulate with rotor acceleration phase?",
                                      "the time interval of scans 0 s must lie between 1 and 1e+08 s",
                                      "the number of simulated scans 2.5 must be a whole number between 1 and 1000",
                                      "the std of noise -0.01 must lie between 0 and 1e+06"}));
  EXPECT_EQ(FilesIn(DataDir()).size(), filesBefore);
}

// Generate Single with a known species, then the written files loaded as data and
// fitted from an s 10 % off: s comes back and the fit lies at the noise level.
TEST_F(DataSetToolsTest, GeneratedDataLoadedAgainGiveBackTheModel) {
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  fs::create_directories(DataDir());
  for (const char* answer : {"0.01", "50000"}) Backend().QueueInput(answer);
  Backend().QueueMessageBox(IDNO, "GENERATE DATA");  // no acceleration phase
  for (const char* answer : {"600", "10", "0.002"}) Backend().QueueInput(answer);
  Backend().QueueSaveFile(DataDir() + "/anything.ra0");
  Dispatch(kCmGenerateSingle);
  ASSERT_EQ(DataSet().nScans, 10);
  EXPECT_EQ(DataSet().szDataDirectory, DataDir());
  EXPECT_EQ(DataSet().pnPoints[1], 120);  // 6.00 .. 7.19: the single-precision sums pass 7.2
  EXPECT_NEAR(DataSet().pScanInfo[10].time, 6000.0, 1e-9);
  const std::vector<std::string> files = FilesIn(DataDir());
  ASSERT_EQ(files.size(), 10u);
  // The data are the model plus the noise asked for.
  EXPECT_NEAR(FitRmsd(false), 0.002, 0.0003);
  // Plateau of the first scan (600 s) at 6.6 cm: radial dilution c0 exp(-2 s w^2 t).
  const double w = 50000.0 * M_PI / 30.0;
  EXPECT_NEAR(DataSet().ppFit[1][61], kSyntheticLoading * std::exp(-2.0 * kSyntheticS * 1e-13 * w * w * 600.0),
              0.005);
  EXPECT_NEAR(DataSet().ppRadius[1][61], 6.6, 1e-4);
  EXPECT_NEAR(DataSet().ppRadius[1][120], 6.0 + 119 * 0.01, 1e-5);  // m + (i - 1) dr, no drift

  // Loaded as data and fitted.
  LoadThroughDialog(files);
  ASSERT_EQ(DataSet().nScans, 10);
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(1.1 * kSyntheticS), true);
  PressKeyAndRun('F', MK_CONTROL);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], kSyntheticS, 0.01 * kSyntheticS);
}

// Zone centrifugation: Generate Single asks which way round the band lies once the
// settings are complete, before anything is computed, and the data follow the
// answer: the loaded lamella at the meniscus holds the sample, the inverted one
// holds buffer over sample, so near the meniscus the first scan is high in the one
// and low in the other.
TEST_F(DataSetToolsTest, GenerateSingleAsksTheBandOrientationAndTheDataFollowIt) {
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  fs::create_directories(DataDir());
  ModelFlags().bZoneCentrifugation = true;
  ModelOptions().fLamellaWidth = 0.1f;
  float nearMeniscus[2] = {0.0f, 0.0f}, farInside[2] = {0.0f, 0.0f};
  for (int inverted = 0; inverted <= 1; ++inverted) {
    Backend().ClearTranscript();
    QueueGenerate("60", "1", "0", DataDir());
    // The second round replaces the set of the first, after the question.
    if (inverted) Backend().QueueMessageBox(IDYES, "REPLACE FILES?");
    Backend().QueueMessageBox(inverted ? IDYES : IDNO, "");
    Dispatch(kCmGenerateSingle);
    ASSERT_EQ(DataSet().nScans, 1);
    std::vector<std::string> asked{"simulate with rotor acceleration phase?"};
    if (inverted) asked.push_back(ReplaceQuestionText(DataDir() + "/00001.ra0", 1));
    asked.push_back(kInvertBandQuestion);
    EXPECT_EQ(BoxTexts(), asked);
    nearMeniscus[inverted] = DataSet().ppFit[1][3];   // 6.02 cm, inside the lamella
    farInside[inverted] = DataSet().ppFit[1][61];     // 6.6 cm
  }
  EXPECT_GT(nearMeniscus[0], farInside[0]);
  EXPECT_LT(nearMeniscus[1], farInside[1]);
  // The generator itself asks nothing: the answer comes in its settings.
  Backend().ClearTranscript();
  ASSERT_EQ(GenerateSyntheticData(&Handle(), {.interval = 60.0f, .scans = 1, .outputPath = DataDir() + "/anything.ra0",
                                              .invertBand = true}),
            SyntheticOutcome::Generated);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_TRUE(ModelOptions().bZoneInverseLayer);
  ModelFlags().bZoneCentrifugation = false;
}

// A continuous model: Generate Single says where the distribution goes and asks
// whether it is normalized before anything is computed; the answer reaches the
// loader, and the set is made from that distribution. A set that cannot be written
// gives back the distribution on show with its computed model.
TEST_F(DataSetToolsTest, GenerateSingleOfADistributionAsksItsQuestionsFirst) {
  LoadSyntheticRun();
  ChooseSmallCs();
  fs::create_directories(DataDir());
  {
    std::ofstream distribution(szDistribFile);
    for (int i = 0; i <= 24; ++i) distribution << 0.5 * i << " " << (i == 8 ? 1.0 : 0.0) << "\n";
  }
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const std::vector<float> shown(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1);
  const std::vector<float> grid(DistributionVectors().pDistGrid + 1, DistributionVectors().pDistGrid + DistributionVectors().nDistGrid + 1);
  DataSetHooks& hooks = GetDataSetHooks();
  const auto reapply = hooks.reapplyNonlinearDetection;
  hooks.reapplyNonlinearDetection = [&](bool rebuildGrid) {
    fs::create_directories(DataDir() + "/00001.ra0");  // the place of the only scan
    if (reapply) reapply(rebuildGrid);
  };
  QueueGenerate("60", "1", "0", DataDir());
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Backend().QueueMessageBox(IDYES, "ATTENTION");
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmGenerateSingle);
  hooks.reapplyNonlinearDetection = reapply;
  fs::remove(DataDir() + "/00001.ra0");
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(std::vector<float>(DistributionVectors().pDistGrid + 1, DistributionVectors().pDistGrid + DistributionVectors().nDistGrid + 1), grid);
  EXPECT_EQ(std::vector<float>(DistributionVectors().pDistValues + 1, DistributionVectors().pDistValues + DistributionVectors().nDistGrid + 1), shown);
  EXPECT_NE(DistributionPlot().pDistPlot, nullptr);

  DistributionFile().bNormalizeLoadedDistribution = true;
  Backend().ClearTranscript();
  QueueGenerate("60", "1", "0", DataDir());
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Backend().QueueMessageBox(IDNO, "ATTENTION");
  Dispatch(kCmGenerateSingle);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"simulate with rotor acceleration phase?",
                                                   "put synthetic distribution in " + szDistribFile,
                                                   kDistributionNormalizedQuestion}));
  EXPECT_FALSE(DistributionFile().bNormalizeLoadedDistribution);
  ASSERT_EQ(DataSet().nScans, 1);
  // The species of the distribution is in the generated signal.
  EXPECT_GT(*std::max_element(DataSet().ppFit[1] + 1, DataSet().ppFit[1] + DataSet().pnPoints[1] + 1), 0.5f);
  fs::remove(szDistribFile);
}

// Generate Single whose files cannot all take their place changes nothing: the
// loaded set, its directory and the files already in the output directory stay,
// and the refusal names the file. With the obstacle gone the whole set is written.
TEST_F(DataSetToolsTest, GenerateSingleThatCannotWriteKeepsTheLoadedSet) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  struct Scan {
    std::string name;
    std::vector<float> r, y, fit;
    double time;
    bool operator==(const Scan&) const = default;
  };
  auto loaded = [] {
    std::vector<Scan> scans;
    for (int s = 1; s <= DataSet().nScans; ++s) {
      const int n = DataSet().pnPoints[s];
      scans.push_back({DataSet().ppScanFileNames[s], std::vector<float>(DataSet().ppRadius[s] + 1, DataSet().ppRadius[s] + n + 1),
                       std::vector<float>(DataSet().ppSignal[s] + 1, DataSet().ppSignal[s] + n + 1),
                       std::vector<float>(DataSet().ppFit[s] + 1, DataSet().ppFit[s] + n + 1), DataSet().pScanInfo[s].time});
    }
    return scans;
  };
  std::vector<Scan> before = loaded();
  const std::string dataDir = DataSet().szDataDirectory;
  const std::string out = ProgramDir() + "/generated";
  fs::create_directories(out + "/00003.ra0");  // a directory where scan 3 goes
  WriteFile(out + "/00001.ra0", "old\n");
  auto generate = [&](bool refused) {
    Backend().ClearTranscript();
    QueueGenerate("600", "10", "0.002", out);
    Backend().QueueMessageBox(IDYES, "REPLACE FILES?");  // the old 00001.ra0 may be replaced
    if (refused) Backend().QueueMessageBox(IDOK, "ERROR");
    Dispatch(kCmGenerateSingle);
  };
  // The box after the question whether the old file may be replaced.
  auto refusal = [&] {
    std::string text;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "MessageBox" && e.caption == "ERROR") text = e.text;
    return text;
  };
  generate(true);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(refusal(), "could not write:\n" + out + "/00003.ra0: is a directory\nthe loaded data are kept");
  EXPECT_TRUE(loaded() == before);
  EXPECT_EQ(DataSet().szDataDirectory, dataDir);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{out + "/00001.ra0"})) << "no temporary is left";

  // A disk that cannot take the set (a child whose files may not grow beyond
  // 1000 bytes): the room is found missing before the loaded set is given up.
  fs::remove(out + "/00003.ra0");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {1000, 1000};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    generate(true);
    const std::string text = refusal();
    const bool kept = loaded() == before && DataSet().szDataDirectory == dataDir &&
                      text.rfind("could not write:\n" + out + "/00001.ra0: " + std::strerror(EFBIG), 0) == 0;
    ::_exit(kept ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) != 3) EXPECT_EQ(WEXITSTATUS(status), 1) << "the set was given up for a full disk";
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{out + "/00001.ra0"})) << "no temporary is left";

  // A write that fails after the room was reserved and the new set computed: the
  // place of scan 2 is taken by a directory while the common grid of the new set
  // is built (the last step before the files are written). The loaded set with
  // its computed model comes back as it was.
  ASSERT_TRUE(CalculateModel(nullptr).ok());
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  before = loaded();
  const std::vector<float> params(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
  const std::vector<float> grid(CurrentGrid().pGridRadius + 1, CurrentGrid().pGridRadius + CurrentGrid().nGridPoints + 1);
  const GridData gridObject = CurrentGrid();  // every member, whatever members it has
  const float left = DataSet().fFitLeftLim, right = DataSet().fFitRightLim;
  const std::string tmpPars = DataSet().szTmpParsPath;
  DataSetHooks& hooks = GetDataSetHooks();
  const auto reapply = hooks.reapplyNonlinearDetection;
  hooks.reapplyNonlinearDetection = [&](bool rebuildGrid) {
    fs::create_directories(out + "/00002.ra0");
    if (reapply) reapply(rebuildGrid);
  };
  generate(true);
  hooks.reapplyNonlinearDetection = reapply;
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::string text = refusal();
  EXPECT_EQ(text.rfind("could not write:\n" + out + "/00002.ra0", 0), 0u) << text;
  EXPECT_TRUE(loaded() == before) << "names, radii, signals, fits or times changed";
  EXPECT_EQ(std::vector<float>(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams)), params);
  EXPECT_EQ(std::vector<float>(CurrentGrid().pGridRadius + 1, CurrentGrid().pGridRadius + CurrentGrid().nGridPoints + 1), grid);
  EXPECT_TRUE(CurrentGrid() == gridObject) << "the common grid is not the one set aside";
  EXPECT_TRUE(DataSet().szDataDirectory == dataDir && DataSet().szTmpParsPath == tmpPars && DataSet().fFitLeftLim == left &&
              DataSet().fFitRightLim == right && AnalysisSwitches().bModelComputed && !AnalysisSwitches().bSimulating);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{out + "/00001.ra0"})) << "no temporary is left";
  EXPECT_EQ(ReadFile(out + "/00001.ra0"), "old\n") << "a file was replaced";
  fs::remove(out + "/00002.ra0");

  generate(false);
  ASSERT_EQ(DataSet().nScans, 10);
  EXPECT_EQ(DataSet().szDataDirectory, out);
  EXPECT_EQ(FilesIn(out).size(), 10u);
  EXPECT_NE(ReadFile(out + "/00001.ra0"), "old\n");
}

// Generate left early keeps the loaded set whole: by an exception between setting
// the loaded set aside and putting it back (a bad_alloc from the hook that the
// common grid of the new set runs), and by a model whose Lamm solution is refused
// (a floating species of -5 S and D 1e-10 cm^2/s at the closed meniscus, ten scans
// at 50,000 rpm), which generates nothing and says so.
TEST_F(DataSetToolsTest, GenerateLeftEarlyKeepsTheLoadedSet) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  ASSERT_TRUE(CalculateModel(nullptr).ok());
  auto loaded = [] {
    std::vector<std::vector<float>> rows;
    for (int j = 1; j <= DataSet().nScans; ++j) {
      rows.emplace_back(DataSet().ppRadius[j] + 1, DataSet().ppRadius[j] + DataSet().pnPoints[j] + 1);
      rows.emplace_back(DataSet().ppSignal[j] + 1, DataSet().ppSignal[j] + DataSet().pnPoints[j] + 1);
      rows.emplace_back(DataSet().ppFit[j] + 1, DataSet().ppFit[j] + DataSet().pnPoints[j] + 1);
      rows.push_back({static_cast<float>(DataSet().pScanInfo[j].time)});
    }
    return rows;
  };
  const auto before = loaded();
  const GridData grid = CurrentGrid();
  const std::string dataDir = DataSet().szDataDirectory;
  const std::string out = ProgramDir() + "/generated";
  fs::create_directories(out);
  const SyntheticDataSettings settings{
      .interval = 300.0f, .scans = 10, .outputPath = out + "/x.ra0"};

  DataSetHooks& hooks = GetDataSetHooks();
  const auto reapply = hooks.reapplyNonlinearDetection;
  hooks.reapplyNonlinearDetection = [](bool) { throw std::bad_alloc(); };
  EXPECT_THROW(GenerateSyntheticData(nullptr, settings), std::bad_alloc);
  hooks.reapplyNonlinearDetection = reapply;
  EXPECT_TRUE(loaded() == before) << "the loaded set did not come back";
  EXPECT_TRUE(CurrentGrid() == grid);
  EXPECT_EQ(DataSet().szDataDirectory, dataDir);
  EXPECT_TRUE(FilesIn(out).empty());

  ModelParams().pSpeciesS[1] = -5.0f;
  ModelParams().pSpeciesMassOrD[1] = 1e-3f;  // 1e-7 cm^2/s
  PackModelParams();
  Backend().ClearTranscript();
  Backend().AnswerUnscriptedBoxes(IDOK);
  const SyntheticResult refused = GenerateSyntheticData(nullptr, settings);
  EXPECT_EQ(refused.outcome, SyntheticOutcome::NotComputed);
  EXPECT_NE(refused.message.find("the loaded data are kept"), std::string::npos);
  bool named = false;
  for (const TranscriptEntry& e : Backend().Transcript())
    named = named || e.text.find("meniscus") != std::string::npos;
  EXPECT_TRUE(named) << "the refusal of the solution was not shown";
  EXPECT_TRUE(loaded() == before);
  EXPECT_EQ(DataSet().szDataDirectory, dataDir);
  EXPECT_TRUE(FilesIn(out).empty());
}

// Generate says "generated" only for a set that the scan reader takes back: one
// whose values lie beyond what a detector gives (noise of 1e11), or one made from a
// distribution file that holds "nan", is not generated. Nothing is written, the
// loaded set stays, and the box says why (the file and the reader's reason, or the
// distribution's refusal).
TEST_F(DataSetToolsTest, GenerateSaysGeneratedOnlyForFilesTheReaderTakes) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  const std::vector<std::string> names(DataSet().ppScanFileNames.begin(), DataSet().ppScanFileNames.begin() + DataSet().nScans + 1);
  const std::vector<float> first(DataSet().ppSignal[1] + 1, DataSet().ppSignal[1] + DataSet().pnPoints[1] + 1);
  const std::string dataDir = DataSet().szDataDirectory;
  const std::string out = ProgramDir() + "/generated";
  fs::create_directories(out);
  auto kept = [&] {
    return DataSet().nScans == kSyntheticScans && DataSet().szDataDirectory == dataDir &&
           std::vector<std::string>(DataSet().ppScanFileNames.begin(), DataSet().ppScanFileNames.begin() + DataSet().nScans + 1) == names &&
           std::vector<float>(DataSet().ppSignal[1] + 1, DataSet().ppSignal[1] + DataSet().pnPoints[1] + 1) == first;
  };
  Backend().AnswerUnscriptedBoxes(IDOK);
  SyntheticDataSettings settings{.noise = 1e11f, .interval = 300.0f, .scans = 2, .outputPath = out + "/x.ra0"};
  const SyntheticResult loud = GenerateSyntheticData(&Handle(), settings);
  EXPECT_EQ(loud.outcome, SyntheticOutcome::NotReadable);
  EXPECT_EQ(loud.message.rfind("no data were generated: a scan file of the set would not load again\n" + out +
                                   "/00001.ra0: line ",
                               0),
            0u)
      << loud.message;
  EXPECT_NE(loud.message.find("outside the signals of a detector"), std::string::npos) << loud.message;
  EXPECT_NE(loud.message.find("the loaded data are kept"), std::string::npos);
  EXPECT_TRUE(kept());
  EXPECT_TRUE(FilesIn(out).empty()) << "a file or a temporary was left";

  // A distribution of the c(s) model with a value that is no number.
  ChooseSmallCs();
  {
    std::ofstream distribution(szDistribFile);
    for (int i = 0; i <= 24; ++i) distribution << 0.5 * i << " " << (i == 10 ? "nan" : i == 8 ? "1.0" : "0.0") << "\n";
  }
  settings.noise = 0.0f;
  settings.distributionNormalized = false;
  const SyntheticResult fromNan = GenerateSyntheticData(&Handle(), settings);
  fs::remove(szDistribFile);
  EXPECT_NE(fromNan.outcome, SyntheticOutcome::Generated);
  EXPECT_EQ(fromNan.message.rfind("no data were generated: ", 0), 0u) << fromNan.message;
  EXPECT_NE(fromNan.message.find("the loaded data are kept"), std::string::npos);
  EXPECT_TRUE(kept());
  EXPECT_TRUE(FilesIn(out).empty()) << "a file or a temporary was left";
}

// A key that stops Generate Single in its model computation: the box says that it
// was stopped (not that the model could not be computed), the loaded set stays, no
// file is written, and the stop is cleared: the next Run computes the model.
TEST_F(DataSetToolsTest, GenerateStoppedByAKeySaysSoAndClearsTheStop) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  const std::vector<float> first(DataSet().ppSignal[1] + 1, DataSet().ppSignal[1] + DataSet().pnPoints[1] + 1);
  const std::string dataDir = DataSet().szDataDirectory;
  const std::string out = ProgramDir() + "/generated";
  fs::create_directories(out);
  int keys = 0;
  Backend().SetPumpHook([this, &keys] {
    if (AnalysisSwitches().bSimulating && keys == 0) {
      ++keys;
      Backend().Headless().PressKey('S');
    }
  });
  QueueGenerate("600", "10", "0.002", out);
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmGenerateSingle);
  Backend().SetPumpHook(nullptr);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(keys, 1);
  EXPECT_EQ(BoxText("ERROR"),
            "user interrupt\nno data were generated: the computation was stopped\nthe loaded data are kept");
  EXPECT_FALSE(bUserAbort) << "the stop would end the next computation";
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_EQ(DataSet().szDataDirectory, dataDir);
  EXPECT_EQ(std::vector<float>(DataSet().ppSignal[1] + 1, DataSet().ppSignal[1] + DataSet().pnPoints[1] + 1), first);
  EXPECT_TRUE(FilesIn(out).empty());

  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_TRUE(BoxTexts().empty()) << BoxTexts().front();

  // The same for a set made from a distribution, stopped in its kernels: one note,
  // Generate's own.
  ChooseSmallCs();
  {
    std::ofstream distribution(szDistribFile);
    for (int i = 0; i <= 24; ++i) distribution << 0.5 * i << " " << (i == 8 ? 1.0 : 0.0) << "\n";
  }
  keys = 0;
  Backend().SetPumpHook([this, &keys] {
    if (KernelProfiles().bSyntheticFromDistribution && keys == 0) {
      ++keys;
      Backend().Headless().PressKey('S');
    }
  });
  Backend().ClearTranscript();
  Backend().AnswerUnscriptedBoxes(IDOK);
  const SyntheticResult stopped = GenerateSyntheticData(
      &Handle(), {.interval = 600.0f, .scans = 4, .outputPath = out + "/x.ra0", .distributionNormalized = false});
  Backend().SetPumpHook(nullptr);
  fs::remove(szDistribFile);
  EXPECT_EQ(keys, 1);
  EXPECT_EQ(stopped.outcome, SyntheticOutcome::Stopped);
  EXPECT_EQ(stopped.message.rfind("user interrupt\nno data were generated: the computation was stopped", 0), 0u)
      << stopped.message;
  for (const std::string& text : BoxTexts()) EXPECT_EQ(text.find("user interrupt"), std::string::npos) << text;
  EXPECT_FALSE(bUserAbort);
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_TRUE(FilesIn(out).empty());
}

// Generate names the setting it refuses, before anything changes: a point spacing
// of 1e-9 cm is the radial step at fault (not the cell), as is a spacing wider than
// the cell; so are too many scans, a negative interval, a rotor speed beyond any
// rotor, scans beyond the longest run, and a meniscus beyond the bottom, which
// Generate Single says before it asks where to write. A model whose computation
// does not start says why.
TEST_F(DataSetToolsTest, GenerateNamesTheSettingItRefuses) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  const std::string out = ProgramDir() + "/generated";
  fs::create_directories(out);
  const SyntheticDataSettings usable{.dr = 0.01f, .rpm = 50000.0f, .interval = 300.0f, .scans = 10,
                                     .outputPath = out + "/x.ra0"};
  ASSERT_EQ(SyntheticSettingsRefusal(usable), "");
  const struct {
    const char* name;
    void (*change)(SyntheticDataSettings&);
    const char* cause;
  } cases[] = {
      {"dr 1e-9", [](SyntheticDataSettings& s) { s.dr = 1e-9f; },
       "the point spacing dr 1e-09 cm is finer than 0.0001 cm, the step in which scan files hold radii"},
      {"dr 0", [](SyntheticDataSettings& s) { s.dr = 0.0f; }, "the point spacing dr 0 cm must be above 0"},
      {"dr 2", [](SyntheticDataSettings& s) { s.dr = 2.0f; },
       "the point spacing dr 2 cm leaves fewer than two points from the meniscus 6 cm to the bottom 7.2 cm"},
      {"scans", [](SyntheticDataSettings& s) { s.scans = 5000; },
       "the number of scans 5000 must lie between 1 and 1000"},
      {"interval", [](SyntheticDataSettings& s) { s.interval = -1.0f; },
       "the time interval of the scans -1 s must not be negative"},
      {"rpm", [](SyntheticDataSettings& s) { s.rpm = 2e5f; }, "the rotor speed 200000 rpm is outside"},
      {"run time", [](SyntheticDataSettings& s) {
         s.interval = 2e5f;
         s.scans = 1000;
       },
       "the scans would reach beyond 1e+08 s, the longest time of a run"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticDataSettings s = usable;
    c.change(s);
    const SyntheticResult refused = GenerateSyntheticData(&Handle(), s);
    EXPECT_EQ(refused.outcome, SyntheticOutcome::Refused);
    EXPECT_EQ(refused.message.rfind(c.cause, 0), 0u) << refused.message;
    EXPECT_EQ(refused.message.find("Meniscus and Bottom"), std::string::npos);
    EXPECT_EQ(DataSet().nScans, kSyntheticScans);
    EXPECT_TRUE(FilesIn(out).empty());
  }

  // Generate Single with the cell the wrong way round: no file dialog.
  DataSet().fMeniscus = 7.3f;
  Backend().ClearTranscript();
  for (const char* answer : {"0.01", "50000"}) Backend().QueueInput(answer);
  Backend().QueueMessageBox(IDNO, "GENERATE DATA");
  for (const char* answer : {"300", "10", "0"}) Backend().QueueInput(answer);
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmGenerateSingle);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxText("ERROR"), "the meniscus 7.3 cm must lie below the bottom 7.2 cm");
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  SetCellAndLimits();

  // A model the computation refuses to start says why, not only that it was not
  // computed: a step control of 0 would never end a Lamm solution.
  const double maxDcOverC = LammSettings().dMaxDcOverC;
  LammSettings().dMaxDcOverC = 0.0;
  const SyntheticResult notStarted = GenerateSyntheticData(&Handle(), usable);
  LammSettings().dMaxDcOverC = maxDcOverC;
  EXPECT_EQ(notStarted.outcome, SyntheticOutcome::NotComputed);
  EXPECT_EQ(notStarted.message.rfind("no data were generated: Numerical Control of Lamm Equation Solution: the max "
                                     "dc/c 0 must lie between",
                                     0),
            0u)
      << notStarted.message;
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_TRUE(FilesIn(out).empty());
}

// Generating data while the amplitudes are solved linearly: the data are the model
// of the given loading (the linear step would fit it to data not yet made); the
// linear step is off afterwards, the amplitude stays fitted, and the parameters
// bring the linear step back.
TEST_F(DataSetToolsTest, GeneratedDataCarryTheGivenLoadingWithLinearAmplitudes) {
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  ModelParams().pSpeciesAmplitudeFit[1] = 1;
  UpdateLinearFitFlags();
  ASSERT_TRUE(ModelParams().bLinearAmplitudes);
  fs::create_directories(DataDir());
  QueueGenerate("600", "4", "0", DataDir());
  Dispatch(kCmGenerateSingle);
  ASSERT_EQ(DataSet().nScans, 4);
  EXPECT_FALSE(ModelParams().bLinearAmplitudes);
  EXPECT_EQ(ModelParams().pSpeciesAmplitudeFit[1], 1);
  UpdateLinearFitFlags();
  EXPECT_TRUE(ModelParams().bLinearAmplitudes);
  // Plateaus of scans 1 and 4 at 6.6 cm: c0 exp(-2 s w^2 t) with the given loading.
  const double w = 50000.0 * M_PI / 30.0;
  for (int j : {1, 4})
    EXPECT_NEAR(DataSet().ppSignal[Idx(j)][61], kSyntheticLoading * std::exp(-2.0 * kSyntheticS * 1e-13 * w * w * 600.0 * j), 0.005);
}

// A data set with a constant offset: the loader's baseline option reaches the
// parameter vector, so the model command and the parameter dialog keep it and the
// c(s) fit takes the offset as the baseline; the distribution stays that of the
// data without offset.
TEST_F(DataSetToolsTest, LoadedOffsetIsFittedAsBaseline) {
  LoadThroughDialog(WriteRunWithOffset(0.05f));
  ASSERT_EQ(DataSet().nScans, kSyntheticScans);
  SetCellAndLimits();
  ChooseSmallCs();
  EXPECT_EQ(AnalysisSwitches().bBaselineOption, 1);
  Backend().QueueDialog(IDOK);
  Dispatch(kCmParameters);
  EXPECT_TRUE(ModelParams().bVaryBaseline);
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(ModelParams().fBaseline, 0.05, 0.005);
  float area = 0, mean = 0, total = 0;
  IntegrateDistribution(2.0f, 9.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(mean, kSyntheticS, 0.02 * kSyntheticS);
}

// Fits, residuals and parameters are one set: with one residual target that cannot
// be written (a folder in its place) no fit is replaced, the old residuals stay
// and neither parameter file is written; the boxes name the failure and the files
// left as they were. Once the target is free, the whole set is written.
TEST_F(DataSetToolsTest, SaveFitDataReplacesFitsResidualsAndParametersTogether) {
  fs::create_directories(DataDir());
  LoadThroughDialog(WriteSyntheticRun(DataDir()));
  SetCellAndLimits();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  std::vector<std::string> fits, residuals;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    fits.push_back(DataDir() + "/f" + DataSet().ppScanFileNames[Idx(s)].substr(1));
    residuals.push_back(DataDir() + "/r" + DataSet().ppScanFileNames[Idx(s)].substr(1));
    WriteFile(fits.back(), "old fit");
    if (s > 1) WriteFile(residuals.back(), "old residuals");
  }
  fs::create_directories(residuals.front());  // scan 1's residuals cannot be written
  const std::string report = DataDir() + "/params.txt";
  fs::remove(DataSet().szTmpParsPath);

  // The three files are named first, then the set is asked about once.
  Backend().QueueSaveFile(DataDir() + "/f0000x.ra1");
  Backend().QueueSaveFile(DataDir() + "/r0000x.ra1");
  Backend().QueueSaveFile(report);
  Backend().QueueMessageBox(IDYES, "REPLACE FILES?");  // Overwrite all?
  Backend().AnswerUnscriptedBoxes(IDOK);      // the writer's and the saver's failure
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(Shown("SaveFile"), 3);
  for (std::size_t k = 0; k < fits.size(); ++k) EXPECT_EQ(ReadFile(fits[k]), "old fit");
  for (std::size_t k = 1; k < residuals.size(); ++k) EXPECT_EQ(ReadFile(residuals[k]), "old residuals");
  EXPECT_FALSE(fs::exists(report));
  EXPECT_FALSE(fs::exists(DataSet().szTmpParsPath));
  const std::string last = Backend().Transcript().back().text;
  EXPECT_EQ(last.rfind("not replaced either:", 0), 0u) << last;
  EXPECT_NE(last.find(fits.front()), std::string::npos);
  std::size_t temporaries = 0;
  for (const std::string& f : FilesIn(DataDir())) temporaries += f.find(".tmp") != std::string::npos;
  EXPECT_EQ(temporaries, 0u);
  // The command's outcome says so, whatever its boxes say.
  EXPECT_FALSE(LastSaveOutcome().saved);
  EXPECT_TRUE(LastSaveOutcome().written.empty());

  // The folder gone, the same answers write every file: fit + residuals = data.
  fs::remove_all(residuals.front());
  Backend().ClearTranscript();
  Backend().QueueSaveFile(DataDir() + "/f0000x.ra1");
  Backend().QueueSaveFile(DataDir() + "/r0000x.ra1");
  Backend().QueueSaveFile(report);
  Backend().QueueMessageBox(IDYES, "REPLACE FILES?");
  Dispatch(kCmSaveFitData);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_TRUE(fs::exists(report));
  EXPECT_TRUE(fs::exists(DataSet().szTmpParsPath));
  // The outcome names every file of the set, each written.
  EXPECT_TRUE(LastSaveOutcome().saved);
  EXPECT_EQ(LastSaveOutcome().written.size(), fits.size() + residuals.size() + 1);
  for (const std::string& f : LastSaveOutcome().written) EXPECT_TRUE(fs::is_regular_file(f)) << f;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const ScanRead f = ReadScan(fits[Idx(s - 1)]), r = ReadScan(residuals[Idx(s - 1)]);
    ASSERT_EQ(r.y.size(), f.y.size());
    for (std::size_t k = 0; k < f.y.size(); ++k)
      EXPECT_NEAR(f.y[k] + r.y[k], DataSet().ppSignal[Idx(s)][DataSet().pFitFirst[Idx(s)] + static_cast<int>(k)], 2e-5);
  }
}

int gKillAtStep = -1;
void KillAtStep(int step) {
  if (step == gKillAtStep) std::raise(SIGKILL);
}

// Save Fit Data and Save Noise, each ended by a kill at every step of replacing
// its set (killed between two renames, a set was left with the fit of one save
// and the residuals of another, or TIN of one and RIN of another). After the next
// load in the folder, every fit + residuals is the data and all fits come from one
// save; TIN and RIN come from one save.
TEST_F(DataSetToolsTest, SaveFitDataAndSaveNoiseEndedByAKillAreWholeAfterTheNextLoad) {
  fs::create_directories(DataDir());
  LoadThroughDialog(WriteSyntheticRun(DataDir()));
  SetCellAndLimits();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  const int n = DataSet().nScans;
  std::vector<std::vector<float>> data(Idx(n) + 1);
  for (int s = 1; s <= n; ++s) data[Idx(s)].assign(DataSet().ppSignal[Idx(s)], DataSet().ppSignal[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
  std::vector<std::string> names(Idx(n) + 1);
  std::vector<int> first(Idx(n) + 1);
  for (int s = 1; s <= n; ++s) {
    names[Idx(s)] = DataSet().ppScanFileNames[Idx(s)].substr(1);
    first[Idx(s)] = DataSet().pFitFirst[Idx(s)];
  }
  auto path = [&](char letter, int s) { return DataDir() + "/" + letter + names[Idx(s)]; };
  const std::string fit1 = path('f', 1);
  // Scans whose fit + residuals is not the data; fits that equal the first one
  // saved are counted in *old.
  std::vector<std::vector<float>> firstFits(Idx(n) + 1);
  auto mismatches = [&](int* old) {
    int bad = 0;
    *old = 0;
    for (int s = 1; s <= n; ++s) {
      const ScanRead f = ReadScan(path('f', s)), r = ReadScan(path('r', s));
      bool same = f.y.size() == r.y.size();
      for (std::size_t k = 0; same && k < f.y.size(); ++k)
        same = std::fabs(f.y[k] + r.y[k] - data[Idx(s)][Idx(first[Idx(s)]) + k]) < 2e-5f;
      bad += !same;
      *old += f.y == firstFits[Idx(s)];
    }
    return bad;
  };
  auto saveFit = [&] { SaveFitDataIntoTheRunsFolder(); };
  auto saveNoise = [&] { SaveNoiseIntoTheRunsFolder(); };
  std::string tiFirst, riFirst;
  // Each save differs everywhere from the one before: the model moved, the noise too.
  auto nextSave = [&] {
    for (int s = 1; s <= n; ++s) firstFits[Idx(s)] = ReadScan(path('f', s)).y;
    tiFirst = ReadFile(DataDir() + "/TIN.ra1");
    riFirst = ReadFile(DataDir() + "/RIN.ra1");
    for (int s = 1; s <= n; ++s)
      for (int p = 1; p <= DataSet().pnPoints[Idx(s)]; ++p) DataSet().ppFit[Idx(s)][p] += 0.01f;
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) CurrentGrid().pTINoise[g] += 0.01f;
    for (int k = 1; k <= n; ++k) CurrentGrid().pRINoise[k] += 0.01f;
  };
  saveFit();
  saveNoise();

  for (const bool noise : {false, true}) {
    int mixedBeforeLoad = 0, step = 0;
    // Every step up to the fourth rename, then every fifth (each save syncs its
    // files to the disk: a few are enough here, the set as such is tested with
    // numerics/atomic_file).
    for (;; step += step < 5 ? 1 : 5) {
      SCOPED_TRACE((noise ? "Save Noise killed at step " : "Save Fit Data killed at step ") +
                   std::to_string(step));
      nextSave();
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        gKillAtStep = step;
        SetSaveStepHookForTesting(KillAtStep);
        noise ? saveNoise() : saveFit();
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      const bool killed = WIFSIGNALED(status);
      int old = 0;
      if (noise) {
        mixedBeforeLoad += (ReadFile(DataDir() + "/TIN.ra1") == tiFirst) != (ReadFile(DataDir() + "/RIN.ra1") == riFirst);
      } else {
        mixedBeforeLoad += mismatches(&old) > 0 || (old != 0 && old != n);
      }
      // A load of the folder: here the parameters reloaded with the data; the
      // loaded scans themselves stay.
      EXPECT_EQ(RecoverInterruptedSavesOf({fit1}), "");
      if (noise) {
        EXPECT_EQ(ReadFile(DataDir() + "/TIN.ra1") == tiFirst, ReadFile(DataDir() + "/RIN.ra1") == riFirst);
      } else {
        EXPECT_EQ(mismatches(&old), 0);
        EXPECT_TRUE(old == 0 || old == n) << old << " of " << n << " fits are of the first save";
      }
      for (const std::string& f : FilesIn(DataDir()))
        EXPECT_EQ(fs::path(f).extension() == ".journal", false) << f;
      if (!killed) break;
    }
    EXPECT_GT(mixedBeforeLoad, noise ? 0 : 3) << "the kills left mixed sets before the load";
    EXPECT_GT(step, noise ? 4 : 2 * n + 4);
  }

  // Killed between the renames of the fits once more, the set is finished by
  // loading the fits themselves.
  nextSave();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    gKillAtStep = 2 + n / 2;
    SetSaveStepHookForTesting(KillAtStep);
    saveFit();
    ::_exit(0);
  }
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  std::vector<std::string> fits;
  for (int s = 1; s <= n; ++s) fits.push_back(path('f', s));
  LoadThroughDialog(fits);
  ASSERT_EQ(DataSet().nScans, n);
  int old = 0;
  EXPECT_EQ(mismatches(&old), 0);
  EXPECT_EQ(old, 0);
}

// Saved by "Update Saved Fit Parameters" and dropped back unchanged, a c(s)
// analysis of data with an offset computes the same distribution: with the
// loader's baseline option not yet in effect (no baseline fitted) and with the
// baseline fitted through the Parameters dialog.
TEST_F(DataSetToolsTest, DroppedBackParameterFileComputesTheSameDistribution) {
  LoadThroughDialog(WriteRunWithOffset(-0.05f));
  SetCellAndLimits();
  ChooseSmallCs();
  Backend().AnswerUnscriptedBoxes(IDYES);  // the switch question, the note on the old plot
  for (const bool throughDialog : {false, true}) {
    SCOPED_TRACE(throughDialog ? "baseline fitted" : "option pending");
    if (throughDialog) {
      Backend().QueueDialog(IDOK);
      Dispatch(kCmParameters);
    }
    Dispatch(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    float area = 0, mean = 0, before = 0, after = 0;
    IntegrateDistribution(0.0f, 12.0f, &area, &mean, &before, nullptr, nullptr, nullptr);
    const bool fitted = ModelParams().bVaryBaseline;
    EXPECT_EQ(fitted, throughDialog);
    Dispatch(kCmUpdateSavedFitParameters);
    Drop({DataSet().szTmpParsPath});
    EXPECT_EQ(ModelParams().bVaryBaseline, fitted);
    Dispatch(kCmRun);
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    IntegrateDistribution(0.0f, 12.0f, &area, &mean, &after, nullptr, nullptr, nullptr);
    EXPECT_NEAR(after, before, 1e-4 * std::fabs(before));
  }
}

// After a c(s) run with TI and RI noise: saved fit + saved residuals = data; the
// saved TI and RI noise subtracted from the raw data equal the in-memory
// subtraction; the restore puts the TI part back; every file written beside the
// scans is left out when the whole folder is selected again, and the fitted files
// alone load as data.
TEST_F(DataSetToolsTest, SavedFitResidualsAndNoiseMatchTheDataAndTheSubtraction) {
  fs::create_directories(DataDir());
  LoadThroughDialog(WriteSyntheticRun(DataDir()));
  SetCellAndLimits();
  ChooseSmallCs();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  ModelParams().bVaryBaseline = true;
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  std::vector<std::vector<float>> raw(Idx(DataSet().nScans) + 1);
  for (int s = 1; s <= DataSet().nScans; ++s) raw[Idx(s)].assign(DataSet().ppSignal[Idx(s)], DataSet().ppSignal[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1);
  std::vector<float> fitRef(DataSet().ppFit[1], DataSet().ppFit[1] + DataSet().pnPoints[1] + 1);

  // Save Fit Data: fits, residuals, parameters.
  Backend().QueueSaveFile(DataDir() + "/f0000x.ra1");
  Backend().QueueSaveFile(DataDir() + "/r0000x.ra1");
  Backend().QueueSaveFile(DataDir() + "/params.txt");
  Dispatch(kCmSaveFitData);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::string name = DataSet().ppScanFileNames[Idx(s)].substr(1);
    const ScanRead f = ReadScan(DataDir() + "/f" + name), r = ReadScan(DataDir() + "/r" + name);
    ASSERT_EQ(f.r.size(), static_cast<std::size_t>(DataSet().pFitLast[Idx(s)] - DataSet().pFitFirst[Idx(s)] + 1));
    ASSERT_EQ(r.y.size(), f.y.size());
    for (std::size_t k = 0; k < f.y.size(); ++k)
      EXPECT_NEAR(f.y[k] + r.y[k], DataSet().ppSignal[Idx(s)][DataSet().pFitFirst[Idx(s)] + static_cast<int>(k)], 2e-5);
  }
  // A fit that cannot be written (its folder is missing) ends the command after the
  // writer's one box.
  Backend().ClearTranscript();
  Backend().QueueSaveFile(DataDir() + "/missing/f0000x.ra1");
  Backend().QueueSaveFile(std::nullopt);
  Backend().QueueSaveFile(std::nullopt);
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmSaveFitData);
  EXPECT_EQ(Captions(), std::vector<std::string>{"ERROR"});
  // Save Noise: TI profile as a scan, RI offsets against time.
  Backend().QueueSaveFile(DataDir() + "/TIN.ra1");
  Backend().QueueSaveFile(DataDir() + "/RIN.ra1");
  Dispatch(kCmSaveNoise);
  const ScanRead ti = ReadScan(DataDir() + "/TIN.ra1");
  CCurve ri;
  ASSERT_TRUE(ri.ReadFromFile((DataDir() + "/RIN.ra1").c_str(), 1, 2));
  ASSERT_EQ(ri.Count(), DataSet().nScans);
  std::map<long, float> riByTime;
  for (int k = 0; k < ri.Count(); ++k) riByTime[std::lround(ri.X()->Get(k))] = ri.Y()->Get(k);
  // The two noise files are one set: when the RI file cannot be written (a
  // directory in its place), the TI file is not replaced either, and both are named.
  {
    const std::string tiBefore = ReadFile(DataDir() + "/TIN.ra1");
    const std::string blocked = DataDir() + "/RINdir.ra1";
    fs::create_directories(blocked);
    for (int k = 1; k <= DataSet().nScans; ++k) CurrentGrid().pRINoise[k] += 0.5f;
    CurrentGrid().pTINoise[CurrentGrid().iFitFirst] += 0.5f;
    Backend().ClearTranscript();
    Backend().QueueSaveFile(DataDir() + "/TIN.ra1");
    Backend().QueueMessageBox(IDYES, "REPLACE FILES?");  // overwrite?
    Backend().QueueSaveFile(blocked);  // a directory: not asked about as a file
    Backend().QueueMessageBox(IDOK, "Error");   // the writer: could not write
    Backend().QueueMessageBox(IDOK, "ERROR");   // the saver: could not write
    Backend().QueueMessageBox(IDOK, "ERROR");   // not replaced either
    Dispatch(kCmSaveNoise);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(Backend().Transcript().back().text, "not replaced either:\n" + DataDir() + "/TIN.ra1");
    // The saver names the system's reason.
    const auto& boxes = Backend().Transcript();
    EXPECT_EQ(boxes[boxes.size() - 2].text, "could not write:\n" + blocked + ": " + std::strerror(EISDIR));
    EXPECT_EQ(ReadFile(DataDir() + "/TIN.ra1"), tiBefore);
    for (int k = 1; k <= DataSet().nScans; ++k) CurrentGrid().pRINoise[k] -= 0.5f;
    CurrentGrid().pTINoise[CurrentGrid().iFitFirst] -= 0.5f;
    fs::remove_all(blocked);
  }

  // A saved distribution with the scans' extension, beside all the rest (saved while
  // the data it was computed for are loaded as they were).
  Backend().QueueSaveFile(DataDir() + "/distribution.ra1");
  Dispatch(kCmSaveContinuousDistribution);
  ASSERT_TRUE(fs::exists(DataDir() + "/distribution.ra1"));

  // Subtract All Systematic Noise (Ctrl+N): raw - TI(file) - RI(file) inside the fit range.
  Dispatch(kCmSubtractSystematicNoise);
  EXPECT_EQ(nZoomLevel, 1);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const float offset = riByTime.at(std::lround(DataSet().pScanInfo[Idx(s)].recordedTime));
    for (int p = DataSet().pFitFirst[Idx(s)]; p <= DataSet().pFitLast[Idx(s)]; ++p) {
      const float x = DataSet().ppRadius[Idx(s)][p];
      if (x < ti.r.front() || x > ti.r.back()) continue;
      EXPECT_NEAR(DataSet().ppSignal[Idx(s)][p], raw[Idx(s)][Idx(p)] - Interpolate(ti.r, ti.y, x) - offset, 2e-5);
    }
  }
  // Restore Original TI Noise: only the RI offsets stay subtracted; the model values
  // moved with the data.
  Dispatch(kCmRestoreTINoise);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const float offset = riByTime.at(std::lround(DataSet().pScanInfo[Idx(s)].recordedTime));
    for (int p = 1; p <= DataSet().pnPoints[Idx(s)]; ++p)
      EXPECT_NEAR(DataSet().ppSignal[Idx(s)][p], raw[Idx(s)][Idx(p)] - offset, 2e-5);
  }
  EXPECT_NEAR(DataSet().ppFit[1][20], fitRef[20] - riByTime.at(std::lround(DataSet().pScanInfo[1].recordedTime)), 2e-5);

  Backend().ClearTranscript();
  std::vector<std::string> all;
  for (const std::string& f : FilesIn(DataDir()))
    if (ExtensionOf(f) == ".ra1") all.push_back(f);
  ASSERT_GE(all.size(), 2u * kSyntheticScans + 5u);
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  LoadThroughDialog(all);
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  for (int s = 1; s <= DataSet().nScans; ++s) EXPECT_EQ(DataSet().ppScanFileNames[Idx(s)][0], '0');
  const std::vector<std::string> texts = BoxTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("distribution.ra1 (saved distribution)"), std::string::npos);
  EXPECT_NE(texts[0].find("f0001.ra1 (fitted data)"), std::string::npos);

  // The fitted files alone are data.
  std::vector<std::string> fits;
  for (const std::string& f : all)
    if (FileNameOf(f)[0] == 'f') fits.push_back(f);
  Backend().ClearTranscript();
  LoadThroughDialog(fits);
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_TRUE(BoxTexts().empty());
}


// Generate Series over two speeds and two noise levels: four members xp1..xp4 in
// the nesting order speed, noise, each with its parameter files, its scans at its
// own speed and an experiment file; xp4 loaded through its experiment file and Run
// with the generating model leaves residuals at its noise level.
TEST_F(DataSetToolsTest, GenerateSeriesFollowsTheGrid) {
  SetCellAndLimits();
  Dispatch(kCmDiscreteSpecies);
  SetSpecies(static_cast<float>(kSyntheticS), false);
  fs::create_directories(DataDir());
  for (const char* grid : {"0.02", "40000 50000", "0 0.003", "6.0"}) Backend().QueueInput(grid);
  Backend().QueueMessageBox(IDNO, "GENERATE SERIES");  // no acceleration phase
  for (const char* answer : {"600", "4", "0"}) Backend().QueueInput(answer);
  Backend().QueueSaveFile(DataDir() + "/series");
  Dispatch(kCmGenerateSeries);
  ASSERT_TRUE(Backend().AllAnswersUsed());
  EXPECT_FALSE(SyntheticData().bGeneratingSeries);
  EXPECT_FALSE(fs::exists(DataDir() + "/xp5"));
  const float speeds[] = {40000, 40000, 50000, 50000};
  for (int k = 1; k <= 4; ++k) {
    const std::string dir = DataDir() + "/xp" + std::to_string(k);
    const float rpm = speeds[k - 1];
    EXPECT_EQ(ReadFile(dir + Format("/omega=%.0f_rpm.info", static_cast<double>(rpm))), "1");
    const ScanRead last = ReadScan(dir + "/00004.ra0");
    EXPECT_EQ(last.info.rpm, rpm);
    EXPECT_NEAR(last.info.time, 2400.0, 1e-3);
    EXPECT_TRUE(fs::exists(dir + "/xp" + std::to_string(k) + ".xp"));
  }

  LoadThroughDialog({DataDir() + "/xp4/xp4.xp"});
  ASSERT_EQ(DataSet().nScans, 4);
  EXPECT_EQ(DataSet().fMeniscus, 6.0f);
  EXPECT_NEAR(DataSet().fBottom, 7.2f, 1e-6);
  EXPECT_EQ(DataSet().szDataDirectory, DataDir() + "/xp4");
  Dispatch(kCmRun);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_NEAR(FitRmsd(false), 0.003, 0.0005);
}

}  // namespace
}  // namespace tarmic::testing
