// In-place sorting of one-based float arrays with companion arrays, an index sort,
// and the maximum projections of a three-column point cloud.
//
// The sorts are quicksorts with median-of-three partitioning that finish ranges of
// seven or fewer elements by straight insertion; they are not stable. Each keeps
// its own stack of pending ranges (25 ranges, always pushing the larger part, so it
// suffices for well over a hundred million elements).
#pragma once

#include <cstdint>

namespace tarmic {

// Sorts arr[1..n] ascending and applies the same rearrangement to brr[1..n].
void sort2(int n, float* arr, float* brr);
// Fills indx[1..n] so that arr[indx[1]] <= arr[indx[2]] <= ...; arr is unchanged.
void indexx(int n, const float* arr, int* indx);
// As indexx, with an unsigned 32-bit index vector.
void indexx(int n, const float* arr, std::uint32_t* indx);
// Sorts ra[1..n] ascending and rearranges rb and rc alike.
void sort3(int n, float* ra, float* rb, float* rc);

// Maximum projections of the points (x[i], y[i], z[i]), i = 1..n: for each distinct
// x (ascending) the largest z, into xOut[1..*nx] and zxOut[1..*nx]; for each
// distinct y the largest z, into yOut[1..*ny] and zyOut[1..*ny]. The outputs must
// hold n elements. Returns true.
bool ComputeMaxProjections(int n, const float* x, const float* y, const float* z, int* nx,
                           float* xOut, float* zxOut, int* ny, float* zyOut, float* yOut);

}  // namespace tarmic
