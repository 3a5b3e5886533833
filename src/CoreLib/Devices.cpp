#include "Devices.h"

#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

// Pixels beyond the clip box within which a contour is converted whole.
constexpr int32_t kClipLimitPixels = 8000;

int32_t DeviceCoord(double value) {
  return RoundToInt(std::clamp(value, -MaxDeviceCoord, MaxDeviceCoord));
}

// Floating noise of a mapping that should be exact (a scale of 0.9999999999999999 at 1:1) would
// make pictures go through resampling instead of a plain copy.
double Snapped(double value) {
  const double whole = std::nearbyint(value);
  return std::fabs(value - whole) < 1e-9 ? whole : value;
}

// Moving the view by whole pixels goes through page coordinates and brings noise into the
// offsets. Taken to a fine grid, the offsets of two views a whole number of pixels apart differ by
// exactly that number, so a device pixel whose centre falls on a raster pixel's edge takes the same
// side of it in a strip painted after a scroll as in a whole paint.
double OnGrid(double value) {
  constexpr double kGrid = 1 << 20;
  return std::nearbyint(value * kGrid) / kGrid;
}

}  // namespace

TDeviceInfo::TDeviceInfo() {
  AssignRef(FProjection, static_cast<TProjection*>(new TMatrixProjection));
}

TDeviceInfo::~TDeviceInfo() {
  ReleaseRef(FProjection);
}

void TDeviceInfo::SetDevice(const TPoint& resolution, const TRect& r) {
  if (resolution == FResolution && r == FDeviceRect) return;
  FResolution = resolution;
  FDeviceRect = r;
  FBaseScaleX = resolution.X / 0.0254;
  FBaseScaleY = resolution.Y / 0.0254;
  // Device Y runs downwards, page Y upwards.
  if (r.Top < r.Bottom) FBaseScaleY = -FBaseScaleY;
  FScaleX = FBaseScaleX;
  FScaleY = FBaseScaleY;
  FZoomX = FBaseScaleX != 0 ? FScaleX / FBaseScaleX : 0;
  FZoomY = FBaseScaleY != 0 ? FScaleY / FBaseScaleY : 0;
  if (IsValid()) {
    FPageRect =
        TWorldRect{r.Left / FScaleX, r.Bottom / FScaleY, r.Right / FScaleX, r.Top / FScaleY};
    UpdateClip();
  }
  Changed();
}

void TDeviceInfo::SetClipRect(const TRect& r) {
  if (r == FClipRect) return;
  FClipRect = r;
  UpdateClip();
}

void TDeviceInfo::SetOrigin(const TWorldPoint& p) {
  if (p.X == FPageRect.Left && p.Y == FPageRect.Top) return;
  OffsetWorldRect(FPageRect, p.X - FPageRect.Left, p.Y - FPageRect.Top);
  UpdateClip();
  Changed();
}

void TDeviceInfo::Changed() {
  if (IsValid() && OnChange) OnChange(*this);
}

void TDeviceInfo::UpdateClip() {
  FPageClipRect = DeviceRectToPage(InflatedRect(FClipRect, 1, 1));
  FPageClipLimit = FPageClipRect;
  const double limit = PixelsToPage(kClipLimitPixels);
  InflateWorldRect(FPageClipLimit, limit, limit);
}

double TDeviceInfo::PixelsToPage(int32_t n) const {
  const double sy = std::fabs(FScaleY);
  const double s = sy == FScaleX ? FScaleX : std::sqrt(sy * FScaleX);
  return n / s;
}

TPoint TDeviceInfo::PageToDevice(const TWorldPoint& p) const {
  return TPoint{DeviceCoord((p.X - FPageRect.Left) * FScaleX + FDeviceRect.Left),
                DeviceCoord((p.Y - FPageRect.Top) * FScaleY + FDeviceRect.Bottom)};
}

TWorldPoint TDeviceInfo::DeviceToPage(const TPoint& p) const {
  return TWorldPoint{(p.X - FDeviceRect.Left) / FScaleX + FPageRect.Left,
                     (p.Y - FDeviceRect.Bottom) / FScaleY + FPageRect.Top};
}

TRect TDeviceInfo::PageRectToDevice(const TWorldRect& r) const {
  const TPoint first = PageToDevice(TWorldPoint{r.Left, r.Top});
  TRect result{first.X, first.Y, first.X, first.Y};
  for (const TWorldPoint& corner :
       {TWorldPoint{r.Right, r.Top}, TWorldPoint{r.Left, r.Bottom}, TWorldPoint{r.Right, r.Bottom}})
    IncludePoint(result, PageToDevice(corner));
  return result;
}

TWorldRect TDeviceInfo::DeviceRectToPage(const TRect& r) const {
  const TWorldPoint first = DeviceToPage(TPoint{r.Left, r.Bottom});
  TWorldRect result{first.X, first.Y, first.X, first.Y};
  for (const TPoint& corner :
       {TPoint{r.Left, r.Top}, TPoint{r.Right, r.Bottom}, TPoint{r.Right, r.Top}})
    ExtendWorldRect(result, DeviceToPage(corner));
  return result;
}

TWorldPoint TDeviceInfo::DeviceToWorld(const TPoint& p) const {
  return FProjection->PageToWorld(DeviceToPage(p));
}

