#include "AppUIContext.h"
#include "Cursors.h"
#include "EditWindowTestUtils.h"
#include "GridCalibrator.h"
#include "GridScans.h"
#include "Loupes.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

constexpr QRgb kGreen = 0xFF008000u;
constexpr QRgb kRed = 0xFFFF0000u;

// A raster shown one pixel per device pixel with the calibrator over it, its lattice at (50, 50)
// with cells of 100 × 100: columns at 50, 150, 250, 350 and rows at 50, 150, 250.
struct TCalibratedWindow {
  TCalibratedWindow() : View(420, 320) { SetUp(); }
  // Over a raster of the layout.
  explicit TCalibratedWindow(const TBmpLayout& layout) : View(layout) { SetUp(); }
  void SetUp() {
    ShowWindow(View.Window, 420, 320);
    SetPixelView(View.Window, 1, {0, 0});
    Calibrator = new TGridCalibrator(View.Raster.get(), &Options, &UIContext);
    Calibrator->OnReplaceRaster = [this](std::unique_ptr<TRasterManager> raster) {
      View.Raster.swap(raster);
      return raster;
    };
    Hold = std::make_unique<TRefHolder<TGridCalibrator>>(Calibrator);
    View.Window.AttachEditor(Calibrator);
    TGridInfo grid;
    grid.SetSize(4, 3);
    grid.SetOrigin({50, 50});
    grid.SetStep({100, 100});
    Calibrator->ReplaceGrid(grid);
    // A click of the right button opens the menu of the node under it: closed again at once.
    QObject::connect(&View.Window.InternalPopup(), &QMenu::aboutToShow, [this] {
      QTimer::singleShot(0, &View.Window.InternalPopup(), &QMenu::close);
    });
    Flush();
  }

  QWindow* Handle() const { return View.Window.windowHandle(); }
  TGridInfo Grid() const { return Calibrator->Grid(); }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {}) {
    MoveMouse(View.Window, from);
    QTest::mousePress(Handle(), Qt::LeftButton, modifiers, from);
    MoveMouse(View.Window, (from + to) / 2);
    MoveMouse(View.Window, to);
    QTest::mouseRelease(Handle(), Qt::LeftButton, modifiers, to);
    Flush();
  }
  QRgb At(int x, int y) const { return View.Window.Surface().pixel(x, y); }

  TRasterWindow View;
  TGridCalibratorOptions Options;
  TAppUIContext UIContext;
  TGridCalibrator* Calibrator;
  std::unique_ptr<TRefHolder<TGridCalibrator>> Hold;
};

TGridInfo MovedNode(TGridInfo grid, int i, int j, TPoint offset) {
  grid.NodeAt(i, j).Offset = offset;
  return grid;
}

}  // namespace

TEST(GridCalibrator, HitTestPicksNodesThenColumnsThenRows) {
  TCalibratedWindow w;
  TGridCalibrator& c = *w.Calibrator;
  const double r = c.PickRadius();
  ASSERT_GT(r, 2);
  ASSERT_LT(r, 20);
  const auto hit = [&](TPoint p, TShiftState shift = 0) {
    const TGridCalibrator::THit h = c.HitTest(shift, p);
    return std::array<int, 4>{h.State, h.I, h.J, h.Line};
  };
  using A = std::array<int, 4>;
  EXPECT_EQ(hit({150, 150}), (A{1, 1, 1, 0}));
  EXPECT_EQ(hit({150, 150}, ssCtrl), (A{0, 0, 0, 0}));  // an unmoved node hides the lines
  EXPECT_EQ(hit({250, 100}), (A{5, 0, 0, 2}));
  EXPECT_EQ(hit({250, 100}, ssCtrl), (A{6, 0, 0, 2}));
  EXPECT_EQ(hit({50, 100}, ssCtrl), (A{0, 0, 0, 0}));  // the first column sizes nothing
  EXPECT_EQ(hit({100, 150}), (A{3, 0, 0, 1}));
  EXPECT_EQ(hit({100, 150}, ssCtrl), (A{4, 0, 0, 1}));
  EXPECT_EQ(hit({100, 50}, ssCtrl), (A{0, 0, 0, 0}));
  EXPECT_EQ(hit({150, 46}), (A{0, 0, 0, 0}));  // beside a column above the grid: no row either
  EXPECT_EQ(hit({100, 100}), (A{0, 0, 0, 0}));

  // Within reach of two nodes, the greater column wins, then the greater row.
  TGridInfo grid = MovedNode(w.Grid(), 1, 1, {97, 0});
  grid = MovedNode(grid, 2, 0, {0, 97});
  c.ReplaceGrid(grid);
  EXPECT_EQ(hit({249, 150}), (A{1, 2, 1, 0}));
  EXPECT_EQ(hit({249, 150}, ssCtrl), (A{0, 0, 0, 0}));
  EXPECT_EQ(hit({247, 147}, ssCtrl), (A{2, 2, 0, 0}));

  // The radius is a length on the screen: zoomed in twice, it covers half the pixels.
  SetPixelView(w.View.Window, 2, {0, 0});
  EXPECT_NEAR(c.PickRadius(), r / 2, 1e-9);
}

