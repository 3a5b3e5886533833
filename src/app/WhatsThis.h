#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

// The areas of a window a click can fall on, numbered as the keys of the context-help profile
// carry them ("Form(2)" is a click on a form's caption).
enum THitArea : int {
  haClient = 1,
  haCaption = 2,
  haHScroll = 6,
  haVScroll = 7,
  haLeft = 10,
  haRight = 11,
  haTopLeft = 13,
  haTopRight = 14,
  haBottom = 15,
  haBottomLeft = 16,
  haBottomRight = 17,
};

// Where a control's topic lies in the context-help profile.
struct THelpContext {
  QString Section;
  QString Key;
};

// The form a widget belongs to: its window, or for a popup (a menu) the form that opened it.
QWidget* FormOf(QWidget* widget);

// "Form" for the form itself; the control's name when it has one; otherwise the key of its parent
// (unless the parent is the form), ".", the class name without its leading "T" (or Qt's "Q") and
// the control's index among its parent's controls (for an object that is no widget, among all its
// parent's children). Qt's own parts of a control (named "qt_...") answer for the control.
QString ControlKey(const QObject* control, const QWidget* form);

// The section and key of a click on a control: the form's class name and the control's key for the
// client area and the scroll bars, the section "Forms" shared by all forms for the other areas of a
// window; the area follows the key in parentheses, except for the client area.
THelpContext HelpContextOf(const QObject* control, const QWidget* form, int area);

// The area of a window's frame under a screen point outside its client rectangle.
int NonClientArea(const QWidget* window, const QPoint& globalPos);

// The what's-this mode: once started from a form, the next click on one of its controls opens the
// control's topic from the context-help profile, with the help cursor shown meanwhile. The mode
// watches every event of the application: it takes the clicks and the keys (Esc ends the mode, F1
// opens its options) and lets everything else through. In design mode a click edits the
// control's topic instead, and the mode goes on for the next control. Shift+F1 starts the mode in
// the active form, and so does the caption button "?" where the window system shows one.
class TWhatsThis : public QObject {
  Q_OBJECT

 public:
  explicit TWhatsThis(QObject* parent = nullptr);
  ~TWhatsThis() override;

  // The profile file; at first the one beside the program.
  QString HelpProfile;
  bool DesignMode = false;
  // Shows a topic of the profile at a screen position; the program's help unless replaced.
  std::function<void(const QString& topic, const QPoint& globalPos)> OnShowTopic;

  bool IsActive() const { return FActive; }
  QWidget* TargetForm() const { return FTarget; }
  // Clicks on forms other than the target are refused; with no target every form is accepted.
  void Start(QWidget* targetForm);
  void Stop();

  // Gives a control its topic, the mode being turned off first: shows it, or in design mode edits
  // it in "Изменение ContextID" and starts the mode again (a profile that cannot be written goes
  // to the program's error handler). A control of another form than the target, or none at all,
  // gets a beep.
  void GiveTopic(const QObject* control, QWidget* form, int area, const QPoint& globalPos);
  // The mode's options dialog; the mode is on again afterwards.
  void EditOptions();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool MouseEvent(QWidget* receiver, QEvent* event);
  void ControlClick(QWidget* window, QEvent::Type type, const QPoint& globalPos);
  bool MenuClick(QWidget* menu, const QPoint& globalPos);
  bool KeyEvent(QEvent* event);

  bool FActive = false;
  // The release of a click the mode took goes nowhere either.
  bool FSwallowRelease = false;
  QPointer<QWidget> FTarget;
  QMetaObject::Connection FTargetGone;
};

// The program's one what's-this mode, made on first use and gone before the application object.
TWhatsThis& WhatsThis();

// How a form takes part in the what's-this mode: the caption button "?" where the window system
// shows one (call it while the form is being built, before it is shown), and the mode ready for
// Shift+F1.
void InstallContextHelp(QWidget* form);
