#include "prompts/dialog_question.h"

#include <utility>

#include "platform/backend.h"

namespace tarmic {

namespace {

PresenterSlot<DialogPresenter>& Installed() {
  static PresenterSlot<DialogPresenter> slot;
  return slot;
}

}  // namespace

DialogPresenter SetDialogPresenter(DialogPresenter presenter) { return Installed().Set(std::move(presenter)); }

int RunDialogByBackend(const DialogTemplate& dialog, TransferBuffer& buffer) {
  return HasBackend() ? GetBackend().RunDialog(dialog, buffer) : IDCANCEL;
}

int RaiseDialog(const DialogTemplate& dialog, TransferBuffer& buffer) {
  const DialogPresenter presenter = Installed().Get();
  return presenter ? presenter(dialog, buffer) : RunDialogByBackend(dialog, buffer);
}

}  // namespace tarmic
