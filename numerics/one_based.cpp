// One-based arrays over explicit index ranges.
//
// Every block is obtained with malloc and given back with free. A vector pointer is
// the block pointer moved so that index nl falls on the block's second element
// (index nl-1 is the spare in front). Matrices and three-dimensional arrays link
// their row pointers into one contiguous element block. Row-pointer arrays always
// hold at least the spare and the first slot, so that an empty range still has a
// slot that remembers the element block for the release routine.
#include "numerics/one_based.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "services/error_box.h"
#include "services/engine_notice.h"

namespace tarmic {

[[noreturn]] void nrerror(const char* error_text) {
  // Raised as a failure, which ends the command: the caller never goes on with
  // failed storage or a singular result.
  RaiseFailure(error_text);
}

namespace {

// Number of elements in [lo..hi]; fails through nrerror for a range that ends more
// than one before it starts (an empty range, hi = lo-1, is fine).
std::size_t RangeCount(int lo, int hi, const char* message) {
  const long long count = static_cast<long long>(hi) - lo + 1;
  if (count < 0) nrerror(message);
  return static_cast<std::size_t>(count);
}

// malloc of count elements of size bytes, nrerror on failure or overflow.
void* AllocBlock(std::size_t count, std::size_t size, const char* message) {
  if (count != 0 && size > static_cast<std::size_t>(-1) / count) nrerror(message);
  void* block = std::malloc(count * size == 0 ? 1 : count * size);
  if (block == nullptr) nrerror(message);
  return block;
}

// Vector over [nl..nh] with `spare_after` extra elements behind the range.
template <typename T>
T* AllocVector(int nl, int nh, std::size_t spare_after, bool clear, const char* message) {
  const std::size_t n = RangeCount(nl, nh, message);
  T* block = static_cast<T*>(AllocBlock(n + 1 + spare_after, sizeof(T), message));
  if (clear && n > 0) std::memset(block + 1, 0, n * sizeof(T));
  return block + 1 - static_cast<std::ptrdiff_t>(nl);
}

template <typename T>
void FreeVector(T* v, int nl) {
  if (v == nullptr) return;
  std::free(v + static_cast<std::ptrdiff_t>(nl) - 1);
}

// Row pointers over [nrl..nrh]: nrow+1 slots (at least two), offset so that index
// nrl is the block's second slot.
template <typename T>
T** AllocRowPointers(std::size_t nrow, int nrl, const char* message) {
  const std::size_t slots = nrow + 1 < 2 ? 2 : nrow + 1;
  T** block = static_cast<T**>(AllocBlock(slots, sizeof(T*), message));
  return block + 1 - static_cast<std::ptrdiff_t>(nrl);
}

template <typename T>
void FreeRowPointers(T** m, int nrl) {
  std::free(m + static_cast<std::ptrdiff_t>(nrl) - 1);
}

// Matrix over [nrl..nrh][ncl..nch]: row pointers plus one element block of
// nrow*ncol+1 elements; m[nrl] points at the block's second element less ncl and
// each further row follows ncol elements after the one before.
template <typename T>
T** AllocMatrix(int nrl, int nrh, int ncl, int nch, const char* message1,
                const char* message2) {
  const std::size_t nrow = RangeCount(nrl, nrh, message1);
  const std::size_t ncol = RangeCount(ncl, nch, message2);
  T** m = AllocRowPointers<T>(nrow, nrl, message1);
  if (ncol != 0 && nrow > (static_cast<std::size_t>(-1) / sizeof(T) - 1) / ncol) {
    FreeRowPointers(m, nrl);
    nrerror(message2);
  }
  T* elements = static_cast<T*>(std::malloc((nrow * ncol + 1) * sizeof(T)));
  if (elements == nullptr) {
    FreeRowPointers(m, nrl);
    nrerror(message2);
  }
  m[nrl] = elements + 1 - static_cast<std::ptrdiff_t>(ncl);
  for (std::size_t r = 1; r < nrow; ++r) {
    const int i = nrl + static_cast<int>(r);
    m[i] = m[i - 1] + ncol;
  }
  return m;
}

template <typename T>
void FreeMatrix(T** m, int nrl, int ncl) {
  if (m == nullptr) return;
  std::free(m[nrl] + static_cast<std::ptrdiff_t>(ncl) - 1);
  FreeRowPointers(m, nrl);
}

}  // namespace

float* vector(int nl, int nh) {
  return AllocVector<float>(nl, nh, 1, true, "allocation failure in vector()");
}

int* ivector(int nl, int nh) {
  return AllocVector<int>(nl, nh, 0, true, "allocation failure in ivector()");
}

unsigned char* cvector(int nl, int nh) {
  return AllocVector<unsigned char>(nl, nh, 0, false, "allocation failure in cvector()");
}

std::uint32_t* lvector(int nl, int nh) {
  return AllocVector<std::uint32_t>(nl, nh, 0, true, "allocation failure in lvector()");
}

double* dvector(int nl, int nh) {
  return AllocVector<double>(nl, nh, 0, true, "allocation failure in dvector()");
}

float** matrix(int nrl, int nrh, int ncl, int nch) {
  return AllocMatrix<float>(nrl, nrh, ncl, nch, "allocation failure 1 in matrix()",
                            "allocation failure 2 in matrix()");
}

double** dmatrix(int nrl, int nrh, int ncl, int nch) {
  return AllocMatrix<double>(nrl, nrh, ncl, nch, "allocation failure 1 in matrix()",
                             "allocation failure 2 in matrix()");
}

int** imatrix(int nrl, int nrh, int ncl, int nch) {
  return AllocMatrix<int>(nrl, nrh, ncl, nch, "allocation failure 1 in matrix()",
                          "allocation failure 2 in matrix()");
}

// Row newrl+(i-oldrl), column newcl+(j-oldcl) of the result is a[i][j]; only the
// row pointers are new.
float** submatrix(float** a, int oldrl, int oldrh, int oldcl, int oldch, int newrl, int newcl) {
  static const char* const kMessage = "allocation failure in submatrix()";
  (void)oldch;
  const std::size_t nrow = RangeCount(oldrl, oldrh, kMessage);
  const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(oldcl) - newcl;
  float** m = AllocRowPointers<float>(nrow, newrl, kMessage);
  for (std::size_t r = 0; r < nrow; ++r) {
    m[newrl + static_cast<int>(r)] = a[oldrl + static_cast<int>(r)] + shift;
  }
  return m;
}

// Row pointers over the contiguous row-major array a so that [nrl][ncl] is a[0].
float** convert_matrix(float* a, int nrl, int nrh, int ncl, int nch) {
  static const char* const kMessage = "allocation failure in convert_matrix()";
  const std::size_t nrow = RangeCount(nrl, nrh, kMessage);
  const std::size_t ncol = RangeCount(ncl, nch, kMessage);
  float** m = AllocRowPointers<float>(nrow, nrl, kMessage);
  m[nrl] = a - static_cast<std::ptrdiff_t>(ncl);
  for (std::size_t r = 1; r < nrow; ++r) {
    const int i = nrl + static_cast<int>(r);
    m[i] = m[i - 1] + ncol;
  }
  return m;
}

// t[i][j][k] addresses one float: a pointer array over the rows, one block of
// nrow*ncol row pointers and one block of nrow*ncol*ndep elements.
float*** f3tensor(int nrl, int nrh, int ncl, int nch, int ndl, int ndh) {
  static const char* const kMessage1 = "allocation failure 1 in f3tensor()";
  static const char* const kMessage2 = "allocation failure 2 in f3tensor()";
  static const char* const kMessage3 = "allocation failure 3 in f3tensor()";
  const std::size_t nrow = RangeCount(nrl, nrh, kMessage1);
  const std::size_t ncol = RangeCount(ncl, nch, kMessage2);
  const std::size_t ndep = RangeCount(ndl, ndh, kMessage3);

  float*** t = AllocRowPointers<float*>(nrow, nrl, kMessage1);

  // nrow*ncol+1 row pointers, at least two so that t[nrl][ncl] always exists.
  const std::size_t rows = nrow * ncol;
  if (ncol != 0 && nrow > (static_cast<std::size_t>(-1) / sizeof(float*) - 2) / ncol) {
    FreeRowPointers(t, nrl);
    nrerror(kMessage2);
  }
  float** rowBlock = static_cast<float**>(std::malloc((rows + 1 < 2 ? 2 : rows + 1) * sizeof(float*)));
  if (rowBlock == nullptr) {
    FreeRowPointers(t, nrl);
    nrerror(kMessage2);
  }
  if (ndep != 0 && rows > (static_cast<std::size_t>(-1) / sizeof(float) - 1) / ndep) {
    std::free(rowBlock);
    FreeRowPointers(t, nrl);
    nrerror(kMessage3);
  }
  float* elements = static_cast<float*>(std::malloc((rows * ndep + 1) * sizeof(float)));
  if (elements == nullptr) {
    std::free(rowBlock);
    FreeRowPointers(t, nrl);
    nrerror(kMessage3);
  }

  t[nrl] = rowBlock + 1 - static_cast<std::ptrdiff_t>(ncl);
  t[nrl][ncl] = elements + 1 - static_cast<std::ptrdiff_t>(ndl);
  for (std::size_t c = 1; c < ncol; ++c) {
    const int j = ncl + static_cast<int>(c);
    t[nrl][j] = t[nrl][j - 1] + ndep;
  }
  for (std::size_t r = 1; r < nrow; ++r) {
    const int i = nrl + static_cast<int>(r);
    t[i] = t[i - 1] + ncol;
    t[i][ncl] = t[i - 1][ncl] + ncol * ndep;
    for (std::size_t c = 1; c < ncol; ++c) {
      const int j = ncl + static_cast<int>(c);
      t[i][j] = t[i][j - 1] + ndep;
    }
  }
  return t;
}

void free_vector(float* v, int nl, int /*nh*/) { FreeVector(v, nl); }
void free_ivector(int* v, int nl, int /*nh*/) { FreeVector(v, nl); }
void free_cvector(unsigned char* v, int nl, int /*nh*/) { FreeVector(v, nl); }
void free_lvector(std::uint32_t* v, int nl, int /*nh*/) { FreeVector(v, nl); }
void free_dvector(double* v, int nl, int /*nh*/) { FreeVector(v, nl); }

void free_matrix(float** m, int nrl, int /*nrh*/, int ncl, int /*nch*/) {
  FreeMatrix(m, nrl, ncl);
}

void free_dmatrix(double** m, int nrl, int /*nrh*/, int ncl, int /*nch*/) {
  FreeMatrix(m, nrl, ncl);
}

void free_imatrix(int** m, int nrl, int /*nrh*/, int ncl, int /*nch*/) {
  FreeMatrix(m, nrl, ncl);
}

// Views own only their row pointers. A null pointer is tolerated here as well.
void free_submatrix(float** b, int nrl, int /*nrh*/, int /*ncl*/, int /*nch*/) {
  if (b != nullptr) FreeRowPointers(b, nrl);
}

void free_convert_matrix(float** b, int nrl, int /*nrh*/, int /*ncl*/, int /*nch*/) {
  if (b != nullptr) FreeRowPointers(b, nrl);
}

void free_f3tensor(float*** t, int nrl, int /*nrh*/, int ncl, int /*nch*/, int ndl,
                   int /*ndh*/) {
  if (t == nullptr) return;
  std::free(t[nrl][ncl] + static_cast<std::ptrdiff_t>(ndl) - 1);
  std::free(t[nrl] + static_cast<std::ptrdiff_t>(ncl) - 1);
  FreeRowPointers(t, nrl);
}

}  // namespace tarmic
