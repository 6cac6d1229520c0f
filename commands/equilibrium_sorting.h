// Sedimentation-equilibrium series: the test whether a series of scans of one cell,
// wavelength and rotor speed has reached equilibrium (the rmsd of each earlier scan
// against the last one over time, and the user's judgement), the sorting of the
// loaded scans into such series with the last scan of each confirmed series written
// to disk ("Sort Eq Data to Disk"), with an experiment (xp) file per cell and
// wavelength for global analysis, and the collection of the series without writing
// for the test of approach to equilibrium.
//
// A series is a one-based list of scan numbers [1..n]; the last entry is the scan
// to be judged (the latest of the series), which also stands once among the
// earlier entries.
#pragma once

#include <string>
#include <vector>

#include "app/analysis_views.h"  // bEqTestView, bEqTestMode
#include "scandata/text_io.h"     // IsIntensityFileName

namespace tarmic {

class CWINPlot;
class TXLAWindow;

// The auxiliary plot drawn over the plot area by the equilibrium test (null when
// none); it stays until the next user of the auxiliary plot replaces it.
extern CWINPlot* pAuxPlot;

// ---- collect mode ----
// While set, SortEqDataToDisk only records the series, writing nothing and asking
// nothing.
extern bool bEqCollectGroupsOnly;
extern int nEqGroups;                         // series recorded
extern std::vector<int> pEqGroupSizes;        // [1..nEqGroups]
extern std::vector<std::vector<int>> ppEqGroups;  // [1..nEqGroups][1..size]: ascending time, latest last
extern bool bEqSingleCell;  // every series of more than one scan comes from one cell
extern int nEqGroupCell;    // that cell

// Intensity files (IsIntensityFileName, scandata/text_io.h) are judged and written
// as absorbance.
// The value of point k of scan s as the test and the sorting use it: for intensity
// files the absorbance of the point (intensity_scans.h); otherwise the signal.
float EqScanValue(int s, int k);

// The dialogue of one series (series[1..n], last = its latest scan): without a time
// course (n = 1, or n = 2 with equal entries) the last scan is shown and the user
// asked whether to include it; otherwise the rmsd of every earlier scan against the
// last one is plotted against time and the user asked whether equilibrium was
// attained, and on yes the last scan is shown and the inclusion asked. True when the
// user accepts the last scan.
bool TestEquilibriumAttainment(TXLAWindow& window, const int* series, int n, int lastScan);

// Groups the loaded scans by cell, wavelength (within toleranceNm) and rotor speed
// (see the .cpp for the rules); for each series the user confirms the last scan is
// written to the directory of outputPath as "eq<k>k_<nm><ext>" (minus the blank scan
// when one is given and its wavelength matches), and with makeXp an experiment file
// "cell<c>_<nm>.xp" (or "cell<c>_IF.xp" for interference at 660 or 675 nm) lists
// the files of each cell and wavelength. In collect mode only the series are
// recorded. Files that cannot be written are reported and left out of the lists.
void SortEqDataToDisk(TXLAWindow& window, const std::string& outputPath,
                      const std::string& blankPath, float toleranceNm, bool makeXp,
                      float density, float vbar, float extinctionA, float extinctionB,
                      float extinctionC);

// The test of approach to equilibrium: collects the series of the loaded scans and
// shows, for every series of more than one scan, its rmsd against its latest scan
// over time in the auxiliary plot, one colour per series with a legend.
void RunEquilibriumTest(TXLAWindow& window);
// Leaves the equilibrium-test view: frees the series and the auxiliary plot and
// rebuilds and redraws the data and residual plots.
void EndEqTestMode(TXLAWindow& window);

// Frees the auxiliary plot and the recorded series (tests).
void ResetEquilibriumSorting();

}  // namespace tarmic
