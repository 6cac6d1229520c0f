#include "batch/global_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "batch/batch_options.h"
#include "batch/batch_report.h"
#include "numerics/ccurve.h"
#include "platform/backend.h"
#include "platform/metafile.h"
#include "platform/picture_files.h"
#include "platform/raster_dc.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

// The pictures' width in pixels, as every batch picture.
constexpr int kPictureWidthPixels = 1600;
// Picture units of one panel: the plot with its title above and its tick labels and
// x title below.
constexpr int kPanelHeight = 420;
constexpr int kPanelAbove = 70, kPanelBelow = 90;
// The plots' left and right edges in layout units (times the display factor: the
// picture space's width).
constexpr int kPlotLeft = 80, kPlotRight = 960;
// The strip of the residual bitmap above the residual stack, picture units.
constexpr int kBitmapStrip = 150;
constexpr int kBitmapColumns = 600;
// Half-size of the data points' marks, picture units.
constexpr int kPointMark = 3;
// Colours of the rotor speeds, slowest first (then again from the first).
constexpr Color kSpeedColors[] = {RGB(0, 0, 220),   RGB(220, 0, 0),   RGB(0, 150, 0),  RGB(200, 0, 200),
                                  RGB(0, 150, 160), RGB(210, 120, 0), RGB(90, 90, 90), RGB(120, 60, 0)};
constexpr int kSpeedColorCount = static_cast<int>(std::size(kSpeedColors));
// The fitted curves, drawn over the points of their data.
constexpr Color kFitColor = kBlack;
// Thumbnail width in the page, pixels.
constexpr int kThumbnailWidth = 480;

std::string Num(double v) { return GlobalNumber(v); }

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
  return out;
}

// The flags of the fit, with "limits-open" where a floated global's limits were
// not found.
std::vector<std::string> FlagsOf(const engine::Summary& s) {
  std::vector<std::string> flags = s.flags;
  const bool open = std::any_of(s.globals.begin(), s.globals.end(),
                                [](const engine::ValueResult& v) { return v.floated && !v.limitsFound; });
  if (open && s.status == engine::Status::kConverged) flags.push_back("limits-open");
  return flags;
}

std::string StatusWord(const engine::Summary& s) {
  switch (GlobalExitCode(s)) {
    case kBatchComputed: return kStatusComputed;
    case kBatchComputedWithFlags: return kStatusFlagged;
    default: return s.status == engine::Status::kStopped ? kStatusStopped : kStatusNotComputed;
  }
}

std::string WithUnit(const std::string& name, const std::string& unit) {
  return unit.empty() ? name : name + " [" + unit + "]";
}

// ---------------------------------------------------------------- pictures

// A plot's curves, owned here for the life of the plot.
struct PlotCurves {
  std::vector<std::unique_ptr<CCurve>> curves;
  std::vector<int> styles;
  std::vector<Color> colors;
  void Add(const std::vector<float>& x, const std::vector<float>& y, int style, Color color) {
    if (x.empty()) return;
    curves.push_back(std::make_unique<CCurve>(x.data(), y.data(), static_cast<std::uint32_t>(x.size()), 0, 0));
    styles.push_back(style);
    colors.push_back(color);
  }
};

// The plot's picture: its curves (points: style 2; lines: -1) in their colours, its
// titles, laid out in the rectangle (top and bottom in picture units) of a picture
// `height` units high. A plot records its picture in the window's picture space
// (the window extent it sets is the space's); the picture takes the height of the
// picture it is part of, so that panels stack in one picture at one scale.
std::shared_ptr<const MetaFile> PlotPicture(const PlotCurves& c, int height, int top, int bottom,
                                            const std::string& title, const std::string& xTitle,
                                            const std::string& yTitle, const float* xEnds = nullptr,
                                            int* columns = nullptr) {
  if (c.curves.empty()) return nullptr;
  CWINPlot plot;
  std::vector<CCurve*> raw;
  for (const auto& curve : c.curves) raw.push_back(curve.get());
  plot.AddCurves(raw);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    plot.SetCurveStyle(static_cast<int>(i), c.styles[i]);
    plot.SetCurveColor(static_cast<int>(i), c.colors[i]);
  }
  plot.nMarkSize = kPointMark;
  plot.SetTitle(title.c_str());
  plot.SetXAxisLabel(xTitle.c_str());
  plot.SetYAxisLabel(yTitle.c_str());
  plot.SetPlotRect(top, kPlotLeft, bottom, kPlotRight);
  if (!plot.Redraw() || !plot.hPicture) return nullptr;
  // Where the two x values given lie in the picture.
  if (xEnds && columns) {
    columns[0] = plot.MapX(xEnds[0]);
    columns[1] = plot.MapX(xEnds[1]);
  }
  std::vector<MetaRecord> records = plot.hPicture->Records();
  for (MetaRecord& r : records)
    if (r.op == MetaOp::SetWindowExt) r.b = height;
  return std::make_shared<const MetaFile>(std::move(records));
}

