// The README's example recipe in the window and in tarmic-batch: the same numbers
// to the last digit the window prints, and the same files.
#include "batch_test_support.h"
#include "commands/distribution_peak_tools.h"
#include "scandata/text_io.h"
#include "tests/support/svg_document.h"
#include "tests/support/svg_text_layout.h"
#include "tests/commands/distribution_window_test_support.h"

namespace tarmic::testing {
namespace {

// The text after label in text up to the next blank, tab, line break or comma.
std::string WordAfter(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return "(no " + label + ")";
  const std::size_t start = at + label.size();
  return text.substr(start, text.find_first_of(" \t\n,)|", start) - start);
}

// The window as the program starts it: the settings of a first start (several
// threads, the time-stamp check, the residual table written).
class BatchAgainstWindowTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    bMultiThreading = true;
    TimeStamps().bCheckTimeStamps = true;
    DataPlots().bWriteScanRms = true;
  }

  // Save Fit Data into dir with the names the command proposes.
  void SaveFitDataInto(const std::string& dir) {
    batch_fs::create_directories(dir);
    for (const char* name : {"/f0000x.ra0", "/r0000x.ra0", "/fitparams.txt"}) Backend().QueueSaveFile(dir + name);
    Dispatch(kCmSaveFitData);
    EXPECT_TRUE(Backend().AllAnswersUsed());
  }
};

