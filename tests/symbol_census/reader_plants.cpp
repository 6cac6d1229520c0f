// Readers of files that pass the one reader by, one per case (-DCASE=n), each in
// an object of its own: the census of readers must name each.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <string>

#if CASE == 8
#include <QFile>
#endif

std::string Plant(const char* path) {
  std::string text;
#if CASE == 1
  std::ifstream in(path);
  std::getline(in, text);
#elif CASE == 2
  std::ifstream in;
  in.open(path);
  std::getline(in, text);
#elif CASE == 3
  if (FILE* f = fopen(path, "r")) {
    char b[16];
    text.assign(b, fread(b, 1, sizeof b, f));
    fclose(f);
  }
#elif CASE == 4
  const int fd = open(path, O_RDONLY);
  char b[16];
  if (fd >= 0) text.assign(b, static_cast<std::size_t>(read(fd, b, sizeof b)));
#elif CASE == 5
  std::filebuf buffer;
  buffer.open(path, std::ios::in);
  text.push_back(static_cast<char>(buffer.sgetc()));
#elif CASE == 6
  std::fstream in(path, std::ios::in);
  std::getline(in, text);
#elif CASE == 7
  const int fd = openat(AT_FDCWD, path, O_RDONLY);
  if (FILE* f = fdopen(fd, "r")) fclose(f);
#elif CASE == 8
  QFile file(QString::fromUtf8(path));
  if (file.open(QIODevice::ReadOnly)) text = file.readAll().toStdString();
#endif
  return text;
}
