// Details a newcomer meets in the window, each worked by the keys and commands a
// user gives: one underlined letter an item in every menu, the second radius of a
// region offered within its range, the residual bitmap following the data plot's
// zoom, the integration note naming Enter, the box of an outside program that was
// found naming it, and Ctrl+Z saying that there is no Undo.
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "distribution_window_test_support.h"
#include "plot/residual_bitmap.h"
#include "resources/menus.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

using NewcomerDetailsTest = DistributionWindowTest;

// Every popup of both menus, the menu bar too: no two items underline the same
// letter, so that the letter chooses one item and does not only highlight.
void ExpectOneItemALetter(const std::vector<MenuItem>& items, const std::string& where, int& popups) {
  std::map<char, std::string> taken;
  ++popups;
  for (const MenuItem& item : items) {
    const std::size_t amp = item.text.find('&');
    if (amp != std::string::npos && amp + 1 < item.text.size()) {
      const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(item.text[amp + 1])));
      const auto [it, fresh] = taken.emplace(letter, item.text);
      EXPECT_TRUE(fresh) << where << ": \"" << item.text << "\" and \"" << it->second << "\" underline '" << letter << "'";
    }
    if (item.popup) ExpectOneItemALetter(item.children, where + " > " + item.text, popups);
  }
}

TEST_F(NewcomerDetailsTest, EveryMenuUnderlinesEachLetterOnce) {
  int popups = 0;
  for (std::string_view name : {kMenuVirez, kMenuFull})
    ExpectOneItemALetter(GetMenuResource(name).items, std::string(name), popups);
  EXPECT_GT(popups, 20);
  // The Copy menu's letters choose: Alt+C, then F is "Copy Fit Parameters".
  for (const MenuItem& top : GetMenuResource(kMenuVirez).items)
    if (top.text == "&Copy") {
      int f = 0;
      for (const MenuItem& item : top.children) f += item.text.find("&F") != std::string::npos;
      EXPECT_EQ(f, 1);
    }
}

// Exclude Region: the "to radius" prompt opens with a radius it accepts (the one
// the first prompt took), never empty.
TEST_F(NewcomerDetailsTest, TheSecondRadiusOfARegionIsOfferedWithinItsRange) {
  LoadSyntheticRun();
  std::vector<std::pair<std::string, std::string>> asked;
  HeadlessBackend::UnscriptedRules rules;
  rules.input = [&](std::string_view prompt, std::string_view initial) -> std::optional<std::string> {
    asked.emplace_back(std::string(prompt), std::string(initial));
    return std::nullopt;
  };
  Backend().SetUnscriptedRules(rules);
  Backend().QueueInput("6.5");
  Dispatch(kCmExcludeRegion);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, "to radius (cm)");
  ASSERT_FALSE(asked[0].second.empty());
  EXPECT_NEAR(std::stod(asked[0].second), 6.5, 1e-4);
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
}

// Set Range narrows the residual bitmap to the radii shown, as it narrows the
// residual pane; Full Range widens it again.
TEST_F(NewcomerDetailsTest, TheResidualBitmapFollowsSetRange) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  Dispatch(kCmRun);
  ASSERT_TRUE(FitOfLoadedData());
  const int full = BuildResidualsBitmap().Width();
  ASSERT_GT(full, 50);
  for (const char* v : {"6.3", "6.8", "-0.1", "1.0"}) Backend().QueueInput(v);
  Dispatch(kCmSetRange);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const int zoomed = BuildResidualsBitmap().Width();
  // The share of the fitting range (6.05 to 7.1 cm) that the zoom shows.
  EXPECT_NEAR(static_cast<double>(zoomed) / full, 0.5 / (kRightLimit - kLeftLimit), 0.05);
  Dispatch(kCmFullRange);
  EXPECT_EQ(BuildResidualsBitmap().Width(), full);
}

// Ctrl+I's note says that Enter gives the limits by number.
TEST_F(NewcomerDetailsTest, TheIntegrationNoteNamesEnter) {
  RunSmallCsAndPressCtrlI();
  const std::string note = BoxText("SELECT INTEGRATION RANGE");
  EXPECT_NE(note.find("right mouse button"), std::string::npos) << note;
  EXPECT_NE(note.find("press Enter"), std::string::npos) << note;
}

// An outside program that is found: the box names it and where it was found.
TEST_F(NewcomerDetailsTest, TheBoxOfAFoundOutsideProgramNamesIt) {
  const std::string bin = ProgramDir() + "/pathbin";
  fs::create_directories(bin);
  std::ofstream(bin + "/gussi") << "#!/bin/sh\n";
  ::chmod((bin + "/gussi").c_str(), 0755);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  Backend().QueueMessageBox(IDOK, "ATTENTION");
  Dispatch(kCmGUSSICSPlot);
  setenv("PATH", oldPath.c_str(), 1);
  const std::string text = BoxText("ATTENTION");
  EXPECT_NE(text.find("GUSSI \"gussi\" (" + bin + "/gussi) was found"), std::string::npos) << text;
}

