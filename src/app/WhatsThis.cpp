#include "WhatsThis.h"

#include "HelpCtxForms.h"
#include "HelpProfiles.h"
#include "HtmlHelps.h"
#include "SysUtils.h"
#include "WhatsThisOptions.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>

namespace {

bool IsQtPart(const QObject* object) {
  return object->objectName().startsWith(QLatin1String("qt_")) && object->parent();
}

// "TEditWindow" gives "EditWindow", "QLabel" gives "Label".
QString ClassKey(const QObject* object) {
  const QString name = QString::fromLatin1(object->metaObject()->className());
  const bool prefixed = name.size() > 1 &&
                        (name[0] == QLatin1Char('T') || name[0] == QLatin1Char('Q')) &&
                        name[1].isUpper();
  return prefixed ? name.mid(1) : name;
}

int IndexAmongSiblings(const QObject* object) {
  const QObject* parent = object->parent();
  if (!parent) return 0;
  int index = 0;
  for (const QObject* sibling : parent->children()) {
    if (sibling == object) return index;
    // Controls count among controls only; the windows a form owns (its dialogs) are no controls.
    const bool control =
        sibling->isWidgetType() && !static_cast<const QWidget*>(sibling)->isWindow();
    if (!object->isWidgetType() || control) ++index;
  }
  return index;
}

// A scroll bar of a scrolled control stands for the control, with the bar as the area.
const QObject* ScrolledControl(const QWidget* bar, int& area) {
  for (const QWidget* w = bar->parentWidget(); w && !w->isWindow(); w = w->parentWidget()) {
    if (auto* scrolled = qobject_cast<const QAbstractScrollArea*>(w)) {
      area = static_cast<const QScrollBar*>(bar)->orientation() == Qt::Horizontal ? haHScroll
                                                                                  : haVScroll;
      return scrolled;
    }
  }
  return bar;
}

void ClosePopups() {
  while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
}

}  // namespace

QWidget* FormOf(QWidget* widget) {
  QWidget* form = widget ? widget->window() : nullptr;
  while (form && form->windowType() == Qt::Popup && form->parentWidget()) {
    form = form->parentWidget()->window();
  }
  return form;
}

QString ControlKey(const QObject* control, const QWidget* form) {
  if (control == form) return QStringLiteral("Form");
  if (IsQtPart(control)) return ControlKey(control->parent(), form);
  if (!control->objectName().isEmpty()) return control->objectName();
  const QObject* parent = control->parent();
  const QString prefix =
      parent && parent != form ? ControlKey(parent, form) + QLatin1Char('.') : QString();
  return prefix + ClassKey(control) + QString::number(IndexAmongSiblings(control));
}

THelpContext HelpContextOf(const QObject* control, const QWidget* form, int area) {
  THelpContext context;
  const bool ownArea = area == haClient || area == haHScroll || area == haVScroll;
  context.Section =
      ownArea ? QString::fromLatin1(form->metaObject()->className()) : QStringLiteral("Forms");
  context.Key = ControlKey(control, form);
  if (area != haClient) context.Key += QStringLiteral("(%1)").arg(area);
  return context;
}

int NonClientArea(const QWidget* window, const QPoint& globalPos) {
  const QRect client(window->mapToGlobal(QPoint(0, 0)), window->size());
  const int x = globalPos.x();
  const int y = globalPos.y();
  // The window system draws the frame; above the client area lies the caption, beside and below
  // it the borders.
  if (y < client.top()) {
    return x < client.left() ? haTopLeft : x > client.right() ? haTopRight : haCaption;
  }
  if (y > client.bottom()) {
    return x < client.left() ? haBottomLeft : x > client.right() ? haBottomRight : haBottom;
  }
  if (x < client.left()) return haLeft;
  if (x > client.right()) return haRight;
  return haClient;
}

TWhatsThis::TWhatsThis(QObject* parent)
    : QObject(parent),
      HelpProfile(ProgramHelpFile(QStringLiteral(".ini"))),
      OnShowTopic(ShowHelpTopic) {
  qApp->installEventFilter(this);
}

TWhatsThis::~TWhatsThis() {
  if (!QCoreApplication::instance()) return;
  Stop();
  QCoreApplication::instance()->removeEventFilter(this);
}

void TWhatsThis::Start(QWidget* targetForm) {
  if (!FActive) QApplication::setOverrideCursor(Qt::WhatsThisCursor);
  FActive = true;
  disconnect(FTargetGone);
  FTarget = targetForm;
  if (targetForm) FTargetGone = connect(targetForm, &QObject::destroyed, this, &TWhatsThis::Stop);
}

void TWhatsThis::Stop() {
  if (!FActive) return;
  FActive = false;
  disconnect(FTargetGone);
  QApplication::restoreOverrideCursor();
}

