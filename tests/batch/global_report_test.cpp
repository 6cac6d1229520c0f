// What tarmic-batch --global writes beside its tables, run as the user runs it on the
// shipped equilibrium run: the pictures (a panel per cell holding each of its data
// points in the colour of its speed, the residuals of every point, ln(c) of every
// point above the baseline), the summary row that --collect takes, and report.html;
// every file listed in the manifest.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "batch/batch_manifest.h"
#include "platform/picture_files.h"
#include "tests/batch/batch_test_support.h"
#include "tests/support/svg_document.h"

namespace tarmic {
namespace {

using namespace tarmic::testing;
namespace fs = std::filesystem;

struct Mark {
  double y;
  std::string fill;
};

// The point marks of an SVG picture (the ellipses) with the fill of the group that
// holds them, and the texts with their baselines.
std::vector<Mark> Marks(const SvgDocument& doc) {
  std::vector<Mark> marks;
  std::string fill;
  for (const SvgElement& e : doc.elements) {
    if (e.name == "g" && !e.Attr("fill").empty()) fill = e.Attr("fill");
    if (e.name == "ellipse") marks.push_back({std::stod(e.Attr("cy")), fill});
  }
  return marks;
}

// (radius, data) of the points of a fit-NN file.
std::vector<std::pair<double, double>> FitPoints(const std::string& text) {
  std::vector<std::pair<double, double>> points;
  for (const auto& row : TableRows(text)) points.emplace_back(std::stod(row.at("radius")), std::stod(row.at("data")));
  return points;
}

class GlobalReport : public ::testing::Test {
 protected:
  BatchOutput Run(const std::string& model, const std::string& out, std::vector<std::string> more = {}) {
    root_ = std::string(TARMIC_TEST_OUTPUT_DIR) + "/global-report";
    fs::create_directories(root_);
    fs::remove_all(root_ + "/" + out);
    const std::string ex = std::string(TARMIC_SOURCE_DIR) + "/examples/global_equilibrium";
    std::vector<std::string> args = {"--global", "--model", model, "--output", root_ + "/" + out};
    args.insert(args.end(), more.begin(), more.end());
    for (const char* cell : {"/cell1_280.xp", "/cell2_280.xp", "/cell3_280.xp"}) args.push_back(ex + cell);
    dir_ = root_ + "/" + out;
    return RunBatchProgram(root_, args, out);
  }
  std::string File(const std::string& name) const { return ReadWhole(dir_ + "/" + name); }
  std::string root_, dir_;
};

TEST_F(GlobalReport, PicturesHoldEveryPointInThePanelOfItsCell) {
  const BatchOutput r = Run("monomer-nmer", "nmer", {"--set", "n=2"});
  ASSERT_EQ(r.code, 0) << r.err;
  // The set: every file of the folder is in the manifest, with its digest.
  const auto manifest = ReadManifest(dir_);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(ManifestMismatch(*manifest, dir_), "");
  std::set<std::string> listed, present;
  for (const auto& f : manifest->files) listed.insert(f.name);
  for (const auto& e : fs::directory_iterator(dir_))
    if (e.path().filename() != kManifestName) present.insert(e.path().filename().string());
  EXPECT_EQ(listed, present);
  for (const char* name : {"picture-data", "picture-residuals", "picture-lnc"}) {
    EXPECT_TRUE(listed.count(std::string(name) + ".svg")) << name;
    const std::string png = File(std::string(name) + ".png");
    const auto image = DecodePng(std::vector<std::uint8_t>(png.begin(), png.end()));
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(image->Width(), 1600) << name;
  }
  for (const char* name : {"summary.tsv", "report.html"}) EXPECT_TRUE(listed.count(name)) << name;

  // What the pictures must show, from the run's own tables: each data set's cell,
  // speed, baseline and points.
  const auto sets = TableRows(File("data-sets.tsv"));
  ASSERT_EQ(sets.size(), 9u);
  std::map<int, std::size_t> pointsOfCell;
  std::map<int, std::set<std::string>> speedsOfCell;
  std::size_t points = 0, aboveBaseline = 0;
  for (std::size_t d = 0; d < sets.size(); ++d) {
    const int cell = std::stoi(sets[d].at("cell"));
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "fit-%02zu-", d + 1);
    const auto fit = FitPoints(File(prefix + fs::path(sets[d].at("scan file")).filename().string() + ".tsv"));
    pointsOfCell[cell] += fit.size();
    speedsOfCell[cell].insert(sets[d].at("speed rpm"));
    points += fit.size();
    const double baseline = std::stod(sets[d].at("baseline"));
    for (const auto& [radius, data] : fit) aboveBaseline += data - baseline > 0.0;
  }