// Ctrl+Z, the Undo a user tries: a box says there is none and what stands in.
TEST_F(NewcomerDetailsTest, CtrlZSaysThereIsNoUndo) {
  LoadSyntheticRun();
  Backend().QueueMessageBox(IDOK, "UNDO");
  PressKeyAndRun('Z', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const std::string text = BoxText("UNDO");
  EXPECT_NE(text.find("no Undo"), std::string::npos) << text;
  EXPECT_NE(text.find("Esc"), std::string::npos) << text;
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
}

// The example's README names the file type as the load dialog shows it.
TEST_F(NewcomerDetailsTest, TheExamplesReadmeNamesTheFileTypeAsTheDialogShowsIt) {
  const std::string readme = ReadFile(std::string(TARMIC_SOURCE_DIR) + "/examples/two_species/README.md");
  EXPECT_EQ(readme.find("(*.*)"), std::string::npos);
  EXPECT_NE(readme.find("\"All Files (*)\""), std::string::npos);
}

// The fit's text block (Ctrl+O) on screens from small to large: in the c(s) pane it
// takes only columns the distribution leaves free at the top, so every point of the
// distribution that stands in the pane's upper part is still seen after Ctrl+O.
TEST_F(NewcomerDetailsTest, TheFitTextCoversNoPointOfTheDistributionAtAnySize) {
  LoadSyntheticRun();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(FitOfLoadedData());
  const Size sizes[] = {{640, 330}, {800, 560}, {1280, 690}, {1920, 1050}};
  for (const Size& size : sizes) {
    SCOPED_TRACE(std::to_string(size.cx) + " x " + std::to_string(size.cy));
    ResizeClient(size.cx, size.cy);
    Paint();
    const CWINPlot& plot = *DistributionPlot().pDistPlot;
    const Color curve = plot.GetCurveColor(0);
    const double sx = size.cx / 1400.0, sy = size.cy / 1000.0;
    // Point k of the distribution as painted.
    const auto painted = [&](int k) {
      return std::pair{static_cast<int>(plot.MapX(DistributionVectors().pDistGrid[k]) * sx),
                       static_cast<int>(plot.MapY(DistributionVectors().pDistValues[k]) * sy)};
    };
    // The points of the upper half of the pane, where the text block begins.
    std::vector<std::pair<int, int>> points;
    const int top = static_cast<int>(plot.nTop * sy), bottom = static_cast<int>(plot.nBottom * sy);
    for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
      if (const auto [x, y] = painted(k); y > top && y < (top + bottom) / 2) points.emplace_back(x, y);
    ASSERT_FALSE(points.empty());
    const auto seen = [&] {
      int n = 0;
      for (const auto& [x, y] : points) {
        bool hit = false;
        for (int dx = -2; dx <= 2 && !hit; ++dx)
          for (int dy = -2; dy <= 2 && !hit; ++dy) hit = Handle().Screen().Pixel(x + dx, y + dy) == curve;
        n += hit;
      }
      return n;
    };
    const int shown = seen();
    EXPECT_EQ(shown, static_cast<int>(points.size())) << "the paint shows every point";
    PressKeyAndRun('O', MK_CONTROL);
    EXPECT_EQ(seen(), shown);
    // Where the block may flow in the c(s) pane, if anywhere: no point of the
    // distribution in the upper third of that room, where its lines go first.
    for (const Rect& r : FitTextRegions(Size{size.cx, size.cy}, &plot)) {
      if (r.top < top) continue;  // the data and residual panes
      for (int k = 1; k <= DistributionVectors().nDistGrid; ++k) {
        const auto [x, y] = painted(k);
        EXPECT_FALSE(r.left <= x && x < r.right && y < r.top + (r.bottom - r.top) / 3)
            << "point (" << x << ", " << y << ") under [" << r.left << ", " << r.right << ") x [" << r.top << ", "
            << r.bottom << ")";
      }
    }
  }
}

// In the full command set, another model chosen from the menu over a c(s) on show:
// no note about integrating the old distribution stands in the way, and Ctrl+P, the
// next key, opens the new model's Parameters.
TEST_F(NewcomerDetailsTest, AModelChosenOverADistributionLetsTheNextKeysThrough) {
  LoadSyntheticRun();
  bFullCommandSet = true;
  Win().AttachCommandMenu();
  ChooseSmallCs();
  Dispatch(kCmRun);
  ASSERT_TRUE(FitOfLoadedData());
  Paint();
  Backend().ClearTranscript();
  ASSERT_TRUE(Backend().Headless().ChooseMenuItem(kCmContinuousCM));
  PostQuitMessage(0);
  RunMessageLoop(Win());
  Backend().QueueDialog(IDCANCEL);
  PressKeyAndRun('P', MK_CONTROL);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_EQ(Backend().Transcript().size(), 1u) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(Backend().Transcript()[0].kind, "Dialog");
}

}  // namespace
}  // namespace tarmic::testing
