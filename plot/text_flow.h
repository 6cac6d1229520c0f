// A block of text lines laid out in free rectangles of a window, in pixels, with the
// metrics of the font it is drawn in. The lines go down the first rectangle from its
// top-left corner; when it is full, a further column starts right of the widest line
// of the last one if the rectangle has room for a column as wide, else the next
// rectangle takes the lines. A line wider than the room left to it is broken at
// spaces (inside a word only when the word alone is wider). Lines that find no room
// are left out. Used for the fit's text block, which must not cover the plots' tick
// labels, titles or the residual bitmap.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/types.h"

namespace tarmic {

class DC;
class TextRenderer;

struct FlowedText {
  std::string text;
  Rect cell;  // the text's cell: drawn left and top aligned at (cell.left, cell.top)
};

// The placed pieces, in the order of the lines. Blank lines and trailing blanks are
// dropped; pixelHeight is the height of the font's cells on the screen.
std::vector<FlowedText> FlowTextLines(const std::vector<std::string>& lines,
                                      const std::vector<Rect>& regions, TextRenderer& fonts,
                                      const Font& font, int pixelHeight);

// Draws the lines on dc, which draws in client pixels, in its font flowed into the
// regions, left and top aligned. The font is measured as the backend's text renderer
// draws it, at least minPixels high. Returns the cells of the pieces drawn.
std::vector<Rect> DrawFlowedLines(DC& dc, const std::vector<std::string>& lines,
                                  const std::vector<Rect>& regions, int minPixels);

}  // namespace tarmic
