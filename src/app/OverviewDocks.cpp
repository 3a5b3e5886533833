#include "OverviewDocks.h"

#include "Canvases.h"
#include "Cursors.h"
#include "InEditors.h"
#include "Navigators.h"
#include "RasterManagers.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace {

// Room around the raster's picture, in logical pixels.
constexpr int kMargin = 4;

}  // namespace

TOverview::TOverview(TEditWindow& window, QWidget* parent) : QWidget(parent), FWindow(window) {
  setObjectName(QStringLiteral("Overview"));
  setMinimumSize(120, 90);
  setCursor(Qt::PointingHandCursor);
}

void TOverview::SetRaster(TRasterManager* raster) {
  FRaster = raster;
  RasterChanged();
}

void TOverview::RasterChanged() {
  Render();
  update();
}

void TOverview::ViewChanged() {
  update();
}

void TOverview::SetHeld(bool held) {
  FHeld = held;
  if (!held && std::exchange(FStale, false)) RasterChanged();
}

void TOverview::Render() {
  if (FHeld) {
    FStale = true;
    return;
  }
  const qreal ratio = devicePixelRatioF();
  const int w = std::max(1, qRound(width() * ratio));
  const int h = std::max(1, qRound(height() * ratio));
  FPicture = QImage(w, h, QImage::Format_RGB32);
  FPicture.setDevicePixelRatio(ratio);
  FPicture.fill(palette().color(QPalette::Window));
  FPixelsPerUnit = 0;
  if (!FRaster || FRaster->Width() <= 0 || FRaster->Height() <= 0) return;
  const double margin = kMargin * ratio;
  FPixelsPerUnit = std::max(
      1e-9, std::min((w - 2 * margin) / FRaster->Width(), (h - 2 * margin) / FRaster->Height()));
  TDeviceInfo device;
  device.SetDevice(FWindow.Device().Resolution(), TRect{0, 0, w, h});
  device.SetClipRect(TRect{0, 0, w, h});
  SetCenteredView(device, FPixelsPerUnit,
                  TWorldPoint{FRaster->Width() / 2.0, FRaster->Height() / 2.0});
  const QPointF origin = device.WorldToDeviceTransform().map(QPointF(0, 0));
  FOrigin = origin;
  TCanvas canvas(FPicture);
  FRaster->Draw(device, canvas);
}

QRectF TOverview::ViewRect() const {
  if (!FRaster || FPixelsPerUnit <= 0) return {};
  const TDeviceInfo& view = FWindow.Device();
  TWorldRect shown;
  view.Projection()->PageRectToWorld(view.PageRect(), shown);
  return QRectF(FOrigin.x() + shown.Left * FPixelsPerUnit, FOrigin.y() + shown.Top * FPixelsPerUnit,
                RectWidth(shown) * FPixelsPerUnit, RectHeight(shown) * FPixelsPerUnit);
}

void TOverview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), FPicture);
  const QRectF shown = ViewRect();
  if (shown.isEmpty()) return;
  const qreal ratio = devicePixelRatioF();
  const QRectF logical(shown.left() / ratio, shown.top() / ratio, shown.width() / ratio,
                       shown.height() / ratio);
  // Within the widget, so that a view larger than the raster still shows its edges.
  const QRectF frame = logical.intersected(QRectF(rect()).adjusted(1, 1, -1, -1));
  painter.setPen(QPen(QColor(220, 0, 0), 2));
  painter.setBrush(QColor(220, 0, 0, 40));
  painter.drawRect(frame);
}

void TOverview::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Render();
}

std::optional<QPointF> TOverview::RasterPoint(const QPointF& p) const {
  if (!FRaster || FPixelsPerUnit <= 0) return std::nullopt;
  const qreal ratio = devicePixelRatioF();
  return QPointF((p.x() * ratio - FOrigin.x()) / FPixelsPerUnit,
                 (p.y() * ratio - FOrigin.y()) / FPixelsPerUnit);
}

void TOverview::CentreAt(const QPointF& p, bool save) {
  TEditWindowNavigator* navigator = FWindow.Navigator();
  const std::optional<QPointF> point = RasterPoint(p);
  if (!navigator || !point) return;
  navigator->SetView(TWorldPoint{point->x(), point->y()}, save, navigator->GetScale());
}

void TOverview::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  FDragging = true;
  // The rectangle taken anywhere moves from where it was taken; a press beside it brings it there.
  const qreal ratio = devicePixelRatioF();
  const QRectF shown = ViewRect();
  const QPointF middle = shown.center() / ratio;
  const QRectF logical(shown.topLeft() / ratio, shown.size() / ratio);
  FGrab = logical.contains(event->position()) ? middle - event->position() : QPointF();
  CentreAt(event->position() + FGrab, true);
}

void TOverview::mouseMoveEvent(QMouseEvent* event) {
  if (FDragging) CentreAt(event->position() + FGrab, false);
}

void TOverview::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FDragging = false;
}

TOverviewDock::TOverviewDock(TEditWindow& window, QWidget* parent)
    : QDockWidget(QStringLiteral("Обзор"), parent), FOverview(new TOverview(window, this)) {
  setObjectName(QStringLiteral("OverviewDock"));
  setWidget(FOverview);
}
