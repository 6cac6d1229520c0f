// The calculators of the Calculator menu: each asks its inputs with the number
// input, evaluates one hydrodynamic or centrifugal relation (the weight-average s
// by second moment on the loaded scans), shows the result in a message box and puts
// the same text on the clipboard.
//
// Units of the inputs: s in svedberg (1 S = 1e-13 s), M in g/mol, vbar in ml/g,
// densities in g/ml, viscosities in cP (mPa s; water at 20 C is 1.002 cP), hydration
// in g water per g protein, rotor speed in rpm, radii in cm, times in s, the Stokes
// radius in nm. The defaults shown are the current solvent settings; the calculators
// never change them.
#include <cmath>
#include <string>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/solvent_constants.h"
#include "platform/backend.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// The inputs of one calculator, asked in order under its caption, each within its
// quantity's range (asked again otherwise). A cancelled input, or an s of 0 where
// the relation divides by it (said in an error box), ends the questions: every
// later Ask returns its default and ok() is false.
class CalculatorInputs {
 public:
  CalculatorInputs(TXLAWindow& window, const char* caption) : window_(window), caption_(caption) {}

  float Ask(const char* prompt, float current, const Quantity& quantity, bool nonZero = false) {
    if (!ok_) return current;
    float value = current;
    if (!AskFloat(window_, &value, current, prompt, caption_, quantity)) {
      ok_ = false;
      return current;
    }
    if (nonZero && value == 0.0f) {
      CommandMessageBox(window_, "the value must not be 0", "ERROR", MB_OK | MB_ICONERROR);
      ok_ = false;
      return current;
    }
    return value;
  }

  // The solvent inputs most relations share, with the current settings as defaults.
  float AskVbar() { return Ask("partial-specific volume vbar (ml/g)", SolventConstants().VBAR, kPartialSpecificVolume); }
  float AskDensity() { return Ask("buffer density (g/ml)", SolventConstants().fBufferDensity, kBufferDensity); }
  // Buffer viscosity in cP, returned relative to water at 20 C.
  float AskRelativeViscosity() {
    const float cP = Ask("buffer viscosity (cP)", STANDARDVISCOSITY * 1000.0f * SolventConstants().RELVISCOSITY, kViscosityCp);
    return cP / (STANDARDVISCOSITY * 1000.0f);
  }

  bool ok() const { return ok_; }

 private:
  TXLAWindow& window_;
  const char* caption_;
  bool ok_ = true;
};

void ShowResult(TXLAWindow& window, const std::string& text, const char* caption) {
  GetBackend().SetClipboardText(text);
  CommandMessageBox(window, text, caption, MB_OK | MB_ICONINFORMATION);
}

void ShowNoSolution(TXLAWindow& window, const std::string& text, const char* caption) {
  CommandMessageBox(window, text, caption, MB_OK | MB_ICONERROR);
}

// A neutrally buoyant particle (vbar rho = 1) neither sediments nor floats.
bool NeutrallyBuoyant(float vbar, float rho) {
  return std::fabs(1.0 - static_cast<double>(vbar) * rho) < 1e-6;
}

constexpr const char* kBuoyancyText =
    "no solution: the particle is neutrally buoyant in this buffer (vbar x density = 1)";
constexpr const char* kSignText =
    "no solution: s and the buoyancy 1 - vbar x density must have the same sign";

// The axial-ratio lines of prolate and oblate ellipsoids of revolution with the
// given frictional ratio; a ratio of 0 means the shape factor is not above that of
// the hydrated sphere.
std::string AxialRatioLines(float ff0, float vbar, float hydration, float rho) {
  std::string text;
  const float prolate = CalculateProlateRatio(ff0, vbar, hydration, rho);
  const float oblate = CalculateOblateRatio(ff0, vbar, hydration, rho);
  if (prolate > 0.0f && oblate > 0.0f) {
    text += FormatText("axial ratio of a prolate ellipsoid = %.3f\n", static_cast<double>(prolate));
    text += FormatText("axial ratio of an oblate ellipsoid = %.3f\n", static_cast<double>(oblate));
  } else {
    text += "no axial ratio: f/f0 does not exceed that of the hydrated sphere\n";
  }
  return text;
}

// Linear interpolation of c at x on the ascending radii r[1..n]; false outside.
bool ValueAt(const float* r, const float* c, int n, double x, double* value) {
  if (n < 2 || x < r[1] || x > r[n]) return false;
  int k = 1;
  while (k < n - 1 && r[k + 1] < x) ++k;
  const double h = static_cast<double>(r[k + 1]) - r[k];
  const double u = h > 0.0 ? (x - r[k]) / h : 0.0;
  *value = c[k] + u * (static_cast<double>(c[k + 1]) - c[k]);
  return true;
}

