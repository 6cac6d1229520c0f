// The status lines of the simplex searches of the boundary analyses.
#pragma once

#include <string>

namespace tarmic {

class Window;

// One step of a boundary-analysis simplex: increments nFitStep and writes
// "s<iteration>, step #<step>" at (10, 30) and "rmsd=... (n=...,SSR=...)" at
// (10, 50) of the window (nothing without a window or in batch mode). Returns the
// two lines (tests).
std::string ShowSimplexStep(Window* window);

}  // namespace tarmic
