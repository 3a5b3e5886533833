#include "RasterMenus.h"

#include <QAction>
#include <QPointer>

TRasterMenu::TRasterMenu(std::vector<QAction*> actions) : FActions(std::move(actions)) {
  Mask = emWatcher;
}

void TRasterMenu::MouseDown(TMouseButton button, TShiftState, const TPoint&) {
  // The menu opens at the release: its items are made now, with the commands' states of now.
  if (button == mbRight) GetValidOwner()->ScheduleMenuRebuild(false);
}

void TRasterMenu::AddContextItems(TContextMenu& menu) {
  for (QAction* action : FActions) {
    if (!action) {
      AddContextItem(menu, QStringLiteral("-"), 0, nullptr, 0, 0, 0, true);
      continue;
    }
    // The action's own keys stay its own (an item with the same keys would make them ambiguous);
    // the item only shows them.
    QPointer<QAction> target(action);
    const QString keys = action->shortcut().toString(QKeySequence::NativeText);
    AddContextItem(
        menu, keys.isEmpty() ? action->text() : action->text() + u'\t' + keys, 0,
        [target](int32_t) {
          if (target && target->isEnabled()) target->trigger();
        },
        action->isEnabled() ? 0 : ciDisabled, 0, 0, true);
  }
}
