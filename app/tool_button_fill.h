// The fill of a pressed tool button, shared by the on-plot tools and the scan-edit
// buttons they offer.
#pragma once

#include "platform/types.h"

namespace tarmic {

// Fill of a pressed tool button.
inline constexpr Color crToolButtonOnFill = RGB(255, 150, 150);

}  // namespace tarmic
