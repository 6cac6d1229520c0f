// Storage of a distribution fit: the kernel array (the signal of unit loading
// concentration of every grid point, scan and common-grid radius) and the
// normal-equation workspace (means of the systematic-noise elimination, the normal
// matrix and its regularised copy, right-hand side, solution and the work vectors of
// the non-negative least squares and the maximum-entropy regularisation).
//
// Each family lives in one zero-initialised block so that the large arrays stay
// contiguous; the row-pointer arrays are ordinary heap arrays. Everything is indexed
// from 1. The kernel profiles are single precision (they are the largest arrays),
// the normal equations double.
#pragma once

#include "numerics/analysis.h"

#include <string>

namespace tarmic {

class ProfileSums;

// pppKernels[k][scan] is the profile of kernel k in that scan, [1..nPoints]. The
// profile of (k, s) starts at float offset ((k-1) nScans + (s-1)) (nPoints + 1) of
// the block.
// The state of this module in an analysis (numerics/analysis.h).
struct DistributionStorageState {
  float*** pppKernels = nullptr;
  int nKernelArrayKernels = 0;
  int nKernelArrayScans = 0;
  int nKernelArrayPoints = 0;
  double** ppKernelScanMean = nullptr;  // [1..N][1..a]
  double** ppKernelRadiusMean = nullptr;  // [1..N][1..b]
  double* pDataScanMean = nullptr;  // [1..a]
  double* pDataRadiusMean = nullptr;  // [1..b]
  double* pNormalRhs = nullptr;  // [1..N] right-hand side
  double** ppNormalMatrix = nullptr;  // [1..N][1..N] normal matrix
  double** ppNormalMatrixReg = nullptr;  // [1..N][1..N] normal matrix plus penalty
  double* pDistSolution = nullptr;  // [1..N] solution
  double* pNNLSGradient = nullptr;  // [1..N] gradient b - A x of the NNLS
  double** ppNNLSWork = nullptr;  // [1..N][1..N] passive subsystem of the NNLS
  double* pNNLSWorkRhs = nullptr;  // [1..N] its right-hand side
  double* pNNLSDiag = nullptr;  // [1..N] its Cholesky diagonal
  double* pNNLSSub = nullptr;  // [1..N] its solution (compressed)
  double* pNNLSTrial = nullptr;  // [1..N] that solution on all unknowns
  double* pKernelMean = nullptr;  // [1..N] mean of each kernel
  double* pMaxEntLogRatio = nullptr;  // [1..N] ln(x_i / r_i) of the maximum entropy
  double* pDistSolution2 = nullptr;  // [1..N] copy of the solution kept by the run
  int* pNNLSPassive = nullptr;  // [1..N] passive-set marks of the NNLS
  int nNEQUnknowns = 0;
  int nNEQFirstKernel = 1;
  int nWorkspaceUnknowns = 0;
  int nWorkspaceScans = 0;
  int nWorkspacePoints = 0;
};
inline DistributionStorageState& DistributionStorage() { return CurrentPart<DistributionStorageState>(); }
// Dimensions of the kernel array made last (0 when none exists).

// Releases an existing kernel array, then makes a zeroed one for nKernels kernels,
// nScans scans and nPoints radii. False when a dimension is below 1, or when the
// memory cannot be had: then *error (when given) says "could not allocate the
// kernels of ..." with the counts and the size, for the caller to show.
bool AllocKernelArrays(int nKernels, int nScans, int nPoints, std::string* error = nullptr);
// Releases the kernel array when it exists. Its memory stays as a spare that the
// next AllocKernelArrays of no more values reuses (zeroed again) instead of making
// a new block; the same holds for the workspace.
void FreeKernelArrays();
// Returns the spare memory of the kernel array and the workspace to the system.
void ReleaseSpareDistributionArrays();

// Kernels left out of the distribution: a kernel that could not be solved (its
// profile zero) is marked, and its unknown takes no part in any solve of the
// distribution (NNLS, Tikhonov-Phillips, maximum entropy, the Monte-Carlo sets,
// the refinement's evaluations), so it holds exactly 0 in every result. The marks
// live with the kernel array: made empty with it, kept while its kernels are
// reused, cleared when its kernels are computed again, gone when it is freed.
// The note says once, after a Run, how many were left out and why.
void MarkKernelLeftOut(int kernel);
void ClearLeftOutKernels();
bool KernelLeftOut(int kernel);
void SetLeftOutKernelNote(std::string note);
const std::string& LeftOutKernelNote();
// Whether unknown j (1..nNEQUnknowns) of the normal equations belongs to a kernel
// left out: the one test every solver of the distribution asks.
bool UnknownLeftOut(int j);

// The sums of each kernel's profiles (numerics/profile_sums.h), gathered by the
// solver as it writes them so that the normal equations need not read the kernel
// again for its means. They live with the kernel array: made empty with it and
// gone when it is freed. Whatever writes a kernel other than the Lamm solver's list
// (which begins the sums of its kernels and hands them to the solver) forgets its
// sums first: a computation of kernels forgets all of them (ForgetAllKernelSums), a
// writer of one kernel its own (ForgetKernelSums; KernelRow does it for its
// callers). The sums of kernel k for the solver list (null when there is no such
// kernel); only the thread that solves kernel k touches them while the list runs.
ProfileSums* KernelSumsSlot(int kernel);
void ForgetKernelSums(int kernel);
void ForgetAllKernelSums();
// The complete sums of kernel k's rows over scans s0..s1, radii 1..nGrid and the fit
// range fitFirst..fitFirst+nFit-1, or null: then the caller sums the kernel itself.
const ProfileSums* CurrentKernelSums(int kernel, int s0, int s1, int nGrid, int fitFirst,
                                     int nFit);

// The normal-equation workspace for N unknowns, a scans and b common-grid radii.
// Order of the normal equations in the workspace: N when it is made; each build sets
// the order it wrote (one less with a fixed first kernel). The solvers work on
// exactly this many unknowns.
// The kernel of unknown 1 of the normal equations built last (2 when the first
// kernel's amplitude is fixed and taken from the data).
// Dimensions of the workspace made last (0 when none exists).

// The failure of the workspace allocation, for the error box.
inline constexpr const char* kWorkspaceAllocationText =
    "could not allocate arrays, increase memory or take fewer scans";
// Releases an existing workspace, then makes a zeroed one. False when it cannot be
// had, with kWorkspaceAllocationText in *error (when given) for the caller to show.
bool AllocNormalEquationArrays(int N, int a, int b, std::string* error = nullptr);
// Releases the workspace when it exists and clears every pointer of it.
void FreeNormalEquationArrays();

}  // namespace tarmic