void TWhatsThis::GiveTopic(const QObject* control, QWidget* form, int area,
                           const QPoint& globalPos) {
  const QPointer<QWidget> target = FTarget;
  const bool anyForm = !target;
  Stop();
  if (!control || !form || (!anyForm && form != target)) {
    QApplication::beep();
    return;
  }
  const THelpContext context = HelpContextOf(control, form, area);
  THelpProfile profile(HelpProfile);
  QString topic = profile.Read(context.Section, context.Key);
  if (!DesignMode) {
    if (OnShowTopic) OnShowTopic(topic, globalPos);
    return;
  }
  if (EditHelpContext(context.Section, context.Key, topic, form)) {
    try {
      profile.Write(context.Section, context.Key, topic);
    } catch (const Exception& error) {
      HandleException(error);
    }
  }
  if (anyForm || target) Start(target);
}

void TWhatsThis::EditOptions() {
  const QPointer<QWidget> target = FTarget;
  Stop();
  EditWhatsThisOptions(HelpProfile, DesignMode, target);
  Start(target);
}

bool TWhatsThis::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::EnterWhatsThisMode:
      // The caption button "?" of the active window, announced to the application.
      Start(FormOf(QApplication::activeWindow()));
      return true;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      return KeyEvent(event);
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
      return watched->isWidgetType() && MouseEvent(static_cast<QWidget*>(watched), event);
    default:
      return false;
  }
}

bool TWhatsThis::KeyEvent(QEvent* event) {
  auto* key = static_cast<QKeyEvent*>(event);
  const bool startKey = key->key() == Qt::Key_F1 && key->modifiers() == Qt::ShiftModifier;
  if (!FActive && !startKey) return false;
  // Every key is taken: the accepted override also keeps shortcuts (F1 of the help command among
  // them) from firing, so that the key arrives as a key press.
  event->accept();
  if (event->type() == QEvent::KeyPress) {
    if (!FActive) {
      Start(FormOf(QApplication::activeWindow()));
    } else if (key->key() == Qt::Key_Escape) {
      Stop();
      ClosePopups();
    } else if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
      ClosePopups();
      EditOptions();
    }
  }
  return true;
}

bool TWhatsThis::MouseEvent(QWidget* receiver, QEvent* event) {
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (release && FSwallowRelease) {
    FSwallowRelease = false;
    event->accept();
    return true;
  }
  if (!release) FSwallowRelease = false;
  if (!FActive) return false;
  const QPoint globalPos = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
  bool taken = false;
  if (qobject_cast<QMenu*>(receiver)) {
    // A menu runs its command on the release, so a release there is a click too.
    taken = MenuClick(receiver, globalPos);
  } else if (!release && !qobject_cast<QMenuBar*>(receiver)) {
    // The menu bar opens its menus as usual, so that their commands can be clicked.
    taken = true;
    ControlClick(receiver->window(), event->type(), globalPos);
  }
  if (taken) {
    FSwallowRelease = !release;
    event->accept();
  }
  return taken;
}

void TWhatsThis::ControlClick(QWidget* window, QEvent::Type type, const QPoint& globalPos) {
  int area = haClient;
  const QObject* control = window;
  if (type == QEvent::NonClientAreaMouseButtonPress ||
      type == QEvent::NonClientAreaMouseButtonDblClick) {
    area = NonClientArea(window, globalPos);
  } else if (QWidget* child = window->childAt(window->mapFromGlobal(globalPos))) {
    control = qobject_cast<QScrollBar*>(child) ? ScrolledControl(child, area) : child;
  }
  GiveTopic(control, FormOf(window), area, globalPos);
}

bool TWhatsThis::MenuClick(QWidget* menu, const QPoint& globalPos) {
  const QPoint pos = menu->mapFromGlobal(globalPos);
  // A click beside an open menu closes it, as it always does.
  if (!menu->rect().contains(pos)) return false;
  const QAction* action = static_cast<QMenu*>(menu)->actionAt(pos);
  // An item that opens a submenu opens it; a separator stands for its menu.
  if (action && action->menu()) return false;
  const QObject* control =
      action && !action->isSeparator() ? static_cast<const QObject*>(action) : menu;
  QWidget* form = FormOf(menu);
  ClosePopups();
  GiveTopic(control, form, haClient, globalPos);
  return true;
}

TWhatsThis& WhatsThis() {
  static TWhatsThis* instance = nullptr;
  if (!instance) {
    instance = new TWhatsThis;
    // The mode restores the cursor and leaves the application's filters while both still exist.
    qAddPostRoutine([] {
      delete instance;
      instance = nullptr;
    });
  }
  return *instance;
}

void InstallContextHelp(QWidget* form) {
  form->setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  WhatsThis();
}
