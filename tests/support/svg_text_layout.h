// The layout of the texts of an SVG picture, from the font's metrics: each text
// element's cell as the platform's text measure gives it (at the element's
// font-size, placed by its anchor, turned by its rotation, cut by its clip path),
// and what is wrong with them: a text that leaves the canvas, or two texts whose
// cells overlap.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "platform/raster_dc.h"
#include "tests/support/svg_document.h"

namespace tarmic::testing {

struct SvgTextBox {
  std::string text;
  double left = 0, top = 0, right = 0, bottom = 0;
};

inline std::vector<SvgTextBox> SvgTextBoxes(const SvgDocument& doc) {
  std::map<std::string, SvgTextBox> clips;
  for (std::size_t i = 0; i + 1 < doc.elements.size(); ++i) {
    const SvgElement& e = doc.elements[i];
    const SvgElement& r = doc.elements[i + 1];
    if (e.name != "clipPath" || r.name != "rect") continue;
    const double x = std::atof(r.Attr("x").c_str()), y = std::atof(r.Attr("y").c_str());
    clips[e.Attr("id")] = {"", x, y, x + std::atof(r.Attr("width").c_str()), y + std::atof(r.Attr("height").c_str())};
  }
  std::vector<SvgTextBox> boxes;
  for (const SvgElement* t : doc.Named("text")) {
    const int h = std::atoi(t->Attr("font-size").c_str());
    Font font{h, t->Attr("font-weight").empty() ? 400 : std::atoi(t->Attr("font-weight").c_str()), 0,
              t->Attr("font-family") == "serif" ? FontFamily::Serif : FontFamily::SansSerif};
    const TextMetrics m = DefaultTextRenderer().Measure(font, h, t->text);
    const std::string anchor = t->Attr("text-anchor");
    const double along = anchor == "middle" ? m.width / 2.0 : anchor == "end" ? m.width : 0.0;
    double angle = 0;
    if (const std::string r = t->Attr("transform"); r.starts_with("rotate("))
      angle = std::atof(r.c_str() + 7) * 3.14159265358979323846 / 180.0;
    const double x = std::atof(t->Attr("x").c_str()), y = std::atof(t->Attr("y").c_str());
    const double ux = std::cos(angle), uy = std::sin(angle), vx = -std::sin(angle), vy = std::cos(angle);
    SvgTextBox b{t->text, 1e300, 1e300, -1e300, -1e300};
    for (const double u : {-along, m.width - along})
      for (const double v : {-static_cast<double>(m.ascent), static_cast<double>(m.descent)}) {
        const double px = x + u * ux + v * vx, py = y + u * uy + v * vy;
        b.left = std::min(b.left, px), b.right = std::max(b.right, px);
        b.top = std::min(b.top, py), b.bottom = std::max(b.bottom, py);
      }
    if (const std::string c = t->Attr("clip-path"); c.starts_with("url(#")) {
      const SvgTextBox& clip = clips[c.substr(5, c.size() - 6)];
      b.left = std::max(b.left, clip.left), b.top = std::max(b.top, clip.top);
      b.right = std::min(b.right, clip.right), b.bottom = std::min(b.bottom, clip.bottom);
    }
    boxes.push_back(b);
  }
  return boxes;
}

// One line for each text outside the canvas and each pair of overlapping texts
// (cells that share more than half a pixel each way); empty when the layout holds.
inline std::vector<std::string> SvgTextLayoutProblems(const SvgDocument& doc) {
  std::vector<std::string> problems;
  if (doc.elements.empty()) return {"no document"};
  const double width = std::atof(doc.elements[0].Attr("width").c_str());
  const double height = std::atof(doc.elements[0].Attr("height").c_str());
  const std::vector<SvgTextBox> boxes = SvgTextBoxes(doc);
  const auto shown = [](const SvgTextBox& b) {
    return "\"" + b.text + "\" [" + std::to_string(b.left) + ", " + std::to_string(b.top) + ", " +
           std::to_string(b.right) + ", " + std::to_string(b.bottom) + "]";
  };
  for (const SvgTextBox& b : boxes)
    if (b.left < 0 || b.top < 0 || b.right > width || b.bottom > height)
      problems.push_back("outside the canvas: " + shown(b));
  for (std::size_t i = 0; i < boxes.size(); ++i)
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      const SvgTextBox &a = boxes[i], &b = boxes[j];
      if (std::min(a.right, b.right) - std::max(a.left, b.left) > 0.5 &&
          std::min(a.bottom, b.bottom) - std::max(a.top, b.top) > 0.5)
        problems.push_back("overlapping: " + shown(a) + " and " + shown(b));
    }
  return problems;
}

}  // namespace tarmic::testing