TEST(GridCalibrator, DragsMoveNodesAndLinesAndRoundHalvesToEven) {
  TCalibratedWindow w;
  w.Drag({150, 150}, {163, 171});
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{13, 21}));
  EXPECT_TRUE(w.Calibrator->HasChanges());
  // Released on its place, a node is no longer moved.
  w.Drag({163, 171}, {150, 150});
  EXPECT_FALSE(w.Grid().NodeAt(1, 1).IsMoved());

  w.Drag({100, 150}, {100, 170});
  EXPECT_EQ(w.Grid().Origin, (TPoint{50, 70}));
  w.Drag({200, 70}, {200, 50});  // row 0 back
  w.Drag({100, 250}, {100, 200}, Qt::ControlModifier);
  EXPECT_EQ(w.Grid().Step, (TPoint{100, 75}));  // row 2 through 150 below the top
  w.Drag({100, 200}, {100, 30}, Qt::ControlModifier);
  EXPECT_EQ(w.Grid().Step, (TPoint{100, 1}));
  w.Calibrator->Undo();
  w.Calibrator->Undo();
  EXPECT_EQ(w.Grid().Step, (TPoint{100, 100}));
  w.Drag({250, 100}, {175, 100}, Qt::ControlModifier);
  EXPECT_EQ(w.Grid().Step, (TPoint{62, 100}));  // (175 - 50) / 2 = 62.5
  w.Drag({174, 100}, {180, 100});
  EXPECT_EQ(w.Grid().Origin, (TPoint{56, 50}));
  // A moved node keeps its place on the raster when the lattice moves.
  w.Drag({118, 150}, {120, 160});
  const TPoint placed = w.Grid().NodePos(1, 1);
  w.Drag({180, 100}, {190, 100});
  EXPECT_EQ(w.Grid().NodePos(1, 1), placed);
}

TEST(GridCalibrator, FeedbackIsErasedExactlyWhenADragEndsOrIsCancelled) {
  TCalibratedWindow w;
  const QImage before = w.View.Window.Surface().copy();
  MoveMouse(w.View.Window, {150, 150});
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, {150, 150});
  MoveMouse(w.View.Window, {180, 175});
  EXPECT_NE(w.View.Window.Surface(), before);
  EXPECT_EQ(w.View.Window.EditorCursor(), GridCursorBase + 3);
  w.View.Window.setFocus();
  QTest::keyClick(w.Handle(), Qt::Key_Escape);
  EXPECT_EQ(w.Calibrator->DragState(), 0);
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, {180, 175});
  EXPECT_FALSE(w.Grid().NodeAt(1, 1).IsMoved());
  // The press selected the node; a second Esc lets it go, and the picture is as it was.
  EXPECT_EQ(w.Calibrator->Selected(), TPoint(1, 1));
  QTest::keyClick(w.Handle(), Qt::Key_Escape);
  Flush();
  EXPECT_FALSE(w.Calibrator->Selected());
  EXPECT_EQ(w.View.Window.Surface(), before);

  // Each line drag shows its own figure, and takes it away whole.
  for (const auto& [from, to, modifiers] :
       std::vector<std::tuple<QPoint, QPoint, Qt::KeyboardModifiers>>{
           {{100, 150}, {110, 190}, {}},
           {{100, 150}, {110, 190}, Qt::ControlModifier},
           {{250, 100}, {280, 110}, {}},
           {{250, 100}, {280, 110}, Qt::ControlModifier}}) {
    MoveMouse(w.View.Window, from);
    QTest::mousePress(w.Handle(), Qt::LeftButton, modifiers, from);
    MoveMouse(w.View.Window, to);
    EXPECT_NE(w.View.Window.Surface(), before);
    // The right button ends a drag without applying it.
    QTest::mousePress(w.Handle(), Qt::RightButton, modifiers, to);
    EXPECT_EQ(w.View.Window.Surface(), before);
    QTest::mouseRelease(w.Handle(), Qt::RightButton, modifiers, to);
    QTest::mouseRelease(w.Handle(), Qt::LeftButton, modifiers, to);
    Flush();
  }
  EXPECT_EQ(w.Grid().Origin, (TPoint{50, 50}));
  EXPECT_EQ(w.Grid().Step, (TPoint{100, 100}));
}

