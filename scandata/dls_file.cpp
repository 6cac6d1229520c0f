#include "scandata/dls_file.h"

#include <cmath>
#include <sstream>
#include <vector>

#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

// The title field holds at most 99 characters (a 100-character record field).
constexpr std::size_t kMaxTitle = 99;

// The parameter line: seven values, the elapsed time held as a double and the
// others as floats, and the flag that the values are g(1), which files of an
// earlier writer lack.
constexpr RowField kParameterFields[8] = {
    {"temperature", FieldKind::kFloat},      {"time", FieldKind::kDouble},
    {"count rate", FieldKind::kFloat},       {"refractive index", FieldKind::kFloat},
    {"viscosity", FieldKind::kFloat},        {"angle", FieldKind::kFloat},
    {"wavelength", FieldKind::kFloat},       {"field flag", FieldKind::kFlag}};
// A data line: the lag time, held as a double (its logarithm is stored), and the
// value, as a float (named by their text alone).
constexpr RowField kDataFields[2] = {{nullptr, FieldKind::kDouble}, {nullptr, FieldKind::kFloat}};

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

double LagTimeAsWritten(float logLag) {
  const double lag = std::pow(10.0, static_cast<double>(logLag));
  const NumberScan written = ScanNumber(RoundTripText(lag, NumberWidth::kDouble), NumberWidth::kDouble);
  return written ? written.value : lag;
}

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

std::string DLSRecordRefusal(const DLSInfo& r, std::string* note) {
  // In the order of the parameter line.
  const struct {
    const ValueRule& rule;
    double value;
  } values[] = {{kTemperatureRule, r.temperatureC},     {kMeasurementTimeRule, r.elapsedTime},
                {kCountRateRule, r.meanCountRate},      {kRefractiveIndexRule, r.refractiveIndex},
                {kViscosityPoiseRule, r.viscosity},     {kScatteringAngleRule, r.scatteringAngle},
                {kLaserWavelengthRule, r.laserWavelength}};
  for (const auto& v : values)
    if (!v.rule.Holds(v.value)) return v.rule.IsOutside(v.value);
  if (note)
    *note = r.scatteringAngle == 180.0f
                ? "the scattering angle is 180 degrees: nothing is measured in the beam itself - a "
                  "backscattering angle (such as 173 degrees) may have been meant"
                : std::string();
  return {};
}

namespace {

// The text of a dlsdat file as the reader takes it: the record of its first two
// lines, the log10 lag times and values of its data lines, and whether it holds
// g(1); false with why (naming the line) when the reader refuses it.
bool ParseDLSDatText(const std::string& text, DLSInfo* record, std::vector<float>* lag,
                     std::vector<float>* value, bool* fileHoldsField, std::string* note, std::string* why) {
  auto fail = [why](const std::string& reason) {
    *why = reason;
    return false;
  };
  std::istringstream in(text);
  std::string line;
  if (!ReadTextLine(in, &line)) return fail("empty file");
  DLSInfo info;
  info.title = line.substr(0, kMaxTitle);

  const bool lineTwo = ReadTextLine(in, &line);
  // The elapsed time (the second value) is held as a double, the others as floats.
  // A word that is no number, or too few of them, is named with the line.
  static constexpr const char* kParameters =
      "(temperature, time, count rate, refractive index, viscosity, angle, wavelength)";
  if (!lineTwo || IsBlank(line)) return fail(std::string("no parameter line ") + kParameters);
  RowShape parameters = ExactRow(kParameterFields);
  parameters.required = 7;
  double v[8] = {};
  if (const RowScan row = ScanTableRow(line, parameters, v); !row) return fail("line 2 " + RowFaultText(line, parameters, row));
  info.temperatureC = static_cast<float>(v[0]);
  info.elapsedTime = v[1];
  info.meanCountRate = static_cast<float>(v[2]);
  info.refractiveIndex = static_cast<float>(v[3]);
  info.viscosity = static_cast<float>(v[4]);
  info.scatteringAngle = static_cast<float>(v[5]);
  info.laserWavelength = static_cast<float>(v[6]);
  *fileHoldsField = v[7] == 1.0;
  if (const std::string refusal = DLSRecordRefusal(info, note); !refusal.empty())
    return fail("line 2: " + refusal);

  int lineNumber = 2;
  while (ReadTextLine(in, &line)) {
    ++lineNumber;
    if (IsBlank(line)) continue;
    const RowShape data = ExactRow(kDataFields);
    if (const RowScan row = ScanTableRow(line, data, v); !row)
      return fail(Format("line %d ", lineNumber) + RowFaultText(line, data, row));
    float logLag = 0.0f;
    if (std::string refusal = LagTimeRefusal(v[0], !lag->empty(), lag->empty() ? 0.0f : lag->back(), &logLag);
        !refusal.empty())
      return fail(Format("line %d: ", lineNumber) + refusal);
    if (!kSignalRule.Holds(v[1])) return fail(Format("line %d: ", lineNumber) + kSignalRule.IsOutside(v[1]));
    lag->push_back(logLag);
    value->push_back(static_cast<float>(v[1]));
  }
  if (lag->size() < 2) return fail("fewer than 2 data points");
  *record = std::move(info);
  return true;
}

}  // namespace

int ReadDLSDatFile(const char* path, DLSInfo* record, int* n, float** x, float** y,
                   bool keepIntensityACF, std::string* error, std::vector<std::string>* notes) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return 0;
  };
  std::string text;
  std::string why;
  if (!path) return fail("cannot be read");
  if (!ReadPlainTextFile(path, LastLine::kRefused, &text, &why)) return fail(why);
  DLSInfo info;
  std::vector<float> lag, value;
  bool fileHoldsField = false;
  std::string note;
  if (!ParseDLSDatText(text, &info, &lag, &value, &fileHoldsField, &note, &why)) return fail(why);
  const int count = static_cast<int>(lag.size());

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
  if (notes && !note.empty()) notes->push_back("line 2: " + note);
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
  const bool convert = DlsFile().bDLSConvertOnWrite && record.bFieldACF;
  const int flag = record.bFieldACF && !convert ? 1 : 0;
  std::string text = (title ? std::string(title) : record.title) + "\n";
  // Every value as the precision it is held in reads it back: the time in whole
  // seconds, the others as floats; the lag time is held as its log10.
  text += RoundTripText(record.temperatureC) + " " + RoundTripText(std::floor(record.elapsedTime), NumberWidth::kDouble) + " ";
  for (const float v : {record.meanCountRate, record.refractiveIndex, record.viscosity, record.scatteringAngle,
                        record.laserWavelength})
    text += RoundTripText(v) + " ";
  text += Format("%d\n", flag);
  for (int i = 1; i <= n; ++i) {
    const float value = convert ? SignedSquare(y[i]) : y[i];
    text += RoundTripText(std::pow(10.0, static_cast<double>(x[i])), NumberWidth::kDouble) + " " +
            RoundTripText(value) + "\n";
  }
  // Only a file its own reader takes is written (a value of 3.4e38 is beyond the
  // signals a detector gives, a lag time of 0 is none).
  DLSInfo back;
  std::vector<float> lag, value;
  bool field = false;
  std::string note, why;
  if (!ParseDLSDatText(text, &back, &lag, &value, &field, &note, &why)) {
    if (error) *error = "the values would not read back: " + why;
    return false;
  }
  return WriteTextFileAtomically(path, text, error);
}

}  // namespace tarmic