QTransform TDeviceInfo::WorldToDeviceTransform() const {
  // The projection is affine: three points give its matrix.
  const TWorldPoint o = FProjection->WorldToPage(TWorldPoint{0, 0});
  const TWorldPoint x = FProjection->WorldToPage(TWorldPoint{1, 0});
  const TWorldPoint y = FProjection->WorldToPage(TWorldPoint{0, 1});
  return QTransform(Snapped((x.X - o.X) * FScaleX), Snapped((x.Y - o.Y) * FScaleY),
                    Snapped((y.X - o.X) * FScaleX), Snapped((y.Y - o.Y) * FScaleY),
                    OnGrid((o.X - FPageRect.Left) * FScaleX + FDeviceRect.Left),
                    OnGrid((o.Y - FPageRect.Top) * FScaleY + FDeviceRect.Bottom));
}

TWorldPoint TDeviceInfo::PixelCentreToWorld(const TPoint& p) const {
  const QTransform t = WorldToDeviceTransform();
  const double x = p.X + 0.5;
  const double y = p.Y + 0.5;
  // The same arithmetic as the drawing of pictures, so that a centre on a pixel's edge falls on
  // the side the picture shows.
  if (t.m12() == 0 && t.m21() == 0)
    return TWorldPoint{(x - t.dx()) / t.m11(), (y - t.dy()) / t.m22()};
  const QPointF w = t.inverted().map(QPointF(x, y));
  return TWorldPoint{w.x(), w.y()};
}

TPoint TDeviceInfo::WorldPixelAt(const TPoint& p) const {
  const TWorldPoint w = PixelCentreToWorld(p);
  return TPoint{FloorToInt(w.X), FloorToInt(w.Y)};
}

int32_t TDeviceInfo::ArcSegments(double radius, double sweep) const {
  if (radius <= 0) return 1;
  const double c = 1 - (PixelsToPage(1) * 0.5) / radius;
  if (!(c >= -1 && c < 1)) return 1;
  const double chords = std::fabs(sweep / std::acos(c));
  // Compared as a double, so that no huge or undefined value is converted to an integer.
  if (std::isnan(chords)) return 1;
  if (chords >= 1023) return 1024;
  return static_cast<int32_t>(chords) + 1;
}

void TDeviceInfo::AddSegment(const TContourSegment& s, TPointList& list, int32_t tolerance) const {
  if (list.Count() == 0) list.AddPoint(PageToDevice(s.P0), tolerance);
  if (std::fabs(s.Bulge) > MinBulge) {
    const double a0 = VectorAngle(s.Center, s.P0);
    const int32_t n = ArcSegments(s.Radius, s.Sweep);
    for (int32_t k = 1; k < n; ++k) {
      const double a = a0 + k * s.Sweep / n;
      list.AddPoint(PageToDevice(TWorldPoint{s.Center.X + s.Radius * std::cos(a),
                                             s.Center.Y + s.Radius * std::sin(a)}),
                    tolerance);
    }
  }
  list.AddPoint(PageToDevice(s.P1), tolerance);
}

void TDeviceInfo::ContourToDevPoints(const TContour& contour, TDevPoints& points,
                                     TWorldPoint& corner, double margin) const {
  points.ClearAll();
  TWorldRect bounds;
  if (contour.GetBounds(bounds)) {
    corner = TWorldPoint{bounds.Left, bounds.Top};
    TWorldRect clip = FPageClipRect;
    InflateWorldRect(clip, margin, margin);
    if (WorldRectsOverlap(clip, bounds)) {
      const TContour* source = &contour;
      if (!WorldRectContains(FPageClipLimit, bounds)) {
        ClipWork().Assign(&contour);
        ClipToRect(clip, bounds);
        source = &ClipWork();
      }
      TContourFigure f;
      for (FirstFigure(f, *source, 0); !FiguresDone(f); NextFigure(f)) {
        points.EndFigure();
        TContourSegment s;
        FirstSegment(s, *source, f.First, true);
        for (; !SegmentsDone(s) && s.Index <= f.Last; NextSegment(s))
          AddSegment(s, points.Current, 1);
        points.Current.Closed = f.Closed;
      }
    }
  } else {
    corner = TWorldPoint{0, 0};
  }
  points.EndFigure();
}

void SetCenteredView(TDeviceInfo& device, double pixelsPerUnit, const TWorldPoint& center) {
  auto& projection = dynamic_cast<TMatrixProjection&>(*device.Projection());
  const double scale = pixelsPerUnit / device.BaseScaleX();
  projection.BeginUpdate();
  projection.Reset();
  projection.Flip(false, true);
  projection.Scale(scale, scale);
  projection.EndUpdate();
  const TWorldPoint c = projection.WorldToPage(center);
  device.SetOrigin(
      TWorldPoint{c.X - RectWidth(device.PageRect()) / 2, c.Y - RectHeight(device.PageRect()) / 2});
}

TPoint ScreenResolution(int32_t horzRes, int32_t vertRes, double horzSizeMm, double vertSizeMm) {
  if (horzSizeMm <= 0) horzSizeMm = 380;
  if (vertSizeMm <= 0) vertSizeMm = 300;
  return TPoint{RoundToInt(horzRes * 25.4 / horzSizeMm + 0.5),
                RoundToInt(vertRes * 25.4 / vertSizeMm + 0.5)};
}

TPoint ScreenResolution(const QScreen& screen) {
  const QRect geometry = screen.geometry();
  const QSizeF size = screen.physicalSize();
  return ScreenResolution(geometry.width(), geometry.height(), size.width(), size.height());
}
