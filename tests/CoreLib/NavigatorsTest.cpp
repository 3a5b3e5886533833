#include "Cursors.h"
#include "EditWindowTestUtils.h"
#include "Navigators.h"
#include "PageRectSelectors.h"
#include "QtPrinters.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A window with the navigator as the main window sets it up: upright, no history.
struct TNavigatedWindow {
  explicit TNavigatedWindow(int width, int height, int rasterWidth = 800, int rasterHeight = 600)
      : View(rasterWidth, rasterHeight), Window(View.Window) {
    Navigator = new TMatrixProjectionNavigator;
    Window.AttachEditor(Navigator);
    Navigator->SetAngle(0);
    Navigator->SetFlipY(true);
    Navigator->ClearHistory();
    ShowWindow(Window, width, height);
    Navigator->SetView({100, 100}, false, 1 / Window.Device().BaseScaleX());
    Navigator->ClearHistory();
    Flush();
  }

  // Device pixels the view moved by since the origin was o.
  QPoint MovedSince(const TWorldPoint& o) const {
    const TDeviceInfo& d = Window.Device();
    return QPoint(qRound((d.GetOrigin().X - o.X) * d.ScaleX()),
                  qRound((d.GetOrigin().Y - o.Y) * d.ScaleY()));
  }
  QWindow* Handle() const { return Window.windowHandle(); }

  TRasterWindow View;
  TEditWindow& Window;
  TMatrixProjectionNavigator* Navigator;
};

}  // namespace

TEST(Navigator, ZoomStepsAndTheHistory) {
  TNavigatedWindow w(300, 200);
  TMatrixProjectionNavigator& nav = *w.Navigator;
  const TWorldPoint centre = nav.GetCentre();
  nav.SetView(centre, false, 1);
  nav.ZoomIn();
  nav.ZoomIn();
  EXPECT_DOUBLE_EQ(nav.GetScale(), 2.25);
  nav.ZoomOut();
  EXPECT_DOUBLE_EQ(nav.GetScale(), 1.5);
  EXPECT_EQ(nav.History().Count(), 3);
  nav.PopHistory();
  nav.PopHistory();
  nav.PopHistory();
  EXPECT_DOUBLE_EQ(nav.GetScale(), 1);
  EXPECT_FALSE(nav.HasHistory());
  EXPECT_NEAR(nav.GetCentre().X, centre.X, 1e-9);

  // The same view recorded twice is kept once; turning the picture over records nothing.
  nav.SetView({50, 60}, false, 0.5);
  nav.SetView({50, 60}, true, 0.5);
  nav.SetView({50, 60}, true, 0.5);
  EXPECT_EQ(nav.History().Count(), 1);
  nav.SetFlipY(false);
  EXPECT_NEAR(nav.GetScale(), 0.5, 1e-12);
  EXPECT_NEAR(nav.GetCentre().X, 50, 1e-9);
  EXPECT_NEAR(nav.GetCentre().Y, 60, 1e-9);
  EXPECT_EQ(nav.History().Count(), 1);
}

TEST(Navigator, FittingARectangleShowsItWithAMarginOfAnEighth) {
  TNavigatedWindow w(400, 300);
  w.Navigator->FitWorldRect({0, 0, 800, 600}, 2);
  TWorldRect shown;
  w.Window.Device().Projection()->PageRectToWorld(w.Window.Device().PageRect(), shown);
  EXPECT_NEAR(shown.Left, -100, 1e-6);
  EXPECT_NEAR(shown.Top, -75, 1e-6);
  EXPECT_NEAR(shown.Right, 900, 1e-6);
  EXPECT_NEAR(shown.Bottom, 675, 1e-6);
  EXPECT_EQ(w.Navigator->History().Count(), 1);
}

