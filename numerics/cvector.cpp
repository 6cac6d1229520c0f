// The float vector class and its text file format.
#include "numerics/cvector.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/interpolation.h"
#include "numerics/linear_algebra.h"
#include "text/number_token.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "platform/system.h"

namespace tarmic {

// ------------------------------------------------------------------ helpers

float* AllocVectorData(std::uint32_t n) {
  if (n == 0) return nullptr;
  float* p = new (std::nothrow) float[n];
  if (!p) RaiseFailure("Could not allocate Vector");
  return p;
}

float* FreeVectorData(float* p) {
  delete[] p;
  return nullptr;
}

float FloatMax(float a, float b) { return a > b ? a : b; }
float FloatMin(float a, float b) { return a < b ? a : b; }

namespace {

std::string ToText(double v, std::chars_format format) {
  char buffer[512];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v, format, 6);
  if (r.ec != std::errc()) return "0";
  return std::string(buffer, r.ptr);
}

std::string FileErrorText(const char* format, const char* fileName) {
  const std::string name = fileName ? fileName : "";
  std::vector<char> text(std::strlen(format) + name.size() + 1);
  std::snprintf(text.data(), text.size(), format, name.c_str());
  return text.data();
}

// Writes one line per value; the result tells whether the whole file was written.
// A failure goes into *failure when the caller takes it, else into the error box.
template <class Value>
bool WriteValueLines(const char* fileName, std::uint32_t n, Value value,
                     const char* openFailure, std::string* failure = nullptr) {
  AtomicFile out(fileName ? fileName : "");
  // The message with the system's reason on its own line.
  const auto report = [&](const char* format) {
    const std::string text = WithReason(FileErrorText(format, fileName), out.Error());
    if (failure)
      *failure = text;
    else
      RaiseError(text);
  };
  std::FILE* f = fileName ? out.File() : nullptr;
  if (!f) {
    report(openFailure);
    return false;
  }
  bool ok = true;
  for (std::uint32_t i = 0; i < n && ok; ++i) {
    const std::string line = RoundTripText(value(i)) + "\n";
    ok = std::fputs(line.c_str(), f) >= 0;
  }
  ok = ok && out.Commit();
  if (!ok) {
    out.Discard();
    report("Attention: could not write %s");
  }
  return ok;
}

}  // namespace

std::string FormatExp6(double v) { return ToText(v, std::chars_format::scientific); }

// ------------------------------------------------------------- construction

CVector::CVector() = default;

CVector::CVector(std::uint32_t n, int flag) : flag_(flag) {
  data_ = AllocVectorData(n);
  length_ = capacity_ = n;
}

CVector::CVector(std::uint32_t n, const float* src, int flag) : flag_(flag) {
  data_ = AllocVectorData(n);
  length_ = capacity_ = n;
  if (n > 0 && src) std::copy(src, src + n, data_);
}

CVector::CVector(const CVector& other) : flag_(other.flag_) {
  data_ = AllocVectorData(other.length_);
  length_ = capacity_ = other.length_;
  if (length_ > 0) std::copy(other.data_, other.data_ + length_, data_);
}

CVector& CVector::operator=(const CVector& other) {
  if (this == &other) return *this;
  flag_ = other.flag_;
  if (length_ != other.length_ || !ownsData_) {
    // A new block of its own: also when the lengths agree but the vector is a view,
    // so that the viewed array is not overwritten.
    float* block = AllocVectorData(other.length_);
    Release();
    Install(block, other.length_);
  }
  if (length_ > 0) std::copy(other.data_, other.data_ + length_, data_);
  return *this;
}

CVector::~CVector() { Release(); }

void CVector::Release() {
  if (ownsData_) FreeVectorData(data_);
  data_ = nullptr;
  length_ = capacity_ = 0;
  ownsData_ = true;
}

void CVector::Install(float* block, std::uint32_t n) {
  data_ = block;
  length_ = capacity_ = block ? n : 0;
  ownsData_ = true;
}

void CVector::Detach() {
  if (ownsData_ || !data_) return;
  float* block = AllocVectorData(length_);
  std::copy(data_, data_ + length_, block);
  Install(block, length_);
}

float* CVector::MutableData() {
  Detach();
  return data_;
}

// -------------------------------------------------------------------- views

std::uint32_t CVector::AttachNR(float* nrArray, std::uint32_t n, int low) {
  return Attach(nrArray ? nrArray + low : nullptr, n);
}

