// The window's long work on its own thread: what stays possible while it runs, how it is stopped,
// and what a stopped work leaves behind.
#include "CalibrateRaster.h"
#include "GridCalibrator.h"
#include "GridFiles.h"
#include "MainFormTestUtils.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

namespace {

void Sleep() {
  std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// Every pixel, row by row.
std::vector<uint32_t> Pixels(TRasterManager& raster) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) pixels.push_back(raster.GetPixel(x, y));
  return pixels;
}

// The pixels one calibration of the raster as it is now gives.
std::vector<uint32_t> CalibratedOnce(TRasterManager& raster, const TGridInfo& grid) {
  TRasterManager copy(raster.Provider(), raster.CacheSize(), nullptr);
  copy.CopyFrom(raster);
  CalibrateRaster(copy, grid);
  return Pixels(copy);
}

// A grid of 2 × 2 cells whose middle node the scan shows elsewhere.
TGridInfo BentGrid() {
  TGridInfo grid;
  grid.SetSize(3, 3);
  grid.SetOrigin({50, 40});
  grid.SetStep({100, 60});
  grid.NodeAt(1, 1).Offset = {-20, -10};
  return grid;
}

// Closes every message box that opens, keeping its text: an error box must not stop a test.
class TBoxWatch {
 public:
  TBoxWatch() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Texts << box->text();
        box->reject();
      }
    });
    FTimer.start(5);
  }
  QStringList Texts;

 private:
  QTimer FTimer;
};

// A BMP dragged over the window: whether the window would take it.
bool DragAccepted(TMainForm& form, QMimeData& data) {
  QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &enter);
  QDragMoveEvent move(QPoint(310, 200), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &move);
  return enter.isAccepted() || move.isAccepted();
}

// The BMP dragged over the window and dropped: true when the window refused it at every step.
bool DropRefused(TMainForm& form, const QString& name) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(name)});
  if (DragAccepted(form, data)) return false;
  QDropEvent drop(QPointF(310, 200), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &drop);
  QCoreApplication::processEvents();
  return !drop.isAccepted();
}

// Where a raster pixel lies in the main window, for the mouse.
QPoint OnWindow(TMainForm& form, TPoint pixel) {
  const QPointF device = form.EditWindow()->Device().WorldToDeviceTransform().map(
      QPointF(pixel.X + 0.5, pixel.Y + 0.5));
  return form.EditWindow()->mapTo(&form, device.toPoint());
}

// Work that reports until it is asked to stop.
void ReportUntilCancelled(TStatusInfo& status) {
  TProgress progress(&status, "Проверка...");
  for (int percent = 0;; percent = (percent + 1) % 100) {
    progress.ShowPercent(percent);
    Sleep();
  }
}

// Clicks "Отменить", as the user does, while the operation shows a percentage between 20 and 80:
// the work is stopped in its middle, with part of its result written, neither at its first report
// nor after its last.
class TCancelInTheMiddle {
 public:
  TCancelInTheMiddle(TMainForm& form, const QString& operation) {
    QObject::connect(&FTimer, &QTimer::timeout, [this, &form, operation] {
      const QString shown = form.ReadStatusText(TStatusInfo::PercentSlot);
      const int percent = shown.chopped(1).toInt();
      if (Pressed || !form.WorkRunning() ||
          form.ReadStatusText(TStatusInfo::OperationSlot) != operation || shown.isEmpty() ||
          percent < 20 || percent > 80)
        return;
      Control<QToolButton>(&form, "CancelWorkBtn")->click();
      Pressed = true;
    });
    FTimer.start(1);
  }
  bool Pressed = false;

 private:
  QTimer FTimer;
};

// The grid as its file holds it.
QByteArray GridBytes(const TGridInfo& grid, const QString& name) {
  WriteGridFile(name, grid);
  return ReadFile(name);
}

}  // namespace

