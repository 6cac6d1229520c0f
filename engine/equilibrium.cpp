#include "engine/equilibrium.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "numerics/one_based.h"
#include "scandata/experiment_file.h"
#include "scandata/scan_file.h"
#include "storage/atomic_file.h"

namespace tarmic::engine {

namespace {

constexpr double kLn10 = 2.302585092994046;

// The monomer-nmer constant of the signals: K' = n Ka (eps l)^(1-n).
double SignalConstant(const DataSet& set, int n, double logKa) {
  const double el = set.extinction[0] * set.pathLength;
  return n * std::pow(10.0, logKa) * std::pow(el, 1.0 - n);
}

// The hetero-association constant of the signals: K' = Ka (epsA + epsB) / (epsA epsB l).
double HeteroSignalConstant(const DataSet& set, double logKa) {
  const double ea = set.extinction[0], eb = set.extinction[1];
  return std::pow(10.0, logKa) * (ea + eb) / (ea * eb * set.pathLength);
}

constexpr Quantity kMassValue{"molar mass", "g/mol", Closed(10.0, 1e8)};
constexpr Quantity kLogKaValue{"log10 of the association constant", "", Closed(-30.0, 60.0)};
constexpr Quantity kSignalValue{"signal", "OD", Closed(-10.0, 1000.0)};
constexpr Quantity kNValue{"n of the n-mer", "", Count(2.0, 12.0)};
constexpr Quantity kMValue{"m of the m-mer", "", Count(3.0, 12.0)};
constexpr Quantity kFractionValue{"incompetent fraction", "", Closed(0.0, 0.99)};
constexpr Quantity kVirialValue{"second virial coefficient", "mol ml/g^2", Closed(-1.0, 1.0)};

// The integral of exp(u x) over [xa, xa + w] and its derivative by u (the integral of
// x exp(u x)), in closed form; near u = 0 the second by its series, where the closed
// form would cancel.
struct ExpIntegral {
  double value = 0.0, du = 0.0;
  double dlo = 0.0, dhi = 0.0;  // by the radii (cm) of the column's ends (ColumnIntegral)
};
ExpIntegral IntegralOfExp(double u, double xa, double w) {
  ExpIntegral out;
  const double ea = std::exp(u * xa), uw = u * w;
  double j = 0.0;  // the integral of t exp(u t) over [0, w]
  if (std::fabs(uw) < 1.0) {
    out.value = u != 0.0 ? ea * std::expm1(uw) / u : w;
    double term = 1.0, sum = 0.0;  // sum_k (uw)^k / (k! (k + 2))
    for (int k = 0; k < 40; ++k) {
      if (k > 0) term *= uw / k;
      sum += term / (k + 2);
      if (std::fabs(term) < 1e-18) break;
    }
    j = w * w * sum;
  } else {
    const double em1 = std::expm1(uw);
    out.value = ea * em1 / u;
    j = w * (em1 + 1.0) / u - em1 / (u * u);
  }
  out.du = xa * out.value + ea * j;
  return out;
}

constexpr int kMaxSpecies = 4, kMaxP = 12;

// The species of a data set at one point: each one's ideal signal S (its distribution
// from the reference values), molar mass M and signal per molar concentration epsL,
// with the derivatives of S and M by every value (the globals, then the locals).
struct Species {
  int count = 0;
  double S[kMaxSpecies], M[kMaxSpecies], epsL[kMaxSpecies];
  double dS[kMaxSpecies][kMaxP], dM[kMaxSpecies][kMaxP];
};

// What one evaluation of a data set shares across its points.
struct SetConstants {
  double s = 0.0;             // buoyant factor per g/mol
  double K1 = 0.0, K2 = 0.0;  // signal constants of the complexes
  double cinc = 0.0;          // the incompetent monomer's signal at the reference radius
  double dcinc[kMaxP] = {};   // and its derivatives
  double cPower[2] = {};      // c1^(n-1) of each complex
  int P = kMaxP;              // the values that have derivatives (globals and locals)
  bool masses = false;        // the species' masses' derivatives are needed (B2)
};

// The column over which a loading is counted: its ends' radii (cm), and the indices
// among the globals of the evaluation of the floated meniscus and bottom (-1: held).
struct Column {
  double lo = 0.0, hi = 0.0;
  int mi = -1, bi = -1;
  double Xa(double r2ref) const { return 0.5 * (lo * lo - r2ref); }
  double W() const { return 0.5 * (hi * hi - lo * lo); }
};

// The complexes of monomer-nmer(-mmer): their orders and signal constants.
struct Complexes {
  int count = 0;
  int order[2] = {0, 0};
  double K[2] = {0.0, 0.0};
};
Complexes ComplexesOf(const EquilibriumModelSpec& spec, const SetConstants& k) {
  Complexes c;
  c.count = spec.kind == EquilibriumKind::kMonomerNmerMmer ? 2 : 1;
  c.order[0] = spec.n;
  c.order[1] = spec.m;
  c.K[0] = k.K1;
  c.K[1] = k.K2;
  return c;
}

// e^n by products: n is a small whole number.
double WholePower(double e, int n) {
  double en = e;
  for (int j = 1; j < n; ++j) en *= e;
  return en;
}

}  // namespace

int EquilibriumModelSpec::OwnGlobals() const {
  switch (kind) {
    case EquilibriumKind::kIdeal: return species;
    case EquilibriumKind::kMonomerNmer: return 2;
    case EquilibriumKind::kMonomerNmerMmer: return 3;
    case EquilibriumKind::kHeteroAB: return 3;
  }
  return 0;
}

const std::vector<std::string>& EquilibriumModelNames() {
  static const std::vector<std::string> names = {"ideal1",       "ideal2",            "ideal3",
                                                 "monomer-nmer", "monomer-nmer-mmer", "hetero-ab"};
  return names;
}

const Quantity& QuantityOfEquilibriumValue(const std::string& name) {
  if (name == "n") return kNValue;
  if (name == "m") return kMValue;
  if (name == "incompetent") return kFractionValue;
  if (name == "B2") return kVirialValue;
  if (name.rfind("logKa", 0) == 0) return kLogKaValue;
  if (name.size() >= 2 && name[0] == 'M') return kMassValue;
  return kSignalValue;
}

bool ParseEquilibriumModel(const std::string& name, int n, EquilibriumModelSpec* out, std::string* error, int m) {
  EquilibriumModelSpec s;
  if (name == "ideal1" || name == "ideal2" || name == "ideal3") {
    s.kind = EquilibriumKind::kIdeal;
    s.species = name.back() - '0';
  } else if (name == "monomer-nmer" || name == "monomer-nmer-mmer") {
    s.kind = name == "monomer-nmer" ? EquilibriumKind::kMonomerNmer : EquilibriumKind::kMonomerNmerMmer;
    if (n < 2 || n > 12) {
      if (error) *error = "the n of " + name + " must be 2 to 12 (--set n=N)";
      return false;
    }
    s.n = n;
    if (s.kind == EquilibriumKind::kMonomerNmerMmer) {
      if (m <= n || m > 12) {
        if (error) *error = "the m of monomer-nmer-mmer must be above n and at most 12 (--set n=N --set m=M)";
        return false;
      }
      s.m = m;
    }
  } else if (name == "hetero-ab") {
    s.kind = EquilibriumKind::kHeteroAB;
  } else {
    if (error)
      *error = "no equilibrium model \"" + name +
               "\" (ideal1, ideal2, ideal3, monomer-nmer, monomer-nmer-mmer, hetero-ab)";
    return false;
  }
  *out = s;
  return true;
}

double BuoyantFactor(const DataSet& set) {
  const double omega = set.rpm * 2.0 * M_PI / 60.0;
  return (1.0 - set.vbar * set.density) * omega * omega / (kGasConstantErg * (set.temperature + 273.15));
}

namespace {

// The lowest and highest fitted radius of the data set (lo > hi when none).
void FittedRange(const DataSet& set, double* lo, double* hi) {
  *lo = 1e300;
  *hi = -1e300;
  for (const Scan& sc : set.scans)
    for (double r : sc.radius)
      if (set.InLimits(r)) {
        *lo = std::min(*lo, r);
        *hi = std::max(*hi, r);
      }
}

}  // namespace

double ReferenceRadiusSquared(const DataSet& set) {
  if (set.referenceRadius > 0.0) return set.referenceRadius * set.referenceRadius;
  double lo, hi;
  FittedRange(set, &lo, &hi);
  return lo <= hi ? 0.5 * (lo * lo + hi * hi) : 0.0;
}

namespace {

// The column over which a loading is counted: meniscus to bottom when the data set
// gives both, else its fitted range.
Column ColumnOfSet(const DataSet& set) {
  Column c;
  c.lo = set.meniscus;
  c.hi = set.bottom;
  if (!(c.lo > 0.0 && c.hi > c.lo)) FittedRange(set, &c.lo, &c.hi);
  return c;
}

// The integral of exp(u x) over the column in x = (r^2 - r_ref^2)/2, with its
// derivatives by u and by the radii of its ends: d/dlo = -exp(u xa) lo,
// d/dhi = exp(u xb) hi.
ExpIntegral ColumnIntegral(double u, double r2ref, const Column& col) {
  const double xa = col.Xa(r2ref), w = col.W();
  ExpIntegral out = IntegralOfExp(u, xa, w);
  out.dlo = -std::exp(u * xa) * col.lo;
  out.dhi = std::exp(u * (xa + w)) * col.hi;
  return out;
}

// Adds v times the integral's derivatives by the floated ends to d.
void AddColumnDerivatives(const Column& col, const ExpIntegral& I, double v, double* d) {
  if (col.mi >= 0) d[col.mi] += v * I.dlo;
  if (col.bi >= 0) d[col.bi] += v * I.dhi;
}

// The incompetent monomer's reference signal: c_inc = f/(1-f) A / I1, A the competent
// monomer's signal integrated over the column (free and in complexes), I1 the integral
// of the monomer's exponential; with its derivatives by every value.
void IncompetentConstants(const EquilibriumModelSpec& spec, const DataSet& set, const double* g, std::size_t ng,
                          const double* l, double r2ref, const Column& col, SetConstants* k) {
  const int fi = spec.IncompetentIndex();
  const double f = g[fi], q = f / (1.0 - f);
  const double s = k->s;
  double A = 0.0, dA[kMaxP] = {}, dI1[kMaxP] = {};
  ExpIntegral I1;
  if (spec.kind == EquilibriumKind::kHeteroAB) {
    const double a = std::max(l[0], 0.0), b = std::max(l[1], 0.0);
    const double phi = set.extinction[0] / (set.extinction[0] + set.extinction[1]);
    I1 = ColumnIntegral(g[0] * s, r2ref, col);
    const ExpIntegral Iab = ColumnIntegral((g[0] + g[1]) * s, r2ref, col);
    const double ab = phi * k->K1 * a * b;
    A = a * I1.value + ab * Iab.value;
    AddColumnDerivatives(col, I1, a, dA);
    AddColumnDerivatives(col, Iab, ab, dA);
    dA[0] = a * s * I1.du + ab * s * Iab.du;
    dA[1] = ab * s * Iab.du;
    dA[2] = kLn10 * ab * Iab.value;
    dA[ng + 0] = I1.value + phi * k->K1 * b * Iab.value;
    dA[ng + 1] = phi * k->K1 * a * Iab.value;
  } else {
    const double c = std::max(l[0], 0.0);
    I1 = ColumnIntegral(g[0] * s, r2ref, col);
    A = c * I1.value;
    AddColumnDerivatives(col, I1, c, dA);
    dA[0] = c * s * I1.du;
    dA[ng] = I1.value;
    const Complexes cx = ComplexesOf(spec, *k);
    for (int t = 0; t < cx.count; ++t) {
      const int nn = cx.order[t];
      const ExpIntegral In = ColumnIntegral(nn * g[0] * s, r2ref, col);
      const double cn = std::pow(c, nn), term = cx.K[t] * cn;
      A += term * In.value;
      AddColumnDerivatives(col, In, term, dA);
      dA[0] += term * nn * s * In.du;
      dA[1 + t] = kLn10 * term * In.value;
      dA[ng] += nn * cx.K[t] * std::pow(c, nn - 1) * In.value;
    }
  }
  dI1[0] = s * I1.du;
  AddColumnDerivatives(col, I1, 1.0, dI1);
  const double R = A / I1.value;
  k->cinc = q * R;
  for (int p = 0; p < kMaxP; ++p) k->dcinc[p] = q * (dA[p] - R * dI1[p]) / I1.value;
  k->dcinc[fi] = R / ((1.0 - f) * (1.0 - f));
}

// The species of the model at x. Without B2 only their sum counts: they are then added
// into one slot, so that the point costs no more than its exponentials.
void FillSpecies(const EquilibriumModelSpec& spec, const DataSet& set, const double* g, std::size_t ng,
                 const double* l, const SetConstants& k, double x, Species* sp) {
  const int P = k.P;
  sp->count = 0;
  auto add = [&](double M, double epsL) {
    if (!k.masses && sp->count == 1) return 0;
    const int j = sp->count++;
    sp->M[j] = M;
    sp->epsL[j] = epsL;
    sp->S[j] = 0.0;
    std::fill(sp->dS[j], sp->dS[j] + P, 0.0);
    if (k.masses) std::fill(sp->dM[j], sp->dM[j] + P, 0.0);
    return j;
  };
  const double s = k.s, pl = set.pathLength;
  if (spec.kind == EquilibriumKind::kIdeal) {
    for (int i = 0; i < spec.species; ++i) {
      const double e = std::exp(g[i] * s * x);
      const int j = add(g[i], set.extinction[i] * pl);
      sp->S[j] += l[i] * e;
      sp->dS[j][i] += l[i] * s * x * e;
      sp->dS[j][ng + i] += e;
      sp->dM[j][i] = 1.0;
    }
    return;
  }
  const int fi = spec.IncompetentIndex();
  double e1 = 0.0;  // the exponential of the monomer (of A)
  if (spec.kind == EquilibriumKind::kHeteroAB) {
    const double a = std::max(l[0], 0.0), b = std::max(l[1], 0.0);
    const double ea = std::exp(g[0] * s * x), eb = std::exp(g[1] * s * x);
    e1 = ea;
    int j = add(g[0], set.extinction[0] * pl);
    sp->S[j] += a * ea;
    sp->dS[j][0] += a * s * x * ea;
    sp->dS[j][ng] += ea;
    sp->dM[j][0] = 1.0;
    j = add(g[1], set.extinction[1] * pl);
    sp->S[j] += b * eb;
    sp->dS[j][1] += b * s * x * eb;
    sp->dS[j][ng + 1] += eb;
    sp->dM[j][1] = 1.0;
    j = add(g[0] + g[1], (set.extinction[0] + set.extinction[1]) * pl);
    const double ab = k.K1 * a * b * ea * eb;
    sp->S[j] += ab;
    sp->dS[j][0] += s * x * ab;
    sp->dS[j][1] += s * x * ab;
    sp->dS[j][2] += kLn10 * ab;
    sp->dS[j][ng] += k.K1 * b * ea * eb;
    sp->dS[j][ng + 1] += k.K1 * a * ea * eb;
    sp->dM[j][0] = sp->dM[j][1] = 1.0;
  } else {
    const double c = std::max(l[0], 0.0);
    e1 = std::exp(g[0] * s * x);
    int j = add(g[0], set.extinction[0] * pl);
    sp->S[j] += c * e1;
    sp->dS[j][0] += c * s * x * e1;
    sp->dS[j][ng] += e1;
    sp->dM[j][0] = 1.0;
    const Complexes cx = ComplexesOf(spec, k);
    for (int t = 0; t < cx.count; ++t) {
      const int nn = cx.order[t];
      const double en = WholePower(e1, nn);
      const double cn1 = k.cPower[t], v = cx.K[t] * cn1 * c * en;
      j = add(nn * g[0], nn * set.extinction[0] * pl);
      sp->S[j] += v;
      sp->dS[j][0] += v * nn * s * x;
      sp->dS[j][1 + t] += kLn10 * v;
      sp->dS[j][ng] += nn * cx.K[t] * cn1 * en;
      sp->dM[j][0] = nn;
    }
  }
  if (fi >= 0) {
    const int j = add(g[0], set.extinction[0] * pl);
    sp->S[j] += k.cinc * e1;
    for (int p = 0; p < P; ++p) sp->dS[j][p] += k.dcinc[p] * e1;
    sp->dS[j][0] += k.cinc * s * x * e1;
    sp->dM[j][0] = 1.0;
  }
}

// The weight concentration (g/ml) of a species per signal and per g/mol of its mass:
// the molar concentration S / epsL times M / 1000.
double WeightPerSignal(double epsL) { return epsL > 0.0 ? 1.0 / (1000.0 * epsL) : 0.0; }

}  // namespace

namespace {

// Without B2: the sum of the species' distributions written out per model, the
// common case, at the cost of its exponentials (the species one by one as FillSpecies
// gives them cost several times more).
void EvaluateIdealActivity(const EquilibriumModelSpec& spec, const double* g, std::size_t ng, const double* l,
                           std::size_t nl, const SetConstants& k, std::size_t n, const double* r, double r2ref,
                           double* f, double* dG, double* dL) {
  const double s = k.s;
  const std::size_t base = nl - 1;
  const bool inc = spec.IncompetentIndex() >= 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 0.5 * (r[i] * r[i] - r2ref);
    double* gd = dG ? dG + i * ng : nullptr;
    double* ld = dL ? dL + i * nl : nullptr;
    if (gd) std::fill(gd, gd + ng, 0.0);
    if (ld) std::fill(ld, ld + nl, 0.0);
    double v = l[base], e1 = 0.0;
    if (spec.kind == EquilibriumKind::kIdeal) {
      for (int j = 0; j < spec.species; ++j) {
        const double e = std::exp(g[j] * s * x);
        v += l[j] * e;
        if (gd) gd[j] = l[j] * s * x * e;
        if (ld) ld[j] = e;
      }
    } else if (spec.kind == EquilibriumKind::kHeteroAB) {
      const double a = std::max(l[0], 0.0), b = std::max(l[1], 0.0);
      const double ea = std::exp(g[0] * s * x), eb = std::exp(g[1] * s * x);
      const double ab = k.K1 * a * b * ea * eb;
      e1 = ea;
      v += a * ea + b * eb + ab;
      if (gd) {
        gd[0] = s * x * (a * ea + ab);
        gd[1] = s * x * (b * eb + ab);
        gd[2] = kLn10 * ab;
      }
      if (ld) {
        ld[0] = ea + k.K1 * b * ea * eb;
        ld[1] = eb + k.K1 * a * ea * eb;
      }
    } else {
      const double c = std::max(l[0], 0.0);
      e1 = std::exp(g[0] * s * x);
      v += c * e1;
      if (gd) gd[0] = c * s * x * e1;
      if (ld) ld[0] = e1;
      const Complexes cx = ComplexesOf(spec, k);
      for (int t = 0; t < cx.count; ++t) {
        const int nn = cx.order[t];
        const double en = WholePower(e1, nn);
        const double term = cx.K[t] * k.cPower[t] * c * en;
        v += term;
        if (gd) {
          gd[0] += term * nn * s * x;
          gd[1 + t] = kLn10 * term;
        }
        if (ld) ld[0] += nn * cx.K[t] * k.cPower[t] * en;
      }
    }
    if (inc) {
      // The incompetent monomer: c_inc(values) exp(M1 s x).
      v += k.cinc * e1;
      if (gd) {
        for (std::size_t p = 0; p < ng; ++p) gd[p] += k.dcinc[p] * e1;
        gd[0] += k.cinc * s * x * e1;
      }
      if (ld)
        for (std::size_t p = 0; p < nl; ++p) ld[p] += k.dcinc[ng + p] * e1;
    }
    f[i] = v;
    if (ld) ld[base] = 1.0;
  }
}

// The constants of one evaluation of a data set. With *givenCinc the incompetent
// monomer's reference signal is that value (solved over the non-ideal column by the
// caller) rather than the closed form, and the derivatives get one slot more, the last,
// by it.
SetConstants ConstantsOfSet(const EquilibriumModelSpec& spec_, const DataSet& set, const double* g, std::size_t ng,
                            const double* l, std::size_t nl, double r2ref, const Column& col,
                            const double* givenCinc) {
  SetConstants k;
  k.s = BuoyantFactor(set);
  if (spec_.kind == EquilibriumKind::kMonomerNmer || spec_.kind == EquilibriumKind::kMonomerNmerMmer)
    k.K1 = SignalConstant(set, spec_.n, g[1]);
  if (spec_.kind == EquilibriumKind::kMonomerNmerMmer) k.K2 = SignalConstant(set, spec_.m, g[2]);
  if (spec_.kind == EquilibriumKind::kHeteroAB) k.K1 = HeteroSignalConstant(set, g[2]);
  const std::size_t P = ng + nl;
  k.P = static_cast<int>(P);
  if (givenCinc) {
    k.cinc = *givenCinc;
    k.dcinc[P] = 1.0;
    k.P = static_cast<int>(P + 1);
  } else if (spec_.IncompetentIndex() >= 0) {
    IncompetentConstants(spec_, set, g, ng, l, r2ref, col, &k);
  }
  k.masses = spec_.VirialIndex() >= 0;
  if (spec_.kind == EquilibriumKind::kMonomerNmer || spec_.kind == EquilibriumKind::kMonomerNmerMmer) {
    const double c = std::max(l[0], 0.0);
    k.cPower[0] = std::pow(c, spec_.n - 1);
    k.cPower[1] = spec_.kind == EquilibriumKind::kMonomerNmerMmer ? std::pow(c, spec_.m - 1) : 0.0;
  }
  return k;
}

// With B2: the weight concentration at the reference radius, where the local values
// are the concentrations themselves, and its derivatives by the k.P values.
void ReferenceWeight(const EquilibriumModelSpec& spec_, const DataSet& set, const double* g, std::size_t ng,
                     const double* l, const SetConstants& k, double* Wref, double* dWref) {
  Species sp;
  *Wref = 0.0;
  std::fill(dWref, dWref + kMaxP, 0.0);
  FillSpecies(spec_, set, g, ng, l, k, 0.0, &sp);
  for (int j = 0; j < sp.count; ++j) {
    const double wj = WeightPerSignal(sp.epsL[j]);
    *Wref += wj * sp.M[j] * sp.S[j];
    for (int p = 0; p < k.P; ++p) dWref[p] += wj * (sp.dM[j][p] * sp.S[j] + sp.M[j] * sp.dS[j][p]);
  }
}

// The non-ideal species at x: each one's signal V_j = S_j exp(-2 B M_j (W - Wref)) and,
// with derivatives, its derivatives by the k.P values. False when no weight
// concentration W solves the distribution there.
bool NonidealSpeciesAt(const EquilibriumModelSpec& spec_, const DataSet& set, const double* g, std::size_t ng,
                       const double* l, const SetConstants& k, int vi, double Wref, const double* dWref, double x,
                       bool derivatives, Species* spp, double* V, double (*dV)[kMaxP]) {
  Species& sp = *spp;
  const double B = g[vi];
  const int P = k.P;
  FillSpecies(spec_, set, g, ng, l, k, x, &sp);
  // W = sum_j T_j E_j with T_j = w_j M_j S_j, E_j = exp(-2 B M_j (W - Wref)): Newton
  // on phi(W) = W - sum_j T_j E_j, which is concave in W. For B >= 0 it increases
  // everywhere and Newton converges from any start; for B < 0 it rises to a
  // maximum, the root sought is on the rising branch, and Newton converges from any
  // start on that branch (from its left monotonically, from its right after one
  // step to the left). So the start is moved left until phi rises there.
  double T[kMaxSpecies], E[kMaxSpecies];
  double W = 0.0;
  for (int j = 0; j < sp.count; ++j) {
    T[j] = WeightPerSignal(sp.epsL[j]) * sp.M[j] * sp.S[j];
    W += T[j];
  }
  double slope = 1.0, phi = 0.0;
  auto residual = [&](double w) {
    phi = w;
    slope = 1.0;
    for (int j = 0; j < sp.count; ++j) {
      E[j] = std::exp(-2.0 * B * sp.M[j] * (w - Wref));
      phi -= T[j] * E[j];
      slope += 2.0 * B * sp.M[j] * T[j] * E[j];
    }
  };
  residual(W);
  for (double shift = std::fabs(W - Wref) + std::fabs(W) + 1e-12; !(slope > 0.0) && shift < 1e300; shift *= 2.0)
    residual(W = Wref - shift);
  bool solved = false;
  for (int it = 0; it < 100; ++it) {
    if (it > 0) residual(W);
    if (!(slope > 0.0) || !std::isfinite(phi)) break;
    const double step = phi / slope;
    W -= step;
    if (std::fabs(step) <= 1e-15 * std::max(std::fabs(W), 1e-300)) {
      solved = true;
      break;
    }
  }
  if (!solved) return false;
  slope = 1.0;
  for (int j = 0; j < sp.count; ++j) {
    E[j] = std::exp(-2.0 * B * sp.M[j] * (W - Wref));
    slope += 2.0 * B * sp.M[j] * T[j] * E[j];
    V[j] = sp.S[j] * E[j];
  }
  if (!derivatives) return true;
  const double dW0 = W - Wref;
  for (int p = 0; p < P; ++p) {
    // The explicit derivative of the residual, W held, then W's by the implicit
    // function theorem.
    const double dB = p == vi ? 1.0 : 0.0;
    double dPhi = 0.0;
    for (int j = 0; j < sp.count; ++j) {
      const double wj = WeightPerSignal(sp.epsL[j]);
      const double dT = wj * (sp.dM[j][p] * sp.S[j] + sp.M[j] * sp.dS[j][p]);
      const double dExp = -2.0 * (dB * sp.M[j] * dW0 + B * sp.dM[j][p] * dW0 - B * sp.M[j] * dWref[p]);
      dPhi -= dT * E[j] + T[j] * E[j] * dExp;
    }
    const double dW = -dPhi / slope;
    for (int j = 0; j < sp.count; ++j) {
      const double dExp = -2.0 * (dB * sp.M[j] * dW0 + B * sp.dM[j][p] * dW0 + B * sp.M[j] * (dW - dWref[p]));
      dV[j][p] = sp.dS[j][p] * E[j] + sp.S[j] * E[j] * dExp;
    }
  }
  return true;
}

// The signal of the data set with the reference signals in l (the globals without the
// loadings of conserved mass). With *givenCinc the incompetent monomer's reference
// signal is that value, and dCinc (when not null) gets each point's derivative by it.
void EvaluateCore(const EquilibriumModelSpec& spec_, const DataSet& set, const double* g, std::size_t ng,
                  const double* l, std::size_t nl, std::size_t n, const double* r, double* f, double* dG,
                  double* dL, const Column& col, const double* givenCinc = nullptr, double* dCinc = nullptr) {
  const double r2ref = ReferenceRadiusSquared(set);
  const SetConstants k = ConstantsOfSet(spec_, set, g, ng, l, nl, r2ref, col, givenCinc);
  const std::size_t P = static_cast<std::size_t>(k.P), base = nl - 1;  // the baseline is the last local
  const int vi = spec_.VirialIndex();
  if (vi < 0) {
    EvaluateIdealActivity(spec_, g, ng, l, nl, k, n, r, r2ref, f, dG, dL);
    return;
  }
  double Wref = 0.0, dWref[kMaxP] = {};
  ReferenceWeight(spec_, set, g, ng, l, k, &Wref, dWref);
  const bool derivatives = dG || dL || dCinc;
  Species sp;
  double V[kMaxSpecies], dV[kMaxSpecies][kMaxP];
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 0.5 * (r[i] * r[i] - r2ref);
    if (!NonidealSpeciesAt(spec_, set, g, ng, l, k, vi, Wref, dWref, x, derivatives, &sp, V, dV)) {
      // No weight concentration satisfies the distribution (a strongly negative B2):
      // the point has no value, and the search steps back from it.
      f[i] = std::numeric_limits<double>::quiet_NaN();
      if (dG) std::fill(dG + i * ng, dG + (i + 1) * ng, 0.0);
      if (dL) std::fill(dL + i * nl, dL + (i + 1) * nl, 0.0);
      if (dCinc) dCinc[i] = 0.0;
      continue;
    }
    double v = l[base], d[kMaxP] = {};
    for (int j = 0; j < sp.count; ++j) {
      v += V[j];
      if (derivatives)
        for (std::size_t p = 0; p < P; ++p) d[p] += dV[j][p];
    }
    f[i] = v;
    if (dG)
      for (std::size_t p = 0; p < ng; ++p) dG[i * ng + p] = d[p];
    if (dL) {
      for (std::size_t p = 0; p < nl; ++p) dL[i * nl + p] = d[ng + p];
      dL[i * nl + base] = 1.0;
    }
    if (dCinc) dCinc[i] = givenCinc ? d[ng + nl] : 0.0;
  }
}

