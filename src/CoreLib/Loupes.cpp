#include "Loupes.h"

#include "Cursors.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

TLoupe::TLoupe(TEditWindow& window) : QWidget(&window), FWindow(window) {
  setObjectName(QStringLiteral("Loupe"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(kSide, kSide);
  hide();
}

void TLoupe::ShowAt(const TPoint& p) {
  FPointer = p;
  Render();
  Place(p);
  if (!isVisible()) show();
  update();
}

void TLoupe::Refresh() {
  if (!isVisible()) return;
  Render();
  update();
}

void TLoupe::Place(const TPoint& p) {
  // Beside the pointer, up and to the right where there is room, else on the other side.
  const qreal ratio = FWindow.devicePixelRatioF();
  const int x = static_cast<int>(p.X / ratio);
  const int y = static_cast<int>(p.Y / ratio);
  int left = x + kGap;
  if (left + kSide > FWindow.width()) left = x - kGap - kSide;
  int top = y - kGap - kSide;
  if (top < 0) top = y + kGap;
  left = std::clamp(left, 0, std::max(0, FWindow.width() - kSide));
  top = std::clamp(top, 0, std::max(0, FWindow.height() - kSide));
  move(left, top);
}

void TLoupe::Render() {
  TDeviceInfo& view = FWindow.Device();
  const qreal ratio = FWindow.devicePixelRatioF();
  const int side = static_cast<int>(std::lround(kSide * ratio));
  if (FPicture.size() != QSize(side, side)) {
    FPicture = QImage(side, side, QImage::Format_RGB32);
    FPicture.setDevicePixelRatio(ratio);
  }
  FDevice.SetDevice(view.Resolution(), TRect{0, 0, side, side});
  FDevice.SetClipRect(TRect{0, 0, side, side});
  const double shown = std::sqrt(std::fabs(view.WorldToDeviceTransform().determinant()));
  FPixelsPerUnit = std::min(shown * kMagnification, std::max(shown * 2, kUnitSide * ratio));
  FPixel = view.WorldPixelAt(FPointer);
  SetCenteredView(FDevice, FPixelsPerUnit, TWorldPoint{FPixel.X + 0.5, FPixel.Y + 0.5});

  FPicture.fill(ColorToQColor(FWindow.Color()));
  TCanvas canvas(FPicture);
  canvas.SetClipRect(TRect{0, 0, side, side});
  if (FWindow.OnPaint) FWindow.OnPaint(FDevice, canvas);
  if (OnPaintOver) OnPaintOver(FDevice, canvas);
  // The pixel under the pointer, framed black outside and white inside on any picture.
  const QTransform toDevice = FDevice.WorldToDeviceTransform();
  const QRectF pixel = toDevice.mapRect(QRectF(FPixel.X, FPixel.Y, 1, 1));
  const TRect frame{FloorToInt(pixel.left()), FloorToInt(pixel.top()),
                    std::max(FloorToInt(pixel.left()) + 1, FloorToInt(pixel.right())),
                    std::max(FloorToInt(pixel.top()) + 1, FloorToInt(pixel.bottom()))};
  ResetCanvas(canvas);
  canvas.Brush = TBrushState{bsSolid, clBlack, std::nullopt};
  for (const TRect& r : {TRect{frame.Left - 2, frame.Top - 2, frame.Right + 2, frame.Top},
                         TRect{frame.Left - 2, frame.Bottom, frame.Right + 2, frame.Bottom + 2},
                         TRect{frame.Left - 2, frame.Top, frame.Left, frame.Bottom},
                         TRect{frame.Right, frame.Top, frame.Right + 2, frame.Bottom}})
    canvas.FillRect(r);
  canvas.Brush.Color = clWhite;
  for (const TRect& r : {TRect{frame.Left - 1, frame.Top - 1, frame.Right + 1, frame.Top},
                         TRect{frame.Left - 1, frame.Bottom, frame.Right + 1, frame.Bottom + 1},
                         TRect{frame.Left - 1, frame.Top, frame.Left, frame.Bottom},
                         TRect{frame.Right, frame.Top, frame.Right + 1, frame.Bottom}})
    canvas.FillRect(r);
}

void TLoupe::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), FPicture);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
