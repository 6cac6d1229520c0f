// The set-up shared by the sweeps of the non-ideal models: the scans and the model
// of one species under "c1 nonideal" or the non-ideal single-species model.
#pragma once

#include <vector>

#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic::test {

// Scans 250 s apart on 241 radii at rpm, cell 6.0-7.2 cm, fitting limits
// 6.04-7.16 cm, signal 0; their times (s) and radii (cm) for a reference solution.
inline void InstallNonidealSweepScans(int scans, float rpm, std::vector<double>* times,
                                      std::vector<double>* radii) {
  InstallVelocityScans(scans, 241, 250.0, rpm);
  DataSet().fFitLeftLim = 6.04f;
  DataSet().fFitRightLim = 7.16f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  for (int j = 1; j <= DataSet().nScans; ++j) times->push_back(DataSet().pScanInfo[Idx(j)].time);
  for (int i = 1; i <= DataSet().pnPoints[1]; ++i) radii->push_back(DataSet().ppRadius[1][i]);
}

// Species 1 (s in S, D in cm^2/s, loading in OD) as species 1 of the discrete model
// under "c1 nonideal" (c1) or as the non-ideal single-species model, with log ks
// and log kd; the loading is not solved linearly.
inline void SetNonidealSpecies(bool c1, double s, double D, double loading, float logKs, float logKd) {
  ResetModelFlags();
  ModelParams().pSpeciesS[1] = static_cast<float>(s);
  ModelParams().pSpeciesMassOrD[1] = static_cast<float>(D * 1e7);
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(loading);
  if (c1) {
    ModelFlags().bDiscreteModel = true;
    for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1 ? 1 : 0;
    ModelOptions().bC1Nonideal = true;
    ModelOptions().fLogKs = logKs;
    ModelOptions().fLogKd = logKd;
  } else {
    ModelFlags().bNonidealSpecies = true;
    ModelParams().pSpeciesAmplitude[2] = logKs;
    ModelParams().pSpeciesAmplitude[3] = logKd;
  }
  PackModelParams();
  if (c1) AllocSpeciesSignalArrays();
  ModelParams().bLinearAmplitudes = false;
}

}  // namespace tarmic::test
