#include "platform/dialog_layout.h"

#include <algorithm>
#include <cmath>

namespace tarmic {

double AverageCharWidth(const std::function<double(std::string_view)>& textWidth) {
  const double letters = textWidth("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return std::floor((std::round(letters) / 26.0 + 1.0) / 2.0);
}

DialogPixelLayout LayOutDialog(const DialogTemplate& dialog, const TransferBuffer& buffer,
                               const DialogFontMeasures& font) {
  DialogPixelLayout out;
  out.unitX = font.averageCharWidth / 4.0;
  out.unitY = font.charHeight / 8.0;
  // An edit field shows the whole text written into it when the dialog opens.
  if (font.textWidth) {
    for (const DialogControl& c : dialog.controls) {
      if (c.kind != ControlKind::Edit || c.width <= 0) continue;
      auto it = buffer.text.find(c.id);
      if (it == buffer.text.end() || it->second.empty()) continue;
      const double needed = font.textWidth(it->second) + font.editPadding;
      out.unitX = std::max(out.unitX, needed / c.width);
    }
  }
  // Widening stops at the screen's width; the font's own unit always stays.
  if (font.maxDialogWidth > 0 && dialog.width > 0) {
    const double widest = static_cast<double>(font.maxDialogWidth) / dialog.width;
    out.unitX = std::max(font.averageCharWidth / 4.0, std::min(out.unitX, widest));
  }
  // Edges are rounded, widths follow from them, so neighbours never overlap.
  auto x = [&](int units) { return static_cast<int>(std::lround(units * out.unitX)); };
  auto y = [&](int units) { return static_cast<int>(std::lround(units * out.unitY)); };
  out.client = Size{x(dialog.width), y(dialog.height)};
  out.controls.reserve(dialog.controls.size());
  for (const DialogControl& c : dialog.controls)
    out.controls.push_back(Rect{x(c.x), y(c.y), x(c.x + c.width), y(c.y + c.height)});
  return out;
}

}  // namespace tarmic
