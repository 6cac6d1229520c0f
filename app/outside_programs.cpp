// The outside plot programs: where each plot command looks for its program.
#include "app/outside_programs.h"

#include "services/path_table.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

struct PlotProgram {
  int command;
  const char* file;
};

// The program file of each plot command in the "bin" folder.
constexpr PlotProgram kPlotPrograms[] = {
    {kCmPlotDataAs3d, "plotdata3d"},          // "Plot Data as 3d"
    {kCmMakeSedimentationMovie, "sedmovie"},            // "Make Sedimentation Movie"
    {kCmMATLABPlotDataFitRes, "plotdatafitres"},      // "... Plot Data + Fit + Res"
    {kCmMATLABPlotDataFitResDistribution, "plotdatafitresdist"},  // "... Plot Data + Fit + Res + Distribution"
    {kCmMATLABPlotSizeAndShapeDistribution, "plotsizeshape"},       // "... Plot Size-and-Shape Distribution"
    {kCmPlotTriangulatedStructureFromBEST, "plotstructure"},       // "Plot Triangulated Structure from ..."
};

}  // namespace

std::string OutsidePlotProgram(int commandId) {
  for (const PlotProgram& p : kPlotPrograms) {
    if (p.command == commandId) return szProgramDir + "bin/" + p.file;
  }
  return {};
}

}  // namespace tarmic
