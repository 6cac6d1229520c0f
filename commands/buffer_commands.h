// The commands of the buffer mismatch model: "Corrections for &Buffer
// Sedimentation" (552, Ctrl+B) and the subtraction of the buffer mismatch from the
// data (576, no menu item), members of TXLAWindow.
#pragma once

namespace tarmic {

// Connects the model with the main window at start-up: the meniscus difference is
// the reference-meniscus marker's, the marker is shown while the model is on with
// a meniscus mismatch, and the model parameters learn whether the buffer signal is
// fitted.
void InstallBufferMismatchHooks();

}  // namespace tarmic
