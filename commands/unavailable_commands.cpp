// The commands that are not built yet and the message that names them.
#include "commands/unavailable_commands.h"

#include <algorithm>
#include <iterator>

#include "app/xla_window.h"
#include "platform/backend.h"
#include "resources/menus.h"

namespace tarmic {

namespace {

// Every command whose subsystem is not built yet. Remove an identifier here when
// its handler enters the response table.
constexpr int kUnavailable[] = {
    197, 201, 216, 218, 225, 228, 229, 249, 266, 278, 282, 284,
    290, 292, 293, 299, 520, 523, 527, 528, 534, 543, 544, 545,
    583, 584, 601, 634, 868, 874, 875, 877, 885, 889, 895, 896,
    897, 901, 918, 919, 920, 923,
};

// Commands without a menu item that share their handler with a menu item.
struct SharedHandler {
  int id;
  int sameAs;
};
constexpr SharedHandler kSharedHandlers[] = {
    {905, 907}, {906, 908}, {909, 910}, {911, 912}, {913, 914},
};

// Names of commands without a menu item that the program's texts give them.
struct CommandName {
  int id;
  const char* name;
};
constexpr CommandName kCommandNames[] = {
    {241, "s and M Contour"},       {244, "s1,s2 Contour"},
    {245, "K Contour"},             {285, "calculate error in s"},
    {286, "calculate error in M"},  {837, "Mouse Sliding"},
    {915, "FloTools"},             {901, "Choose External Plot"},
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
  if (bHelpMode) {
    OfferOnlineHelp();
    bHelpMode = false;
    return;
  }
  bModalBoxOpen = true;
  GetBackend().MessageBox(NotAvailableText(nDispatchedCommand), "ATTENTION",
                          MB_OK | MB_ICONINFORMATION);
  bModalBoxOpen = false;
}

}  // namespace tarmic