// The model's own globals with "incompetent" and "B2": the globals of one evaluation,
// before the floated column values and the loadings.
std::size_t BaseGlobals(const EquilibriumModelSpec& spec) {
  return spec.OwnGlobals() + (spec.incompetent ? 1 : 0) + (spec.virial ? 1 : 0);
}

// The globals before the loadings of conserved mass.
std::size_t CoreGlobals(const EquilibriumModelSpec& spec) {
  return BaseGlobals(spec) + spec.columnCells.size() * spec.ColumnValues();
}

// hetero-ab with the mass conserved: the signals cA, cB of A and B at the reference
// radius from the loadings of A and B,
//   G_A = cA I_A + phi K cA cB I_AB - (1 - f) L_A w = 0,
//   G_B = cB I_B + (1 - phi) K cA cB I_AB - L_B w = 0,
// phi = epsA / (epsA + epsB) (A's part of AB's signal), f the incompetent share of A.
// Newton from the values without complex (above the roots: the complex only adds);
// the derivatives by the implicit function theorem, dc = -J^-1 dG.
void HeteroConservedReference(const EquilibriumModelSpec& spec, const DataSet& set, const double* g,
                              std::size_t ngCore, const double* L, const Column& col, double* c, double* dc,
                              double* dcdL) {
  const double s = BuoyantFactor(set), r2ref = ReferenceRadiusSquared(set), w = col.W();
  const int fi = spec.IncompetentIndex();
  const double f = fi >= 0 ? g[fi] : 0.0;
  const double phi = set.extinction[0] / (set.extinction[0] + set.extinction[1]);
  const double K = HeteroSignalConstant(set, g[2]);
  const ExpIntegral IA = ColumnIntegral(g[0] * s, r2ref, col), IB = ColumnIntegral(g[1] * s, r2ref, col);
  const ExpIntegral IAB = ColumnIntegral((g[0] + g[1]) * s, r2ref, col);
  const double tA = (1.0 - f) * L[0] * w, tB = L[1] * w;
  double a = std::max(tA / IA.value, 0.0), b = std::max(tB / IB.value, 0.0);
  double j11 = 0, j12 = 0, j21 = 0, j22 = 0, det = 1.0;
  auto jacobian = [&] {
    j11 = IA.value + phi * K * b * IAB.value;
    j12 = phi * K * a * IAB.value;
    j21 = (1.0 - phi) * K * b * IAB.value;
    j22 = IB.value + (1.0 - phi) * K * a * IAB.value;
    det = j11 * j22 - j12 * j21;
  };
  for (int it = 0; it < 200; ++it) {
    const double gA = a * IA.value + phi * K * a * b * IAB.value - tA;
    const double gB = b * IB.value + (1.0 - phi) * K * a * b * IAB.value - tB;
    jacobian();
    const double da = (j22 * gA - j12 * gB) / det, db = (j11 * gB - j21 * gA) / det;
    // A step to below 0 goes half the way there instead: the roots are positive.
    const double na = a - da < 0.0 ? 0.5 * a : a - da, nb = b - db < 0.0 ? 0.5 * b : b - db;
    const bool small = std::fabs(na - a) <= 1e-15 * std::max(a, 1e-300) && std::fabs(nb - b) <= 1e-15 * std::max(b, 1e-300);
    a = na;
    b = nb;
    if (small) break;
  }
  jacobian();
  c[0] = a;
  c[1] = b;
  // dG by each value, then [dcA, dcB] = -J^-1 [dG_A, dG_B].
  auto solve = [&](double gA, double gB, double* dA, double* dB) {
    *dA = -(j22 * gA - j12 * gB) / det;
    *dB = -(j11 * gB - j21 * gA) / det;
  };
  const double ab = K * a * b;
  auto put = [&](std::size_t p, double gA, double gB) { solve(gA, gB, &dc[p], &dc[ngCore + p]); };
  put(0, a * s * IA.du + phi * ab * s * IAB.du, (1.0 - phi) * ab * s * IAB.du);
  put(1, phi * ab * s * IAB.du, b * s * IB.du + (1.0 - phi) * ab * s * IAB.du);
  put(2, phi * kLn10 * ab * IAB.value, (1.0 - phi) * kLn10 * ab * IAB.value);
  if (fi >= 0) put(static_cast<std::size_t>(fi), L[0] * w, 0.0);
  if (col.mi >= 0)
    put(static_cast<std::size_t>(col.mi), a * IA.dlo + phi * ab * IAB.dlo + (1.0 - f) * L[0] * col.lo,
        b * IB.dlo + (1.0 - phi) * ab * IAB.dlo + L[1] * col.lo);
  if (col.bi >= 0)
    put(static_cast<std::size_t>(col.bi), a * IA.dhi + phi * ab * IAB.dhi - (1.0 - f) * L[0] * col.hi,
        b * IB.dhi + (1.0 - phi) * ab * IAB.dhi - L[1] * col.hi);
  solve(-(1.0 - f) * w, 0.0, &dcdL[0], &dcdL[2]);
  solve(0.0, -w, &dcdL[1], &dcdL[3]);
}

