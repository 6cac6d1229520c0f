// A selection of scans of several cells or wavelengths, loaded in the window: the
// load asks which cell at which wavelength (a list that names each with its number
// of scans), loads the one chosen, loads nothing on Cancel, and loads all of them as
// one set only after a warning. Load New Files, Add More Files into an empty window
// and dropped files ask alike; a selection of one cell asks nothing.
#include <filesystem>

#include "distribution_window_test_support.h"
#include "scandata/scan_cells.h"
#include "tests/support/relabel_scan.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

class LoadCellsTest : public DistributionWindowTest {
 protected:
  // The synthetic run as cell 1 (".ra1", 280 nm) and a copy of it as cell 2 (".ra2")
  // scanned at 280 and 230 nm (the 230 nm scans as "0002x.ra2").
  std::vector<std::string> WriteCells() {
    const std::string dir = ProgramDir() + "/cells";
    fs::create_directories(dir);
    std::vector<std::string> all = WriteSyntheticRun(dir);
    const std::size_t n = all.size();
    for (std::size_t k = 0; k < n; ++k) {
      const std::string stem = all[k].substr(0, all[k].size() - 4);
      RelabelScan(all[k], stem + ".ra2", 2, 280);
      all.push_back(stem + ".ra2");
    }
    for (std::size_t k = 0; k < 4; ++k) {
      const std::string name = dir + "/002" + std::to_string(k) + "0.ra2";
      RelabelScan(all[k], name, 2, 230);
      all.push_back(name);
    }
    std::sort(all.begin(), all.end());
    return all;
  }
  // The names of the dialogs shown.
  std::vector<std::string> DialogsShown() {
    std::vector<std::string> labels;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "Dialog") labels.push_back(e.text);
    return labels;
  }
};

TEST_F(LoadCellsTest, TheGroupsAreTheCellsAtTheirWavelengths) {
  const std::vector<std::string> files = WriteCells();
  const std::vector<ScanGroup> groups = GroupScansByCell(files);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(DescribeScanGroup(groups[0]), "cell 1, 280 nm, 10 scans");
  EXPECT_EQ(DescribeScanGroup(groups[1]), "cell 2, 230 nm, 4 scans");
  EXPECT_EQ(DescribeScanGroup(groups[2]), "cell 2, 280 nm, 10 scans");
  for (const ScanGroup& g : groups)
    for (const std::string& f : g.scans) EXPECT_EQ(CellOfScan(f).cell, g.cell) << f;
  // One cell alone is one group.
  EXPECT_EQ(GroupScansByCell(groups[2].scans).size(), 1u);
}

TEST_F(LoadCellsTest, EveryWindowLoadAsksWhichCellAndLoadsTheOneChosen) {
  const std::vector<std::string> files = WriteCells();
  // Cancel: nothing is loaded.
  Backend().QueueOpenFiles(files);
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmLoadNewFiles);
  EXPECT_EQ(DataSet().nScans, 0);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // The second group (cell 2 at 230 nm), through Load New Files and a drop.
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropped" : "Load New Files");
    Backend().ClearTranscript();
    if (drop) Backend().QueueMessageBox(IDYES, "LOAD DATA");
    if (!drop) Backend().QueueOpenFiles(files);
    TransferBuffer chosen;
    chosen.checked[101] = false;
    chosen.checked[102] = true;
    Backend().QueueDialog(IDOK, chosen);
    if (drop)
      Drop(files);
    else
      Dispatch(kCmLoadNewFiles);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    ASSERT_EQ(DataSet().nScans, 4);
    for (int s = 1; s <= 4; ++s)
      EXPECT_TRUE(fs::path(DataSet().ppScanFileNames[Idx(s)]).filename().string().starts_with("002"))
          << DataSet().ppScanFileNames[Idx(s)];
  }
  // Add More Files asks too; Cancel adds nothing.
  Backend().QueueOpenFiles(files);
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmAddMoreFiles);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(DataSet().nScans, 4);
}

TEST_F(LoadCellsTest, AllAsOneSetOnlyAfterAWarning) {
  const std::vector<std::string> files = WriteCells();
  TransferBuffer all;
  for (int id = 101; id <= 103; ++id) all.checked[id] = false;
  all.checked[104] = true;
  for (const int answer : {IDNO, IDYES}) {
    Backend().ClearTranscript();
    Backend().QueueOpenFiles(files);
    Backend().QueueDialog(IDOK, all);
    Backend().QueueMessageBox(answer, "WARNING");
    Dispatch(kCmLoadNewFiles);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    const std::string warning = BoxText("WARNING");
    EXPECT_NE(warning.find("cell 1, 280 nm, 10 scans, cell 2, 230 nm, 4 scans and cell 2, 280 nm, 10 scans"),
              std::string::npos) << warning;
    EXPECT_NE(warning.find("mixture"), std::string::npos) << warning;
    EXPECT_EQ(DataSet().nScans, answer == IDYES ? 24 : 0);
  }
  // One cell: no question.
  Backend().ClearTranscript();
  std::vector<std::string> cell1;
  for (const std::string& f : files)
    if (f.ends_with(".ra1")) cell1.push_back(f);
  Backend().QueueOpenFiles(cell1);
  Dispatch(kCmLoadNewFiles);
  EXPECT_EQ(DataSet().nScans, 10);
  EXPECT_EQ(DialogsShown(), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarmic::testing