// Square of the second-moment radius of a profile c(r) between meniscus m and a
// radius p in the plateau, from the amount of material inside p:
//   r_w^2 = (p^2 c(p) - 2 int_m^p r c dr) / c(p).
// The relation needs no boundary to be resolved: it holds exactly for the Lamm
// equation whatever depletion or diffusion there is near the meniscus, as long as
// c has no baseline. The caller therefore passes the baseline to remove from every
// value. The integral is taken by the trapezoidal rule over the data points between
// m and p and the values interpolated at both ends. False when m or p lies outside
// the scan, no material is left at p, or none has moved away from the meniscus
// (r_w not beyond m: no boundary between m and p).
bool SecondMomentRadius2(const float* r, const float* c, int n, double m, double p, double baseline,
                         double* rw2) {
  double cm = 0.0, cp = 0.0;
  if (!ValueAt(r, c, n, m, &cm) || !ValueAt(r, c, n, p, &cp)) return false;
  cm -= baseline;
  cp -= baseline;
  if (!(cp > 0.0)) return false;
  double integral = 0.0, x0 = m, y0 = m * cm;
  for (int k = 1; k <= n; ++k) {
    if (!(r[k] > m) || !(r[k] < p)) continue;
    const double y = static_cast<double>(r[k]) * (c[k] - baseline);
    integral += 0.5 * (y + y0) * (r[k] - x0);
    x0 = r[k];
    y0 = y;
  }
  integral += 0.5 * (p * cp + y0) * (p - x0);
  *rw2 = (p * p * cp - 2.0 * integral) / cp;
  return std::isfinite(*rw2) && *rw2 > m * m * (1.0 + 1e-9);
}

}  // namespace

// s20,w = s (eta / eta_w,20) (1 - vbar20 rho_w,20) / (1 - vbar rho).
void TXLAWindow::CmCalculateS20w() {
  constexpr const char* kCaption = "S(20,W) FROM S";
  CalculatorInputs in(*this, kCaption);
  const float s = in.Ask("s-value under experimental conditions (S)", 1.0f,
                         NamedAs("s-value under experimental conditions", kSedimentationCoefficient), true);
  const float vbar = in.Ask("partial-specific volume vbar at the experimental temperature (ml/g)", SolventConstants().VBAR,
                            kPartialSpecificVolume);
  const float vbar20 = in.Ask("partial-specific volume vbar at 20 C (ml/g)", SolventConstants().VBAR20, kPartialSpecificVolume);
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  if (!in.ok()) return;
  if (NeutrallyBuoyant(vbar, rho)) return ShowNoSolution(*this, kBuoyancyText, kCaption);
  const float s20w = S20wFromS(s, relEta * STANDARDVISCOSITY, rho, vbar, vbar20);
  ShowResult(*this, FormatText("s(20,w) = %.4g S\n", static_cast<double>(s20w)), kCaption);
}

// f/f0 = f / (6 pi eta R0), f = M (1 - vbar rho) / (N_A s), and the axial ratios of
// the ellipsoids of revolution with that ratio.
void TXLAWindow::CmCalculateFrictionalRatios() {
  constexpr const char* kCaption = "FRICTIONAL RATIO";
  CalculatorInputs in(*this, kCaption);
  const float M = in.Ask("molar mass M (Da)", 50000.0f, kMolarMass);
  const float s = in.Ask("sedimentation coefficient s (S)", 4.0f, kSedimentationCoefficient, true);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  const float hydration = in.Ask("hydration (g/g)", 0.0f, kHydration);
  if (!in.ok()) return;
  const float ff0 = CalculateFrictionalRatio(M, s, vbar, rho, relEta);
  if (!(ff0 > 0.0f) || !std::isfinite(ff0)) return ShowNoSolution(*this, kSignText, kCaption);
  ShowResult(*this,
             FormatText("f/f0 = %.4f\n", static_cast<double>(ff0)) + AxialRatioLines(ff0, vbar, hydration, rho),
             kCaption);
}

void TXLAWindow::CmShapesFromFrictionalRatio() {
  constexpr const char* kCaption = "SHAPES FROM F/F0";
  CalculatorInputs in(*this, kCaption);
  const float ff0 = in.Ask("frictional ratio f/f0", SolventConstants().fFrictionalRatio, kFrictionalRatio);
  const float vbar = in.AskVbar();
  const float hydration = in.Ask("hydration (g/g)", 0.0f, kHydration);
  const float rho = in.AskDensity();
  if (!in.ok()) return;
  ShowResult(*this, AxialRatioLines(ff0, vbar, hydration, rho), kCaption);
}

