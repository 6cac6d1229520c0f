// Printing the main window: the one-page printout, the printer object and the
// print and printer-setup commands.
#include "app/printout.h"

#include <memory>

#include "app/xla_window.h"

namespace tarmic {

bool bPrinting = false;

void ResetPrinting() { bPrinting = false; }

TWindowPrintout::TWindowPrintout(const char* title, TXLAWindow& window)
    : title_(title ? title : ""), window_(window) {}

void TWindowPrintout::GetDialogInfo(int& minPage, int& maxPage, int& selFromPage,
                                    int& selToPage) const {
  minPage = 0;
  maxPage = 0;
  selFromPage = 0;
  selToPage = 0;
}

void TWindowPrintout::PrintPage(DC& dc, Size page, int /*pageNumber*/) {
  const Rect client = window_.GetHandle().ClientRect();
  MapMode oldMode = MapMode::Text;
  Size oldViewportExt;
  Size oldWindowExt;
  if (Scale) {
    // The client area fills the page as far as its aspect ratio allows.
    oldMode = dc.SetMapMode(MapMode::Isotropic);
    oldViewportExt = dc.SetViewportExt(page.cx, page.cy);
    oldWindowExt = dc.SetWindowExt(client.Width(), client.Height());
    dc.IntersectClipRect(client);
  }
  bPrinting = true;
  try {
    window_.Paint(dc, false, client);
  } catch (...) {
    bPrinting = false;
    throw;
  }
  bPrinting = false;
  if (Scale) {
    dc.SetWindowExt(oldWindowExt.cx, oldWindowExt.cy);
    dc.SetViewportExt(oldViewportExt.cx, oldViewportExt.cy);
    dc.SetMapMode(oldMode);
  }
}

bool TPrinter::Print(TXLAWindow& /*parent*/, TWindowPrintout& printout, bool /*showDialog*/) {
  PrintRequest request;
  request.documentName = printout.Title();
  request.pdfFile = pdfFile;
  int page = 0;
  return GetBackend().Print(request, [&printout, &page](DC& dc, Size size) {
    ++page;
    if (printout.HasPage(page)) printout.PrintPage(dc, size, page);
  });
}

void TPrinter::Setup(TXLAWindow& /*parent*/) {
  // The window system's print dialog offers the printer and its settings each
  // time a page is printed; there is nothing to set beforehand.
}

void TXLAWindow::CmPrint() {
  if (!bPrinterCreated || !pPrinter) {
    pPrinter = std::make_unique<TPrinter>();
    bPrinterCreated = true;
  }
  TWindowPrintout printout("Tarmic Printout", *this);
  printout.Banding = true;
  pPrinter->Print(*this, printout, true);
}

void TXLAWindow::CmPrinterSetup() {
  if (bPrinterCreated && pPrinter) pPrinter->Setup(*this);
}

}  // namespace tarmic
