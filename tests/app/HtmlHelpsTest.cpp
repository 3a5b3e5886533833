#include "HelpTestUtils.h"
#include "HelpWindows.h"
#include "HtmlHelps.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QWhatsThis>

#include <gtest/gtest.h>

namespace {

const QString kHelpFile = QStringLiteral(VELMORA_HELP_FILE);

// The popup that QWhatsThis shows, or null.
QWidget* ShownPopup() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->inherits("QWhatsThat") && widget->isVisible()) return widget;
  }
  return nullptr;
}

bool PopupShowing() {
  return ShownPopup() != nullptr;
}

}  // namespace

TEST(HtmlHelps, ProfileValuesNameTheContentsAPageOrAPopupString) {
  const THelpTopic contents = ParseHelpTopic(QStringLiteral("  "));
  EXPECT_EQ(contents.Kind, THelpTopic::tkContents);

  const THelpTopic page = ParseHelpTopic(QStringLiteral(" view.html#wheel "));
  EXPECT_EQ(page.Kind, THelpTopic::tkPage);
  EXPECT_EQ(page.File, "view.html#wheel");

  const THelpTopic popup = ParseHelpTopic(QStringLiteral("#42 popups.txt"));
  EXPECT_EQ(popup.Kind, THelpTopic::tkPopup);
  EXPECT_EQ(popup.Number, 42);
  EXPECT_EQ(popup.File, "popups.txt");

  const THelpTopic tight = ParseHelpTopic(QStringLiteral("#7other.txt"));
  EXPECT_EQ(tight.Number, 7);
  EXPECT_EQ(tight.File, "other.txt");

  // A number alone means a string of the help's own popup file.
  const THelpTopic bare = ParseHelpTopic(QStringLiteral("#3"));
  EXPECT_EQ(bare.Kind, THelpTopic::tkPopup);
  EXPECT_EQ(bare.Number, 3);
  EXPECT_EQ(bare.File, "popups.txt");

  EXPECT_EQ(MessageOf([] { ParseHelpTopic(QStringLiteral("#popups.txt")); }),
            "Ошибка справочной системы: неверная ссылка на подсказку «#popups.txt»");
  EXPECT_FALSE(MessageOf([] { ParseHelpTopic(QStringLiteral("#99999999999 a.txt")); }).isEmpty());
}

TEST(HtmlHelps, APopupStringRunsFromItsTopicLineToTheNext) {
  const QByteArray text =
      ".topic 1\r\nFirst.\r\n.topic 42\nСорок вторая\nстрока.\n\n.topic 420\nOther.\n";
  EXPECT_EQ(PopupString(text, 1, QStringLiteral("p.txt")), "First.");
  EXPECT_EQ(PopupString(text, 42, QStringLiteral("p.txt")), "Сорок вторая\nстрока.");
  EXPECT_EQ(PopupString(text, 420, QStringLiteral("p.txt")), "Other.");
  EXPECT_EQ(MessageOf([&] { PopupString(text, 4, QStringLiteral("p.txt")); }),
            "Ошибка справочной системы: в файле p.txt нет строки 4");
}

TEST(HtmlHelps, TheHelpLiesBesideTheProgramOrInItsShareFolder) {
  QTemporaryDir dir;
  const QString program = dir.filePath(QStringLiteral("bin/velmora"));
  EXPECT_EQ(HelpFileBeside(program, QStringLiteral(".qch")), dir.filePath("bin/velmora.qch"));
  WriteTextFile(dir.filePath(QStringLiteral("share/velmora/velmora.qch")), QStringLiteral("x"));
  EXPECT_EQ(HelpFileBeside(program, QStringLiteral(".qch")),
            dir.filePath("share/velmora/velmora.qch"));
  WriteTextFile(dir.filePath(QStringLiteral("bin/velmora.qch")), QStringLiteral("x"));
  EXPECT_EQ(HelpFileBeside(program, QStringLiteral(".qch")), dir.filePath("bin/velmora.qch"));
}