// The speeds of the run, slowest first, each with its colour.
std::map<double, Color> SpeedColors(const engine::Problem& p) {
  std::set<double> speeds;
  for (const engine::DataSet& d : p.dataSets) speeds.insert(d.rpm);
  std::map<double, Color> colors;
  int k = 0;
  for (double rpm : speeds) colors[rpm] = kSpeedColors[k++ % kSpeedColorCount];
  return colors;
}

// The key of the speeds' colours, written in them left to right above the plot.
std::shared_ptr<const MetaFile> SpeedKey(const std::map<double, Color>& colors, int x, int y) {
  MetaFileDC dc;
  Font font = hTickFont;
  font.height = PlotTextHeight(nTickFontHeight);
  dc.SelectFont(font);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextAlign(TA_LEFT | TA_BOTTOM);
  for (const auto& [rpm, color] : colors) {
    const std::string text = Num(rpm) + " rpm";
    dc.SetTextColor(color);
    dc.TextOut(x, y, text);
    x += PlotTextWidth(DefaultTextRenderer().Measure(font, font.height, text).width) + 2 * font.height;
  }
  return std::shared_ptr<const MetaFile>(dc.Close());
}

std::vector<float> Floats(const std::vector<double>& v) { return std::vector<float>(v.begin(), v.end()); }

// The panels of the data: one per cell (and wavelength, and folder of experiment
// files, where a run holds several), in the order first met.
std::vector<std::vector<std::size_t>> Panels(const engine::Problem& p, std::vector<std::string>* titles) {
  std::vector<std::tuple<std::string, int, double>> keys;
  std::vector<std::vector<std::size_t>> panels;
  std::set<std::string> folders;
  for (const engine::DataSet& d : p.dataSets) folders.insert(fs::path(d.experiment).parent_path().string());
  for (std::size_t k = 0; k < p.dataSets.size(); ++k) {
    const engine::DataSet& d = p.dataSets[k];
    const auto key = std::make_tuple(fs::path(d.experiment).parent_path().string(), d.cell, d.wavelength);
    const auto at = std::find(keys.begin(), keys.end(), key);
    if (at != keys.end()) {
      panels[static_cast<std::size_t>(at - keys.begin())].push_back(k);
      continue;
    }
    keys.push_back(key);
    panels.push_back({k});
    std::string title = "cell " + std::to_string(d.cell) + ", " + Num(d.wavelength) + " nm";
    if (folders.size() > 1) title += " (" + std::get<0>(key) + ")";
    titles->push_back(title);
  }
  return panels;
}

// The baseline a data set's fit carries (0 for a model without one).
double BaselineOf(const engine::Summary& s, std::size_t d) {
  for (const engine::ValueResult& v : s.locals[d])
    if (v.name == "baseline") return v.value;
  return 0.0;
}

struct Picture {
  std::string name;
  Rect area;
  std::vector<std::shared_ptr<const MetaFile>> layers;
  void Add(std::shared_ptr<const MetaFile> m) {
    if (m) layers.push_back(std::move(m));
  }
};

Picture DataPicture(const engine::Problem& p, const engine::Summary& s, const std::map<double, Color>& colors) {
  std::vector<std::string> titles;
  const std::vector<std::vector<std::size_t>> panels = Panels(p, &titles);
  Picture pic{"picture-data", Rect{0, 0, kPictureWidth, kPanelHeight * static_cast<int>(panels.size())}, {}};
  for (std::size_t k = 0; k < panels.size(); ++k) {
    PlotCurves c;
    for (std::size_t d : panels[k]) {
      const engine::DataSetResult& r = s.dataSets[d];
      const Color color = colors.at(p.dataSets[d].rpm);
      c.Add(Floats(r.radius), Floats(r.data), 2, color);
      c.Add(Floats(r.radius), Floats(r.fit), -1, kFitColor);
    }
    const int top = static_cast<int>(k) * kPanelHeight;
    pic.Add(PlotPicture(c, pic.area.bottom, top + kPanelAbove, top + kPanelHeight - kPanelBelow, titles[k], "radius [cm]",
                        "signal [OD]"));
    pic.Add(SpeedKey(colors, static_cast<int>(kPlotLeft * fHorzDisplayFactor), top + kPanelAbove - 40));
  }
  return pic;
}

