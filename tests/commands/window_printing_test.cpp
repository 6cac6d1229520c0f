// Printing the main window with loaded scans through the headless printer: one
// page, the window's picture scaled onto it with its aspect ratio kept.
#include <gtest/gtest.h>

#include <string>

#include "app/printout.h"
#include "app/xla_window.h"
#include "commands/response_table.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "scandata/data_set.h"
#include "tests/app/shell_test_support.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

std::string Fixture(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/set_abs/" + name;
}

class WindowPrinting : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    InstallResponseTable();
    SetupPathTable(dir_.path(), "");
    auto prefs = shell_test::AcceptedDefaults();
    prefs[kPrefCheckTimeStamps] = "0";
    shell_test::WritePreferenceFile(szParamsIni, prefs);
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    window_->SetupWindow();
  }
  void TearDown() override {
    window_.reset();
    SetResponseTable({});
    shell_test::ResetShellState();
  }

  // The rows of a printed page that hold anything but white.
  static std::pair<int, int> InkedRows(const Image& page) {
    int first = -1, last = -1;
    for (int y = 0; y < page.Height(); ++y)
      for (int x = 0; x < page.Width(); ++x)
        if (page.Pixel(x, y) != kWhite) {
          if (first < 0) first = y;
          last = y;
          break;
        }
    return {first, last};
  }

  ScopedHeadlessBackend backend_{800, 300};
  shell_test::ScratchDir dir_{"printing"};
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(WindowPrinting, LoadedScansPrintOnOnePageWithTheWindowsAspectRatio) {
  backend_->QueueOpenFiles({Fixture("00001.ra1"), Fixture("00002.ra1"), Fixture("00003.ra1")});
  ASSERT_TRUE(DispatchCommand(*window_, kCmLoadNewFiles));
  ASSERT_EQ(DataSet().nScans, 3);
  // The screen paint stores the client size that the printed marker lines use.
  UiEvents().Clear();
  backend_->Headless().Screen().Fill(kWhite);
  window_->Paint(*window_->GetHandle().ClientDC(), true, window_->GetHandle().ClientRect());

  backend_->QueueMessageBox(IDNO, "Printing");  // "print with last best-fit information?"
  ASSERT_TRUE(DispatchCommand(*window_, kCmPrint));
  ASSERT_EQ(backend_->PrintedPages(), 1);
  EXPECT_FALSE(bPrinting);
  const Image& page = backend_->PrintedImages().front();
  auto [first, last] = InkedRows(page);
  ASSERT_GE(first, 0) << "nothing printed";
  // 800 x 300 pixels onto a page 248 wide: the picture is 93 rows high at most.
  EXPECT_LE(last, 248 * 300 / 800 + 1);
}

}  // namespace
}  // namespace tarmic