TEST(GridCalibrator, TheLayersAreDrawnWhereTheyBelong) {
  TCalibratedWindow w;
  w.Calibrator->ReplaceGrid(MovedNode(w.Grid(), 1, 1, {20, 0}));
  w.View.Window.Repaint();
  EXPECT_EQ(w.At(100, 50), kGreen);   // a row of the reference lattice
  EXPECT_EQ(w.At(250, 120), kGreen);  // a column
  EXPECT_EQ(w.At(200, 150), kRed);    // the moved node towards its right neighbour
  // and up to the node above it, from (170, 150) to (150, 50)
  EXPECT_TRUE(w.At(163, 120) == kRed || w.At(164, 120) == kRed || w.At(165, 120) == kRed);
  // The unmoved nodes carry green rings, the moved one a red ring; a dotted line joins it to its
  // reference position.
  const int r = static_cast<int>(w.Calibrator->PickRadius());
  const auto ringColour = [&](int x, int y) {
    for (int dx = -1; dx <= 1; ++dx)
      if (w.At(x + r + dx, y) == kGreen || w.At(x + r + dx, y) == kRed) return w.At(x + r + dx, y);
    return QRgb(0);
  };
  EXPECT_EQ(ringColour(250, 250), kGreen);
  EXPECT_EQ(ringColour(170, 150), kRed);
  int dotted = 0;
  for (int x = 152 + r; x < 168 - r; ++x) dotted += w.At(x, 150) == kRed;
  EXPECT_GT(dotted, 0);
  EXPECT_LT(dotted, 168 - 152 - 2 * r);
}

TEST(GridCalibrator, UndoAndRedoWalkTheEditsOfTheGrid) {
  TCalibratedWindow w;
  int changes = 0;
  w.Calibrator->OnGridChange = [&](TGridCalibrator*) { ++changes; };
  const TGridInfo start = w.Grid();
  w.Drag({150, 150}, {160, 160});
  w.Calibrator->ResetGrid();
  EXPECT_FALSE(w.Grid().NodeAt(1, 1).IsMoved());
  w.Calibrator->Undo();
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{10, 10}));
  w.Calibrator->Undo();
  EXPECT_EQ(w.Grid(), start);
  EXPECT_TRUE(w.Calibrator->CanRedo());
  w.Calibrator->Redo();
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{10, 10}));
  EXPECT_EQ(changes, 5);
  // The counts of cells are stated only by a grid with other counts.
  EXPECT_EQ(w.UIContext.CellXN->Value(), 3);
  EXPECT_EQ(w.Calibrator->UndoKind(), TEditKind::ekGrid);
}

