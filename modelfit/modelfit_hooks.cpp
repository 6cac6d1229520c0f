#include "modelfit/modelfit_hooks.h"

namespace tarmic {

namespace {
ModelFitHooks& Hooks() {
  static ModelFitHooks hooks;
  return hooks;
}
}  // namespace

ModelFitHooks& GetModelFitHooks() { return Hooks(); }

void ResetModelFitHooks() { Hooks() = ModelFitHooks(); }

}  // namespace tarmic
