#include "RasterDraw.h"

#include <algorithm>
#include <cmath>

TRect PartSourceRect(const TDeviceInfo& device, const TRasterPart& part) {
  const TProjection& projection = *device.Projection();
  TWorldRect page;
  projection.WorldRectToPage(part.GetBounds(), page);
  if (!WorldRectsOverlap(page, device.PageClipRect())) return TRect{};
  IntersectWorldRect(page, device.PageClipRect());
  TWorldRect world;
  projection.PageRectToWorld(page, world);
  TRect r = RoundWorldRect(world);
  const int right = part.Left() + part.Width();
  const int bottom = part.Top() + part.Height();
  if (part.Left() < r.Left) --r.Left;
  if (right > r.Right) ++r.Right;
  if (part.Top() < r.Top) --r.Top;
  if (bottom > r.Bottom) ++r.Bottom;
  // Bounding boxes of a rotated view reach past the part: its pixels end at its edges.
  r = TRect{std::max(r.Left, part.Left()), std::max(r.Top, part.Top()), std::min(r.Right, right),
            std::min(r.Bottom, bottom)};
  return r.Left < r.Right && r.Top < r.Bottom ? r : TRect{};
}

TPartPictures& TRasterManager::Pictures(int64_t coarseBudget, int64_t fineBudget) {
  if (!FPictures) {
    FPictures = std::make_unique<TPartPictures>(*this, coarseBudget, fineBudget);
    FCache.OnPixels = [this](TRasterPart& part, const uint8_t* bits) {
      FPictures->PixelsAvailable(part, bits);
    };
  }
  return *FPictures;
}

void TRasterManager::Draw(TDeviceInfo& device, TCanvas& canvas) {
  if (FParts.empty() || !device.IsValid()) return;
  TPartPictures& pictures = Pictures();
  const QTransform toDevice = device.WorldToDeviceTransform();
  const int level = TPartPictures::LevelFor(std::sqrt(std::fabs(toDevice.determinant())));
  // The parts of the picture stay loaded while it is drawn. Ending the scope may write parts to the
  // swap file, which can fail: not from a destructor, and never hiding the first error.
  FCache.BeginUse();
  pictures.BeginPaint();
  try {
    for (const std::unique_ptr<TRasterPart>& p : FParts) {
      TRasterPart& part = *p;
      const TRect src = PartSourceRect(device, part);
      if (src.Width() == 0) continue;
      const TPartPicture picture = pictures.Picture(part, level);
      const double unit = std::ldexp(1.0, picture.Level);
      canvas.StretchDib(toDevice, QRectF(src.Left, src.Top, src.Width(), src.Height()),
                        *picture.Image,
                        QRectF((src.Left - part.Left()) / unit, (src.Top - part.Top()) / unit,
                               src.Width() / unit, src.Height() / unit));
    }
  } catch (...) {
    pictures.EndPaint();
    try {
      FCache.EndUse();
    } catch (...) {
    }
    throw;
  }
  pictures.EndPaint();
  FCache.EndUse();
}