// The reference signals that the cell's loadings L give a data set: the mean signal
// over the column (in r dr, meniscus to bottom) is the loading. Ideal species:
// c_j = L_j w / I_j in closed form. An association: c1 solves
// c1 I1 + sum_t K_t c1^n_t I_n_t = (1 - f) L w (the incompetent share f of the loading
// apart) by Newton, convex and rising in c1, from above; its derivatives by the
// implicit function theorem. dc[j * ngCore + p] by the globals of the evaluation
// (the column's ends among them when floated), dcdL[j * comps + k] by the loading k.
// hetero-ab: cA and cB solve the loadings of A and B together (2 x 2 Newton), A's
// counting the free A and A's part of AB's signal (epsA / (epsA + epsB)), B's the rest.
void ConservedReference(const EquilibriumModelSpec& spec, const DataSet& set, const double* g, std::size_t ngCore,
                        const double* L, const Column& col, double* c, double* dc, double* dcdL) {
  const double s = BuoyantFactor(set), r2ref = ReferenceRadiusSquared(set);
  const double w = col.W();
  // The derivatives of the column's width by its ends.
  const double dwdlo = -col.lo, dwdhi = col.hi;
  const int comps = spec.Components();
  std::fill(dc, dc + comps * ngCore, 0.0);
  std::fill(dcdL, dcdL + comps * comps, 0.0);
  if (spec.kind == EquilibriumKind::kHeteroAB) {
    HeteroConservedReference(spec, set, g, ngCore, L, col, c, dc, dcdL);
    return;
  }
  if (spec.kind == EquilibriumKind::kIdeal) {
    for (int j = 0; j < spec.species; ++j) {
      const ExpIntegral I = ColumnIntegral(g[j] * s, r2ref, col);
      c[j] = L[j] * w / I.value;
      dcdL[j * comps + j] = w / I.value;
      dc[j * ngCore + j] = -c[j] * s * I.du / I.value;
      if (col.mi >= 0) dc[j * ngCore + col.mi] = c[j] * (dwdlo / w - I.dlo / I.value);
      if (col.bi >= 0) dc[j * ngCore + col.bi] = c[j] * (dwdhi / w - I.dhi / I.value);
    }
    return;
  }
  const int fi = spec.IncompetentIndex();
  const double f = fi >= 0 ? g[fi] : 0.0, target = (1.0 - f) * L[0] * w;
  const ExpIntegral I1 = ColumnIntegral(g[0] * s, r2ref, col);
  const int complexes = spec.kind == EquilibriumKind::kMonomerNmerMmer ? 2 : 1;
  const int orders[2] = {spec.n, spec.m};
  double Ks[2] = {SignalConstant(set, spec.n, g[1]), 0.0};
  if (complexes == 2) Ks[1] = SignalConstant(set, spec.m, g[2]);
  ExpIntegral In[2];
  for (int t = 0; t < complexes; ++t) In[t] = ColumnIntegral(orders[t] * g[0] * s, r2ref, col);
  double x = std::max(target / I1.value, 0.0), slope = I1.value;
  for (int it = 0; it < 200; ++it) {
    double G = x * I1.value - target;
    slope = I1.value;
    for (int t = 0; t < complexes; ++t) {
      G += Ks[t] * std::pow(x, orders[t]) * In[t].value;
      slope += orders[t] * Ks[t] * std::pow(x, orders[t] - 1) * In[t].value;
    }
    const double step = G / slope;
    x = std::max(x - step, 0.0);
    if (std::fabs(step) <= 1e-15 * x) break;
  }
  c[0] = x;
  // dG/dtheta at the root, then dc = -dG/dtheta / dG/dc.
  double dGdM = x * s * I1.du;
  double dGdlo = x * I1.dlo - (1.0 - f) * L[0] * dwdlo, dGdhi = x * I1.dhi - (1.0 - f) * L[0] * dwdhi;
  for (int t = 0; t < complexes; ++t) {
    const double term = Ks[t] * std::pow(x, orders[t]);
    dGdM += term * orders[t] * s * In[t].du;
    dGdlo += term * In[t].dlo;
    dGdhi += term * In[t].dhi;
    dc[1 + t] = -kLn10 * term * In[t].value / slope;
  }
  dc[0] = -dGdM / slope;
  if (fi >= 0) dc[fi] = -(L[0] * w) / slope;
  if (col.mi >= 0) dc[col.mi] = -dGdlo / slope;
  if (col.bi >= 0) dc[col.bi] = -dGdhi / slope;
  dcdL[0] = (1.0 - f) * w / slope;
}

