// Whatever ends the claim of a result on show paints the window again: after a
// marker line dragged and confirmed, a value typed in the Parameters dialog, a model
// switched, a region excluded or more files added, with every event a user makes
// going through the message loop, no pixel of the old fit curves, residuals,
// residual bitmap, distribution or its button stays on the screen, and no question
// opens over them. Judged on the back-buffer: what it shows must be what a fresh
// paint of the window as it stands shows.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/paint.h"
#include "distribution_window_test_support.h"
#include "modelcalc/fit_rmsd.h"
#include "plot/data_plots.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFf0Field = 405 + 7 * 2;  // f/f0 of the c(s) dialog (amplitude field of species 3)

class ClaimRepaintTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    ResizeClient(700, 500);
    DataPlots().bShowResidualsBitmap = true;
    LoadSyntheticRun();
    ChooseSmallCs();
    AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
    UnpackModelParams();
    Backend().AnswerUnscriptedBoxes(IDOK);
    Post(Event::Command(kCmRun));
    PumpEvents();
    ASSERT_TRUE(FitOfLoadedData());
    ASSERT_TRUE(DistributionPaneShown());
    PumpEvents();
    // Every box answered No, every dialog cancelled; each box notes how many of the
    // pixels under it a fresh paint would change.
    HeadlessBackend::UnscriptedRules rules;
    rules.box = [this](std::string_view text, std::string_view, unsigned) {
      boxes_.push_back({std::string(text), StalePixelsUnderABox()});
      return IDNO;
    };
    Backend().SetUnscriptedRules(rules);
    Backend().CancelUnscriptedDialogs();
  }

  static void Post(Event e) { UiEvents().Post(std::move(e)); }
  // Pixels of the back-buffer that a fresh paint of the window changes; the fresh
  // paint stays.
  int StalePixels() {
    const Image before = Handle().Screen();
    PaintWindow(Win());
    const Image& after = Handle().Screen();
    int stale = 0;
    for (int y = 0; y < after.Height(); ++y)
      for (int x = 0; x < after.Width(); ++x) stale += before.Pixel(x, y) != after.Pixel(x, y);
    return stale;
  }
  // The same while a box is open: the window as it stands under the box.
  int StalePixelsUnderABox() {
    if (Win().bRunInProgress || Win().bFitInProgress) return 0;
    const bool modal = Win().bModalBoxOpen, dialog = bFileDialogOpen;
    Win().bModalBoxOpen = bFileDialogOpen = false;
    const int stale = StalePixels();
    Win().bModalBoxOpen = modal;
    bFileDialogOpen = dialog;
    return stale;
  }
  // The marker line at radius r dragged by dr (cm) with the mouse, confirmed with
  // Enter, the question after it (move the limits too?) declined with Escape.
  void DragMarker(float r, float dr) {
    const int y = static_cast<int>(0.3 * Win().fClientHeight);
    const int x0 = Win().RadiusToPixelColumn(r), x1 = Win().RadiusToPixelColumn(r + dr);
    Post(Event::Mouse(EventType::LButtonDown, x0, y, MK_LBUTTON));
    for (int i = 1; i <= 4; ++i) Post(Event::Mouse(EventType::MouseMove, x0 + (x1 - x0) * i / 4, y, MK_LBUTTON));
    Post(Event::Mouse(EventType::LButtonUp, x1, y, 0));
    PumpEvents();
    Backend().Headless().PressKey(VK_RETURN);
    PumpEvents();
    Backend().Headless().PressKey(VK_ESCAPE);
    PumpEvents();
  }

  struct Box {
    std::string text;
    int stale;
  };
  std::vector<Box> boxes_;
};

struct Door {
  const char* name;
  std::function<void()> open;
};

// The doors a user ends a claim by: each through the events the user makes. The
// screen after it, and under every box it opens, is the window as it stands.
TEST_F(ClaimRepaintTest, EveryDoorThatEndsTheClaimPaintsAwayWhatTheResultShowed) {
  const std::string extra = ProgramDir() + "/extra";
  fs::create_directories(extra);
  const std::vector<std::string> more = WriteSyntheticRun(extra, 2);
  const std::vector<Door> doors = {
      {"meniscus dragged", [this] { DragMarker(DataSet().fMeniscus, 0.03f); }},
      {"bottom dragged", [this] { DragMarker(DataSet().fBottom, -0.03f); }},
      {"left fitting limit dragged", [this] { DragMarker(DataSet().fFitLeftLim, 0.03f); }},
      {"right fitting limit dragged", [this] { DragMarker(DataSet().fFitRightLim, -0.05f); }},
      {"f/f0 typed in Parameters",
       [this] {
         TransferBuffer r;
         r.text[kFf0Field] = "1.4";
         Backend().QueueDialog(IDOK, r);
         Post(Event::Command(kCmParameters));
         PumpEvents();
       }},
      {"region excluded",
       [this] {
         Backend().QueueInput("6.5");
         Backend().QueueInput("6.6");
         Post(Event::Command(kCmExcludeRegion));
         PumpEvents();
       }},
      {"more files added",
       [this, &more] {
         Backend().QueueOpenFiles({more[1]});
         Post(Event::Command(kCmAddMoreFiles));
         PumpEvents();
       }},
      {"c(M) chosen",
       [this] {
         Post(Event::Command(kCmContinuousCM));
         PumpEvents();
       }},
  };
  for (const Door& door : doors) {
    SCOPED_TRACE(door.name);
    if (!FitOfLoadedData()) {
      ChooseSmallCs();
      AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
      UnpackModelParams();
      Post(Event::Command(kCmRun));
      PumpEvents();
    }
    ASSERT_TRUE(FitOfLoadedData());
    ASSERT_EQ(StalePixels(), 0);
    ASSERT_TRUE(DistributionPaneShown());
    boxes_.clear();
    door.open();
    ASSERT_FALSE(FitOfLoadedData()) << "the door did not end the claim";
    for (const Box& b : boxes_) EXPECT_EQ(b.stale, 0) << "the box \"" << b.text << "\" opened over the old result";
    EXPECT_EQ(StalePixels(), 0) << "the old result stays on the screen";
    EXPECT_FALSE(PaintedResultEnded());
  }
}

}  // namespace
}  // namespace tarmic::testing
