// Normal equations of the distribution fit with systematic noise.
//
// The data of all scans are modelled as a non-negative combination of kernels plus
// systematic terms: time-invariant (TI) noise, one offset per radius common to all
// scans; radial-invariant (RI) noise, one offset per scan; or one baseline. The
// systematic terms are eliminated algebraically by centring data and kernels:
//   TI and RI: y' = y - ybar[p] - ybar[s] + ybar,  K' = K - Kbar[p] - Kbar[s] + Kbar
//   TI:        y' = y - ybar[p],                   K' = K - Kbar[p]
//   RI:        y' = y - ybar[s],                   K' = K - Kbar[s]
//   baseline:  y' = y - ybar,                      K' = K - Kbar
//   none:      y' = y - fBaseline (fixed),          K' = K
// with ybar[p] the mean over the scans at radius p, ybar[s] the mean of scan s over
// the fit points P (GridFitPoints: the fit range less the points some scan does not
// support, whose centred values are 0) and ybar the mean over all scans and P (the
// same for the kernels).
// Then A = sum over scans and P of K'_i K'_j, b_i = sum K'_i y', and dSumSqData =
// sum y'^2. After the solve the systematic terms follow from the stored means
// (noise_fit.h).
//
// The build never writes into the data or the kernels: each chunk of points of a
// scan is centred once into a scratch block (rounded to float, as the kernels are),
// and the matrix is the sum over scans and chunks of the products of those blocks (a
// blocked symmetric rank-k update per chunk, vectorised for the processor found at
// run time). Products of floats are exact in double; the sums run in double. Every
// element is accumulated in the same order whichever thread computes a product, so a
// threaded build equals the serial one bit for bit.
#pragma once

#include "numerics/analysis.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scandata/radial_grid.h"
#include "services/computation_events.h"

namespace tarmic {

class DC;
class CProgressLine;

// Which systematic terms the fit eliminates.
enum class NoiseModel { Plain, Baseline, TI, RI, TIRI };
// The noise model of the switches bFitTINoise, bFitRINoise and bVaryBaseline: TI and
// RI, TI, RI, baseline, none, in this order of preference.
NoiseModel SelectNoiseModel();

// The state of this module in an analysis (numerics/analysis.h).
struct NormalEquationsState {
  // Sum of squares of the transformed data (the chi-square of the zero solution).
  double dSumSqData = 0.0;
  // Mean of the data over all scans of the build and the fit range.
  double dDataMean = 0.0;
  // The last build fixed kernel 1 at a known amplitude: the unknowns are kernels
  // 2..N, and after the solve amplitude 1 is dFixedFirstAmplitude.
  bool bFixedFirstKernel = false;
  double dFixedFirstAmplitude = 0.0;
  // Scan range of the light-scattering time course (both 1 otherwise).
  int iContiFirstScan = 1;
  int iContiLastScan = 1;

  // Where the run draws its progress: the main window's client DC and, when the run
  // shows one, its progress line. Set by the run for its duration; null draws
  // nothing. Only the user-interface thread draws.
  DC* hContiDC = nullptr;
  CProgressLine* pContiProgressLine = nullptr;

  // Parts of scans added by the running build, summed over its threads (reset at its
  // start): whole scans on one thread, NEQScratch::parts in all on several.
  std::atomic<int> nNEQScansDone{0};

