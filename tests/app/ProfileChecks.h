#pragma once

#include <QSet>
#include <QString>

class QWidget;

// The keys of the context-help profile that a click in the what's-this mode reads on a form as it
// is shown now: the form itself and every control a click can land on, found the way the mode finds
// it (Qt's own parts answer for their control, a scroll bar for its scrolled control with the bar
// as the area), and the menus of its menu bar with their items.
QSet<QString> ClickableKeys(QWidget* form);

// The shipped profile's section of a form against the keys its clicks read: each of them has a
// topic, and each key of the section is one of them, so that a renamed control cannot leave a
// stale key behind.
void ExpectProfileCovers(const QString& section, const QSet<QString>& keys);
