// Fontconfig keeps its configuration for the life of the process and never frees
// it; Qt's font database loads it on the first text drawn. The leak checker of
// sanitizer builds is told that these blocks are not leaks of the program.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
