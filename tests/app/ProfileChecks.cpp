#include "ProfileChecks.h"

#include "WhatsThis.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSettings>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QString KeyAt(QWidget* form, QWidget* child) {
  if (auto* bar = qobject_cast<QScrollBar*>(child)) {
    for (QWidget* w = bar->parentWidget(); w && w != form; w = w->parentWidget()) {
      if (qobject_cast<QAbstractScrollArea*>(w)) {
        const int area = bar->orientation() == Qt::Horizontal ? haHScroll : haVScroll;
        return HelpContextOf(w, form, area).Key;
      }
    }
  }
  return HelpContextOf(child ? child : form, form, haClient).Key;
}

void AddMenu(QMenu* menu, QWidget* form, QSet<QString>& keys) {
  // A click on a separator stands for its menu.
  keys.insert(ControlKey(menu, form));
  for (QAction* action : menu->actions()) {
    if (action->menu()) {
      AddMenu(action->menu(), form, keys);
    } else if (!action->isSeparator()) {
      keys.insert(ControlKey(action, form));
    }
  }
}

}  // namespace

QSet<QString> ClickableKeys(QWidget* form) {
  // The form itself answers where no control is.
  QSet<QString> keys{ControlKey(form, form)};
  // Every second pixel: the narrowest controls (separators, splitter handles) are wider.
  for (int y = 0; y < form->height(); y += 2) {
    for (int x = 0; x < form->width(); x += 2) keys.insert(KeyAt(form, form->childAt(x, y)));
  }
  // The menus a user opens from the form's menu bar.
  for (QMenuBar* bar : form->findChildren<QMenuBar*>()) {
    for (QAction* action : bar->actions()) {
      if (action->menu()) AddMenu(action->menu(), form, keys);
    }
  }
  return keys;
}

void ExpectProfileCovers(const QString& section, const QSet<QString>& keys) {
  QSettings profile(QStringLiteral(VELMORA_HELP_PROFILE), QSettings::IniFormat);
  ASSERT_EQ(profile.status(), QSettings::NoError);
  profile.beginGroup(section);
  for (const QString& key : keys) {
    EXPECT_FALSE(profile.value(key).toString().isEmpty())
        << "no topic for " << section.toStdString() << "/" << key.toStdString();
  }
  for (const QString& key : profile.childKeys()) {
    EXPECT_TRUE(keys.contains(key))
        << "no control for " << section.toStdString() << "/" << key.toStdString();
  }
}
