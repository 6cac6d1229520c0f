// The distribution engine as a whole: the reset of every value it keeps.
#pragma once

namespace tarmic {

// Releases the grid, the kernels and the workspace and restores every setting and
// result of the distribution engine to its default (the hooks stay installed).
void ResetDistributionEngine();

}  // namespace tarmic
