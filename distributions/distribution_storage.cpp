// The kernel array and the normal-equation workspace, each one zeroed block with
// heap row-pointer arrays into it.
#include "distributions/distribution_storage.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "modelfit/param_checks.h"
#include "numerics/profile_sums.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// A zeroed block of count values that reuses the memory of the block released
// last when it is large enough: a run of a fit, which makes and releases the same
// arrays once per evaluation, then neither faults in nor returns hundreds of
// megabytes each time. The spare is kept until a larger block is wanted (it goes
// first) or ReleaseSpareDistributionArrays.
// The spare block of each element type, one per analysis.
template <typename T>
struct SpareBlock {
  std::unique_ptr<T[]> block;
  std::size_t count = 0;
};

template <typename T>
class ReusedBlock {
 public:
  // False when the memory cannot be had.
  bool Make(std::size_t count) {
    if (Spare().block && Spare().count >= count) {
      data_ = std::move(Spare().block);
      capacity_ = Spare().count;
      Spare().count = 0;
      std::fill_n(data_.get(), count, T{});
      return true;
    }
    ReleaseSpare();
    data_.reset(new (std::nothrow) T[count]());
    capacity_ = data_ ? count : 0;
    return data_ != nullptr;
  }
  // The block becomes the spare (the larger of it and the spare is kept).
  void Release() {
    if (data_ && capacity_ > Spare().count) {
      Spare().block = std::move(data_);
      Spare().count = capacity_;
    }
    data_.reset();
    capacity_ = 0;
  }
  void ReleaseSpare() {
    Spare().block.reset();
    Spare().count = 0;
  }
  T* get() const { return data_.get(); }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  static SpareBlock<T>& Spare() { return CurrentPart<SpareBlock<T>>(); }
  std::unique_ptr<T[]> data_;
  std::size_t capacity_ = 0;
};

// Owners of the blocks and pointer arrays behind the globals above.
struct KernelStore {
  ReusedBlock<float> block;
  std::vector<float**> kernels;          // [0..nKernels]
  std::vector<std::vector<float*>> rows;  // per kernel: [0..nScans]
  std::vector<char> leftOut;             // [0..nKernels]
  std::string leftOutNote;
  std::vector<ProfileSums> sums;         // [0..nKernels]
};

struct WorkspaceStore {
  ReusedBlock<double> block;
  std::vector<double*> scanMeanRows, radiusMeanRows, matrixRows, regRows, workRows;
  std::vector<int> passive;
};

KernelStore& Kernels() { return CurrentPart<KernelStore>(); }

WorkspaceStore& Workspace() { return CurrentPart<WorkspaceStore>(); }

// a * b * c as a size, or 0 when it does not fit.
std::size_t SafeProduct(std::size_t a, std::size_t b, std::size_t c) {
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / 4;
  if (a == 0 || b == 0 || c == 0) return 0;
  if (a > limit / b) return 0;
  const std::size_t ab = a * b;
  if (ab > limit / c) return 0;
  return ab * c;
}

// Kernels that cannot be had: their counts and size go to *error (when given); false.
bool KernelArraysFailed(int nKernels, int nScans, int nPoints, std::string* error) {
  if (error)
    *error = Format("could not allocate the kernels of %d grid points for %d scans of %d radii "
                    "(%.3g MB) - choose fewer grid points",
                    nKernels, nScans, nPoints,
                    GridMemoryBytes(nKernels, nScans, nPoints) / 1048576.0);
  return false;
}

}  // namespace

