// Translation of Qt keyboard and mouse input into the program's key codes and
// modifier words (platform/types.h).
#pragma once

#include <Qt>

class QKeyEvent;

namespace tarmic {

// The virtual-key code of a Qt key: letters as upper-case ASCII, digits as ASCII,
// named keys (arrows, F1..F24, Return, Escape, Tab, ...) as their VK_ codes,
// punctuation as the codes of a US keyboard. 0 for a key without a code.
int VirtualKeyFromQt(int qtKey);

// MK_SHIFT | MK_CONTROL | MK_ALT of a key event.
unsigned KeyModifierWord(Qt::KeyboardModifiers mods);

// The modifier word of a mouse message: the bits of the buttons that are down after
// the event (so a button-up message lacks its own button) and of the
// shift and control keys.
unsigned MouseModifierWord(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods);

// The character code a key press gives (Tab 9, Enter 13, Esc 27, Backspace 8,
// Ctrl+letter 1..26, printable Latin-1 characters), or -1 when it gives none: keys
// without text, presses with Alt (which gave no plain character before either) and
// characters outside Latin-1.
int CharFromKeyEvent(const QKeyEvent& event);

}  // namespace tarmic
