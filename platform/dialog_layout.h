// Dialog templates in pixels. Template positions are dialog units: a quarter of the
// dialog font's average character width across, an eighth of its character height
// down. An edit field too narrow for the text its value was written with widens
// the whole dialog (all horizontal positions by one factor, so nothing overlaps),
// as far as the room on the screen allows.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/resource_types.h"
#include "platform/types.h"

namespace tarmic {

// The measures of the dialog font that the conversion needs, in pixels.
struct DialogFontMeasures {
  double averageCharWidth = 6.0;  // of the 52 letters A-Z, a-z
  double charHeight = 13.0;       // height of a text line
  // Width of a text in the dialog font.
  std::function<double(std::string_view)> textWidth;
  // Room an edit field needs besides its text (frame and inner margins, cursor).
  double editPadding = 8.0;
  // The widest dialog the screen has room for; 0 for no limit.
  int maxDialogWidth = 0;
};

struct DialogPixelLayout {
  double unitX = 1.5, unitY = 1.625;  // pixels per dialog unit
  Size client;                        // the dialog's client area
  std::vector<Rect> controls;         // in the order of the template's controls
};

// The average character width as the window system of the templates defines it:
// the width of "A..Za..z" over 26, plus one, halved (rounded down).
double AverageCharWidth(const std::function<double(std::string_view)>& textWidth);

// Pixel positions of the dialog's controls; buffer holds the texts the edit fields
// open with.
DialogPixelLayout LayOutDialog(const DialogTemplate& dialog, const TransferBuffer& buffer,
                               const DialogFontMeasures& font);

}  // namespace tarmic
