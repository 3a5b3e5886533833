#include "EditWindowTestUtils.h"
#include "MessageOf.h"
#include "Navigators.h"
#include "QtPrinters.h"
#include "RecArrays.h"

#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// What the window shows when painted whole now: the raster at the current view with the tools'
// overlays at their current places.
QImage FullRepaint(TEditWindow& window) {
  window.Repaint();
  return window.Surface().copy();
}

// A navigator that records the scales it is asked to show instead of showing them.
class TScaleRecorder : public TEditWindowNavigator {
 public:
  void SetView(const TWorldPoint&, bool, double scale) override { Scales.push_back(scale); }
  std::vector<double> Scales;
};

}  // namespace

TEST(EditWindowSurface, OverlaysStayExactThroughScrollResizeAndRepaint) {
  TRasterWindow view(700, 500);
  TEditWindow& window = view.Window;
  ShowWindow(window, 240, 180);
  SetPixelView(window, 1, {10, 10});
  Flush();
  auto* square = new TXorSquare;
  window.AttachEditor(square);
  MoveMouse(window, QPoint(60, 50));
  square->RedrawOverlay();

  // A strip painted after a scroll shows what a whole paint shows, to the pixel, at every zoom.
  const auto check = [&](const char* step) {
    const QImage shown = window.Surface().copy();
    EXPECT_EQ(Differences(shown, FullRepaint(window)), 0) << step;
  };
  window.ScrollBy(24, 0);
  Flush();
  check("scroll right");
  window.ScrollBy(-7, 31);
  Flush();
  check("scroll left and down");
  window.ScrollBy(500, -400);  // farther than the window: everything is uncovered
  Flush();
  check("scroll beyond the window");
  window.resize(300, 150);
  Flush();
  check("resize");
  window.InvalidateRect(TRect{30, 20, 90, 70});
  window.Update();
  check("repaint of a region");
  // The same at a zoom where raster pixels are averaged, and at one where they are enlarged.
  for (const double zoom : {0.37, 2.5}) {
    SetPixelView(window, zoom, {3, 5});
    Flush();
    window.ScrollBy(24, -24);
    Flush();
    check(zoom < 1 ? "scroll zoomed out" : "scroll zoomed in");
  }
  // Taken away, the overlay leaves exactly the picture behind.
  square->RedrawOverlay();
  const QImage bare = window.Surface().copy();
  window.DetachEditor(square);
  EXPECT_EQ(Differences(bare, FullRepaint(window)), 0);
}

TEST(EditWindowSurface, TheSurfaceHasTheScreensRealPixels) {
  TRasterWindow view(300, 200);
  TEditWindow& window = view.Window;
  ShowWindow(window, 120, 90);
  const qreal ratio = window.devicePixelRatioF();
  EXPECT_EQ(window.Surface().size(), QSize(qRound(120 * ratio), qRound(90 * ratio)));
  EXPECT_EQ(window.Device().DeviceRect(), (TRect{0, 0, qRound(120 * ratio), qRound(90 * ratio)}));
  // One raster pixel is one surface pixel at this view, whatever the screen's ratio.
  SetPixelView(window, 1, {0, 0});
  window.Repaint();
  EXPECT_EQ(window.Surface().pixel(37, 5) & 0xFFFFFF, 0u);
  EXPECT_NE(window.Surface().pixel(38, 5) & 0xFFFFFF, 0u);
  EXPECT_NE(window.Surface().pixel(36, 5) & 0xFFFFFF, 0u);
}

TEST(EditWindowSurface, ScrollByRepaintsOnlyTheStripAndMovesTheOriginOnce) {
  TRasterWindow view(400, 300);
  TEditWindow& window = view.Window;
  ShowWindow(window, 200, 150);
  SetPixelView(window, 1, {0, 0});
  Flush();
  auto* square = new TXorSquare;
  window.AttachEditor(square);
  int viewChanges = 0;
  window.OnViewChange = [&](TEditWindow*) { ++viewChanges; };
  square->DrawCount = 0;
  const TWorldPoint before = window.Device().GetOrigin();
  window.ScrollBy(10, 0);
  const TWorldPoint after = window.Device().GetOrigin();
  EXPECT_DOUBLE_EQ((after.X - before.X) * window.Device().ScaleX(), 10);
  EXPECT_EQ(viewChanges, 2);        // the device's change and the scroll itself
  EXPECT_EQ(square->DrawCount, 2);  // once off before the pixels move, once on after
  EXPECT_EQ(window.InvalidRegion(), QRegion(190, 0, 10, 150));
  viewChanges = 0;
  window.ScrollBy(0, 0);
  EXPECT_EQ(viewChanges, 1);
}

