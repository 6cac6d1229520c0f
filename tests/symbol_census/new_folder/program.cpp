// A program that links the library beside it: the census follows the link there.
#include <string>

long PlantInALibrary(const std::string& s);

int main(int argc, char** argv) { return argc > 1 ? static_cast<int>(PlantInALibrary(argv[1])) : 0; }
