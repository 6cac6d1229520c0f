// The dialog that asks for the acceptance of the warranty disclaimer at the first
// start of the program ("About", dialog 302): "agree" (IDOK) or "don't agree"
// (IDNO). Closing the dialog gives IDCANCEL: at the first start that counts as
// "don't agree"; from Help > About it answers nothing.
#pragma once

#include "platform/resource_types.h"

namespace tarmic {

inline constexpr int kDisclaimerDialogId = 302;
inline constexpr int kDisclaimerAgree = 1;      // IDOK
inline constexpr int kDisclaimerDisagree = 7;   // IDNO: apart from IDCANCEL, which closing gives

const DialogTemplate& DisclaimerDialog();

}  // namespace tarmic
