#include "HelpWindows.h"
#include "HtmlHelps.h"
#include "QtPrinters.h"

#include <QAction>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

class HelpWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    Help.ShowContents();
    Window = Help.Window();
    ASSERT_NE(Window, nullptr);
  }

  QString Page() const { return Window->Browser()->source().fileName(); }

  THtmlHelp Help{QStringLiteral(VELMORA_HELP_FILE)};
  THelpWindow* Window = nullptr;
};

}  // namespace

TEST(HelpWindow, AHelpClosedWhileItsContentsAreBeingMadeGoesCleanly) {
  // The window asks the engine for its contents and its index, which threads of the engine make;
  // a help closed right away must not take the engine down under them.
  for (int i = 0; i < 20; ++i) {
    THtmlHelp help{QStringLiteral(VELMORA_HELP_FILE)};
    help.ShowContents();
  }
}

TEST_F(HelpWindowTest, OpensAtTheContentsPageWithTheContentsShown) {
  EXPECT_EQ(Page(), "index.html");
  EXPECT_EQ(Window->windowTitle(), "Справка Velmora - Справка Velmora");
  EXPECT_EQ(Window->findChild<QTabWidget*>("Tabs")->currentWidget(), Window->Contents());
  // The page's style sheet and its text come out of the compiled help.
  EXPECT_TRUE(Window->Browser()
                  ->loadResource(QTextDocument::StyleSheetResource,
                                 Help.FileUrl(QStringLiteral("style.css")))
                  .toByteArray()
                  .contains("span.ui"));
  EXPECT_TRUE(Window->Browser()->toPlainText().contains("Порядок работы"));
}

TEST_F(HelpWindowTest, TheContentsTreeLeadsToItsPages) {
  QHelpContentModel* model = Help.Engine().contentModel();
  // The tree is made by a thread of the engine.
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() > 0; }, 10000));
  const QModelIndex root = model->index(0, 0);
  EXPECT_EQ(root.data().toString(), "Справка Velmora");
  ASSERT_GT(model->rowCount(root), 5);
  const QModelIndex view = model->index(1, 0, root);
  EXPECT_EQ(view.data().toString(), "Перемещение по растру и масштаб");
  emit Window->Contents()->activated(view);
  EXPECT_EQ(Page(), "view.html");
}

TEST_F(HelpWindowTest, TheIndexFindsAWordAsItIsTyped) {
  QHelpIndexModel* model = Help.Engine().indexModel();
  // A word typed before the index is ready is looked up once it is.
  Window->ShowIndexTab();
  Window->IndexFilter()->setText(QStringLiteral("колёсико"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() > 0; }, 10000));
  EXPECT_EQ(Window->Index()->currentIndex().data().toString(), "колёсико мыши");
  emit Window->IndexFilter()->returnPressed();
  EXPECT_EQ(Page(), "view.html");
  EXPECT_EQ(Window->Browser()->source().fragment(), "wheel");
}

TEST_F(HelpWindowTest, BackForwardAndHomeWalkThePagesSeen) {
  auto* back = Window->findChild<QToolButton*>("BackBtn");
  auto* forward = Window->findChild<QToolButton*>("ForwardBtn");
  auto* home = Window->findChild<QToolButton*>("HomeBtn");
  ASSERT_TRUE(back && forward && home);
  EXPECT_FALSE(back->isEnabled());
  Help.ShowPage(QStringLiteral("grid.html"));
  Help.ShowPage(QStringLiteral("nodes.html"));
  EXPECT_TRUE(back->isEnabled());
  back->click();
  EXPECT_EQ(Page(), "grid.html");
  EXPECT_TRUE(forward->isEnabled());
  forward->click();
  EXPECT_EQ(Page(), "nodes.html");
  EXPECT_FALSE(forward->isEnabled());
  home->click();
  EXPECT_EQ(Page(), "index.html");
}

TEST_F(HelpWindowTest, ALinkOfAPageOpensThePageItNames) {
  Window->Browser()->setSource(QUrl(QStringLiteral("nodes.html#find")));
  EXPECT_EQ(Page(), "nodes.html");
  EXPECT_EQ(Window->windowTitle(), "Справка Velmora - Узлы, строки и столбцы сетки");
}
