// Quicksorts of one-based float arrays with companions, the index sort, and the
// maximum projections of a point cloud.
#include "numerics/sorting.h"

#include <initializer_list>
#include <utility>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/one_based.h"

namespace tarmic {

namespace {

// Ranges this short are finished by straight insertion.
constexpr int kInsertionLimit = 7;
// Stack of pending ranges: 25 (low, high) pairs.
constexpr int kStackSize = 50;

// Straight insertion over [l..ir]: each element moves left past every element
// strictly greater than it.
template <typename Seq>
void InsertionSort(Seq& s, int l, int ir) {
  for (int j = l + 1; j <= ir; ++j) {
    s.Take(j);
    const float a = s.HeldKey();
    int i = j - 1;
    for (; i >= l; --i) {
      if (s.Key(i) <= a) break;
      s.Move(i + 1, i);
    }
    s.Put(i + 1);
  }
}

// Quicksort of s[1..n] by key with median-of-three partitioning. After the
// median-of-three step, s[l] <= pivot <= s[ir] serve as sentinels for the two scans,
// so neither scan leaves [l..ir] (NaN keys included: each scan stops at an element
// that does not compare as smaller, or larger, than the pivot). The larger part is
// pushed and the smaller processed next, so the stack depth stays below log2(n).
template <typename Seq>
void Quicksort(int n, Seq& s, const char* overflowMessage) {
  int* istack = ivector(1, kStackSize);
  int jstack = 0;
  int l = 1;
  int ir = n;
  for (;;) {
    if (ir - l < kInsertionLimit) {
      InsertionSort(s, l, ir);
      if (jstack == 0) break;
      ir = istack[jstack];
      l = istack[jstack - 1];
      jstack -= 2;
      continue;
    }
    const int k = (l + ir) >> 1;
    s.Swap(k, l + 1);
    if (s.Key(l) > s.Key(ir)) s.Swap(l, ir);
    if (s.Key(l + 1) > s.Key(ir)) s.Swap(l + 1, ir);
    if (s.Key(l) > s.Key(l + 1)) s.Swap(l, l + 1);
    int i = l + 1;
    int j = ir;
    s.Take(l + 1);
    const float a = s.HeldKey();
    for (;;) {
      do ++i;
      while (s.Key(i) < a);
      do --j;
      while (s.Key(j) > a);
      if (j < i) break;
      s.Swap(i, j);
    }
    s.Move(l + 1, j);
    s.Put(j);
    if (jstack + 2 > kStackSize) {
      // No room for another pending range: report it and finish this range by
      // insertion (slow but correct) rather than write past the stack.
      RaiseError(overflowMessage);
      InsertionSort(s, l, ir);
      if (jstack == 0) break;
      ir = istack[jstack];
      l = istack[jstack - 1];
      jstack -= 2;
      continue;
    }
    jstack += 2;
    if (ir - i + 1 >= j - l) {
      istack[jstack] = ir;
      istack[jstack - 1] = i;
      ir = j - 1;
    } else {
      istack[jstack] = j - 1;
      istack[jstack - 1] = l;
      l = i;
    }
  }
  free_ivector(istack, 1, kStackSize);
}

// Keys with a companion array that moves along.
class KeyWithCompanion {
 public:
  KeyWithCompanion(float* key, float* companion) : key_(key), companion_(companion) {}
  float Key(int i) const { return key_[i]; }
  float HeldKey() const { return heldKey_; }
  void Swap(int i, int j) {
    std::swap(key_[i], key_[j]);
    std::swap(companion_[i], companion_[j]);
  }
  void Move(int dst, int src) {
    key_[dst] = key_[src];
    companion_[dst] = companion_[src];
  }
  void Take(int i) {
    heldKey_ = key_[i];
    heldCompanion_ = companion_[i];
  }
  void Put(int i) {
    key_[i] = heldKey_;
    companion_[i] = heldCompanion_;
  }

 private:
  float* key_;
  float* companion_;
  float heldKey_ = 0.0f;
  float heldCompanion_ = 0.0f;
};

// An index permutation sorted by the keys it points at.
template <typename Index>
class IndexByKey {
 public:
  IndexByKey(const float* arr, Index* indx) : arr_(arr), indx_(indx) {}
  float Key(int i) const { return arr_[indx_[i]]; }
  float HeldKey() const { return arr_[held_]; }
  void Swap(int i, int j) { std::swap(indx_[i], indx_[j]); }
  void Move(int dst, int src) { indx_[dst] = indx_[src]; }
  void Take(int i) { held_ = indx_[i]; }
  void Put(int i) { indx_[i] = held_; }

 private:
  const float* arr_;
  Index* indx_;
  Index held_ = 0;
};

template <typename Index>
void IndexSort(int n, const float* arr, Index* indx) {
  for (int j = 1; j <= n; ++j) indx[j] = static_cast<Index>(j);
  IndexByKey<Index> s(arr, indx);
  Quicksort(n, s, "NSTACK too small in indexx.");
}

// One projection: sort the key copy carrying z, then one entry per distinct key
// holding the largest z of that key.
int MaxProjection(int n, const float* key, const float* z, float* keyOut, float* zOut) {
  float* k = vector(1, n);
  float* zc = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    k[i] = key[i];
    zc[i] = z[i];
  }
  sort2(n, k, zc);
  int count = 0;
  for (int i = 1; i <= n; ++i) {
    if (count > 0 && k[i] == k[i - 1]) {
      if (zc[i] > zOut[count]) zOut[count] = zc[i];
    } else {
      ++count;
      keyOut[count] = k[i];
      zOut[count] = zc[i];
    }
  }
  free_vector(zc, 1, n);
  free_vector(k, 1, n);
  return count;
}

}  // namespace

void sort2(int n, float* arr, float* brr) {
  KeyWithCompanion s(arr, brr);
  Quicksort(n, s, "NSTACK too small in sort2.");
}

void indexx(int n, const float* arr, int* indx) { IndexSort(n, arr, indx); }

void indexx(int n, const float* arr, std::uint32_t* indx) { IndexSort(n, arr, indx); }

void sort3(int n, float* ra, float* rb, float* rc) {
  if (n < 1) return;
  std::uint32_t* iwksp = lvector(1, n);
  float* wksp = vector(1, n);
  indexx(n, ra, iwksp);
  // Apply the permutation to each array through the work copy.
  for (float* r : {ra, rb, rc}) {
    for (int j = 1; j <= n; ++j) wksp[j] = r[j];
    for (int j = 1; j <= n; ++j) r[j] = wksp[iwksp[j]];
  }
  free_vector(wksp, 1, n);
  free_lvector(iwksp, 1, n);
}

bool ComputeMaxProjections(int n, const float* x, const float* y, const float* z, int* nx,
                           float* xOut, float* zxOut, int* ny, float* zyOut, float* yOut) {
  if (n < 1) {
    *nx = 0;
    *ny = 0;
    return true;
  }
  *nx = MaxProjection(n, x, z, xOut, zxOut);
  *ny = MaxProjection(n, y, z, yOut, zyOut);
  return true;
}

}  // namespace tarmic
