// The progress display of a Lamm solution running in the user-interface thread:
// readout lines written into the main window and evolving profiles drawn over the
// data plot.
#pragma once

#include <cstdint>
#include <string>

#include "lamm/lamm_interfaces.h"

namespace tarmic {

class MetaFile;
class Window;

// Colour of an evolving profile by equation (species) number, 0x00BBGGRR: 1
// RGB(150, 0, 150), 2 RGB(0, 255, 0), 3 RGB(0, 0, 255), 4 RGB(0, 150, 150), others
// black.
std::uint32_t EvolvingProfileColor(int equation);

class LammWindowDisplay : public LammDisplay {
 public:
  // The window must outlive the display.
  explicit LammWindowDisplay(Window& window) : window_(window) {}

  // Writes the text at client pixel (x, y) and shows it at once.
  void ShowText(int x, int y, const std::string& text) override;
  // Records the profile as an overlay of the data plot (pDataPlot, with its current
  // mapping) and plays it into the window with the panes' screen mapping: the
  // picture space stretched onto the client area. Nothing is drawn without a data
  // plot or with fewer than two points.
  void DrawProfile(const double* r, const double* c, int n, std::uint32_t color) override;
  // Plays an overlay recorded with the data plot's mapping into the client area.
  void PlayOverlay(const MetaFile& overlay);

 private:
  Window& window_;
};

}  // namespace tarmic