// s = M (1 - vbar rho) / (N_A 6 pi eta R0), R0 = (3 M vbar / (4 pi N_A))^(1/3).
void TXLAWindow::CmSphereSFromM() {
  constexpr const char* kCaption = "S(M) OF A SPHERE";
  CalculatorInputs in(*this, kCaption);
  const float M = in.Ask("molar mass M (Da)", 50000.0f, kMolarMass);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  if (!in.ok()) return;
  // The temperature cancels: D = kT / f and s = M D (1 - vbar rho) / (R T).
  const float s = CalculateSedcoeffFromMassSphere(M, vbar, 20.0f, rho, relEta);
  ShowResult(*this, FormatText("s = %.4g S\n", static_cast<double>(s)), kCaption);
}

// M = N_A q^(3/2), q = (f/f0) 6 pi eta (3 vbar / (4 pi N_A))^(1/3) s / (1 - vbar rho).
void TXLAWindow::CmMFromS() {
  constexpr const char* kCaption = "M(S)";
  CalculatorInputs in(*this, kCaption);
  const float s = in.Ask("sedimentation coefficient s (S)", 4.0f, kSedimentationCoefficient, true);
  const float ff0 = in.Ask("frictional ratio f/f0 (1 for a sphere)", 1.0f, kFrictionalRatio);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  if (!in.ok()) return;
  const double M = MassFromSedcoeff(s, vbar, static_cast<double>(vbar) * rho,
                                    static_cast<double>(relEta) * STANDARDVISCOSITY, ff0);
  if (!(M > 0.0) || !std::isfinite(M)) return ShowNoSolution(*this, kSignText, kCaption);
  ShowResult(*this, FormatText("M = %.4g Da\n", M), kCaption);
}

// The radius of the compact sphere with this s (its Stokes radius).
void TXLAWindow::CmSphereRhFromS() {
  constexpr const char* kCaption = "RH(S) OF A SPHERE";
  CalculatorInputs in(*this, kCaption);
  const float s = in.Ask("sedimentation coefficient s (S)", 4.0f, kSedimentationCoefficient, true);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  if (!in.ok()) return;
  const double M = MassFromSedcoeff(s, vbar, static_cast<double>(vbar) * rho,
                                    static_cast<double>(relEta) * STANDARDVISCOSITY, 1.0);
  if (!(M > 0.0) || !std::isfinite(M)) return ShowNoSolution(*this, kSignText, kCaption);
  const double R = CalculateRadius(M, vbar);  // m
  ShowResult(*this, FormatText("Rh = %.4g nm\n(sphere of M = %.4g Da)\n", R * 1e9, M), kCaption);
}

// The sphere of radius Rh has the mass N_A (4/3) pi Rh^3 / vbar; its s follows.
void TXLAWindow::CmSphereSFromRh() {
  constexpr const char* kCaption = "S(RH) OF A SPHERE";
  CalculatorInputs in(*this, kCaption);
  const float Rh = in.Ask("Stokes radius Rh (nm)", 3.0f, kStokesRadius);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float relEta = in.AskRelativeViscosity();
  if (!in.ok()) return;
  const double M = CalculateMassFromRadius(static_cast<double>(Rh) * 1e-9, vbar);
  const float s = CalculateSedcoeffFromMassSphere(static_cast<float>(M), vbar, 20.0f, rho, relEta);
  ShowResult(*this, FormatText("s = %.4g S\n(sphere of M = %.4g Da)\n", static_cast<double>(s), M),
             kCaption);
}

// The plateau ahead of a sedimenting boundary is diluted by the sector shape as
// c / c0 = exp(-2 s w^2 t).
void TXLAWindow::CmRadialDilution() {
  constexpr const char* kCaption = "RADIAL DILUTION";
  CalculatorInputs in(*this, kCaption);
  const float s = in.Ask("sedimentation coefficient s (S)", 4.0f, kSedimentationCoefficient);
  const float rpm = in.Ask("rotor speed (rpm)", 50000.0f, kRotorSpeed);
  const float t = in.Ask("time after the start of sedimentation (sec)", 3600.0f, kRunTime);
  if (!in.ok()) return;
  const double w = rpm * kTwoPiOver60;
  const double w2t = w * w * t;
  const double factor = std::exp(-2.0 * s * 1e-13 * w2t);
  ShowResult(*this, FormatText("plateau concentration c/c0 = %.5g\n(w^2t = %.4g 1/s)\n", factor, w2t),
             kCaption);
}