TEST(EditWindowSurface, LocksAssertWhenUnbalanced) {
  TEditWindow window;
  EXPECT_EQ(MessageOf([&] { window.EndPaintLock(); }),
            "Assertion failure (CoreLib\\InEditors, line 1666)");
  EXPECT_EQ(window.PaintLock(), 0);
  EXPECT_EQ(MessageOf([&] { window.EndScrollLock(); }),
            "Assertion failure (CoreLib\\InEditors, line 1728)");
  EXPECT_FALSE(window.IsScrollLocked());
}

TEST(EditWindowSurface, BufferedPaintKeepsABackBufferOfTheWindowsSize) {
  TRasterWindow view(300, 200);
  TEditWindow& window = view.Window;
  window.SetBufferedPaint(true);
  ShowWindow(window, 120, 90);
  window.Repaint();
  ASSERT_NE(window.BackBuffer(), nullptr);
  const QImage buffered = window.Surface().copy();
  window.resize(130, 100);
  EXPECT_EQ(window.BackBuffer(), nullptr);
  window.Repaint();
  ASSERT_NE(window.BackBuffer(), nullptr);
  EXPECT_EQ(window.BackBuffer()->size(), QSize(130, 100));
  window.SetBufferedPaint(false);
  window.resize(120, 90);
  EXPECT_EQ(Differences(buffered, FullRepaint(window)), 0);
}

TEST(EditWindowRouting, ThePhasesOfAPressWithTheMainWindowsThreeEditors) {
  TEditWindow window;
  QStringList log;
  auto* navigator = new TRecordingEditor("nav", log, emWatcher | emPriority | emTool | emFallback);
  auto* spy = new TRecordingEditor("spy", log, emWatcher);
  auto* calibrator = new TRecordingEditor("cal", log, emTool | emAutoScroll);
  window.AttachEditor(navigator);
  window.AttachEditor(spy);
  window.AttachEditor(calibrator);
  ShowWindow(window, 200, 150);
  // A press where the mouse is not yet comes with a move: that move is not what is watched here.
  const auto press = [&](Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint p) {
    MoveMouse(window, p);
    log.clear();
    QTest::mousePress(window.windowHandle(), button, modifiers, p);
  };

  press(Qt::LeftButton, {}, QPoint(40, 30));
  EXPECT_EQ(log, QStringList({"spy:down:1", "nav:down:1", "nav:down:3", "cal:down:4", "nav:down:4",
                              "nav:down:5"}));
  QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(40, 30));

  // A watcher that consumes the event does not stop the other watchers, but ends the routing.
  spy->HandlePhase = 1;
  press(Qt::LeftButton, {}, QPoint(41, 30));
  EXPECT_EQ(log, QStringList({"spy:down:1", "nav:down:1"}));
  QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(41, 30));

  // The tool holding the capture gets the event alone after the watchers, consumed or not.
  log.clear();
  calibrator->SetActive(true);
  QTest::mouseMove(window.windowHandle(), QPoint(45, 33));
  EXPECT_EQ(log, QStringList({"spy:move:1", "nav:move:1", "cal:move:2"}));
  EXPECT_EQ(calibrator->LastPoint, (TPoint{45, 33}));
  calibrator->SetActive(false);

  // Ordinary tools stop at the first one that consumes.
  spy->HandlePhase = 0;
  calibrator->HandlePhase = 4;
  press(Qt::RightButton, Qt::ShiftModifier, QPoint(50, 30));
  EXPECT_EQ(log, QStringList({"spy:down:1", "nav:down:1", "nav:down:3", "cal:down:4"}));
  EXPECT_EQ(calibrator->LastShift, ssShift | ssRight);
  calibrator->HandlePhase = 0;
  QTest::mouseRelease(window.windowHandle(), Qt::RightButton, {}, QPoint(50, 30));
}

