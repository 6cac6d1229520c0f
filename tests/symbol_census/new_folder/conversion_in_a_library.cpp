// A conversion in a static library of a folder that no list names.
#include <cstdlib>
#include <string>

long PlantInALibrary(const std::string& s) { return std::strtol(s.c_str(), nullptr, 10); }