// Hydrostatic pressure of the spinning liquid column at radius r:
// p = rho w^2 (r^2 - m^2) / 2.
void TXLAWindow::CmCalculatePressure() {
  constexpr const char* kCaption = "PRESSURE";
  CalculatorInputs in(*this, kCaption);
  const float rpm = in.Ask("rotor speed (rpm)", 50000.0f, kRotorSpeed);
  const float rho = in.Ask("solution density (g/ml)", SolventConstants().fBufferDensity, NamedAs("solution density", kBufferDensity));
  const float m = in.Ask("meniscus (cm)", 6.0f, NamedAs("meniscus", kRotorRadius));
  const float r = in.Ask("radius (cm)", 7.2f, kRotorRadius);
  if (!in.ok()) return;
  if (r < m) return ShowNoSolution(*this, "the radius must not lie inside the meniscus", kCaption);
  const double w = rpm * kTwoPiOver60;
  // kg/m^3 x (1/s^2) x m^2 = Pa.
  const double pa = 0.5 * (1000.0 * rho) * w * w *
                    (static_cast<double>(r) * r - static_cast<double>(m) * m) * 1e-4;
  ShowResult(*this, FormatText("pressure at %g cm = %.4g bar (%.4g MPa)\n", static_cast<double>(r),
                               pa * 1e-5, pa * 1e-6),
             kCaption);
}

// The friction force of a particle sedimenting at steady velocity v = s w^2 r:
// F = f v with f = M (1 - vbar rho) / (N_A s); it balances the buoyant
// centrifugal force.
void TXLAWindow::CmFrictionForce() {
  constexpr const char* kCaption = "FRICTION FORCE";
  CalculatorInputs in(*this, kCaption);
  const float M = in.Ask("molar mass M (Da)", 50000.0f, kMolarMass);
  const float s = in.Ask("sedimentation coefficient s (S)", 4.0f, kSedimentationCoefficient, true);
  const float vbar = in.AskVbar();
  const float rho = in.AskDensity();
  const float rpm = in.Ask("rotor speed (rpm)", 50000.0f, kRotorSpeed);
  const float r = in.Ask("radius (cm)", 6.5f, kRotorRadius);
  if (!in.ok()) return;
  const double f = CalculateFrictionCoefficient(M, s, vbar, rho);  // g/s
  if (!(f > 0.0) || !std::isfinite(f)) return ShowNoSolution(*this, kSignText, kCaption);
  const double w = rpm * kTwoPiOver60;
  const double v = s * 1e-13 * w * w * r;  // cm/s
  const double force = f * v * 1e-5;        // dyn -> N
  ShowResult(*this,
             FormatText("friction coefficient f = %.4g g/s\nsedimentation velocity v = %.4g cm/s\n"
                        "friction force F = %.4g N\n",
                        f, v, force),
             kCaption);
}

// The second moment of each loaded scan moves as r_w^2 = m^2 exp(2 s_w w^2 t), so
// s_w = ln(r_w^2 / m^2) / (2 w^2 t), with the scan's recorded w^2 t (its rpm and
// time when none was recorded). The model's baseline (fitted by the last fit, or as
// entered or loaded with the parameters) is removed from the data first. The table
// lists every scan in display order and the mean of the scans that have a boundary.
void TXLAWindow::CmSecondMomentS() {
  constexpr const char* kCaption = "SECOND MOMENT";
  if (!RequireLoadedData(*this)) return;
  CalculatorInputs in(*this, kCaption);
  const float m = in.Ask("meniscus (cm)", DataSet().fMeniscus, NamedAs("meniscus", kRotorRadius));
  const float p = in.Ask("plateau radius (cm)", DataSet().fFitRightLim, NamedAs("plateau radius", kRotorRadius));
  if (!in.ok()) return;
  if (!(p > m)) return ShowNoSolution(*this, "the plateau radius must lie beyond the meniscus", kCaption);
  const double baseline = ModelParams().fBaseline;
  std::string text = FormatText("weight-average s by second moment (meniscus %.3f cm, plateau %.3f cm, "
                                "baseline %.5g removed)\n"
                                "time (sec)\ts (S)\n",
                                static_cast<double>(m), static_cast<double>(p), baseline);
  double sum = 0.0;
  int count = 0;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    const std::size_t s = static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(i)]);
    const ScanInfo& info = DataSet().pScanInfo[s];
    double w2t = info.omega2t;
    if (!(w2t > 0.0)) {
      const double w = info.rpm * kTwoPiOver60;
      w2t = w * w * info.time;
    }
    double rw2 = 0.0;
    if (w2t > 0.0 && SecondMomentRadius2(DataSet().ppRadius[s], DataSet().ppSignal[s], DataSet().pnPoints[s], m, p, baseline, &rw2)) {
      const double sw = std::log(rw2 / (static_cast<double>(m) * m)) / (2.0 * w2t) / 1e-13;
      text += FormatText("%.1f\t%.4g\n", info.time, sw);
      sum += sw;
      ++count;
    } else {
      text += FormatText("%.1f\tno boundary\n", info.time);
    }
  }
  if (count == 0) return ShowNoSolution(*this, "no scan has a boundary between meniscus and plateau", kCaption);
  text += FormatText("mean\t%.4g S\n", sum / count);
  ShowResult(*this, text, kCaption);
}

}  // namespace tarmic
