// The simulation arrays' grid laid in the cell of the current analysis' data set:
// the forms of the grid builders for callers that work on the data set as it
// stands (the distribution kernels, the commands that allocate for a new model,
// the fit's moves of the meniscus). The model computation lays its grid in its
// input's cell and does not include this header, so a call of these forms there
// does not compile.
#pragma once

#include "propagators/sim_arrays.h"

namespace tarmic {

// The data set's meniscus and bottom; none for correlation data.
GridCell DataSetGridCell();

bool AllocSimArrays();
bool ResizeSimArrays(int n);
void BuildLammGrid();
int OptimizeStaticGridSize(double rStar);
bool RefineGridAtBottom(double sigma);
bool AllocCosolventArrays();

}  // namespace tarmic