std::uint32_t CVector::Attach(float* p, std::uint32_t n) {
  Release();
  if (n == 0 || !p) {
    ownsData_ = false;
    return 0;
  }
  data_ = p;
  length_ = capacity_ = n;
  ownsData_ = false;
  return length_;
}

// --------------------------------------------------------------- statistics

float CVector::Get(int i) const {
  if (!data_ || i < 0 || static_cast<std::uint32_t>(i) >= length_) return 0.0f;
  return data_[i];
}

float CVector::Max() const {
  if (!data_) return 0.0f;
  float m = data_[0];
  for (std::uint32_t i = 1; i < length_; ++i)
    if (data_[i] > m) m = data_[i];
  return m;
}

float CVector::Min() const {
  if (!data_) return 0.0f;
  float m = data_[0];
  for (std::uint32_t i = 1; i < length_; ++i)
    if (data_[i] < m) m = data_[i];
  return m;
}

namespace {

// The index range of the range statistics; false when it is empty.
bool ClipRange(std::uint32_t length, int i1, int i2, std::uint32_t* lo, std::uint32_t* hi) {
  if (length == 0 || i2 < i1) return false;
  const std::uint32_t first = i1 < 0 ? 0u : static_cast<std::uint32_t>(i1);
  const std::uint32_t last =
      static_cast<std::uint32_t>(i2) > length - 1 ? length - 1 : static_cast<std::uint32_t>(i2);
  if (first > last) return false;
  *lo = first;
  *hi = last;
  return true;
}

}  // namespace

float CVector::MaxInRange(int i1, int i2) const {
  std::uint32_t lo, hi;
  if (!data_ || !ClipRange(length_, i1, i2, &lo, &hi)) return 0.0f;
  float m = data_[lo];
  for (std::uint32_t i = lo + 1; i <= hi; ++i)
    if (data_[i] > m) m = data_[i];
  return m;
}

float CVector::MinInRange(int i1, int i2) const {
  std::uint32_t lo, hi;
  if (!data_ || !ClipRange(length_, i1, i2, &lo, &hi)) return 0.0f;
  float m = data_[lo];
  for (std::uint32_t i = lo + 1; i <= hi; ++i)
    if (data_[i] < m) m = data_[i];
  return m;
}

float CVector::MaxPositiveInRange(int i1, int i2, bool* none) const {
  std::uint32_t lo, hi;
  bool found = false;
  float m = 0.0f;
  if (data_ && ClipRange(length_, i1, i2, &lo, &hi)) {
    for (std::uint32_t i = lo; i <= hi; ++i) {
      if (data_[i] > 0.0f && (!found || data_[i] > m)) {
        m = data_[i];
        found = true;
      }
    }
  }
  if (found) return m;
  if (none) *none = true;
  return 1.0f;
}

float CVector::MinPositiveInRange(int i1, int i2, bool* none) const {
  std::uint32_t lo, hi;
  bool found = false;
  float m = 0.0f;
  if (data_ && ClipRange(length_, i1, i2, &lo, &hi)) {
    for (std::uint32_t i = lo; i <= hi; ++i) {
      if (data_[i] > 0.0f && (!found || data_[i] < m)) {
        m = data_[i];
        found = true;
      }
    }
  }
  if (found) return m;
  if (none) *none = true;
  return 1.0f;
}

bool CVector::operator==(const CVector& other) const {
  if (length_ != other.length_) return false;
  for (std::uint32_t i = 0; i < length_; ++i)
    if (!(data_[i] == other.data_[i])) return false;
  return true;
}

bool CVector::operator!=(const CVector& other) const { return !(*this == other); }

// ------------------------------------------------------------- tick labels