bool AllocKernelArrays(int nKernels, int nScans, int nPoints, std::string* error) {
  auto& distributionStoragePart = DistributionStorage();
  FreeKernelArrays();
  if (nKernels < 1 || nScans < 1 || nPoints < 1) return false;
  const std::size_t stride = static_cast<std::size_t>(nPoints) + 1;
  const std::size_t total =
      SafeProduct(static_cast<std::size_t>(nKernels), static_cast<std::size_t>(nScans), stride);
  if (total == 0) return KernelArraysFailed(nKernels, nScans, nPoints, error);
  KernelStore& store = Kernels();
  try {
    if (!store.block.Make(total)) return KernelArraysFailed(nKernels, nScans, nPoints, error);
    store.kernels.assign(static_cast<std::size_t>(nKernels) + 1, nullptr);
    store.rows.assign(static_cast<std::size_t>(nKernels) + 1, {});
    store.leftOut.assign(static_cast<std::size_t>(nKernels) + 1, 0);
    store.sums.assign(static_cast<std::size_t>(nKernels) + 1, ProfileSums{});
    for (int k = 1; k <= nKernels; ++k) {
      std::vector<float*>& r = store.rows[static_cast<std::size_t>(k)];
      r.assign(static_cast<std::size_t>(nScans) + 1, nullptr);
      for (int s = 1; s <= nScans; ++s) {
        const std::size_t offset =
            (static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(nScans) +
             static_cast<std::size_t>(s - 1)) *
            stride;
        r[static_cast<std::size_t>(s)] = store.block.get() + offset;
      }
      store.kernels[static_cast<std::size_t>(k)] = r.data();
    }
  } catch (const std::bad_alloc&) {
    store.block.Release();
    store = KernelStore{};
    return KernelArraysFailed(nKernels, nScans, nPoints, error);
  }
  distributionStoragePart.pppKernels = store.kernels.data();
  distributionStoragePart.nKernelArrayKernels = nKernels;
  distributionStoragePart.nKernelArrayScans = nScans;
  distributionStoragePart.nKernelArrayPoints = nPoints;
  return true;
}

void FreeKernelArrays() {
  auto& distributionStoragePart = DistributionStorage();
  Kernels().block.Release();
  Kernels() = KernelStore{};
  distributionStoragePart.pppKernels = nullptr;
  distributionStoragePart.nKernelArrayKernels = distributionStoragePart.nKernelArrayScans = distributionStoragePart.nKernelArrayPoints = 0;
}

void MarkKernelLeftOut(int kernel) {
  std::vector<char>& marks = Kernels().leftOut;
  if (kernel >= 1 && static_cast<std::size_t>(kernel) < marks.size())
    marks[static_cast<std::size_t>(kernel)] = 1;
}

void ClearLeftOutKernels() {
  KernelStore& store = Kernels();
  std::fill(store.leftOut.begin(), store.leftOut.end(), 0);
  store.leftOutNote.clear();
}

bool KernelLeftOut(int kernel) {
  const std::vector<char>& marks = Kernels().leftOut;
  return kernel >= 1 && static_cast<std::size_t>(kernel) < marks.size() &&
         marks[static_cast<std::size_t>(kernel)] != 0;
}

void SetLeftOutKernelNote(std::string note) { Kernels().leftOutNote = std::move(note); }
const std::string& LeftOutKernelNote() { return Kernels().leftOutNote; }

ProfileSums* KernelSumsSlot(int kernel) {
  std::vector<ProfileSums>& sums = Kernels().sums;
  if (kernel < 1 || static_cast<std::size_t>(kernel) >= sums.size()) return nullptr;
  return &sums[static_cast<std::size_t>(kernel)];
}

void ForgetKernelSums(int kernel) {
  if (ProfileSums* sums = KernelSumsSlot(kernel)) sums->Invalidate();
}

void ForgetAllKernelSums() {
  for (ProfileSums& sums : Kernels().sums) sums.Invalidate();
}

const ProfileSums* CurrentKernelSums(int kernel, int s0, int s1, int nGrid, int fitFirst,
                                     int nFit) {
  const ProfileSums* sums = KernelSumsSlot(kernel);
  if (!sums || !DistributionStorage().pppKernels || kernel > DistributionStorage().nKernelArrayKernels) return nullptr;
  return sums->CompleteFor(DistributionStorage().pppKernels[kernel], s0, s1, nGrid, fitFirst, nFit) ? sums : nullptr;
}

bool UnknownLeftOut(int j) { return KernelLeftOut(j + DistributionStorage().nNEQFirstKernel - 1); }

