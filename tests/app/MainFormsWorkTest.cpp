// The window's long work on its own thread: what stays possible while it runs, how it is stopped,
// and what a stopped work leaves behind.
#include "CalibrateRaster.h"
#include "GridCalibrator.h"
#include "MainFormTestUtils.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QAbstractButton>
#include <QAction>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
