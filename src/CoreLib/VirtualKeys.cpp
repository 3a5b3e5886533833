#include "VirtualKeys.h"

#include <QKeyEvent>

#include <array>
#include <utility>

namespace {

// Keys whose virtual code is not their character code.
constexpr std::array<std::pair<int, uint16_t>, 21> kNamedKeys{{
    {Qt::Key_Backspace, VK_BACK},  {Qt::Key_Tab, VK_TAB},       {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},   {Qt::Key_Enter, VK_RETURN},  {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Alt, VK_MENU},      {Qt::Key_Pause, VK_PAUSE},
    {Qt::Key_Escape, VK_ESCAPE},   {Qt::Key_Space, VK_SPACE},   {Qt::Key_PageUp, VK_PRIOR},
    {Qt::Key_PageDown, VK_NEXT},   {Qt::Key_End, VK_END},       {Qt::Key_Home, VK_HOME},
    {Qt::Key_Left, VK_LEFT},       {Qt::Key_Up, VK_UP},         {Qt::Key_Right, VK_RIGHT},
    {Qt::Key_Down, VK_DOWN},       {Qt::Key_Insert, VK_INSERT}, {Qt::Key_Delete, VK_DELETE},
}};

// The keys of the numeric pad that have codes of their own.
constexpr std::array<std::pair<int, uint16_t>, 5> kPadKeys{{
    {Qt::Key_Asterisk, VK_MULTIPLY},
    {Qt::Key_Plus, VK_ADD},
    {Qt::Key_Minus, VK_SUBTRACT},
    {Qt::Key_Period, VK_DECIMAL},
    {Qt::Key_Slash, VK_DIVIDE},
}};

}  // namespace

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState state = 0;
  if (modifiers & Qt::ShiftModifier) state |= ssShift;
  if (modifiers & Qt::AltModifier) state |= ssAlt;
  if (modifiers & Qt::ControlModifier) state |= ssCtrl;
  if (buttons & Qt::LeftButton) state |= ssLeft;
  if (buttons & Qt::RightButton) state |= ssRight;
  if (buttons & Qt::MiddleButton) state |= ssMiddle;
  return state;
}

uint16_t VirtualKeyOf(const QKeyEvent& event) {
  const int key = event.key();
  if (event.modifiers() & Qt::KeypadModifier) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return VK_NUMPAD0 + (key - Qt::Key_0);
    for (const auto& [qtKey, vk] : kPadKeys)
      if (qtKey == key) return vk;
  }
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
    return static_cast<uint16_t>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + (key - Qt::Key_F1);
  if (key == Qt::Key_Menu) return VK_APPS;
  for (const auto& [qtKey, vk] : kNamedKeys)
    if (qtKey == key) return vk;
  return 0;
}

QKeySequence ShortCutToKeySequence(uint16_t shortCut) {
  const uint16_t vk = shortCut & 0xFF;
  int key = 0;
  Qt::KeyboardModifiers modifiers;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
    key = vk;
  } else if (vk >= VK_F1 && vk < VK_F1 + 24) {
    key = Qt::Key_F1 + (vk - VK_F1);
  } else if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) {
    key = Qt::Key_0 + (vk - VK_NUMPAD0);
    modifiers |= Qt::KeypadModifier;
  } else {
    for (const auto& [qtKey, code] : kPadKeys)
      if (code == vk) {
        key = qtKey;
        modifiers |= Qt::KeypadModifier;
      }
    for (const auto& [qtKey, code] : kNamedKeys)
      if (code == vk && key == 0) key = qtKey;
  }
  if (key == 0) return {};
  if (shortCut & scShift) modifiers |= Qt::ShiftModifier;
  if (shortCut & scCtrl) modifiers |= Qt::ControlModifier;
  if (shortCut & scAlt) modifiers |= Qt::AltModifier;
  return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)));
}