// Solves the small linear system a x = b (n <= kMaxSpecies) in place by elimination
// with partial pivoting; b holds nb right-hand sides in columns (row-major, n x nb).
// False when a is singular.
bool SolveSmall(int n, double (*a)[kMaxSpecies], double* b, int nb) {
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (!(std::fabs(a[piv][c]) > 0.0)) return false;
    if (piv != c) {
      std::swap(a[piv], a[c]);
      for (int k = 0; k < nb; ++k) std::swap(b[piv * nb + k], b[c * nb + k]);
    }
    for (int r = c + 1; r < n; ++r) {
      const double m = a[r][c] / a[c][c];
      for (int k = c; k < n; ++k) a[r][k] -= m * a[c][k];
      for (int k = 0; k < nb; ++k) b[r * nb + k] -= m * b[c * nb + k];
    }
  }
  for (int c = n - 1; c >= 0; --c)
    for (int k = 0; k < nb; ++k) {
      double v = b[c * nb + k];
      for (int j = c + 1; j < n; ++j) v -= a[c][j] * b[j * nb + k];
      b[c * nb + k] = v / a[c][c];
    }
  return true;
}

// With B2, what is counted over the column (the loadings of conserved mass, the
// incompetent share) has no closed form: the reference signals it fixes are solved
// here. Unknowns z: the conserved reference signals of the components (with L), then
// the incompetent monomer's reference signal c_inc (with the fraction). Equations:
//   conserved component k: sum_j a_kj I_j = (1 - f) L_k w (the factor 1 - f only for
//     the monomer, of A for hetero-ab, when the fraction is fitted), else L_k w;
//   the incompetent share: (1 - f) I_inc = f sum_j a_0j I_j;
// I_j the column integral (in x, dx = r dr) of species j's non-ideal signal, a_kj the
// share of species j's signal that counts for component k (as the ideal columns
// count them). The integrals are composite Gauss-Legendre (8 nodes a panel, panels of
// at most 2 in u x for the steepest species, exact to rounding for these smooth
// exponentials); the non-ideal signal at each node is solved as at a fit point, with
// its derivatives. Newton on z from the ideal values; the derivatives of z by the
// values (globals of the set, locals, loadings) by the implicit function theorem,
// the moving ends of the column by Leibniz's rule.
struct ColumnSolution {
  bool ok = false;
  int nz = 0;
  double z[kMaxSpecies] = {};
  std::vector<double> dz;  // nz rows by [set globals | locals | loadings]
};

