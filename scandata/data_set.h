// The scan data set: up to kMaxScans scans, each with its radii, signal, optional
// third column, model values, residuals and information record, plus the geometry
// of the cell (meniscus, bottom, fit limits). Every analysis works on this one set;
// the loaders (scan_loading.h) fill it, the common radial grid (radial_grid.h) is
// built from it.
//
// Per-scan tables are indexed by the scan number 1..nScans (the order of loading;
// slot 0 holds nothing) and have nScans + 1 entries while a set is loaded, none
// otherwise. A scan's point arrays are one-based float vectors of pnPoints[s]
// entries made by vector() (one_based.h) and owned by the set. pScanOrder maps a
// display position to a scan number; the loaders sort it by elapsed time.
//
// For intensity data ppSignal holds the sample intensity (the file's second column)
// and ppThirdColumn the reference intensity (its third); intensity_scans.h has the
// absorbance made of them.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "scandata/dls_info.h"
#include "scandata/scan_info.h"

namespace tarmic {

class CVector;
class CCurve;

constexpr int kMaxScans = 1000;
// The refusal of a selection of more than kMaxScans scans, with the limit.
std::string TooManyScansText();

// The state of this module in an analysis (numerics/analysis.h).
struct DataSetState {
  int nScans = 0;
  // Marks the stored kernels as stale until the next Run or Fit: the analysis' own,
  // so that a change of one analysis' data never clears or sets another's.
  bool bDataChanged = false;
  std::vector<std::string> ppScanFileNames{};  // name and extension, no directory
  std::vector<ScanInfo> pScanInfo{};
  std::vector<DLSInfo> pDLSInfo{};  // only while DLS data are loaded
  std::vector<int> pnPoints{};
  std::vector<float*> ppRadius{};  // cm
  std::vector<float*> ppSignal{};
  std::vector<float*> ppThirdColumn{};  // null when the scan has none
  std::vector<float*> ppFit{};  // model values on the scan's radii
  std::vector<float*> ppResiduals{};  // signal minus fit
  std::vector<float*> ppWork{};  // scratch of the model computations
  std::vector<int> pScanOrder{};  // display position -> scan number
  std::vector<int> pFitFirst{};  // first point index inside the fit limits
  std::vector<int> pFitLast{};  // last point index inside the fit limits
  std::vector<CVector*> ppRadiusVec{};
  std::vector<CVector*> ppSignalVec{};
  std::vector<CVector*> ppFitVec{};
  std::vector<CVector*> ppResidualVec{};
  std::vector<CVector*> ppThirdVec{};
  std::vector<CCurve*> ppDataCurve{};  // radius, signal
  std::vector<CCurve*> ppFitCurve{};  // radius, fit
  std::vector<CCurve*> ppResidualCurve{};  // radius, residuals
  std::vector<CCurve*> ppThirdCurve{};  // radius, third column
  float fMeniscus = 0.0f;
  float fBottom = 0.0f;
  float fFitLeftLim = 0.0f;
  float fFitRightLim = 0.0f;
  float fMinMeniscus = 5.8f;
  float fMaxMeniscus = 6.6f;
  float fMinBottom = 7.1f;
  float fMaxBottom = 7.3f;
  bool bFitRangesSet = false;
  bool bEquilibriumMode = false;  // sedimentation-equilibrium data
  bool bDLSData = false;  // the members are DLS correlation functions
  float fTemperatureK = 0.0f;  // temperature of the last scan, K
  float fRT = 0.0f;  // R T of that temperature, erg/mol
  double dSignalPerConcentration = 1.0;
  int nFilesPerScan = 1;  // files that make one scan in a list
  std::string szDataDirectory{};
  std::string szTmpParsPath{};  // saved best parameters of the analysis
  std::string szSdistPath{};  // saved distribution grid
  std::string szNotesPath{};  // notes file of a multi-file load
  bool bFitLimitWarningAccepted = false;
  unsigned nDataSetGeneration = 0;
  // The scans, the grid on them and the plots drawn from them, given back when the
  // analysis ends (FreeDataSet).
  void ReleaseAtAnalysisEnd();
};
inline DataSetState& DataSet() { return CurrentPart<DataSetState>(); }
                                                  // (no point inside: n + 1 and n)
// Non-owning views of the scan arrays and the curves built on them, which the plots
// draw. ppThirdVec and ppThirdCurve exist for intensity data only.

// Geometry of the cell, cm; 0 means unset. On DLS data the four hold log10 lag
// times, on which 0 (1 s) is a position like any other: there the fitting limits
// have no unset state (the DLS loader places both), see FitLeftLimitSet.
// Whether a fitting limit holds a position: on DLS data always, on scans when it
// is not 0 (no radius is 0; stored files write an unset limit as 0 and read alike).
bool FitLeftLimitSet();
bool FitRightLimitSet();
// Ranges within which meniscus and bottom may be fitted, cm; 0 means unset.
// The fit ranges of meniscus and bottom were placed by the user; the loaders clear it.

// Signal of unit concentration: 3.3 for interference data, else 1.0.
// Directory of the loaded data, without a trailing '/'.

// The user accepted the distribution-grid warning for the current data set.

// Releases the whole set: the model's transformed copies, every scan's arrays, views
// and curves, the tables, the grid and the two data plots; nScans = 0 and
// DataSet().bDataChanged = 1. Safe on an empty set.
void FreeDataSet();

// Makes empty per-scan tables for count scans (every slot empty, pScanOrder the
// identity); a set still loaded is released first.
void AllocScanTables(int count);
// Counts the data sets made by AllocScanTables since start-up: a command that
// starts a load tells by it whether a new set took the place of the old one.
// The loaded data as they stand: the set (nDataSetGeneration) and a fingerprint of
// every scan's point count, radii, signal, third column and times, with the model
// chosen now (ActiveModelIdentity) and a fingerprint of every value and setting the
// model computation reads (ModelSettingsIdentity). Whatever changes the loaded data
// (a tool on the signals, scans added, a new load) changes it, and so does another
// model or any changed parameter, limit or option: what was computed can tell
// whether it still belongs to the data, the model and the values on show.
struct LoadedDataStamp {
  unsigned set = 0;
  unsigned long long content = 0;
  int model = 0;
  unsigned long long settings = 0;
  bool operator==(const LoadedDataStamp&) const = default;
};
LoadedDataStamp CurrentDataStamp();
// The one door of every change of what that fingerprint reads: the loaded scans'
// point counts, radii, signals, third columns and times (elapsed time, omega^2 t,
// rpm). Whoever writes them calls it after the change; the functions of this header
// that make, grow, fill and free the set, and FillGridSignalRow and
// BuildCommonRadialGrid (radial_grid.h), which every tool that changes signals or
// radii calls, do so themselves. The fingerprint is kept with the data until the
// next call, so that the paints and the events that ask for the stamp do not read
// every scan each time. User-interface thread only.
void NoteScanDataChanged();
// How many changes NoteScanDataChanged has noted: what is derived from the scans and
// kept with them (their gaps, radial_grid.h) is valid while it stays the same.
unsigned long long ScanDataRevision();
// For tests: how often a build with assertions found the kept fingerprint no longer
// that of the data (a change that did not go through NoteScanDataChanged); the
// stamp then takes the fresh one.
unsigned long long ScanDataChangesMissedForTesting();
// The mixing step of that fingerprint (a multiply and xor-shift, so that every bit
// of the word reaches every bit of the hash), for the fingerprints of other state.
void MixIntoFingerprint(unsigned long long& h, unsigned long long word);
// Grows the per-scan tables of a loaded set to newCount scans, keeping every entry;
// the new slots are empty and come last in the display order.
void GrowScanTables(int newCount);
// Gives scan s its arrays of n points (the set takes ownership of radius, signal
// and third, which may be null), makes its zero model values and work values and
// its residuals (a copy of the signal), sets its fit range to all points and builds
// its views and curves; the third-column view and curve only with thirdCurve.
void InstallScanArrays(int s, int n, float* radius, float* signal, float* third,
                       bool thirdCurve);
// Releases scan s's arrays, views and curves (its slots become empty); its name,
// record and place in the display order stay, so that a tool may install new arrays.
void ReleaseScanArrays(int s);

// Full path of scan s: the file it was read from (scans added from another folder
// included), or for a scan the program made, the data directory and its file name.
// Every tool that opens, lists or writes a loaded scan's file takes it from here.
std::string ScanFilePath(int s);

}  // namespace tarmic
