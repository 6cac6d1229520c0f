// The valid values of every number that a user types or a file hands the program:
// the entries of the parameter file, of the Lamm settings file and of the
// preference file, the fields of the Parameters and Lamm dialogs, the values the
// model parameters hold, and the numbers the preference commands ask for. Each file
// has one table, one row per entry beside the file's layout: entry, name, range or
// rule, unit; the dialogs map their fields onto those rows. Every door through which
// a value comes in (dialog, parameter file, settings file, the Run) judges it by its
// row, so that no door takes what another refuses, and a refusal names the value,
// its range and its unit in one sentence.
//
// The ranges admit every real experiment (dense salt, sucrose and glycerol
// solutions, organic solvents, cold and warm runs, particles from small molecules
// to beads of tens of micrometres) and bound only what no experiment can have; the
// numerical settings are bounded where a Lamm solution would no longer end or no
// longer be computed.
#pragma once

#include <limits>
#include <span>
#include <string>

namespace tarmic {

// The values a number may take: from low to high, both included.
struct ValueRange {
  double low = -std::numeric_limits<double>::max();
  double high = std::numeric_limits<double>::max();
  bool integer = false;    // only the integer part is used (grid sizes, counts)
  bool zeroUnset = false;  // 0 stands for "not set" and passes
  // A numerical setting of the solver (not a value of the sample, solvent or cell):
  // a file that an earlier version wrote may hold it outside today's range, and the
  // file readers bring it to the nearest end (NearestSettingValue).
  bool solverSetting = false;
};

// A named quantity: as messages name it, its unit ("" for none) and its range.
struct Quantity {
  const char* name;
  const char* unit;
  ValueRange range;
};

// Empty when value is a finite number within the quantity's range; otherwise one
// sentence that names the quantity, the value (in %g) and the range: "the buffer
// density 1e+30 g/ml must lie between 0.01 and 5 g/ml".
std::string QuantityRefusal(const Quantity& q, double value);
// The value as a refusal writes it: %g, "nan", "inf" and "-inf".
std::string RefusedValueText(double value);

// --- the quantities ---
// Shorthands of the ranges: closed [low, high] and the integer part within [low,
// high]. The files keep values in single precision and write them with six
// decimals ("%f"): the ends of the ranges are judged in single precision, and a
// lower end above 0 is one that "%f" can write.
constexpr ValueRange Closed(double low, double high) { return {low, high, false, false, false}; }
constexpr ValueRange Count(double low, double high) { return {low, high, true, false, false}; }
constexpr ValueRange ZeroOr(ValueRange r) {
  r.zeroUnset = true;
  return r;
}
constexpr ValueRange SolverSetting(ValueRange r) {
  r.solverSetting = true;
  return r;
}
// The quantity under another name (as a prompt or field names it).
constexpr Quantity NamedAs(const char* name, const Quantity& q) { return {name, q.unit, q.range}; }

// Cell and radii (cm). A rotor cell ends within kMaxCellRadius of the axis; the
// radii of linear geometry and electrophoresis are lengths up to the scan reader's
// bound kMaxRadius.
inline constexpr double kMaxCellRadius = 20.0;
inline constexpr double kMaxRadius = 1e6;
inline constexpr Quantity kRadiusQuantity{"radius", "cm", Closed(-kMaxRadius, kMaxRadius)};
inline constexpr Quantity kMeniscusDifference{"meniscus difference", "cm", Closed(-kMaxCellRadius, kMaxCellRadius)};

// Signals (OD, fringes, counts, correlations; no unit named): far beyond any
// detector, and small enough that squared residuals stay finite in single precision.
inline constexpr double kMaxSignal = 1e6;
inline constexpr Quantity kBaselineQuantity{"baseline", "", Closed(-kMaxSignal, kMaxSignal)};
inline constexpr Quantity kLoadingSignal{"loading signal", "", Closed(-kMaxSignal, kMaxSignal)};

// Particles, from small molecules to beads of tens of micrometres (a 10 um bead of
// density 2 g/ml has about 6e7 S, D about 4e-10 cm^2/s and M about 3e14 g/mol; a
// gold particle has a partial specific volume of 0.05 ml/g). A frictional ratio
// below 1 comes only from a wrong vbar or hydration; below 0.1 from none.
inline constexpr double kMaxSedimentationCoefficient = 1e8;
inline constexpr Quantity kSedimentationCoefficient{
    "sedimentation coefficient s", "S", Closed(-kMaxSedimentationCoefficient, kMaxSedimentationCoefficient)};
inline constexpr Quantity kDiffusionCoefficient{"diffusion coefficient D (1e-7 cm^2/s)", "", Closed(1e-6, 1e4)};
inline constexpr Quantity kMolarMass{"molar mass M", "g/mol", Closed(1.0, 1e16)};
inline constexpr Quantity kBuoyantMass{"buoyant molar mass Mb", "g/mol", Closed(-1e16, 1e16)};
inline constexpr Quantity kPartialSpecificVolume{"partial specific volume", "ml/g", Closed(0.01, 3.0)};
inline constexpr Quantity kFrictionalRatio{"frictional ratio f/f0", "", Closed(0.1, 50.0)};

// The concentration dependence of a nonideal species, s(c) = s (1 - ks c) and
// D(c) = D (1 + kd c), entered as log10 of ks and kd in ml/mg: proteins have about
// 0.01 ml/mg, large polymers up to about 1 ml/mg; at 100 ml/mg s turns negative
// from 0.01 mg/ml on, below 1e-30 ml/mg no concentration feels it (and 10 to a
// power beyond 38 leaves the float range). The signal per mg/ml divides the signal
// into a concentration: above 0, up to the counts of fluorescence detection.
inline constexpr Quantity kLogKs{"log10(ks/(mg/ml))", "", Closed(-30.0, 2.0)};
inline constexpr Quantity kLogKd{"log10(kd/(mg/ml))", "", Closed(-30.0, 2.0)};
inline constexpr Quantity kSignalPerConcentration{"signal per mg/ml", "", Closed(1e-6, 1e9)};

// Solvents: from liquefied gases (liquid helium: 0.13 g/ml, 3e-5 P) and organic
// solvents to dense salt and tungstate solutions (about 3 g/ml), from warm water to
// glycerol in the cold (about 100 P).
inline constexpr Quantity kBufferDensity{"buffer density", "g/ml", Closed(0.01, 5.0)};
inline constexpr Quantity kBufferViscosity{"buffer viscosity", "P", Closed(1e-5, 1000.0)};

// Distributions. A confidence level above 1 is read as a chi-square ratio, which
// above kMaxChiSquareRatio no longer describes the data. Grid limits are in the
// grid's unit (S, g/mol, um/s, nm, 1e-7 cm^2/s); two or more grid points closer
// than kMinGridSpan have kernels no data tell apart.
inline constexpr double kMaxChiSquareRatio = 1.5;
inline constexpr double kMinGridSpan = 1e-3;
inline constexpr Quantity kConfidenceLevel{"confidence level", "", Closed(0.0, kMaxChiSquareRatio)};
inline constexpr Quantity kGridResolution{"resolution", "grid points", Count(1.0, 100000.0)};
inline constexpr Quantity kGridLimit{"grid limit", "", Closed(-1e16, 1e16)};
inline constexpr Quantity kFrictionalRatioCount{"f/f0 resolution", "values", Count(2.0, 1000.0)};
// The peaks of a prior probability typed in: a location and a width on the s axis
// (a width of 0 is a delta peak, a negative one would make the Gaussian negative),
// and an amplitude in the range the dialog gives beside the field (0: no peak).
inline constexpr Quantity kPriorPeakLocation{"location", "S", kSedimentationCoefficient.range};
inline constexpr Quantity kPriorPeakWidth{"width", "S", Closed(0.0, kMaxSedimentationCoefficient)};
inline constexpr Quantity kPriorPeakAmplitude{"amplitude", "", ZeroOr(Closed(0.01, 100.0))};

// Lamm equation solutions. Below kMinMaxDcOverC a c(s) Run takes minutes (100
// grid points on 40 scans: 1.5 s at the default 1, 20 s at 0.01, 220 s at 0.001;
// at 0 it never ends); above 1 the step control changes nothing more.
inline constexpr double kMinMaxDcOverC = 0.01;
inline constexpr Quantity kMaxDcOverC{"max dc/c", "", SolverSetting(Closed(kMinMaxDcOverC, 10.0))};
inline constexpr Quantity kLammGridSize{"grid size", "grid points", SolverSetting(Count(5.0, 100000.0))};
inline constexpr Quantity kPointsPerSigma{"points per sigma", "", SolverSetting(Closed(0.01, 1000.0))};
// The relative change at which a fit's refinement passes stop (the dialog shows it
// in percent to 0.001 %); at 0 they would never stop.
inline constexpr Quantity kRefitTolerance{"fit tolerance", "", SolverSetting(Closed(1e-5, 1.0))};

// The step of the common radial grid: finer, every load would fail; coarser, the
// grid loop would not end.
inline constexpr Quantity kRadialResolution{"radial resolution", "cm", Closed(0.001, 0.1)};

// Numbers the preference commands ask for: thread counts and the dilation factor
// of the time-stamp check.
inline constexpr Quantity kThreadCount{"number of threads", "", Count(1.0, 256.0)};
inline constexpr Quantity kTimeStampThreshold{"threshold for correction factor", "", Closed(0.5, 10.0)};

// --- the numbers the prompts ask for ---
// Every number prompt (prompts/number_prompt.h) names one of these, or a quantity
// built from them where the range depends on the loaded data. Ranges that the scan
// reader also judges follow it: rotor speeds up to 100000 rpm, times of a run up to
// 1e8 s written in whole seconds, cell numbers of a rotor.
inline constexpr double kMaxRotorSpeed = 100000.0;
inline constexpr double kMaxRunTime = 1e8;
inline constexpr Quantity kRotorSpeed{"rotor speed", "rpm", Closed(1.0, kMaxRotorSpeed)};
inline constexpr Quantity kRotorAcceleration{"acceleration", "rpm/s", Closed(1.0, kMaxRotorSpeed)};
// The radial step of generated scans: from the finest optics (interference, about
// 7 um) to ten points a centimetre.
inline constexpr Quantity kGeneratedRadialStep{"density of points dr", "cm", Closed(1e-4, 0.1)};
// A scan a second at the most: the scan files keep whole seconds.
inline constexpr Quantity kScanInterval{"time interval of scans", "s", Closed(1.0, kMaxRunTime)};
inline constexpr Quantity kScanCount{"number of simulated scans", "", Count(1.0, 1000.0)};
inline constexpr Quantity kNoiseLevel{"std of noise", "", Closed(0.0, kMaxSignal)};
// Molar extinction coefficients (M^-1 cm^-1): small chromophores to large
// complexes; 0 leaves a species without signal.
inline constexpr Quantity kMolarExtinction{"extinction coefficient", "1/(M cm)", Closed(1.0, 1e8)};
inline constexpr Quantity kXpExtinction{"molar extinction coefficient", "", Closed(0.0, 1e8)};
inline constexpr Quantity kMolarConcentration{"total molar concentration", "uM", Closed(1e-6, 1e7)};
inline constexpr Quantity kDirectoryNumber{"directory number", "", Count(0.0, 1e6)};
// Confidence levels of error analyses and Monte Carlo: a probability strictly
// between 0 and 1.
inline constexpr Quantity kProbability{"confidence level", "", Closed(1e-4, 0.9999)};
inline constexpr Quantity kMonteCarloSets{"number of Monte-Carlo data sets", "", Count(2.0, 100000.0)};
// Solvent values as the transform and the calculators ask for them.
inline constexpr Quantity kViscosityPaS{"buffer viscosity", "Pa s", Closed(1e-6, 100.0)};
inline constexpr Quantity kViscosityCp{"buffer viscosity", "cP", Closed(1e-3, 1e5)};
inline constexpr Quantity kHydration{"hydration", "g/g", Closed(0.0, 10.0)};
inline constexpr Quantity kStokesRadius{"Stokes radius Rh", "nm", Closed(0.01, 1e5)};
inline constexpr Quantity kRotorRadius{"radius", "cm", Closed(1.0, kMaxCellRadius)};
inline constexpr Quantity kRunTime{"time", "s", Closed(0.0, kMaxRunTime)};
// Light scattering: sample temperatures, refractive indices of solvents, angles
// of a detector and wavelengths of a laser.
inline constexpr Quantity kTemperature{"temperature", "C", Closed(-40.0, 200.0)};
inline constexpr Quantity kRefractiveIndex{"refractive index", "", Closed(1.0, 10.0)};
inline constexpr Quantity kScatteringAngle{"scattering angle", "degrees", Closed(0.01, 180.0)};
inline constexpr Quantity kLaserWavelength{"laser wavelength", "nm", Closed(10.0, 1e5)};
inline constexpr Quantity kMeasurementTime{"elapsed time", "s", Closed(0.0, 1e10)};
// Axes of a plot: far beyond every signal, radius and time, and small enough that
// their differences stay finite.
inline constexpr Quantity kPlotCoordinate{"plot coordinate", "", Closed(-1e20, 1e20)};
// Fits: the annealing's start 'temperature' (a relative increase of the chi-square),
// its steps, and the simplex's first spread in percent of each value.
inline constexpr Quantity kAnnealTemperature{"starting temperature", "", Closed(1e-6, 1e3)};
inline constexpr Quantity kAnnealSteps{"number of steps", "", Count(1.0, 10000.0)};
inline constexpr Quantity kSimplexRandomization{"initial randomization", "%", Closed(1e-3, 1e3)};
// Equilibrium constants as log10: beyond 50 the constant leaves double precision.
inline constexpr Quantity kLogK{"lg K", "", Closed(-50.0, 50.0)};

// --- the tables ---

// How the row of a file entry judges its value.
enum class EntryRule : unsigned char {
  kAny,    // any finite number: switches (stored 1 and 0) and values no computation reads
  kRange,  // the quantity's range
  kCode,   // one of the codes the reader knows (model codes)
  kModel,  // a value of the parameter vector, judged by the role the file's model gives
           // its slot (modelfit/param_checks: ModelValuesRefusal); meniscus, bottom
           // and fit limits by the cell
};

// One entry of a file: its index (from 0; the file's line is index + 1), and its
// quantity. Rows of kAny, kCode and kModel name the entry; their range is unused.
// A whole entry (a switch, a count, a code) holds a whole number: its line is read
// through ScanWholeNumber (text/number_token.h), and a fraction is refused, never
// cut or rounded. A flag entry (a switch that is on or off) is whole and holds 0 or
// 1 alone, judged by its text (ScanFlag): "2", "0.5" and "1e-30" are refused, not
// taken as on. A switch with more states than two (a sign, a pending state, an
// older encoding) is whole, not a flag.
struct FileEntry {
  int index;
  EntryRule rule;
  Quantity quantity;
  bool whole = false;
  bool flag = false;
};

// The parameter file (modelcalc/fit_persistence): kSavedParamCount (174) rows.
std::span<const FileEntry> ParameterFileEntries();
// The Lamm settings file "tarmiclammparams.ini" (modelfit/lamm_settings): 31 rows.
std::span<const FileEntry> LammSettingsEntries();
// The preference file "tarmicparams.ini" (app/preferences): 19 rows.
std::span<const FileEntry> PreferenceEntries();

// The row of index in a table (a table's rows are in index order).
const FileEntry& EntryOf(std::span<const FileEntry> table, int index);
// Empty when the value suits the row (kAny, kCode and kModel rows: when it is
// finite; a flag row: 0 or 1); else the sentence of QuantityRefusal, or for a flag
// "the sounds 2 must be 0 or 1".
std::string EntryRefusal(const FileEntry& e, double value);
// For a solver setting's row (ValueRange::solverSetting) whose finite value lies
// outside its range on the same side of 0 as the range: true, with the nearest end
// of the range (judged in single precision; a count's integer part) in *nearest
// and, in *note, the refusal followed by the value used ("the max dc/c 0.005 must
// lie between 0.01 and 10; 0.01 is used"). False for every other row and value
// (the value stays refused or passes as EntryRefusal says): 0 and values of the
// other sign were never a setting.
bool NearestSettingValue(const FileEntry& e, double value, double* nearest, std::string* note);

// A field of a dialog that edits an entry of a file: the dialog shows the entry
// times scale (percent: 100).
struct DialogField {
  int id;
  int entry;
  double scale;
};
// The edit fields of the Lamm dialog (template 631) and the entries of the Lamm
// settings file they edit.
std::span<const DialogField> LammDialogFields();
// The field's value as the settings entry holds it.
double EntryValueOfField(const DialogField& f, double shown);

}  // namespace tarmic
