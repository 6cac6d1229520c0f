// The state of the processor's vector unit between stretches of the program's own
// arithmetic.
//
// Code outside the program (the toolkit's drawing and event handling, the C library)
// may use the wide vector registers and return with their upper halves in use. The
// program's arithmetic is compiled for the baseline instruction set (SSE2); on many
// processors every such instruction then waits for the upper halves it does not use,
// and latency-bound loops such as the tridiagonal solves of the Lamm equation run about
// twice as slowly until the next instruction that clears them. In the window this made
// a Fit take up to twice the CPU of the same Fit without a window, varying from run to
// run with whatever code had run last.
#pragma once

namespace tarmic {

// Clears the upper halves of the vector registers where the processor has them (one
// instruction, about a cycle); nothing elsewhere. The solvers call it once per time
// step and the distribution engine before each of its long loops, so that the
// arithmetic after a repaint, a key poll or a status line runs at full speed.
void CleanVectorState();

}  // namespace tarmic
