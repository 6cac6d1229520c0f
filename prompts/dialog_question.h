// A dialog the engine asks the user to fill in (a template dialog over a transfer
// buffer, such as the Lamm equation parameters or the model parameters), handed
// up: the dialog goes to the presenter the front end installed, whose answer (the
// button that closed it) comes back with the buffer filled. The front end's
// presenter (RunDialogByBackend) opens the backend's dialog the engine opened
// itself before; without a window system nothing is shown and the answer is
// IDCANCEL, the buffer as it was.
#pragma once

#include <functional>

#include "platform/resource_types.h"
#include "services/presenter_slot.h"

namespace tarmic {

// IDOK (buffer updated), IDCANCEL (unchanged) or the id of another push button.
using DialogPresenter = std::function<int(const DialogTemplate&, TransferBuffer&)>;

// Installs the presenter (an empty one restores RunDialogByBackend); returns the
// one installed before.
DialogPresenter SetDialogPresenter(DialogPresenter presenter);

// The front end's presenter: the backend's dialog (IDCANCEL without a backend).
int RunDialogByBackend(const DialogTemplate& dialog, TransferBuffer& buffer);

// The one door of the engine's dialogs.
int RaiseDialog(const DialogTemplate& dialog, TransferBuffer& buffer);

using ScopedDialogPresenter = ScopedPresenter<DialogPresenter, SetDialogPresenter>;

}  // namespace tarmic
