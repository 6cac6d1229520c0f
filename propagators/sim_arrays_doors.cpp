#include "propagators/sim_arrays_doors.h"

#include "scandata/data_set.h"

namespace tarmic {

GridCell DataSetGridCell() {
  const auto& dataSetPart = DataSet();
  return {dataSetPart.fMeniscus, dataSetPart.fBottom, dataSetPart.bDLSData};
}

bool AllocSimArrays() { return AllocSimArrays(DataSetGridCell()); }
bool ResizeSimArrays(int n) { return ResizeSimArrays(n, DataSetGridCell()); }
void BuildLammGrid() { BuildLammGrid(DataSetGridCell()); }
int OptimizeStaticGridSize(double rStar) { return OptimizeStaticGridSize(rStar, DataSetGridCell()); }
bool RefineGridAtBottom(double sigma) { return RefineGridAtBottom(sigma, DataSetGridCell()); }
bool AllocCosolventArrays() { return AllocCosolventArrays(DataSetGridCell()); }

}  // namespace tarmic
