#include "HelpWindows.h"

#include "ResVelmora.h"

#include <QAction>
#include <QDesktopServices>
#include <QHeaderView>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QHelpLink>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

THelpBrowser::THelpBrowser(QHelpEngine& engine, QWidget* parent)
    : QTextBrowser(parent), FEngine(engine) {}

QVariant THelpBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == QLatin1String("qthelp")) {
    return FEngine.fileData(name.adjusted(QUrl::RemoveFragment));
  }
  return QTextBrowser::loadResource(type, name);
}

void THelpBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
  const QString scheme = name.scheme();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
      scheme == QLatin1String("mailto")) {
    QDesktopServices::openUrl(name);
    return;
  }
  QTextBrowser::doSetSource(name, type);
}

THelpWindow::THelpWindow(QHelpEngine& engine, QUrl home, QWidget* parent)
    : QMainWindow(parent), FEngine(engine), FHome(std::move(home)) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowIcon(ProgramIcon());
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 620);

  FBrowser = new THelpBrowser(engine);
  FBrowser->setObjectName(QStringLiteral("Browser"));

  FContents = new QTreeView;
  FContents->setObjectName(QStringLiteral("Contents"));
  FContents->setModel(engine.contentModel());
  FContents->header()->hide();
  connect(FContents, &QTreeView::activated, this, &THelpWindow::ContentsActivated);
  connect(FContents, &QTreeView::clicked, this, &THelpWindow::ContentsActivated);
  // A fresh model is empty; its tree arrives from a thread of the engine.
  connect(engine.contentModel(), &QHelpContentModel::contentsCreated, FContents,
          &QTreeView::expandAll);

  auto* indexPage = new QWidget;
  indexPage->setObjectName(QStringLiteral("IndexPage"));
  auto* indexLabel = new QLabel(QStringLiteral("&Искать:"));
  FIndexFilter = new QLineEdit;
  FIndexFilter->setObjectName(QStringLiteral("IndexFilter"));
  indexLabel->setBuddy(FIndexFilter);
  FIndex = new QListView;
  FIndex->setObjectName(QStringLiteral("Index"));
  FIndex->setModel(engine.indexModel());
  FIndex->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto* indexLayout = new QVBoxLayout(indexPage);
  indexLayout->setContentsMargins(4, 4, 4, 4);
  indexLayout->addWidget(indexLabel);
  indexLayout->addWidget(FIndexFilter);
  indexLayout->addWidget(FIndex);
  const auto findTyped = [this] {
    FIndex->setCurrentIndex(FEngine.indexModel()->filter(FIndexFilter->text()));
  };
  connect(FIndexFilter, &QLineEdit::textChanged, this, findTyped);
  // The index arrives from a thread of the engine, perhaps after a word was typed.
  connect(engine.indexModel(), &QHelpIndexModel::indexCreated, this, findTyped);
  connect(FIndexFilter, &QLineEdit::returnPressed, this,
          [this] { IndexActivated(FIndex->currentIndex()); });
  connect(FIndex, &QListView::activated, this, &THelpWindow::IndexActivated);

  FTabs = new QTabWidget;
  FTabs->setObjectName(QStringLiteral("Tabs"));
  FTabs->addTab(FContents, QStringLiteral("Содержание"));
  FTabs->addTab(indexPage, QStringLiteral("Указатель"));

  auto* splitter = new QSplitter;
  splitter->setObjectName(QStringLiteral("Splitter"));
  splitter->addWidget(FTabs);
  splitter->addWidget(FBrowser);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({300, 600});
  setCentralWidget(splitter);

  auto* toolbar = addToolBar(QStringLiteral("Навигация"));
  toolbar->setObjectName(QStringLiteral("NavigationToolbar"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QAction* back = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack),
                                     QStringLiteral("Назад"), FBrowser, &QTextBrowser::backward);
  back->setShortcut(QKeySequence::Back);
  back->setEnabled(false);
  QAction* forward = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                        QStringLiteral("Вперёд"), FBrowser, &QTextBrowser::forward);
  forward->setShortcut(QKeySequence::Forward);
  forward->setEnabled(false);
  QAction* contents =
      toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon),
                         QStringLiteral("Содержание"), this, [this] { ShowPage(FHome); });
  toolbar->widgetForAction(back)->setObjectName(QStringLiteral("BackBtn"));
  toolbar->widgetForAction(forward)->setObjectName(QStringLiteral("ForwardBtn"));
  toolbar->widgetForAction(contents)->setObjectName(QStringLiteral("HomeBtn"));
  connect(FBrowser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(FBrowser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(FBrowser, &QTextBrowser::sourceChanged, this, &THelpWindow::UpdateTitle);

  engine.contentModel()->createContents(QString());
  engine.indexModel()->createIndex(QString());
  UpdateTitle();
}

void THelpWindow::ShowPage(const QUrl& url) {
  FBrowser->setSource(url);
}

void THelpWindow::ShowContentsTab() {
  FTabs->setCurrentWidget(FContents);
}

void THelpWindow::ShowIndexTab() {
  FTabs->setCurrentIndex(1);
  FIndexFilter->setFocus();
}

void THelpWindow::ContentsActivated(const QModelIndex& index) {
  if (QHelpContentItem* item = FEngine.contentModel()->contentItemAt(index)) ShowPage(item->url());
}

void THelpWindow::IndexActivated(const QModelIndex& index) {
  if (!index.isValid()) return;
  const QList<QHelpLink> links = FEngine.documentsForKeyword(index.data().toString());
  if (!links.isEmpty()) ShowPage(links.front().url);
}

void THelpWindow::UpdateTitle() {
  const QString page = FBrowser->documentTitle();
  setWindowTitle(page.isEmpty() ? QStringLiteral("Справка Velmora")
                                : QStringLiteral("Справка Velmora - ") + page);
}