constexpr double kGaussNode[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
constexpr double kGaussWeight[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745,
                                    0.1012285362903763};

ColumnSolution SolveNonidealColumn(const EquilibriumModelSpec& spec, const DataSet& set, const double* g,
                                   std::size_t ng, const double* l, std::size_t nl, const double* L,
                                   const Column& col, bool derivatives) {
  ColumnSolution out;
  const bool conserved = L != nullptr;
  const int fi = spec.IncompetentIndex(), vi = spec.VirialIndex();
  const bool inc = fi >= 0;
  const int comps = conserved ? spec.Components() : 0;
  const int nz = comps + (inc ? 1 : 0);
  out.nz = nz;
  const double f = inc ? g[fi] : 0.0;
  const double r2ref = ReferenceRadiusSquared(set), xa = col.Xa(r2ref), w = col.W();
  const double phi = spec.kind == EquilibriumKind::kHeteroAB
                         ? set.extinction[0] / (set.extinction[0] + set.extinction[1]) : 1.0;
  std::vector<double> lz(l, l + nl);
  double cinc = 0.0;
  if (conserved) {
    // The ideal column's reference signals start the search.
    std::vector<double> dc(comps * ng), dcdL(comps * comps);
    ConservedReference(spec, set, g, ng, L, col, lz.data(), dc.data(), dcdL.data());
  }
  // The slot of each unknown among the values of an evaluation (the incompetent
  // monomer's the one after the locals).
  int slot[kMaxSpecies];
  for (int q = 0; q < comps; ++q) slot[q] = static_cast<int>(ng) + q;
  if (inc) slot[comps] = static_cast<int>(ng + nl);
  // The share of species j's signal that counts for component k (the incompetent
  // monomer, the last species when there is one, counts for none).
  auto share = [&](int k, int j, int count) {
    if (inc && j == count - 1) return 0.0;
    if (spec.kind == EquilibriumKind::kIdeal) return j == k ? 1.0 : 0.0;
    if (spec.kind == EquilibriumKind::kHeteroAB) return j == 2 ? (k == 0 ? phi : 1.0 - phi) : (j == k ? 1.0 : 0.0);
    return 1.0;
  };
  int count = 0, P = 0, panels = 2;
  double I[kMaxSpecies], dI[kMaxSpecies][kMaxP], Va[kMaxSpecies], Vb[kMaxSpecies];
  auto integrate = [&](bool withDerivatives) {
    const SetConstants k = ConstantsOfSet(spec, set, g, ng, lz.data(), nl, r2ref, col, inc ? &cinc : nullptr);
    P = k.P;
    double Wref = 0.0, dWref[kMaxP] = {};
    ReferenceWeight(spec, set, g, ng, lz.data(), k, &Wref, dWref);
    Species sp;
    double V[kMaxSpecies], dV[kMaxSpecies][kMaxP];
    FillSpecies(spec, set, g, ng, lz.data(), k, 0.0, &sp);
    count = sp.count;
    double steepest = 0.0;
    for (int j = 0; j < count; ++j) steepest = std::max(steepest, std::fabs(sp.M[j] * k.s * w));
    panels = std::clamp(static_cast<int>(std::ceil(0.5 * steepest)), 2, 64);
    for (int j = 0; j < count; ++j) {
      I[j] = 0.0;
      std::fill(dI[j], dI[j] + kMaxP, 0.0);
    }
    const double h = w / panels;
    for (int pa = 0; pa < panels; ++pa)
      for (int q = 0; q < 8; ++q) {
        const double t = q < 4 ? -kGaussNode[q] : kGaussNode[q - 4], wq = 0.5 * h * kGaussWeight[q % 4];
        const double x = xa + h * (pa + 0.5 * (1.0 + t));
        if (!NonidealSpeciesAt(spec, set, g, ng, lz.data(), k, vi, Wref, dWref, x, withDerivatives, &sp, V, dV))
          return false;
        for (int j = 0; j < count; ++j) {
          I[j] += wq * V[j];
          if (withDerivatives)
            for (int p = 0; p < P; ++p) dI[j][p] += wq * dV[j][p];
        }
      }
    if (withDerivatives) {
      if (!NonidealSpeciesAt(spec, set, g, ng, lz.data(), k, vi, Wref, dWref, xa, false, &sp, Va, dV) ||
          !NonidealSpeciesAt(spec, set, g, ng, lz.data(), k, vi, Wref, dWref, xa + w, false, &sp, Vb, dV))
        return false;
    }
    return true;
  };
  // The residuals of the equations and, from the last integration with derivatives,
  // their derivatives by the values of an evaluation.
  auto residuals = [&](double* R) {
    for (int k = 0; k < comps; ++k) {
      R[k] = -((k == 0 && inc) ? 1.0 - f : 1.0) * L[k] * w;
      for (int j = 0; j < count; ++j) R[k] += share(k, j, count) * I[j];
    }
    if (inc) {
      double competent = 0.0;
      for (int j = 0; j < count; ++j) competent += share(0, j, count) * I[j];
      R[comps] = (1.0 - f) * I[count - 1] - f * competent;
    }
  };
  // The derivative of residual row q by the value p (Leibniz's terms at the ends).
  auto rowDerivative = [&](int q, int p) {
    double d = 0.0;
    auto integralTerm = [&](int j) {
      double v = dI[j][p];
      if (p == col.mi) v += -Va[j] * col.lo;
      if (p == col.bi) v += Vb[j] * col.hi;
      return v;
    };
    if (q < comps) {
      for (int j = 0; j < count; ++j) d += share(q, j, count) * integralTerm(j);
      const double fac = (q == 0 && inc) ? 1.0 - f : 1.0;
      if (p == col.mi) d -= fac * L[q] * -col.lo;
      if (p == col.bi) d -= fac * L[q] * col.hi;
      if (q == 0 && inc && p == fi) d += L[0] * w;
    } else {
      double competent = 0.0, dCompetent = 0.0;
      for (int j = 0; j < count; ++j) {
        competent += share(0, j, count) * I[j];
        dCompetent += share(0, j, count) * integralTerm(j);
      }
      d = (1.0 - f) * integralTerm(count - 1) - f * dCompetent;
      if (p == fi) d += -I[count - 1] - competent;
    }
    return d;
  };
  auto setUnknowns = [&](const double* z) {
    for (int q = 0; q < comps; ++q) lz[q] = z[q];
    if (inc) cinc = z[comps];
  };
  double z[kMaxSpecies] = {};
  for (int q = 0; q < comps; ++q) z[q] = lz[q];
  if (inc) z[comps] = cinc;
  double R[kMaxSpecies], J[kMaxSpecies][kMaxSpecies];
  bool converged = false;
  double lastStep = 1.0;  // the last step relative to the unknowns
  for (int it = 0; it < 60 && !converged; ++it) {
    setUnknowns(z);
    if (!integrate(true)) return out;
    residuals(R);
    for (int q = 0; q < nz; ++q)
      for (int c = 0; c < nz; ++c) J[q][c] = rowDerivative(q, slot[c]);
    double step[kMaxSpecies];
    for (int q = 0; q < nz; ++q) step[q] = R[q];
    if (!SolveSmall(nz, J, step, 1)) return out;
    double scale = 0.0;
    for (int q = 0; q < nz; ++q) scale = std::max(scale, std::fabs(z[q]));
    lastStep = 0.0;
    for (int q = 0; q < nz; ++q) {
      z[q] -= step[q];
      lastStep = std::max(lastStep, std::fabs(step[q]) / std::max(scale, 1e-300));
    }
    converged = !(lastStep > 1e-13);
    if (conserved)
      for (int q = 0; q < comps; ++q) z[q] = std::max(z[q], 0.0);
  }
  setUnknowns(z);
  if (!integrate(derivatives)) return out;
  std::copy(z, z + nz, out.z);
  // The rounding of the integrals can keep the last steps from 1e-13: a step of 1e-9
  // of the values is still far below what the data tell.
  converged = converged || lastStep <= 1e-9;
  out.ok = converged;
  if (!derivatives || !converged) return out;
  // dz = -J^-1 dR by every value of the set: its globals and locals (the unknowns'
  // own slots apart), then the loadings.
  const int nTheta = static_cast<int>(ng + nl) + comps;
  for (int q = 0; q < nz; ++q)
    for (int c = 0; c < nz; ++c) J[q][c] = rowDerivative(q, slot[c]);
  std::vector<double> rhs(nz * nTheta, 0.0);
  for (int q = 0; q < nz; ++q) {
    for (int p = 0; p < static_cast<int>(ng + nl); ++p) {
      if (conserved && p >= static_cast<int>(ng) && p < static_cast<int>(ng) + comps) continue;
      rhs[q * nTheta + p] = -rowDerivative(q, p);
    }
    if (q < comps) rhs[q * nTheta + ng + nl + q] = ((q == 0 && inc) ? 1.0 - f : 1.0) * w;
  }
  if (!SolveSmall(nz, J, rhs.data(), nTheta)) {
    out.ok = false;
    return out;
  }
  out.dz = std::move(rhs);
  return out;
}

// The globals of one data set's evaluation: the base globals, then the cell's floated
// meniscus and bottom (those of the other cells have no part), with the index of each
// among the problem's globals; and the column they give.
struct SetGlobals {
  std::vector<double> g;
  std::vector<std::size_t> index;
  Column col;
};
SetGlobals GlobalsOfSet(const EquilibriumModelSpec& spec, const DataSet& set, const double* g) {
  SetGlobals out;
  const std::size_t base = BaseGlobals(spec);
  out.g.assign(g, g + base);
  for (std::size_t p = 0; p < base; ++p) out.index.push_back(p);
  out.col = ColumnOfSet(set);
  if (const int mi = spec.MeniscusIndex(set.cell); mi >= 0) {
    out.col.lo = g[mi];
    out.col.mi = static_cast<int>(out.g.size());
    out.g.push_back(g[mi]);
    out.index.push_back(static_cast<std::size_t>(mi));
  }
  if (const int bi = spec.BottomIndex(set.cell); bi >= 0) {
    out.col.hi = g[bi];
    out.col.bi = static_cast<int>(out.g.size());
    out.g.push_back(g[bi]);
    out.index.push_back(static_cast<std::size_t>(bi));
  }
  return out;
}

// The index of the cell among the floated columns (-1 when none).
int ColumnPosition(const EquilibriumModelSpec& spec, int cell) {
  if (spec.ColumnValues() == 0) return -1;
  for (std::size_t i = 0; i < spec.columnCells.size(); ++i)
    if (spec.columnCells[i] == cell) return static_cast<int>(i);
  return -1;
}

}  // namespace

int EquilibriumModelSpec::LoadingIndex(int cell) const {
  for (std::size_t i = 0; i < conservedCells.size(); ++i)
    if (conservedCells[i] == cell) return static_cast<int>(CoreGlobals(*this) + i * Components());
  return -1;
}

int EquilibriumModelSpec::MeniscusIndex(int cell) const {
  const int i = ColumnPosition(*this, cell);
  return floatMeniscus && i >= 0 ? static_cast<int>(BaseGlobals(*this)) + i * ColumnValues() : -1;
}

int EquilibriumModelSpec::BottomIndex(int cell) const {
  const int i = ColumnPosition(*this, cell);
  return floatBottom && i >= 0 ? static_cast<int>(BaseGlobals(*this)) + i * ColumnValues() + (floatMeniscus ? 1 : 0)
                               : -1;
}

void EquilibriumModel::Evaluate(const DataSet& set, const double* g, std::size_t ng, const double* l,
                                std::size_t nl, std::size_t n, const double* r, double* f, double* dG,
                                double* dL) const {
  const int li = spec_.LoadingIndex(set.cell);
  if (spec_.VirialIndex() >= 0 && (li >= 0 || spec_.IncompetentIndex() >= 0)) {
    EvaluateNonidealColumn(set, g, ng, l, nl, n, r, f, dG, dL);
    return;
  }
  if (li < 0 && spec_.MeniscusIndex(set.cell) < 0 && spec_.BottomIndex(set.cell) < 0) {
    EvaluateCore(spec_, set, g, ng, l, nl, n, r, f, dG, dL, ColumnOfSet(set));
    return;
  }
  // The set's own globals (its cell's column among them); with the mass conserved the
  // reference signals from the cell's loadings, the data set's own reference locals
  // having no part. The derivatives go back to the problem's globals by the chain rule.
  const SetGlobals sg = GlobalsOfSet(spec_, set, g);
  const std::size_t ngSet = sg.g.size(), comps = li >= 0 ? static_cast<std::size_t>(spec_.Components()) : 0;
  std::vector<double> lc(l, l + nl), dc(comps * ngSet), dcdL(comps * comps);
  if (li >= 0) ConservedReference(spec_, set, sg.g.data(), ngSet, g + li, sg.col, lc.data(), dc.data(), dcdL.data());
  if (!dG && !dL) {
    EvaluateCore(spec_, set, sg.g.data(), ngSet, lc.data(), nl, n, r, f, nullptr, nullptr, sg.col);
    return;
  }
  std::vector<double> gCore(n * ngSet), lCore(n * nl);
  EvaluateCore(spec_, set, sg.g.data(), ngSet, lc.data(), nl, n, r, f, gCore.data(), lCore.data(), sg.col);
  for (std::size_t i = 0; i < n; ++i) {
    if (dG) {
      double* row = dG + i * ng;
      std::fill(row, row + ng, 0.0);
      for (std::size_t p = 0; p < ngSet; ++p) row[sg.index[p]] += gCore[i * ngSet + p];
      for (std::size_t j = 0; j < comps; ++j) {
        const double dfdc = lCore[i * nl + j];
        for (std::size_t p = 0; p < ngSet; ++p) row[sg.index[p]] += dfdc * dc[j * ngSet + p];
        for (std::size_t k = 0; k < comps; ++k) row[li + k] += dfdc * dcdL[j * comps + k];
      }
    }
    if (dL) {
      std::copy(lCore.begin() + i * nl, lCore.begin() + (i + 1) * nl, dL + i * nl);
      for (std::size_t j = 0; j < comps; ++j) dL[i * nl + j] = 0.0;
    }
  }
}

