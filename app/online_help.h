// The program's help page: one HTML file shipped beside the executable, opened
// with the desktop's web browser, or in the program's own help window when no
// browser starts. Every menu command has an element with the id
// "cmd-<identifier>" on it, where help mode opens the page.
#pragma once

#include <string>

namespace tarmic {

// The help page: <program directory>help/tarmic-help.html.
std::string HelpPagePath();
// The id of a command's element on the help page, "cmd-213" for command 213.
std::string HelpPageAnchor(int command);

}  // namespace tarmic
