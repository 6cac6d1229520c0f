// The small tables a user chooses for a model. The first byte picks the table:
//   0  a maximum-entropy prior file, interpolated onto a grid from 0.5 to 20 when
//      it is accepted (the c(s) prior of a Run);
//   1  a solvent coefficient file as the density, viscosity, s(c) and D(c) series
//      of the inhomogeneous solvent, each evaluated over the cosolute range;
//   2  the s-M pairs of the power-law calibration and the fit of the law (a fit
//      that succeeds must give finite Ks and bs).
#include <cmath>
#include <cstdlib>

#include "commands/power_law_calibration.h"
#include "distributions/distribution_prior.h"
#include "fuzz_support.h"
#include "numerics/interpolation.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/solvent_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const std::string path = fuzz::WriteScratch(data + 1, size - 1, "table.dat");
  switch (data[0] % 3) {
    case 0: {
      PriorTable table;
      std::string error;
      const bool taken = ReadPriorFile(path, &table, &error);
      fuzz::ReportOutcome(taken);
      if (!taken) break;
      constexpr int n = 50;
      std::vector<double> x(n + 1, 0.0), y(n + 1, 0.0);
      for (int i = 1; i <= n; ++i) x[static_cast<size_t>(i)] = 0.5 + 19.5 * (i - 1) / (n - 1);
      InterpolateCurveDouble(n, x.data(), y.data(), table.Count(), table.x.data(), table.y.data());
      break;
    }
    case 1: {
      InhomSolventSettings& st = SolventSettings().gInhomSolvent;
      st.sNonidealPath = st.dNonidealPath = st.densityPath = st.viscosityPath = path;
      bool taken = ReadCoefficientFile(DensityCoefPath(st), &st.densityCoef);
      taken = ReadCoefficientFile(ViscosityCoefPath(st), &st.viscosityCoef) && taken;
      std::vector<double> s, D;
      std::string message;
      fuzz::ReportOutcome(ReadCosoluteCoefficientTables(&s, &D, &message) && taken);
      for (double c = 0.0; c <= 8.0; c += 0.5) {
        CosoluteDensity(c);
        CosoluteViscosity(c);
        EvalCoefficientPolynomial(s, s.empty() ? 0 : static_cast<int>(s.size()) - 1, c);
        EvalCoefficientPolynomial(D, D.empty() ? 0 : static_cast<int>(D.size()) - 1, c);
      }
      ResetInhomSolventSettings();
      break;
    }
    default: {
      std::vector<float> s, M;
      float Ks = 0.0f, bs = 0.0f;
      const bool taken = ReadSMPairs(path, &s, &M);
      fuzz::ReportOutcome(taken);
      if (taken && FitPowerLaw(s, M, &Ks, &bs) && !(std::isfinite(Ks) && std::isfinite(bs))) std::abort();
      break;
    }
  }
  return 0;
}