void EquilibriumModel::EvaluateNonidealColumn(const DataSet& set, const double* g, std::size_t ng, const double* l,
                                              std::size_t nl, std::size_t n, const double* r, double* f, double* dG,
                                              double* dL) const {
  // The reference signals that the column fixes (the conserved ones, the incompetent
  // monomer's) solved over the non-ideal column; the set's signal with them, its
  // derivatives through them by the chain rule.
  const int li = spec_.LoadingIndex(set.cell);
  const bool inc = spec_.IncompetentIndex() >= 0;
  const SetGlobals sg = GlobalsOfSet(spec_, set, g);
  const std::size_t ngSet = sg.g.size(), comps = li >= 0 ? static_cast<std::size_t>(spec_.Components()) : 0;
  const bool derivatives = dG || dL;
  const ColumnSolution cs =
      SolveNonidealColumn(spec_, set, sg.g.data(), ngSet, l, nl, li >= 0 ? g + li : nullptr, sg.col, derivatives);
  if (!cs.ok) {
    // No column satisfies the equations at these values: the set has no value there,
    // and the search steps back from it.
    std::fill(f, f + n, std::numeric_limits<double>::quiet_NaN());
    if (dG) std::fill(dG, dG + n * ng, 0.0);
    if (dL) std::fill(dL, dL + n * nl, 0.0);
    return;
  }
  std::vector<double> lc(l, l + nl);
  for (std::size_t j = 0; j < comps; ++j) lc[j] = cs.z[j];
  const double cinc = inc ? cs.z[comps] : 0.0;
  if (!derivatives) {
    EvaluateCore(spec_, set, sg.g.data(), ngSet, lc.data(), nl, n, r, f, nullptr, nullptr, sg.col,
                 inc ? &cinc : nullptr);
    return;
  }
  std::vector<double> gCore(n * ngSet), lCore(n * nl), dCinc(n, 0.0);
  EvaluateCore(spec_, set, sg.g.data(), ngSet, lc.data(), nl, n, r, f, gCore.data(), lCore.data(), sg.col,
               inc ? &cinc : nullptr, inc ? dCinc.data() : nullptr);
  const std::size_t nT = ngSet + nl + comps;
  for (std::size_t i = 0; i < n; ++i) {
    double dfdz[kMaxSpecies] = {};
    for (std::size_t q = 0; q < comps; ++q) dfdz[q] = lCore[i * nl + q];
    if (inc) dfdz[comps] = dCinc[i];
    auto through = [&](std::size_t t) {
      double v = 0.0;
      for (int q = 0; q < cs.nz; ++q) v += dfdz[q] * cs.dz[q * nT + t];
      return v;
    };
    if (dG) {
      double* row = dG + i * ng;
      std::fill(row, row + ng, 0.0);
      for (std::size_t p = 0; p < ngSet; ++p) row[sg.index[p]] += gCore[i * ngSet + p] + through(p);
      for (std::size_t k = 0; k < comps; ++k) row[li + k] += through(ngSet + nl + k);
    }
    if (dL)
      for (std::size_t j = 0; j < nl; ++j)
        dL[i * nl + j] = j < comps ? 0.0 : lCore[i * nl + j] + through(ngSet + j);
  }
}

std::vector<double> EquilibriumModel::ReferenceSignals(const DataSet& set, const double* g, std::size_t ng,
                                                       const double* l, std::size_t nl) const {
  std::vector<double> out(l, l + (nl > 0 ? nl - 1 : 0));
  const int li = spec_.LoadingIndex(set.cell);
  if (li < 0 || static_cast<std::size_t>(li) + spec_.Components() > ng) return out;
  const SetGlobals sg = GlobalsOfSet(spec_, set, g);
  const std::size_t comps = static_cast<std::size_t>(spec_.Components());
  if (spec_.VirialIndex() >= 0) {
    const ColumnSolution cs = SolveNonidealColumn(spec_, set, sg.g.data(), sg.g.size(), l, nl, g + li, sg.col, false);
    for (std::size_t j = 0; j < comps && j < out.size(); ++j)
      out[j] = cs.ok ? cs.z[j] : std::numeric_limits<double>::quiet_NaN();
    return out;
  }
  std::vector<double> dc(comps * sg.g.size()), dcdL(comps * comps);
  ConservedReference(spec_, set, sg.g.data(), sg.g.size(), g + li, sg.col, out.data(), dc.data(), dcdL.data());
  return out;
}

void FillConservedReferenceSignals(const Problem& problem, Summary* summary) {
  const auto* model = dynamic_cast<const EquilibriumModel*>(problem.model.get());
  if (!model || model->spec().conservedCells.empty() || summary->globals.empty()) return;
  std::vector<double> g;
  for (const ValueResult& v : summary->globals) g.push_back(v.value);
  for (std::size_t d = 0; d < problem.dataSets.size() && d < summary->locals.size(); ++d) {
    std::vector<double> l;
    for (const ValueResult& v : summary->locals[d]) l.push_back(v.value);
    const std::vector<double> c = model->ReferenceSignals(problem.dataSets[d], g.data(), g.size(), l.data(), l.size());
    for (std::size_t j = 0; j < c.size() && j < summary->locals[d].size(); ++j) summary->locals[d][j].value = c[j];
  }
}

namespace {

// One reading of the experiment files and every scan file they list, in order. With
// scans false only the experiment files are read, for the names of the files of the
// run. *paths gets every file read (the experiment files and the scans).
bool ReadEquilibriumRunOnce(const std::vector<std::string>& xpPaths, bool scans, std::vector<DataSet>* out,
                            std::vector<std::string>* paths, std::string* error) {
  namespace fs = std::filesystem;
  std::vector<DataSet> sets;
  paths->clear();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  for (const std::string& xpPath : xpPaths) {
    ExperimentFile xp;
    std::string why;
    if (!LoadXpFile(xpPath, &xp, &why)) return fail(why);
    if (!xp.IsEquilibrium()) return fail(xpPath + ": line 1: not an equilibrium experiment (type 3 or 4)");
    paths->push_back(xpPath);
    for (const std::string& name : xp.files) {
      // A relative directory is taken from the experiment file's folder.
      const fs::path listed = fs::path(xp.directory).is_absolute()
                                  ? fs::path(xp.directory)
                                  : fs::path(xpPath).parent_path() / xp.directory;
      fs::path path = (listed / name).lexically_normal();
      std::error_code ec;
      if (!fs::is_regular_file(path, ec)) {
        const fs::path beside = fs::path(xpPath).parent_path() / name;
        if (!fs::is_regular_file(beside, ec))
          return fail(xpPath + ": line 3: the listed file " + name + " is neither in " + xp.directory +
                      " nor beside the experiment file");
        path = beside;
      }
      paths->push_back(path.string());
      if (!scans) continue;
      ScanInfo info;
      ScanDataKind kind;
      int n = 0;
      float *radius = nullptr, *value = nullptr;
      bool mark = false;
      std::string scanWhy;
      if (!ReadScanFileAndKind(path.string().c_str(), ScanDataKind{}, &kind, &info, &n, &radius, &value, nullptr,
                               &mark, 0.0f, &scanWhy))
        return fail(path.string() + ": " + scanWhy);
      DataSet d;
      d.experiment = xpPath;
      d.source = path.string();
      d.cell = info.cell;
      d.wavelength = info.wavelength;
      d.rpm = info.rpm;
      d.temperature = info.temperature;
      d.meniscus = xp.meniscus;
      d.bottom = xp.bottom;
      d.fitLeft = xp.fitLeftLimit;
      d.fitRight = xp.fitRightLimit;
      d.density = xp.bufferDensity > 0 ? xp.bufferDensity : 1.0;
      d.vbar = xp.vbar;
      d.extinction[0] = xp.extinctionA;
      d.extinction[1] = xp.extinctionB;
      d.extinction[2] = xp.extinctionC;
      d.pathLength = xp.pathLength;
      d.noise = xp.noise;
      // Radially-invariant noise is one offset per scan: with one scan per data set it
      // is the data set's baseline, which every model fits.
      d.tiNoise = xp.fitTINoise;
      Scan sc;
      sc.time = info.time;
      sc.temperature = info.temperature;
      sc.rpm = info.rpm;
      for (int i = 1; i <= n; ++i) {
        sc.radius.push_back(radius[i]);
        sc.value.push_back(value[i]);
      }
      free_vector(radius, 1, n);
      free_vector(value, 1, n);
      d.scans.push_back(std::move(sc));
      if (!(d.rpm > 0)) return fail(path.string() + ": line 2: no rotor speed");
      std::size_t inside = 0;
      for (double r : d.scans[0].radius) inside += d.InLimits(r);
      if (inside < 5) return fail(path.string() + ": fewer than 5 points within the fitting limits of " + xpPath);
      sets.push_back(std::move(d));
    }
  }
  *out = std::move(sets);
  return true;
}

}  // namespace

bool ReadEquilibriumRun(const std::vector<std::string>& xpPaths, std::vector<DataSet>* out, std::string* error) {
  if (xpPaths.empty()) {
    if (error) *error = "no experiment file given";
    return false;
  }
  // The experiment files and their scans are one set: the files of the run are held
  // (their state taken) before the scans are read, and compared after them all. A
  // file replaced or rewritten meanwhile reads the run once more; a run that
  // changed again, or whose experiment files now list other files, is refused.
  std::vector<DataSet> sets;
  std::vector<std::string> held, read;
  if (!ReadEquilibriumRunOnce(xpPaths, false, &sets, &held, error)) return false;
  FolderReading reading(held);
  for (int attempt = 0;; ++attempt) {
    if (!ReadEquilibriumRunOnce(xpPaths, true, &sets, &read, error)) return false;
    std::string changed;
    const FolderReading::SetRead result =
        read == held ? reading.AfterReading(attempt, &changed) : FolderReading::SetRead::Refused;
    if (result == FolderReading::SetRead::Whole) break;
    if (result == FolderReading::SetRead::Refused) {
      if (error) *error = changed.empty() ? FolderReading::ChangedNote() + "\n" + xpPaths.front() : changed;
      return false;
    }
  }
  *out = std::move(sets);
  return true;
}

