// The commands that are not built yet and the message that names them.
#include "commands/unavailable_commands.h"

#include <algorithm>
#include <iterator>

#include "app/xla_window.h"
#include "platform/backend.h"
#include "resources/menus.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

// Every command whose subsystem is not built yet. Remove an identifier here when
// its handler enters the response table.
constexpr int kUnavailable[] = {
    kCmNoMenuItem197,
    kCmEditDataFiles,
    kCmNoMenuItem216,
    kCmSetVRho,
    kCmNoMenuItem225,
    kCmNoMenuItem228,
    kCmNoMenuItem229,
    kCmNoMenuItem249,
    kCmFitTimeDependentSMEGInArchibaldAnalysis,
    kCmNoMenuItem278,
    kCmNoMenuItem282,
    kCmNoMenuItem284,
    kCmNoMenuItem290,
    kCmVanHoldeWeischetTransform,
    kCmExtrapolateAreaFractionsOfLsGSVs1SqrtTime,
    kCmProteinSolutions99Version52005,
    kCmNoMenuItem520,
    kCmNoMenuItem523,
    kCmBIC9kdlsw32ExeVer319,
    kCmNoMenuItem528,
    kCmALV,
    kCmProteinSolutions99Version52638,
    kCmOldDOSBIC,
    kCmCalculateWeightAverageSByDifferentialSecondMomentIntegration,
    kCmPhotoCor,
    kCmProteinSolutions99Version6205,
    kCmProteinSolutionsVersion4,
    kCmSubtractConstantValueFromScan,
    kCmFlagTooStrongGradients,
    kCmMinimumTimeToEquilibrium,
    kCmEstimateEquilibriumRotorSpeeds,
    kCmNoMenuItem877,
    kCmExtractSValueFromBESTBEMINEOutput,
    kCmCalculateRatioDiffusionalSpreadDifferentialSedimentation,
    kCmCalculateVbarDndcAndExtinction280FromProteinSequence,
    kCmZOZAV,
    kCmDynamics7,
    kCmChooseExternalPlot,
    kCmCopyLnCData,
    kCmCopyMData,
    kCmCopyMavgData,
    kCmSerializeFitWithGUSSIMonitoring,
};

// Commands without a menu item that share their handler with a menu item.
struct SharedHandler {
  int id;
  int sameAs;
};
constexpr SharedHandler kSharedHandlers[] = {
    {kCmSignalMagnificationGradientAlt, kCmSignalMagnificationGradient}, {kCmNonlinearDetectionAlt, kCmNonlinearDetection}, {kCmSignalMagnificationDriftAlt, kCmSignalMagnificationDrift}, {kCmSignalRadialConvolutionAlt, kCmSignalRadialConvolution}, {kCmExcitationShadowAlt, kCmExcitationShadow},
};

// Names of commands without a menu item that the program's texts give them.
struct CommandName {
  int id;
  const char* name;
};
constexpr CommandName kCommandNames[] = {
    {kCmSMContour, "s and M Contour"},       {kCmS1S2Contour, "s1,s2 Contour"},
    {kCmKContour, "K Contour"},             {kCmErrorInS, "calculate error in s"},
    {kCmErrorInM, "calculate error in M"},  {kCmMouseSliding, "Mouse Sliding"},
    {kCmFloTools, "FloTools"},             {kCmChooseExternalPlot, "Choose External Plot"},
};

// A menu text as the user reads it: without the '&' marks of the mnemonics ("&&"
// stands for one '&', and an '&' before a blank is an ampersand of the text).
std::string WithoutMnemonics(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      } else if (i + 1 == text.size() || text[i + 1] == ' ') {
        out += '&';
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::span<const int> UnavailableCommands() { return kUnavailable; }

bool IsUnavailableCommand(int id) {
  return std::binary_search(std::begin(kUnavailable), std::end(kUnavailable), id);
}

std::string CommandDisplayName(int id) {
  for (const SharedHandler& s : kSharedHandlers) {
    if (s.id == id) id = s.sameAs;
  }
  for (std::string_view menu : {kMenuFull, kMenuVirez}) {
    if (const MenuItem* item = FindMenuItem(GetMenuResource(menu), id)) {
      return WithoutMnemonics(item->text);
    }
  }
  for (const CommandName& n : kCommandNames) {
    if (n.id == id) return n.name;
  }
  return "command " + std::to_string(id);
}

std::string NotAvailableText(int id) {
  return CommandDisplayName(id) + " is not available in this version";
}

void TXLAWindow::CmNotAvailable() {
  bModalBoxOpen = true;
  GetBackend().MessageBox(NotAvailableText(nDispatchedCommand), "ATTENTION",
                          MB_OK | MB_ICONINFORMATION);
  bModalBoxOpen = false;
}

}  // namespace tarmic
