// Lines of text flowed into free rectangles of a window (see the header).
#include "plot/text_flow.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/raster_dc.h"

namespace tarmic {

namespace {

std::string_view TrimTrailingBlanks(std::string_view s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

std::string_view TrimLeadingBlanks(std::string_view s) {
  const std::size_t start = s.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

// A character boundary at or before n (not inside a UTF-8 sequence).
std::size_t CharacterStart(std::string_view s, std::size_t n) {
  while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

std::vector<FlowedText> FlowTextLines(const std::vector<std::string>& lines,
                                      const std::vector<Rect>& regions, TextRenderer& fonts,
                                      const Font& font, int pixelHeight) {
  std::vector<FlowedText> placed;
  if (regions.empty() || pixelHeight <= 0) return placed;
  auto width = [&](std::string_view t) { return fonts.Measure(font, pixelHeight, t).width; };
  const TextMetrics digit = fonts.Measure(font, pixelHeight, "0");
  const int cellHeight = std::max(1, digit.ascent + digit.descent);
  const int lineStep = cellHeight + 1;
  const int columnGap = cellHeight;

  std::size_t r = 0;
  int x = regions[0].left, y = regions[0].top, columnRight = x;
  // The next column of the rectangle when there is room for one as wide as the last,
  // else the next rectangle; false when none is left.
  auto advance = [&]() {
    const int columnWidth = columnRight - x;
    const int next = columnRight + columnGap;
    if (columnWidth > 0 && regions[r].right - next >= columnWidth) {
      x = columnRight = next;
      y = regions[r].top;
      return true;
    }
    if (++r >= regions.size()) return false;
    x = columnRight = regions[r].left;
    y = regions[r].top;
    return true;
  };

  for (const std::string& line : lines) {
    std::string_view rest = TrimTrailingBlanks(line);
    while (!rest.empty()) {
      if (y + cellHeight > regions[r].bottom) {
        if (!advance()) return placed;
        continue;
      }
      const int room = regions[r].right - x;
      std::string_view piece = rest;
      if (width(piece) > room) {
        // Broken at the last space that leaves a head narrow enough, else inside
        // the first word.
        piece = {};
        for (std::size_t space = rest.rfind(' '); space != std::string_view::npos && space > 0;
             space = rest.rfind(' ', space - 1)) {
          const std::string_view head = TrimTrailingBlanks(rest.substr(0, space));
          if (!head.empty() && width(head) <= room) {
            piece = head;
            break;
          }
        }
        if (piece.empty()) {
          std::size_t n = CharacterStart(rest, rest.size() - 1);
          while (n > 0 && width(rest.substr(0, n)) > room) n = CharacterStart(rest, n - 1);
          piece = rest.substr(0, n);
        }
      }
      if (piece.empty()) {
        // Not one character fits beside the last column.
        if (!advance()) return placed;
        continue;
      }
      const int w = width(piece);
      placed.push_back(FlowedText{std::string(piece), Rect{x, y, x + w, y + cellHeight}});
      columnRight = std::max(columnRight, x + w);
      y += lineStep;
      rest = TrimLeadingBlanks(rest.substr(piece.size()));
    }
  }
  return placed;
}

std::vector<Rect> DrawFlowedLines(DC& dc, const std::vector<std::string>& lines,
                                  const std::vector<Rect>& regions, int minPixels) {
  const Font font = dc.State().font;
  const int pixels = std::max(std::abs(font.height), minPixels);
  TextRenderer& fonts = HasBackend() ? GetBackend().Text() : DefaultTextRenderer();
  const unsigned align = dc.SetTextAlign(TA_LEFT | TA_TOP);
  std::vector<Rect> cells;
  for (const FlowedText& piece : FlowTextLines(lines, regions, fonts, font, pixels)) {
    dc.TextOut(piece.cell.left, piece.cell.top, piece.text);
    cells.push_back(piece.cell);
  }
  dc.SetTextAlign(align);
  return cells;
}

}  // namespace tarmic
