#include "propagators/coefficient_models.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "propagators/inhomogeneous_solvent.h"
#include "propagators/solvent_settings.h"

namespace tarmic {

namespace {

// The association table: rows 1..kAssocTableRows of (x, c(x), s, D), row-major,
// with an unused row 0; and the row where the last lookup ended.
struct AssocTable {
  std::vector<double> rows;
  int cachedRow = 1;
};
// This module's own state in the analysis.
struct LocalState {
  AssocTable gAssocTable{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

constexpr double kTableFirstX = 1e-5;
constexpr double kTableLastX = 100.0;

inline double& TableAt(int row, int col) { return Local().gAssocTable.rows[4 * row + col - 1]; }

// Weight-average s and gradient-average D of the rapid monomer-dimer equilibrium
// at total concentration c. With x = c2/c1 = K c1 the mass balance K c = x + x^2
// gives x = (sqrt(1 + 4Kc) - 1)/2, written without the cancellation at small Kc.
void DimerAssociation(const CoefficientConstants& k, double c, double* s, double* D) {
  const double kc = k.K * std::max(c, 0.0);  // rounding negatives count as empty
  const double x = 2 * kc / (1 + std::sqrt(1 + 4 * kc));
  *s = (k.s1 + x * k.s2) / (1 + x);
  *D = (k.d1 + 2 * x * k.d2) / (1 + 2 * x);
}

}  // namespace

bool CoefficientConstants::AllSediment() const {
  switch (model) {
    case CoefficientModel::MonomerDimer:
    case CoefficientModel::MonomerTrimer: return s1 > 0 && s2 > 0;
    case CoefficientModel::AssociationTable: return oligoS[0] > 0 && oligoS[1] > 0 && oligoS[2] > 0;
    case CoefficientModel::CosoluteCoefficients: {
      double s0 = 0.0, d0 = 0.0;
      ModelCoefficients(*this, 0.0, &s0, &d0);
      return s0 > 0;
    }
    default: return s1 > 0;
  }
}

bool CoefficientConstants::AllFloat() const {
  switch (model) {
    case CoefficientModel::MonomerDimer:
    case CoefficientModel::MonomerTrimer: return s1 < 0 && s2 < 0;
    case CoefficientModel::AssociationTable: return oligoS[0] < 0 && oligoS[1] < 0 && oligoS[2] < 0;
    case CoefficientModel::CosoluteCoefficients: {
      double s0 = 0.0, d0 = 0.0;
      ModelCoefficients(*this, 0.0, &s0, &d0);
      return s0 < 0;
    }
    default: return s1 < 0;
  }
}

bool PrepareCoefficientModel(const CoefficientModelValues& v, CoefficientConstants* k, std::string* message) {
  *k = CoefficientConstants{};
  k->s1 = v.s1;
  k->d1 = v.d1;
  k->s2 = v.s2;
  k->d2 = v.d2;
  if (v.csNonideal || v.nonidealSpecies) {
    k->model = v.csNonideal ? CoefficientModel::NonidealCs : CoefficientModel::NonidealSpecies;
    if (v.cosoluteCoefficients) {
      if (v.csNonideal) {
        if (message) *message = "s(c) and D(c) of a sedimenting cosolute are not available in this simulation";
        return false;
      }
      k->model = CoefficientModel::CosoluteCoefficients;
      k->cscl = v.csclCoefficients;
      return k->cscl || ReadCosoluteCoefficientTables(&k->sCoef, &k->dCoef, message);
    }
    if (!(v.signalPerConcentration > 0) || !std::isfinite(v.signalPerConcentration)) {
      if (message) *message = "the signal per mg/ml must be positive";
      return false;
    }
    // ks, kd are entered per mg/ml; the profile is in signal units.
    const double sign = v.repulsive ? 1.0 : -1.0;
    k->ks = sign * std::pow(10.0, v.logKs) / v.signalPerConcentration;
    k->kd = sign * std::pow(10.0, v.logKd) / v.signalPerConcentration;
    return true;
  }
  if (v.monomerDimer) {
    k->model = CoefficientModel::MonomerDimer;
    k->K = std::pow(10.0, v.logK);
    k->dimerNonideal = v.dimerNonideal;
    if (v.dimerNonideal) k->ks = std::pow(10.0, v.logKs);
  } else if (v.monomerTrimer) {
    k->model = CoefficientModel::MonomerTrimer;
    k->K = std::pow(10.0, v.logK);
    k->K2 = k->K * k->K;
    k->K3 = k->K2 * k->K;
  } else if (v.assoc124 || v.assoc148) {
    k->model = CoefficientModel::AssociationTable;
    k->assoc148 = v.assoc148;
    k->Ka = std::pow(10.0, v.logKa);
    k->Kb = std::pow(10.0, v.logKb);
    for (int j = 0; j < 3; ++j) {
      k->oligoS[j] = v.oligoS[j];
      k->oligoD[j] = v.oligoD[j];
    }
  }
  return true;
}

double MonomerFromTrimerTotal(double c, double K) {
  if (c == 0) return 0.0;
  double x = c;
  if (K > 1e-100) {
    // Cardano for x^3 + x/K - c/K = 0: u, v = cbrt(q +- c/(2K)) with
    // q = sqrt(1/(27 K^3) + c^2/(4 K^2)), x = u - v. Since u^3 - v^3 = c/K and
    // u v = 1/(3K), x = (c/K)/(u^2 + u v + v^2), free of the cancellation u - v.
    const double a = c / (2 * K);
    const double q = std::sqrt(1 / (27 * K * K * K) + a * a);
    const double u = std::cbrt(q + a), v = std::cbrt(q - a);
    const double guess = (c / K) / (u * u + 1 / (3 * K) + v * v);
    if (std::isfinite(guess)) x = guess;
  }
  // Newton polish: f(x) = K x^3 + x - c has f' = 3 K x^2 + 1 >= 1.
  for (int it = 0; it < 2; ++it) x -= (K * x * x * x + x - c) / (3 * K * x * x + 1);
  return x;
}

void ModelCoefficients(const CoefficientConstants& k, double c, double* s, double* D) {
  switch (k.model) {
    case CoefficientModel::Ideal:
      *s = k.s1;
      *D = k.d1;
      return;
    case CoefficientModel::MonomerDimer:
      DimerAssociation(k, c, s, D);
      if (k.dimerNonideal) *s /= 1 + k.ks * c;
      return;
    case CoefficientModel::MonomerTrimer: {
      // Weight ratio of trimer to monomer: K x^2.
      const double x = MonomerFromTrimerTotal(std::max(c, 0.0), k.K);
      const double y = k.K * x * x;
      *s = (k.s1 + y * k.s2) / (1 + y);
      *D = (k.d1 + 3 * y * k.d2) / (1 + 3 * y);
      return;
    }
    case CoefficientModel::AssociationTable:
      LookupAssociationTable(c, s, D);
      return;
    case CoefficientModel::NonidealSpecies:
    case CoefficientModel::NonidealCs:
      *s = k.s1 / (1 + k.ks * c);
      *D = k.d1 * (1 + k.kd * c);
      return;
    case CoefficientModel::CosoluteCoefficients:
      *s = k.cscl ? CsClSedimentationCoefficient(c)
                  : EvalCoefficientPolynomial(k.sCoef, static_cast<int>(k.sCoef.size()), c);
      *D = k.cscl ? CsClDiffusionCoefficient(c)
                  : EvalCoefficientPolynomial(k.dCoef, static_cast<int>(k.dCoef.size()), c);
      return;
  }
}

void PredictorCoefficients(const CoefficientConstants& k, const double* cOld, int N, double t,
                           double* s, double* D) {
  if (k.model == CoefficientModel::NonidealCs) {
    // The coefficients follow the whole distribution, not this kernel's profile.
    std::vector<double> total(N + 1, 0.0);
    if (k.totalConcentrationAt) k.totalConcentrationAt(t, total.data());
    for (int i = 1; i <= N; ++i) ModelCoefficients(k, total[i], &s[i], &D[i]);
    return;
  }
  for (int i = 1; i <= N; ++i) ModelCoefficients(k, cOld[i], &s[i], &D[i]);
}

void CorrectorCoefficients(const CoefficientConstants& k, const double* cOld, const double* cNew,
                           int N, double* s, double* D) {
  if (k.model == CoefficientModel::NonidealCs) return;
  if (k.model == CoefficientModel::MonomerDimer && k.dimerNonideal) {
    for (int i = 1; i <= N; ++i) {
      double s0, D0, s1, D1;
      DimerAssociation(k, cOld[i], &s0, &D0);
      DimerAssociation(k, cNew[i], &s1, &D1);
      s[i] = (s0 + s1) / 2 / (1 + k.ks * (cOld[i] + cNew[i]) / 2);
      D[i] = (D0 + D1) / 2;
    }
    return;
  }
  for (int i = 1; i <= N; ++i) {
    double sn, Dn;
    ModelCoefficients(k, cNew[i], &sn, &Dn);
    s[i] = (s[i] + sn) / 2;
    D[i] = (D[i] + Dn) / 2;
  }
}

// ---- association table ----

void BuildAssociationTable(const CoefficientConstants& k) {
  auto& coefficientModelsPart = CoefficientModels();
  auto& localPart = Local();
  localPart.gAssocTable.rows.assign(4 * (kAssocTableRows + 1), 0.0);
  const double ratio = std::pow(kTableLastX / kTableFirstX, 1.0 / (kAssocTableRows - 1));
  const double *S = k.oligoS, *Dv = k.oligoD;
  double x = kTableFirstX;
  for (int row = 1; row <= kAssocTableRows; ++row, x *= ratio) {
    // Weight fractions relative to the monomer: a = Ka x^(n2-1), b = Kb x^(n3-1)
    // for the oligomers of n2 and n3 monomers; c = x (1 + a + b) and the gradient
    // average weighs each by its stoichiometry.
    const int n2 = k.assoc148 ? 4 : 2, n3 = k.assoc148 ? 8 : 4;
    const double a = k.Ka * std::pow(x, n2 - 1), b = k.Kb * std::pow(x, n3 - 1);
    TableAt(row, 1) = x;
    TableAt(row, 2) = x * (1 + a + b);
    TableAt(row, 3) = (S[0] + a * S[1] + b * S[2]) / (1 + a + b);
    TableAt(row, 4) = (Dv[0] + n2 * a * Dv[1] + n3 * b * Dv[2]) / (1 + n2 * a + n3 * b);
  }
  localPart.gAssocTable.cachedRow = 1;
  coefficientModelsPart.bAssocTableBuilt = true;
}

void LookupAssociationTable(double c, double* s, double* D) {
  auto& coefficientModelsPart = CoefficientModels();
  auto& localPart = Local();
  if (!coefficientModelsPart.bAssocTableBuilt) {
    *s = *D = 0.0;
    return;
  }
  auto rowValues = [&](int row) {
    *s = TableAt(row, 3);
    *D = TableAt(row, 4);
  };
  if (!(c > TableAt(1, 2))) {  // below the table (or not a number)
    rowValues(1);
    return;
  }
  // Successive lookups rise slowly along a profile: start ten rows before the
  // last hit when c lies above that row, else from the top.
  int k = localPart.gAssocTable.cachedRow > 10 && c > TableAt(localPart.gAssocTable.cachedRow - 10, 2)
              ? localPart.gAssocTable.cachedRow - 10
              : 1;
  while (k <= kAssocTableRows && TableAt(k, 2) < c) ++k;
  if (k > kAssocTableRows) {
    localPart.gAssocTable.cachedRow = kAssocTableRows;
    rowValues(kAssocTableRows);
    return;
  }
  localPart.gAssocTable.cachedRow = k;
  if (TableAt(k, 2) == c) {
    rowValues(k);
    return;
  }
  const double f = (c - TableAt(k - 1, 2)) / (TableAt(k, 2) - TableAt(k - 1, 2));
  *s = TableAt(k - 1, 3) + f * (TableAt(k, 3) - TableAt(k - 1, 3));
  *D = TableAt(k - 1, 4) + f * (TableAt(k, 4) - TableAt(k - 1, 4));
}

void FreeAssociationTable() {
  Local().gAssocTable = AssocTable{};
  CoefficientModels().bAssocTableBuilt = false;
}

AssociationTableScope::AssociationTableScope(const CoefficientConstants& k) {
  if (k.model == CoefficientModel::AssociationTable) BuildAssociationTable(k);
}

AssociationTableScope::~AssociationTableScope() { FreeAssociationTable(); }

}  // namespace tarmic