  // picture-data: a titled panel per cell, top to bottom; the marks between one
  // title and the next are the points of that cell, one colour per speed.
  const SvgDocument data = ParseSvg(File("picture-data.svg"));
  ASSERT_TRUE(data.wellFormed) << data.error;
  std::vector<std::pair<double, int>> titles;  // baseline, cell
  for (const SvgElement* t : data.Named("text"))
    if (t->text.starts_with("cell ")) titles.emplace_back(std::stod(t->Attr("y")), std::stoi(t->text.substr(5)));
  ASSERT_EQ(titles.size(), pointsOfCell.size());
  std::sort(titles.begin(), titles.end());
  const std::vector<Mark> marks = Marks(data);
  EXPECT_EQ(marks.size(), points);
  std::set<std::string> allColours;
  for (std::size_t k = 0; k < titles.size(); ++k) {
    const double from = titles[k].first, to = k + 1 < titles.size() ? titles[k + 1].first : 1e9;
    std::size_t inPanel = 0;
    std::set<std::string> colours;
    for (const Mark& m : marks)
      if (m.y > from && m.y < to) {
        ++inPanel;
        colours.insert(m.fill);
      }
    const int cell = titles[k].second;
    EXPECT_EQ(inPanel, pointsOfCell[cell]) << "cell " << cell;
    EXPECT_EQ(colours.size(), speedsOfCell[cell].size()) << "cell " << cell;
    allColours.insert(colours.begin(), colours.end());
  }
  // A speed has the same colour in every panel.
  std::set<std::string> speeds;
  for (const auto& [cell, s] : speedsOfCell) speeds.insert(s.begin(), s.end());
  EXPECT_EQ(allColours.size(), speeds.size());

  // The residuals: a mark for every point, and the bitmap; ln(c): a mark for every
  // point above its fitted baseline.
  const SvgDocument residuals = ParseSvg(File("picture-residuals.svg"));
  ASSERT_TRUE(residuals.wellFormed) << residuals.error;
  EXPECT_EQ(Marks(residuals).size(), points);
  EXPECT_EQ(residuals.Named("image").size(), 1u);
  const SvgDocument lnc = ParseSvg(File("picture-lnc.svg"));
  ASSERT_TRUE(lnc.wellFormed) << lnc.error;
  EXPECT_EQ(Marks(lnc).size(), aboveBaseline);
}

TEST_F(GlobalReport, SummaryRowAndPageSayTheGlobalValues) {
  struct Case {
    std::string model, out;
    std::vector<std::string> more;
    int code;
    std::string status;
  };
  for (const Case& c : {Case{"monomer-nmer", "row-nmer", {"--set", "n=2", "--seed", "5"}, 0, "computed"},
                        // One ideal species for a monomer-dimer run: computed, a misfit.
                        Case{"ideal1", "row-ideal1", {}, 3, "computed with flags"}}) {
    const BatchOutput r = Run(c.model, c.out, c.more);
    ASSERT_EQ(r.code, c.code) << r.err;
    // The summary: header and one row, printed and kept as summary.tsv.
    EXPECT_EQ(r.out, File("summary.tsv"));
    std::istringstream lines(r.out);
    std::string header, row, extra;
    std::getline(lines, header);
    std::getline(lines, row);
    EXPECT_FALSE(std::getline(lines, extra)) << extra;
    EXPECT_EQ(std::count(header.begin(), header.end(), '\t'), std::count(row.begin(), row.end(), '\t'));
    const auto summary = TableRows(r.out);
    ASSERT_EQ(summary.size(), 1u);
    const auto& s = summary[0];
    EXPECT_EQ(s.at("status"), c.status);
    EXPECT_EQ(s.at("model"), c.model + (c.model == "monomer-nmer" ? " n=2" : ""));
    EXPECT_EQ(s.at("data sets"), "9");
    EXPECT_EQ(s.at("points"), "1800");
    EXPECT_EQ(s.at("seed"), c.code == 0 ? "5" : "0");
    EXPECT_NE(s.at("experiment files").find("cell3_280.xp"), std::string::npos);
    if (c.code == 3) {
      EXPECT_NE(s.at("flags").find("misfit"), std::string::npos);
    } else {
      EXPECT_EQ(s.at("flags"), "");
    }
    // Each global value and its error, as global-parameters.tsv gives them.
    const std::string page = File("report.html");
    const auto globals = TableRows(File("global-parameters.tsv"));
    ASSERT_FALSE(globals.empty());
    for (const auto& g : globals) {
      const std::string unit = g.at("unit").empty() ? "" : " [" + g.at("unit") + "]";
      EXPECT_EQ(s.at(g.at("parameter") + unit), g.at("value"));
      EXPECT_EQ(s.at(g.at("parameter") + " error" + unit), g.at("error"));
      for (const char* column : {"parameter", "value", "error", "lower 95%", "upper 95%"})
        EXPECT_NE(page.find("<td>" + g.at(column) + "</td>"), std::string::npos) << column;
    }
    // The page: status, flags, exit code, the data sets and the pictures.
    EXPECT_NE(page.find("<th>status</th><td>" + c.status), std::string::npos);
    EXPECT_NE(page.find("<th>exit code</th><td>" + std::to_string(c.code) + ": "), std::string::npos);
    EXPECT_NE(page.find("<th>flags</th><td>" + (c.code == 3 ? s.at("flags") : std::string("none"))),
              std::string::npos);
    for (const auto& set : TableRows(File("data-sets.tsv")))
      EXPECT_NE(page.find("<td>" + set.at("scan file") + "</td>"), std::string::npos);
    for (const char* name : {"picture-data", "picture-residuals", "picture-lnc"}) {
      const std::size_t link = page.find("<a class=\"picture\" href=\"" + std::string(name) + ".svg\"");
      ASSERT_NE(link, std::string::npos) << name;
      EXPECT_EQ(page.compare(page.find("<img src=\"", link) + 10, 22, "data:image/png;base64,"), 0) << name;
    }
  }
}

}  // namespace
}  // namespace tarmic