namespace {

int FormatLabel(float v, char* out, int outSize) {
  if (!out || outSize <= 0) return 0;
  std::string text;
  // Whole numbers as integers; beyond 1e15 the integer text would be longer than
  // the label field, and the general notation is used instead.
  if (v == std::floor(v) && std::fabs(v) < 1e15f) {
    text = std::to_string(static_cast<long long>(v));
  } else {
    char buffer[64];
    std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(v),
                      std::chars_format::general, 6);
    text.assign(buffer, r.ec == std::errc() ? r.ptr : buffer);
  }
  std::size_t n = text.find(' ');
  if (n == std::string::npos) n = text.size();
  n = std::min<std::size_t>({n, 19, static_cast<std::size_t>(outSize - 1)});
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace

int CVector::FormatElement(std::uint32_t i, char* out, int outSize, float scale) const {
  if (!data_ || i >= length_) return 0;
  return FormatLabel(data_[i] * scale, out, outSize);
}

int CVector::FormatElementPow10(std::uint32_t i, char* out, int outSize, float scale) const {
  if (!data_ || i >= length_) return 0;
  return FormatLabel(static_cast<float>(std::pow(10.0, static_cast<double>(data_[i] * scale))),
                     out, outSize);
}

CVector& CVector::Scale(float s) {
  Detach();
  for (std::uint32_t i = 0; i < length_; ++i) data_[i] *= s;
  return *this;
}

void CVector::Display() const { RaiseError("Display vector contents not implemented"); }

// ---------------------------------------------------------- growing, resizing

CVector& CVector::Append(float value) {
  float* block = AllocVectorData(length_ + 1);
  if (length_ > 0) std::copy(data_, data_ + length_, block);
  block[length_] = value;
  const std::uint32_t n = length_ + 1;
  Release();
  Install(block, n);
  return *this;
}

CVector& CVector::AppendValue(float value) { return Append(value); }

void CVector::SetLength(std::uint32_t n) {
  flag_ = 1;
  if (n == length_) return;
  if (n == 0) {
    Release();
    return;
  }
  float* block = AllocVectorData(n);
  const std::uint32_t keep = std::min(length_, n);
  if (keep > 0) std::copy(data_, data_ + keep, block);
  Release();
  Install(block, n);
}

// ---------------------------------------------------------------- smoothing

bool CVector::SavitzkyGolaySmooth(std::uint32_t nl, std::uint32_t nr, int order) {
  const long long np = static_cast<long long>(nl) + nr + 1;
  if (np < 2 || order < 0) return false;
  if (static_cast<long long>(length_) < np) {
    char text[160];
    std::snprintf(text, sizeof text, "window for smoothing too big!\n%u+%u+1<%u", nl, nr,
                  length_);
    RaiseError(text);
    return false;
  }
  const int n = static_cast<int>(length_);
  const int left = static_cast<int>(nl);
  const int right = static_cast<int>(nr);
  std::vector<float> c(static_cast<std::size_t>(np) + 1);
  std::vector<float> out(length_);

  // Coefficients of a window of l points to the left and r to the right, in the
  // wrap-around order of savgol: c[1] the point itself, c[k+1] the point k to the
  // left, c[np-k+1] the point k to the right.
  auto coefficients = [&](int l, int r) {
    const int w = l + r + 1;
    std::fill(c.begin(), c.end(), 0.0f);
    if (order == 1) {
      for (int k = 1; k <= w; ++k) c[k] = 1.0f / static_cast<float>(w);
    } else {
      savgol(c.data(), w, l, r, 0, order);
    }
  };
  // y_i = data[i] c[1] + sum_k data[i-k] c[k+1] + sum_k data[i+k] c[w-k+1], summed in
  // single precision from the unsmoothed values.
  auto smoothAt = [&](int i, int l, int r) {
    const int w = l + r + 1;
    float s = data_[i] * c[1];
    for (int k = 1; k <= l; ++k) s += data_[i - k] * c[k + 1];
    for (int k = 1; k <= r; ++k) s += data_[i + k] * c[w - k + 1];
    out[i] = s;
  };

  for (int i = 0; i < left; ++i) {
    coefficients(i, right);
    smoothAt(i, i, right);
  }
  coefficients(left, right);
  for (int i = left; i <= n - right - 1; ++i) smoothAt(i, left, right);
  for (int i = n - right; i < n; ++i) {
    coefficients(left, n - 1 - i);
    smoothAt(i, left, n - 1 - i);
  }

  Detach();
  std::copy(out.begin(), out.end(), data_);
  return true;
}

bool CVector::SavitzkyGolaySmoothResampled(int n, const CVector& x, std::uint32_t nl,
                                           std::uint32_t nr, int order) {
  if (x.length_ != length_ || n < 2 || length_ == 0) return false;
  const int m = static_cast<int>(length_);
  // One-based copies of the curve y(x) and the uniform grid over x's range.
  std::vector<float> xs(m + 1), ys(m + 1);
  for (int i = 0; i < m; ++i) {
    xs[i + 1] = x.data_[i];
    ys[i + 1] = data_[i];
  }
  const float xmin = x.Min();
  const float xmax = x.Max();
  std::vector<float> grid(n + 1), gridValues(n + 1, 0.0f);
  for (int k = 1; k <= n; ++k)
    grid[k] = xmin + (xmax - xmin) / static_cast<float>(n - 1) * static_cast<float>(k - 1);

  if (!InterpolateCurve(n, grid.data(), gridValues.data(), m, xs.data(), ys.data()))
    return false;
  CVector smoothed(static_cast<std::uint32_t>(n), gridValues.data() + 1, 1);
  if (!smoothed.SavitzkyGolaySmooth(nl, nr, order)) return false;
  for (int k = 1; k <= n; ++k) gridValues[k] = smoothed.data_[k - 1];

  std::vector<float> back(ys);
  if (!InterpolateCurve(m, xs.data(), back.data(), n, grid.data(), gridValues.data()))
    return false;
  Detach();
  for (int i = 0; i < m; ++i) data_[i] = back[i + 1];
  return true;
}

// --------------------------------------------------------------- text files

bool CVector::WriteToFile(const char* fileName) const {
  return WriteValueLines(
      fileName, length_, [this](std::uint32_t i) { return static_cast<double>(data_[i]); },
      "Attention: could not open %s");
}

bool CVector::WriteToFile(const char* fileName, std::string* failure) const {
  return WriteValueLines(
      fileName, length_, [this](std::uint32_t i) { return static_cast<double>(data_[i]); },
      "Attention: could not open %s", failure);
}

bool CVector::WriteToFilePow10(const char* fileName) const {
  return WriteValueLines(
      fileName, length_,
      [this](std::uint32_t i) {
        return static_cast<double>(static_cast<float>(std::pow(10.0, data_[i])));
      },
      "Attention: could not open %s");
}

bool ReadValueFile(const char* fileName, std::vector<float>* values, std::vector<int>* lines,
                   std::string* failure) {
  const std::string name = fileName ? fileName : "";
  // A pipe would keep the open waiting for a writer: regular files only.
  std::istringstream in;
  std::string why;
  if (!OpenTextFile(name, LastLine::kRefused, &in, &why)) {
    *failure = WithReason(FileErrorText("\nAttention: could not open %s", fileName), why);
    return false;
  }
  values->clear();
  if (lines) lines->clear();
  std::string line;
  int number = 0;
  while (ReadTextLine(in, &line)) {
    ++number;
    // One number per line, nothing after it.
    static constexpr RowField kValue{nullptr, FieldKind::kFloat};
    if (FieldCount(line) == 0) continue;
    const RowShape shape = UniformRow(kValue, 1);
    double value = 0.0;
    const RowScan row = ScanTableRow(line, shape, &value);
    const std::string why = RowFaultText(line, shape, row);
    if (!why.empty()) {
      *failure = "\n\aAttention: " + name + " cannot be read: line " + std::to_string(number) + " " + why;
      values->clear();
      if (lines) lines->clear();
      return false;
    }
    values->push_back(static_cast<float>(value));
    if (lines) lines->push_back(number);
  }
  return true;
}

bool CVector::ReadFromFile(const char* fileName, std::string* failure) {
  std::vector<float> values;
  std::string why;
  if (!ReadValueFile(fileName, &values, nullptr, &why)) {
    if (failure)
      *failure = why;
    else
      RaiseError(why);
    return false;
  }
  if (data_ == nullptr) {
    float* block = AllocVectorData(static_cast<std::uint32_t>(values.size()));
    if (!values.empty()) std::copy(values.begin(), values.end(), block);
    Release();
    Install(block, static_cast<std::uint32_t>(values.size()));
    return true;
  }
  if (values.empty()) return true;
  if (values.size() > length_) values.resize(length_);
  Detach();
  std::copy(values.begin(), values.end(), data_);
  return true;
}

bool WriteNRVectorToFile(const char* fileName, const float* v, int nh, int nl) {
  const std::uint32_t n = v && nh >= nl ? static_cast<std::uint32_t>(nh - nl + 1) : 0;
  return WriteValueLines(
      fileName, n, [v, nl](std::uint32_t i) { return static_cast<double>(v[nl + i]); },
      "\nAttention: could not open %s");
}

float* ReadNRVectorFromFile(const char* fileName, int* nh, int nl) {
  std::vector<float> values;
  std::string failure;
  if (!ReadValueFile(fileName, &values, nullptr, &failure)) {
    RaiseError(failure);
    if (nh) *nh = 0;
    return nullptr;
  }
  if (values.empty()) {
    if (nh) *nh = 0;
    return nullptr;
  }
  const int high = nl + static_cast<int>(values.size()) - 1;
  float* v = vector(nl, high);
  for (std::size_t i = 0; i < values.size(); ++i) v[nl + static_cast<int>(i)] = values[i];
  if (nh) *nh = high;
  return v;
}

}  // namespace tarmic
