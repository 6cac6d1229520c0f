// The outside plot programs beside the program: compiled plot programs in the
// "bin" folder of the program directory, one per plot command (878-883). Their
// menu items stay when a program is missing: chosen, each names the program and
// where it looked.
#pragma once

#include <string>

namespace tarmic {

// The program file of a plot command (program directory + "bin/" + its name), or
// an empty string for another command.
std::string OutsidePlotProgram(int commandId);

}  // namespace tarmic