TEST_F(BatchAgainstWindowTest, TheRecipeGivesTheWindowsNumbersAndFiles) {
  const std::string root = ProgramDir();
  const std::string window = root + "/window", windowFit = root + "/window_fit", batch = root + "/batch",
                    batchFit = root + "/batch_fit";
  CopyExample(window);
  CopyExample(batch);

  // The window: the scans, cs.~p, Run, the saves, the peaks of "Show Peak Mw in c(s)"
  // with the box of each.
  LoadThroughDialog(ExampleScans(window));
  ASSERT_EQ(DataSet().nScans, 20);
  Backend().QueueMessageBox(IDYES, "");
  LoadThroughDialog({window + "/cs.~p"});
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  SaveFitDataInto(window);
  Backend().QueueSaveFile(window + "/distribution.dat");
  Dispatch(kCmSaveContinuousDistribution);
  const std::string csParameters = ReadWhole(window + "/~tmppars.ra0");
  Paint();
  Dispatch(kCmShowPeakMw);
  std::string windowPeaks;
  for (int k = 1; k <= nPeakLabels; ++k) {
    if (!pPeakLabels[k]) continue;
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "PEAK INFO");
    ShowPeakInfo(Win(), k);
    const std::string box = BoxText("PEAK INFO");
    windowPeaks += (windowPeaks.empty() ? "" : " ") + WordAfter(box, "sw = ") + ":" + WordAfter(box, "(c = ");
  }

  // Save Pictures: the pictures of the result on show.
  const std::string windowPictures = root + "/window_pictures";
  batch_fs::create_directories(windowPictures);
  Backend().QueueFolder(windowPictures);
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "PICTURES SAVED");
  Dispatch(kCmSavePictures);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  // The window says where the pictures went, each by name.
  const std::string saved = BoxText("PICTURES SAVED");
  EXPECT_NE(saved.find("6 pictures were saved in " + windowPictures + ":\npicture-data.svg\npicture-data.png\n"),
            std::string::npos)
      << saved;
  // Saved again: the question before the old pictures are replaced is a question.
  Backend().ClearTranscript();
  Backend().QueueFolder(windowPictures);
  Backend().QueueMessageBox(IDNO, "REPLACE FILES?");
  Dispatch(kCmSavePictures);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // The window: species.~p, Marquardt-Levenberg, Fit, Save Fit Data elsewhere.
  Backend().QueueMessageBox(IDYES, "");
  LoadThroughDialog({window + "/species.~p"});
  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmFitMarquardt);
  PressKeyAndRun('F', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  SaveFitDataInto(windowFit);

  // The batch: the same two analyses, the first beside the data, the second into a
  // folder of its own.
  std::vector<std::string> args = {"--parameters", batch + "/cs.~p"};
  for (const std::string& s : ExampleScans(batch)) args.push_back(s);
  const BatchOutput cs = RunBatchProgram(root, args, "cs");
  ASSERT_EQ(cs.code, 0) << cs.err;
  args = {"--parameters", batch + "/species.~p", "--fit", "--method", "marquardt", "--output", batchFit};
  for (const std::string& s : ExampleScans(batch)) args.push_back(s);
  const BatchOutput fit = RunBatchProgram(root, args, "fit");
  ASSERT_EQ(fit.code, 0) << fit.err;
  // The one question met: the analysis the first run saved is not taken; then the
  // seed drawn, which the summary names too.
  const std::map<std::string, std::string> f = SummaryColumns(fit.out);
  EXPECT_EQ(fit.err, "load previous analysis? [No]\nSET PREFERENCE: save as default setting? [No]\ntarmic-batch: seed " +
                         f.at("seed") + " (drawn; --seed " + f.at("seed") + " repeats the run)\n");

  // The numbers: what the window's saved report and its peak boxes print.
  const std::string windowCsReport = ReadWhole(window + "/fitparams.txt");
  const std::map<std::string, std::string> c = SummaryColumns(cs.out);
  EXPECT_EQ(c.at("data"), batch);
  EXPECT_EQ(c.at("model"), "Continuous c(s) Distribution");
  EXPECT_EQ(c.at("status"), "computed");
  EXPECT_EQ(c.at("rmsd [OD]"), WordAfter(windowCsReport, "rmsd="));
  // Each peak of peaks.tsv as the window's box gives it, "sw:c".
  std::string batchPeaks;
  const auto peakRows = TableRows(ReadWhole(batch + "/peaks.tsv"));
  for (const auto& row : peakRows) batchPeaks += (batchPeaks.empty() ? "" : " ") + row.at("position") + ":" + row.at("area");
  EXPECT_EQ(batchPeaks, windowPeaks);
  EXPECT_EQ(c.at("peaks"), std::to_string(peakRows.size()));
  const std::string windowFitReport = ReadWhole(windowFit + "/fitparams.txt");
  EXPECT_EQ(f.at("model"), "Non-Interacting Discrete Species");
  EXPECT_EQ(f.at("rmsd [OD]"), WordAfter(windowFitReport, "rmsd="));
  const std::string concentrations = windowFitReport.substr(windowFitReport.find("concentrations = "));
  // The columns with their units: s in S, D in 1e-7 cm^2/s, the total loading in
  // the signal's unit and the other species' fractions of it.
  const std::map<std::string, std::string> column = {
      {"s1", "s1 [S]"}, {"D1", "D1 [1e-7 cm^2/s]"}, {"c1", "c1 [OD]"},
      {"s2", "s2 [S]"}, {"D2", "D2 [1e-7 cm^2/s]"}, {"c2", "c2 [fraction]"}};
  for (const int k : {1, 2}) {
    const std::string block = windowFitReport.substr(windowFitReport.find(Format("component %d included", k)));
    EXPECT_EQ(f.at(column.at(Format("s%d", k))), WordAfter(block, "s\t=\t"));
    EXPECT_EQ(f.at(column.at(Format("D%d", k))), WordAfter(block, "D\t=\t"));
    EXPECT_EQ(f.at(column.at(Format("c%d", k))), WordAfter(concentrations, k == 1 ? "= " : "| "));
    // Marquardt-Levenberg computes the errors of the values it floats (s and D;
    // the loadings are solved, not floated), as its covariance report gives them.
    EXPECT_GT(std::stod(f.at(Format("s%d error [S]", k))), 0.0);
    EXPECT_GT(std::stod(f.at(Format("D%d error [1e-7 cm^2/s]", k))), 0.0);
    EXPECT_EQ(f.at(Format("c%d error", k) + (k == 1 ? " [OD]" : " [fraction]")), "");
  }
  EXPECT_EQ(f.count("s3 [S]"), 0u);

  // The numbers the README quotes for the second run ("`D2` 4.182"), each as the
  // batch prints it.
  const std::string readme = ReadWhole(std::string(TARMIC_SOURCE_DIR) + "/README.md");
  const std::size_t from = readme.find("and the second, after"), to = readme.find("The test", from);
  ASSERT_NE(to, std::string::npos);
  std::string quoted = readme.substr(from, to - from);
  std::replace(quoted.begin(), quoted.end(), '\n', ' ');
  EXPECT_NE(quoted.find("`status` computed, `rmsd [OD]` " + f.at("rmsd [OD]") + ","), std::string::npos) << quoted;
  int named = 0;
  for (const char* key : {"s1", "D1", "c1", "s2", "D2", "c2"}) {
    const std::string label = "`" + column.at(key) + "` ";
    named += quoted.find(label) != std::string::npos;
    std::string value = WordAfter(quoted, label);
    if (value.ends_with('.')) value.pop_back();  // the end of the sentence
    EXPECT_EQ(value, f.at(column.at(key))) << key;
  }
  EXPECT_EQ(named, 6);

  // Independently of the window: the simulated truth (4 and 8 S, loadings 0.52 and
  // 0.28 OD, D 6.0 and 4.2) within what a noise of 0.005 OD allows.
  std::vector<std::pair<double, double>> found;
  for (const auto& row : peakRows) found.emplace_back(std::stod(row.at("position")), std::stod(row.at("area")));
  ASSERT_EQ(found.size(), 2u) << batchPeaks;
  EXPECT_NEAR(found[0].first, 4.0, 0.1);
  EXPECT_NEAR(found[1].first, 8.0, 0.1);
  EXPECT_NEAR(found[0].second, 0.52, 0.02);
  EXPECT_NEAR(found[1].second, 0.28, 0.02);
  EXPECT_NEAR(std::stod(f.at("s1 [S]")), 4.0, 0.01);
  EXPECT_NEAR(std::stod(f.at("s2 [S]")), 8.0, 0.01);
  EXPECT_NEAR(std::stod(f.at("D1 [1e-7 cm^2/s]")), 6.0, 0.24);
  EXPECT_NEAR(std::stod(f.at("D2 [1e-7 cm^2/s]")), 4.2, 0.17);
  EXPECT_NEAR(std::stod(f.at("c1 [OD]")) * (1.0 - std::stod(f.at("c2 [fraction]"))), 0.52, 0.01);
  EXPECT_NEAR(std::stod(f.at("rmsd [OD]")), 0.005, 0.0002);

  // The files: every result the window saved, byte for byte; the saved parameters
  // and the distribution's grid go with the batch's results.
  std::vector<std::string> names = {"fitparams.txt", "distribution.dat", "sdist.ra0"};
  for (int k = 1; k <= 20; ++k) {
    names.push_back(Format("f%04d.ra0", k));
    names.push_back(Format("r%04d.ra0", k));
  }
  for (const std::string& name : names) EXPECT_EQ(ReadWhole(batch + "/" + name), ReadWhole(window + "/" + name)) << name;
  EXPECT_EQ(ReadWhole(batch + "/~tmppars.ra0"), csParameters);
  for (const std::string& name : names) {
    if (name.ends_with(".dat") || name.starts_with("sdist")) continue;
    EXPECT_EQ(ReadWhole(batchFit + "/" + name), ReadWhole(windowFit + "/" + name)) << name;
  }
  EXPECT_EQ(ReadWhole(batchFit + "/~tmppars.ra0"), ReadWhole(window + "/~tmppars.ra0"));
  // The pictures the batch drew beside the results are those the window saved: the
  // same files with the same texts (axes, titles, the peaks' labels) and curves (the
  // window lays its panes out for its own height, so the cuts may differ in height).
  const std::vector<std::string> pictures = {"picture-data.svg", "picture-data.png", "picture-residuals.svg",
                                             "picture-residuals.png", "picture-distribution.svg",
                                             "picture-distribution.png"};
  EXPECT_EQ(FolderContents(windowPictures).size(), pictures.size());
  for (const std::string& name : pictures) {
    if (!name.ends_with(".svg")) continue;
    const SvgDocument a = ParseSvg(ReadWhole(batch + "/" + name)), b = ParseSvg(ReadWhole(windowPictures + "/" + name));
    ASSERT_TRUE(a.wellFormed && b.wellFormed) << name;
    std::vector<std::string> textsA, textsB;
    for (const SvgElement* t : a.Named("text")) textsA.push_back(t->text);
    for (const SvgElement* t : b.Named("text")) textsB.push_back(t->text);
    EXPECT_EQ(textsA, textsB) << name;
    EXPECT_EQ(a.Named("path").size(), b.Named("path").size()) << name;
    EXPECT_EQ(a.elements[0].Attr("width"), b.elements[0].Attr("width")) << name;
    EXPECT_EQ(SvgTextLayoutProblems(b), std::vector<std::string>()) << name;
  }
  // Nothing else: the batch left no file of its own beside the data or in the home.
  // (the summary, the peaks and the manifest describe the set)
  EXPECT_EQ(FolderContents(batch).size(), 22u + names.size() + 1u + 3u + pictures.size());
  EXPECT_TRUE(batch_fs::is_empty(root + "/home"));
  EXPECT_TRUE(batch_fs::is_empty(root + "/tmp"));
}

}  // namespace
}  // namespace tarmic::testing
