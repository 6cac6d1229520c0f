#include "services/file_exists.h"

#include <fstream>

#include "platform/system.h"

namespace tarmic {

bool FileExists(const char* name) {
  if (!name || !*name) return false;
  // Only a regular file: opening a pipe would wait for a writer.
  if (!IsRegularFile(name)) return false;
  std::ifstream file(name, std::ios::in);
  return file.is_open() && !file.fail() && !file.bad();
}

}  // namespace tarmic
