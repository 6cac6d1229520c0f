// The raw-data commands through the menu: a tool changes the loaded scans, the
// offered save writes every scan, cancelled dialogs leave the data set alone.
#include <filesystem>
#include <fstream>

#include "numerics/one_based.h"
#include "plot/data_plots.h"
#include "scandata/analysis_switches.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "tests/commands/commands_test_support.h"
#include "text/number_token.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class RawDataCommandTest : public CommandTest {};

TEST_F(RawDataCommandTest, InvertThenSaveWritesEveryScanAndTimeOffsetAsksFirst) {
  LoadVelocitySet();
  const std::string out = ProgramDir() + "/saved";
  std::filesystem::create_directories(out);
  // Invert Raw Data, "save new data?" yes, no speed names, the directory chosen.
  Backend().QueueMessageBox(IDYES);
  Backend().QueueMessageBox(IDNO);
  Backend().QueueSaveFile(out + "/x.rxx");
  Dispatch(kCmInvertRawData);
  for (int k = 1; k <= 3; ++k) {
    const std::vector<float> original = ReadScan(VelocitySet()[Idx(k - 1)]).y;
    const std::vector<float> saved = ReadScan(out + Format("/x%05d.ra1", k)).y;
    ASSERT_FALSE(original.empty());
    ASSERT_EQ(saved.size(), original.size()) << k;
    for (std::size_t i = 0; i < saved.size(); i += 10) EXPECT_FLOAT_EQ(saved[i], -original[i]);
  }

  // Time offset: the proposal for w^2t follows the first scan's speed; declining
  // to save keeps the change in memory only.
  const double recorded = DataSet().pScanInfo[1].recordedTime;
  Backend().QueueMessageBox(IDOK);
  Backend().QueueInput("100");
  Backend().QueueInput("5e6");
  Backend().QueueMessageBox(IDNO);
  Dispatch(kCmTimeOffset);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[1].recordedTime, recorded + 100.0);
  // A cancelled question changes nothing.
  Backend().QueueMessageBox(IDOK);
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmTimeOffset);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[1].recordedTime, recorded + 100.0);
}

// The writers never replace a file unasked: the command asks once ("Overwrite
// all?", caption "REPLACE FILES?") and writes only on Yes; a tool's refusal is shown once
// in the error box and leaves the scans.
TEST_F(RawDataCommandTest, CommandsAskBeforeOverwritingAndShowRefusalsOnce) {
  LoadVelocitySet();
  const std::string out = ProgramDir() + "/saved";
  std::filesystem::create_directories(out);
  std::ofstream(out + "/x00001.ra1") << "keep";
  for (int answer : {IDNO, IDYES}) {
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDNO);  // no speed names
    Backend().QueueSaveFile(out + "/x.rxx");
    Backend().QueueMessageBox(answer, "REPLACE FILES?");
    Dispatch(kCmSaveRawDataSet);
    EXPECT_EQ(Shown("MessageBox"), 2);
    EXPECT_EQ(ReadFile(out + "/x00001.ra1") == "keep", answer == IDNO);
    EXPECT_EQ(std::filesystem::exists(out + "/x00003.ra1"), answer == IDYES);
  }
  // Exclude a region that would leave too few points: one error box, scans kept.
  const int points = DataSet().pnPoints[1];
  Backend().ClearTranscript();
  Backend().QueueInput(Format("%.4f", DataSet().ppRadius[1][2]));
  Backend().QueueInput(Format("%.4f", DataSet().ppRadius[1][DataSet().pnPoints[1] - 1]));
  Backend().QueueMessageBox(IDOK, "Error");
  Dispatch(kCmExcludeRegion);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Error"});
  EXPECT_NE(BoxTexts()[0].find("nothing excluded"), std::string::npos);
  EXPECT_EQ(DataSet().pnPoints[1], points);
}

// The radii of a region of the data, typed outside the data (inside the cell and
// far beyond it): each command that asks for such a region refuses them with the
// radii of the data, not with the bounds of any length the program reads.
TEST_F(RawDataCommandTest, ARegionOfTheDataIsRefusedOutsideTheDataWithItsRadii) {
  LoadVelocitySet();
  const std::string first = RoundTripText(DataSet().ppRadius[1][1]), last = RoundTripText(DataSet().ppRadius[1][DataSet().pnPoints[1]]);
  for (const int command : {kCmExcludeRegion, kCmSaveSixChannelSubsets})
    for (const char* typed : {"3", "5000"}) {
      SCOPED_TRACE(::testing::Message() << command << " " << typed);
      Backend().ClearTranscript();
      Backend().QueueInput(typed);
      Backend().QueueMessageBox(IDOK);
      Backend().QueueInput(std::nullopt);
      Dispatch(command);
      ASSERT_EQ(BoxTexts().size(), 1u);
      EXPECT_NE(BoxTexts()[0].find("between " + first + " and " + last + " cm"), std::string::npos)
          << BoxTexts()[0];
      EXPECT_EQ(BoxTexts()[0].find("1e+06"), std::string::npos) << BoxTexts()[0];
      EXPECT_TRUE(Backend().AllAnswersUsed());
    }
}

