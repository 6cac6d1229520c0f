// The report of a job array of tarmic-batch (scripts/tarmic-array.sbatch): one
// HTML page, report.html in the tasks' folder, that holds everything it shows (no
// network, no scripts or fonts from elsewhere; the full pictures it links lie in the
// tasks' result folders): the table of the tasks' summaries, sortable by any column;
// the distributions of all tasks in one plot, normalised to equal area at one click;
// small pictures of each task linked to its full pictures; and each task that failed
// or was refused marked with its reason.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarmic {

// What the report knows of one task, from the files the array script leaves in the
// tasks' folder (N.summary, N.code, N.err, N.results) and the task's results.
struct ArrayTask {
  int number = 0;
  std::string folder;   // the data folder of LIST
  std::string exit;     // the exit code, or "not run"
  std::vector<std::string> columns, values;  // the summary
  std::string reason;   // why it failed or was refused; empty when it computed
  std::string results;  // the folder of its results
  std::vector<double> x, y;  // its saved distribution (none without one)
  bool overM = false;
};

// The data folders of LIST: one a line, without blank lines and lines starting with #.
std::vector<std::string> ArrayFolders(const std::string& listText);
// The tasks of the array in the order of LIST.
std::vector<ArrayTask> ReadArrayTasks(const std::string& dir, const std::vector<std::string>& folders);
// The page; pictures are taken from the tasks' result folders and linked relative to dir.
std::string ArrayReportHtml(const std::vector<ArrayTask>& tasks, const std::string& dir);
// Writes dir/report.html for LIST; the exit code of tarmic-batch (problems said on err).
int WriteArrayReport(const std::string& dir, const std::string& list, std::FILE* err);

}  // namespace tarmic