TEST(Navigator, VeryDeepZoomsStopWhereDrawingStillWorks) {
  TNavigatedWindow w(200, 150);
  TMatrixProjectionNavigator& nav = *w.Navigator;
  // The middle of a pixel, which the deepest zoom shows alone.
  nav.SetView({100.5, 100.5}, false, nav.GetScale());
  const TWorldPoint centre = nav.GetCentre();
  for (int i = 0; i < 200; ++i) nav.ZoomIn();
  const double pixelsPerUnit = nav.GetScale() * w.Window.Device().BaseScaleX();
  EXPECT_NEAR(pixelsPerUnit, TMatrixProjectionNavigator::kMaxPixelsPerUnit, 1e-6);
  EXPECT_NEAR(nav.GetCentre().X, centre.X, 1e-6);
  EXPECT_NO_THROW(w.Window.Repaint());
  // The pixel under the middle of the window fills it.
  const QRgb middle = w.Window.Surface().pixel(100, 75);
  EXPECT_EQ(w.Window.Surface().pixel(1, 1), middle);
  for (int i = 0; i < 3000; ++i) nav.ZoomOut();
  EXPECT_GT(nav.GetScale(), 0);
  EXPECT_NEAR(nav.GetCentre().X, centre.X, 1e-3);
  EXPECT_NO_THROW(w.Window.Repaint());
  // A scale from fitting nothing is replaced as before.
  nav.SetView(centre, false, INFINITY);
  EXPECT_NEAR(nav.GetScale(), 1, 1e-12);
}

TEST(Navigator, KeysScrollBySmallAndBigSteps) {
  TNavigatedWindow w(720, 405);
  w.Window.setFocus();
  const auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) {
    const TWorldPoint o = w.Window.Device().GetOrigin();
    QTest::keyClick(w.Handle(), k, m);
    return w.MovedSince(o);
  };
  EXPECT_EQ(key(Qt::Key_PageUp), QPoint(0, -208));
  EXPECT_EQ(key(Qt::Key_PageDown), QPoint(0, 192));
  EXPECT_EQ(key(Qt::Key_Left), QPoint(-24, 0));
  EXPECT_EQ(key(Qt::Key_Down), QPoint(0, 24));
  EXPECT_EQ(key(Qt::Key_Right, Qt::ControlModifier), QPoint(352, 0));
  EXPECT_EQ(key(Qt::Key_Home), QPoint(-368, 0));  // -360 with the low bits cleared
  const double scale = w.Navigator->GetScale();
  QTest::keyClick(w.Handle(), Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_DOUBLE_EQ(w.Navigator->GetScale(), scale * 1.5);
}

TEST(Navigator, TheEdgesScrollOnceWithCtrlAndRepeatedlyWhileHeld) {
  TNavigatedWindow w(720, 405);
  TWorldPoint o = w.Window.Device().GetOrigin();
  MoveMouse(w.Window, QPoint(715, 200));
  QTest::mouseClick(w.Handle(), Qt::LeftButton, Qt::ControlModifier, QPoint(715, 200));
  EXPECT_EQ(w.MovedSince(o), QPoint(352, 0));
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);

  o = w.Window.Device().GetOrigin();
  MoveMouse(w.Window, QPoint(5, 200));
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, QPoint(5, 200));
  EXPECT_EQ(w.MovedSince(o), QPoint(-24, 0));
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsAutoScroll);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.MovedSince(o).x() <= -72; }, kWindowSystemWait));
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, QPoint(5, 200));
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);
  EXPECT_EQ(w.Window.Timers().Count(), 0);
  EXPECT_EQ(w.Window.EditorCursor(), EditCursorBase + 0);
}

