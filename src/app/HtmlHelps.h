#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>

class QHelpEngine;
class QPoint;
class QTemporaryDir;
class THelpWindow;

// The program's compressed help and its context-help profile lie beside the executable, named
// after it ("velmora.qch", "velmora.ini"), or, once installed, in the program's share folder.
// Gives the first that exists; the name beside the program when neither does, so that a message
// names the place where the file was looked for.
QString HelpFileBeside(const QString& programFile, const QString& extension);
QString ProgramHelpFile(const QString& extension);

// What a value of the context-help profile asks for.
struct THelpTopic {
  enum TKind { tkContents, tkPage, tkPopup };
  TKind Kind = tkContents;
  QString File;    // the page (with an optional "#anchor") or the popup text file
  int Number = 0;  // the popup string's number
};

// The popup text file of the help, used by "#N" without a file name.
inline constexpr const char* kDefaultPopupFile = "popups.txt";
inline constexpr const char* kDefaultHelpPage = "index.html";

// An empty value opens the contents; "#N" followed by optional blanks and a file name shows popup
// string N of that text file; anything else is a page of the help. A "#" that no number follows
// raises the help system's error.
THelpTopic ParseHelpTopic(const QString& value);

// String N of a popup text file: each string starts with a line ".topic N" and runs to the next
// such line. Raises the help system's error when the file has no string N.
QString PopupString(const QByteArray& text, int number, const QString& fileName);

// The compiled help: a help file registered, on first use, in a collection of its own in a private
// temporary folder (an installed help is read-only, and nothing of it needs keeping between runs),
// with the help window that shows it. Failures raise Exception with "Ошибка справочной системы: ".
class THtmlHelp : public QObject {
  Q_OBJECT

 public:
  explicit THtmlHelp(QString helpFile, QObject* parent = nullptr);
  ~THtmlHelp() override;

  const QString& HelpFile() const { return FHelpFile; }
  QHelpEngine& Engine();
  // The address of a file of the help (an anchor may follow its name); raises when the help has no
  // such file.
  QUrl FileUrl(const QString& file);
  QByteArray FileData(const QString& file);
  QStringList Files();
  // The text of a popup topic.
  QString Popup(const THelpTopic& topic);

  // The help window at the default page with its contents shown (F1, "Справка").
  void ShowContents();
  void ShowPage(const QString& file);
  // A topic of the context-help profile; a popup appears at the given screen position.
  void ShowTopic(const THelpTopic& topic, const QPoint& globalPos);
  // The help window when it is open.
  THelpWindow* Window() const;
  void CloseWindows();

 private:
  THelpWindow& OpenWindow();

  QString FHelpFile;
  std::unique_ptr<QTemporaryDir> FCollectionDir;
  std::unique_ptr<QHelpEngine> FEngine;
  QUrl FRoot;
  QSet<QString> FFiles;
  QPointer<THelpWindow> FWindow;
};

// The program's own help (ProgramHelpFile(".qch")), made on first use; its windows close before
// the application object goes.
THtmlHelp& ProgramHelp();

// The help command (F1, "&Справка"): the program's help at its contents. A failure of the help
// goes to the program's error handler (HandleException), which shows it in the standard error box.
void ShowHelpContents();
// A value of the context-help profile shown from the program's help, a popup at globalPos. A
// failure goes to the program's error handler, as above.
void ShowHelpTopic(const QString& value, const QPoint& globalPos);
// Closes the help window and any popup, when the program's help has opened them: they go with
// the main window.
void CloseHelpWindows();
