// The outside plot programs beside the program: compiled plot programs in the
// "bin" folder of the program directory, one per plot command (878-883). Their
// menu items are removed at start-up when the program file is missing.
#pragma once

#include <string>

namespace tarmic {

class TXLAWindow;

// The program file of a plot command (program directory + "bin/" + its name), or
// an empty string for another command.
std::string OutsidePlotProgram(int commandId);

// Deletes the menu items 878-883 whose program files cannot be opened.
void RemoveUnavailablePlotMenus(TXLAWindow& window);

}  // namespace tarmic
