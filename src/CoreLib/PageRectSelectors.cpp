#include "PageRectSelectors.h"

#include <cmath>

TPageRectSelector::TPageRectSelector(int cursor, TOnRect onChange, TOnRect onSelect)
    : OnChange(std::move(onChange)), OnSelect(std::move(onSelect)), SelectCursor(cursor) {}

void TPageRectSelector::SetPos(const TPoint& p) {
  TPoint corner = p;
  if (AspectMode != 0) {
    if (AspectMode == 1) {
      const TEditWindow* window = GetValidOwner();
      const QImage& surface = window->Surface();
      Aspect = double(surface.width()) / surface.height();
    }
    const TPoint a = Device().PageToDevice(AnchorPoint);
    double dx = p.X - a.X;
    double h = dx / Aspect;
    // The constrained rectangle is the smallest of the right ratio that reaches the mouse in the
    // direction that leads, on the mouse's side of the anchor.
    if (dx != 0 && h != 0 && std::fabs(double(p.Y - a.Y)) > std::fabs(h)) {
      h = p.Y - a.Y;
      dx = Aspect * h;
    }
    const double sx = p.X >= a.X ? 1 : -1;
    const double sy = p.Y >= a.Y ? 1 : -1;
    corner = TPoint{RoundToInt(a.X + sx * std::fabs(dx)), RoundToInt(a.Y + sy * std::fabs(h))};
  }
  CurrentPoint = Device().DeviceToPage(corner);
  SelRect = WorldRectFromPoints(CurrentPoint, AnchorPoint);
}

void TPageRectSelector::Draw(TCanvas& canvas) {
  if (Tracking) canvas.DrawFocusRect(Device().PageRectToDevice(SelRect));
}

void TPageRectSelector::MouseDown(TMouseButton button, TShiftState, const TPoint& p) {
  SetHandled();
  if (button != mbLeft) return;
  Tracking = true;
  AnchorPoint = Device().DeviceToPage(p);
  SetPos(p);
  RedrawOverlay();
  SetActive(true);
}

void TPageRectSelector::MouseMove(TShiftState, const TPoint& p) {
  SetHandled();
  GetValidOwner()->SetEditorCursor(SelectCursor);
  if (!IsActive()) return;
  RedrawOverlay();
  SetPos(p);
  RedrawOverlay();
  if (OnChange) OnChange(SelRect);
}

void TPageRectSelector::MouseUp(TMouseButton, TShiftState, const TPoint& p) {
  SetHandled();
  if (!IsActive()) return;
  SetActive(false);
  RedrawOverlay();
  SetPos(p);
  // The frame is off the window now; the result handler may repaint it freely.
  Tracking = false;
  // The window's reference may be the last one: detaching must come after everything else.
  TRefHolder<TPageRectSelector> hold(this);
  if (OnSelect) OnSelect(SelRect);
  Detach(this);
}
