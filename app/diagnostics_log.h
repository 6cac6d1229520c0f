// The diagnostics log of the main code: while "Diagnostics Output to Files" is on,
// the computing code appends its progress and check texts to one text file in the
// user's temporary directory. The file is emptied at its first use in a run and
// appended to afterwards; its first text is a header line. The writer is
// TXLAWindow::WriteDebugLog (the log belongs to the main window).
#pragma once

#include <string>

namespace tarmic {

// The log is written only while this is set (toggled by its menu command).
extern bool bDiagnosticsToFiles;

// The directory of the log files, with a trailing '/'; empty stands for the
// user's temporary directory.
extern std::string szDiagnosticsDirectory;

// The log file of the main code's thread threadNumber (0): "Darizozovaz_o0.edo"
// in the log directory.
std::string DebugLogFileName(int threadNumber);
// "\nstarting new tarmic debugging session for thread #<n>".
std::string DebugLogHeader(int threadNumber);

void ResetDiagnosticsLog();

}  // namespace tarmic