TEST(MainFormWork, WhileWorkRunsNothingThatCouldChangeTheRasterOrTheGridStarts) {
  TForm f;
  TWatchedForm& form = f.Form;
  form.Calibrator()->ReplaceGrid(BentGrid());
  const TGridInfo grid = form.Calibrator()->Grid();
  const std::vector<uint32_t> expected = CalibratedOnce(*form.Raster(), grid);
  const QString other = WriteScan(f.Dir.filePath("other.bmp"), 40, 30);
  form.EditWindow()->Repaint();
  const QImage shown = form.EditWindow()->Surface().copy();
  std::atomic<bool> go{false};
  form.Before = [&] {
    while (!go) Sleep();
  };
  bool looked = false;
  QTimer::singleShot(0, [&] {
    for (const char* name : {"OpenMenu",
                             "OpenBtn",
                             "CloseMenu",
                             "SaveMenu",
                             "SaveBtn",
                             "SaveAsMenu",
                             "PropertiesMenu",
                             "CalibrateMenu",
                             "CalibrateBtn",
                             "CalibrateParamsBtn",
                             "CalibrateParamsMenu",
                             "CalibrateResetBtn",
                             "CalibrateResetMenu",
                             "CalibrateBeginBtn",
                             "CalibrateBeginMenu",
                             "FindNodesMenu",
                             "FindNodesBtn",
                             "ClipImageBtn",
                             "ClipImageMenu",
                             "OpenGridMenu",
                             "SaveGridMenu",
                             "UndoMenu",
                             "RedoMenu"})
      EXPECT_FALSE(Enabled(form, name)) << name;
    // Looking around stays: the window draws the raster's last picture.
    for (const char* name : {"ZoomInMenu", "ZoomAllBtn", "ScrollByHandBtn", "HelpTopicMenu",
                             "AboutMenu", "ExitMenu", "CancelWorkBtn"})
      EXPECT_TRUE(Enabled(form, name)) << name;
    EXPECT_TRUE(Control<QToolButton>(&form, "CancelWorkBtn")->isVisible());
    form.EditWindow()->Repaint();
    EXPECT_EQ(form.EditWindow()->Surface(), shown);
    // F9 again, by the key and by a command that was waiting.
    QTest::keyClick(form.windowHandle(), Qt::Key_F9);
    form.CalibrateBeginBtnClick();
    EXPECT_TRUE(DropRefused(form, other));
    // The grid cannot be dragged.
    const QPoint node = OnWindow(form, grid.NodePos(1, 1));
    QTest::mousePress(form.windowHandle(), Qt::LeftButton, {}, node);
    QTest::mouseMove(form.windowHandle(), node + QPoint(15, 12));
    QTest::mouseRelease(form.windowHandle(), Qt::LeftButton, {}, node + QPoint(15, 12));
    form.ZoomInMenuClick();
    form.EditWindow()->Repaint();
    EXPECT_NE(form.EditWindow()->Surface(), shown);
    looked = true;
    go = true;
  });
  Control<QToolButton>(&form, "CalibrateBeginBtn")->click();
  EXPECT_TRUE(looked);
  EXPECT_EQ(form.Works, QStringList({"открытие растра", "калибровку"}));
  EXPECT_EQ(Pixels(*form.Raster()), expected);
  EXPECT_EQ(form.Calibrator()->Grid(), grid);
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  EXPECT_TRUE(Enabled(form, "SaveMenu"));
  EXPECT_TRUE(Enabled(form, "CalibrateBeginBtn"));
  EXPECT_FALSE(Control<QToolButton>(&form, "CancelWorkBtn")->isVisible());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(other)});
  EXPECT_TRUE(DragAccepted(form, data));
}

TEST(MainFormWork, EscOrTheCancelButtonStopsTheWork) {
  TForm f;
  TMainForm& form = f.Form;
  TStatusInfo& status = *form.Raster()->StatusInfo();
  for (const bool byKey : {true, false}) {
    QTimer::singleShot(0, [&] {
      if (byKey)
        QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
      else
        Control<QToolButton>(&form, "CancelWorkBtn")->click();
    });
    EXPECT_THROW(form.RunWork("проверку", [&] { ReportUntilCancelled(status); }), ECancelled);
    EXPECT_FALSE(form.WorkRunning());
    EXPECT_EQ(form.UIContext().WorkInProgress->Value(), 0);
    EXPECT_FALSE(Control<QToolButton>(&form, "CancelWorkBtn")->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.ReadStatusText(3), "");
  }
  // Without work, Esc is the tools' key again.
  EXPECT_FALSE(Enabled(form, "CancelWorkAction"));
}

