// The result pictures of a window with more scans than a picture draws: every n-th
// scan's fitted curve and the last, the note that says so, and the window's own
// plots whole again afterwards.
#include <filesystem>

#include "commands/result_pictures.h"
#include "platform/picture_files.h"
#include "plot/data_plots.h"
#include "tests/commands/distribution_window_test_support.h"
#include "tests/support/svg_document.h"

namespace tarmic::testing {
namespace {

class ResultPicturesTest : public DistributionWindowTest {};

TEST_F(ResultPicturesTest, HundredsOfScansDrawEveryNthAndTheLast) {
  constexpr int kScans = 120;  // 2.4 times the most a picture draws: every 3rd
  const std::string dir = ProgramDir() + "/many";
  std::filesystem::create_directories(dir);
  LoadThroughDialog(WriteSyntheticRun(dir, kScans));
  ASSERT_EQ(DataSet().nScans, kScans);
  SetCellAndLimits();
  ChooseSmallCs();
  EXPECT_TRUE(ResultPictureNames().empty());  // nothing computed yet
  PressKeyAndRun('R', MK_CONTROL);
  ASSERT_TRUE(AnalysisSwitches().bModelComputed);
  ASSERT_EQ(PictureScanStride(), 3);
  const std::size_t wholeRecords = GetDataPlotMetafile()->Records().size();

  const std::vector<ResultPicture> pictures = RecordResultPictures();
  ASSERT_EQ(pictures.size(), 3u);  // data, residuals, distribution
  EXPECT_EQ(pictures[0].name, "picture-data");
  const ResultPicture& data = pictures[0];
  const SvgDocument svg = ParseSvg(PictureToSvg(data.layers, data.area, CanvasSizeFor(data.area, kPictureFileWidth)));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  // A fitted curve (one path of many vertices) for positions 1, 4, ..., 118 and 120.
  int curves = 0;
  for (const SvgElement* p : svg.Named("path"))
    for (const auto& sub : PathVertices(p->Attr("d"))) curves += sub.size() >= 20;
  EXPECT_EQ(curves, 40 + 1);
  bool noted = false;
  for (const SvgElement* t : svg.Named("text")) noted = noted || t->text == "every 3rd of 120 scans";
  EXPECT_TRUE(noted);
  // The window's plot holds all its scans again.
  ASSERT_NE(GetDataPlotMetafile(), nullptr);
  EXPECT_EQ(GetDataPlotMetafile()->Records().size(), wholeRecords);
}

}  // namespace
}  // namespace tarmic::testing