TEST(GridCalibrator, FindingNodesMovesTheFoundOnesAsOneStepAndMarksTheRest) {
  TGridSheet sheet;
  sheet.Bend = 8;
  sheet.Clutter = 0.3;
  const TGridScan scan = MakeGridScan(sheet);
  TRasterWindow view(scan.Layout);
  ShowWindow(view.Window, 450, 350);
  TGridCalibratorOptions options;
  TAppUIContext context;
  auto* calibrator = new TGridCalibrator(view.Raster.get(), &options, &context);
  TRefHolder<TGridCalibrator> hold(calibrator);
  view.Window.AttachEditor(calibrator);
  constexpr double kZoom = 0.4;  // the whole sheet and the column beyond it in view
  SetPixelView(view.Window, kZoom, {0, 0});
  // One column more than the sheet prints: its nodes have nothing to be found on.
  TGridInfo lattice = scan.Lattice;
  lattice.SetSize(lattice.NX + 1, lattice.NY);
  calibrator->ReplaceGrid(lattice);

  const TNodeSearch search = calibrator->FindNodes();
  const TGridInfo& grid = calibrator->Grid();
  const int nx = scan.Lattice.NX;
  EXPECT_EQ(search.FoundCount(), nx * grid.NY);
  ASSERT_EQ(search.NotFound().size(), size_t(grid.NY));
  for (const TPoint& missed : search.NotFound()) EXPECT_EQ(missed.X, nx);
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < nx; ++i) {
      const TPoint p = grid.NodePos(i, j);
      EXPECT_NEAR(p.X, scan.X[i + j * nx], 1) << i << ", " << j;
      EXPECT_NEAR(p.Y, scan.Y[i + j * nx], 1) << i << ", " << j;
    }
  EXPECT_EQ(calibrator->MissedNodes(), search.NotFound());
  // How sure the search is of each node it found is kept for the marks, none for the others.
  ASSERT_EQ(calibrator->Sureness().size(), search.Nodes.size());
  for (size_t k = 0; k < search.Nodes.size(); ++k)
    if (search.Nodes[k].Finding == TNodeFinding::Found) {
      EXPECT_GT(calibrator->Sureness()[k], 0) << k;
      EXPECT_LE(calibrator->Sureness()[k], 1) << k;
    } else {
      EXPECT_LT(calibrator->Sureness()[k], 0) << k;
    }

  // The marks of the missed nodes are drawn in their own colour.
  view.Window.Repaint();
  const TPoint missed = grid.NodePos(nx, 1);
  const double ring = 2 * calibrator->PickRadius();
  int marked = 0;
  for (int dx = -1; dx <= 1; ++dx) {
    const int x = static_cast<int>((missed.X + ring) * kZoom) + dx;
    marked += (view.Window.Surface().pixel(x, int(missed.Y * kZoom)) & 0xFFFFFF) == 0xFF00FFu;
  }
  EXPECT_GT(marked, 0);

  // The search is one step back.
  calibrator->Undo();
  EXPECT_EQ(calibrator->Grid(), lattice);
  EXPECT_TRUE(calibrator->MissedNodes().empty());
  EXPECT_TRUE(calibrator->Sureness().empty());
  calibrator->Redo();
  EXPECT_EQ(calibrator->Grid().NodePos(0, 0), grid.NodePos(0, 0));
}

// A node placed by hand a few pixels off its crossing, among crossings the search finds: the
// search names it as one the others put elsewhere, the window marks it with a diamond in the
// colour of the missed nodes, and placing it again takes the mark away.
TEST(GridCalibrator, MarksTheNodesTheOtherCrossingsPutElsewhere) {
  const TGridScan scan = MakeGridScan(TGridSheet{});
  TRasterWindow view(scan.Layout);
  ShowWindow(view.Window, 450, 350);
  TGridCalibratorOptions options;
  TAppUIContext context;
  auto* calibrator = new TGridCalibrator(view.Raster.get(), &options, &context);
  TRefHolder<TGridCalibrator> hold(calibrator);
  view.Window.AttachEditor(calibrator);
  constexpr double kZoom = 0.4;
  SetPixelView(view.Window, kZoom, {0, 0});
  TGridInfo lattice = scan.Lattice;
  const int nx = lattice.NX;
  const TPoint truth{static_cast<int32_t>(std::lround(scan.X[2 + nx])),
                     static_cast<int32_t>(std::lround(scan.Y[2 + nx]))};
  const TPoint ref = lattice.RefPos(2, 1);
  lattice.NodeAt(2, 1).Offset = TPoint{truth.X + 9 - ref.X, truth.Y - 8 - ref.Y};
  calibrator->ReplaceGrid(lattice);

  const TNodeSearch search = calibrator->FindNodes();
  ASSERT_EQ(search.Disagreeing(), (std::vector<TPoint>{{2, 1}}));
  EXPECT_EQ(calibrator->DisagreeingNodes(), search.Disagreeing());
  view.Window.Repaint();
  const TPoint node = calibrator->Grid().NodePos(2, 1);
  const double corner = 2 * calibrator->PickRadius();
  int marked = 0;
  for (int dx = -1; dx <= 1; ++dx) {
    const int x = static_cast<int>((node.X + corner) * kZoom) + dx;
    marked += (view.Window.Surface().pixel(x, int(node.Y * kZoom)) & 0xFFFFFF) == 0xFF00FFu;
  }
  EXPECT_GT(marked, 0);
  EXPECT_TRUE(calibrator->SelectNextMissed());
  EXPECT_EQ(calibrator->Selected(), TPoint(2, 1));

  calibrator->PlaceNode(2, 1, truth);
  EXPECT_TRUE(calibrator->DisagreeingNodes().empty());
}

