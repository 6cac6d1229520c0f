// The pictures of tarmic-batch's results and the report of a job array: the SVG
// documents parse, their curves pass through the fitted scans the run saved (read
// back through the axes the picture labels), the PNGs decode at the width promised,
// and the report page, opened by a real browser, shows a row per task, a curve per
// distribution and the reason of the task that failed, without console errors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "batch/batch_report.h"
#include "batch_test_support.h"
#include "platform/picture_files.h"
#include "tests/support/svg_document.h"
#include "tests/support/svg_text_layout.h"

namespace tarmic {
namespace {

using namespace tarmic::testing;

class BatchPictures : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }
  BatchOutput Run(const std::string& parameters, const std::string& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--parameters", Data() + "/" + parameters, "--output", out, "--seed", "7"};
    args.insert(args.end(), more.begin(), more.end());
    for (const std::string& s : ExampleScans(Data())) args.push_back(s);
    return RunBatchProgram(root_, args, batch_fs::path(out).filename().string());
  }
  std::string root_;
};

// (radius, value) of each point of a scan file (two header lines, then columns).
std::vector<std::pair<double, double>> ScanPoints(const std::string& path) {
  std::istringstream in(ReadWhole(path));
  std::vector<std::pair<double, double>> points;
  std::string line;
  for (int header = 0; header < 2 && std::getline(in, line); ++header) {
  }
  for (double r, v; std::getline(in, line);) {
    std::istringstream fields(line);
    if (fields >> r >> v) points.emplace_back(r, v);
  }
  return points;
}

// The least-squares line through (value, position) pairs.
struct Axis {
  double slope = 0, offset = 0;
  double operator()(double v) const { return slope * v + offset; }
};
Axis FitAxis(const std::vector<std::pair<double, double>>& labels) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const auto& [v, p] : labels) {
    n += 1;
    sx += v;
    sy += p;
    sxx += v * v;
    sxy += v * p;
  }
  Axis a;
  a.slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  a.offset = (sy - a.slope * sx) / n;
  return a;
}

bool IsNumber(const std::string& s) {
  char* end = nullptr;
  std::strtod(s.c_str(), &end);
  return !s.empty() && end && *end == '\0';
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
  return n;
}

