// The dialog that asks for the acceptance of the warranty disclaimer at the first
// start of the program ("About", dialog 302): "agree" (IDOK) or "don't agree"
// (IDCANCEL; closing the dialog counts as that too).
#pragma once

#include "platform/resource_types.h"

namespace tarmic {

inline constexpr int kDisclaimerDialogId = 302;
inline constexpr int kDisclaimerAgree = 1;      // IDOK
inline constexpr int kDisclaimerDisagree = 2;   // IDCANCEL

const DialogTemplate& DisclaimerDialog();

}  // namespace tarmic
