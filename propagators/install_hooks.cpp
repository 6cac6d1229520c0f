#include "propagators/install_hooks.h"

#include "modelfit/modelfit_hooks.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/solvent_settings.h"

namespace tarmic {

void InstallPropagatorHooks() {
  ModelFitHooks& h = GetModelFitHooks();
  h.simArraysAllocated = [] { return LammArrays().bSimArraysAllocated; };
  h.freeSimArrays = [] { FreeSimArrays(); };
  h.resizeSimArrays = [](int n) { return ResizeSimArrays(n); };
  h.inhomogeneousSolventOn = [] { return SolventSettings().gInhomSolvent.bInhomogeneousSolvent; };
  h.packReactingSystem = [] { PackReactingSystem(); };
}

}  // namespace tarmic