TEST(Navigator, ZoomModeClicksKeepThePointAndRectanglesFillTheWindow) {
  TNavigatedWindow w(400, 200);
  TMatrixProjectionNavigator& nav = *w.Navigator;
  nav.ZoomRectMode();
  const QPoint at(130, 70);
  const TWorldPoint before = w.Window.Device().DeviceToWorld({at.x(), at.y()});
  const double scale = nav.GetScale();
  MoveMouse(w.Window, at);
  QTest::mouseClick(w.Handle(), Qt::LeftButton, {}, at);
  Flush();
  EXPECT_DOUBLE_EQ(nav.GetScale(), scale * 1.5);
  const TWorldPoint after = w.Window.Device().DeviceToWorld({at.x(), at.y()});
  EXPECT_NEAR(after.X, before.X, 0.5 / nav.GetScale() / w.Window.Device().BaseScaleX());
  EXPECT_NEAR(after.Y, before.Y, 0.5 / nav.GetScale() / w.Window.Device().BaseScaleX());
  EXPECT_EQ(nav.State(), TEditWindowNavigator::nsSelect);
  EXPECT_EQ(nav.Selector(), nullptr);
  EXPECT_EQ(w.Window.Editors().Count(), 1);

  // A rectangle twice as wide as high in a window of that shape fills it.
  nav.ZoomRectMode();
  const TWorldPoint corner = w.Window.Device().DeviceToWorld({100, 50});
  MoveMouse(w.Window, QPoint(100, 50));
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, QPoint(100, 50));
  MoveMouse(w.Window, QPoint(180, 60));
  MoveMouse(w.Window, QPoint(200, 100));
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, QPoint(200, 100));
  Flush();
  TWorldRect shown;
  w.Window.Device().Projection()->PageRectToWorld(w.Window.Device().PageRect(), shown);
  EXPECT_NEAR(shown.Left, corner.X, 1e-6);
  EXPECT_NEAR(shown.Top, corner.Y, 1e-6);
  EXPECT_NEAR(RectWidth(shown), 100 / (scale * 1.5 * w.Window.Device().BaseScaleX()), 1e-6);
  EXPECT_EQ(nav.State(), TEditWindowNavigator::nsSelect);

  // A right click in zoom mode zooms out about the point and opens no menu.
  nav.ZoomRectMode();
  const double zoomed = nav.GetScale();
  QTest::mouseClick(w.Handle(), Qt::RightButton, {}, QPoint(200, 100));
  Flush();
  EXPECT_DOUBLE_EQ(nav.GetScale(), zoomed / 1.5);
  EXPECT_EQ(nav.State(), TEditWindowNavigator::nsZoomRect);
}

TEST(Navigator, TheSelectorKeepsTheWindowsRatio) {
  TNavigatedWindow w(720, 405);
  auto* selector = new TPageRectSelector(EditCursorBase + 9, nullptr, nullptr);
  TRefHolder<TPageRectSelector> hold(selector);
  w.Window.AttachEditor(selector);
  MoveMouse(w.Window, QPoint(100, 100));
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, QPoint(100, 100));
  const auto corner = [&](QPoint p) {
    MoveMouse(w.Window, p);
    return w.Window.Device().PageToDevice(selector->CurrentPoint);
  };
  EXPECT_EQ(corner(QPoint(200, 110)), (TPoint{200, 156}));
  EXPECT_EQ(corner(QPoint(110, 200)), (TPoint{278, 200}));
  EXPECT_EQ(corner(QPoint(100, 300)), (TPoint{100, 100}));
  corner(QPoint(40, 60));
  EXPECT_LE(selector->SelRect.Left, selector->SelRect.Right);
  EXPECT_LE(selector->SelRect.Top, selector->SelRect.Bottom);
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, QPoint(40, 60));
  EXPECT_EQ(selector->Window(), nullptr);
}

TEST(Navigator, TheRightButtonDragsThePictureAndOpensNoMenu) {
  TNavigatedWindow w(300, 200);
  struct TMenuItem : TEditor {
    void AddContextItems(TContextMenu& menu) override {
      AddContextItem(menu, "Пункт", 0, nullptr, 0, 0, 0, true);
    }
  };
  w.Window.AttachEditor(new TMenuItem);
  Flush();
  int menus = 0;
  QObject::connect(&w.Window.InternalPopup(), &QMenu::aboutToShow, [&] {
    ++menus;
    QTimer::singleShot(0, &w.Window.InternalPopup(), &QMenu::close);
  });
  const TWorldPoint o = w.Window.Device().GetOrigin();
  MoveMouse(w.Window, QPoint(100, 100));
  QTest::mousePress(w.Handle(), Qt::RightButton, {}, QPoint(100, 100));
  MoveMouse(w.Window, QPoint(120, 105));
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsHand);
  MoveMouse(w.Window, QPoint(140, 110));
  QTest::mouseRelease(w.Handle(), Qt::RightButton, {}, QPoint(140, 110));
  Flush();
  EXPECT_EQ(w.MovedSince(o), QPoint(-40, -10));
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);
  EXPECT_EQ(menus, 0);
  // A right click that does not move opens the menu.
  QTest::mouseClick(w.Handle(), Qt::RightButton, {}, QPoint(140, 110));
  Flush();
  EXPECT_EQ(menus, 1);
}