TEST(MainFormWork, StoppedWorkLeavesTheRasterTheGridAndTheFilesAsTheyWere) {
  TForm f;
  TWatchedForm& form = f.Form;
  TGridInfo cell = BentGrid();
  cell.SetSize(2, 2);
  form.Calibrator()->ReplaceGrid(cell);
  const TGridInfo grid = form.Calibrator()->Grid();
  TRasterManager* raster = form.Raster();
  const std::vector<uint32_t> pixels = Pixels(*raster);
  TStatusInfo& status = *raster->StatusInfo();
  // Esc reaches each work at its first report.
  form.Before = [&] { status.RequestCancel(); };
  TBoxWatch boxes;
  const auto unchanged = [&](const char* what) {
    EXPECT_EQ(form.Raster(), raster) << what;
    EXPECT_EQ(Pixels(*form.Raster()), pixels) << what;
    EXPECT_EQ(form.Calibrator()->Grid(), grid) << what;
    EXPECT_FALSE(form.Modified()) << what;
    EXPECT_TRUE(form.Calibrator()->MissedNodes().empty()) << what;
    EXPECT_EQ(form.UIContext().CalibrationInProgress->Value(), 0) << what;
    EXPECT_EQ(form.UIContext().ClipInProgress->Value(), 0) << what;
  };
  Control<QToolButton>(&form, "CalibrateBeginBtn")->click();
  unchanged("calibrate");
  EXPECT_TRUE(Enabled(form, "UndoMenu"));
  Control<QToolButton>(&form, "ClipImageBtn")->click();
  unchanged("clip");
  Control<QToolButton>(&form, "FindNodesBtn")->click();
  unchanged("find");

  const QString target = f.Dir.filePath("target.bmp");
  WriteFile(target, "the user's old file");
  AnswerSaveDialog(target);
  WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  form.findChild<QAction*>("SaveAsMenu")->trigger();
  unchanged("save");
  EXPECT_EQ(ReadFile(target), "the user's old file");
  EXPECT_FALSE(QFileInfo::exists(f.Dir.filePath("target.~bm")));
  EXPECT_FALSE(form.NameConfirmed());
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  EXPECT_EQ(form.Works, QStringList({"открытие растра", "калибровку", "обрезку растра",
                                     "поиск узлов", "сохранение растра"}));
  // None of it is an error to report.
  EXPECT_EQ(boxes.Texts, QStringList());
}

TEST(MainFormWork, ClosingDuringWorkAsksToStopItAndClosesOnceItHasEnded) {
  TForm f;
  TWatchedForm& form = f.Form;
  form.Calibrator()->ReplaceGrid(BentGrid());
  std::atomic<bool> go{false};
  form.Before = [&] {
    while (!go) Sleep();
  };
  QString kept, stopped, grid;
  QTimer::singleShot(0, [&] {
    Answer(QMessageBox::No, &kept);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    Answer(QMessageBox::Yes, &stopped);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    // Once the work has ended, the window closes as ever: it asks about what is not kept.
    Answer(QMessageBox::Yes, &grid);
    go = true;
  });
  Control<QToolButton>(&form, "CalibrateBeginBtn")->click();
  EXPECT_EQ(kept, "Прервать калибровку?");
  EXPECT_EQ(stopped, "Прервать калибровку?");
  EXPECT_FALSE(form.Modified());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }));
  EXPECT_EQ(grid, "Изменения в сетке будут потеряны. Продолжить?");
  EXPECT_EQ(form.Raster(), nullptr);
}

