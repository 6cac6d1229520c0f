// CCurve: the abscissae x and ordinates y of one curve as two CVector objects.
// Curves built from two vectors are views that copy nothing (the caller keeps the
// vectors alive); curves read from files own their vectors. The number of points
// is the length of x; y is read at the same indices (0 where it is shorter).
// Operations that search by x ranges assume x ascending.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "numerics/cvector.h"

namespace tarmic {

class CCurve {
 public:
  CCurve();
  // Refers to the two vectors without owning them.
  CCurve(CVector* x, CVector* y);
  // Owns two new vectors with x[i] = xs[xOffset+i], y[i] = ys[yOffset+i], i < n.
  CCurve(const float* xs, const float* ys, std::uint32_t n, int xOffset, int yOffset);
  // A copy of a curve that owns its vectors owns copies of them; a copy of a view
  // refers to the same vectors without owning them.
  CCurve(const CCurve& other);
  CCurve& operator=(const CCurve& other);
  ~CCurve();

  CVector* X() const { return x_; }
  CVector* Y() const { return y_; }
  bool OwnsVectors() const { return ownsVectors_; }
  int Count() const;

  // One line per point, x and y as the shortest text that reads back as the float
  // (RoundTripText, text/number_token.h). False after "\n\aAttention: could not
  // open %s" when the file cannot be created.
  bool WriteToFile(const char* fileName) const;
  // Loads the curve from a text table, x from column xColumn and y from yColumn
  // (counted from 1; a yColumn not above xColumn means the field after x). Fields
  // are separated by blanks, a ';' or a ',' (blanks around it allowed); each field
  // up to the y column must be one number as a whole (text/number_token.h), the
  // rest of each line is ignored, and so are blank lines. False when the file
  // cannot be opened ("\n\aAttention: could not open %s"), holds no record, or a
  // line has no number where a needed field should be (the message names the
  // line); the curve is then left as it was. The message goes into *failure when
  // given, else into the error box.
  bool ReadFromFile(const char* fileName, int xColumn, int yColumn, std::string* failure = nullptr);
  // As ReadFromFile, each run of k records becoming one point of their mean x and
  // mean y (the last run averaged over its own size).
  bool ReadFromFileAveraged(const char* fileName, int xColumn, int yColumn, int k);

  // Smallest / largest y over the indices max(first, 0) up to but not including
  // min(last, n) with x1 <= x <= x2; the scan stops at the first point with x > x2.
  // 0 when no point qualifies.
  float MinYInWindow(float x1, float x2, int first, int last) const;
  float MaxYInWindow(float x1, float x2, int first, int last) const;
  float MinYInXRange(float x1, float x2) const;
  float MaxYInXRange(float x1, float x2) const;
  // Mean y of all points with x1 <= x <= x2; 0 when none.
  float MeanYInXRange(float x1, float x2) const;
  // Index of the point whose x is closest (the first on ties); -1 without points.
  int IndexOfNearestX(float x) const;
  int FindNearestX(float x, float* xOut, float* yOut) const;
  int FindNearestY(float y, float* xOut, float* yOut) const;
  int FindNearestPoint(float x, float y, float* xOut, float* yOut) const;
  // x of the first point with the largest y; 0 without points.
  float XAtMaxY() const;
  // y at x by linear interpolation between the neighbouring points, extrapolated
  // from the end segments outside the curve.
  float InterpolateY(float x) const;
  // Sorts the points by ascending x; equal x keep their order.
  void SortByX();
  // The points i (one-based, halfWidth+1 .. n-halfWidth) whose y is strictly above
  // the halfWidth neighbours on each side, highest y first (equal y in index
  // order); at most maxPeaks written to xOut[1..], yOut[1..] and idxOut[1..] (when
  // not null). Returns the number written; 0 for maxPeaks < 1, halfWidth < 1 or a
  // null xOut or yOut.
  int FindPeaks(float* xOut, float* yOut, int* idxOut, int maxPeaks, int halfWidth) const;

 private:
  float XAt(int i) const { return x_ ? x_->Get(i) : 0.0f; }
  float YAt(int i) const { return y_ ? y_->Get(i) : 0.0f; }
  void ReleaseVectors();
  bool ReadRecords(const char* fileName, int xColumn, int yColumn, std::vector<float>* xs,
                   std::vector<float>* ys, std::string* failure) const;
  void Adopt(const std::vector<float>& xs, const std::vector<float>& ys);

  bool ownsVectors_ = false;
  CVector* x_ = nullptr;
  CVector* y_ = nullptr;
};

// Writes x[i] and y[i], i = 1..n (one-based arrays), one pair per line, each as the
// shortest text that reads back as the float (RoundTripText); false
// after "\n\aAttention: could not open %s".
bool WriteXYTable(const char* fileName, int n, const float* x, const float* y);

// a[1] b[2] - a[2] b[1] of one-based columns.
float Determinant2x2(const float* a, const float* b);
// The 3 x 3 determinant of the one-based columns a, b, c, expanded by the first.
float Determinant3x3(const float* a, const float* b, const float* c);

}  // namespace tarmic
