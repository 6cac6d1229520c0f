// Calls that change files past the storage layer, one per CASE, each in an object
// of its own: the storage census must name every one of them.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if CASE == 6 || CASE == 11 || CASE == 12
#include <QFile>
#endif
#if CASE == 15
#include <QSaveFile>
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
#elif CASE == 7
  std::FILE* f = std::fopen(path, "w");
  return f ? std::fclose(f) : -1;
#elif CASE == 8
  std::ofstream out(path);
  out << "x";
  return out ? 1 : 0;
#elif CASE == 9
  return std::freopen(path, "w", stdout) ? 1 : 0;
#elif CASE == 10
  char name[] = "/tmp/plantXXXXXX";
  return ::mkstemp(name) + (path != nullptr);
#elif CASE == 11
  QFile file(QString::fromUtf8(path));
  return file.open(QIODevice::WriteOnly) ? 1 : 0;
#elif CASE == 12
  return QFile::copy(QString::fromUtf8(path), QStringLiteral("elsewhere")) ? 1 : 0;
#elif CASE == 13
  return std::system((std::string("rm ") + path).c_str());
#elif CASE == 14
  return static_cast<int>(::syscall(SYS_unlinkat, AT_FDCWD, path, 0));
#elif CASE == 15
  QSaveFile file(QString::fromUtf8(path));
  return file.open(QIODevice::WriteOnly) ? 1 : 0;
#else
  return path != nullptr;
#endif
}