TEST(EditWindowRouting, RoutingNestsAndRestoresPhaseAndHandled) {
  TEditWindow window;
  QStringList log;
  auto* outer = new TRecordingEditor("outer", log, emTool);
  outer->HandlePhase = 4;
  window.AttachEditor(outer);
  ShowWindow(window, 200, 150);
  uint8_t phaseAfter = 0;
  bool handledAfter = false;
  MoveMouse(window, QPoint(20, 20));
  log.clear();
  outer->OnMouseDownHook = [&] {
    // A further event routed while this one is being handled.
    window.RefreshCursor();
    phaseAfter = window.Phase();
    handledAfter = window.Handled();
  };
  QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(log, QStringList({"outer:down:4", "outer:move:4"}));
  EXPECT_EQ(phaseAfter, 4);
  EXPECT_TRUE(handledAfter);
  QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
}

TEST(EditWindowRouting, KeysReachTheToolsAndModifiersRouteAMoveOncePerChange) {
  TEditWindow window;
  QStringList log;
  auto* tool = new TRecordingEditor("tool", log, emTool);
  window.AttachEditor(tool);
  ShowWindow(window, 200, 150);
  window.setFocus();
  MoveMouse(window, QPoint(30, 40));
  log.clear();

  QTest::keyPress(window.windowHandle(), Qt::Key_Shift, Qt::ShiftModifier);
  QTest::keyPress(window.windowHandle(), Qt::Key_Shift, Qt::ShiftModifier);  // auto-repeat
  EXPECT_EQ(log, QStringList({"tool:move:4"}));
  EXPECT_EQ(tool->LastShift, ssShift);
  EXPECT_EQ(tool->LastPoint, (TPoint{30, 40}));
  QTest::keyRelease(window.windowHandle(), Qt::Key_Shift, {});
  EXPECT_EQ(log.size(), 2);
  EXPECT_EQ(tool->LastShift, 0);

  // Arrows reach the window; Escape cancels an ordinary tool and is consumed.
  log.clear();
  QTest::keyPress(window.windowHandle(), Qt::Key_Left);
  QTest::keyPress(window.windowHandle(), Qt::Key_Escape);
  EXPECT_EQ(log, QStringList({"tool:key37:4", "tool:key27:4", "tool:cancel"}));
}

TEST(EditWindowWheel, StepsAccumulateAndCtrlScrollsByAQuarterOfTheWindow) {
  TEditWindow window;
  auto* navigator = new TScaleRecorder;
  window.AttachEditor(navigator);
  ShowWindow(window, 300, 405);
  const QPoint at(100, 100);
  const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers = {}) {
    QWheelEvent event(at, window.mapToGlobal(at), {}, QPoint(0, delta), {}, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &event);
  };
  wheel(60);
  EXPECT_TRUE(navigator->Scales.empty());
  wheel(60);
  EXPECT_EQ(navigator->Scales.size(), 1u);
  wheel(60);
  wheel(-60);
  EXPECT_EQ(window.WheelDelta(), -60);
  wheel(-60);
  ASSERT_EQ(navigator->Scales.size(), 2u);
  EXPECT_LT(navigator->Scales[1], navigator->Scales[0]);  // one step in, one step out

  const auto scrolled = [&](int delta, Qt::KeyboardModifiers modifiers) {
    const TWorldPoint before = window.Device().GetOrigin();
    wheel(delta, modifiers);
    const TWorldPoint after = window.Device().GetOrigin();
    return QPoint(qRound((after.X - before.X) * window.Device().ScaleX()),
                  qRound((after.Y - before.Y) * window.Device().ScaleY()));
  };
  EXPECT_EQ(scrolled(120, Qt::ControlModifier), QPoint(0, -96));
  EXPECT_EQ(scrolled(-120, Qt::ControlModifier), QPoint(0, 112));
  EXPECT_EQ(scrolled(120, Qt::ControlModifier | Qt::ShiftModifier), QPoint(-64, 0));
  EXPECT_EQ(navigator->Scales.size(), 2u);
}

