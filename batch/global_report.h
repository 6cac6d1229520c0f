// What a global run of tarmic-batch writes beside its tables: the pictures (the data
// and fits of each cell, the residuals as a stack and as a bitmap, ln(c) against
// r^2), the summary (summary.tsv, the same header and row it prints, which the array
// script's --collect takes as the run's row) and report.html, one page that shows
// the run's status, flags, exit code, the global values with their limits, the data
// sets and the pictures. The pictures are drawn by the program's plots and written
// as SVG and PNG, as the pictures of every batch run.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "batch/batch_summary.h"
#include "engine/engine.h"

namespace tarmic {

// A file of the result set: its name in the output folder and its bytes.
using GlobalFile = std::pair<std::string, std::string>;

// The run as the command line gave it.
struct GlobalRunInfo {
  std::vector<std::string> experimentFiles;
  std::string model;  // "monomer-nmer n=2"
  std::string seed;
};

inline constexpr const char* kGlobalSummaryFile = "summary.tsv";
inline constexpr const char* kGlobalReportFile = "report.html";
// The pictures of a global run (each written as NAME.svg and NAME.png).
inline constexpr const char* kGlobalPictureNames[] = {"picture-data", "picture-residuals", "picture-lnc"};

// The exit code of a solved fit whose files are written: 0 converged without a flag,
// 3 converged with a flag (a misfit, a value at a bound, an open limit), 1 not
// converged, stopped or refused.
int GlobalExitCode(const engine::Summary& s);

// The summary row: experiment files, model, status, flags, rmsd [OD], data sets,
// points, each global value and its error with its unit, notes, seed.
BatchSummary GlobalSummary(const GlobalRunInfo& run, const engine::Summary& s);

// The pictures, each as NAME.svg and NAME.png.
std::vector<GlobalFile> GlobalPictureFiles(const engine::Problem& problem, const engine::Summary& s);

// The page of the run. files: the set's files written before it, of which the
// global parameters, the data sets and the pictures are shown.
std::string GlobalReportHtml(const GlobalRunInfo& run, const engine::Summary& s, const std::vector<GlobalFile>& files);

// Adds the pictures, summary.tsv and report.html to the set's files.
void AddGlobalReportFiles(const GlobalRunInfo& run, const engine::Problem& problem, const engine::Summary& s,
                          std::vector<GlobalFile>* files);

// A value as the global run's tables, summary and page write it (8 significant digits).
std::string GlobalNumber(double v);

}  // namespace tarmic