// The residuals of every data set, each raised above the one before by more than
// the residuals span, with the bitmap above: a row per data set, a column per
// stretch of radius, grey by the residual's sign and size (as the window's bitmap).
Picture ResidualsPicture(const engine::Problem& p, const engine::Summary& s, const std::map<double, Color>& colors) {
  double largest = 0.0, rMin = 1e300, rMax = -1e300;
  for (const engine::DataSetResult& r : s.dataSets)
    for (std::size_t i = 0; i < r.points; ++i) {
      largest = std::max(largest, std::fabs(r.data[i] - r.fit[i]));
      rMin = std::min(rMin, r.radius[i]);
      rMax = std::max(rMax, r.radius[i]);
    }
  if (!(largest > 0.0)) largest = 1.0;
  const double step = 2.2 * largest;
  const int sets = static_cast<int>(s.dataSets.size());
  const int plotHeight = std::max(kPanelHeight, 60 * sets);
  Picture pic{"picture-residuals", Rect{0, 0, kPictureWidth, kBitmapStrip + plotHeight}, {}};
  PlotCurves c;
  for (std::size_t d = 0; d < s.dataSets.size(); ++d) {
    const engine::DataSetResult& r = s.dataSets[d];
    const double offset = step * static_cast<double>(d);
    std::vector<float> x = Floats(r.radius), y(r.points), zero(2, static_cast<float>(offset));
    for (std::size_t i = 0; i < r.points; ++i) y[i] = static_cast<float>(offset + r.data[i] - r.fit[i]);
    if (!x.empty()) c.Add({x.front(), x.back()}, zero, -1, RGB(170, 170, 170));
    c.Add(x, y, 2, colors.at(p.dataSets[d].rpm));
  }
  const int top = kBitmapStrip + kPanelAbove, bottom = kBitmapStrip + plotHeight - kPanelBelow;
  char raised[64];
  std::snprintf(raised, sizeof raised, "residual [OD], + %.3g a set", step);
  const float ends[2] = {static_cast<float>(rMin), static_cast<float>(rMax)};
  int columns[2] = {static_cast<int>(kPlotLeft * fHorzDisplayFactor), static_cast<int>(kPlotRight * fHorzDisplayFactor)};
  pic.Add(PlotPicture(c, pic.area.bottom, top, bottom, "residuals, data set 1 at the bottom", "radius [cm]", raised,
                      ends, columns));
  pic.Add(SpeedKey(colors, static_cast<int>(kPlotLeft * fHorzDisplayFactor), top - 40));
  // The bitmap, across the plot's radii.
  if (sets > 0 && rMax > rMin) {
    Image bitmap(kBitmapColumns, sets, kWhite);
    for (int d = 0; d < sets; ++d) {
      const engine::DataSetResult& r = s.dataSets[static_cast<std::size_t>(d)];
      for (int col = 0; col < kBitmapColumns; ++col) {
        const double radius = rMin + (rMax - rMin) * (col + 0.5) / kBitmapColumns;
        // The nearest point, when the set reaches this radius.
        const auto at = std::lower_bound(r.radius.begin(), r.radius.end(), radius);
        if (at == r.radius.end() || (at == r.radius.begin() && *at > radius + (rMax - rMin) / kBitmapColumns))
          continue;
        std::size_t i = static_cast<std::size_t>(at - r.radius.begin());
        if (i > 0 && radius - r.radius[i - 1] < *at - radius) --i;
        const double level = std::floor(128.0 * (r.data[i] - r.fit[i]) / largest);
        bitmap.SetPixel(col, sets - 1 - d, ResidualBitmapColor(static_cast<int>(std::clamp(level, -128.0, 127.0))));
      }
    }
    MetaFileDC dc;
    dc.StretchBitmap(bitmap, Rect{columns[0], 20, std::max(columns[1], columns[0] + 1), kBitmapStrip - 10});
    pic.Add(std::shared_ptr<const MetaFile>(dc.Close()));
  }
  return pic;
}

