#include "commands/program_services.h"

#include "app/preferences.h"
#include "commands/response_table.h"
#include "lamm/lamm_globals.h"

namespace tarmic {

void InstallProgramServices() {
  InstallResponseTable();
  // The preference file's Lamm thread count is the solver's own.
  BindLammThreadCount(&nLammThreads);
}

}  // namespace tarmic
