// Modal boxes and dialogs in Qt: message boxes, one-line text input, open and save
// file dialogs, and dialogs built from dialog templates with a transfer buffer.
#pragma once

#include <QSize>
#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"

class QDialog;
class QWidget;

namespace tarmic {

// The result of a message box (IDOK, IDYES, IDNO or IDCANCEL) for the style's
// buttons (MB_OK, MB_OKCANCEL, MB_YESNO, MB_YESNOCANCEL) and icon.
int ShowMessageBox(QWidget* owner, std::string_view text, std::string_view caption, unsigned style);

std::optional<std::string> AskText(QWidget* owner, std::string_view caption,
                                   std::string_view prompt, std::string_view initial);

// A filter "description|*.a;*.b|description|*.c" as Qt writes it:
// "description (*.a *.b);;description (*.c)". "*.*" matches every file.
QString ToQtFilter(std::string_view filter);

std::vector<std::string> AskOpenFiles(QWidget* owner, const FileDialogOptions& options);
std::optional<std::string> AskSaveFile(QWidget* owner, const FileDialogOptions& options);
// An existing folder, chosen in a file dialog that shows folders only.
std::optional<std::string> AskFolder(QWidget* owner, const FileDialogOptions& options);

// Runs a dialog built from the template: the controls are filled from buffer, and
// buffer is written back only when the dialog ends with the push button IDOK. Its
// dialog units follow from the dialog's font (LayOutDialog).
int RunTemplateDialog(QWidget* owner, const DialogTemplate& dialog, TransferBuffer& buffer);
// The room a dialog may take: the available part of the owner's screen (logical
// pixels), or the room a test set.
QSize DialogRoom(QWidget* owner);
void SetDialogRoomForTesting(std::optional<QSize> room);

}  // namespace tarmic
