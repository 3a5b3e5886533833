#pragma once

#include <QMainWindow>
#include <QTextBrowser>
#include <QUrl>

class QHelpEngine;
class QLineEdit;
class QListView;
class QTabWidget;
class QTreeView;

// A text browser that reads its pages, pictures and style sheets from the compiled help; links out
// of the help (http, https, mailto) open in the desktop's own programs.
class THelpBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  THelpBrowser(QHelpEngine& engine, QWidget* parent = nullptr);

  QVariant loadResource(int type, const QUrl& name) override;

 protected:
  void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

 private:
  QHelpEngine& FEngine;
};

// The help window: the contents and the index of the help beside the page, with back, forward and
// the contents page (home) on its tool bar.
class THelpWindow : public QMainWindow {
  Q_OBJECT

 public:
  THelpWindow(QHelpEngine& engine, QUrl home, QWidget* parent = nullptr);

  void ShowPage(const QUrl& url);
  void ShowContentsTab();
  void ShowIndexTab();
  THelpBrowser* Browser() const { return FBrowser; }
  QTreeView* Contents() const { return FContents; }
  QListView* Index() const { return FIndex; }
  QLineEdit* IndexFilter() const { return FIndexFilter; }

 private:
  void ContentsActivated(const QModelIndex& index);
  void IndexActivated(const QModelIndex& index);
  void UpdateTitle();

  QHelpEngine& FEngine;
  QUrl FHome;
  QTabWidget* FTabs;
  QTreeView* FContents;
  QLineEdit* FIndexFilter;
  QListView* FIndex;
  THelpBrowser* FBrowser;
};
