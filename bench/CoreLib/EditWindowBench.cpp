// The edit window over a 20000 × 20000 8-bit raster in a 1600 × 1000 window, the default cache:
// what each step of looking around costs. A scroll by 24 pixels against a full repaint (with the
// area each repaints), an overlay moved (the rubber band erased and drawn), a move of a hand drag,
// an auto-scroll tick, and a wheel zoom step fitted and at 1:1. With the grid calibrator and a grid
// of 50 × 50 cells: each move of a node's drag (its feedback erased and drawn, the loupe beside
// the pointer drawn and shown), fitted and at the working zoom of placing nodes; a step of the
// selected node by an arrow key with the table of the nodes following; and a repaint of the
// fitted view with the grid's layers.
#include "AppUIContext.h"
#include "BenchRasters.h"
#include "BmpFiles.h"
#include "Cursors.h"
#include "GridCalibrator.h"
#include "GridNodesDocks.h"
#include "InEditors.h"
#include "Loupes.h"
#include "Navigators.h"
#include "PageRectSelectors.h"
#include "RasterManagers.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableView>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kSize = 20000;
constexpr int kWidth = 1600;
constexpr int kHeight = 1000;

// A window showing the raster as the program does, with its navigator.
struct TBenchWindow {
  TBenchWindow() : Raster(&Provider, 5120 * 1024, nullptr) {
    RegisterBmpFormat(&Provider);
    const QString name = Dir.filePath(QStringLiteral("big.bmp"));
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    file.write(BenchBmpHeader(kSize, 8));
    QByteArray row(kSize, '\0');
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x)
        row[x] = static_cast<char>(x % 250 == 0 || y % 250 == 0 ? 0 : 100 + (x ^ y) % 150);
      file.write(row);
    }
    file.close();
    Raster.Pictures();
    Raster.Open(name);
    Window.OnPaint = [this](TDeviceInfo& device, TCanvas& canvas) {
      ResetCanvas(canvas);
      Raster.Draw(device, canvas);
    };
    Navigator = new TMatrixProjectionNavigator;
    Window.AttachEditor(Navigator);
    Navigator->SetFlipY(true);
    Window.resize(kWidth, kHeight);
    Window.show();
    QCoreApplication::processEvents();
    OneToOne();
  }

  void OneToOne() {
    Navigator->SetView({kSize / 2.0, kSize / 2.0}, false, 1 / Window.Device().BaseScaleX());
    Window.Update();
  }
  void Fitted() {
    Navigator->FitWorldRect({0, 0, double(kSize), double(kSize)}, 2);
    Window.Update();
  }
  void Mouse(QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
    QMouseEvent event(type, p, Window.mapToGlobal(p),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, {});
    QApplication::sendEvent(&Window, &event);
  }

  QTemporaryDir Dir;
  TLocalFileProvider Provider;
  TRasterManager Raster;
  TEditWindow Window;
  TMatrixProjectionNavigator* Navigator = nullptr;
};

TBenchWindow& Bench() {
  static auto* bench = new TBenchWindow;
  return *bench;
}

int64_t Area(const QRegion& region) {
  int64_t area = 0;
  for (const QRect& r : region) area += int64_t(r.width()) * r.height();
  return area;
}

void ScrollStrip(benchmark::State& state) {
  TBenchWindow& b = Bench();
  b.OneToOne();
  int direction = 1;
  int64_t area = 0;
  for (auto _ : state) {
    b.Window.ScrollBy(24 * direction, 0);
    area = Area(b.Window.InvalidRegion());
    b.Window.Update();
    direction = -direction;
  }
  state.counters["repainted_px"] = double(area);
}

void FullRepaint(benchmark::State& state, bool fitted) {
  TBenchWindow& b = Bench();
  fitted ? b.Fitted() : b.OneToOne();
  for (auto _ : state) b.Window.Repaint();
  state.counters["repainted_px"] = double(kWidth) * kHeight;
}

void OverlayMove(benchmark::State& state) {
  TBenchWindow& b = Bench();
  b.OneToOne();
  auto* selector = new TPageRectSelector(EditCursorBase + 9, nullptr, nullptr);
  b.Window.AttachEditor(selector);
  b.Mouse(QEvent::MouseButtonPress, QPoint(200, 200), Qt::LeftButton);
  int x = 600;
  for (auto _ : state) {
    b.Mouse(QEvent::MouseMove, QPoint(x, 700), Qt::LeftButton);
    x = x == 600 ? 900 : 600;
  }
  b.Mouse(QEvent::MouseButtonRelease, QPoint(x, 700), Qt::NoButton);
  b.Window.DetachEditor(selector);
  b.OneToOne();
}

void HandMove(benchmark::State& state) {
  TBenchWindow& b = Bench();
  b.OneToOne();
  b.Navigator->StartHandMode(false);
  b.Mouse(QEvent::MouseButtonPress, QPoint(800, 500), Qt::LeftButton);
  int x = 830;
  for (auto _ : state) {
    b.Mouse(QEvent::MouseMove, QPoint(x, 520), Qt::LeftButton);
    x = x == 830 ? 770 : 830;
  }
  b.Mouse(QEvent::MouseButtonRelease, QPoint(800, 500), Qt::NoButton);
  b.Navigator->EndHandMode();
}

