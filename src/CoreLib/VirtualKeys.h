#pragma once

#include <QKeySequence>

#include <cstdint>

class QKeyEvent;

// Keys reach the editors as the platform's virtual-key codes, so that a tool compares a key with
// one number whatever the keyboard layout and the toolkit say about it.
inline constexpr uint16_t VK_BACK = 8;
inline constexpr uint16_t VK_TAB = 9;
inline constexpr uint16_t VK_RETURN = 13;
inline constexpr uint16_t VK_SHIFT = 16;
inline constexpr uint16_t VK_CONTROL = 17;
inline constexpr uint16_t VK_MENU = 18;  // Alt
inline constexpr uint16_t VK_PAUSE = 19;
inline constexpr uint16_t VK_ESCAPE = 27;
inline constexpr uint16_t VK_SPACE = 32;
inline constexpr uint16_t VK_PRIOR = 33;  // Page Up
inline constexpr uint16_t VK_NEXT = 34;   // Page Down
inline constexpr uint16_t VK_END = 35;
inline constexpr uint16_t VK_HOME = 36;
inline constexpr uint16_t VK_LEFT = 37;
inline constexpr uint16_t VK_UP = 38;
inline constexpr uint16_t VK_RIGHT = 39;
inline constexpr uint16_t VK_DOWN = 40;
inline constexpr uint16_t VK_INSERT = 45;
inline constexpr uint16_t VK_DELETE = 46;
inline constexpr uint16_t VK_APPS = 93;  // the context-menu key
inline constexpr uint16_t VK_NUMPAD0 = 96;
inline constexpr uint16_t VK_MULTIPLY = 106;
inline constexpr uint16_t VK_ADD = 107;
inline constexpr uint16_t VK_SUBTRACT = 109;
inline constexpr uint16_t VK_DECIMAL = 110;
inline constexpr uint16_t VK_DIVIDE = 111;
inline constexpr uint16_t VK_F1 = 112;

// Modifier keys and mouse buttons held during an input event.
using TShiftState = uint8_t;
inline constexpr TShiftState ssShift = 1 << 0;
inline constexpr TShiftState ssAlt = 1 << 1;
inline constexpr TShiftState ssCtrl = 1 << 2;
inline constexpr TShiftState ssLeft = 1 << 3;
inline constexpr TShiftState ssRight = 1 << 4;
inline constexpr TShiftState ssMiddle = 1 << 5;
inline constexpr TShiftState ssDouble = 1 << 6;
inline constexpr TShiftState ssModifiers = ssShift | ssAlt | ssCtrl;

enum TMouseButton : uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});

// The virtual-key code of a key event; 0 for keys that have none.
uint16_t VirtualKeyOf(const QKeyEvent& event);

// Shortcuts are stored as the virtual key in the low byte and the modifiers above it.
inline constexpr uint16_t scShift = 0x2000;
inline constexpr uint16_t scCtrl = 0x4000;
inline constexpr uint16_t scAlt = 0x8000;

inline constexpr uint16_t ShortCut(uint16_t key, TShiftState shift) {
  return static_cast<uint16_t>((key & 0xFF) | (shift & ssShift ? scShift : 0) |
                               (shift & ssCtrl ? scCtrl : 0) | (shift & ssAlt ? scAlt : 0));
}

// The toolkit's key sequence of a stored shortcut; empty for 0 and for keys it cannot name.
QKeySequence ShortCutToKeySequence(uint16_t shortCut);
