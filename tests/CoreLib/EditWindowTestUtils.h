#pragma once

#include "InEditors.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// Lets queued work run: deferred menu rebuilds, renders of invalidated areas, posted clicks.
void Flush();

// How long, in milliseconds, a wait for the window system or a timer may take before the test
// gives up: long enough for a machine busy with other work.
constexpr int kWindowSystemWait = 30000;

// Shows a top-level edit window of the size, exposed and active, with its first paint done.
void ShowWindow(TEditWindow& window, int width, int height);

// Sets the view so that one world unit is one device pixel, row 0 on top, with the world point at
// the window's top-left corner.
void SetPixelView(TEditWindow& window, double scalePixels, const TWorldPoint& topLeft);

// The number of pixels in which two pictures differ by more than the tolerance in a channel.
int Differences(const QImage& a, const QImage& b, int tolerance = 0);

// Moves the mouse over the window through the window system, so the window knows where it is.
void MoveMouse(TEditWindow& window, const QPoint& p);

// An editor that records the calls it gets as "name:call:phase" and may consume them.
class TRecordingEditor : public TEditor {
 public:
  TRecordingEditor(QString name, QStringList& log, uint8_t mask);

  void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void MouseMove(TShiftState shift, const TPoint& p) override;
  void MouseUp(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void KeyDown(uint16_t key, TShiftState shift) override;
  void Cancel() override;

  // Consumes the events of this phase (0: none).
  uint8_t HandlePhase = 0;
  std::function<void()> OnMouseDownHook;
  TShiftState LastShift = 0;
  TPoint LastPoint;

 private:
  void Record(const QString& call);

  QString FName;
  QStringList& FLog;
};

// A tool whose overlay is a filled exclusive-or square around the mouse.
class TXorSquare : public TEditor {
 public:
  void SetPos(const TPoint& p) override { Pos = p; }
  void Draw(TCanvas& canvas) override;
  TPoint Pos{50, 40};
  int DrawCount = 0;
  int SetPosCount = 0;
};

// A raster of grey bands and crossing lines, big enough for several parts, painted by the window
// as the program paints its raster.
struct TRasterWindow {
  TRasterWindow(int rasterWidth, int rasterHeight, int64_t cache = 1 << 20);
  // A raster of the layout instead.
  explicit TRasterWindow(const TBmpLayout& layout, int64_t cache = 1 << 20);

  QTemporaryDir Dir;
  TLocalFileProvider Provider;
  std::unique_ptr<TRasterManager> Raster;
  TEditWindow Window;
};