void AutoScrollTick(benchmark::State& state) {
  TBenchWindow& b = Bench();
  b.OneToOne();
  b.Mouse(QEvent::MouseButtonPress, QPoint(5, 500), Qt::LeftButton);
  int ticks = 0;
  for (auto _ : state) {
    b.Navigator->Timer();
    b.Window.Update();
    // Back to the middle before the view leaves the raster.
    if (++ticks % 300 == 0) {
      state.PauseTiming();
      b.OneToOne();
      state.ResumeTiming();
    }
  }
  b.Mouse(QEvent::MouseButtonRelease, QPoint(5, 500), Qt::NoButton);
}

void WheelZoom(benchmark::State& state, bool fitted) {
  TBenchWindow& b = Bench();
  fitted ? b.Fitted() : b.OneToOne();
  const QPoint at(700, 400);
  int delta = 120;
  for (auto _ : state) {
    QWheelEvent event(at, b.Window.mapToGlobal(at), {}, QPoint(0, delta), {}, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(&b.Window, &event);
    b.Window.Update();
    delta = -delta;
  }
}

// The calibrator over the raster with a grid of 50 × 50 cells whose nodes are all moved a little.
struct TCalibrated {
  explicit TCalibrated(TBenchWindow& b) : Bench(b) {
    Calibrator = new TGridCalibrator(&b.Raster, &Options, &UIContext);
    b.Window.AttachEditor(Calibrator);
    TGridInfo grid;
    grid.SetSize(51, 51);
    grid.SetOrigin({200, 200});
    grid.SetStep({392, 392});
    for (int j = 0; j < 51; ++j)
      for (int i = 0; i < 51; ++i) grid.NodeAt(i, j).Offset = {(i * 7) % 11 - 5, (j * 5) % 9 - 4};
    Calibrator->ReplaceGrid(grid);
  }
  ~TCalibrated() { Bench.Window.DetachEditor(Calibrator); }

  TBenchWindow& Bench;
  TGridCalibratorOptions Options;
  TAppUIContext UIContext;
  TGridCalibrator* Calibrator;
};

void GridDragMove(benchmark::State& state, double pixelsPerUnit) {
  TBenchWindow& b = Bench();
  TCalibrated calibrated(b);
  const TPoint n = calibrated.Calibrator->Grid().NodePos(25, 25);
  if (pixelsPerUnit > 0)
    b.Navigator->SetView({n.X + 0.5, n.Y + 0.5}, false,
                         pixelsPerUnit / b.Window.Device().BaseScaleX());
  else
    b.Fitted();
  b.Window.Update();
  // Node (25, 25) of the grid, where the view shows it.
  const TPoint node = TNodePlaces(b.Window.Device()).Device(n);
  b.Mouse(QEvent::MouseButtonPress, QPoint(node.X, node.Y), Qt::LeftButton);
  int dx = 30;
  for (auto _ : state) {
    b.Mouse(QEvent::MouseMove, QPoint(node.X + dx, node.Y + 10), Qt::LeftButton);
    // The loupe's own paint, as the window system asks for it.
    QCoreApplication::processEvents();
    dx = -dx;
  }
  state.counters["node_dragged"] = calibrated.Calibrator->DragState() == 1;
  state.counters["loupe_shown"] = calibrated.Calibrator->Loupe()->isVisible();
  calibrated.Calibrator->Cancel();
  b.Mouse(QEvent::MouseButtonRelease, QPoint(node.X, node.Y), Qt::NoButton);
}

void NodeStepWithTable(benchmark::State& state) {
  TBenchWindow& b = Bench();
  TCalibrated calibrated(b);
  TGridCalibrator& calibrator = *calibrated.Calibrator;
  TGridNodesDock dock;
  dock.resize(900, 300);
  dock.show();
  dock.SetCalibrator(&calibrator);
  calibrator.OnGridChange = [&](TGridCalibrator*) { dock.GridChanged(); };
  calibrator.OnSelectionChange = [&](TGridCalibrator*) { dock.SelectionChanged(); };
  calibrator.Select(TPoint{25, 25});
  const TPoint n = calibrator.Grid().NodePos(25, 25);
  b.Navigator->SetView({n.X + 0.5, n.Y + 0.5}, false, 4 / b.Window.Device().BaseScaleX());
  b.Window.Update();
  QCoreApplication::processEvents();
  Qt::Key key = Qt::Key_Right;
  for (auto _ : state) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&b.Window, &press);
    b.Window.Update();
    QCoreApplication::processEvents();
    key = key == Qt::Key_Right ? Qt::Key_Left : Qt::Key_Right;
  }
  state.counters["rows"] = dock.Table().model()->rowCount();
  calibrator.OnGridChange = nullptr;
  calibrator.OnSelectionChange = nullptr;
}

void GridRepaint(benchmark::State& state) {
  TBenchWindow& b = Bench();
  b.Fitted();
  TCalibrated calibrated(b);
  for (auto _ : state) b.Window.Repaint();
}

}  // namespace

BENCHMARK(ScrollStrip)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullRepaint, one_to_one, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullRepaint, fitted, true)->Unit(benchmark::kMillisecond);
BENCHMARK(OverlayMove)->Unit(benchmark::kMicrosecond);
BENCHMARK(HandMove)->Unit(benchmark::kMillisecond);
BENCHMARK(AutoScrollTick)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WheelZoom, one_to_one, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WheelZoom, fitted, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GridDragMove, fitted, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(GridDragMove, working_zoom, 4.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(NodeStepWithTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(GridRepaint)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  RegisterProgramCursors();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