// "Make direct boundary model from g(s*)": the command says why the model was not
// made (no cell geometry, a table of one row); nothing else is shown.
TEST_F(RawDataCommandTest, DirectBoundaryRefusalsAreShownByTheCommand) {
  LoadVelocitySet();
  const std::string table = ProgramDir() + "/gss.dat";
  const auto run = [&](int rows, const char* caption) {
    std::ofstream out(table);
    for (int i = 1; i <= rows; ++i) out << 0.5 * i << " 0.1 0 0 0 0\n";
    out.close();
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK);  // the instructions
    Backend().QueueOpenFiles({table});
    Backend().QueueMessageBox(IDOK, caption);
    Dispatch(kCmDirectBoundaryFromGss);
    return BoxTexts().back();
  };
  DataSet().fMeniscus = 0.0f;
  EXPECT_EQ(run(3, ""), "set Meniscus and Bottom first");
  DataSet().fMeniscus = 5.9f;
  DataSet().fBottom = 7.2f;
  EXPECT_EQ(run(1, "Error"), "the g(s*) table needs at least two rows");
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
}

// A file dialog that names no folder of its own (the g(s*) table here) opens in the
// folder of the loaded data, not in the program's working folder.
TEST_F(RawDataCommandTest, DialogsWithoutAFolderOpenInTheDataFolder) {
  LoadVelocitySet();
  const std::string dataFolder = std::filesystem::path(VelocitySet().front()).parent_path().string();
  ASSERT_NE(dataFolder, std::filesystem::current_path().string());
  Backend().QueueMessageBox(IDOK);  // the instructions
  Backend().QueueOpenFiles({});     // cancelled
  Dispatch(kCmDirectBoundaryFromGss);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(std::filesystem::path(Backend().LastDialogFolder()), std::filesystem::path(dataFolder));
}

TEST_F(RawDataCommandTest, AverageAndWorstScanReplaceTheSetOnlyWhenTheyCan) {
  LoadVelocitySet();
  // No worst scan known yet: a message, the set stays.
  DataPlots().nWorstScan = 0;
  Backend().QueueMessageBox(IDOK, "REMOVING SCAN");
  Dispatch(kCmExcludeWorstScan);
  EXPECT_EQ(DataSet().nScans, 3);
  // Average Scans cancelled: the set stays.
  Backend().QueueSaveFile(std::nullopt);
  Dispatch(kCmAverageScans);
  EXPECT_EQ(DataSet().nScans, 3);
  // Averaged into a file: that file is the new set, its one scan the mean.
  // The three scans share their radii: at a data radius the average is the mean.
  const float r20 = DataSet().ppRadius[1][20];
  const float meanAt20 = (DataSet().ppSignal[1][20] + DataSet().ppSignal[2][20] + DataSet().ppSignal[3][20]) / 3.0f;
  Backend().QueueSaveFile(ProgramDir() + "/average.ra1");
  Dispatch(kCmAverageScans);
  ASSERT_EQ(DataSet().nScans, 1);
  EXPECT_EQ(DataSet().ppScanFileNames[1], "average.ra1");
  int i = 1;
  while (i < DataSet().pnPoints[1] && DataSet().ppRadius[1][i] < r20 - 1e-4f) ++i;
  EXPECT_NEAR(DataSet().ppRadius[1][i], r20, 1e-4);
  EXPECT_NEAR(DataSet().ppSignal[1][i], meanAt20, 1e-4);

  // The worst scan of a residual pass is removed by a reload without it.
  LoadVelocitySet();
  DataPlots().nWorstScan = 2;
  Backend().QueueMessageBox(IDOK, "REMOVING SCAN");
  Dispatch(kCmExcludeWorstScan);
  EXPECT_EQ(BoxTexts().back(), "removing 00002.ra1");
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_NE(DataSet().ppScanFileNames[1], "00002.ra1");
  EXPECT_NE(DataSet().ppScanFileNames[2], "00002.ra1");
}

}  // namespace
}  // namespace tarmic::testing