// The window repaints, zooms and scrolls all through a calibration: none of it may read the
// raster that the work writes (the thread checker watches this test).
TEST(MainFormWork, TheWindowKeepsPaintingWhileTheRasterIsCalibrated) {
  TForm f(3780, 1400, 1100, 24);
  TWatchedForm& form = f.Form;
  TGridInfo grid;
  grid.SetSize(4, 4);
  grid.SetOrigin({100, 100});
  grid.SetStep({400, 300});
  grid.NodeAt(1, 2).Offset = {30, -25};
  grid.NodeAt(2, 1).Offset = {-20, 15};
  form.Calibrator()->ReplaceGrid(grid);
  const std::vector<uint32_t> expected = CalibratedOnce(*form.Raster(), grid);
  std::atomic<int> paints{0};
  QTimer view;
  QObject::connect(&view, &QTimer::timeout, [&] {
    if (!form.WorkRunning()) return;
    if (++paints % 2)
      form.ZoomInMenuClick();
    else
      form.ZoomOutMenuClick();
    form.EditWindow()->ScrollBy(3, 2);
    form.EditWindow()->Repaint();
    QTest::mouseMove(form.windowHandle(), OnWindow(form, {200 + paints % 50, 300}));
  });
  view.start(1);
  // The work waits for the first paints, so that some come whatever the machine's speed.
  form.Before = [&] {
    while (paints < 3) Sleep();
  };
  Control<QToolButton>(&form, "CalibrateBeginBtn")->click();
  view.stop();
  EXPECT_GE(paints, 3);
  EXPECT_EQ(Pixels(*form.Raster()), expected);
}

// Each work cancelled in its middle, with part of its result written: the raster, its picture,
// the grid and the files are as they were before the work began, and nothing new waits to be
// undone.
TEST(MainFormWork, WorkCancelledInItsMiddleLeavesEverythingAsItWas) {
  TForm f(3780, 3000, 2250, 24);
  TWatchedForm& form = f.Form;
  TBoxWatch boxes;
  // Out of the folder whose files are watched.
  const QTemporaryDir aside;
  const QString gridFile = aside.filePath("grid.json");
  const auto stopped = [&](const char* what, const QString& operation,
                           const std::function<void()>& start) {
    TRasterManager* raster = form.Raster();
    const std::vector<uint32_t> pixels = Pixels(*raster);
    const TGridInfo grid = form.Calibrator()->Grid();
    const QByteArray gridBytes = GridBytes(grid, gridFile);
    const QString undo = form.findChild<QAction*>("UndoMenu")->text();
    const QStringList files = QDir(f.Dir.path()).entryList(QDir::Files);
    const bool modified = form.Modified();
    form.EditWindow()->Repaint();
    const QImage shown = form.EditWindow()->Surface().copy();
    TCancelInTheMiddle cancel(form, operation);
    start();
    EXPECT_TRUE(cancel.Pressed) << what << ": the work ended before it was cancelled";
    EXPECT_EQ(form.Raster(), raster) << what;
    EXPECT_EQ(form.Calibrator()->Raster(), raster) << what;
    EXPECT_EQ(Pixels(*form.Raster()), pixels) << what;
    EXPECT_EQ(form.Calibrator()->Grid(), grid) << what;
    EXPECT_EQ(GridBytes(form.Calibrator()->Grid(), gridFile), gridBytes) << what;
    EXPECT_EQ(form.findChild<QAction*>("UndoMenu")->text(), undo) << what;
    EXPECT_EQ(QDir(f.Dir.path()).entryList(QDir::Files), files) << what;
    EXPECT_EQ(form.Modified(), modified) << what;
    EXPECT_TRUE(form.Calibrator()->MissedNodes().empty()) << what;
    form.EditWindow()->Repaint();
    EXPECT_EQ(form.EditWindow()->Surface(), shown) << what;
    EXPECT_TRUE(Enabled(form, "CalibrateBeginBtn")) << what;
  };

  // Nodes on the scan's lines, two of them moved off: the search would put them back.
  TGridInfo grid;
  grid.SetSize(16, 11);
  grid.SetOrigin({100, 100});
  grid.SetStep({180, 200});
  grid.NodeAt(2, 2).Offset = {40, -30};
  grid.NodeAt(5, 3).Offset = {-50, 40};
  form.Calibrator()->ReplaceGrid(grid);
  stopped("calibrate", "Калибровка...",
          [&] { form.findChild<QAction*>("CalibrateBeginMenu")->trigger(); });
  stopped("find", "Поиск узлов сетки...",
          [&] { form.findChild<QAction*>("FindNodesMenu")->trigger(); });
  TGridInfo frame;
  frame.SetSize(2, 2);
  frame.SetOrigin({30, 20});
  frame.SetStep({2900, 2150});
  form.Calibrator()->ReplaceGrid(frame);
  stopped("clip", "Отсечение растра ...",
          [&] { form.findChild<QAction*>("ClipImageMenu")->trigger(); });
  // A calibrated raster is saved from its parts, not copied from its file.
  form.Calibrator()->Undo();
  form.findChild<QAction*>("CalibrateBeginMenu")->trigger();
  ASSERT_TRUE(form.Modified());
  const QString target = f.Dir.filePath("target.bmp");
  WriteFile(target, "the user's old file");
  stopped("save", "Сохранение растра...", [&] {
    AnswerSaveDialog(target);
    WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    form.findChild<QAction*>("SaveAsMenu")->trigger();
  });
  EXPECT_EQ(ReadFile(target), "the user's old file");
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  EXPECT_EQ(boxes.Texts, QStringList());
}

