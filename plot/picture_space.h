// The picture space shared by every plot and button picture: 1399 x 1000 logical
// units, origin top left, y downwards. Plot rectangles keep their horizontal values
// multiplied by the horizontal display factor; panes play the pictures stretched
// onto their client rectangles.
#pragma once

#include "platform/types.h"

namespace tarmic {

// Horizontal picture units per unit of the 1000-wide layout and mouse coordinates.
inline constexpr float fHorzDisplayFactor = 1.4f;
// Vertical picture extent.
inline constexpr float fDisplayExtent = 1000.0f;

// The product of the two single-precision factors, formed without rounding to
// float: 1399.99997..., used where display units are converted to pixels.
inline constexpr double kUnroundedPictureWidth =
    static_cast<double>(fHorzDisplayFactor) * static_cast<double>(fDisplayExtent);
// The window extent of every recorded picture: the floors of the two extents.
inline constexpr int kPictureWidth = static_cast<int>(kUnroundedPictureWidth);  // 1399
inline constexpr int kPictureHeight = static_cast<int>(fDisplayExtent);         // 1000
inline constexpr Size kPictureExtent{kPictureWidth, kPictureHeight};

static_assert(kPictureWidth == 1399, "the picture space is 1399 units wide");

}  // namespace tarmic
