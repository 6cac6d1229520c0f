// Image files: a pixel buffer saved as binary PPM.
#pragma once

#include <string>

namespace tarmic {

class Image;

// Writes the image as a P6 file; the file is replaced only when written completely.
// False (target untouched; *error, when given, "<path>: <reason>") otherwise.
bool SaveImagePPM(const Image& image, const std::string& path, std::string* error = nullptr);

}  // namespace tarmic
