#include "HtmlHelps.h"

#include "HelpWindows.h"
#include "SysUtils.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThread>
#include <QWhatsThis>

namespace {

[[noreturn]] void RaiseHelpError(const QString& description) {
  throw Exception(QStringLiteral("Ошибка справочной системы: ") + description);
}

}  // namespace

QString HelpFileBeside(const QString& programFile, const QString& extension) {
  const QFileInfo program(programFile);
  const QString name = program.completeBaseName() + extension;
  const QString beside = program.absolutePath() + QLatin1Char('/') + name;
  if (QFileInfo::exists(beside)) return beside;
  const QString shared =
      QDir::cleanPath(program.absolutePath() + QStringLiteral("/") +
                      QStringLiteral(VELMORA_SHARE_FROM_BIN) + QLatin1Char('/') + name);
  return QFileInfo::exists(shared) ? shared : beside;
}

QString ProgramHelpFile(const QString& extension) {
  return HelpFileBeside(QCoreApplication::applicationFilePath(), extension);
}

THelpTopic ParseHelpTopic(const QString& value) {
  const QString text = value.trimmed();
  if (text.isEmpty()) return {};
  if (!text.startsWith(QLatin1Char('#'))) return {THelpTopic::tkPage, text, 0};
  static const QRegularExpression popup(QStringLiteral(R"(^#(\d+)\s*(.*)$)"));
  const QRegularExpressionMatch match = popup.match(text);
  bool isNumber = false;
  const int number = match.hasMatch() ? match.captured(1).toInt(&isNumber) : 0;
  if (!isNumber) RaiseHelpError(QStringLiteral("неверная ссылка на подсказку «%1»").arg(text));
  QString file = match.captured(2).trimmed();
  if (file.isEmpty()) file = QString::fromLatin1(kDefaultPopupFile);
  return {THelpTopic::tkPopup, file, number};
}

QString PopupString(const QByteArray& text, int number, const QString& fileName) {
  static const QRegularExpression topicLine(QStringLiteral(R"(^\.topic\s+(\d+)\s*$)"));
  QStringList lines;
  bool inside = false;
  bool found = false;
  for (QString line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    const QRegularExpressionMatch match = topicLine.match(line);
    if (match.hasMatch()) {
      if (inside) break;
      inside = match.captured(1).toInt() == number;
      found = found || inside;
    } else if (inside) {
      lines.append(line);
    }
  }
  if (!found) RaiseHelpError(QStringLiteral("в файле %1 нет строки %2").arg(fileName).arg(number));
  return lines.join(QLatin1Char('\n')).trimmed();
}

THtmlHelp::THtmlHelp(QString helpFile, QObject* parent)
    : QObject(parent), FHelpFile(std::move(helpFile)) {}

THtmlHelp::~THtmlHelp() {
  CloseWindows();
  if (!FEngine) return;
  // The engine makes its contents and its index on threads of its own, and on destruction it takes
  // down what they read before it stops them: a help closed while they run corrupts the memory. It
  // goes once they are done. The wait is bounded, so that an engine that reports the end of that
  // work only through the event loop, which does not run here, cannot hold the program up.
  const QDeadlineTimer deadline(30000);
  while (
      (FEngine->contentModel()->isCreatingContents() || FEngine->indexModel()->isCreatingIndex()) &&
      !deadline.hasExpired())
    QThread::msleep(2);
}

QHelpEngine& THtmlHelp::Engine() {
  if (FEngine) return *FEngine;
  if (!QFileInfo(FHelpFile).isFile()) {
    RaiseHelpError(QStringLiteral("не найден файл справки %1").arg(FHelpFile));
  }
  auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-help-"));
  if (!dir->isValid()) RaiseHelpError(dir->errorString());
  auto engine = std::make_unique<QHelpEngine>(dir->filePath(QStringLiteral("help.qhc")));
  // The collection is made here, so the engine must be allowed to write it.
  engine->setReadOnly(false);
  if (!engine->setupData() || !engine->registerDocumentation(FHelpFile)) {
    RaiseHelpError(engine->error());
  }
  const QString space = QHelpEngineCore::namespaceName(FHelpFile);
  const QList<QUrl> files = engine->files(space, QString());
  if (files.isEmpty()) RaiseHelpError(QStringLiteral("файл справки %1 пуст").arg(FHelpFile));
  // Every file of a help lies in one virtual folder: qthelp://namespace/folder/file.
  const QString folder = files.front().path().section(QLatin1Char('/'), 1, 1);
  FRoot.setScheme(QStringLiteral("qthelp"));
  FRoot.setHost(space);
  FRoot.setPath(QLatin1Char('/') + folder + QLatin1Char('/'));
  const QString prefix = FRoot.path();
  for (const QUrl& url : files) FFiles.insert(url.path().mid(prefix.size()));
  FCollectionDir = std::move(dir);
  FEngine = std::move(engine);
  return *FEngine;
}