TEST(HtmlHelps, AMissingOrBrokenHelpFileIsTheHelpSystemsError) {
  THtmlHelp missing(QStringLiteral("/nonexistent/velmora.qch"));
  EXPECT_EQ(MessageOf([&] { missing.Engine(); }),
            "Ошибка справочной системы: не найден файл справки /nonexistent/velmora.qch");
  QTemporaryDir dir;
  WriteTextFile(dir.filePath(QStringLiteral("broken.qch")), QStringLiteral("not a help"));
  THtmlHelp broken(dir.filePath(QStringLiteral("broken.qch")));
  EXPECT_TRUE(MessageOf([&] { broken.ShowContents(); }).startsWith("Ошибка справочной системы: "));
  EXPECT_EQ(broken.Window(), nullptr);
}

TEST(HtmlHelps, FilesOfTheHelpAreFoundByName) {
  THtmlHelp help(kHelpFile);
  EXPECT_TRUE(help.Files().contains("index.html"));
  EXPECT_EQ(help.FileUrl(QStringLiteral("view.html#wheel")).toString(),
            "qthelp://ru.orvanta.velmora/doc/view.html#wheel");
  EXPECT_TRUE(QString::fromUtf8(help.FileData(QStringLiteral("index.html"))).contains("Velmora"));
  EXPECT_EQ(MessageOf([&] { help.FileUrl(QStringLiteral("nowhere.html")); }),
            "Ошибка справочной системы: в справке нет раздела nowhere.html");
  // Nothing outside the help's folder is reachable through a topic.
  EXPECT_FALSE(MessageOf([&] { help.FileUrl(QStringLiteral("../other/index.html")); }).isEmpty());
}

TEST(HtmlHelps, EachKindOfTopicShowsItsOwnWay) {
  THtmlHelp help(kHelpFile);
  help.ShowTopic(ParseHelpTopic(QStringLiteral("view.html#wheel")), QPoint(10, 10));
  ASSERT_NE(help.Window(), nullptr);
  EXPECT_TRUE(help.Window()->isVisible());
  EXPECT_EQ(help.Window()->Browser()->source().fileName(), "view.html");
  EXPECT_EQ(help.Window()->Browser()->source().fragment(), "wheel");

  help.ShowTopic(ParseHelpTopic(QString()), QPoint(10, 10));
  EXPECT_EQ(help.Window()->Browser()->source().fileName(), "index.html");
  EXPECT_EQ(help.Window()->Browser()->documentTitle(), "Справка Velmora");

  const THelpTopic popup = ParseHelpTopic(QStringLiteral("#7 popups.txt"));
  EXPECT_EQ(help.Popup(popup), "Номер версии программы. Назовите его, сообщая об ошибке.");
  help.ShowTopic(popup, QPoint(30, 40));
  EXPECT_TRUE(PopupShowing());
  help.CloseWindows();
  EXPECT_EQ(help.Window(), nullptr);
  EXPECT_FALSE(PopupShowing());
}

TEST(HtmlHelps, AFailedHelpCallGoesToTheProgramsErrorHandler) {
  QStringList handled;
  SetExceptionHandler([&](const Exception& e) { handled << e.Message(); });
  // The test program has no help beside it.
  ShowHelpContents();
  ShowHelpTopic(QStringLiteral("#x"), QPoint());
  SetExceptionHandler(nullptr);
  EXPECT_EQ(handled, QStringList({"Ошибка справочной системы: не найден файл справки " +
                                      ProgramHelpFile(QStringLiteral(".qch")),
                                  "Ошибка справочной системы: неверная ссылка на подсказку «#x»"}));
  EXPECT_EQ(ProgramHelp().Window(), nullptr);
}

TEST(HtmlHelps, PopupsBreakTheirLinesBetweenWordsOnly) {
  THtmlHelp help(kHelpFile);
  const auto height = [&](const char* topic) {
    help.ShowTopic(ParseHelpTopic(QLatin1String(topic)), QPoint(30, 40));
    QWidget* popup = ShownPopup();
    return popup ? popup->height() : -1;
  };
  // "Название программы." fits on one line, as "Закрывает окно." does: shown as rich text, the
  // popup's width was rounded down and "программы." broke in two.
  const int oneLine = height("#3 popups.txt");
  ASSERT_GT(oneLine, 0);
  EXPECT_EQ(height("#5 popups.txt"), oneLine);
  help.CloseWindows();
}
