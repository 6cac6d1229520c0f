// Every readout the window draws while a Run or a Fit computes is also a progress
// event: the window's drawing is the census. The example's Run of c(s) and Fit of
// discrete species go through the window's commands on the batch's backend, whose
// window records each text drawn as a readout (in client pixels, on its own
// background, unrotated, in the rows of the stage and the later stages); each such
// text must have been reported as an event with the same words, so that the batch,
// which reads only the events, misses no readout a new computation draws.
#include <regex>
#include <set>

#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "batch_test_support.h"
#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "platform/raster_dc.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "tests/commands/commands_test_support.h"

namespace tarmic::testing {
namespace {

// The rows of the readouts of a computation: the stage in the first, the later
// stages down to the last.
constexpr int kLastReadoutRow = 70;

class RecordingBackend : public BatchBackend {
 public:
  explicit RecordingBackend(std::FILE* err) : BatchBackend(err, false), window_(*this) {}
  Window& MainWindow() override { return window_; }
  const std::vector<std::string>& Drawn() const { return drawn_; }
  void Record(bool on) { recording_ = on; }

 private:
  class RecordingWindow : public HeadlessWindow {
   public:
    explicit RecordingWindow(RecordingBackend& owner) : HeadlessWindow(1000, 700, owner.Text()), owner_(owner) {}
    std::unique_ptr<DC> ClientDC() override { return std::make_unique<RecordingDC>(Screen(), owner_); }
    void Invalidate() override {}

   private:
    class RecordingDC : public RasterDC {
     public:
      RecordingDC(Image& target, RecordingBackend& owner) : RasterDC(target, &owner.Text()), owner_(owner) {}
      void TextOut(int x, int y, std::string_view text) override {
        RasterDC::TextOut(x, y, text);
        Seen(y, text);
      }
      void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override {
        RasterDC::ExtTextOut(x, y, options, clip, text);
        Seen(y, text);
      }

     private:
      void Seen(int y, std::string_view text) {
        const bool readout =
            State().mapMode == MapMode::Text && State().bkMode == BkMode::Opaque && State().font.escapement == 0;
        if (owner_.recording_ && readout && y <= kLastReadoutRow && !BoxLine("", text).empty())
          owner_.drawn_.push_back(BoxLine("", text));
      }
      RecordingBackend& owner_;
    };
    RecordingBackend& owner_;
  };

  RecordingWindow window_;
  std::vector<std::string> drawn_;
  bool recording_ = false;
};

TEST(ProgressDoors, EveryReadoutOfARunAndAFitIsAnEvent) {
  ResetEverything();
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ProgressDoors";
  batch_fs::remove_all(root);
  batch_fs::create_directories(root + "/temp");
  CopyExample(root + "/data");
  SetupPathTable(root, root + "/temp");
  bDisclaimerAccepted = true;
  bMultiThreading = true;
  InstallResponseTable();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  std::set<std::string> drawnKinds;
  {
    RecordingBackend backend(err);
    SetBackend(&backend);
    InstallProgramServices();
    std::vector<std::string> reported;
    SetProgressListener([&](const ProgressEvent& e) { reported.push_back(BoxLine("", e.text)); });
    {
      TXLAWindow window("Sedimentation Analysis");
      window.SetupWindow();
      backend.OfferFiles(ExampleScans(root + "/data"));
      ASSERT_TRUE(LoadNewFiles(window, LoadKind::Velocity));
      for (const auto& [parameters, command] : {std::pair{"cs.~p", kCmRun}, std::pair{"species.~p", kCmFit}}) {
        ASSERT_TRUE(SwitchToParameterFile(window, root + "/data/" + parameters)) << parameters;
        // Marquardt-Levenberg: its step and its evaluation, in a few iterations.
        if (command == kCmFit) DispatchCommand(window, kCmFitMarquardt);
        backend.Record(true);
        DispatchCommand(window, command);
        backend.Record(false);
      }
      EXPECT_TRUE(AnalysisSwitches().bModelComputed);
      const std::set<std::string> events(reported.begin(), reported.end());
      for (const std::string& text : backend.Drawn()) {
        EXPECT_TRUE(events.contains(text)) << "drawn as a readout but not reported: " << text;
        drawnKinds.insert(std::regex_replace(text, std::regex("[0-9]+([.][0-9]+)?(e[-+][0-9]+)?"), "#"));
      }
      DispatchCommand(window, kCmExit);
    }
    SetProgressListener({});
    SetBackend(nullptr);
  }
  std::fclose(err);
  SetResponseTable({});
  ResetEverything();
  // The stage, the kernels done, the normal equations, the regularisation, the
  // fit's step and its evaluation at least.
  EXPECT_GE(drawnKinds.size(), 6u);
  std::printf("progress doors: %zu kinds of readouts drawn, each reported\n", drawnKinds.size());
  for (const std::string& kind : drawnKinds) std::printf("  %s\n", kind.c_str());
}

}  // namespace
}  // namespace tarmic::testing
