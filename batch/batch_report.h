// The report of a job array of tarmic-batch (scripts/tarmic-array.sbatch): one
// HTML page, report.html in the tasks' folder, that holds everything it shows (no
// network, no scripts or fonts from elsewhere; the full pictures it links lie in the
// tasks' result folders): the table of the tasks' summaries with the peaks of each
// distribution (its peaks.tsv), sortable by any column;
// the distributions of all tasks in one plot, normalised to equal area at one click;
// small pictures of each task linked to its full pictures; each task that failed
// or was refused marked with its reason, and each computed with flags (exit code 3,
// its results kept) marked as such.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarmic {

// One task of the array as the array script lists it: the data folder and the cell
// its task analyses (empty for a folder without scans, whose task says so).
struct ArrayTaskEntry {
  std::string folder, cell;
  bool operator==(const ArrayTaskEntry&) const = default;
};

// What the report knows of one task, from the files the array script leaves in the
// tasks' folder (N.state, N.summary, N.code, N.err, N.results) and the task's
// results. Only a task that ended in the array's latest round (N.state computed,
// computed with flags or failed; without N.state, any exit code) has its summary
// and results read: what a cancelled or lost task left is of an earlier round.
struct ArrayTask {
  int number = 0;
  std::string folder;   // the data folder of LIST
  std::string cell;     // the cell of the task, as LIST gives it
  std::string exit;     // the exit code of this round, "-" when it left none in it
  // "computed", "computed with flags", "failed", "running", "cancelled or lost"
  // (as the array script's --collect found it, N.state), or "not run"
  std::string state;
  std::string label;    // the curve's name in the overlay: folder and cell
  std::vector<std::string> columns, values;  // the summary
  std::string reason;   // why it failed or was refused; empty when it computed
  std::string results;  // the folder of its results; empty when the task named none
  std::string peaks;    // its distribution's peaks (peaks.tsv), one text
  std::vector<double> x, y;  // its saved distribution (none without one)
  bool overM = false;
};

// The tasks of LIST, one a line: a data folder, or a folder, a tab and the cell of
// the task (as `tarmic-array.sbatch` lists its tasks); blank lines and lines
// starting with # are no tasks, and a line's CR is no part of it.
std::vector<ArrayTaskEntry> ArrayTaskEntries(const std::string& listText);
// The tasks of the array in the order of LIST.
std::vector<ArrayTask> ReadArrayTasks(const std::string& dir, const std::vector<ArrayTaskEntry>& entries);
// The page; pictures are taken from the tasks' result folders and linked relative to dir.
std::string ArrayReportHtml(const std::vector<ArrayTask>& tasks, const std::string& dir);
// Writes dir/report.html for LIST; the exit code of tarmic-batch (problems said on err).
int WriteArrayReport(const std::string& dir, const std::string& list, std::FILE* err);

// What every page of the batch is made with: text made safe for HTML (well-formed
// UTF-8, the markup characters escaped), a path as a relative URL, the style sheet.
std::string ReportHtmlText(const std::string& text);
std::string ReportUrlPath(const std::string& path);
const char* ReportStyleSheet();

}  // namespace tarmic
