#include "scandata/dls_file.h"

#include <cmath>
#include <sstream>
#include <vector>

#include "numerics/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "scandata/text_io.h"

namespace tarmic {

bool bDLSConvertOnWrite = false;

namespace {

// The title field holds at most 99 characters (a 100-character record field).
constexpr std::size_t kMaxTitle = 99;

// The whitespace-separated words of a line as numbers; false when a word is not
// completely a finite number.
bool ParseNumbers(const std::string& line, std::vector<double>* out) {
  std::istringstream words(line);
  std::string word;
  out->clear();
  while (words >> word) {
    bool complete = false;
    const double v = ParseNumberPrefix(word, &complete);
    if (!complete || !std::isfinite(v)) return false;
    out->push_back(v);
  }
  return true;
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

float SignedSqrt(float y) {
  if (y > 0.0f) return std::sqrt(y);
  if (y < 0.0f) return -std::sqrt(-y);
  return 0.0f;
}

float SignedSquare(float g) { return g * std::fabs(g); }

int ConvertIntensityToFieldACF(int n, float* values, DLSInfo* record) {
  if (!record || record->bFieldACF) return 0;
  for (int i = 1; i <= n; ++i) values[i] = SignedSqrt(values[i]);
  record->bFieldACF = true;
  return 1;
}

int ConvertFieldToIntensityACF(int n, float* values, DLSInfo* record) {
  if (!record || !record->bFieldACF) return 0;
  for (int i = 1; i <= n; ++i) values[i] = SignedSquare(values[i]);
  record->bFieldACF = false;
  return 1;
}

std::string DLSRecordRefusal(const DLSInfo& r) {
  if (!(r.temperatureC >= kMinSampleTemperatureC && r.temperatureC <= kMaxSampleTemperatureC))
    return Format("the temperature %g C is outside the temperatures of a sample (%.0f to %.0f C)",
                  static_cast<double>(r.temperatureC), kMinSampleTemperatureC, kMaxSampleTemperatureC);
  const struct {
    const char* name;
    float value;
  } positive[] = {{"refractive index", r.refractiveIndex},
                  {"viscosity", r.viscosity},
                  {"laser wavelength", r.laserWavelength}};
  for (const auto& p : positive)
    if (!(p.value > 0.0f))
      return Format("the %s %g must be above 0", p.name, static_cast<double>(p.value));
  if (!(r.scatteringAngle > 0.0f && r.scatteringAngle <= 180.0f))
    return Format("the scattering angle %g degrees is outside 0 to 180 degrees",
                  static_cast<double>(r.scatteringAngle));
  return {};
}

int ReadDLSDatFile(const char* path, DLSInfo* record, int* n, float** x, float** y,
                   bool keepIntensityACF, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return 0;
  };
  std::string text;
  if (!path || !ReadWholeTextFile(path, &text)) return fail("cannot be read");
  std::istringstream in(text);
  std::string line;
  if (!ReadTextLine(in, &line)) return fail("empty file");
  DLSInfo info;
  info.title = line.substr(0, kMaxTitle);

  std::vector<double> v;
  if (!ReadTextLine(in, &line) || !ParseNumbers(line, &v) || v.size() < 7)
    return fail("no parameter line (temperature, time, count rate, refractive index, "
                "viscosity, angle, wavelength)");
  info.temperatureC = static_cast<float>(v[0]);
  info.elapsedTime = v[1];
  info.meanCountRate = static_cast<float>(v[2]);
  info.refractiveIndex = static_cast<float>(v[3]);
  info.viscosity = static_cast<float>(v[4]);
  info.scatteringAngle = static_cast<float>(v[5]);
  info.laserWavelength = static_cast<float>(v[6]);
  const bool fileHoldsField = v.size() > 7 && v[7] > 0.0;
  if (const std::string refusal = DLSRecordRefusal(info); !refusal.empty())
    return fail("line 2: " + refusal);

  std::vector<float> lag, value;
  int lineNumber = 2;
  while (ReadTextLine(in, &line)) {
    ++lineNumber;
    if (IsBlank(line)) continue;
    if (!ParseNumbers(line, &v) || v.size() < 2)
      return fail(Format("line %d is not a pair of numbers", lineNumber));
    if (!(v[0] > 0.0)) return fail(Format("line %d: the lag time must be positive", lineNumber));
    lag.push_back(static_cast<float>(std::log10(v[0])));
    value.push_back(static_cast<float>(v[1]));
  }
  const int count = static_cast<int>(lag.size());
  if (count < 2) return fail("fewer than 2 data points");

  // Bring the values into the requested form.
  const bool wantField = !keepIntensityACF;
  if (wantField && !fileHoldsField)
    for (float& g : value) g = SignedSqrt(g);
  if (!wantField && fileHoldsField)
    for (float& g : value) g = SignedSquare(g);
  info.bFieldACF = wantField;
  info.nDataPoints = count;

  float* xs = tarmic::vector(1, count);
  float* ys = tarmic::vector(1, count);
  for (int i = 1; i <= count; ++i) {
    xs[i] = lag[static_cast<std::size_t>(i - 1)];
    ys[i] = value[static_cast<std::size_t>(i - 1)];
  }
  *record = std::move(info);
  *n = count;
  *x = xs;
  *y = ys;
  return 1;
}

bool WriteDLSDatFromRecord(const char* path, int n, const float* x, const float* y,
                           const char* title, const DLSInfo& record, std::string* error) {
  if (!path || n < 1 || !x || !y) {
    if (error) *error = "nothing to write";
    return false;
  }
  const bool convert = bDLSConvertOnWrite && record.bFieldACF;
  const int flag = record.bFieldACF && !convert ? 1 : 0;
  std::string text = (title ? std::string(title) : record.title) + "\n";
  text += Format("%f %.0f %.2f %f %g %f %g %d\n", static_cast<double>(record.temperatureC),
                 std::floor(record.elapsedTime), static_cast<double>(record.meanCountRate),
                 static_cast<double>(record.refractiveIndex), static_cast<double>(record.viscosity),
                 static_cast<double>(record.scatteringAngle),
                 static_cast<double>(record.laserWavelength), flag);
  for (int i = 1; i <= n; ++i) {
    const float value = convert ? SignedSquare(y[i]) : y[i];
    text += Format("%.7e %.7e\n", std::pow(10.0, static_cast<double>(x[i])),
                   static_cast<double>(value));
  }
  return WriteTextFileAtomically(path, text, error);
}

}  // namespace tarmic
