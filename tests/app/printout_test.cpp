// Tests of the printout of the main window: one page, no page range, the printer
// made on first use, the mapping of the page restored afterwards.
#include "app/printout.h"

#include <gtest/gtest.h>

#include "app/response_table.h"
#include "app/xla_window.h"
#include "resources/command_ids.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "platform/raster_dc.h"
#include "tests/app/shell_test_support.h"

namespace tarmic {
namespace {

class Printout : public shell_test::WindowFixture {
 protected:
  Printout() : WindowFixture("print", 600, 300) {}
};

TEST_F(Printout, PrintCommandPrintsOnePageWithAPrinterMadeOnce) {
  window_->CmPrint();
  EXPECT_EQ(backend_->PrintedPages(), 1);
  ASSERT_TRUE(window_->bPrinterCreated);
  TPrinter* printer = window_->pPrinter.get();
  ASSERT_NE(printer, nullptr);
  window_->CmPrint();
  EXPECT_EQ(backend_->PrintedPages(), 2);
  EXPECT_EQ(window_->pPrinter.get(), printer);
  EXPECT_FALSE(bPrinting);
}

TEST_F(Printout, PrinterSetupBeforeAnyPrintDoesNothing) {
  window_->CmPrinterSetup();
  EXPECT_FALSE(window_->bPrinterCreated);
  EXPECT_EQ(backend_->PrintedPages(), 0);
}

TEST_F(Printout, HelpModeOnlyOffersTheHelp) {
  backend_->QueueMessageBox(IDOK, "HELP");
  DispatchToWindow(*window_, Event::HelpCommand(kCmPrint));
  EXPECT_EQ(backend_->PrintedPages(), 0);
  EXPECT_FALSE(window_->bHelpMode);
}

TEST_F(Printout, PageMappingIsRestoredAfterThePage) {
  Image page(248, 350);
  RasterDC dc(page, &backend_->Text());
  TWindowPrintout printout("Tarmic Printout", *window_);
  printout.PrintPage(dc, Size{248, 350}, 1);
  EXPECT_EQ(dc.GetMapMode(), MapMode::Text);
  EXPECT_EQ(dc.GetWindowExt(), (Size{1, 1}));
  EXPECT_EQ(dc.GetViewportExt(), (Size{1, 1}));
  EXPECT_FALSE(bPrinting);
}

}  // namespace
}  // namespace tarmic