// After a calibration, after a clip, and after both, Ctrl+Z gives back the raster pixel for pixel,
// the grid node for node and the picture shown; Ctrl+Y repeats the work exactly, however often the
// user goes back and forth.
TEST(MainFormWork, UndoAndRedoOfCalibrationsAndClipsGoBackAndForthExactly) {
  TForm f(3780, 600, 450, 24);
  TWatchedForm& form = f.Form;
  struct TState {
    std::vector<uint32_t> Pixels;
    TGridInfo Grid;
    QImage Shown;
  };
  const auto now = [&] {
    form.ZoomAllMenuClick();
    form.EditWindow()->Repaint();
    return TState{Pixels(*form.Raster()), form.Calibrator()->Grid(),
                  form.EditWindow()->Surface().copy()};
  };
  const auto keys = [&](Qt::Key key, int times) {
    for (int k = 0; k < times; ++k) QTest::keyClick(form.windowHandle(), key, Qt::ControlModifier);
  };
  const auto expectAt = [&](const TState& state, const std::string& what) {
    const TState shown = now();
    EXPECT_EQ(shown.Pixels, state.Pixels) << what;
    EXPECT_EQ(shown.Grid, state.Grid) << what;
    EXPECT_EQ(shown.Shown, state.Shown) << what;
    EXPECT_EQ(form.Calibrator()->Raster(), form.Raster()) << what;
  };
  TGridInfo bent;
  bent.SetSize(4, 3);
  bent.SetOrigin({40, 30});
  bent.SetStep({170, 190});
  bent.NodeAt(1, 1).Offset = {-25, 14};
  bent.NodeAt(2, 1).Offset = {18, -11};
  TGridInfo frame;
  frame.SetSize(2, 2);
  frame.SetOrigin({35, 25});
  frame.SetStep({480, 390});
  // Each raster step is two steps to undo: the grid it works on, then the work.
  const auto calibrate = [&] {
    form.Calibrator()->ReplaceGrid(bent);
    form.findChild<QAction*>("CalibrateBeginMenu")->trigger();
  };
  const auto clip = [&] {
    form.Calibrator()->ReplaceGrid(frame);
    form.findChild<QAction*>("ClipImageMenu")->trigger();
  };
  const TState scanned = now();
  for (const auto& [what, work, steps] :
       std::vector<std::tuple<std::string, std::function<void()>, int>>{
           {"calibrate", calibrate, 2},
           {"clip", clip, 2},
           {"calibrate and clip", [&] { calibrate(), clip(); }, 4}}) {
    const TState before = now();
    work();
    const TState after = now();
    EXPECT_NE(after.Pixels, before.Pixels) << what;
    for (int round = 0; round < 2; ++round) {
      keys(Qt::Key_Z, steps);
      expectAt(before, what + ", undone");
      keys(Qt::Key_Y, steps);
      expectAt(after, what + ", redone");
    }
    keys(Qt::Key_Z, steps);
    expectAt(scanned, what + ", undone at last");
  }
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
}
