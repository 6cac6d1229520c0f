#include "modelcalc/parameter_report.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "storage/atomic_file.h"
#include "modelcalc/fit_result_text.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "services/engine_notice.h"
#include "services/replace_question.h"

namespace tarmic {

namespace {

// The box of the report: the overwrite refused. It is raised for the command to show.
void NoteBox(const std::string& text, const char* caption, unsigned style) { RaiseNote(text, caption, style); }

bool IsScanExtension(const std::string& ext) {
  auto& dataSetPart = DataSet();
  std::string e;
  for (char ch : ext) e += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (e == ".r00" || e == ".~p") return true;
  if (dataSetPart.nScans > 0 && dataSetPart.ppScanFileNames.size() > 1) {
    std::string first;
    for (char ch : ExtensionOf(dataSetPart.ppScanFileNames[1]))
      first += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (e == first) return true;
  }
  // .ip1-.ip8, .ra1-.ra8, .fi1-.fi8, .wl1-.wl8 and the like: two letters and a digit.
  return e.size() == 4 && std::isalpha(static_cast<unsigned char>(e[1])) &&
         std::isalpha(static_cast<unsigned char>(e[2])) &&
         std::isdigit(static_cast<unsigned char>(e[3]));
}

}  // namespace

std::string ParameterReportText(bool clipboardForm) {
  auto& modelFlagsPart = ModelFlags();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  UnpackModelParams();
  std::string t;
  // A continuous distribution keeps grid settings in the species slots: its lines
  // are those of the fit-result text (regularisation and the fitted model values).
  const std::vector<std::string> continuous = ContinuousModelLines();
  if (!continuous.empty()) {
    t += "\n";
    for (const std::string& line : continuous) t += "\n" + line;
  }
  for (int k = 1; k <= nSpeciesSlots && continuous.empty(); ++k) {
    if (!analysisSwitchesPart.pSpeciesLinked[k]) continue;
    t += Format("\n\ncomponent %d included:\n", k);
    if (modelFlagsPart.bFitMAndS) {
      t += Format("M\t=\t%f g/Mol", static_cast<double>(modelParamsPart.pSpeciesMassOrD[k]));
    } else {
      t += Format("D\t=\t%.3f *10^-7 cm^2/sec", static_cast<double>(modelParamsPart.pSpeciesMassOrD[k]));
    }
    t += modelParamsPart.pSpeciesMassOrDFit[k] ? "\t(floated)\n" : "\t(fixed)\n";
    t += Format("s\t=\t%.3f S", static_cast<double>(modelParamsPart.pSpeciesS[k]));
    if (clipboardForm) {
      t += modelParamsPart.pSpeciesSFit[k] ? "\t\t\t(floated)" : "\t\t\t(fixed)";
    } else {
      t += modelParamsPart.pSpeciesSFit[k] ? "\t\t\t(floated)\n" : "\t\t\t(fixed)\n";
    }
  }
  if (continuous.empty()) {
    t += "\n\nconcentrations = ";
    for (int k = 1; k <= nSpeciesSlots; ++k)
      if (analysisSwitchesPart.pSpeciesLinked[k]) t += Format("%.3f | ", static_cast<double>(analysisSwitchesPart.pParams[8 + k]));
    t += "(first is total, next are fractions)";
  }
  t += Format("\n\nmeniscus at \t%1.4f cm", static_cast<double>(dataSetPart.fMeniscus));
  t += modelParamsPart.bVaryMeniscus ? "\t\t(floated)\n" : "\t\t(fixed)\n";
  t += Format("bottom at \t%1.4f cm", static_cast<double>(dataSetPart.fBottom));
  t += modelParamsPart.bVaryBottom ? "\t\t(floated)\n" : "\t\t(fixed)\n\n";
  t += Format("baseline at \t%1.5f OD", static_cast<double>(modelParamsPart.fBaseline));
  if (analysisSwitchesPart.bBaselineOption || modelParamsPart.bVaryBaseline) {
    t += "\t\t(floated)\n";
  } else {
    t += clipboardForm ? "\t\t(fitxed)\n" : "\t\t(fixed)\n";
  }
  if (analysisSwitchesPart.bFitTINoise)
    t += clipboardForm ? "\t\ttime independent baseline fitted\n" : "\t\t(time independently fitted)";
  t += Format("\nfitted from %1.4f to %1.4f cm\n", static_cast<double>(dataSetPart.fFitLeftLim),
              static_cast<double>(dataSetPart.fFitRightLim));
  t += analysisSwitchesPart.bInitialDataProfile ? "with experimental initial distribution"
                                        : "with constant initial distribution";
  t += Format("\nsimulation start time %f sec", static_cast<double>(modelOptionsPart.fTimeOffset));
  t += modelOptionsPart.bTimeOffset ? "\t\t(floated)\n" : "\t\t(fixed)\n";
  t += "\n" + RmsdLine() + "\n";
  return t;
}

std::string ParameterReportPath(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  if (!ext.empty() && !IsScanExtension(ext)) return path;
  return path.substr(0, path.size() - ext.size()) + ".txt";
}

SaveResult WriteParameterReport(Window* window, const std::string& path) {
  const std::string target = ParameterReportPath(path);
  SaveResult result;
  if (!MayReplaceFiles({target})) {
    NoteBox("parameters not saved", "ERROR", MB_OK);
    result.ok = false;
    return result;
  }
  if (window) window->SetCursor(CursorShape::Wait);
  const std::string text = ParameterReportText(false);
  AtomicFile out(target);
  std::FILE* f = out.File();
  if (!f) {
    result.ok = false;
    result.message = WithReason(Format("could not open %s", target.c_str()), out.Error());
  } else {
    result.ok = std::fputs(text.c_str(), f) >= 0 && out.Commit();
    // A report that could be opened but not written whole is said too: the old
    // file, if any, is left as it was.
    if (!result.ok) {
      out.Discard();
      result.message = WithReason("could not write " + target, out.Error());
    }
  }
  if (window) window->SetCursor(CursorShape::Arrow);
  return result;
}

void CopyParameterReport(Window*) {
  const std::string text = ParameterReportText(true);
  if (HasBackend()) GetBackend().SetClipboardText(text);
}

}  // namespace tarmic
