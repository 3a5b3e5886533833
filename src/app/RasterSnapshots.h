#pragma once

#include "Canvases.h"

#include <QImage>
#include <QTransform>

#include <functional>

class TDeviceInfo;

// The last picture of the raster, which the window shows while long work holds the raster (whose
// parts only one thread at a time may read). It is drawn once, when the work begins, over the
// whole window; afterwards it moves and scales with the view, so that the window repaints what is
// uncovered, resized, zoomed or scrolled without reading a pixel of the raster. Where the picture
// does not reach, the window shows its background.
class TRasterSnapshot {
 public:
  using TPaint = std::function<void(TDeviceInfo& device, TCanvas& canvas)>;

  // Paints the picture of the given size through paint, at the device's view as it stands.
  TRasterSnapshot(TDeviceInfo& device, QSize size, TColor background, const TPaint& paint);

  // Draws the picture where the device's view puts it now.
  void Draw(TDeviceInfo& device, TCanvas& canvas) const;

  const QImage& Picture() const { return FPicture; }

 private:
  QImage FPicture;
  QTransform FPictureToWorld;
};
