#pragma once

#include <QDockWidget>
#include <QImage>
#include <QWidget>

#include <optional>

class TEditWindow;
class TEditWindowNavigator;
class TRasterManager;

// The whole raster small, with the rectangle the edit window shows on it. The rectangle can be
// dragged, and a press beside it brings it there; one drag is one step of the view's history.
class TOverview : public QWidget {
 public:
  explicit TOverview(TEditWindow& window, QWidget* parent = nullptr);

  // The raster shown, or none; its picture is made again when asked.
  void SetRaster(TRasterManager* raster);
  void RasterChanged();
  // The edit window's view moved: the rectangle follows.
  void ViewChanged();
  // While long work holds the raster its pixels are not read: the picture keeps what it showed,
  // and is made again once the raster is free, if it was asked for meanwhile.
  void SetHeld(bool held);

  // The picture of the raster and where the view's rectangle lies on it, in device pixels.
  const QImage& Picture() const { return FPicture; }
  QRectF ViewRect() const;

  // Wide enough for a sheet to be made out.
  QSize sizeHint() const override { return QSize(220, 165); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Render();
  // The raster point under a point of the widget.
  std::optional<QPointF> RasterPoint(const QPointF& p) const;
  void CentreAt(const QPointF& p, bool save);

  TEditWindow& FWindow;
  TRasterManager* FRaster = nullptr;
  QImage FPicture;
  double FPixelsPerUnit = 0;  // device pixels of the picture per raster pixel
  QPointF FOrigin;            // where raster (0, 0) lies in the picture, in device pixels
  bool FHeld = false;
  bool FStale = false;  // a picture was asked for while the raster was held
  bool FDragging = false;
  QPointF FGrab;  // from the pointer to the rectangle's middle while it is dragged
};

// The dock "Обзор" around the overview.
class TOverviewDock : public QDockWidget {
 public:
  explicit TOverviewDock(TEditWindow& window, QWidget* parent = nullptr);
  TOverview& Overview() { return *FOverview; }

 private:
  TOverview* FOverview;
};
