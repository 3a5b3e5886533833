#include "FormUtils.h"

#include <QAbstractButton>
#include <QLibraryInfo>
#include <QTranslator>
#include <QtDebug>

#include <new>

namespace {

QString& Title() {
  static QString title;
  return title;
}

// The messages of the error boxes open at this moment, innermost last.
QStringList& OpenErrorMessages() {
  static QStringList messages;
  return messages;
}

QWidget* BoxParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

}  // namespace

void SetApplicationTitle(const QString& title) {
  Title() = title;
}

QString ApplicationTitle() {
  return Title().isEmpty() ? QGuiApplication::applicationDisplayName() : Title();
}

void ShowErrorMessage(const QString& message) {
  QStringList& open = OpenErrorMessages();
  if (open.contains(message)) {
    qWarning().noquote() << message;
    return;
  }
  open.append(message);
  QMessageBox::critical(BoxParent(), ApplicationTitle(), message);
  open.removeOne(message);
}

void ShowException(const Exception& e) {
  ShowErrorMessage(e.Message());
}

QMessageBox::StandardButton AskQuestion(const QString& title, const QString& text, bool canCancel,
                                        QWidget* parent) {
  QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
  if (canCancel) buttons |= QMessageBox::Cancel;
  QMessageBox box(QMessageBox::Question, title, text, buttons, parent ? parent : BoxParent());
  const QMessageBox::StandardButton escape = canCancel ? QMessageBox::Cancel : QMessageBox::No;
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(escape);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  return clicked ? box.standardButton(clicked) : escape;
}

bool LoadQtTranslations(QCoreApplication& application) {
  auto* translator = new QTranslator(&application);
  if (!translator->load(QStringLiteral("qtbase_ru"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  if (!LoadQtTranslations(*this))
    qWarning("Qt's Russian translations (qtbase_ru.qm) are not installed");
  SetExceptionHandler(ShowException);
}

TApplication::~TApplication() {
  // Boxes need the application: errors after it are only logged.
  SetExceptionHandler(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const Exception& e) {
    ShowException(e);
  } catch (const std::bad_alloc&) {
    ShowErrorMessage(QStringLiteral("Недостаточно памяти. Операция прервана."));
  } catch (const std::exception& e) {
    ShowErrorMessage(QStringLiteral("Непредвиденная ошибка: %1. Операция прервана.")
                         .arg(QString::fromUtf8(e.what())));
  } catch (...) {
    ShowErrorMessage(QStringLiteral("Непредвиденная ошибка. Операция прервана."));
  }
  return false;
}
