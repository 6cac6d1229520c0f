// The curve class: two-column text tables and the range and peak queries.
#include "numerics/ccurve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "text/number_token.h"
#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/text_lines.h"
#include "platform/system.h"

namespace tarmic {

namespace {

// The message, with the system's reason of a failed write on its own line.
void ShowFileError(const char* format, const char* fileName, const std::string& reason = {}) {
  const std::string name = fileName ? fileName : "";
  std::vector<char> text(std::strlen(format) + name.size() + 1);
  std::snprintf(text.data(), text.size(), format, name.c_str());
  RaiseError(WithReason(text.data(), reason));
}

bool IsBlankLine(const std::string& line) {
  for (char c : line)
    if (!(c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f')) return false;
  return true;
}

// Writes the lines of a two-column file; false after the open message or when
// writing fails.
template <class Line>
bool WriteLines(const char* fileName, int n, Line line) {
  AtomicFile out(fileName ? fileName : "");
  std::FILE* f = fileName ? out.File() : nullptr;
  if (!f) {
    ShowFileError("\n\aAttention: could not open %s", fileName, out.Error());
    return false;
  }
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) ok = std::fputs(line(i).c_str(), f) >= 0;
  ok = ok && out.Commit();
  if (!ok) {
    out.Discard();
    ShowFileError("\n\aAttention: could not write %s", fileName, out.Error());
  }
  return ok;
}

}  // namespace

// ------------------------------------------------------------- construction

CCurve::CCurve() = default;

CCurve::CCurve(CVector* x, CVector* y) : x_(x), y_(y) {}

CCurve::CCurve(const float* xs, const float* ys, std::uint32_t n, int xOffset, int yOffset)
    : ownsVectors_(true) {
  x_ = new CVector(n, 1);
  y_ = new CVector(n, 1);
  float* xd = x_->MutableData();
  float* yd = y_->MutableData();
  for (std::uint32_t i = 0; i < n; ++i) {
    xd[i] = xs[xOffset + static_cast<int>(i)];
    yd[i] = ys[yOffset + static_cast<int>(i)];
  }
}

CCurve::CCurve(const CCurve& other) : ownsVectors_(other.ownsVectors_) {
  if (other.ownsVectors_) {
    x_ = other.x_ ? new CVector(*other.x_) : nullptr;
    y_ = other.y_ ? new CVector(*other.y_) : nullptr;
  } else {
    x_ = other.x_;
    y_ = other.y_;
  }
}

CCurve& CCurve::operator=(const CCurve& other) {
  if (this == &other) return *this;
  CCurve copy(other);
  ReleaseVectors();
  std::swap(ownsVectors_, copy.ownsVectors_);
  std::swap(x_, copy.x_);
  std::swap(y_, copy.y_);
  return *this;
}

CCurve::~CCurve() { ReleaseVectors(); }

void CCurve::ReleaseVectors() {
  if (ownsVectors_) {
    delete x_;
    delete y_;
  }
  x_ = y_ = nullptr;
  ownsVectors_ = false;
}

int CCurve::Count() const { return x_ ? static_cast<int>(x_->Length()) : 0; }

// --------------------------------------------------------------------- files

bool CCurve::WriteToFile(const char* fileName) const {
  return WriteLines(fileName, Count(), [this](int i) {
    return RoundTripText(XAt(i)) + " " + RoundTripText(YAt(i)) + "\n";
  });
}

bool CCurve::ReadRecords(const char* fileName, int xColumn, int yColumn, std::vector<float>* xs,
                         std::vector<float>* ys, std::string* failure) const {
  // The message goes to the caller when it takes it, else into the error box.
  const auto fail = [&](const std::string& text) {
    if (failure)
      *failure = text;
    else
      RaiseError(text);
    return false;
  };
  const std::string name = fileName ? fileName : "";
  std::istringstream in;
  std::string why;
  if (!OpenTextFile(name, LastLine::kRefused, &in, &why)) return fail("\n\aAttention: could not open " + name + ": " + why);
  const int xc = xColumn < 1 ? 1 : xColumn;
  const int yc = yColumn > xc ? yColumn : xc + 1;
  std::string line;
  std::size_t number = 0;
  // The table's width is set by its first line, which must reach the y column;
  // every line holds as many numbers, no fewer and no more (a line is never read
  // in part, nor completed from the next).
  std::size_t width = 0;
  std::vector<double> values;
  while (ReadTextLine(in, &line)) {
    ++number;
    if (IsBlankLine(line)) continue;
    // Fields are separated by blanks, or by ';' or ',' where the line holds one
    // (a decimal comma is then no separator, text/number_token.h).
    static constexpr RowField kNumber{nullptr, FieldKind::kFloat};
    if (width == 0) width = std::max(FieldCount(line, ";,"), static_cast<std::size_t>(yc));
    const RowShape shape = UniformRow(kNumber, width, ";,");
    values.assign(width, 0.0);
    if (const RowScan row = ScanTableRow(line, shape, values.data()); !row)
      return fail("\n\aAttention: " + name + " cannot be read: line " + std::to_string(number) + " " +
                  RowFaultText(line, shape, row));
    xs->push_back(static_cast<float>(values[static_cast<std::size_t>(xc - 1)]));
    ys->push_back(static_cast<float>(values[static_cast<std::size_t>(yc - 1)]));
  }
  if (xs->empty()) return fail("\n\aAttention: " + name + " holds no line of numbers");
  return true;
}

void CCurve::Adopt(const std::vector<float>& xs, const std::vector<float>& ys) {
  ReleaseVectors();
  const auto n = static_cast<std::uint32_t>(xs.size());
  x_ = new CVector(n, xs.data(), 1);
  y_ = new CVector(n, ys.data(), 1);
  ownsVectors_ = true;
}

bool CCurve::ReadFromFile(const char* fileName, int xColumn, int yColumn, std::string* failure) {
  std::vector<float> xs, ys;
  if (!ReadRecords(fileName, xColumn, yColumn, &xs, &ys, failure)) return false;
  Adopt(xs, ys);
  return true;
}

bool CCurve::ReadFromFileAveraged(const char* fileName, int xColumn, int yColumn, int k) {
  std::vector<float> xs, ys;
  if (!ReadRecords(fileName, xColumn, yColumn, &xs, &ys, nullptr)) return false;
  const std::size_t run = k < 1 ? 1 : static_cast<std::size_t>(k);
  std::vector<float> mx, my;
  for (std::size_t start = 0; start < xs.size(); start += run) {
    const std::size_t end = std::min(xs.size(), start + run);
    double sx = 0.0, sy = 0.0;
    for (std::size_t i = start; i < end; ++i) {
      sx += xs[i];
      sy += ys[i];
    }
    const double size = static_cast<double>(end - start);
    mx.push_back(static_cast<float>(sx / size));
    my.push_back(static_cast<float>(sy / size));
  }
  Adopt(mx, my);
  return true;
}

bool WriteXYTable(const char* fileName, int n, const float* x, const float* y) {
  if (!x || !y) n = 0;
  return WriteLines(fileName, n < 0 ? 0 : n, [x, y](int i) {
    return RoundTripText(x[i + 1]) + " " + RoundTripText(y[i + 1]) + "\n";
  });
}

// ------------------------------------------------------------------- queries

float CCurve::MinYInWindow(float x1, float x2, int first, int last) const {
  const int end = std::min(last, Count());
  bool found = false;
  float m = 0.0f;
  for (int i = std::max(first, 0); i < end; ++i) {
    const float x = XAt(i);
    if (x > x2) break;
    if (x < x1) continue;
    const float y = YAt(i);
    if (!found || y < m) m = y;
    found = true;
  }
  return m;
}

float CCurve::MaxYInWindow(float x1, float x2, int first, int last) const {
  const int end = std::min(last, Count());
  bool found = false;
  float m = 0.0f;
  for (int i = std::max(first, 0); i < end; ++i) {
    const float x = XAt(i);
    if (x > x2) break;
    if (x < x1) continue;
    const float y = YAt(i);
    if (!found || y > m) m = y;
    found = true;
  }
  return m;
}

float CCurve::MinYInXRange(float x1, float x2) const { return MinYInWindow(x1, x2, 0, Count()); }

float CCurve::MaxYInXRange(float x1, float x2) const { return MaxYInWindow(x1, x2, 0, Count()); }

float CCurve::MeanYInXRange(float x1, float x2) const {
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < Count(); ++i) {
    const float x = XAt(i);
    if (x >= x1 && x <= x2) {
      sum += YAt(i);
      ++n;
    }
  }
  return n > 0 ? static_cast<float>(sum / n) : 0.0f;
}

int CCurve::IndexOfNearestX(float x) const {
  int best = -1;
  float bestDistance = 0.0f;
  for (int i = 0; i < Count(); ++i) {
    const float d = std::fabs(XAt(i) - x);
    if (best < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

int CCurve::FindNearestX(float x, float* xOut, float* yOut) const {
  const int i = IndexOfNearestX(x);
  if (i >= 0) {
    if (xOut) *xOut = XAt(i);
    if (yOut) *yOut = YAt(i);
  }
  return i;
}

int CCurve::FindNearestY(float y, float* xOut, float* yOut) const {
  int best = -1;
  float bestDistance = 0.0f;
  for (int i = 0; i < Count(); ++i) {
    const float d = std::fabs(YAt(i) - y);
    if (best < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  if (best >= 0) {
    if (xOut) *xOut = XAt(best);
    if (yOut) *yOut = YAt(best);
  }
  return best;
}

int CCurve::FindNearestPoint(float x, float y, float* xOut, float* yOut) const {
  int best = -1;
  float bestDistance = 0.0f;
  for (int i = 0; i < Count(); ++i) {
    const float dx = XAt(i) - x;
    const float dy = YAt(i) - y;
    const float d = dx * dx + dy * dy;
    if (best < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  if (best >= 0) {
    if (xOut) *xOut = XAt(best);
    if (yOut) *yOut = YAt(best);
  }
  return best;
}

float CCurve::XAtMaxY() const {
  int best = -1;
  for (int i = 0; i < Count(); ++i)
    if (best < 0 || YAt(i) > YAt(best)) best = i;
  return best < 0 ? 0.0f : XAt(best);
}

float CCurve::InterpolateY(float x) const {
  const int n = Count();
  if (n == 0) return 0.0f;
  if (n == 1) return YAt(0);
  const int k = IndexOfNearestX(x);
  const float xk = XAt(k);
  if (xk == x) return YAt(k);
  int a, b;
  if (xk > x) {
    a = k == 0 ? 0 : k - 1;
    b = a + 1;
  } else {
    a = k == n - 1 ? n - 2 : k;
    b = a + 1;
  }
  const float xa = XAt(a), xb = XAt(b), ya = YAt(a), yb = YAt(b);
  // y_a + (x - x_a)(y_b - y_a)/(x_b - x_a); two points at the same x give y_a.
  if (xb == xa) return ya;
  return ya + (x - xa) * (yb - ya) / (xb - xa);
}

void CCurve::SortByX() {
  const int n = Count();
  if (n < 2) return;
  std::vector<std::pair<float, float>> points(n);
  for (int i = 0; i < n; ++i) points[i] = {XAt(i), YAt(i)};
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& p, const auto& q) { return p.first < q.first; });
  float* xd = x_->MutableData();
  const int ny = y_ ? std::min(n, static_cast<int>(y_->Length())) : 0;
  float* yd = ny > 0 ? y_->MutableData() : nullptr;
  for (int i = 0; i < n; ++i) {
    xd[i] = points[i].first;
    if (i < ny) yd[i] = points[i].second;
  }
}

int CCurve::FindPeaks(float* xOut, float* yOut, int* idxOut, int maxPeaks, int halfWidth) const {
  if (maxPeaks < 1 || halfWidth < 1 || !xOut || !yOut) return 0;
  struct Peak {
    float x;
    float y;
    int index;  // one-based
  };
  std::vector<Peak> peaks;
  const int n = Count();
  for (int i = halfWidth + 1; i <= n - halfWidth; ++i) {
    const float y = YAt(i - 1);
    bool peak = true;
    for (int k = 1; k <= halfWidth && peak; ++k)
      peak = y > YAt(i - 1 - k) && y > YAt(i - 1 + k);
    if (peak) peaks.push_back({XAt(i - 1), y, i});
  }
  std::stable_sort(peaks.begin(), peaks.end(),
                   [](const Peak& p, const Peak& q) { return p.y > q.y; });
  const int written = std::min(maxPeaks, static_cast<int>(peaks.size()));
  for (int k = 0; k < written; ++k) {
    xOut[k + 1] = peaks[k].x;
    yOut[k + 1] = peaks[k].y;
    if (idxOut) idxOut[k + 1] = peaks[k].index;
  }
  return written;
}

float Determinant2x2(const float* a, const float* b) { return a[1] * b[2] - a[2] * b[1]; }

float Determinant3x3(const float* a, const float* b, const float* c) {
  return a[1] * (b[2] * c[3] - b[3] * c[2]) - a[2] * (b[1] * c[3] - b[3] * c[1]) +
         a[3] * (b[1] * c[2] - b[2] * c[1]);
}

}  // namespace tarmic
