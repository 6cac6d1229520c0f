// The start-up connections between the shell and the libraries above it.
#include <gtest/gtest.h>

#include "app/preferences.h"
#include "commands/program_services.h"
#include "lamm/lamm_globals.h"

namespace tarmic {
namespace {

TEST(ProgramServices, LammThreadPreferenceIsTheSolversThreadCount) {
  const int saved = nLammThreads;
  InstallProgramServices();
  LammThreadCount() = 3;
  EXPECT_EQ(nLammThreads, 3);
  nLammThreads = 5;
  EXPECT_EQ(LammThreadCount(), 5);
  BindLammThreadCount(nullptr);
  nLammThreads = saved;
}

}  // namespace
}  // namespace tarmic