// ln(c) against r^2, c the signal less the fitted baseline: the points where c is
// positive, and the fit's the same way as lines.
Picture LnCPicture(const engine::Problem& p, const engine::Summary& s, const std::map<double, Color>& colors) {
  Picture pic{"picture-lnc", Rect{0, 0, kPictureWidth, 2 * kPanelHeight}, {}};
  PlotCurves c;
  for (std::size_t d = 0; d < s.dataSets.size(); ++d) {
    const engine::DataSetResult& r = s.dataSets[d];
    const double baseline = BaselineOf(s, d);
    std::vector<float> xd, yd, xf, yf;
    for (std::size_t i = 0; i < r.points; ++i) {
      const float r2 = static_cast<float>(r.radius[i] * r.radius[i]);
      if (r.data[i] - baseline > 0.0) {
        xd.push_back(r2);
        yd.push_back(static_cast<float>(std::log(r.data[i] - baseline)));
      }
      if (r.fit[i] - baseline > 0.0) {
        xf.push_back(r2);
        yf.push_back(static_cast<float>(std::log(r.fit[i] - baseline)));
      }
    }
    const Color color = colors.at(p.dataSets[d].rpm);
    c.Add(xd, yd, 2, color);
    c.Add(xf, yf, -1, kFitColor);
  }
  pic.Add(PlotPicture(c, pic.area.bottom, kPanelAbove + 20, 2 * kPanelHeight - kPanelBelow, "ln(c), c = signal - baseline",
                      "r^2 [cm^2]", "ln(c / OD)"));
  pic.Add(SpeedKey(colors, static_cast<int>(kPlotLeft * fHorzDisplayFactor), kPanelAbove - 20));
  return pic;
}

// ---------------------------------------------------------------- the page

std::vector<std::vector<std::string>> TsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::string HtmlTable(const std::string& tsv) {
  const auto rows = TsvRows(tsv);
  if (rows.empty()) return "";
  std::string html = "<table><thead><tr>";
  for (const std::string& h : rows[0]) html += "<th>" + ReportHtmlText(h) + "</th>";
  html += "</tr></thead>\n<tbody>\n";
  for (std::size_t k = 1; k < rows.size(); ++k) {
    html += "<tr>";
    for (const std::string& v : rows[k]) html += "<td>" + ReportHtmlText(v) + "</td>";
    html += "</tr>\n";
  }
  return html + "</tbody></table>\n";
}

const std::string* FileText(const std::vector<GlobalFile>& files, const std::string& name) {
  for (const auto& [n, text] : files)
    if (n == name) return &text;
  return nullptr;
}

std::string ExitMeaning(int code) {
  switch (code) {
    case 0: return "0: computed";
    case 3: return "3: computed with flags (the results are written; the flags say what holds)";
    default: return "1: not computed (the fit did not converge, was stopped or refused; its files are written "
                    "for a look, not as a result)";
  }
}

}  // namespace

int GlobalExitCode(const engine::Summary& s) {
  if (s.status != engine::Status::kConverged) return kBatchAnalysisRefused;
  return FlagsOf(s).empty() ? kBatchComputed : kBatchComputedWithFlags;
}

BatchSummary GlobalSummary(const GlobalRunInfo& run, const engine::Summary& s) {
  BatchSummary b;
  auto add = [&b](std::string column, std::string value) {
    b.columns.push_back(std::move(column));
    b.values.push_back(std::move(value));
  };
  add("experiment files", Join(run.experimentFiles, "; "));
  add("model", run.model);
  add("status", StatusWord(s));
  add("flags", Join(FlagsOf(s), ", "));
  add("rmsd [OD]", Num(s.rmsd));
  add("data sets", std::to_string(s.dataSets.size()));
  add("points", std::to_string(s.points));
  for (const engine::ValueResult& v : s.globals) {
    add(WithUnit(v.name, v.unit), Num(v.value));
    add(WithUnit(v.name + " error", v.unit), v.floated ? Num(v.error) : "");
  }
  std::vector<std::string> notes;
  for (const engine::Note& n : s.notes) notes.push_back(n.id + ": " + n.text);
  add("notes", Join(notes, "; "));
  add("seed", run.seed);
  return b;
}