namespace {

struct SlopeStart {
  double mass = 0.0;  // g/mol, 0 when the set gives none
  double cref = 0.0;  // signal at the reference radius
};

// The apparent molar mass and reference signal of a data set from the weighted line
// of ln c against x (weights c^2, the inverse variance of ln c at constant noise).
SlopeStart SlopeOf(const DataSet& set) {
  SlopeStart out;
  const double s = BuoyantFactor(set);
  const double r2ref = ReferenceRadiusSquared(set);
  double top = 0.0;
  for (const Scan& sc : set.scans)
    for (std::size_t i = 0; i < sc.radius.size(); ++i)
      if (set.InLimits(sc.radius[i])) top = std::max(top, sc.value[i]);
  const double floor = std::max(0.02, 0.05 * top);
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Scan& sc : set.scans)
    for (std::size_t i = 0; i < sc.radius.size(); ++i) {
      const double y = sc.value[i];
      if (!set.InLimits(sc.radius[i]) || !(y > floor)) continue;
      const double x = 0.5 * (sc.radius[i] * sc.radius[i] - r2ref), w = y * y, ly = std::log(y);
      sw += w;
      sx += w * x;
      sy += w * ly;
      sxx += w * x * x;
      sxy += w * x * ly;
    }
  const double det = sw * sxx - sx * sx;
  if (!(sw > 0) || !(det > 0) || !(s > 0)) return out;
  const double slope = (sw * sxy - sx * sy) / det;
  const double icpt = (sy - slope * sx) / sw;
  out.mass = slope / s;
  out.cref = std::exp(icpt);
  return out;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// Fits q for a few iterations from its values and keeps it, at the values reached,
// as *best when its sum of squares is below *bestSsr.
void KeepBetterStart(Problem q, int threads, Problem* best, double* bestSsr) {
  Options quick;
  quick.maxIterations = 25;
  quick.limits = false;
  quick.threads = threads;
  const Summary s = Solve(quick, q);
  if (s.status == Status::kRefused || !(s.ssr < *bestSsr)) return;
  *bestSsr = s.ssr;
  for (std::size_t k = 0; k < q.globals.size(); ++k) q.globals[k].value = s.globals[k].value;
  for (std::size_t d = 0; d < q.locals.size(); ++d)
    for (std::size_t k = 0; k < q.locals[d].size(); ++k) q.locals[d][k].value = s.locals[d][k].value;
  *best = std::move(q);
}

// The shares of the complex in the signal at a typical signal that the grid of starts
// over log Ka takes.
constexpr double kStartShares[] = {0.01, 0.1, 0.3, 1.0, 3.0, 10.0, 100.0};

}  // namespace

