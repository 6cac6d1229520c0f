// The three preference files: the first byte picks "tarmicparams.ini",
// "tarmiclammparams.ini" or "tarmic.ini"; the rest is written where the program
// reads it and read back.
#include "app/preferences.h"
#include "fuzz_support.h"
#include "modelfit/lamm_settings.h"
#include "services/path_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const std::string* target[] = {&szParamsIni, &szLammParamsIni, &szLastDirIni};
  const int which = data[0] % 3;
  {
    std::ofstream out(*target[which], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  switch (which) {
    case 0:
      fuzz::ReportOutcome(LoadPreferences(nullptr) == 1);
      ResetPreferences();
      break;
    case 1:
      fuzz::ReportOutcome(ReadLammEqParameterPreferences(static_cast<Window*>(nullptr)) == 1);
      break;
    default: {
      std::string directory;
      ReadLastDataDirectory(nullptr, directory);
      ReadFullCommandSetChoice();
      fuzz::ReportOutcome(!directory.empty());
      break;
    }
  }
  return 0;
}
