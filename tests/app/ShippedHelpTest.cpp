#include "AboutForms.h"
#include "HelpCtxForms.h"
#include "HelpWindows.h"
#include "HtmlHelps.h"
#include "MessageOf.h"
#include "ProfileChecks.h"
#include "QtPrinters.h"
#include "WhatsThisOptions.h"

#include <QDir>
#include <QFileInfo>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

// The help and the context-help profile as they are built beside the program: every page, link,
// topic and popup string that anything names must exist, so that a broken link fails here and not
// in front of a user.

namespace {

// One help for all the tests here, set up once; it must go before the application object does.
THtmlHelp* SharedHelp = nullptr;

THtmlHelp& Help() {
  return *SharedHelp;
}

// The places a page can be opened at: the anchors its text document knows.
QSet<QString> AnchorsOf(const QString& page) {
  QTextDocument document;
  document.setHtml(QString::fromUtf8(Help().FileData(page)));
  QSet<QString> anchors;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      for (const QString& name : it.fragment().charFormat().anchorNames()) anchors.insert(name);
    }
  }
  return anchors;
}

// Empty when the reference (a page with an optional anchor) leads somewhere; otherwise why not.
QString BrokenReference(const QString& reference) {
  const QString page = reference.section(QLatin1Char('#'), 0, 0);
  const QString anchor = reference.section(QLatin1Char('#'), 1);
  const QString message = MessageOf([&] { Help().FileUrl(page); });
  if (!message.isEmpty()) return message;
  if (!anchor.isEmpty() && !AnchorsOf(page).contains(anchor)) {
    return QStringLiteral("no anchor %1 in %2").arg(anchor, page);
  }
  return {};
}

QStringList Pages() {
  return Help().Files().filter(QRegularExpression(QStringLiteral(R"(\.html$)")));
}

class ShippedHelp : public testing::Test {
 protected:
  static void SetUpTestSuite() { SharedHelp = new THtmlHelp(QStringLiteral(VELMORA_HELP_FILE)); }
  static void TearDownTestSuite() {
    delete SharedHelp;
    SharedHelp = nullptr;
  }
};

}  // namespace

TEST_F(ShippedHelp, EveryFileOfTheHelpFolderIsCompiledIn) {
  const QDir source(QStringLiteral(VELMORA_HELP_SOURCE));
  QStringList expected;
  for (const QString& name :
       source.entryList({"*.html", "*.css", "*.txt"}, QDir::Files, QDir::Name)) {
    if (name != QLatin1String("CMakeLists.txt")) expected << name;
  }
  const QDir pictures(source.filePath(QStringLiteral("img")));
  for (const QString& name : pictures.entryList({"*.png"}, QDir::Files, QDir::Name)) {
    expected << QStringLiteral("img/") + name;
  }
  QStringList compiled = Help().Files();
  expected.sort();
  compiled.sort();
  EXPECT_EQ(compiled, expected);
  EXPECT_TRUE(compiled.contains(QString::fromLatin1(kDefaultHelpPage)));
  EXPECT_TRUE(compiled.contains(QString::fromLatin1(kDefaultPopupFile)));
}

TEST_F(ShippedHelp, EveryLinkAndPictureOfEveryPageLeadsSomewhere) {
  static const QRegularExpression reference(QStringLiteral(R"re((?:href|src)="([^"]*)")re"));
  for (const QString& page : Pages()) {
    const QString html = QString::fromUtf8(Help().FileData(page));
    QTextDocument document;
    document.setHtml(html);
    EXPECT_FALSE(document.metaInformation(QTextDocument::DocumentTitle).isEmpty())
        << page.toStdString();
    for (const QRegularExpressionMatch& match : reference.globalMatch(html)) {
      const QString target = match.captured(1);
      if (target.startsWith(QLatin1String("http"))) continue;
      const QString full = target.startsWith(QLatin1Char('#')) ? page + target : target;
      EXPECT_EQ(BrokenReference(full), "") << page.toStdString() << ": " << target.toStdString();
    }
  }
}

TEST_F(ShippedHelp, TheContentsAndTheIndexLeadToPlacesThatExist) {
  QFile project(QStringLiteral(VELMORA_HELP_SOURCE "/velmora.qhp"));
  ASSERT_TRUE(project.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&project);
  int references = 0;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const QString ref = xml.attributes().value(QStringLiteral("ref")).toString();
    if (ref.isEmpty()) continue;
    ++references;
    EXPECT_EQ(BrokenReference(ref), "") << xml.name().toString().toStdString() << " "
                                        << xml.attributes().value("title").toString().toStdString()
                                        << xml.attributes().value("name").toString().toStdString();
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_GT(references, 50);
}

TEST_F(ShippedHelp, EveryTopicOfTheProfileExists) {
  QSettings profile(QStringLiteral(VELMORA_HELP_PROFILE), QSettings::IniFormat);
  ASSERT_EQ(profile.status(), QSettings::NoError);
  int topics = 0;
  for (const QString& key : profile.allKeys()) {
    const QString value = profile.value(key).toString();
    SCOPED_TRACE(key.toStdString() + "=" + value.toStdString());
    const QString error = MessageOf([&] {
      const THelpTopic topic = ParseHelpTopic(value);
      if (topic.Kind == THelpTopic::tkPopup) {
        EXPECT_FALSE(PopupString(Help().FileData(topic.File), topic.Number, topic.File).isEmpty());
      } else if (topic.Kind == THelpTopic::tkPage) {
        EXPECT_EQ(BrokenReference(topic.File), "");
      }
    });
    EXPECT_EQ(error, "");
    ++topics;
  }
  EXPECT_GT(topics, 100);
}

TEST_F(ShippedHelp, EveryControlOfTheHelpsOwnWindowsHasATopic) {
  Help().ShowContents();
  THelpWindow* window = Help().Window();
  ASSERT_TRUE(window);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  // The engine fills the contents and the index on threads of its own; the lists show their
  // scroll bars, which a click can land on too, only once they are full.
  QHelpEngine& engine = Help().Engine();
  ASSERT_TRUE(QTest::qWaitFor([&] {
    return !engine.contentModel()->isCreatingContents() &&
           !engine.indexModel()->isCreatingIndex() && engine.indexModel()->rowCount() > 0;
  }));
  // The lists lay their rows out, and show or hide their scroll bars, at a later turn of the
  // event loop.
  window->Contents()->doItemsLayout();
  window->Index()->doItemsLayout();
  QCoreApplication::processEvents();
  QSet<QString> keys = ClickableKeys(window);
  window->ShowIndexTab();
  keys += ClickableKeys(window);
  EXPECT_TRUE(keys.contains(QStringLiteral("IndexFilter")));
  ExpectProfileCovers(QStringLiteral("THelpWindow"), keys);
  Help().CloseWindows();

  const auto shown = [](QWidget& form) {
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    return ClickableKeys(&form);
  };
  TAboutForm about;
  ExpectProfileCovers(QStringLiteral("TAboutForm"), shown(about));
  TWhatsThisOptionsForm options(QStringLiteral(VELMORA_HELP_PROFILE), false);
  ExpectProfileCovers(QStringLiteral("TWhatsThisOptionsForm"), shown(options));
  THelpCtxForm context(QStringLiteral("TMainForm"), QStringLiteral("OpenBtn"),
                       QStringLiteral("open.html#open"));
  ExpectProfileCovers(QStringLiteral("THelpCtxForm"), shown(context));
  // A click on any form's caption.
  ExpectProfileCovers(QStringLiteral("Forms"), {QStringLiteral("Form(2)")});
}