TEST(GridCalibrator, AClickSelectsANodeAndTheKeysPlaceItToThePixel) {
  TCalibratedWindow w;
  TGridCalibrator& c = *w.Calibrator;
  QStringList shown;
  w.View.Window.OnShowStatus = [&](TEditWindow*, const QString& text) { shown << text; };
  const TGridInfo start = w.Grid();
  // A click, even with the hand shaking a pixel, selects the node and moves nothing.
  MoveMouse(w.View.Window, {151, 149});
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, {151, 149});
  MoveMouse(w.View.Window, {152, 149});
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, {152, 149});
  EXPECT_EQ(c.Selected(), TPoint(1, 1));
  EXPECT_EQ(w.Grid(), start);
  EXPECT_EQ(shown.last(), QStringLiteral("Узел (1, 1): 150; 150 px, смещение 0; 0"));

  // One pixel per arrow, ten with Shift; each an edit of its own.
  QTest::keyClick(w.Handle(), Qt::Key_Right);
  QTest::keyClick(w.Handle(), Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(w.Handle(), Qt::Key_Up);
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{1, 9}));
  EXPECT_EQ(shown.last(), QStringLiteral("Узел (1, 1): 151; 159 px, смещение +1; +9"));
  c.Undo();
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{1, 10}));
  EXPECT_EQ(shown.last(), QStringLiteral("Узел (1, 1): 151; 160 px, смещение +1; +10"));
  c.Undo();
  c.Undo();
  EXPECT_EQ(w.Grid(), start);
  QTest::keyClick(w.Handle(), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(shown.last(), QStringLiteral("Узел (1, 1): 140; 150 px, смещение −10; 0"));
  // Delete puts it back, as an edit too.
  QTest::keyClick(w.Handle(), Qt::Key_Delete);
  EXPECT_EQ(w.Grid(), start);
  c.Undo();
  EXPECT_EQ(w.Grid().NodeAt(1, 1).Offset, (TPoint{-10, 0}));

  // Tab walks the nodes row by row, round the grid; Shift+Tab walks back.
  QTest::keyClick(w.Handle(), Qt::Key_Tab);
  EXPECT_EQ(c.Selected(), TPoint(2, 1));
  QTest::keyClick(w.Handle(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(c.Selected(), TPoint(1, 1));
  c.Select(TPoint{3, 2});
  QTest::keyClick(w.Handle(), Qt::Key_Tab);
  EXPECT_EQ(c.Selected(), TPoint(0, 0));
  EXPECT_EQ(shown.last(), QStringLiteral("Узел (0, 0): 50; 50 px, смещение 0; 0"));

  // Esc lets the node go: the arrows are the view's again, and the status says nothing.
  QTest::keyClick(w.Handle(), Qt::Key_Escape);
  EXPECT_FALSE(c.Selected());
  EXPECT_EQ(shown.last(), QString());
  const TGridInfo before = w.Grid();
  QTest::keyClick(w.Handle(), Qt::Key_Right);
  EXPECT_EQ(w.Grid(), before);
  // A click on nothing lets a node go too.
  c.Select(TPoint{1, 0});
  MoveMouse(w.View.Window, {100, 100});
  QTest::mouseClick(w.Handle(), Qt::LeftButton, {}, {100, 100});
  EXPECT_FALSE(c.Selected());
}

TEST(GridCalibrator, ANodeLandsOnThePixelTheWindowShowsUnderThePointer) {
  // Every pixel its own colour, seen at zooms where device and raster pixels do not line up.
  TBmpLayout layout{420, 320, 24, {}};
  layout.Pixel = [](int x, int y) { return uint32_t(x) | uint32_t(y) << 12; };
  TCalibratedWindow w(layout);
  TEditWindow& window = w.View.Window;
  const TGridInfo start = w.Grid();
  for (const double zoom : {2.52, 1.12, 1.0, 0.6}) {
    SetPixelView(window, zoom, {30.3, 40.7});
    Flush();
    for (const QPoint pointer : {QPoint(150, 130), QPoint(151, 131), QPoint(203, 97)}) {
      w.Calibrator->ReplaceGrid(start);
      const TPoint node = w.Grid().NodePos(0, 0);
      const TPoint grip = TNodePlaces(window.Device()).Device(node);
      // What the window shows at the pointer before anything is dragged there.
      window.Repaint();
      const QRgb under = w.At(pointer.x(), pointer.y());
      w.Drag(QPoint(grip.X, grip.Y), pointer);
      const TPoint placed = w.Grid().NodePos(0, 0);
      EXPECT_EQ(placed, window.Device().WorldPixelAt({pointer.x(), pointer.y()})) << zoom;
      if (zoom >= 1) {
        EXPECT_EQ(under, ColorToQColor(w.View.Raster->GetPixel(placed.X, placed.Y)).rgb()) << zoom;
      }
    }
  }
}

TEST(GridCalibrator, FoldedCellsAreMarkedAndRefusedBeforeCalibrating) {
  TCalibratedWindow w;
  TGridCalibrator& c = *w.Calibrator;
  // Node (1, 1) dragged past its right neighbour turns the cells right of it inside out.
  w.Drag({150, 150}, {270, 150});
  EXPECT_EQ(c.Folded(), (std::vector<TPoint>{{1, 0}, {1, 1}}));
  // Hatched between the top edge, the column and the line that crosses back.
  int marked = 0;
  for (int y = 55; y < 95; ++y)
    for (int x = 215; x < 245; ++x) marked += w.At(x, y) == 0xFFFF00FFu;
  EXPECT_GT(marked, 100);

  std::vector<uint32_t> pixels;
  for (int x = 0; x < 420; x += 7) pixels.push_back(w.View.Raster->GetPixel(x, 150));
  try {
    c.Calibrate();
    ADD_FAILURE() << "a folded grid calibrated";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              QStringLiteral("Калибровка невозможна. Сетка перекручена: в ячейках (1, 0), (1, 1) "
                             "узел перетащен за соседний, и калибровка отразила бы растр. "
                             "Поставьте узлы этих ячеек на место."));
  }
  EXPECT_EQ(w.UIContext.CalibrationInProgress->Value(), 0);
  for (int x = 0, k = 0; x < 420; x += 7, ++k)
    EXPECT_EQ(w.View.Raster->GetPixel(x, 150), pixels[k]);
  // Put right, the grid calibrates and the marks are gone.
  c.Undo();
  EXPECT_TRUE(c.Folded().empty());
  EXPECT_NO_THROW(c.Calibrate());
  Flush();
  marked = 0;
  for (int y = 55; y < 95; ++y)
    for (int x = 215; x < 245; ++x) marked += w.At(x, y) == 0xFFFF00FFu;
  EXPECT_EQ(marked, 0);
}

TEST(GridCalibrator, TheLoupeMagnifiesThePointersPixelsWhileDraggingAndWhileZIsHeld) {
  TCalibratedWindow w;
  TEditWindow& window = w.View.Window;
  const TLoupe& loupe = *w.Calibrator->Loupe();
  const QImage surface = window.Surface().copy();
  EXPECT_FALSE(loupe.isVisible());
  MoveMouse(window, {150, 150});
  QTest::mousePress(w.Handle(), Qt::LeftButton, {}, {150, 150});
  EXPECT_FALSE(loupe.isVisible());  // a press may be a click
  MoveMouse(window, {180, 175});
  ASSERT_TRUE(loupe.isVisible());
  // Beside the pointer, never over it; eight times the view, the pointer's pixel in the middle.
  EXPECT_FALSE(loupe.geometry().contains(QPoint(180, 175)));
  EXPECT_NEAR(loupe.PixelsPerUnit(), 8, 1e-9);
  EXPECT_EQ(loupe.Pixel(), (TPoint{180, 175}));
  const QImage& picture = loupe.Picture();
  const int middle = picture.width() / 2;
  EXPECT_EQ(picture.pixel(middle + 2, middle + 2) & 0xFFFFFF,
            ColorToQColor(w.View.Raster->GetPixel(180, 175)).rgb() & 0xFFFFFF);
  // The lines from the neighbours reach the pixel, the pixel is framed.
  EXPECT_EQ(picture.pixel(middle - 6, middle - 6), 0xFF000000u);
  // The surface never carries the loupe: moving it leaves no trace.
  MoveMouse(window, {400, 20});
  EXPECT_FALSE(loupe.geometry().contains(QPoint(400, 20)));
  EXPECT_LT(loupe.geometry().right(), 400);
  EXPECT_GT(loupe.geometry().top(), 20);
  QTest::mouseRelease(w.Handle(), Qt::LeftButton, {}, {400, 20});
  Flush();
  EXPECT_FALSE(loupe.isVisible());
  w.Calibrator->Undo();
  w.Calibrator->Select(std::nullopt);
  Flush();
  EXPECT_EQ(Differences(window.Surface(), surface), 0);

  // Z shows it wherever the pointer is, until it is let go.
  MoveMouse(window, {300, 200});
  QTest::keyPress(w.Handle(), Qt::Key_Z);
  EXPECT_TRUE(loupe.isVisible());
  EXPECT_EQ(loupe.Pixel(), (TPoint{300, 200}));
  MoveMouse(window, {310, 210});
  EXPECT_EQ(loupe.Pixel(), (TPoint{310, 210}));
  QTest::keyRelease(w.Handle(), Qt::Key_Z);
  EXPECT_FALSE(loupe.isVisible());
}

TEST(GridCalibrator, MarksAndTheReachOfAClickKeepTheirSizeOnAScaledScreen) {
  TCalibratedWindow w;
  // A millimetre on an ordinary screen of 96 dots per inch, or more: a scaled screen has the
  // ratio's times the pixels of an ordinary one on each inch.
  const qreal ratio = w.View.Window.devicePixelRatioF();
  const double logical = w.Calibrator->PickRadius() / ratio;
  EXPECT_GE(logical, 96 / 25.4 - 0.05);
  EXPECT_LT(logical, 4.5);
}

TEST(GridCalibrator, AClipToTheGridsFrameKeepsTheGridWithItsNodesOnThePicture) {
  TCalibratedWindow w;
  TGridCalibrator& c = *w.Calibrator;
  int changes = 0;
  c.OnRasterChanged = [&](TGridCalibrator*) { ++changes; };
  w.Drag({150, 150}, {163, 171});
  const TPoint placed = w.Grid().NodePos(1, 1);
  const uint32_t under = w.View.Raster->GetPixel(placed.X, placed.Y);
  c.ClipToGridFrame();
  EXPECT_EQ(changes, 1);
  // The last node's pixel is the picture's last.
  EXPECT_EQ(w.View.Raster->Width(), 301);
  EXPECT_EQ(w.View.Raster->Height(), 201);
  EXPECT_EQ(w.Grid().Origin, (TPoint{0, 0}));
  EXPECT_EQ(w.Grid().Step, (TPoint{100, 100}));
  EXPECT_EQ(w.Grid().NodePos(1, 1), (TPoint{placed.X - 50, placed.Y - 50}));
  EXPECT_EQ(w.View.Raster->GetPixel(placed.X - 50, placed.Y - 50), under);
  EXPECT_EQ(c.UndoKind(), TEditKind::ekClip);
  EXPECT_EQ(w.UIContext.ClipInProgress->Value(), 0);
  // The frame is the whole raster now: nothing more to cut.
  c.ClipToGridFrame();
  EXPECT_EQ(changes, 1);
}

namespace {

std::vector<uint32_t> Pixels(TRasterManager& raster) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) pixels.push_back(raster.GetPixel(x, y));
  return pixels;
}

}  // namespace

