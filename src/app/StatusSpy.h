#pragma once

#include "InEditors.h"

class TMainForm;

// Watches the mouse over the edit window and shows, in the status bar of the main window, the
// raster pixel under it and its position in centimetres of paper. It sees every move, whatever
// the other tools do, and never consumes one.
class TEditWindowSpy : public TEditor {
 public:
  explicit TEditWindowSpy(TMainForm* mainForm);

  void MouseMove(TShiftState shift, const TPoint& p) override;

 private:
  TMainForm* FMainForm;
};

// The panel texts for a raster point: pixels (rounded down), and centimetres at the resolution.
QString PixelPositionText(const TWorldPoint& w);
QString PaperPositionText(const TWorldPoint& w, int xPelsPerMeter, int yPelsPerMeter);
