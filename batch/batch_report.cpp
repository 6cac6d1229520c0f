#include "batch/batch_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "batch/batch_options.h"
#include "commands/result_pictures.h"
#include "distributions/distribution_file.h"
#include "numerics/text_lines.h"
#include "platform/picture_files.h"
#include "scandata/text_io.h"
#include "storage/atomic_file.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

// Width of the small pictures, pixels.
constexpr int kThumbnailWidth = 320;
// The largest picture file made into a small picture, and the most pixels it may
// claim (the batch writes 1600 pixels wide, about 1200 high).
constexpr std::uintmax_t kMostThumbnailBytes = 32u << 20;
constexpr std::uint64_t kMostThumbnailPixels = 4096u * 4096u;
// The most bytes of small pictures put into the page itself; the rest are linked.
constexpr std::size_t kMostInlinedBytes = 640u << 10;

std::string ReadText(const std::string& path) {
  std::string text;
  // Texts shown in the report as they stand.
  return ReadWholeTextFile(path, LastLine::kAsItStands, &text) ? text : std::string();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

// The states of a task (N.state, written by the array script's --collect).
constexpr const char* kComputed = "computed";
constexpr const char* kComputedWithFlags = "computed with flags";
constexpr const char* kFailed = "failed";
constexpr const char* kRunning = "running";

// Whether the task computed and kept its results in this round: exit code 0, or 3
// with flags.
bool TaskFlagged(const ArrayTask& t) { return t.state == kComputedWithFlags; }
bool TaskComputed(const ArrayTask& t) { return t.state == kComputed || TaskFlagged(t); }
// Whether it is running or waiting to run in this round (as Slurm lists it).
bool TaskUnderWay(const ArrayTask& t) { return t.state == kRunning || t.state == "waiting" || t.state == "running or lost"; }
// Whether it ended in this round, with an exit code of it.
bool TaskEnded(const ArrayTask& t) { return TaskComputed(t) || t.state == kFailed; }

// The state of a task from its exit code alone (a folder of tasks without N.state).
std::string StateOfExit(const std::string& exit) {
  if (exit == "not run") return "not run";
  if (exit == std::to_string(kBatchComputed)) return kComputed;
  if (exit == std::to_string(kBatchComputedWithFlags)) return kComputedWithFlags;
  return kFailed;
}

// The signal that ended a task, from its exit code (128 + N, as the shell gives
// it); 0 for none.
int SignalOfExit(const std::string& exit) {
  if (exit.empty() || exit.size() > 3 || !std::all_of(exit.begin(), exit.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  int code = 0;
  for (char c : exit) code = code * 10 + (c - '0');
  return code > 128 && code < 192 ? code - 128 : 0;
}

// Why a task failed: ended by a signal (whatever the shell said of it), else the
// last line the batch or the array script said of it (the drawn seed is no
// reason), else its last line, else what its exit code means.
std::string FailureReason(const std::string& errText, const std::string& exit, const std::string& status) {
  if (const int signal = SignalOfExit(exit)) return "ended by signal " + std::to_string(signal);
  std::string said, last;
  for (const std::string& line : Lines(errText)) {
    if (Trimmed(line).empty()) continue;
    last = Trimmed(line);
    const bool own = line.starts_with("tarmic-batch: ") || line.starts_with("tarmic-array: ");
    if (own && !line.starts_with("tarmic-batch: seed ")) said = last;
  }
  if (!said.empty()) return said;
  if (!last.empty()) return last;
  if (exit == "not run") return "not run: the task left no exit code";
  if (!status.empty()) return "the analysis was " + status;
  return "exit code " + exit;
}

// The length of the well-formed UTF-8 sequence at s[i] (1 to 4), or 0 when the
// bytes there are none (a stray continuation byte, an overlong form, a surrogate,
// beyond U+10FFFF, or cut short): a folder's name is bytes, the page is UTF-8.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
  const unsigned c = at(0);
  const auto cont = [&](std::size_t k, unsigned low = 0x80, unsigned high = 0xBF) {
    return at(k) >= low && at(k) <= high;
  };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
  if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
  if (c >= 0xE1 && c <= 0xEF) return cont(1) && cont(2) ? 3 : 0;
  if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
  if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
  return 0;
}

// The text as well-formed UTF-8: each byte that begins no character is U+FFFD.
std::string ValidUtf8(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8Length(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

std::string Html(const std::string& text) {
  std::string out;
  for (char c : ValidUtf8(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A path as the relative URL of a link: every byte but the unreserved ones and '/'
// percent-encoded.
std::string UrlPath(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string LinkTo(const std::string& file, const std::string& dir) {
  std::error_code ec;
  const fs::path relative = fs::relative(file, dir, ec);
  if (!ec && !relative.empty()) return UrlPath(relative.generic_string());
  return "file://" + UrlPath(fs::absolute(file, ec).generic_string());
}

// A JSON string, safe inside a script element: no '<' (so no "</script" or
// "<!--"), and well-formed UTF-8, which JSON requires.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : ValidUtf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else if (c == '<') {
      out += "\\u003c";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The length of the folder all names lie in (up to and with its last '/'), 0 for
// none or fewer than two names: "/d/run1/a cell 1", "/d/run2/b" have "/d/" in common.
std::size_t CommonParentLength(const std::vector<std::string>& names) {
  if (names.size() < 2) return 0;
  std::size_t common = names[0].size();
  for (const std::string& name : names) {
    std::size_t k = 0;
    while (k < common && k < name.size() && name[k] == names[0][k]) ++k;
    common = k;
  }
  const std::size_t slash = common == 0 ? std::string::npos : names[0].rfind('/', common - 1);
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "0";
  char buffer[32];
  // Five digits: a tenth of a pixel of the plot, at a third of the bytes of all.
  std::snprintf(buffer, sizeof buffer, "%.5g", v);
  return buffer;
}

// The small pictures of a task, each linked to its full SVG. They are put into the
// page while *inlined (the bytes of the pictures put in so far) stays under
// kMostInlinedBytes; after that the page links the PNG itself, loaded as it
// scrolls into view, so that the page of hundreds of tasks stays small.
std::string Thumbnails(const ArrayTask& task, const std::string& dir, std::size_t* inlined) {
  std::string html;
  if (task.results.empty()) return html;
  for (const std::string& name : AllResultPictureNames()) {
    const std::string png = JoinPath(task.results, name + ".png");
    const std::string svg = JoinPath(task.results, name + ".svg");
    std::error_code exists;
    const std::string target = fs::exists(svg, exists) ? svg : png;
    if (*inlined >= kMostInlinedBytes) {
      if (!fs::is_regular_file(png, exists)) continue;
      html += "<a class=\"picture\" href=\"" + Html(LinkTo(target, dir)) + "\" title=\"" + Html(name) +
              "\"><img loading=\"lazy\" src=\"" + Html(LinkTo(png, dir)) + "\" alt=\"" + Html(name) + "\" width=\"" +
              std::to_string(kThumbnailWidth / 2) + "\"></a>";
      continue;
    }
    // A picture is read and decoded only up to a size the batch's own pictures
    // never reach: a file that claims more is no thumbnail of the page. The one
    // door to files that are read (regular files only), byte for byte.
    std::error_code sizeError;
    if (fs::file_size(png, sizeError) > kMostThumbnailBytes || sizeError) continue;
    std::string raw;
    if (!ReadFileBytes(png, &raw)) continue;
    const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
    const std::optional<Image> image = DecodePng(bytes, nullptr, kMostThumbnailPixels);
    if (!image) continue;
    const std::string uri = PngDataUri(ShrinkImage(*image, kThumbnailWidth));
    if (uri.empty()) continue;
    *inlined += uri.size();
    html += "<a class=\"picture\" href=\"" + Html(LinkTo(target, dir)) + "\" title=\"" + Html(name) + "\"><img src=\"" +
            uri + "\" alt=\"" + Html(name) + "\" width=\"" + std::to_string(kThumbnailWidth / 2) + "\"></a>";
  }
  return html;
}

// The peaks of a distribution as peaks.tsv gives them (a header line, then a line
// a peak), one text: "2.503 S (2.498 to 2.509), area 0.4012 (0.39 to 0.41); ...",
// the ranges being the Monte-Carlo limits where the file has them.
std::string PeaksOf(const std::string& path) {
  const std::vector<std::string> lines = Lines(ReadText(path));
  if (lines.empty()) return "";
  const std::vector<std::string> header = Fields(lines[0]);
  std::string text;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (Trimmed(lines[k]).empty()) continue;
    const std::vector<std::string> fields = Fields(lines[k]);
    const auto cell = [&](const char* name) {
      const auto at = std::find(header.begin(), header.end(), name);
      const std::size_t c = static_cast<std::size_t>(at - header.begin());
      return at != header.end() && c < fields.size() ? fields[c] : std::string();
    };
    const auto range = [&](const char* low, const char* high) {
      return cell(low).empty() || cell(high).empty() ? std::string() : " (" + cell(low) + " to " + cell(high) + ")";
    };
    std::string peak = cell("position");
    if (!cell("unit").empty()) peak += " " + cell("unit");
    peak += range("position low", "position high") + ", area " + cell("area") + range("area low", "area high");
    text += (text.empty() ? "" : "; ") + peak;
  }
  return text;
}

const char* const kStyle = R"(
body { font-family: sans-serif; margin: 1.5em; color: #111; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
th { background: #eee; cursor: pointer; user-select: none; }
th.sorted-up::after { content: " \25B2"; }
th.sorted-down::after { content: " \25BC"; }
tr.failed td { background: #fde2e2; }
tr.flagged td { background: #fff4cc; }
tr.running td { background: #e2ecfd; }
tr.lost td { background: #e5e5e5; color: #555; }
td.reason { color: #a00; max-width: 30em; }
a.picture img { border: 1px solid #ccc; margin: 0 0.25em 0.25em 0; }
#overlay { border: 1px solid #ccc; background: #fff; }
#legend span { margin-right: 1em; white-space: nowrap; }
button { margin: 0.5em 0; }
)";

// Sorting of the table and the overlay of the distributions, drawn from the data
// embedded above the script.
const char* const kScript = R"(
(function () {
  'use strict';
  var table = document.getElementById('tasks');
  var headers = table.tHead.rows[0].cells;
  var numeric = /^\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?\s*$/;
  function sortBy(col) {
    var th = headers[col];
    var down = th.classList.contains('sorted-up');
    for (var i = 0; i < headers.length; i++) headers[i].classList.remove('sorted-up', 'sorted-down');
    th.classList.add(down ? 'sorted-down' : 'sorted-up');
    var body = table.tBodies[0];
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = a.cells[col].textContent, y = b.cells[col].textContent;
      var r = numeric.test(x) && numeric.test(y) ? parseFloat(x) - parseFloat(y) : x.localeCompare(y);
      if (r === 0) r = parseInt(a.dataset.task, 10) - parseInt(b.dataset.task, 10);
      return down ? -r : r;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  }
  Array.prototype.forEach.call(headers, function (th, col) {
    th.addEventListener('click', function () { sortBy(col); });
  });

  var data = JSON.parse(document.getElementById('distributions').textContent);
  var svg = document.getElementById('overlay');
  var button = document.getElementById('normalise');
  var legend = document.getElementById('legend');
  // Twenty colours apart from each other, then the same again dashed, and dotted:
  // sixty curves told apart.
  var colours = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e', '#17becf', '#e377c2', '#7f7f7f',
                 '#bcbd22', '#8c564b', '#000080', '#800000', '#006400', '#4b0082', '#b8860b', '#008080',
                 '#ff1493', '#2f4f4f', '#6b8e23', '#ff4500'];
  var dashes = ['', '6 3', '2 2'];
  var normalised = false;
  var ns = 'http://www.w3.org/2000/svg';
  function area(d) {
    var a = 0;
    for (var i = 1; i < d.x.length; i++) a += 0.5 * (d.y[i] + d.y[i - 1]) * (d.x[i] - d.x[i - 1]);
    return a;
  }
  function element(name, attributes, text) {
    var e = document.createElementNS(ns, name);
    for (var k in attributes) e.setAttribute(k, attributes[k]);
    if (text !== undefined) e.textContent = text;
    svg.appendChild(e);
    return e;
  }
  function draw() {
    while (svg.firstChild) svg.removeChild(svg.firstChild);
    if (data.length === 0) {
      element('text', {x: 20, y: 40}, 'no task saved a distribution');
      button.disabled = true;
      return;
    }
    var W = 900, H = 400, L = 70, R = 20, T = 20, B = 50;
    var xmin = Infinity, xmax = -Infinity, ymax = 0;
    var curves = data.map(function (d) {
      var a = area(d), f = normalised && a > 0 ? 1 / a : 1;
      var y = d.y.map(function (v) { return v * f; });
      d.x.forEach(function (v) { xmin = Math.min(xmin, v); xmax = Math.max(xmax, v); });
      y.forEach(function (v) { ymax = Math.max(ymax, v); });
      return {d: d, y: y};
    });
    if (!(xmax > xmin)) xmax = xmin + 1;
    if (!(ymax > 0)) ymax = 1;
    function px(v) { return L + (v - xmin) / (xmax - xmin) * (W - L - R); }
    function py(v) { return H - B - v / ymax * (H - T - B); }
    element('rect', {x: L, y: T, width: W - L - R, height: H - T - B, fill: 'none', stroke: '#000'});
    for (var k = 0; k <= 5; k++) {
      var xv = xmin + k * (xmax - xmin) / 5, yv = k * ymax / 5;
      element('text', {x: px(xv), y: H - B + 18, 'text-anchor': 'middle', 'font-size': 12}, xv.toPrecision(3));
      element('text', {x: L - 6, y: py(yv) + 4, 'text-anchor': 'end', 'font-size': 12}, yv.toPrecision(3));
    }
    var overM = data.some(function (d) { return d.overM; });
    element('text', {x: (L + W - R) / 2, y: H - 10, 'text-anchor': 'middle', 'font-size': 13},
            overM ? 'M [g/mol]' : 'sed coefficient [S]');
    element('text', {x: 16, y: (T + H - B) / 2, 'text-anchor': 'middle', 'font-size': 13,
                     transform: 'rotate(-90 16 ' + (T + H - B) / 2 + ')'},
            normalised ? 'distribution / area' : 'distribution');
    legend.textContent = '';
    curves.forEach(function (c, i) {
      var colour = colours[i % colours.length];
      var dash = dashes[Math.floor(i / colours.length) % dashes.length];
      var path = c.d.x.map(function (v, j) { return (j ? 'L' : 'M') + px(v).toFixed(1) + ' ' + py(c.y[j]).toFixed(1); });
      element('path', {d: path.join(' '), fill: 'none', stroke: colour, 'stroke-width': 1.5, 'class': 'curve',
                       'stroke-dasharray': dash || 'none', 'data-task': c.d.task});
      var item = document.createElement('span');
      item.style.color = colour;
      item.textContent = (dash === '' ? '\u2014 ' : dash === '6 3' ? '- - ' : '\u00b7\u00b7\u00b7 ') + c.d.label +
                         ' (task ' + c.d.task + ')';
      legend.appendChild(item);
    });
    button.textContent = normalised ? 'show as computed' : 'normalise to equal area';
  }
  button.addEventListener('click', function () { normalised = !normalised; draw(); });
  draw();
})();
)";

}  // namespace

std::vector<ArrayTaskEntry> ArrayTaskEntries(const std::string& listText) {
  std::vector<ArrayTaskEntry> entries;
  for (const std::string& line : Lines(listText)) {
    const std::string t = Trimmed(line);
    if (t.empty() || t.front() == '#') continue;
    const std::size_t tab = line.rfind('\t');
    if (tab == std::string::npos) {
      entries.push_back({line, ""});
    } else {
      entries.push_back({line.substr(0, tab), Trimmed(line.substr(tab + 1))});
    }
  }
  return entries;
}

std::vector<ArrayTask> ReadArrayTasks(const std::string& dir, const std::vector<ArrayTaskEntry>& entries) {
  std::vector<ArrayTask> tasks;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ArrayTask t;
    t.number = static_cast<int>(i) + 1;
    t.folder = entries[i].folder;
    t.cell = entries[i].cell;
    const std::string base = JoinPath(dir, std::to_string(t.number));
    const std::string code = Trimmed(ReadText(base + ".code"));
    t.exit = code.empty() ? "not run" : code;
    t.state = Trimmed(ReadText(base + ".state"));
    if (t.state.empty()) t.state = StateOfExit(t.exit);
    t.label = entries[i].cell.empty() ? t.folder : t.folder + " cell " + entries[i].cell;
    if (!TaskEnded(t)) {
      // Its files are of an earlier round, or of no end at all.
      t.exit = "-";
      t.reason = TaskUnderWay(t)         ? t.state
                 : t.state == "not run" ? "not run: the task left no exit code"
                                        : t.state + ": it did not end in this round";
      tasks.push_back(std::move(t));
      continue;
    }
    const std::vector<std::string> summary = Lines(ReadText(base + ".summary"));
    if (summary.size() >= 2) {
      t.columns = Fields(summary[0]);
      t.values = Fields(summary[1]);
      t.values.resize(t.columns.size());
    }
    std::string status;
    for (std::size_t c = 0; c < t.columns.size(); ++c)
      if (t.columns[c] == "status") status = t.values[c];
    if (!TaskComputed(t)) t.reason = FailureReason(ReadText(base + ".err"), t.exit, status);
    // The folder the task wrote its results into. Only a task that ended with 0 or 3
    // (computed, with or without flags, or its complete set kept) has results of its
    // own there: a task that failed saved nothing, and what its folder holds is of
    // another run.
    if (TaskComputed(t)) t.results = Trimmed(ReadText(base + ".results"));
    if (!t.results.empty()) {
      ReadSavedDistributionCurve(JoinPath(t.results, "distribution.dat"), &t.x, &t.y, &t.overM);
      t.peaks = PeaksOf(JoinPath(t.results, "peaks.tsv"));
    }
    tasks.push_back(std::move(t));
  }
  return tasks;
}

std::string ArrayReportHtml(const std::vector<ArrayTask>& tasks, const std::string& dir) {
  // The columns of every summary, in the order first met.
  std::vector<std::string> columns;
  for (const ArrayTask& t : tasks)
    for (const std::string& c : t.columns)
      if (std::find(columns.begin(), columns.end(), c) == columns.end()) columns.push_back(c);
  // A task without a summary is named by its folder and cell.
  if (std::find(columns.begin(), columns.end(), "data") == columns.end()) columns.insert(columns.begin(), "data");
  if (std::find(columns.begin(), columns.end(), "cell") == columns.end())
    columns.insert(std::find(columns.begin(), columns.end(), "data") + 1, "cell");
  const bool peaks = std::any_of(tasks.begin(), tasks.end(), [](const ArrayTask& t) { return !t.peaks.empty(); });
  int computed = 0, failed = 0, flagged = 0, running = 0, lost = 0;
  for (const ArrayTask& t : tasks) {
    computed += t.state == kComputed;
    flagged += TaskFlagged(t);
    failed += t.state == kFailed;
    running += TaskUnderWay(t);
    lost += !TaskEnded(t) && !TaskUnderWay(t);
  }
  // The curves are named by folder and cell, without the folders' common parent.
  std::vector<std::string> labels;
  for (const ArrayTask& t : tasks)
    if (t.x.size() >= 2) labels.push_back(t.label);
  const std::size_t parent = CommonParentLength(labels);

  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>tarmic-batch report: " +
                     Html(dir) + "</title>\n<style>" + kStyle + "</style></head>\n<body>\n";
  html += "<h1>tarmic-batch report</h1>\n<p>" + Html(dir) + ": " + std::to_string(tasks.size()) + " tasks, " +
          std::to_string(computed) + " computed, " + std::to_string(flagged) +
          " computed with flags (their results kept; the flags column says what holds), " + std::to_string(failed) +
          " failed or refused, " + std::to_string(running) + " running or waiting, " + std::to_string(lost) +
          " cancelled or lost (not ended in this round: their results, if any, are not shown).</p>\n";
  html += "<h2>Distributions</h2>\n<button id=\"normalise\" type=\"button\">normalise to equal area</button>\n"
          "<div><svg id=\"overlay\" xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"400\" "
          "viewBox=\"0 0 900 400\"></svg></div>\n<div id=\"legend\"></div>\n";
  html += "<h2>Tasks</h2>\n<p>Click a column's title to sort by it.</p>\n<table id=\"tasks\"><thead><tr><th>task</th><th>exit</th><th>state</th>";
  for (const std::string& c : columns) html += "<th>" + Html(c) + "</th>";
  if (peaks) html += "<th>peak positions and areas</th>";
  html += "<th>reason</th><th>pictures</th></tr></thead>\n<tbody>\n";
  std::size_t inlined = 0;
  for (const ArrayTask& t : tasks) {
    const char* rowClass = t.state == kFailed        ? " class=\"failed\""
                           : TaskFlagged(t)             ? " class=\"flagged\""
                           : TaskUnderWay(t)            ? " class=\"running\""
                           : !TaskComputed(t)           ? " class=\"lost\""
                                                        : "";
    html += std::string("<tr data-task=\"") + std::to_string(t.number) + "\"" + rowClass +
            "><td>" + std::to_string(t.number) + "</td><td>" + Html(t.exit) + "</td><td>" + Html(t.state) + "</td>";
    for (const std::string& c : columns) {
      std::string value;
      for (std::size_t k = 0; k < t.columns.size(); ++k)
        if (t.columns[k] == c) value = t.values[k];
      if (c == "data" && t.columns.empty()) value = t.folder;
      if (c == "cell" && t.columns.empty()) value = t.cell;
      html += "<td>" + Html(value) + "</td>";
    }
    if (peaks) html += "<td>" + Html(t.peaks) + "</td>";
    html += "<td class=\"reason\">" + Html(t.reason) + "</td><td>" + Thumbnails(t, dir, &inlined) + "</td></tr>\n";
  }
  html += "</tbody></table>\n<script type=\"application/json\" id=\"distributions\">[";
  bool first = true;
  for (const ArrayTask& t : tasks) {
    if (t.x.size() < 2) continue;
    html += first ? "\n" : ",\n";
    first = false;
    html += "{\"task\":" + std::to_string(t.number) + ",\"overM\":" + (t.overM ? "true" : "false") + ",\"x\":[";
    for (std::size_t i = 0; i < t.x.size(); ++i) html += (i ? "," : "") + JsonNumber(t.x[i]);
    html += "],\"y\":[";
    for (std::size_t i = 0; i < t.y.size(); ++i) html += (i ? "," : "") + JsonNumber(t.y[i]);
    html += "],\"folder\":" + Json(t.folder) + ",\"label\":" + Json(t.label.substr(parent)) + "}";
  }
  html += "]</script>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n";
  return html;
}

std::string ReportHtmlText(const std::string& text) { return Html(text); }
std::string ReportUrlPath(const std::string& path) { return UrlPath(path); }
const char* ReportStyleSheet() { return kStyle; }

int WriteArrayReport(const std::string& dir, const std::string& list, std::FILE* err) {
  std::string listText;
  if (!ReadWholeTextFile(list, LastLine::kRefused, &listText)) {
    std::fprintf(err, "tarmic-batch: the list %s cannot be read\n", list.c_str());
    return kBatchInputRefused;
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    std::fprintf(err, "tarmic-batch: %s is no folder of tasks\n", dir.c_str());
    return kBatchInputRefused;
  }
  const std::string html = ArrayReportHtml(ReadArrayTasks(dir, ArrayTaskEntries(listText)), dir);
  std::string error;
  if (!WriteTextFileAtomically(JoinPath(dir, "report.html"), html, &error)) {
    std::fprintf(err, "tarmic-batch: the report could not be written: %s\n", error.c_str());
    return kBatchAnalysisRefused;
  }
  return kBatchComputed;
}

}  // namespace tarmic
