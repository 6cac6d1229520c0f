// Sorting with companions, the index sort, and maximum projections.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "numerics/sorting.h"

namespace tarmic {
namespace {

TEST(Sorting, EmptyAndSingleArraysAreLeftAlone) {
  float a[2] = {5.0f, 3.0f};
  float b[2] = {6.0f, 4.0f};
  sort2(0, a, b);
  sort2(1, a, b);
  EXPECT_EQ(a[1], 3.0f);
  EXPECT_EQ(b[1], 4.0f);
  int idx[2] = {0, 0};
  indexx(1, a, idx);
  EXPECT_EQ(idx[1], 1);
}

// Sorts n keys with companions key*10 + 1 and checks order and pairing.
void CheckSort2(std::vector<float> keys) {
  const int n = static_cast<int>(keys.size());
  std::vector<float> a(n + 1), b(n + 1);
  for (int i = 1; i <= n; ++i) {
    a[i] = keys[i - 1];
    b[i] = keys[i - 1] * 10.0f + 1.0f;
  }
  sort2(n, a.data(), b.data());
  std::sort(keys.begin(), keys.end());
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(a[i], keys[i - 1]) << i;
    EXPECT_EQ(b[i], a[i] * 10.0f + 1.0f) << i;
  }
}

TEST(Sorting, ShortAndLongRangesGiveTheSameAscendingOrder) {
  CheckSort2({7, 6, 5, 4, 3, 2, 1});     // insertion only
  CheckSort2({8, 7, 6, 5, 4, 3, 2, 1});  // partitioning
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> u(-500, 500);
  std::vector<float> many(2000);
  for (float& k : many) k = static_cast<float>(u(rng));  // many equal keys
  CheckSort2(many);
  std::vector<float> sorted(300);
  for (int i = 0; i < 300; ++i) sorted[i] = static_cast<float>(300 - i);
  CheckSort2(sorted);
}

TEST(Sorting, EqualKeysKeepTheirOwnCompanions) {
  float a[10] = {0, 2, 1, 2, 1, 2, 1, 2, 1, 2};
  float b[10] = {0, 21, 11, 22, 12, 23, 13, 24, 14, 25};
  sort2(9, a, b);
  std::vector<std::pair<float, float>> pairs;
  for (int i = 1; i <= 9; ++i) pairs.emplace_back(a[i], b[i]);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(a[i], 1.0f);
  for (const auto& [key, item] : pairs) EXPECT_EQ(static_cast<int>(item) / 10, static_cast<int>(key));
  std::sort(pairs.begin(), pairs.end(), [](auto& l, auto& r) { return l.second < r.second; });
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pairs[i].second, 11.0f + i);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pairs[4 + i].second, 21.0f + i);
}

TEST(Sorting, IndexSortListsTheKeysInOrderWithoutMovingThem) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  const int n = 517;
  std::vector<float> a(n + 1);
  for (int i = 1; i <= n; ++i) a[i] = u(rng);
  a[100] = a[200] = a[300];
  const std::vector<float> before = a;
  std::vector<int> idx(n + 1);
  indexx(n, a.data(), idx.data());
  EXPECT_EQ(a, before);
  std::vector<int> seen(idx.begin() + 1, idx.end());
  std::sort(seen.begin(), seen.end());
  for (int i = 1; i <= n; ++i) EXPECT_EQ(seen[i - 1], i);  // a permutation
  for (int i = 1; i < n; ++i) EXPECT_LE(a[idx[i]], a[idx[i + 1]]) << i;
}

TEST(Sorting, ThreeArraysMoveTogether) {
  const int n = 12;
  std::vector<float> ra(n + 1), rb(n + 1), rc(n + 1);
  for (int i = 1; i <= n; ++i) {
    ra[i] = static_cast<float>((i * 7) % n);
    rb[i] = ra[i] + 100.0f;
    rc[i] = -ra[i];
  }
  sort3(n, ra.data(), rb.data(), rc.data());
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(ra[i], static_cast<float>(i - 1));
    EXPECT_EQ(rb[i], ra[i] + 100.0f);
    EXPECT_EQ(rc[i], -ra[i]);
  }
}

TEST(Projections, MaximumOverEachDistinctAbscissa) {
  float x[4] = {0, 1, 1, 2};
  float y[4] = {0, 5, 6, 5};
  float z[4] = {0, 2, 7, 3};
  float xOut[4], zxOut[4], yOut[4], zyOut[4];
  int nx = -1;
  int ny = -1;
  EXPECT_TRUE(ComputeMaxProjections(3, x, y, z, &nx, xOut, zxOut, &ny, zyOut, yOut));
  ASSERT_EQ(nx, 2);
  ASSERT_EQ(ny, 2);
  // (abscissa, maximum) pairs over x and over y; the inputs are not changed.
  EXPECT_EQ(std::vector<float>({xOut[1], zxOut[1], xOut[2], zxOut[2]}), std::vector<float>({1, 7, 2, 3}));
  EXPECT_EQ(std::vector<float>({yOut[1], zyOut[1], yOut[2], zyOut[2]}), std::vector<float>({5, 3, 6, 7}));
  EXPECT_EQ(z[2], 7.0f);
}

}  // namespace
}  // namespace tarmic
