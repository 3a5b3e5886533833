// The window's long work on its own thread, measured in the program's own window (offscreen):
//   - how alive the window stays while a 1 GB raster (18500 × 18500, 24 bits, the default cache)
//     is calibrated: a timer asks for a repaint every 10 ms, as a window being resized or uncovered
//     does, and the longest gap between two handled paint events is reported;
//   - what running the calibration on the work's thread costs against running it on the window's
//     own thread, as the window did before: pairs of runs taken in turn, each undone afterwards,
//     with the window left to itself (it repaints what the progress changes); the runs with a
//     repaint every 10 ms are timed against the same pairs too, since the window's own thread
//     then draws on a core the calibration would have used; and the share of the time off the
//     window's thread spent outside the job itself (handing it over and back);
//   - the memory an undo of a calibration takes on a raster ten times the cache (10400 × 10400,
//     24 bits, a cache of 32 MB): the peak resident memory during the undo and the repaint that
//     follows, against the memory just before it.
//
//   window_work_bench [FOLDER] [ROUNDS]
//
// FOLDER receives the rasters (default: the temporary folder); ROUNDS pairs of runs (default 3).
#include "BenchRasters.h"
#include "FormUtils.h"
#include "GridCalibrator.h"
#include "MainForms.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A square 24-bit raster whose rows differ, with dark lines every 500 pixels.
QString WriteRaster(const QString& folder, int size) {
  const QString name = QDir(folder).filePath(QStringLiteral("work-bench-%1.bmp").arg(size));
  QFile file(name);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(BenchBmpHeader(size, 24));
  QByteArray row(size * 3 + (4 - size * 3 % 4) % 4, '\0');
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x)
      for (int c = 0; c < 3; ++c)
        row[3 * x + c] =
            static_cast<char>(x % 500 == 0 || y % 500 == 0 ? 20 : 120 + (x + 3 * y + c) % 100);
    file.write(row);
  }
  return name;
}

// A grid of 8 × 8 cells over the raster, every inner node moved a little.
TGridInfo BentGrid(int size) {
  TGridInfo grid;
  grid.SetSize(9, 9);
  grid.SetOrigin({size / 20, size / 20});
  grid.SetStep({size * 9 / 80, size * 9 / 80});
  for (int j = 1; j < 8; ++j)
    for (int i = 1; i < 8; ++i)
      grid.NodeAt(i, j).Offset = {(i * 7 + j * 3) % 25 - 12, (i * 5 + j) % 21 - 10};
  return grid;
}

// A value of /proc/self/status in kB.
long StatusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  return -1;
}

// Lets the peak resident memory start again from the present.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// Times of the paint events the edit window handles.
class TPaintClock : public QObject {
 public:
  explicit TPaintClock(QElapsedTimer& clock) : FClock(clock) {}
  std::vector<qint64> Times;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) Times.push_back(FClock.nsecsElapsed());
    return false;
  }

 private:
  QElapsedTimer& FClock;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct TWindow {
  TWindow() {
    Form.resize(1200, 800);
    Form.show();
    QCoreApplication::processEvents();
  }
  // The grid's edits and the calibrated raster are given up without a question, which nobody
  // would answer here.
  ~TWindow() { Form.CloseRaster(false, false); }
  void Open(const QString& name, int size) {
    Form.OpenRaster(name);
    Form.Calibrator()->ReplaceGrid(BentGrid(size));
    QCoreApplication::processEvents();
  }
  // Seconds of one calibration, on the work's thread or, as before, on the window's own.
  // Seconds of one calibration, on the work's thread or, as before, on the window's own. Off the
  // window's thread, JobBegun and JobEnded tell when the job itself ran on its thread, in
  // nanoseconds after the click.
  double Calibrate(bool onWindowThread) {
    TGridCalibrator& calibrator = *Form.Calibrator();
    const auto offThread = calibrator.OnRunWork;
    QElapsedTimer timer;
    if (onWindowThread)
      calibrator.OnRunWork = [](const QString&, const std::function<void()>& job) { job(); };
    else
      calibrator.OnRunWork = [&](const QString& name, const std::function<void()>& job) {
        offThread(name, [&] {
          JobBegun = timer.nsecsElapsed();
          job();
          JobEnded = timer.nsecsElapsed();
        });
      };
    timer.start();
    Form.CalibrateBeginBtnClick();
    const double seconds = timer.nsecsElapsed() / 1e9;
    calibrator.OnRunWork = offThread;
    return seconds;
  }
  TMainForm Form;
  std::atomic<qint64> JobBegun{0}, JobEnded{0};
};

