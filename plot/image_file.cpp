#include "plot/image_file.h"

#include "storage/atomic_file.h"
#include "platform/image.h"

namespace tarmic {

bool SaveImagePPM(const Image& image, const std::string& path, std::string* error) {
  return WriteFileAtomically(path, [&image](std::FILE* out) { return image.WritePPM(out); }, error);
}

}  // namespace tarmic
