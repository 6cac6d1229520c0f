// The diagnostics log of the main code.
#include "app/diagnostics_log.h"

#include <cstdio>
#include <cstring>

#include "app/xla_window.h"
#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/path_table.h"
#include "platform/system.h"

namespace tarmic {

bool bDiagnosticsToFiles = false;
std::string szDiagnosticsDirectory;

std::string DebugLogFileName(int threadNumber) {
  // Without a chosen directory: the program's temporary directory (the user's cache
  // directory) once the paths are set up, before that the user's temporary directory.
  std::string dir = !szDiagnosticsDirectory.empty() ? szDiagnosticsDirectory
                    : !szTempDir.empty()            ? szTempDir
                                                    : TempDirectory();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + "Darizozovaz_o" + std::to_string(threadNumber) + ".edo";
}

std::string DebugLogHeader(int threadNumber) {
  return "\nstarting new tarmic debugging session for thread #" + std::to_string(threadNumber);
}

void ResetDiagnosticsLog() {
  bDiagnosticsToFiles = false;
  szDiagnosticsDirectory.clear();
}

void TXLAWindow::WriteDebugLog(const char* text) {
  if (!bDiagnosticsToFiles) return;
  if (!pszDebugFileName) pszDebugFileName = DebugLogFileName(0);
  if (!pszDebugHeader) {
    // The first call of a run writes only the header, which starts the file.
    pszDebugHeader = DebugLogHeader(0);
    const std::string header = *pszDebugHeader;
    WriteDebugLog(header.c_str());
    return;
  }
  if (!text) return;
  // The file is emptied once per run, at its first successful opening.
  std::string why;
  if (!AppendToFile(*pszDebugFileName, text, !bDebugFileStarted, &why)) {
    ShowError(WithReason("\n\aAttention: could not open " + *pszDebugFileName + " to write debugging info", why),
              false);
    return;
  }
  bDebugFileStarted = true;
}

}  // namespace tarmic
