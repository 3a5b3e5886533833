#pragma once

#include "InEditors.h"

#include <optional>

class TGridCalibrator;
class TMainForm;

// Watches the mouse over the edit window and shows, in the status bar of the main window, the
// raster pixel under it, its position in centimetres of paper and, while the grid lies on the map,
// its map coordinates. It sees every move, whatever the other tools do, and never consumes one.
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
// The map coordinates of a raster point through the calibrator's grid, when it has them: on a
// calibrated raster through the regular lattice, before the calibration through the moved cells,
// as the calibration will place the point. None where the grid gives none.
std::optional<TWorldPoint> PointerMapPosition(const TGridCalibrator& calibrator,
                                              const TWorldPoint& w);
// Easting and northing in metres, to the centimetre.
QString MapPositionText(const TWorldPoint& map);
