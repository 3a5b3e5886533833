#pragma once

#include "Contours.h"
#include "Geomet.h"
#include "Projections.h"
#include "Types.h"

#include <QTransform>

#include <cstdint>
#include <functional>

class QScreen;

// Device coordinates never leave ±(2^31 − 101), so that a little arithmetic on them cannot
// overflow.
inline constexpr double MaxDeviceCoord = 2147483547.0;

// Describes one drawing surface: its resolution and rectangle in device pixels (Y down), the clip
// rectangle of the drawing in progress, the page area it shows (metres, Y up) and the projection
// from world to page coordinates. Panning moves the origin, the page point at the device's
// left-bottom corner; the page-to-device scale is the physical one.
class TDeviceInfo {
 public:
  TDeviceInfo();
  ~TDeviceInfo();
  TDeviceInfo(const TDeviceInfo&) = delete;
  TDeviceInfo& operator=(const TDeviceInfo&) = delete;

  // Nothing happens when both equal the stored values. A valid device resets the origin so that
  // device (0, 0) is page (0, 0).
  void SetDevice(const TPoint& resolution, const TRect& r);
  void SetDeviceRect(const TRect& r) { SetDevice(FResolution, r); }
  // The clip of the drawing in progress; no OnChange.
  void SetClipRect(const TRect& r);
  TWorldPoint GetOrigin() const { return TWorldPoint{FPageRect.Left, FPageRect.Top}; }
  void SetOrigin(const TWorldPoint& p);
  bool IsValid() const { return FScaleX != 0 && FScaleY != 0; }

  double PixelsToPage(int32_t n) const;
  TPoint PageToDevice(const TWorldPoint& p) const;
  TWorldPoint DeviceToPage(const TPoint& p) const;
  // Bounding boxes of the converted corners.
  TRect PageRectToDevice(const TWorldRect& r) const;
  TWorldRect DeviceRectToPage(const TRect& r) const;
  TWorldPoint DeviceToWorld(const TPoint& p) const;
  // World to device without rounding, for drawing pictures through the whole mapping.
  QTransform WorldToDeviceTransform() const;
  // The world point at the middle of device pixel p, and the world's unit square (a raster's
  // pixel) under it: what a picture drawn through the transform shows there.
  TWorldPoint PixelCentreToWorld(const TPoint& p) const;
  TPoint WorldPixelAt(const TPoint& p) const;

  // Chords that approximate an arc within half a pixel, at most 1024.
  int32_t ArcSegments(double radius, double sweep) const;
  // Appends one page-coordinate segment of a contour to a device point list.
  void AddSegment(const TContourSegment& s, TPointList& list, int32_t tolerance) const;
  // The device figures of a page-coordinate contour. One reaching beyond PageClipLimit is first
  // clipped to PageClipRect grown by the margin, so no drawn coordinate lies far outside the clip.
  void ContourToDevPoints(const TContour& contour, TDevPoints& points, TWorldPoint& corner,
                          double margin) const;

  TProjection* Projection() const { return FProjection; }
  const TPoint& Resolution() const { return FResolution; }
  double BaseScaleX() const { return FBaseScaleX; }
  double BaseScaleY() const { return FBaseScaleY; }
  double ScaleX() const { return FScaleX; }
  double ScaleY() const { return FScaleY; }
  double ZoomX() const { return FZoomX; }
  double ZoomY() const { return FZoomY; }
  const TRect& DeviceRect() const { return FDeviceRect; }
  const TRect& ClipRect() const { return FClipRect; }
  const TWorldRect& PageRect() const { return FPageRect; }
  // The clip rectangle grown by a pixel, in page coordinates.
  const TWorldRect& PageClipRect() const { return FPageClipRect; }
  // PageClipRect grown by 8000 pixels.
  const TWorldRect& PageClipLimit() const { return FPageClipLimit; }

  // Fired by a valid device when the mapping changed.
  std::function<void(TDeviceInfo& sender)> OnChange;

 private:
  void Changed();
  void UpdateClip();

  TProjection* FProjection = nullptr;
  TPoint FResolution;
  double FBaseScaleX = 0;
  double FBaseScaleY = 0;
  double FScaleX = 0;
  double FScaleY = 0;
  double FZoomX = 0;
  double FZoomY = 0;
  TRect FDeviceRect;
  TRect FClipRect;
  TWorldRect FPageRect;
  TWorldRect FPageClipRect;
  TWorldRect FPageClipLimit;
};

// Sets the device's view up as the program shows a raster: flipped so that row 0 is on top,
// pixelsPerUnit device pixels per world unit, the world point center in the middle of the device.
void SetCenteredView(TDeviceInfo& device, double pixelsPerUnit, const TWorldPoint& center);

// The dots per inch of a screen from its pixel counts and physical size in millimetres, as
// Round(pixels × 25.4 / mm + 0.5); a size of 0 counts as 380 mm across and 300 mm down.
TPoint ScreenResolution(int32_t horzRes, int32_t vertRes, double horzSizeMm, double vertSizeMm);
TPoint ScreenResolution(const QScreen& screen);
