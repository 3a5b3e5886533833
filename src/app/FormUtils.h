#pragma once

#include "SysUtils.h"

#include <QApplication>
#include <QMessageBox>

// The application's title: the caption of its message boxes. The main window keeps it equal to
// its own caption; until then it is the application's display name.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The application's one standard error box: the message in a critical box titled with the
// application's title, modal over the active window. While a box with the same message is open, the
// same message again is only logged, so that an error that repeats on every repaint does not stack
// boxes.
void ShowErrorMessage(const QString& message);
void ShowException(const Exception& e);

// A question with the question icon and the buttons Yes and No, and Cancel when the question may
// be cancelled. Yes is the default; Esc answers Cancel, or No without Cancel. Returns the button.
QMessageBox::StandardButton AskQuestion(const QString& title, const QString& text, bool canCancel,
                                        QWidget* parent = nullptr);

// Qt's own Russian texts (standard buttons "Да", "Нет", "Отмена", the file and colour dialogs)
// from Qt's translations folder; false when they are not installed.
bool LoadQtTranslations(QCoreApplication& application);

// The desktop program's application object. It speaks Russian, shows every error that has no
// caller to take it back in the standard error box, and lets no exception escape an event
// handler: an error is shown and the event loop goes on.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;
};