double SegmentDistance(const SvgPoint& p, const SvgPoint& a, const SvgPoint& b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Every picture is a well-formed SVG and a PNG of kPictureFileWidth pixels of the
// same height; the data picture's curves pass through the saved fitted scans.
TEST_F(BatchPictures, PicturesShowTheFittedScansAndTheLabelledPeaks) {
  const std::string out = root_ + "/out";
  const BatchOutput r = Run("cs.~p", out);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string manifest = ReadWhole(out + "/manifest.tsv");
  for (const char* name : {"picture-data", "picture-residuals", "picture-distribution"}) {
    // Each listed in the manifest of the set.
    for (const char* kind : {".svg", ".png"})
      EXPECT_NE(manifest.find(std::string("\t") + name + kind), std::string::npos) << name << kind << "\n" << manifest;
    const SvgDocument doc = ParseSvg(ReadWhole(out + "/" + name + ".svg"));
    ASSERT_TRUE(doc.wellFormed) << name << ": " << doc.error;
    const std::string png = ReadWhole(out + "/" + name + ".png");
    std::string error;
    const auto image = DecodePng(std::vector<std::uint8_t>(png.begin(), png.end()), &error);
    ASSERT_TRUE(image) << name << ": " << error;
    EXPECT_EQ(image->Width(), 1600) << name;
    EXPECT_EQ(doc.elements[0].Attr("width"), "1600");
    EXPECT_EQ(std::to_string(image->Height()), doc.elements[0].Attr("height")) << name;
  }
  EXPECT_FALSE(batch_fs::exists(out + "/picture-species.svg"));

  // The axes from the tick labels: x labels centred on their ticks, y labels ending
  // at the axis, each on a baseline a fixed distance from its tick (the outermost
  // may be moved to stay inside the plot and are left out).
  const SvgDocument data = ParseSvg(ReadWhole(out + "/picture-data.svg"));
  std::vector<std::pair<double, double>> xLabels, yLabels;
  for (const SvgElement* t : data.Named("text")) {
    if (!IsNumber(t->text)) continue;
    if (t->Attr("text-anchor") == "middle") xLabels.emplace_back(Number(t->text), Number(t->Attr("x")));
    if (t->Attr("text-anchor") == "end") yLabels.emplace_back(Number(t->text), Number(t->Attr("y")));
  }
  ASSERT_GE(xLabels.size(), 2u);
  ASSERT_GE(yLabels.size(), 4u);
  std::sort(yLabels.begin(), yLabels.end());
  yLabels = std::vector<std::pair<double, double>>(yLabels.begin() + 1, yLabels.end() - 1);
  const Axis x = FitAxis(xLabels), y = FitAxis(yLabels);
  ASSERT_GT(x.slope, 0);
  ASSERT_LT(y.slope, 0);  // values grow upwards

  // The curves: subpaths of many vertices (the data's points are dots).
  std::vector<std::vector<SvgPoint>> curves;
  for (const SvgElement* p : data.Named("path"))
    for (auto& sub : PathVertices(p->Attr("d")))
      if (sub.size() >= 20) curves.push_back(std::move(sub));
  ASSERT_GE(curves.size(), 20u);  // a fitted curve per scan at least
  const auto onACurve = [&](const SvgPoint& p) {
    for (const auto& c : curves)
      for (std::size_t i = 0; i + 1 < c.size(); ++i)
        if (SegmentDistance(p, c[i], c[i + 1]) <= 2.5) return true;
    return false;
  };
  // Sampled points of five fitted scans, mapped through the axes; the baseline's
  // distance from the tick is one constant for all, found from the first point.
  std::vector<SvgPoint> samples;
  for (const char* scan : {"/f0001.ra0", "/f0005.ra0", "/f0010.ra0", "/f0015.ra0", "/f0020.ra0"}) {
    const auto points = ScanPoints(out + scan);
    ASSERT_GT(points.size(), 40u) << scan;
    for (std::size_t i = 10; i + 10 < points.size(); i += points.size() / 6)
      samples.push_back(SvgPoint{x(points[i].first), y(points[i].second)});
  }
  std::set<int> offsets;  // whole-pixel candidates, within a text height
  for (const auto& c : curves)
    for (std::size_t i = 0; i + 1 < c.size(); ++i) {
      const SvgPoint &a = c[i], &b = c[i + 1];
      if (a.x == b.x || (a.x - samples[0].x) * (b.x - samples[0].x) > 0) continue;
      const double at = a.y + (b.y - a.y) * (samples[0].x - a.x) / (b.x - a.x);
      if (std::fabs(at - samples[0].y) <= 25) offsets.insert(static_cast<int>(std::lround(at - samples[0].y)));
    }
  ASSERT_FALSE(offsets.empty());
  bool found = false;
  for (int dy : offsets) {
    bool all = true;
    for (const SvgPoint& s : samples) all = all && onACurve(SvgPoint{s.x, s.y + dy});
    found = found || all;
  }
  EXPECT_TRUE(found) << "no common offset puts all " << samples.size() << " fitted points on the curves";

  // Each peak of peaks.tsv is labelled with its position and area.
  const std::vector<std::map<std::string, std::string>> peaks = TableRows(ReadWhole(out + "/peaks.tsv"));
  ASSERT_FALSE(peaks.empty());
  EXPECT_EQ(std::to_string(peaks.size()), SummaryColumns(r.out)["peaks"]);
  std::string labels;
  const SvgDocument distribution = ParseSvg(ReadWhole(out + "/picture-distribution.svg"));
  for (const SvgElement* t : distribution.Named("text")) labels += t->text + "\n";
  for (const auto& peak : peaks) {
    EXPECT_NE(labels.find("sw = " + peak.at("position") + " S"), std::string::npos) << labels;
    EXPECT_NE(labels.find("c = " + peak.at("area")), std::string::npos) << labels;
  }
}

// Discrete species: the species picture's table holds the fitted values of the
// summary; --no-pictures writes none, and a result that replaces one with pictures
// takes the old pictures away.
TEST_F(BatchPictures, SpeciesTableAndNoPictures) {
  const std::string out = root_ + "/species";
  const BatchOutput r = Run("species.~p", out);
  ASSERT_EQ(r.code, 0) << r.err;
  const SvgDocument doc = ParseSvg(ReadWhole(out + "/picture-species.svg"));
  ASSERT_TRUE(doc.wellFormed) << doc.error;
  std::string texts;
  for (const SvgElement* t : doc.Named("text")) texts += t->text + "\n";
  const auto columns = SummaryColumns(r.out);
  for (const char* key : {"s1 [S]", "s2 [S]", "c1 [OD]", "c2 [fraction]"}) {
    ASSERT_TRUE(columns.contains(key)) << r.out;
    EXPECT_NE(texts.find(columns.at(key)), std::string::npos) << key << " " << columns.at(key) << "\n" << texts;
  }
  EXPECT_NE(texts.find("rmsd = " + columns.at("rmsd [OD]")), std::string::npos) << texts;
  EXPECT_FALSE(batch_fs::exists(out + "/picture-distribution.png"));

  // A set with pictures is not the set a run without them asks for: refused as
  // another analysis' set, kept whole, until --replace.
  const std::map<std::string, std::string> withPictures = FolderContents(out);
  const BatchOutput refused = Run("species.~p", out, {"--no-pictures"});
  EXPECT_EQ(refused.code, 2) << refused.err;
  EXPECT_NE(refused.err.find("holds the results of another analysis"), std::string::npos) << refused.err;
  EXPECT_EQ(FolderContents(out), withPictures);
  const BatchOutput none = Run("species.~p", out, {"--no-pictures", "--replace"});
  ASSERT_EQ(none.code, 0) << none.err;
  for (const auto& e : batch_fs::directory_iterator(out))
    EXPECT_FALSE(e.path().filename().string().starts_with("picture-")) << e.path();
}

// The page of an array of three tasks: two computed distributions and one refused.
TEST_F(BatchPictures, ReportShowsEveryTaskInABrowser) {
  const std::string tasks = root_ + "/tasks";
  batch_fs::create_directories(tasks);
  // The tasks as the array script lists them: a folder, a tab and the cell.
  std::ofstream(root_ + "/list") << "# tasks\n" << Data() << "\t1\n\n" << Data() << "\t1\n" << root_ << "/empty\t\n";
  for (int k = 1; k <= 2; ++k) {
    const std::string out = root_ + "/results" + std::to_string(k);
    const BatchOutput r = Run("cs.~p", out);
    ASSERT_EQ(r.code, 0) << r.err;
    std::ofstream(tasks + "/" + std::to_string(k) + ".summary") << r.out;
    std::ofstream(tasks + "/" + std::to_string(k) + ".code") << "0\n";
    std::ofstream(tasks + "/" + std::to_string(k) + ".results") << out << "\n";
  }
  std::ofstream(tasks + "/3.code") << "2\n";
  std::ofstream(tasks + "/3.err") << "tarmic-array: no scans matching <x> & y in " << root_ << "/empty\n";
  const BatchOutput report = RunBatchProgram(root_, {"--report", tasks, root_ + "/list"}, "report");
  ASSERT_EQ(report.code, 0) << report.err;
  const std::string html = ReadWhole(tasks + "/report.html");
  ASSERT_FALSE(html.empty());
  // Self-contained: nothing is fetched; the small pictures are inside the page.
  for (const char* fetch : {"src=\"http", "href=\"http", "url(http", "@import", "@font-face"})
    EXPECT_EQ(html.find(fetch), std::string::npos) << fetch;
  EXPECT_EQ(html.find("<script src"), std::string::npos);
  EXPECT_EQ(html.find("<link"), std::string::npos);
  EXPECT_NE(html.find("href=\"../results1/picture-data.svg\""), std::string::npos);
  // The peaks of each computed task, from its peaks.tsv; the refused task's folder.
  const auto firstPeak = TableRows(ReadWhole(root_ + "/results1/peaks.tsv")).at(0);
  EXPECT_NE(html.find("<td>" + firstPeak.at("position") + " S, area " + firstPeak.at("area")), std::string::npos);
  EXPECT_NE(html.find("<td>" + root_ + "/empty</td><td></td>"), std::string::npos);

  if (std::system("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it): the page is not opened";
  // The page as the browser shows it once its script ran, and what the console said.
  const auto open = [&](const std::string& page, const std::string& tag) {
    const std::string dom = root_ + "/" + tag + ".html", console = root_ + "/" + tag + ".console";
    const std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
                                "--user-data-dir=" + Quoted(root_ + "/chromium") +
                                " --enable-logging=stderr --v=0 --dump-dom " + Quoted("file://" + page) + " >" +
                                Quoted(dom) + " 2>" + Quoted(console);
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadWhole(console);
    return std::make_pair(ReadWhole(dom), ReadWhole(console));
  };
  const auto [shown, log] = open(tasks + "/report.html", "report");
  EXPECT_EQ(Count(shown, "<tr data-task="), 3u) << shown;
  EXPECT_EQ(Count(shown, "class=\"curve\""), 2u) << shown;
  EXPECT_NE(shown.find("no scans matching &lt;x&gt; &amp; y in"), std::string::npos) << shown;
  EXPECT_NE(shown.find("class=\"failed\""), std::string::npos);
  // The console: no message of the page's script (errors are logged as CONSOLE lines).
  EXPECT_EQ(log.find("CONSOLE"), std::string::npos) << log;
  EXPECT_EQ(log.find("Uncaught"), std::string::npos) << log;

  // Two clicks on the title "task" sort the rows down; one on the button normalises.
  std::string clicked = html;
  clicked.insert(clicked.rfind("</body>"),
                 "<script>var th = document.querySelector('#tasks th'); th.click(); th.click();"
                 " document.getElementById('normalise').click();</script>");
  std::ofstream(tasks + "/clicked.html") << clicked;
  const auto [sorted, sortLog] = open(tasks + "/clicked.html", "clicked");
  std::vector<std::size_t> at;
  for (const char* row : {"<tr data-task=\"3\"", "<tr data-task=\"2\"", "<tr data-task=\"1\""})
    at.push_back(sorted.find(row));
  EXPECT_TRUE(at[0] < at[1] && at[1] < at[2] && at[2] != std::string::npos) << sorted;
  EXPECT_NE(sorted.find("show as computed"), std::string::npos);
  EXPECT_NE(sorted.find("distribution / area"), std::string::npos);
  EXPECT_EQ(sortLog.find("CONSOLE"), std::string::npos) << sortLog;
}

// ---- the layout of every picture ----
// The vertical lines of one colour in a document: the x of each path of that
// stroke whose vertices share one x and span more than `least` pixels.
std::vector<double> VerticalLines(const SvgDocument& doc, const std::string& stroke, double least) {
  std::vector<double> xs;
  for (const SvgElement* p : doc.Named("path")) {
    if (p->Attr("stroke") != stroke) continue;
    for (const auto& sub : PathVertices(p->Attr("d"))) {
      if (sub.size() < 2) continue;
      double lo = sub[0].y, hi = sub[0].y;
      bool vertical = true;
      for (const SvgPoint& v : sub) {
        vertical = vertical && std::fabs(v.x - sub[0].x) < 0.01;
        lo = std::min(lo, v.y), hi = std::max(hi, v.y);
      }
      if (vertical && hi - lo > least) xs.push_back(sub[0].x);
    }
  }
  return xs;
}

// Every picture of every kind of model (discrete species, c(s), c(M), c(s,ff0)):
// no text leaves the picture or overlaps another (cells from the font's metrics);
// the data and residuals carry the radius as x title and their y title; the data
// picture marks the meniscus, the bottom and the fitting limits where the axis
// puts the summary's values; the species' errors say they are standard errors.
TEST_F(BatchPictures, EveryPictureOfEveryModelIsLaidOutByItsTexts) {
  EditParameters(Data() + "/cs.~p", Data() + "/cm.~p", {{5, "10000"}, {7, "1000000"}, {73, "235"}});
  EditParameters(Data() + "/cs.~p", Data() + "/ff0.~p",
                 {{3, "30.000000"}, {12, "1.000000"}, {34, "5.000000"}, {73, "3.000000"}});
  for (const char* model : {"species", "cs", "cm", "ff0"}) {
    SCOPED_TRACE(model);
    const std::string out = root_ + "/" + model;
    // The species fitted, for their standard errors; the distributions run.
    const bool species = std::string(model) == "species";
    const BatchOutput r =
        Run(std::string(model) + ".~p", out,
            species ? std::vector<std::string>{"--fit", "--method", "marquardt"} : std::vector<std::string>{});
    ASSERT_EQ(r.code, 0) << r.err;
    std::size_t pictures = 0;
    for (const auto& [name, text] : FolderContents(out)) {
      if (!name.ends_with(".svg")) continue;
      ++pictures;
      const SvgDocument doc = ParseSvg(text);
      ASSERT_TRUE(doc.wellFormed) << name << ": " << doc.error;
      EXPECT_EQ(SvgTextLayoutProblems(doc), std::vector<std::string>()) << name;
      std::set<std::string> texts;
      for (const SvgElement* t : doc.Named("text")) texts.insert(t->text);
      if (name == "picture-distribution.svg") {
        // Both axes titled with their units; a map's colours keyed.
        const std::string m = model;
        EXPECT_TRUE(texts.contains(m == "cm" ? "molar mass [Da]" : "sed coefficient [S]"));
        EXPECT_TRUE(texts.contains(m == "cm" ? "c(M) [OD/Da]" : m == "ff0" ? "c(s,*) [OD/S] or ff0" : "c(s) [OD/S]"))
            << name;
        if (std::string(model) == "ff0") EXPECT_TRUE(texts.contains("colour: c(s,ff0)")) << name;
        continue;
      }
      EXPECT_TRUE(texts.contains("radius [cm]")) << name;
      EXPECT_TRUE(texts.contains(name == "picture-residuals.svg" ? "residuals [OD]" : "absorbance [OD]")) << name;
      if (name == "picture-species.svg") {
        EXPECT_TRUE(texts.contains("s [S] \u00b1 SE")) << name;
        bool withError = false;
        for (const std::string& t : texts) withError = withError || t.find(" \u00b1 0.") != std::string::npos;
        EXPECT_TRUE(withError) << "a fitted value with its standard error";
      }
      if (name != "picture-data.svg") continue;
      // The radius axis from its labels; the marker lines where it puts the
      // summary's meniscus and bottom (each to within a pixel).
      std::vector<std::pair<double, double>> labels;
      for (const SvgElement* t : doc.Named("text"))
        if (IsNumber(t->text) && t->Attr("text-anchor") == "middle")
          labels.emplace_back(Number(t->text), Number(t->Attr("x")));
      ASSERT_GE(labels.size(), 2u);
      const Axis radius = FitAxis(labels);
      const auto columns = SummaryColumns(r.out);
      for (const auto& [stroke, column] : {std::pair{"#ff0000", "meniscus [cm]"}, std::pair{"#0000ff", "bottom [cm]"}}) {
        const std::vector<double> lines = VerticalLines(doc, stroke, 100);
        ASSERT_EQ(lines.size(), 1u) << stroke;
        EXPECT_NEAR(lines[0], radius(std::stod(columns.at(column))), 1.5) << column;
      }
      EXPECT_EQ(VerticalLines(doc, "#00ff00", 100).size(), 2u) << "the two fitting limits";
      for (const char* key : {"meniscus", "bottom", "fitting limits"}) EXPECT_TRUE(texts.contains(key)) << key;
    }
    EXPECT_EQ(pictures, 3u) << out;  // data, residuals, and the species or the distribution
  }
}

// ---- the report's data and pictures, from folders of any name ----
// The code points of UTF-8 text; nullopt at a byte that begins no character.
std::optional<std::vector<char32_t>> CodePoints(const std::string& s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return std::nullopt;
    char32_t v = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return std::nullopt;
      v = v << 6 | (d & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return std::nullopt;
    out.push_back(v);
    i += n;
  }
  return out;
}

// The strings of the JSON text that follow "key": (escapes decoded), in order.
std::vector<std::u32string> JsonStringsOf(const std::string& json, const std::string& key) {
  std::vector<std::u32string> found;
  const std::string marker = "\"" + key + "\":\"";
  for (std::size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) {
    std::u32string value;
    std::size_t i = at + marker.size();
    std::string raw;
    const auto flush = [&] {
      const auto points = CodePoints(raw);
      if (points) value.append(points->begin(), points->end());
      else value += U"(bad UTF-8)";
      raw.clear();
    };
    while (i < json.size() && json[i] != '"') {
      if (json[i] != '\\') {
        raw += json[i++];
        continue;
      }
      flush();
      const char e = json[i + 1];
      if (e == 'u') {
        char32_t v = static_cast<char32_t>(std::stoul(json.substr(i + 2, 4), nullptr, 16));
        i += 6;
        if (v >= 0xD800 && v <= 0xDBFF && json.compare(i, 2, "\\u") == 0) {
          v = 0x10000 + ((v - 0xD800) << 10) + (std::stoul(json.substr(i + 2, 4), nullptr, 16) - 0xDC00);
          i += 6;
        }
        value += v;
      } else {
        value += e == 'n' ? U'\n' : e == 't' ? U'\t' : static_cast<char32_t>(e);
        i += 2;
      }
    }
    flush();
    found.push_back(value);
  }
  return found;
}

// Folder names with a script's end, quotes, back-slashes and bytes that are no
// UTF-8: the page is well-formed UTF-8, its data block ends only at its own end,
// and each name reads back from the data as it is, each stray byte as U+FFFD.
TEST(ArrayReport, FolderNamesOfAnyBytesStayInTheirPlace) {
  const std::vector<std::pair<std::string, std::u32string>> names = {
      {"/d/a</script><script>alert(1)</script>", U"/d/a</script><script>alert(1)</script>"},
      {"/d/\"quoted\" back\\slash <!-- &amp;", U"/d/\"quoted\" back\\slash <!-- &amp;"},
      {"/d/bad\xff\xfe bytes \xc3( \xed\xa0\x80 end", U"/d/bad\uFFFD\uFFFD bytes \uFFFD( \uFFFD\uFFFD\uFFFD end"},
      {"/d/caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\ttab", U"/d/caf\u00e9 \u20ac \U0001F600\ttab"},
  };
  std::vector<ArrayTask> tasks;
  for (const auto& [folder, shown] : names) {
    ArrayTask t;
    t.number = static_cast<int>(tasks.size()) + 1;
    t.folder = folder;
    t.exit = "0";
    t.x = {1, 2, 3};
    t.y = {0, 1, 0};
    tasks.push_back(t);
  }
  const std::string html = ArrayReportHtml(tasks, "/d/tasks");
  ASSERT_TRUE(CodePoints(html)) << "the page is no UTF-8";
  const std::string open = "<script type=\"application/json\" id=\"distributions\">";
  const std::size_t start = html.find(open);
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = html.find("</script", start);
  const std::string json = html.substr(start + open.size(), end - start - open.size());
  EXPECT_EQ(json.find('<'), std::string::npos) << json;
  EXPECT_EQ(json.back(), ']') << "the data block ends early: " << json;
  const std::vector<std::u32string> folders = JsonStringsOf(json, "folder");
  ASSERT_EQ(folders.size(), names.size()) << json;
  for (std::size_t k = 0; k < names.size(); ++k) EXPECT_TRUE(folders[k] == names[k].second) << k << ": " << json;
  // The table shows each name as text: no element of a name becomes markup.
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(Count(html, "</script>"), 2u);  // the data and the page's script
}

// CRC-32 of PNG chunks (ISO 3309), bit by bit.
std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

// A PNG of a 4 x 4 image whose header claims width x height (its checksum right).
std::vector<std::uint8_t> PngClaiming(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> png = *EncodePng(Image(4, 4, kWhite));
  for (int k = 0; k < 4; ++k) {
    png[16 + k] = static_cast<std::uint8_t>(width >> (24 - 8 * k));
    png[20 + k] = static_cast<std::uint8_t>(height >> (24 - 8 * k));
  }
  const std::uint32_t crc = Crc32(png.data() + 12, 17);
  for (int k = 0; k < 4; ++k) png[29 + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
  return png;
}

// A picture is decoded only when the size its header claims is within the cap:
// a file of a few hundred bytes that claims 100000 x 100000 pixels (30 GB) is
// refused before any pixel is made, by DecodePng and so by the report, whose other
// thumbnails stay.
TEST(ArrayReport, PicturesAreDecodedOnlyUpToACap) {
  std::string error;
  EXPECT_TRUE(DecodePng(PngClaiming(4, 4), &error)) << error;
  EXPECT_FALSE(DecodePng(PngClaiming(100000, 100000), &error));
  EXPECT_NE(error.find("claims 100000 x 100000 pixels"), std::string::npos) << error;
  EXPECT_FALSE(DecodePng(PngClaiming(4097, 4096), &error, 4096u * 4096u));
  // Claimed within the cap but not the bytes: libpng's own refusal.
  EXPECT_FALSE(DecodePng(PngClaiming(4096, 4096), &error, 4096u * 4096u));
  EXPECT_EQ(error.find("claims"), std::string::npos) << error;

  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ArrayReport.Cap";
  batch_fs::remove_all(root);
  batch_fs::create_directories(root + "/tasks");
  batch_fs::create_directories(root + "/results");
  const auto write = [](const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  };
  write(root + "/results/picture-data.png", PngClaiming(100000, 100000));
  write(root + "/results/picture-residuals.png", *EncodePng(Image(640, 200, kWhite)));
  std::ofstream(root + "/tasks/1.code") << "0\n";
  std::ofstream(root + "/tasks/1.results") << root << "/results\n";
  std::ofstream(root + "/list") << root << "/data\t1\n";
  const BatchOutput report = RunBatchProgram(root, {"--report", root + "/tasks", root + "/list"}, "report");
  ASSERT_EQ(report.code, 0) << report.err;
  const std::string html = ReadWhole(root + "/tasks/report.html");
  EXPECT_EQ(Count(html, "<img src=\"data:image/png"), 1u);
  EXPECT_NE(html.find("title=\"picture-residuals\""), std::string::npos);
  EXPECT_EQ(html.find("title=\"picture-data\""), std::string::npos);
}

// The list of an array's tasks: blank lines and comments are no tasks; a folder
// alone, or a folder (blanks and tabs in its name) and its cell after the last tab.
TEST(ArrayReport, TasksOfTheList) {
  EXPECT_EQ(ArrayTaskEntries("# a\n/x\n\n  \n  # b\n/y z\r\n/a\tb\t2\r\n/c\t\n"),
            (std::vector<ArrayTaskEntry>{{"/x", ""}, {"/y z", ""}, {"/a\tb", "2"}, {"/c", ""}}));
}

// Exit code 3 is a result computed with flags: its task is counted and coloured as
// such, its results are read, and no failure reason is given; 1 is a failure.
TEST(ArrayReport, AFlaggedTaskIsAResultNotAFailure) {
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ArrayReportFlagged";
  batch_fs::remove_all(dir);
  batch_fs::create_directories(dir);
  const char* summaries[] = {"computed\t", "computed with flags\tat a bound: D2 = 0; misfit", "not computed\t"};
  const char* codes[] = {"0", "3", "1"};
  for (int k = 1; k <= 3; ++k) {
    const std::string base = dir + "/" + std::to_string(k);
    std::ofstream(base + ".summary") << "data\tcell\tstatus\tflags\n/d" << k << "\t1\t" << summaries[k - 1] << "\n";
    std::ofstream(base + ".code") << codes[k - 1] << "\n";
    std::ofstream(base + ".results") << dir << "/results" << k << "\n";
    std::ofstream(base + ".err") << "tarmic-batch: the analysis was not computed; nothing is saved\n";
  }
  const std::vector<ArrayTask> tasks = ReadArrayTasks(dir, {{"/d1", "1"}, {"/d2", "1"}, {"/d3", "1"}});
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[1].reason, "");
  EXPECT_EQ(tasks[1].results, dir + "/results2");
  EXPECT_EQ(tasks[2].reason, "tarmic-batch: the analysis was not computed; nothing is saved");
  EXPECT_EQ(tasks[2].results, "");
  const std::string html = ArrayReportHtml(tasks, dir);
  EXPECT_NE(html.find("3 tasks, 1 computed, 1 computed with flags"), std::string::npos) << html;
  EXPECT_NE(html.find("1 failed or refused"), std::string::npos);
  EXPECT_NE(html.find("<tr data-task=\"1\"><td>"), std::string::npos);
  EXPECT_NE(html.find("<tr data-task=\"2\" class=\"flagged\">"), std::string::npos);
  EXPECT_NE(html.find("<tr data-task=\"3\" class=\"failed\">"), std::string::npos);
  EXPECT_NE(html.find("<td>at a bound: D2 = 0; misfit</td>"), std::string::npos);
}

}  // namespace
}  // namespace tarmic
