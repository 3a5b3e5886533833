#include "RasterSnapshots.h"

#include "Devices.h"

TRasterSnapshot::TRasterSnapshot(TDeviceInfo& device, QSize size, TColor background,
                                 const TPaint& paint)
    : FPicture(size, QImage::Format_RGB32),
      FPictureToWorld(device.WorldToDeviceTransform().inverted()) {
  FPicture.fill(ColorToQColor(background));
  TCanvas canvas(FPicture);
  device.SetClipRect(canvas.ClipBox());
  paint(device, canvas);
}

void TRasterSnapshot::Draw(TDeviceInfo& device, TCanvas& canvas) const {
  const QRectF whole(FPicture.rect());
  canvas.StretchDib(FPictureToWorld * device.WorldToDeviceTransform(), whole, FPicture, whole);
}
