#include "modelcalc/nonideal_grid.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "lamm/amount_balance.h"
#include "modelcalc/fit_grid_check.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// What the check keeps between computations: the node count the last non-ideal
// solution was laid from (before the factor).
struct GridCheckState {
  int baseNodes = 0;
};
// This module's own state in the analysis.
struct LocalState {
  GridCheckState gGridCheck{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

int NodesAt(int nodes, int factor) {
  const long long n = static_cast<long long>(nodes) * std::max(factor, 1);
  return static_cast<int>(std::max<long long>(nodes, std::min<long long>(n, kMostRefinedGridNodes)));
}

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

}  // namespace

bool NonidealGridModel() {
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  if (dataSetPart.bDLSData || dataSetPart.bEquilibriumMode) return false;
  return modelFlagsPart.bNonIdealMultiple || (modelFlagsPart.bDiscreteModel ? ModelOptions().bC1Nonideal : modelFlagsPart.bNonidealSpecies);
}

int NonidealGridNodes(int nodes) {
  Local().gGridCheck.baseNodes = nodes;
  return NodesAt(nodes, NonidealGrid().nNonidealGridFactor);
}

double NeighbourNoiseAtFitPoints() {
  auto& dataSetPart = DataSet();
  std::vector<double> steps;
  int lastScan = 0, lastPoint = 0;
  double largest = 0.0;
  ForEachFitPoint([&](int s, int i) {
    largest = std::max(largest, std::fabs(static_cast<double>(dataSetPart.ppSignal[Idx(s)][i])));
    if (s == lastScan && i == lastPoint + 1)
      steps.push_back(std::fabs(static_cast<double>(dataSetPart.ppSignal[Idx(s)][i]) - dataSetPart.ppSignal[Idx(s)][i - 1]));
    lastScan = s;
    lastPoint = i;
  });
  if (steps.empty()) return 0.0;
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  return std::max(*middle / (0.6745 * std::sqrt(2.0)), kLeastNoiseShare * largest);
}

ModelResult ComputeOnAccurateNonidealGrid(const std::function<ModelResult()>& compute) {
  auto& fitStatePart = FitState();
  auto& simulationMessagesPart = SimulationMessages();
  auto& localPart = Local();
  auto& nonidealGridPart = NonidealGrid();
  // A fit's objective counts its evaluation before it computes: its first is number 1.
  const bool due = !simulationMessagesPart.bFitRunning || fitStatePart.nFitSim <= 1;
  if (!due) return compute();
  const double noise = NeighbourNoiseAtFitPoints();
  nonidealGridPart.nNonidealGridFactor = 1;
  localPart.gGridCheck.baseNodes = 0;
  ModelResult result = compute();
  if (!result.ok() || !(noise > 0.0)) return result;
  std::vector<double> coarse = ModelAtFitPoints();
  for (;;) {
    const int factor = nonidealGridPart.nNonidealGridFactor;
    // The finest grid is reached (or no solution laid one): it stays.
    if (localPart.gGridCheck.baseNodes < 1 || NodesAt(localPart.gGridCheck.baseNodes, 2 * factor) == NodesAt(localPart.gGridCheck.baseNodes, factor)) return result;
    nonidealGridPart.nNonidealGridFactor = 2 * factor;
    ModelResult finer = compute();
    // A finer grid that cannot be had or computed leaves the one before.
    if (!finer.ok()) {
      nonidealGridPart.nNonidealGridFactor = factor;
      return finer.status == ModelStatus::Interrupted ? finer : compute();
    }
    std::vector<double> values = ModelAtFitPoints();
    const double change = RmsDifference(coarse, values);
    // The same values: the coarser grid was solved again on the finer one when it
    // lost its balance. That says nothing of the finer grid's accuracy.
    if (change > 0.0 && change <= kNonidealGridChangeShare * noise) {
      nonidealGridPart.nNonidealGridFactor = factor;
      return compute();
    }
    coarse = std::move(values);
    result = finer;
  }
}

}  // namespace tarmic