TEST(Navigator, ShiftAndCtrlTogetherZoomByRectangleWhileHeld) {
  TNavigatedWindow w(300, 200);
  w.Window.setFocus();
  MoveMouse(w.Window, QPoint(100, 100));
  QTest::keyPress(w.Handle(), Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);
  QTest::keyPress(w.Handle(), Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsTempZoomRect);
  EXPECT_EQ(w.Window.EditorCursor(), EditCursorBase + 9);
  QTest::keyRelease(w.Handle(), Qt::Key_Control, Qt::ShiftModifier);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);
  QTest::keyRelease(w.Handle(), Qt::Key_Shift, {});

  // With the hand locked the resting state is the hand.
  w.Navigator->StartHandMode(false);
  QTest::keyPress(w.Handle(), Qt::Key_Shift, Qt::ShiftModifier);
  QTest::keyPress(w.Handle(), Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsTempZoomRect);
  QTest::keyRelease(w.Handle(), Qt::Key_Control, Qt::ShiftModifier);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsHand);
  QTest::keyRelease(w.Handle(), Qt::Key_Shift, {});
  QTest::keyClick(w.Handle(), Qt::Key_Escape);
  EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsSelect);
}

TEST(Navigator, AHandDragMovesTheSnapshotAndEndsAsAFullRepaintWould) {
  for (const double zoom : {1.0, 0.37}) {
    TNavigatedWindow w(260, 180, 900, 700);
    w.Navigator->SetView({300, 250}, false, zoom / w.Window.Device().BaseScaleX());
    Flush();
    w.Navigator->StartHandMode(false);
    const QImage before = w.Window.Surface().copy();
    MoveMouse(w.Window, QPoint(50, 50));
    QTest::mousePress(w.Handle(), Qt::LeftButton, {}, QPoint(50, 50));
    MoveMouse(w.Window, QPoint(80, 60));
    // While moving, the window shows the picture it had, shifted, and its colour where it is bare.
    const QImage& moving = w.Window.Surface();
    EXPECT_EQ(moving.pixel(100, 100), before.pixel(70, 90));
    EXPECT_EQ(moving.pixel(10, 5) & 0xFFFFFF, 0x00FF00u);
    QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, QPoint(90, 70));
    Flush();
    const QImage ended = w.Window.Surface().copy();
    w.Window.Repaint();
    EXPECT_EQ(Differences(ended, w.Window.Surface()), 0) << zoom;
    EXPECT_EQ(w.Navigator->State(), TEditWindowNavigator::nsHand);
    EXPECT_EQ(w.Navigator->Snapshot(), nullptr);
  }
}