bool AllocNormalEquationArrays(int N, int a, int b, std::string* error) {
  auto& distributionStoragePart = DistributionStorage();
  FreeNormalEquationArrays();
  const auto fail = [error] {
    if (error) *error = kWorkspaceAllocationText;
    return false;
  };
  if (N < 1 || a < 1 || b < 1) return fail();
  const std::size_t n1 = static_cast<std::size_t>(N) + 1;
  const std::size_t a1 = static_cast<std::size_t>(a) + 1;
  const std::size_t b1 = static_cast<std::size_t>(b) + 1;
  // (N+1)(a+1) + (N+1)(b+1) + (3N+10)(N+1) doubles.
  const std::size_t partA = SafeProduct(n1, a1, 1);
  const std::size_t partB = SafeProduct(n1, b1, 1);
  const std::size_t partC = SafeProduct(3 * static_cast<std::size_t>(N) + 10, n1, 1);
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / 16;
  if (partA == 0 || partB == 0 || partC == 0 || partA > limit || partB > limit || partC > limit)
    return fail();
  WorkspaceStore& store = Workspace();
  try {
    if (!store.block.Make(partA + partB + partC)) return fail();
    double* next = store.block.get();
    auto take = [&next](std::size_t count) {
      double* p = next;
      next += count;
      return p;
    };
    auto rowSet = [&take](std::vector<double*>& rows, int count, std::size_t length) {
      rows.assign(static_cast<std::size_t>(count) + 1, nullptr);
      for (int k = 1; k <= count; ++k) rows[static_cast<std::size_t>(k)] = take(length);
      return rows.data();
    };
    distributionStoragePart.ppKernelScanMean = rowSet(store.scanMeanRows, N, a1);
    distributionStoragePart.ppKernelRadiusMean = rowSet(store.radiusMeanRows, N, b1);
    distributionStoragePart.pDataScanMean = take(a1);
    distributionStoragePart.pDataRadiusMean = take(b1);
    distributionStoragePart.pNormalRhs = take(n1);
    distributionStoragePart.ppNormalMatrix = rowSet(store.matrixRows, N, n1);
    distributionStoragePart.ppNormalMatrixReg = rowSet(store.regRows, N, n1);
    distributionStoragePart.pDistSolution = take(n1);
    distributionStoragePart.pNNLSGradient = take(n1);
    distributionStoragePart.ppNNLSWork = rowSet(store.workRows, N, n1);
    distributionStoragePart.pNNLSWorkRhs = take(n1);
    distributionStoragePart.pNNLSDiag = take(n1);
    distributionStoragePart.pNNLSSub = take(n1);
    distributionStoragePart.pNNLSTrial = take(n1);
    distributionStoragePart.pKernelMean = take(n1);
    distributionStoragePart.pMaxEntLogRatio = take(n1);
    distributionStoragePart.pDistSolution2 = take(n1);
    store.passive.assign(n1, 0);
    distributionStoragePart.pNNLSPassive = store.passive.data();
  } catch (const std::bad_alloc&) {
    FreeNormalEquationArrays();
    return fail();
  }
  distributionStoragePart.nNEQUnknowns = N;
  distributionStoragePart.nNEQFirstKernel = 1;
  distributionStoragePart.nWorkspaceUnknowns = N;
  distributionStoragePart.nWorkspaceScans = a;
  distributionStoragePart.nWorkspacePoints = b;
  return true;
}

void FreeNormalEquationArrays() {
  auto& distributionStoragePart = DistributionStorage();
  Workspace().block.Release();
  Workspace() = WorkspaceStore{};
  distributionStoragePart.ppKernelScanMean = distributionStoragePart.ppKernelRadiusMean = nullptr;
  distributionStoragePart.pDataScanMean = distributionStoragePart.pDataRadiusMean = nullptr;
  distributionStoragePart.pNormalRhs = nullptr;
  distributionStoragePart.ppNormalMatrix = distributionStoragePart.ppNormalMatrixReg = distributionStoragePart.ppNNLSWork = nullptr;
  distributionStoragePart.pDistSolution = distributionStoragePart.pNNLSGradient = distributionStoragePart.pNNLSWorkRhs = distributionStoragePart.pNNLSDiag = distributionStoragePart.pNNLSSub = distributionStoragePart.pNNLSTrial = nullptr;
  distributionStoragePart.pKernelMean = distributionStoragePart.pMaxEntLogRatio = distributionStoragePart.pDistSolution2 = nullptr;
  distributionStoragePart.pNNLSPassive = nullptr;
  distributionStoragePart.nNEQUnknowns = distributionStoragePart.nWorkspaceUnknowns = distributionStoragePart.nWorkspaceScans = distributionStoragePart.nWorkspacePoints = 0;
}

void ReleaseSpareDistributionArrays() {
  ReusedBlock<float>().ReleaseSpare();
  ReusedBlock<double>().ReleaseSpare();
}

}  // namespace tarmic