void Responsiveness(const QString& folder, int rounds) {
  const int size = 18500;
  const QString name = WriteRaster(folder, size);
  TWindow w;
  w.Open(name, size);
  QElapsedTimer clock;
  clock.start();
  TPaintClock paints(clock);
  w.Form.EditWindow()->installEventFilter(&paints);
  QTimer expose;
  QObject::connect(&expose, &QTimer::timeout, [&] { w.Form.EditWindow()->Invalidate(); });
  std::vector<double> ratios, exposedRatios, gaps, handoffs;
  size_t handled = 0;
  // Off the window's thread, with a repaint asked for every 10 ms or with the window left to
  // itself.
  const auto offThread = [&](bool exposed) {
    if (exposed) expose.start(10);
    paints.Times.clear();
    const qint64 begin = clock.nsecsElapsed();
    const double seconds = w.Calibrate(false);
    const qint64 end = clock.nsecsElapsed();
    expose.stop();
    w.Form.UndoMenuClick();
    if (!exposed) {
      // What handing the job to its thread and its end back to the window adds to the job.
      handoffs.push_back(1 - (w.JobEnded - w.JobBegun) / 1e9 / seconds);
      std::printf(
          "  off the window's thread, left to itself: %.2f s, the job on its thread from %.0f to "
          "%.0f ms; %zu paints\n",
          seconds, w.JobBegun / 1e6, w.JobEnded / 1e6, paints.Times.size());
      return seconds;
    }
    qint64 gap = 0, last = begin, at = begin;
    for (qint64 t : paints.Times)
      if (t >= begin && t <= end) {
        if (t - last > gap) gap = t - last, at = last;
        last = t;
        ++handled;
      }
    if (end - last > gap) gap = end - last, at = last;
    gaps.push_back(gap / 1e6);
    std::printf(
        "  off the window's thread, repainted every 10 ms: %.2f s, the job on its thread from "
        "%.0f to %.0f ms; longest gap between paints %.1f ms, from %.0f ms\n",
        seconds, w.JobBegun / 1e6, w.JobEnded / 1e6, gap / 1e6, (at - begin) / 1e6);
    return seconds;
  };
  const auto onThread = [&] {
    const double seconds = w.Calibrate(true);
    w.Form.UndoMenuClick();
    std::printf("  on the window's thread: %.2f s\n", seconds);
    return seconds;
  };
  // A calibration leaves its swap file to be written back while the next one runs: the runs
  // take turns at going first, so that no way always pays for another.
  for (int round = 0; round < rounds; ++round) {
    double off = 0, exposed = 0, on = 0;
    if (round % 2) {
      on = onThread();
      exposed = offThread(true);
      off = offThread(false);
    } else {
      off = offThread(false);
      exposed = offThread(true);
      on = onThread();
    }
    ratios.push_back(off / on);
    exposedRatios.push_back(exposed / on);
    std::printf("round %d: off-thread / on-thread %.3f, repainted every 10 ms %.3f\n", round + 1,
                off / on, exposed / on);
  }
  std::printf(
      "calibration of %d × %d × 24 bits (%.2f GB): longest gap between handled paint "
      "events %.1f ms (median of rounds %.1f ms; %zu paints handled); off-thread / "
      "on-thread time %.3f with the window left to itself, %.3f repainted every 10 ms; the "
      "hand-over to the work's thread and back %.2f %% of the time (medians of %d rounds)\n",
      size, size, 3.0 * size * size / 1e9, *std::max_element(gaps.begin(), gaps.end()),
      Median(gaps), handled, Median(ratios), Median(exposedRatios), 100 * Median(handoffs), rounds);
  QFile::remove(name);
}

void UndoMemory(const QString& folder) {
  const int size = 10400;
  const int64_t cache = 32 << 20;
  const QString name = WriteRaster(folder, size);
  TWindow w;
  w.Form.Options().RasterCache = static_cast<int32_t>(cache);
  w.Open(name, size);
  const long opened = StatusKb("VmRSS");
  ResetPeak();
  w.Calibrate(false);
  QCoreApplication::processEvents();
  const long calibrating = StatusKb("VmHWM");
  const long before = StatusKb("VmRSS");
  ResetPeak();
  w.Form.UndoMenuClick();
  w.Form.EditWindow()->Repaint();
  QCoreApplication::processEvents();
  const long undoing = StatusKb("VmHWM");
  std::printf(
      "undo of a calibration of %d × %d × 24 bits (%.0f MB, %.1f × the cache of %lld MB): "
      "resident %ld MB before, peak %ld MB during the undo and its repaint, %+ld MB; the "
      "calibration's peak %ld MB (%+ld MB over the raster opened); the bar: within the "
      "cache + 64 MB = %lld MB\n",
      size, size, 3.0 * size * size / 1e6, 3.0 * size * size / cache,
      static_cast<long long>(cache >> 20), before / 1024, undoing / 1024, (undoing - before) / 1024,
      calibrating / 1024, (calibrating - opened) / 1024,
      static_cast<long long>((cache >> 20) + 64));
  QFile::remove(name);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  TApplication app(argc, argv);
  // Each figure shows as soon as it is measured, also when the output goes to a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const QStringList arguments = QCoreApplication::arguments();
  const QString folder = arguments.size() > 1 ? arguments[1] : QDir::tempPath();
  const int rounds = arguments.size() > 2 ? arguments[2].toInt() : 3;
  Responsiveness(folder, std::max(1, rounds));
  UndoMemory(folder);
  return 0;
}