  // While a refinement searches (set by it for the search alone, from
  // SearchRadialBin after its first evaluation), its trial runs build the equations of the data
  // summed over bins of this many adjacent points; every other build, the end's and
  // the final evaluation's among them, takes every point (1).
  int iSearchRadialBin = 1;
  // The narrowest boundary of the kernels last computed (NarrowestKernelBoundary), cm.
  double dNarrowestBoundary = 0.0;
};
// The current analysis' NormalEquationsState.
inline NormalEquationsState& NormalEquations() { return CurrentPart<NormalEquationsState>(); }

// One build: which scans and kernels, and how they are centred.
struct NEQBuildPlan {
  NoiseModel model = NoiseModel::Plain;
  int firstScan = 1;                 // scans of the build
  int lastScan = 0;
  int firstKernel = 1;               // kernel of unknown 1
  int order = 0;                     // number of unknowns
  bool subtractFirstKernel = false;  // the data are y - K_1 (kernel 1 fixed at 1)
  float baseline = 0.0f;             // Plain: the fixed baseline taken off the data
  // Adjacent fit-range points summed into one (1: every point its own): the equations
  // of the data projected onto functions constant over each bin.
  int radialBin = 1;
};

// The bin of a refinement's search: adjacent fit-range points summed while a bin
// stays within half the narrowest boundary of the kernels last computed: a power of
// two, at most kMostRadialBin points (1 before any kernels).
// Summing the data and kernels over a bin projects the least squares onto functions
// constant over the bins: the noise is averaged, not left out, and what is lost is
// the variation of the kernels within a bin, a few per cent of their variation across
// a boundary, so the minimum over the nonlinear values stays where the whole data put
// it (bench_set_d measures both). 1 outside a search, and where the grid is coarse.
inline constexpr int kMostRadialBin = 4;
inline constexpr double kBoundaryWidthsPerBin = 2.0;
int SearchRadialBin();

// The plan of a build over all scans and the N unknowns of the grid (nDistGrid, or
// nFf0Grid for c(s,ff0)); the fixed baseline is fBaseline. A trial run of a search
// takes the search's radial bin.
NEQBuildPlan PlanNormalEquations(NoiseModel model);
// Whether the kernel array and the workspace hold what the plan needs.
bool NormalEquationArraysFit(const NEQBuildPlan& plan);
// Computes the means of augmented row r (0: the data, 1..order: the kernel of that
// unknown) that the plan's noise model needs; the others keep their contents:
// per-radius means over every common-grid radius, divided by the number of scans;
// per-scan means over the fit points; the global mean over scans and fit points
// (the sum of the scans' sums). BuildNormalEquationRows computes those of its own
// rows. A kernel whose solver summed it as it wrote it (CurrentKernelSums,
// distribution_storage.h) is not read again: its sums are the same additions in the
// same order, so the means are the same bits either way.
void ComputeNormalEquationRowMeans(const NEQBuildPlan& plan, int r, const GridFitPoints& fit);

// Rows of the centred blocks packed together (one vector register tile wide).
constexpr int kNEQPanel = 8;

// The number of threads, at most `wanted`, that the plan's build can feed: one per
// multiplyAddsPerThread multiply-adds of the build (scans x fit-range points x
// (N (N + 1) / 2 + N + 1)), at least one; 0 feeds any number. On a small build more
// threads meet more often for little product work each, and on a loaded machine any
// thread that loses its core holds up the others (at N = 100, 40 scans of 400
// points, four threads were slower than two).
// The equations do not depend on the number of threads.
inline constexpr double kNEQMultiplyAddsPerThread = 40e6;
int NormalEquationThreads(const NEQBuildPlan& plan, int wanted,
                          double multiplyAddsPerThread = kNEQMultiplyAddsPerThread);

// The kernel of unknown r (r >= 1) in scan s at the fit-range points p0..p0+n-1
// (0-based within the fit range), centred by the plan's noise model with the kernel
// means stored by the last build, into v[0..n-1]: the values the build multiplies
// before it rounds them to float. The Monte-Carlo repetitions rebuild the right-hand
// side from them.
void CentreKernelRowPart(const NEQBuildPlan& plan, int s, int r, int p0, int n, double* v);

// How long a thread of the build that waits for another spins before it sleeps:
// about the spread of the threads' arrival on an idle machine, so that there it
// rarely sleeps, while on a loaded one it soon gives its core to the thread it
// waits for.
inline constexpr std::chrono::microseconds kSpinBeforeSleep{100};
// How long a thread that waits for the scan before its own to add a group spins
// before it sleeps, when that scan's products are done (a group is added in a few
// microseconds). While they are still computed it sleeps at once: a spin would only
// add to the build's CPU time, and on a loaded machine keep from its core the
// thread it waits for.
inline constexpr std::chrono::microseconds kPartSpinBeforeSleep{10};
// Points of the fit range summed into one partial product before it is added to the
// scan's sums: a chunk of every row (rows x chunk x 8 bytes) stays in the core's
// cache while all products use it. A constant, so every element sums in the same
// order.
inline constexpr int kNEQChunkPoints = 128;
static_assert(kNEQChunkPoints % kMostRadialBin == 0, "a search's bins divide the chunks");

// How far the matrix has received the products of one scan.
struct NEQPartState {
  std::atomic<bool> computed{false};  // the scan's products are done
  // Groups of units whose products of the part are added (only grows; a stopped
  // build adds kNEQStopped to wake whoever waits for it).
  std::atomic<int> groupsAdded{0};
};
inline constexpr int kNEQStopped = 1 << 28;

// Scratch of one build. The build takes the scans one at a time, each by whichever
// thread comes first. The thread centres the scan's points of every augmented row, a
// chunk at a time, into its own chunk block, sums the products of every unit over
// the chunks, in their order, in its own scan block, and then adds the sums to the
// matrix group of units by group, each group once the scan before has added that
// group: so every element receives the scans' sums in their order (the same bits on
// any number of threads), no centred value leaves the core that centred it, and the
// matrix moves from core to core once a scan.
// Augmented row 0 is the centred data, rows 1..order the centred kernels of the
// unknowns; rows beyond the order are zero. A chunk block holds the rows by panels
// of kNEQPanel: the value of row r at point p of the chunk (0-based) is at
// (r / kNEQPanel) panelStride + p kNEQPanel + r mod kNEQPanel. The values are the
// centred values rounded to float, held in double. The blocks are kept from one
// build to the next (the first touch of fresh pages costs a build on several
// threads about a tenth of its time).
struct NEQScratch {
  int rows = 0;    // order + 1 rounded up to a multiple of kNEQPanel
  int points = 0;  // points of the fit range
  // The grid points that count: the centred values of the others are 0 in every
  // row, so that they enter no product.
  GridFitPoints fit;
  int threads = 1;          // threads the scratch was made for
  int chunks = 1;           // chunks of kNEQChunkPoints points in the fit range
  int parts = 0;            // parts of the build: the scans
  int units = 0;            // units of the lower triangle (8 rows by 8 or 16 columns)
  int groups = 1;           // groups of units a scan adds at a time
  std::size_t panelStride = 0;  // doubles from one panel of a chunk block to the next
  std::size_t threadSize = 0;   // doubles of a thread's chunk block and scan block
  double* work = nullptr;       // threads x threadSize, kept by the builder
  std::unique_ptr<NEQPartState[]> partStates;  // [0..parts - 1]
  std::atomic<int> partsTaken{0};     // parts a thread took
  std::atomic<int> panelsCentred{0};  // panels centred over a chunk, all threads
  std::atomic<int> meanSharesTaken{0};  // shares of the row means taken by a thread
  std::atomic<int> meansDone{0};        // shares of the row means computed
  // The sum of squares of the transformed data, added to scan after scan as an
  // element of the matrix (with the group of unit 0).
  double sumSq = 0.0;
  // Binned builds in which every point counts, with radius means: their sums over the
  // bins of each chunk, [panel][chunk][bin][row of the panel] (chunkBins bins a chunk).
  int chunkBins = 0;
  std::vector<double> binnedRadiusMeans;
  std::atomic<bool> stop{false};  // a thread saw the interrupt or failed: every thread ends
  // Ends the build: every thread stops before its next scan or group, and none keeps
  // waiting.
  void Halt() {
    if (stop.exchange(true)) return;
    for (int i = 0; i < parts; ++i) {
      partStates[static_cast<std::size_t>(i)].groupsAdded.fetch_add(kNEQStopped, std::memory_order_release);
      partStates[static_cast<std::size_t>(i)].groupsAdded.notify_all();
    }
  }
  // Stops a build of threadCount threads that cannot be completed (a thread failed,
  // or the build was left before all its threads began): every thread ends, and
  // none waits at the meeting of the means for a share that will not come.
  void Abandon(int threadCount) {
    Halt();
    meansDone.fetch_add(threadCount, std::memory_order_release);
    meansDone.notify_all();
  }
};
// The scratch of a plan for a build on `threads` threads (the blocks; throws
// std::bad_alloc when memory runs out). Only one build uses the kept blocks at a
// time.
std::unique_ptr<NEQScratch> MakeNEQScratch(const NEQBuildPlan& plan, int threads);
// The same, a lack of memory given as null with kWorkspaceAllocationText in *error
// (when given).
std::unique_ptr<NEQScratch> TryMakeNEQScratch(const NEQBuildPlan& plan, int threads,
                                              std::string* error);

// Thread `thread` (1..threadCount) of a build of the lower triangle of
// ppNormalMatrix and of pNormalRhs, scan by scan, as the rank-k updates
// A += sum_c K'_c K'_c^T, b += sum_c K'_c y'_c over the centred chunks c of each scan
// (augmented row and column 0 are the data). The triangle is cut into units of 8 rows by 8 or 16
// columns, listed by rows. Each thread first computes the means of the shares of
// consecutive rows it takes and sets those rows of the matrix to 0
// (ComputeNormalEquationRowMeans; threadCount shares, each taken by the first thread
// that comes for it) and waits once until all shares are done; then it takes the
// next scan no thread has taken (NEQScratch), centres it and sums its products, and
// adds the sums to the matrix group by group, each group after the scan before has
// added it. Each chunk of each panel of each scan is centred once, whatever the
// number of threads; a thread waits only for the scan before its own to add a group.
// The sum of squares of the transformed data goes to *sumSq of the thread that adds
// the last scan (when not null).
// Every thread 1..threadCount of the build must call this function.
// bUserAbort is read before each scan; once it is set every thread ends before adding
// another scan. afterScan (may be null) runs after each scan the thread added; false
// stops the build in the same way. An exception (of afterScan, or memory) stops every
// thread of the build in the same way and goes on to the caller.
// Every element is summed in the same order whoever computes its products (the
// chunks of kNEQChunkPoints points of a scan in order, then the scans in order), so
// the result does not depend on threadCount, bit for bit.
void BuildNormalEquationRows(const NEQBuildPlan& plan, NEQScratch& scratch, int thread,
                             int threadCount, double* sumSq,
                             const std::function<bool()>& afterScan);
// After all rows: mirrors the lower triangle, stores dSumSqData and the order of the
// system (nNEQUnknowns).
void FinishNormalEquations(const NEQBuildPlan& plan, double sumSq);

// The single-thread builders, run in the calling (user-interface) thread; they poll
// the keyboard after every scan (a key sets bUserAbort) and show the progress. Each
// returns true when the equations are complete, false when the arrays do not fit
// the data, memory ran out (kWorkspaceAllocationText in *error, when given) or the
// build was interrupted (bUserAbort is then set).
bool BuildNormalEquationsTIRI();
bool BuildNormalEquationsTI();
bool BuildNormalEquationsRI();
bool BuildNormalEquationsBaseline();
bool BuildNormalEquationsPlain();
// The builder of the noise model.
bool BuildNormalEquations(NoiseModel model, std::string* error = nullptr);
// TI and RI noise with kernel 1 a component whose amplitude is already in the
// kernel: the system of order nDistGrid - 1 for kernels 2..N on y - K_1. Sets
// bFixedFirstKernel and dFixedFirstAmplitude = amplitude.
bool BuildNormalEquationsFixedFirst(double amplitude, std::string* error = nullptr);
// The light-scattering time course: baseline centring over the scans
// iContiFirstScan..iContiLastScan.
bool BuildNormalEquationsScanRange(std::string* error = nullptr);

// The instruction sets the build's vector kernels are compiled for that this
// processor has, best first ("avx512", "avx2", "baseline"); the build uses the first
// unless told otherwise. Every set gives the same equations, bit for bit.
std::vector<std::string> NEQInstructionSets();
// Makes the build use the kernels of `name`; false (nothing changed) when this
// processor lacks it or there is none of that name.
bool UseNEQInstructionSet(const std::string& name);

// Progress of the build at fraction 0..1: the progress line when the run has one,
// else the text "calculating normal equations (%2.0f percent done - hit any key to
// interrupt...)" at (10, 50); nothing while a fit runs.
void ShowNormalEquationProgress(float fraction);
// Text of the run at a client position of hContiDC (nothing without one).
void ShowContiText(int x, int y, const std::string& text);
// The readout of a stage of the computation: reported as a progress event of kind
// (computation_events.h) and drawn as ShowContiText draws it (neither without the
// device context).
void ShowContiProgress(int x, int y, ProgressKind kind, const std::string& text);

}  // namespace tarmic
