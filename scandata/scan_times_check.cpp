#include "scandata/scan_times_check.h"

#include "scandata/data_kind.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

std::string ScanTimesNote() {
  if (DataSet().nScans < 2 || DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const double first = DataSet().pScanInfo[1].time;
  for (int i = 2; i <= DataSet().nScans; ++i)
    if (DataSet().pScanInfo[static_cast<std::size_t>(i)].time != first) return {};
  return Format("all %d scans hold the same time, %g s: a sedimentation velocity analysis needs "
                "scans taken at different times - check line 2 of the scan files",
                DataSet().nScans, first);
}

std::string VelocityRunAsEquilibriumNote() {
  if (!DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const DataKindJudgement judgement = JudgeDataKind();
  const BoundaryMotion* m = judgement.Velocity();
  if (!m) return {};
  return Format("these %d scans of cell %d at %.0f rpm look like a sedimentation velocity run: "
                "they were taken %.1f min apart and their profiles change over the run beyond "
                "their noise (a moving boundary), where at sedimentation equilibrium they stay "
                "as they are.\nThey are loaded as sedimentation equilibrium data, "
                "which Run and Fit analyse with an equilibrium model. To analyse a velocity "
                "run, load the scans with Load New Files (Ctrl+L) or drop them on the window.",
                m->scans, m->cell, static_cast<double>(m->rpm), m->medianInterval / 60.0);
}

std::string EquilibriumRunAsVelocityNote() {
  if (DataSet().bEquilibriumMode || ScanFile().bElectrophoresisMode || DataSet().bDLSData) return {};
  const DataKindJudgement judgement = JudgeDataKind();
  if (!judgement.equilibrium) return {};
  return Format("these %d scans of cell %d look like sedimentation equilibrium data: they were taken "
                "over %.1f h%s, and no profile changes beyond its noise at any rotor speed, where in a "
                "sedimentation velocity run the boundary moves.\nThey are loaded as velocity data; to "
                "analyse them at equilibrium, load them with \"load sedimentation equilibrium data\".",
                judgement.cellScans, judgement.cell, judgement.cellSpan / 3600.0,
                judgement.speeds > 1 ? Format(" at %d rotor speeds", judgement.speeds).c_str() : "");
}

}  // namespace tarmic