QUrl THtmlHelp::FileUrl(const QString& file) {
  Engine();
  const QUrl url = FRoot.resolved(QUrl(file));
  const QString path = url.path();
  if (!path.startsWith(FRoot.path()) || !FFiles.contains(path.mid(FRoot.path().size()))) {
    RaiseHelpError(QStringLiteral("в справке нет раздела %1").arg(file));
  }
  return url;
}

QByteArray THtmlHelp::FileData(const QString& file) {
  return Engine().fileData(FileUrl(file).adjusted(QUrl::RemoveFragment));
}

QStringList THtmlHelp::Files() {
  Engine();
  QStringList files(FFiles.begin(), FFiles.end());
  files.sort();
  return files;
}

QString THtmlHelp::Popup(const THelpTopic& topic) {
  return PopupString(FileData(topic.File), topic.Number, topic.File);
}

THelpWindow& THtmlHelp::OpenWindow() {
  if (!FWindow) {
    FWindow = new THelpWindow(Engine(), FileUrl(QString::fromLatin1(kDefaultHelpPage)));
    // The program ends with its main window, whether the help is open, minimised or not.
    FWindow->setAttribute(Qt::WA_QuitOnClose, false);
  }
  FWindow->setWindowState(FWindow->windowState() & ~Qt::WindowMinimized);
  FWindow->show();
  FWindow->raise();
  FWindow->activateWindow();
  return *FWindow;
}

void THtmlHelp::ShowContents() {
  const QUrl page = FileUrl(QString::fromLatin1(kDefaultHelpPage));
  THelpWindow& window = OpenWindow();
  window.ShowContentsTab();
  window.ShowPage(page);
}

void THtmlHelp::ShowPage(const QString& file) {
  const QUrl page = FileUrl(file);
  OpenWindow().ShowPage(page);
}

void THtmlHelp::ShowTopic(const THelpTopic& topic, const QPoint& globalPos) {
  switch (topic.Kind) {
    case THelpTopic::tkContents:
      ShowContents();
      break;
    case THelpTopic::tkPage:
      ShowPage(topic.File);
      break;
    case THelpTopic::tkPopup:
      // As plain text the popup wraps at word boundaries; made rich text, its width is rounded
      // down and the last word of a line could break in two.
      QWhatsThis::showText(globalPos, Popup(topic));
      break;
  }
}

THelpWindow* THtmlHelp::Window() const {
  return FWindow;
}

void THtmlHelp::CloseWindows() {
  delete FWindow;
  QWhatsThis::hideText();
}

namespace {

THtmlHelp* GProgramHelp = nullptr;

}  // namespace

THtmlHelp& ProgramHelp() {
  if (!GProgramHelp) {
    GProgramHelp = new THtmlHelp(ProgramHelpFile(QStringLiteral(".qch")));
    // Widgets must not outlive the application object, so the help goes with it.
    qAddPostRoutine([] {
      delete GProgramHelp;
      GProgramHelp = nullptr;
    });
  }
  return *GProgramHelp;
}

void CloseHelpWindows() {
  if (GProgramHelp) GProgramHelp->CloseWindows();
}

void ShowHelpContents() {
  try {
    ProgramHelp().ShowContents();
  } catch (const Exception& error) {
    HandleException(error);
  }
}

void ShowHelpTopic(const QString& value, const QPoint& globalPos) {
  try {
    ProgramHelp().ShowTopic(ParseHelpTopic(value), globalPos);
  } catch (const Exception& error) {
    HandleException(error);
  }
}