std::vector<GlobalFile> GlobalPictureFiles(const engine::Problem& problem, const engine::Summary& s) {
  std::vector<GlobalFile> files;
  if (s.dataSets.size() != problem.dataSets.size() || s.locals.size() != problem.dataSets.size()) return files;
  CreatePlotFonts();
  // The plots record their pictures for these files whatever the backend.
  PicturesForFiles recording;
  const std::map<double, Color> colors = SpeedColors(problem);
  for (const Picture& pic : {DataPicture(problem, s, colors), ResidualsPicture(problem, s, colors),
                             LnCPicture(problem, s, colors)}) {
    PictureLayers layers;
    for (const auto& m : pic.layers) layers.push_back(m.get());
    const Rect area = pic.area;
    const Size extent{kPictureWidth, area.bottom};
    const Size size = CanvasSizeFor(area, kPictureWidthPixels);
    files.push_back({pic.name + ".svg", PictureToSvg(layers, area, size, extent)});
    const std::optional<std::vector<std::uint8_t>> png = EncodePng(PictureToImage(layers, area, size, extent));
    if (png) files.push_back({pic.name + ".png", std::string(png->begin(), png->end())});
  }
  return files;
}

std::string GlobalReportHtml(const GlobalRunInfo& run, const engine::Summary& s, const std::vector<GlobalFile>& files) {
  const std::vector<std::string> flags = FlagsOf(s);
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>tarmic-batch global: " +
                     ReportHtmlText(run.model) + "</title>\n<style>" + ReportStyleSheet() + "</style></head>\n<body>\n";
  html += "<h1>tarmic-batch global analysis</h1>\n<table>";
  const std::pair<std::string, std::string> facts[] = {
      {"experiment files", Join(run.experimentFiles, "; ")},
      {"model", run.model},
      {"status", StatusWord(s) + " (" + engine::StatusName(s.status) + ")"},
      {"flags", flags.empty() ? "none" : Join(flags, ", ")},
      {"exit code", ExitMeaning(GlobalExitCode(s))},
      {"rmsd [OD]", Num(s.rmsd)},
      {"data sets", std::to_string(s.dataSets.size()) + ", " + std::to_string(s.points) + " points"},
      {"seed", run.seed}};
  for (const auto& [k, v] : facts) {
    const bool marked = (k == "flags" && !flags.empty()) || (k == "status" && GlobalExitCode(s) == 1);
    html += std::string("<tr") + (marked ? " class=\"flagged\"" : "") + "><th>" + ReportHtmlText(k) + "</th><td>" +
            ReportHtmlText(v) + "</td></tr>\n";
  }
  html += "</table>\n";
  if (!s.notes.empty()) {
    html += "<h2>Notes</h2>\n<ul>\n";
    for (const engine::Note& n : s.notes) html += "<li>" + ReportHtmlText(n.id + ": " + n.text) + "</li>\n";
    html += "</ul>\n";
  }
  if (const std::string* t = FileText(files, "global-parameters.tsv"))
    html += "<h2>Global values</h2>\n<p>Errors are standard errors scaled by the fit's own noise; the 95 % limits "
            "come from refits with the value held.</p>\n" + HtmlTable(*t);
  if (const std::string* t = FileText(files, "data-sets.tsv")) html += "<h2>Data sets</h2>\n" + HtmlTable(*t);
  html += "<h2>Pictures</h2>\n<p>";
  for (const char* name : kGlobalPictureNames) {
    const std::string* png = FileText(files, std::string(name) + ".png");
    if (!png) continue;
    const std::optional<Image> image = DecodePng(std::vector<std::uint8_t>(png->begin(), png->end()));
    const std::string uri = image ? PngDataUri(ShrinkImage(*image, kThumbnailWidth)) : std::string();
    if (uri.empty()) continue;
    html += "<a class=\"picture\" href=\"" + std::string(name) + ".svg\" title=\"" + name + "\"><img src=\"" + uri +
            "\" alt=\"" + name + "\" width=\"" + std::to_string(kThumbnailWidth) + "\"></a>";
  }
  html += "</p>\n<h2>Files</h2>\n<ul>\n";
  for (const auto& [name, text] : files)
    html += "<li><a href=\"" + ReportHtmlText(ReportUrlPath(name)) + "\">" + ReportHtmlText(name) + "</a></li>\n";
  html += "</ul>\n</body></html>\n";
  return html;
}

void AddGlobalReportFiles(const GlobalRunInfo& run, const engine::Problem& problem, const engine::Summary& s,
                          std::vector<GlobalFile>* files) {
  for (GlobalFile& f : GlobalPictureFiles(problem, s)) files->push_back(std::move(f));
  files->push_back({kGlobalSummaryFile, SummaryText(GlobalSummary(run, s))});
  const std::string page = GlobalReportHtml(run, s, *files);
  files->push_back({kGlobalReportFile, page});
}

std::string GlobalNumber(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.8g", v);
  return b;
}

}  // namespace tarmic