TEST(GridCalibrator, CalibrationsAndClipsAreUndoneAndRedoneInOrderWithTheEditsOfTheGrid) {
  TCalibratedWindow w;
  const std::vector<uint32_t> scanned = Pixels(*w.View.Raster);
  const TGridInfo lattice = w.Grid();
  TRasterManager* original = w.View.Raster.get();
  w.Drag({150, 150}, {163, 158});
  const TGridInfo dragged = w.Grid();
  w.Calibrator->Calibrate();
  EXPECT_NE(w.View.Raster.get(), original);
  EXPECT_EQ(w.Calibrator->Raster(), w.View.Raster.get());
  const std::vector<uint32_t> calibrated = Pixels(*w.View.Raster);
  EXPECT_NE(calibrated, scanned);
  EXPECT_EQ(w.Grid(), dragged);
  EXPECT_EQ(w.Calibrator->UndoKind(), TEditKind::ekCalibration);
  // The raster as it was waits aside, none of its pixels in memory.
  EXPECT_TRUE(original->Cache().LoadedParts().empty());

  TGridInfo frame;
  frame.SetSize(2, 2);
  frame.SetOrigin({60, 40});
  frame.SetStep({200, 150});
  w.Calibrator->ReplaceGrid(frame);
  w.Calibrator->ClipToGrid();
  ASSERT_EQ(w.View.Raster->Width(), 200);
  const std::vector<uint32_t> clipped = Pixels(*w.View.Raster);
  const TGridInfo moved = w.Grid();
  EXPECT_EQ(moved.Origin, (TPoint{0, 0}));
  EXPECT_EQ(w.Calibrator->UndoKind(), TEditKind::ekClip);
  // The resolution set afterwards, and the name the raster was saved under, stay with the
  // document through every undo and redo.
  w.View.Raster->SetXPelsPerMeter(5000);
  w.View.Raster->SetFileName("/somewhere/saved.bmp");

  const auto at = [&](const std::vector<uint32_t>& pixels, const TGridInfo& grid) {
    EXPECT_EQ(Pixels(*w.View.Raster), pixels);
    EXPECT_EQ(w.Grid(), grid);
    EXPECT_EQ(w.Calibrator->Raster(), w.View.Raster.get());
    EXPECT_EQ(w.View.Raster->XPelsPerMeter(), 5000);
    EXPECT_EQ(w.View.Raster->FileName(), "/somewhere/saved.bmp");
  };
  w.Calibrator->Undo();
  at(calibrated, frame);
  EXPECT_EQ(w.Calibrator->RedoKind(), TEditKind::ekClip);
  w.Calibrator->Undo();
  at(calibrated, dragged);
  w.Calibrator->Undo();
  at(scanned, dragged);
  EXPECT_EQ(w.View.Raster.get(), original);
  w.Calibrator->Undo();
  at(scanned, lattice);
  for (int k = 0; k < 4; ++k) w.Calibrator->Redo();
  at(clipped, moved);
  EXPECT_FALSE(w.Calibrator->CanRedo());
}

TEST(GridCalibrator, TheLastThreeRasterStepsAreKept) {
  TCalibratedWindow w;
  std::vector<std::vector<uint32_t>> before;
  for (int k = 0; k < 4; ++k) {
    w.Calibrator->ReplaceGrid(MovedNode(w.Grid(), 1, 1, {5 + 3 * k, 4 - k}));
    before.push_back(Pixels(*w.View.Raster));
    w.Calibrator->Calibrate();
  }
  int undone = 0;
  while (w.Calibrator->CanUndo()) {
    w.Calibrator->Undo();
    if (w.Calibrator->RedoKind() == TEditKind::ekCalibration) {
      ++undone;
      EXPECT_EQ(Pixels(*w.View.Raster), before[before.size() - undone]) << undone;
    }
  }
  EXPECT_EQ(undone, TCalibratorHistory::MaxRasters);
}
