#include "platform/qt/qt_input.h"

#include <QKeyEvent>
#include <QString>

#include "platform/types.h"

namespace tarmic {

int VirtualKeyFromQt(int qtKey) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return VK_F1 + (qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return VK_MENU;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Asterisk: return 0x6A;  // VK_MULTIPLY
    case Qt::Key_Plus: return 0xBB;      // VK_OEM_PLUS
    case Qt::Key_Equal: return 0xBB;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Minus: return 0xBD;
    case Qt::Key_Period: return 0xBE;
    case Qt::Key_Semicolon: return 0xBA;
    case Qt::Key_Slash: return 0xBF;
    case Qt::Key_QuoteLeft: return 0xC0;
    case Qt::Key_BracketLeft: return 0xDB;
    case Qt::Key_Backslash: return 0xDC;
    case Qt::Key_BracketRight: return 0xDD;
    case Qt::Key_Apostrophe: return 0xDE;
    default: return 0;
  }
}

unsigned KeyModifierWord(Qt::KeyboardModifiers mods) {
  unsigned word = 0;
  if (mods & Qt::ShiftModifier) word |= MK_SHIFT;
  if (mods & Qt::ControlModifier) word |= MK_CONTROL;
  if (mods & Qt::AltModifier) word |= MK_ALT;
  return word;
}

unsigned MouseModifierWord(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
  unsigned word = 0;
  if (buttons & Qt::LeftButton) word |= MK_LBUTTON;
  if (buttons & Qt::RightButton) word |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) word |= MK_MBUTTON;
  if (mods & Qt::ShiftModifier) word |= MK_SHIFT;
  if (mods & Qt::ControlModifier) word |= MK_CONTROL;
  return word;
}

int CharFromKeyEvent(const QKeyEvent& event) {
  if (event.modifiers() & Qt::AltModifier) return -1;
  switch (event.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Backspace: return 8;
    default: break;
  }
  int key = event.key();
  if ((event.modifiers() & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z) {
    return key - Qt::Key_A + 1;
  }
  QString text = event.text();
  if (text.isEmpty()) return -1;
  char16_t c = text.at(0).unicode();
  if (c > 0xFF) return -1;
  return static_cast<int>(c);
}

}  // namespace tarmic
