// Printing of the main window: a one-page printout that lets the window paint
// itself onto the printer page, scaled with its aspect ratio kept, while bPrinting
// tells Paint to take its printing path.
#pragma once

#include <string>

#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/types.h"

namespace tarmic {

class TXLAWindow;

// Set only while the printout has the window paint onto the page.
extern bool bPrinting;

// A one-page printout of a window.
class TWindowPrintout {
 public:
  TWindowPrintout(const char* title, TXLAWindow& window);

  const std::string& Title() const { return title_; }
  // No page range is offered: all four are 0.
  void GetDialogInfo(int& minPage, int& maxPage, int& selFromPage, int& selToPage) const;
  // The printout has exactly one page.
  bool HasPage(int pageNumber) const { return pageNumber == 1; }
  // Maps the window's client area onto the page (isotropic: the aspect ratio is
  // kept), sets bPrinting and has the window paint.
  void PrintPage(DC& dc, Size page, int pageNumber);

  bool Scale = true;      // scale the window picture to the page
  bool Banding = false;   // kept for the print command; pages print whole

 private:
  std::string title_;
  TXLAWindow& window_;
};

// The printer object of the main window: where and how pages go.
class TPrinter {
 public:
  // Prints every page of the printout; with pdfFile set the pages go to that PDF
  // file without a dialog. False when cancelled or failed.
  bool Print(TXLAWindow& parent, TWindowPrintout& printout, bool showDialog);
  // The printer's settings; the print dialog of the window system offers them.
  void Setup(TXLAWindow& parent);

  std::string pdfFile;    // empty: the printer chosen in the dialog
};

void ResetPrinting();

}  // namespace tarmic