bool BuildEquilibriumProblem(std::vector<DataSet> sets, const EquilibriumModelSpec& modelSpec,
                             const EquilibriumSettings& settings, int threads, Problem* out, std::string* error,
                             bool conserveMass) {
  auto given = [&](const std::string& name) {
    return settings.set.count(name) > 0 ||
           std::find(settings.floated.begin(), settings.floated.end(), name) != settings.floated.end();
  };
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  EquilibriumModelSpec spec = modelSpec;
  spec.incompetent = spec.kind != EquilibriumKind::kIdeal && given("incompetent");
  spec.virial = given("B2");
  auto floatedName = [&](const char* name) {
    return std::find(settings.floated.begin(), settings.floated.end(), name) != settings.floated.end();
  };
  spec.floatMeniscus = floatedName("meniscus");
  spec.floatBottom = floatedName("bottom");
  for (const char* name : {"meniscus", "bottom"})
    if (settings.set.count(name))
      return fail(std::string("the ") + name + " is the experiment file's; --float " + name +
                  " fits one per cell from it");
  if (spec.ColumnValues() > 0) {
    // The exponentials alone do not depend on the column: only a loading counted over
    // it (conserved mass, the incompetent share) does.
    if (!conserveMass && !spec.incompetent)
      return fail("the meniscus and bottom float only with --conserve-mass or the incompetent fraction: the "
                  "model's signal does not depend on them otherwise");
    for (const DataSet& d : sets)
      if (!(d.meniscus > 0.0 && d.bottom > d.meniscus))
        return fail("floating the meniscus or bottom needs them in every experiment file as start values: " +
                    (d.experiment.empty() ? d.source : d.experiment) + " does not give them");
  }
  if (spec.virial) {
    // B2 weighs each species through its molar extinction coefficient.
    const int needed = spec.kind == EquilibriumKind::kIdeal ? spec.species
                       : spec.kind == EquilibriumKind::kHeteroAB ? 2 : 1;
    for (const DataSet& d : sets)
      for (int j = 0; j < needed; ++j)
        if (!(d.extinction[j] > 0.0) || !(d.pathLength > 0.0))
          return fail(d.experiment + ": B2 needs the extinction coefficient " + std::string(1, char('A' + j)) +
                      " and the pathlength");
  }
  if (conserveMass) {
    for (const DataSet& d : sets)
      if (!(d.meniscus > 0.0 && d.bottom > d.meniscus))
        return fail("--conserve-mass needs the meniscus and bottom of every cell: " +
                    (d.experiment.empty() ? d.source : d.experiment) + " does not give them");
  }
  Problem p;
  p.model = std::make_shared<EquilibriumModel>(spec);
  const std::size_t nd = sets.size();
  std::vector<SlopeStart> slopes;
  std::vector<double> masses, crefs;
  for (const DataSet& d : sets) {
    slopes.push_back(SlopeOf(d));
    if (slopes.back().mass > 0) masses.push_back(slopes.back().mass);
    crefs.push_back(slopes.back().cref);
  }
  const double mApp = masses.empty() ? 1e4 : Median(masses);
  auto mass = [](const std::string& name, double v) { return Parameter{name, v, "g/mol", 10.0, 1e8, true}; };
  std::vector<std::string> localNames;
  if (spec.kind == EquilibriumKind::kIdeal) {
    const double spread[3][3] = {{1.0, 0, 0}, {0.5, 2.0, 0}, {0.33, 1.0, 3.0}};
    for (int j = 0; j < spec.species; ++j)
      p.globals.push_back(mass("M" + std::to_string(j + 1), mApp * spread[spec.species - 1][j]));
    for (int j = 0; j < spec.species; ++j) localNames.push_back("c" + std::to_string(j + 1));
  } else if (spec.kind == EquilibriumKind::kHeteroAB) {
    p.globals.push_back(mass("M1", mApp));
    p.globals.push_back(mass("M2", mApp));
    p.globals.push_back(Parameter{"logKa1", 4.0, "log10 M^-1", -30.0, 60.0, true});
    localNames = {"cA", "cB"};
  } else {
    auto unit = [](int n) { return n == 2 ? std::string("log10 M^-1") : "log10 M^-" + std::to_string(n - 1); };
    p.globals.push_back(mass("M1", mApp));
    p.globals.push_back(Parameter{"logKa1", 4.0, unit(spec.n), -30.0, 60.0, true});
    if (spec.kind == EquilibriumKind::kMonomerNmerMmer)
      p.globals.push_back(Parameter{"logKa2", 8.0, unit(spec.m), -30.0, 80.0, true});
    localNames = {"c1"};
  }
  // The fraction may be estimated below 0: a run without incompetent monomer then ends
  // inside the range, at a value consistent with none, rather than on its bound.
  if (spec.incompetent) p.globals.push_back(Parameter{"incompetent", 0.1, "fraction", -0.5, 0.99, true});
  if (spec.virial) p.globals.push_back(Parameter{"B2", 0.0, "mol ml/g^2", -1.0, 1.0, true});
  if (spec.ColumnValues() > 0) {
    // One meniscus and one bottom per cell, the same at each of its speeds, started at
    // the experiment files' and kept outside the cell's fitted points (up to 0.5 cm
    // beyond them).
    for (const DataSet& d : sets)
      if (std::find(spec.columnCells.begin(), spec.columnCells.end(), d.cell) == spec.columnCells.end())
        spec.columnCells.push_back(d.cell);
    std::sort(spec.columnCells.begin(), spec.columnCells.end());
    for (int cell : spec.columnCells) {
      double meniscus = 0.0, bottom = 0.0, lo = 1e300, hi = -1e300;
      int count = 0;
      for (const DataSet& d : sets) {
        if (d.cell != cell) continue;
        meniscus += d.meniscus;
        bottom += d.bottom;
        ++count;
        double a, b;
        FittedRange(d, &a, &b);
        lo = std::min(lo, a);
        hi = std::max(hi, b);
      }
      meniscus /= count;
      bottom /= count;
      const std::string ofCell = " cell " + std::to_string(cell);
      if (spec.floatMeniscus)
        p.globals.push_back(Parameter{"meniscus" + ofCell, std::min(meniscus, lo), "cm", lo - 0.5, lo, true});
      if (spec.floatBottom)
        p.globals.push_back(Parameter{"bottom" + ofCell, std::max(bottom, hi), "cm", hi, hi + 0.5, true});
    }
    p.model = std::make_shared<EquilibriumModel>(spec);
  }
  localNames.push_back("baseline");
  p.locals.resize(nd);
  for (std::size_t d = 0; d < nd; ++d) {
    const double cref = slopes[d].cref > 0 ? slopes[d].cref : 0.1;
    const int nc = static_cast<int>(localNames.size()) - 1;
    for (int j = 0; j < nc; ++j) p.locals[d].push_back(Parameter{localNames[j], cref / nc, "OD", 0.0, 1e3, true});
    p.locals[d].push_back(Parameter{"baseline", 0.0, "OD", -10.0, 10.0, true});
  }
  // The settings: a value given is held unless it is floated as well.
  auto known = [&](const std::string& name) {
    for (const Parameter& g : p.globals)
      if (g.name == name) return true;
    return std::find(localNames.begin(), localNames.end(), name) != localNames.end();
  };
  for (const auto& [name, value] : settings.set) {
    if (name == "n" || (name == "m" && spec.kind == EquilibriumKind::kMonomerNmerMmer)) continue;
    if (!known(name)) {
      if (error) *error = "the model has no value \"" + name + "\"";
      return false;
    }
  }
  for (const std::string& name : settings.floated)
    if (name != "meniscus" && name != "bottom" && !known(name)) {
      if (error) *error = "the model has no value \"" + name + "\" to float";
      return false;
    }
  // A value floated without one set keeps its start (incompetent and B2).
  auto apply = [&](Parameter& q) {
    const auto it = settings.set.find(q.name);
    if (it == settings.set.end()) return;
    q.value = it->second;
    q.floated = std::find(settings.floated.begin(), settings.floated.end(), q.name) != settings.floated.end();
  };
  for (Parameter& g : p.globals) apply(g);
  for (auto& list : p.locals)
    for (Parameter& q : list) apply(q);
  p.dataSets = std::move(sets);
  // Time-invariant noise: one profile per cell and wavelength over the speeds whose
  // experiment files switch it on, at their common fitted radii. A constant in it
  // trades places with the baselines, so the baseline of the group's first set is held
  // at 0 (the others are then relative to it).
  {
    std::map<std::pair<int, double>, std::vector<std::size_t>> groups;
    for (std::size_t d = 0; d < nd; ++d)
      if (p.dataSets[d].tiNoise) groups[{p.dataSets[d].cell, p.dataSets[d].wavelength}].push_back(d);
    auto fitted = [&](std::size_t d) {
      std::vector<double> r;
      const DataSet& ds = p.dataSets[d];
      for (const Scan& sc : ds.scans)
        for (std::size_t i = 0; i < sc.radius.size() && i < sc.value.size(); ++i)
          if (ds.InLimits(sc.radius[i]) && std::isfinite(sc.value[i])) r.push_back(sc.radius[i]);
      return r;
    };
    for (const auto& [key, group] : groups) {
      const std::string first = p.dataSets[group[0]].source;
      if (group.size() < 2)
        return fail(first + ": time-invariant noise needs two or more speeds of cell " + std::to_string(key.first) +
                    " on the same radii (one data set alone would be fitted by the noise)");
      const std::vector<double> r0 = fitted(group[0]);
      for (std::size_t d : group) {
        const std::vector<double> r = fitted(d);
        bool same = r.size() == r0.size();
        for (std::size_t i = 0; same && i < r.size(); ++i) same = std::fabs(r[i] - r0[i]) <= 5e-5;
        if (!same)
          return fail(p.dataSets[d].source + " and " + first +
                      ": time-invariant noise needs the speeds of a cell on the same radii within the fitting "
                      "limits, and these differ");
      }
      p.tiNoiseGroups.push_back(group);
      Parameter& baseline = p.locals[group[0]].back();
      if (baseline.floated) baseline.value = 0.0;
      baseline.floated = false;
    }
  }

  const bool twoComplexes = spec.kind == EquilibriumKind::kMonomerNmerMmer;
  if ((spec.kind == EquilibriumKind::kMonomerNmer || twoComplexes) &&
      (p.globals[1].floated || (twoComplexes && p.globals[2].floated))) {
    // A grid of starts over the share of each complex at a typical signal, with the
    // monomer mass that keeps the apparent mass; the best short fit is kept, so that
    // the search starts in the basin of the global minimum. Two complexes take a
    // coarser grid over both shares (a held constant keeps its value).
    const int n = spec.n, m = spec.m;
    const double typical = Median(crefs) > 0 ? Median(crefs) : 0.1;
    const double el = p.dataSets[0].extinction[0] * p.dataSets[0].pathLength;
    const std::vector<double> fine(std::begin(kStartShares), std::end(kStartShares));
    const std::vector<double> coarse = {0.03, 0.3, 3.0, 30.0};
    const std::vector<double> heldShare = {-1.0};  // keeps the constant as it is
    const std::vector<double>& nShares = !p.globals[1].floated ? heldShare : twoComplexes ? coarse : fine;
    const std::vector<double>& mShares = !twoComplexes ? std::vector<double>{0.0}
                                         : p.globals[2].floated ? coarse : heldShare;
    double bestSsr = 1e300;
    Problem best = p;
    for (double jn : nShares)
      for (double jm : mShares) {
        Problem q = p;
        // K' typical^(n-1) = j, with K' = n Ka (eps l)^(1-n).
        auto logKaOf = [&](double j, int order) {
          return std::log10(j / (order * std::pow(typical, order - 1) * std::pow(el, 1.0 - order)));
        };
        if (jn >= 0) q.globals[1].value = logKaOf(jn, n);
        if (twoComplexes && jm >= 0) q.globals[2].value = logKaOf(jm, m);
        // The shares the start values give at the typical signal.
        const double Kn = SignalConstant(q.dataSets[0], n, q.globals[1].value);
        const double Km = twoComplexes ? SignalConstant(q.dataSets[0], m, q.globals[2].value) : 0.0;
        const double sn = Kn * std::pow(typical, n - 1), sm = twoComplexes ? Km * std::pow(typical, m - 1) : 0.0;
        if (q.globals[0].floated) q.globals[0].value = mApp * (1.0 + sn + sm) / (1.0 + n * sn + m * sm);
        for (std::size_t d = 0; d < nd; ++d) {
          if (!q.locals[d][0].floated) continue;
          // The monomer signal c1 with c1 + Kn c1^n + Km c1^m = the set's reference signal.
          const DataSet& ds = q.dataSets[d];
          const double kn = SignalConstant(ds, n, q.globals[1].value);
          const double km = twoComplexes ? SignalConstant(ds, m, q.globals[2].value) : 0.0;
          const double total = slopes[d].cref > 0 ? slopes[d].cref : typical;
          double lo = 0.0, hi = total;
          for (int it = 0; it < 60; ++it) {
            const double mid = 0.5 * (lo + hi);
            const double sum = mid + kn * std::pow(mid, n) + (twoComplexes ? km * std::pow(mid, m) : 0.0);
            (sum > total ? hi : lo) = mid;
          }
          q.locals[d][0].value = 0.5 * (lo + hi);
        }
        KeepBetterStart(std::move(q), threads, &best, &bestSsr);
      }
    p = std::move(best);
  }
  if (spec.kind == EquilibriumKind::kHeteroAB && p.globals[2].floated) {
    // The same grid for A + B: A and B start at equal signals x at a typical signal,
    // the complex's share j of it (K' x^2 = 2 j x), and masses apart by a quarter so
    // that the search does not start on the line where A and B trade places.
    const double typical = Median(crefs) > 0 ? Median(crefs) : 0.1;
    double bestSsr = 1e300;
    Problem best = p;
    for (double j : kStartShares) {
      Problem q = p;
      const double x = 0.5 * typical, K = 2.0 * j / x;
      if (q.globals[0].floated) q.globals[0].value = 0.8 * mApp * (1.0 + j) / (1.0 + 2.0 * j);
      if (q.globals[1].floated) q.globals[1].value = 1.25 * mApp * (1.0 + j) / (1.0 + 2.0 * j);
      const DataSet& d0 = q.dataSets[0];
      q.globals[2].value =
          std::log10(K * d0.extinction[0] * d0.extinction[1] * d0.pathLength / (d0.extinction[0] + d0.extinction[1]));
      for (std::size_t d = 0; d < nd; ++d) {
        const double total = slopes[d].cref > 0 ? slopes[d].cref : typical;
        const double each = (-2.0 + std::sqrt(4.0 + 4.0 * K * total)) / (2.0 * K);
        if (q.locals[d][0].floated) q.locals[d][0].value = each;
        if (q.locals[d][1].floated) q.locals[d][1].value = each;
      }
      KeepBetterStart(std::move(q), threads, &best, &bestSsr);
    }
    p = std::move(best);
  }
  if (conserveMass) {
    // One loading per cell and component, started at the mean over the cell's data
    // sets of the loading each one's start values imply; the reference signals follow
    // from it and their locals are held.
    EquilibriumModelSpec conserved = spec;
    for (const DataSet& d : p.dataSets)
      if (std::find(conserved.conservedCells.begin(), conserved.conservedCells.end(), d.cell) ==
          conserved.conservedCells.end())
        conserved.conservedCells.push_back(d.cell);
    std::sort(conserved.conservedCells.begin(), conserved.conservedCells.end());
    const int comps = spec.Components();
    std::vector<double> g;
    for (const Parameter& q : p.globals) g.push_back(q.value);
    const int fi = spec.IncompetentIndex();
    const double f = fi >= 0 ? g[fi] : 0.0;
    for (int cell : conserved.conservedCells) {
      std::vector<double> sum(comps, 0.0);
      int count = 0;
      for (std::size_t d = 0; d < nd; ++d) {
        const DataSet& ds = p.dataSets[d];
        if (ds.cell != cell) continue;
        ++count;
        const double s = BuoyantFactor(ds);
        const Column col = ColumnOfSet(ds);
        const double xa = col.Xa(ReferenceRadiusSquared(ds)), w = col.W();
        if (spec.kind == EquilibriumKind::kIdeal) {
          for (int j = 0; j < comps; ++j) sum[j] += p.locals[d][j].value * IntegralOfExp(g[j] * s, xa, w).value / w;
        } else if (spec.kind == EquilibriumKind::kHeteroAB) {
          // A's loading: free A and A's part of AB (less the incompetent share); B's the rest.
          const double a = p.locals[d][0].value, b = p.locals[d][1].value;
          const double phi = ds.extinction[0] / (ds.extinction[0] + ds.extinction[1]);
          const double ab = HeteroSignalConstant(ds, g[2]) * a * b * IntegralOfExp((g[0] + g[1]) * s, xa, w).value;
          sum[0] += (a * IntegralOfExp(g[0] * s, xa, w).value + phi * ab) / ((1.0 - f) * w);
          sum[1] += (b * IntegralOfExp(g[1] * s, xa, w).value + (1.0 - phi) * ab) / w;
        } else {
          const double c = p.locals[d][0].value;
          double A = c * IntegralOfExp(g[0] * s, xa, w).value;
          A += SignalConstant(ds, spec.n, g[1]) * std::pow(c, spec.n) * IntegralOfExp(spec.n * g[0] * s, xa, w).value;
          if (spec.kind == EquilibriumKind::kMonomerNmerMmer)
            A += SignalConstant(ds, spec.m, g[2]) * std::pow(c, spec.m) *
                 IntegralOfExp(spec.m * g[0] * s, xa, w).value;
          sum[0] += A / ((1.0 - f) * w);
        }
      }
      for (int j = 0; j < comps; ++j) {
        const std::string component = spec.kind == EquilibriumKind::kHeteroAB ? std::string(1, char('A' + j))
                                      : comps > 1                            ? std::to_string(j + 1)
                                                                             : std::string();
        const std::string name = "loading" + component + " cell " + std::to_string(cell);
        p.globals.push_back(Parameter{name, sum[j] / std::max(count, 1), "OD", 0.0, 1e3, true});
      }
    }
    for (auto& list : p.locals)
      for (int j = 0; j < comps; ++j) list[j].floated = false;
    p.model = std::make_shared<EquilibriumModel>(conserved);
  }
  *out = std::move(p);
  return true;
}

}  // namespace tarmic::engine
