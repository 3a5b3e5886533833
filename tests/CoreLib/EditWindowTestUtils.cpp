#include "EditWindowTestUtils.h"

#include "Cursors.h"
#include "RasterDraw.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

void Flush() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

void ShowWindow(TEditWindow& window, int width, int height) {
  window.resize(width, height);
  window.show();
  // Under an X server both come back as events, later the busier the machine is; the window's
  // shortcuts only work once it is active. The waits end as soon as they can.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, kWindowSystemWait));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window, kWindowSystemWait));
  Flush();
}

void SetPixelView(TEditWindow& window, double scalePixels, const TWorldPoint& topLeft) {
  const QImage& surface = window.Surface();
  SetCenteredView(window.Device(), scalePixels,
                  TWorldPoint{topLeft.X + surface.width() / 2.0 / scalePixels,
                              topLeft.Y + surface.height() / 2.0 / scalePixels});
}

int Differences(const QImage& a, const QImage& b, int tolerance) {
  if (a.size() != b.size()) return -1;
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      n += std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
           std::abs(qBlue(p) - qBlue(q)) > tolerance;
    }
  return n;
}

void MoveMouse(TEditWindow& window, const QPoint& p) {
  QTest::mouseMove(window.windowHandle(), p);
  Flush();
}

TRecordingEditor::TRecordingEditor(QString name, QStringList& log, uint8_t mask)
    : FName(std::move(name)), FLog(log) {
  Mask = mask;
}

void TRecordingEditor::Record(const QString& call) {
  const uint8_t phase = Window()->Phase();
  FLog.append(QStringLiteral("%1:%2:%3").arg(FName, call).arg(phase));
  if (phase == HandlePhase) SetHandled();
}

void TRecordingEditor::MouseDown(TMouseButton, TShiftState shift, const TPoint& p) {
  LastShift = shift;
  LastPoint = p;
  Record(QStringLiteral("down"));
  if (OnMouseDownHook) OnMouseDownHook();
}

void TRecordingEditor::MouseMove(TShiftState shift, const TPoint& p) {
  LastShift = shift;
  LastPoint = p;
  Record(QStringLiteral("move"));
}

void TRecordingEditor::MouseUp(TMouseButton, TShiftState shift, const TPoint& p) {
  LastShift = shift;
  LastPoint = p;
  Record(QStringLiteral("up"));
}

void TRecordingEditor::KeyDown(uint16_t key, TShiftState shift) {
  Record(QStringLiteral("key%1").arg(key));
  TEditor::KeyDown(key, shift);
}

void TRecordingEditor::Cancel() {
  FLog.append(FName + QStringLiteral(":cancel"));
}

void TXorSquare::Draw(TCanvas& canvas) {
  ++DrawCount;
  canvas.Pen = TPenState{psClear, 0, clBlack, pmXor};
  canvas.Brush = TBrushState{bsSolid, 0x00FFFF, std::nullopt};
  const TPoint square[] = {{Pos.X - 6, Pos.Y - 6},
                           {Pos.X + 7, Pos.Y - 6},
                           {Pos.X + 7, Pos.Y + 7},
                           {Pos.X - 6, Pos.Y + 7}};
  const int32_t count = 4;
  canvas.PolyPolygon(square, &count, 1);
}

namespace {

TBmpLayout BandsAndLines(int width, int height) {
  TBmpLayout layout{width, height, 8, GreyPalette(256)};
  layout.Pixel = [](int x, int y) {
    return x % 37 == 0 || y % 29 == 0 ? 0u : static_cast<uint32_t>(60 + (x * 3 + y * 5) % 190);
  };
  return layout;
}

}  // namespace

TRasterWindow::TRasterWindow(int rasterWidth, int rasterHeight, int64_t cache)
    : TRasterWindow(BandsAndLines(rasterWidth, rasterHeight), cache) {}

TRasterWindow::TRasterWindow(const TBmpLayout& layout, int64_t cache) {
  RegisterBmpFormat(&Provider);
  const QString name = Dir.filePath(QStringLiteral("view.bmp"));
  WriteFile(name, BmpBytes(layout));
  Raster = std::make_unique<TRasterManager>(&Provider, cache, nullptr);
  Raster->Open(name);
  Window.SetColor(0x00FF00);
  Window.OnPaint = [this](TDeviceInfo& device, TCanvas& canvas) {
    ResetCanvas(canvas);
    Raster->Draw(device, canvas);
  };
}
