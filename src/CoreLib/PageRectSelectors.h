#pragma once

#include "Geomet.h"
#include "InEditors.h"

#include <functional>

// A short-lived tool that lets the user drag a rectangle over the window and reports it in page
// coordinates. It shows the rectangle as a dotted exclusive-or frame while the mouse moves and
// detaches itself when the button is released. The rectangle may keep a fixed ratio of width to
// height, by default the window's, so that the selected area fills the window after zooming.
class TPageRectSelector : public TEditor {
 public:
  using TOnRect = std::function<void(const TWorldRect& r)>;

  TPageRectSelector(int cursor, TOnRect onChange, TOnRect onSelect);

  // The moving corner follows the client point.
  void SetPos(const TPoint& p) override;
  void Draw(TCanvas& canvas) override;
  void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void MouseMove(TShiftState shift, const TPoint& p) override;
  void MouseUp(TMouseButton button, TShiftState shift, const TPoint& p) override;

  TOnRect OnChange;
  TOnRect OnSelect;
  int SelectCursor;
  TWorldPoint AnchorPoint;
  TWorldPoint CurrentPoint;
  TWorldRect SelRect;
  bool Tracking = false;
  // 0 a free rectangle; 1 the window's ratio, taken anew at every move; otherwise Aspect.
  uint8_t AspectMode = 1;
  double Aspect = 1;
};
