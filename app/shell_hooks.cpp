#include "app/shell_hooks.h"

namespace tarmic {

namespace {
ShellHooks g_hooks;
}

ShellHooks& GetShellHooks() { return g_hooks; }

void ResetShellHooks() { g_hooks = ShellHooks(); }

void ReadInstalledLammPreferences(TXLAWindow* window) {
  if (g_hooks.readLammEqParameterPreferences) g_hooks.readLammEqParameterPreferences(window);
}

}  // namespace tarmic
