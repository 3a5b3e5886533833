#include "QtPrinters.h"
#include "StatusPanels.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

// Counts the events that reach an object.
class TEventCounter : public QObject {
 public:
  int Count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    Count += event->type() >= QEvent::User;
    return false;
  }
};

struct TPanelsWindow {
  TPanelsWindow() : Panels(new TStatusPanels(Window.statusBar())) {
    Window.resize(800, 300);
    Window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window));
  }
  QMainWindow Window;
  TStatusPanels* Panels;
};

}  // namespace

TEST(StatusPanels, TextsFromTheWorksThreadArriveTogetherAndReadAtOnce) {
  TPanelsWindow w;
  TEventCounter events;
  w.Panels->installEventFilter(&events);
  std::thread work([&] {
    w.Panels->Show(3, "Сохранение растра...");
    for (int percent = 0; percent <= 100; ++percent) {
      w.Panels->Show(2, QString::number(percent) + '%');
      EXPECT_EQ(w.Panels->Read(2), QString::number(percent) + '%');
    }
  });
  work.join();
  // Nothing reaches the labels until the window's event loop turns, and then all at once.
  EXPECT_EQ(w.Panels->Panel(2)->text(), "");
  QCoreApplication::processEvents();
  EXPECT_EQ(events.Count, 1);
  EXPECT_EQ(w.Panels->Panel(2)->text(), "100%");
  EXPECT_EQ(w.Panels->Panel(3)->text(), "Сохранение растра...");
}

TEST(StatusPanels, ATextShownByTheWindowIsNotOverwrittenByAnOlderOneOnItsWay) {
  TPanelsWindow w;
  std::thread([&] { w.Panels->Show(2, "57%"); }).join();
  // The work has ended and the window clears its progress before the work's last text arrives.
  w.Panels->Show(2, "");
  QCoreApplication::processEvents();
  EXPECT_EQ(w.Panels->Panel(2)->text(), "");
  EXPECT_EQ(w.Panels->Read(2), "");
}

TEST(StatusPanels, AButtonsHintCoversTheMousePositionNeverTheProgress) {
  TPanelsWindow w;
  for (int slot = 0; slot < TStatusPanels::Count; ++slot) w.Panels->Show(slot, "x");
  w.Window.statusBar()->showMessage("Найти узлы сетки на растре");
  QCoreApplication::processEvents();
  EXPECT_FALSE(w.Panels->Panel(0)->isVisible());
  EXPECT_FALSE(w.Panels->Panel(1)->isVisible());
  EXPECT_TRUE(w.Panels->Panel(2)->isVisible());
  EXPECT_TRUE(w.Panels->Panel(3)->isVisible());
  // The progress stands at the right, after the hint's room.
  EXPECT_GT(w.Panels->Panel(2)->x(),
            w.Window.statusBar()->fontMetrics().horizontalAdvance("Найти узлы сетки на растре"));
  w.Window.statusBar()->clearMessage();
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.Panels->Panel(0)->isVisible());
}
