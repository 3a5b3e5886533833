#pragma once

#include "Devices.h"
#include "InEditors.h"

#include <QImage>
#include <QWidget>

// A magnifying glass over an edit window: an inset beside the pointer that shows the view around
// the world pixel under it several times larger, drawn as the window draws its picture (its paint
// handler, then what the owner paints over it), with that pixel outlined. It is a widget of its
// own above the window's surface, so that it moves without leaving a trail and never covers the
// pointer; clicks go through it to the window.
class TLoupe : public QWidget {
 public:
  static constexpr int kSide = 160;  // logical pixels each way
  static constexpr int kGap = 24;    // between the pointer and the loupe
  // The loupe magnifies the view this many times, and at least twice, but shows a world unit no
  // larger than kUnitSide logical pixels unless the view itself does.
  static constexpr double kMagnification = 8;
  static constexpr double kUnitSide = 16;

  explicit TLoupe(TEditWindow& window);

  // What the owner paints over the window's picture, for the loupe's device.
  TEditWindow::TOnPaint OnPaintOver;

  // Shows the loupe for the window's device pixel p, or moves it there.
  void ShowAt(const TPoint& p);
  // Draws it again where it is, after the picture or the owner's figures changed.
  void Refresh();

  // The magnified picture, in device pixels, and the scale it shows the world at.
  const QImage& Picture() const { return FPicture; }
  double PixelsPerUnit() const { return FPixelsPerUnit; }
  const TPoint& Pixel() const { return FPixel; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Render();
  void Place(const TPoint& p);

  TEditWindow& FWindow;
  TDeviceInfo FDevice;
  QImage FPicture;
  TPoint FPointer;
  TPoint FPixel;  // the world pixel under the pointer
  double FPixelsPerUnit = 0;
};
