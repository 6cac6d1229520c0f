// One-based allocators: cleared ranges, contiguous rows, empty ranges, null
// releases, views, and the fatal exit nrerror.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "services/error_box.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

TEST(OneBasedVectors, ClearedTypesAreZeroOverTheWholeRange) {
  const int n = 37;
  float* v = vector(1, n);
  double* d = dvector(1, n);
  int* iv = ivector(0, n);
  std::uint32_t* lv = lvector(-5, n);
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(v[i], 0.0f) << i;
    EXPECT_EQ(d[i], 0.0) << i;
  }
  for (int i = 0; i <= n; ++i) EXPECT_EQ(iv[i], 0) << i;
  for (int i = -5; i <= n; ++i) EXPECT_EQ(lv[i], 0u) << i;
  free_lvector(lv, -5, n);
  free_ivector(iv, 0, n);
  free_dvector(d, 1, n);
  free_vector(v, 1, n);
}

TEST(OneBasedVectors, SpareElementsAroundTheRangeAreAddressable) {
  // Index nl-1 belongs to every vector's block; the float vector also has nh+1.
  float* v = vector(3, 9);
  v[2] = 1.0f;
  v[10] = 2.0f;
  EXPECT_EQ(v[2] + v[10], 3.0f);
  free_vector(v, 3, 9);
  double* d = dvector(-2, 4);
  d[-3] = 5.0;
  EXPECT_EQ(d[-3], 5.0);
  free_dvector(d, -2, 4);
  unsigned char* c = cvector(1, 4);
  c[0] = 7;
  c[4] = 8;
  EXPECT_EQ(c[0] + c[4], 15);
  free_cvector(c, 1, 4);
}

TEST(OneBasedMatrices, RowsFollowEachOtherInOneBlock) {
  float** m = matrix(1, 3, 1, 4);
  EXPECT_EQ(m[2], m[1] + 4);
  EXPECT_EQ(m[3], m[2] + 4);
  float* run = &m[1][1];
  for (int k = 0; k < 12; ++k) run[k] = static_cast<float>(k);
  EXPECT_EQ(m[3][4], 11.0f);
  EXPECT_EQ(m[2][1], 4.0f);
  free_matrix(m, 1, 3, 1, 4);

  double** d = dmatrix(0, 2, -1, 1);
  EXPECT_EQ(&d[2][1] - &d[0][-1], 8);
  free_dmatrix(d, 0, 2, -1, 1);
}

TEST(OneBasedMatrices, TensorAddressesOneContiguousElementBlock) {
  float*** t = f3tensor(1, 3, 0, 2, 1, 4);
  for (int i = 1; i <= 3; ++i)
    for (int j = 0; j <= 2; ++j)
      for (int k = 1; k <= 4; ++k) t[i][j][k] = 100.0f * i + 10.0f * j + k;
  EXPECT_EQ(&t[3][2][4] - &t[1][0][1], 3 * 3 * 4 - 1);
  EXPECT_EQ(t[2][1][3], 213.0f);
  free_f3tensor(t, 1, 3, 0, 2, 1, 4);
}

TEST(OneBasedBounds, EmptyRangesGiveReleasablePointers) {
  double* d = dvector(5, 4);
  ASSERT_NE(d, nullptr);
  free_dvector(d, 5, 4);
  float** m = matrix(1, 0, 1, 3);
  ASSERT_NE(m, nullptr);
  free_matrix(m, 1, 0, 1, 3);
  double** dm = dmatrix(1, 3, 1, 0);
  ASSERT_NE(dm, nullptr);
  free_dmatrix(dm, 1, 3, 1, 0);
  float*** t = f3tensor(1, 0, 1, 0, 1, 0);
  ASSERT_NE(t, nullptr);
  free_f3tensor(t, 1, 0, 1, 0, 1, 0);
}

TEST(OneBasedBounds, ReleasingNullDoesNothing) {
  free_vector(nullptr, 1, 10);
  free_dvector(nullptr, 1, 10);
  free_matrix(nullptr, 1, 3, 1, 3);
  free_imatrix(nullptr, 1, 3, 1, 3);
}

TEST(OneBasedErrors, ReversedRangeEndsTheCommandInsteadOfAllocating) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_THROW(dvector(10, 2), FatalError);
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

}  // namespace
}  // namespace tarmic