TEST(Navigator, ZoomsAndScrollsLeaveThePictureOfTheRasterDrawnAtOnce) {
  // A scan of noise in 24 bits, its parts meeting at fractional places of the window at the zooms
  // the wheel reaches from a fitted view.
  TBmpLayout layout{2400, 1800, 24, {}};
  layout.Pixel = [](int x, int y) {
    return (uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) & 0xFFFFFF;
  };
  TRasterWindow view(layout, 8 << 20);
  TEditWindow& window = view.Window;
  auto* navigator = new TMatrixProjectionNavigator;
  window.AttachEditor(navigator);
  navigator->SetFlipY(true);
  ShowWindow(window, 1400, 820);
  const auto drawnAtOnce = [&] {
    QImage image(window.Surface().size(), QImage::Format_RGB32);
    image.fill(ColorToQColor(window.Color()));
    TCanvas canvas(image);
    view.Raster->Draw(window.Device(), canvas);
    return image;
  };
  navigator->FitWorldRect({0, 0, 2400, 1800}, 2);
  Flush();
  const QPoint pointer(700, 450);
  MoveMouse(window, pointer);
  for (int step = 0; step < 5; ++step) {
    QWheelEvent wheel(pointer, window.mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &wheel);
    Flush();
    EXPECT_EQ(Differences(window.Surface(), drawnAtOnce()), 0) << "wheel step " << step;
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_Up, Qt::NoModifier},
                                         {Qt::Key_Left, Qt::NoModifier},
                                         {Qt::Key_Right, Qt::ControlModifier},
                                         {Qt::Key_Left, Qt::NoModifier}}) {
      QTest::keyClick(&window, key, modifiers);
      Flush();
      EXPECT_EQ(Differences(window.Surface(), drawnAtOnce()), 0)
          << "wheel step " << step << ", key " << key;
    }
  }
}

TEST(Navigator, TheViewStaysWithinReachOfTheRaster) {
  TNavigatedWindow w(400, 300, 800, 600);
  TMatrixProjectionNavigator& nav = *w.Navigator;
  TEditWindow& window = w.Window;
  nav.SetLimits(TWorldRect{0, 0, 800, 600});
  const double base = window.Device().BaseScaleX();
  const auto perUnit = [&] { return nav.GetScale() * base; };
  // Where the raster's corners are in the window.
  const auto corner = [&](double x, double y) {
    const QPointF d = window.Device().WorldToDeviceTransform().map(QPointF(x, y));
    return QPointF(d.x(), d.y());
  };

  // Zooms stop at 64 pixels per raster pixel and where the whole raster takes 32.
  for (int i = 0; i < 40; ++i) nav.ZoomIn();
  EXPECT_NEAR(perUnit(), 64, 1e-9);
  for (int i = 0; i < 80; ++i) nav.ZoomOut();
  EXPECT_NEAR(perUnit(), 32.0 / 800, 1e-12);

  // Scrolled as far as the keys go, the raster's edge stops a quarter of the window in.
  nav.SetView({400, 300}, false, 2 / base);
  window.setFocus();
  for (int i = 0; i < 60; ++i) QTest::keyClick(w.Handle(), Qt::Key_End);
  EXPECT_NEAR(corner(800, 0).x(), 300, 1);
  for (int i = 0; i < 60; ++i) QTest::keyClick(w.Handle(), Qt::Key_PageUp);
  EXPECT_NEAR(corner(0, 0).y(), 75, 1);
  // Nor does the hand take it farther: the picture stops under it.
  nav.StartHandMode(false);
  MoveMouse(window, QPoint(200, 150));
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, QPoint(200, 150));
  MoveMouse(window, QPoint(100, 290));
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, QPoint(100, 290));
  Flush();
  nav.EndHandMode();
  EXPECT_NEAR(corner(800, 0).x(), 300, 1);
  EXPECT_NEAR(corner(0, 0).y(), 75, 1);
  // A zoom about a point near the edge keeps the raster over the middle half too.
  for (const int delta : {-120, -120, 120}) {
    QWheelEvent wheel(QPointF(390, 290), window.mapToGlobal(QPointF(390, 290)), {}, {0, delta},
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &wheel);
    EXPECT_GE(corner(800, 600).x(), 300 - 1);
    EXPECT_GE(corner(800, 600).y(), 225 - 1);
  }
  // Small in the window, the raster stays within its middle half.
  nav.SetView({-5000, 4000}, false, 0.1 / base);
  EXPECT_NEAR(corner(800, 0).x(), 300, 1);
  EXPECT_NEAR(corner(0, 0).y(), 75, 1);

  // Without limits the view goes anywhere.
  nav.SetLimits(std::nullopt);
  nav.SetView({-5000, 4000}, false, 0.1 / base);
  EXPECT_NEAR(nav.GetCentre().X, -5000, 1e-6);
}