TEST(EditWindowEditors, AttachDetachAndTheRebuildsTheyAskFor) {
  TEditWindow window;
  QStringList log;
  auto* a = new TRecordingEditor("a", log, emTool);
  auto* b = new TRecordingEditor("b", log, emTool);
  TRefHolder<TRecordingEditor> holdA(a);
  window.AttachEditor(a);
  window.AttachEditor(b);
  EXPECT_EQ(b->RefCount(), 1);
  Flush();
  window.DetachEditor(a);
  window.DetachEditor(b);  // the window's reference was the last: b is gone
  EXPECT_TRUE(window.MenuRebuildPending());
  EXPECT_EQ(a->Window(), nullptr);
  EXPECT_EQ(a->RefCount(), 1);
  Flush();
  EXPECT_FALSE(window.MenuRebuildPending());

  // An editor detached during a visit stays alive until the visit ends.
  auto* c = new TRecordingEditor("c", log, emTool);
  auto* d = new TRecordingEditor("d", log, emTool);
  window.AttachEditor(c);
  window.AttachEditor(d);
  QStringList visited;
  window.ForEachEditor(
      [&](TEditor* e) {
        visited.append(e == c ? "c" : "d");
        if (e == c) window.DetachEditor(d);
        return true;
      },
      false);
  EXPECT_EQ(visited, QStringList({"c"}));

  // An editor that is disposed of leaves its window first; a detached one has no device.
  TEditor* owned = nullptr;
  AssignRef(owned, static_cast<TEditor*>(new TXorSquare));
  window.AttachEditor(owned);
  TEditor* keep = owned;
  TRefHolder<TEditor> holdKeep(keep);
  DisposeRef(owned);
  EXPECT_EQ(keep->Window(), nullptr);
  EXPECT_EQ(window.Editors().IndexOf(keep), -1);
  EXPECT_EQ(MessageOf([&] { keep->Device(); }),
            "Внутренняя ошибка: Не задано окно редактирования (TEditor.GetValidOwner)");
}

TEST(EditWindowEditors, TimersTickTheirEditorsUntilRemoved) {
  TEditWindow window;
  struct TTicker : TEditor {
    void Timer() override { ++Ticks; }
    int Ticks = 0;
  };
  auto* ticker = new TTicker;
  window.AttachEditor(ticker);
  ticker->SetTimerInterval(5);
  EXPECT_EQ(window.Timers().Count(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticker->Ticks >= 2; }, kWindowSystemWait));
  ticker->SetTimerInterval(5);
  EXPECT_EQ(window.Timers().Count(), 1);
  ticker->SetTimerInterval(0);
  EXPECT_EQ(window.Timers().Count(), 0);
  const int ticks = ticker->Ticks;
  QTest::qWait(30);
  EXPECT_EQ(ticker->Ticks, ticks);
}

TEST(EditWindowContextMenu, TheReleaseComesFirstAndASuppressedRequestOpensNothing) {
  TEditWindow window;
  QStringList log;
  auto* tool = new TRecordingEditor("tool", log, emTool);
  window.AttachEditor(tool);
  AddContextItem(window.ContextMenu(), "Пункт", 0, nullptr, 0, 0, 0, true);
  window.ContextMenu().Rebuild();
  ShowWindow(window, 200, 150);
  // Moves come and go with the popup: only presses, releases and the menu count here.
  const auto calls = [&] { return log.filter(QRegularExpression("down|up|menu")); };
  QObject::connect(&window.InternalPopup(), &QMenu::aboutToShow, [&] {
    log.append("menu");
    QTimer::singleShot(0, &window.InternalPopup(), &QMenu::close);
  });
  QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, QPoint(30, 30));
  Flush();
  EXPECT_EQ(calls(), QStringList({"tool:down:4", "tool:up:4", "menu"}));

  log.clear();
  window.SuppressNextContextMenu();
  QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, QPoint(30, 30));
  Flush();
  EXPECT_EQ(calls(), QStringList({"tool:down:4", "tool:up:4"}));
  QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, QPoint(30, 30));
  Flush();
  EXPECT_EQ(calls().last(), "menu");

  // The keyboard's request opens the menu too.
  log.clear();
  window.setFocus();
  QTest::keyClick(window.windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
  Flush();
  EXPECT_EQ(calls(), QStringList({"menu"}));
}
