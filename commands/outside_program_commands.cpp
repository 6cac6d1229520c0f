// The commands that start an outside program: the plot programs of the "bin"
// folder (878-883), the GUSSI plots (899, 900), the HYDROPRO calculation (876) and
// the export to the sibling program QUENTAR (577). Each first looks for its
// program; when it cannot be found the user is told which program is missing and
// where it was looked for. The hand-over of data to a program that is present is
// not part of this version, which says so naming the program it found.
#include <cstdlib>
#include <string>
#include <string_view>

#include <unistd.h>

#include "app/outside_programs.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "commands/unavailable_commands.h"
#include "services/path_table.h"
#include "platform/backend.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

struct OutsideProgram {
  int command;
  const char* name;  // as the user knows the program
  const char* file;  // its file name; empty for the plot programs of the "bin" folder
  bool searchPath;   // also looked for on the search path (PATH)
};

constexpr OutsideProgram kPrograms[] = {
    {kCmPlotDataAs3d, "plot program", "", false},
    {kCmMakeSedimentationMovie, "plot program", "", false},
    {kCmMATLABPlotDataFitRes, "MATLAB plot program", "", false},
    {kCmMATLABPlotDataFitResDistribution, "MATLAB plot program", "", false},
    {kCmMATLABPlotSizeAndShapeDistribution, "MATLAB plot program", "", false},
    {kCmPlotTriangulatedStructureFromBEST, "plot program", "", false},
    {kCmGUSSICSPlot, "GUSSI", "gussi", true},
    {kCmGUSSIDataFitResidualsPlot, "GUSSI", "gussi", true},
    {kCmHYDROPROCalculation, "HYDROPRO", "hydropro", true},
    {kCmExportDataToQUENTAR, "QUENTAR", "", false},
};

const OutsideProgram* FindProgram(int command) {
  for (const OutsideProgram& p : kPrograms)
    if (p.command == command) return &p;
  return nullptr;
}

// Where the program is looked for in the program's own folders.
std::string LocalPath(const OutsideProgram& p) {
  if (p.command == kCmExportDataToQUENTAR) return szSiblingExe;
  if (*p.file == '\0') return OutsidePlotProgram(p.command);
  return szProgramDir + p.file;
}

bool IsExecutableFile(const std::string& path) {
  return !path.empty() && access(path.c_str(), X_OK) == 0;
}

// The first directory of PATH that holds an executable file of that name.
std::string FindOnSearchPath(const std::string& file) {
  const char* env = std::getenv("PATH");
  if (!env) return {};
  std::string_view dirs(env);
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + file;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

// The program's file name as the message shows it.
std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text for a command whose program is missing, e.g. "Plot Data as 3d needs the
// outside plot program "plotdata3d", which was not found at /opt/tarmic/bin/plotdata3d."
// Empty when the program exists (or the command starts none).
std::string MissingOutsideProgramText(int command) {
  const OutsideProgram* p = FindProgram(command);
  if (!p) return {};
  const std::string local = LocalPath(*p);
  if (IsExecutableFile(local)) return {};
  if (p->searchPath && !FindOnSearchPath(p->file).empty()) return {};
  std::string text = CommandDisplayName(command) + " needs the outside " + p->name + " \"" +
                     FileName(local) + "\", which was not found at " + local;
  if (p->searchPath) text += " nor on the search path (PATH)";
  return text + ".";
}

}  // namespace

void TXLAWindow::CmOutsideProgram() {
  const std::string missing = MissingOutsideProgramText(nDispatchedCommand);
  if (!missing.empty()) {
    CommandMessageBox(*this, missing, "PROGRAM NOT FOUND", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  const OutsideProgram* p = FindProgram(nDispatchedCommand);
  // The box names the program and where it was found, as the box of a missing one
  // names where it was looked for.
  std::string found = CommandDisplayName(nDispatchedCommand);
  if (p) {
    const std::string local = LocalPath(*p);
    const std::string at = IsExecutableFile(local) ? local : FindOnSearchPath(p->file);
    found = std::string("The outside ") + p->name + " \"" + FileName(local) + "\"" + (at.empty() ? "" : " (" + at + ")");
  }
  CommandMessageBox(*this, found + " was found, but handing data to it is not available in this version",
                    "ATTENTION", MB_OK | MB_ICONINFORMATION);
}

}  // namespace tarmic
