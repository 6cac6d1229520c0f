#include "scandata/data_set_hooks.h"

namespace tarmic {

namespace {
DataSetHooks g_hooks;
}

DataSetHooks& GetDataSetHooks() { return g_hooks; }

void ResetDataSetHooks() { g_hooks = DataSetHooks(); }

void RunAfterReload(Window* window) {
  // The menu commands install the Run command here; until then a reload only
  // loads.
  if (g_hooks.runAfterReload) g_hooks.runAfterReload(window);
}

}  // namespace tarmic
