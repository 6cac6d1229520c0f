// Calls that change files past the storage layer, one per CASE, each in an object
// of its own: the storage census must name every one of them.
#include <cstdio>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

#if CASE == 6
#include <QFile>
#endif

int PlantedChange(const char* path) {
#if CASE == 1
  return std::filesystem::remove(path) ? 1 : 0;
#elif CASE == 2
  return ::unlink(path);
#elif CASE == 3
  return std::rename(path, "elsewhere");
#elif CASE == 4
  std::filesystem::rename(path, "elsewhere");
  return 0;
#elif CASE == 5
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
#elif CASE == 6
  return QFile::remove(QString::fromUtf8(path)) ? 1 : 0;
#else
  return path != nullptr;
#endif
}
