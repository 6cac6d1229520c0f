// The tables of valid values (value_ranges.h).
#include "numerics/value_ranges.h"

#include <cmath>
#include <cstdio>

namespace tarmic {

namespace {

std::string Number(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

// " g/ml" after a number, nothing without a unit.
std::string Unit(const char* unit) { return unit && *unit ? std::string(" ") + unit : std::string(); }

// "lie between 0.01 and 5 g/ml", with "(0: not set)" where 0 passes as well.
std::string RangeText(const ValueRange& r, const char* unit) {
  std::string text = "lie between " + Number(r.low) + " and " + Number(r.high) + Unit(unit);
  if (r.zeroUnset) text += " (0: not set)";
  return text;
}

// Any number (a value no computation reads), a switch (the flag 0 or 1), a switch
// of more states (a whole number: a sign, a pending state, an older encoding), a
// code, a value of the model, a quantity in its range (a count's range makes the
// entry whole).
constexpr FileEntry Any(int i, const char* name) { return {i, EntryRule::kAny, {name, "", {}}, false}; }
constexpr FileEntry Switch(int i, const char* name) { return {i, EntryRule::kAny, {name, "", {}}, true, true}; }
constexpr FileEntry States(int i, const char* name) { return {i, EntryRule::kAny, {name, "", {}}, true}; }
constexpr FileEntry Code(int i, const char* name) { return {i, EntryRule::kCode, {name, "", {}}, true}; }
constexpr FileEntry Model(int i, const char* name) { return {i, EntryRule::kModel, {name, "", {}}, false}; }
constexpr FileEntry In(int i, const Quantity& q) { return {i, EntryRule::kRange, q, q.range.integer}; }
constexpr FileEntry In(int i, const char* name, const char* unit, ValueRange r) {
  return {i, EntryRule::kRange, {name, unit, r}, r.integer};
}
// The same quantity under the name of its entry.
constexpr FileEntry As(int i, const char* name, const Quantity& q) { return In(i, name, q.unit, q.range); }

constexpr ValueRange kSignalRange = Closed(-kMaxSignal, kMaxSignal);
constexpr ValueRange kBufferComponentMass = Closed(0.0, kBuoyantMass.range.high);
constexpr ValueRange kBufferComponentS = Closed(0.0, kMaxSedimentationCoefficient);

// The parameter file: one value per line, index from 0 (line = index + 1). The
// values of the species blocks (indices 1 to 36), the cell, the fit limits and the
// further values of the models are the parameter vector's: they mean what the
// model the file selects makes of their slot (modelfit/param_checks). Switches are
// flags, 0 or 1, as the writer stores them; three have more states: the baseline
// option (2: on, not yet in effect), the c(s,ff0) variant (0, 1, 2) and the sign of
// the buffer signal (1 or -1).
constexpr FileEntry kParameterFile[] = {
    Switch(0, "kind of saved state (0 data, 1 analysis)"),
    // species 1 (slots 1, 5, 9, 16)
    Switch(1, "species 1 included"), Model(2, "species 1 amplitude"), Switch(3, "species 1 amplitude floated"),
    Model(4, "species 1 D or M"), Switch(5, "species 1 D or M floated"), Model(6, "species 1 s"),
    Switch(7, "species 1 s floated"), Model(8, "species 1 fifth value"), Switch(9, "species 1 fifth value floated"),
    // species 2 (slots 2, 6, 10, 17)
    Switch(10, "species 2 included"), Model(11, "species 2 amplitude"), Switch(12, "species 2 amplitude floated"),
    Model(13, "species 2 D or M"), Switch(14, "species 2 D or M floated"), Model(15, "species 2 s"),
    Switch(16, "species 2 s floated"), Model(17, "species 2 fifth value"), Switch(18, "species 2 fifth value floated"),
    // species 3 (slots 3, 7, 11, 18)
    Switch(19, "species 3 included"), Model(20, "species 3 amplitude"), Switch(21, "species 3 amplitude floated"),
    Model(22, "species 3 D or M"), Switch(23, "species 3 D or M floated"), Model(24, "species 3 s"),
    Switch(25, "species 3 s floated"), Model(26, "species 3 fifth value"), Switch(27, "species 3 fifth value floated"),
    // species 4 (slots 4, 8, 12, 19)
    Switch(28, "species 4 included"), Model(29, "species 4 amplitude"), Switch(30, "species 4 amplitude floated"),
    Model(31, "species 4 D or M"), Switch(32, "species 4 D or M floated"), Model(33, "species 4 s"),
    Switch(34, "species 4 s floated"), Model(35, "species 4 fifth value"), Switch(36, "species 4 fifth value floated"),
    In(37, kBaselineQuantity),
    States(38, "baseline option"),
    Model(39, "meniscus"),
    Model(40, "bottom"),
    Model(41, "left fitting limit"),
    Model(42, "right fitting limit"),
    As(43, "default FE grid size", kLammGridSize),
    Model(44, "third model scalar"),
    Switch(45, "meniscus floated"),
    In(46, "VBAR20", "ml/g", ZeroOr(kPartialSpecificVolume.range)),
    Switch(47, "bottom floated"),
    As(48, "upper end of the meniscus fit range", kRadiusQuantity),
    As(49, "lower end of the meniscus fit range", kRadiusQuantity),
    As(50, "upper end of the bottom fit range", kRadiusQuantity),
    As(51, "lower end of the bottom fit range", kRadiusQuantity),
    In(52, "partial specific volume", "ml/g", ZeroOr(kPartialSpecificVolume.range)),
    In(53, kBufferDensity),
    Switch(54, "local baseline switch"), Switch(55, "local bottom switch"), Switch(56, "local meniscus switch"),
    Switch(57, "local loading switch"),
    Switch(58, "automatic finite element algorithm"), Switch(59, "fit M and s"), Switch(60, "moving hat algorithm"),
    Switch(61, "Claverie algorithm"),
    In(62, kMaxDcOverC),
    Any(63, "lower step bound of max dc/c (not read by any computation)"),
    Any(64, "upper step bound of max dc/c (not read by any computation)"),
    In(65, kRefitTolerance),
    Switch(66, "fix timestep"), Switch(67, "discrete species model"), Switch(68, "monomer-dimer model"),
    Switch(69, "monomer-trimer model"), Switch(70, "1-2-4 self-association model"), Switch(71, "non-ideal species model"),
    Code(72, "continuous-model code"),
    Switch(73, "constant initial distribution"), Switch(74, "experimental initial distribution"),
    Switch(75, "fit TI noise"), Switch(76, "automatic finite element algorithm"), Switch(77, "automatic s grid"),
    Switch(78, "start time floated"),
    In(79, "start time offset", "s", Closed(-1e6, 1e6)),
    Switch(80, "fit RI noise"), Switch(81, "ramp rotor speed"), Switch(82, "1-4-8 self-association model"),
    Switch(83, "sedimentation equilibrium model"), States(84, "c(s,ff0) variant (not read)"),
    In(85, "f/f0 min", "", ZeroOr(kFrictionalRatio.range)),
    In(86, "f/f0 max", "", ZeroOr(kFrictionalRatio.range)),
    In(87, "f/f0 resolution", "values", Count(0.0, kFrictionalRatioCount.range.high)),
    Any(88, "c(s,ff0) regularisation setting (not read)"),
    Model(89, "first value of the discrete component"),
    Model(90, "second value of the discrete component"),
    Switch(91, "automatic dynamic grid size"),
    In(92, kPointsPerSigma),
    As(93, "upper limit of the grid size", kLammGridSize),
    As(94, "lower limit of the grid size", kLammGridSize),
    Switch(95, "buffer mismatch model"), Switch(96, "excess signal in sample side"),
    Switch(97, "excess signal in reference side"), States(98, "sign of the buffer signal"),
    Switch(99, "buffer mismatch switch"),
    // D, Mb and s of a buffer component are not negative: the mismatch model takes
    // the sign of s from Mb or derives Mb from s, and a floating buffer component
    // is no model it has (an Mb of 0 is taken as 10 g/mol).
    In(100, "buffer D (1e-7 cm^2/s)", "", ZeroOr(kDiffusionCoefficient.range)),
    In(101, "buffer Mb", "g/mol", kBufferComponentMass),
    In(102, "buffer s", "S", kBufferComponentS),
    As(103, "buffer signal", kLoadingSignal),
    Switch(104, "with meniscus mismatch"),
    In(105, kMeniscusDifference),
    In(106, "relative concentration", "", Closed(1e-6, 1e6)),
    Switch(107, "different buffer in reference"),
    In(108, "reference D (1e-7 cm^2/s)", "", ZeroOr(kDiffusionCoefficient.range)),
    In(109, "reference Mb", "g/mol", kBufferComponentMass),
    In(110, "reference s", "S", kBufferComponentS),
    Switch(111, "buffer D floated"), Switch(112, "buffer s floated"), Switch(113, "buffer signal floated"),
    Switch(114, "meniscus difference floated"), Switch(115, "relative concentration floated"),
    Switch(116, "reference D floated"), Switch(117, "reference s floated"),
    In(118, "scan velocity", "cm/min", Closed(0.0, 1000.0)),
    In(119, "radial range of convolution", "cm", Closed(0.0, 1.0)),
    Switch(120, "simulate time resolution"), Switch(121, "simulate radial resolution"),
    Switch(122, "zone centrifugation"), Switch(123, "zone ls-g*(s) model"), Switch(124, "zone c(s) model"),
    Switch(125, "inverted band"),
    In(126, "lamella width", "cm", Closed(0.0, 2.0)),
    Switch(127, "lamella width floated"), Switch(128, "non-ideal multiple-species model"),
    Switch(129, "with synthetic boundary"),
    Switch(130, "position floated"), Model(131, "position of the synthetic boundary"),
    Switch(132, "overlay fraction 1 floated"), Model(133, "overlay concentration fraction 1"),
    Switch(134, "cload 2 floated"), Model(135, "cload 2"),
    Switch(136, "s2 floated"), Model(137, "s2"),
    Switch(138, "D2 floated"), Model(139, "D2"),
    Switch(140, "overlay fraction 2 floated"), Model(141, "overlay concentration fraction 2"),
    Switch(142, "cload 3 floated"), Model(143, "cload 3"),
    Switch(144, "s3 floated"), Model(145, "s3"),
    Switch(146, "D3 floated"), Model(147, "D3"),
    Switch(148, "overlay fraction 3 floated"), Model(149, "overlay concentration fraction 3"),
    In(150, "extinction species 1", "", Closed(0.0, 1e6)),
    In(151, "extinction species 2", "", Closed(0.0, 1e6)),
    In(152, "extinction species 3", "", Closed(0.0, 1e6)),
    Switch(153, "magnification gradient floated"),
    In(154, "magnification gradient 1+da/dr", "", Closed(-1e3, 1e3)),
    Switch(155, "magnification gradient"), Switch(156, "nonlinear detection"),
    In(157, "power coefficient d(log(a))/dc", "", ZeroOr(Closed(1e-6, 1e3))),
    In(158, "baseline for the power law", "", kSignalRange),
    Switch(159, "power coefficient floated"), Switch(160, "magnification drift floated"),
    In(161, "magnification drift dc/dt", "%/h", Closed(-1e4, 1e4)),
    Switch(162, "magnification drift"), Switch(163, "convolution width floated"),
    In(164, "characteristic width of convolution", "cm", Closed(0.0, 2.0)),
    Switch(165, "radial convolution"), Switch(166, "cone radius floated"),
    In(167, "cone radius", "cm", Closed(0.0, kMaxCellRadius)),
    Switch(168, "excitation shadow"), Switch(169, "show transformed data"),
    In(170, "convolution dist factor", "", Closed(0.0, 1e3)),
    Switch(171, "exponential drift"), Switch(172, "check acceleration"),
    Code(173, "discrete-model variant"),
};
static_assert(std::size(kParameterFile) == 174);

// The Lamm settings file: 31 values, one per line (index from 0).
constexpr FileEntry kLammSettings[] = {
    In(0, "normalized s for automatic change", "", Closed(0.0, 1e6)),
    Switch(1, "shut off back-diffusion"),
    In(2, "level of back-diffusion shut-off", "", SolverSetting(Closed(1e-6, 1.0))),
    Switch(3, "automatic dynamic grid size"),
    As(4, "default FE grid size", kLammGridSize),
    In(5, kPointsPerSigma),
    As(6, "upper limit", kLammGridSize),
    As(7, "lower limit", kLammGridSize),
    Switch(8, "times from wwt"),
    Switch(9, "automatic finite element algorithm"),
    Switch(10, "fix timestep"),
    Switch(11, "Claverie algorithm"),
    Switch(12, "moving hat algorithm"),
    Switch(13, "automatic s_grid"),
    // A negative s lays the moving grid mirrored, for a floating species.
    As(14, "s of the moving grid", kSedimentationCoefficient),
    In(15, kRefitTolerance),
    In(16, kMaxDcOverC),
    In(17, "normalized s for automatic change when optimized", "", Closed(-1e6, 1e6)),
    Switch(18, "optimize time-invariant grid spacing"),
    Switch(19, "experimental initial distribution"),
    Switch(20, "dynamically truncate grid"),
    // The level is 10 to this power: a level of 1 or more would cut the whole grid.
    In(21, "log10 of the truncation level", "", SolverSetting(Closed(-30.0, -1.0))),
    Switch(22, "simulate time resolution"),
    Switch(23, "simulate radial resolution"),
    In(24, "scan velocity", "cm/min", Closed(0.0, 1000.0)),
    In(25, "radial range of convolution", "cm", Closed(0.0, 1.0)),
    Switch(26, "check acceleration"),
    Any(27, "reserved"), Any(28, "reserved"), Any(29, "reserved"), Any(30, "reserved"),
};
static_assert(std::size(kLammSettings) == 31);

// The preference file: 19 lines (index from 0). Switches are 0 or 1 as the
// program writes them; line 17 of older files held a number derived from the
// time-stamp threshold whose sign was the switch, and is read as a whole number
// (on above 0).
constexpr FileEntry kPreferences[] = {
    Switch(0, "disclaimer accepted"),
    In(1, kRadialResolution),
    Switch(2, "update residual bitmap"), Switch(3, "update residual plot"), Switch(4, "update data plot"),
    Switch(5, "update distribution plot"), Switch(6, "sounds"), Switch(7, "scan colours by time"),
    Switch(8, "wizard messages"),
    In(9, "regularisation", "", Count(1.0, 3.0)),
    Switch(10, "integration ranges from file"),
    In(11, "number of threads", "", Count(0.0, kThreadCount.range.high)),
    In(12, "fit algorithm", "", Count(1.0, 3.0)),
    Switch(13, "suppress baseline correlation"),
    In(14, "number of threads for Lamm equations", "", Count(0.0, kThreadCount.range.high)),
    In(15, "refresh interval during fits", "s", ZeroOr(Closed(0.1, 3600.0))),
    Switch(16, "DLS data as g(2)-1"),
    States(17, "check time stamps"),
    // (threshold - 1) x 100000 of the thresholds 0.5 to 10.
    In(18, "time-stamp threshold code", "", Closed(-50000.0, 900000.0)),
};
static_assert(std::size(kPreferences) == 19);

// The Lamm dialog's edits: the dialog shows the fit tolerance in percent and the
// truncation level as its log10 (as the file holds it).
constexpr DialogField kLammDialog[] = {
    {612, 0, 1.0},  {614, 2, 1.0},  {616, 4, 1.0},  {617, 5, 1.0},  {619, 6, 1.0},
    {618, 7, 1.0},  {627, 14, 1.0}, {628, 15, 100.0}, {629, 16, 1.0}, {639, 17, 1.0},
    {643, 21, 1.0}, {835, 24, 1.0}, {834, 25, 1.0},
};

}  // namespace

std::string RefusedValueText(double value) { return Number(value); }

std::string QuantityRefusal(const Quantity& q, double v) {
  const ValueRange& r = q.range;
  bool ok = std::isfinite(v);
  if (ok && !(r.zeroUnset && v == 0.0)) {
    // In single precision, as the files keep the values (1e-05 read back is the
    // float next to it).
    const float x = static_cast<float>(r.integer ? std::floor(v) : v);
    const float low = static_cast<float>(r.low), high = static_cast<float>(r.high);
    ok = std::isfinite(x) && x >= low && x <= high;
  }
  if (ok) return std::string();
  // Counts are named by the integer part they would take.
  const double shown = r.integer && std::isfinite(v) ? std::floor(v) : v;
  return "the " + std::string(q.name) + " " + Number(shown) + Unit(q.unit) + " must " + RangeText(r, q.unit);
}

std::span<const FileEntry> ParameterFileEntries() { return kParameterFile; }
std::span<const FileEntry> LammSettingsEntries() { return kLammSettings; }
std::span<const FileEntry> PreferenceEntries() { return kPreferences; }
std::span<const DialogField> LammDialogFields() { return kLammDialog; }

const FileEntry& EntryOf(std::span<const FileEntry> table, int index) {
  return table[static_cast<std::size_t>(index)];
}

std::string EntryRefusal(const FileEntry& e, double value) {
  if (e.rule == EntryRule::kRange) return QuantityRefusal(e.quantity, value);
  if (e.flag && value != 0.0 && value != 1.0)
    return "the " + std::string(e.quantity.name) + " " + Number(value) + " must be 0 or 1";
  if (std::isfinite(value)) return std::string();
  return "the " + std::string(e.quantity.name) + " " + Number(value) + " must be a finite number";
}

bool NearestSettingValue(const FileEntry& e, double value, double* nearest, std::string* note) {
  const ValueRange& r = e.quantity.range;
  if (e.rule != EntryRule::kRange || !r.solverSetting || !std::isfinite(value)) return false;
  const std::string why = QuantityRefusal(e.quantity, value);
  if (why.empty()) return false;
  // The ends as the files keep them, in single precision.
  const double low = static_cast<double>(static_cast<float>(r.low));
  const double high = static_cast<double>(static_cast<float>(r.high));
  const double x = r.integer ? std::floor(value) : value;
  // Zero and values of the other sign than the whole range never were a setting
  // (a grid of 0 points, a max dc/c of 0 that never ends a Run): they stay refused.
  if ((low > 0.0 && !(x > 0.0)) || (high < 0.0 && !(x < 0.0))) return false;
  const double set = x < low ? low : high;
  if (nearest) *nearest = set;
  if (note) *note = why + "; " + Number(set) + " is used";
  return true;
}

double EntryValueOfField(const DialogField& f, double shown) { return shown / f.scale; }

}  // namespace tarmic
