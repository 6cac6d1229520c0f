// The start-up connections between the shell and the libraries above it.
#include <gtest/gtest.h>

#include "app/preferences.h"
#include "commands/program_services.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/modelfit_hooks.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"

namespace tarmic {
namespace {

// The Lamm dialog frees and resizes the propagators' arrays through the hooks that
// start-up installs.
TEST(ProgramServices, LammDialogReachesTheSimulationArrays) {
  InstallProgramServices();
  const ModelFitHooks& h = GetModelFitHooks();
  ASSERT_TRUE(h.simArraysAllocated && h.freeSimArrays && h.resizeSimArrays);
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  LammSettings().nLammGridPoints = 300;
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_TRUE(h.simArraysAllocated());
  EXPECT_TRUE(h.resizeSimArrays(120));
  EXPECT_EQ(LammArrays().nSimGridPointsAllocated, 120);
  h.freeSimArrays();
  EXPECT_FALSE(h.simArraysAllocated());
  ResetSimArrays();
  ResetLammSettings();
}

}  // namespace
}  // namespace tarmic
