#include "StatusSpy.h"

#include "GridCalibrator.h"
#include "MainForms.h"
#include "MapPositions.h"
#include "StatusPanels.h"
#include "WorldFiles.h"

#include <QLocale>

#include <cmath>

TEditWindowSpy::TEditWindowSpy(TMainForm* mainForm) : FMainForm(mainForm) {
  Mask = emWatcher;
}

void TEditWindowSpy::MouseMove(TShiftState, const TPoint& p) {
  // The middle of the pointer's device pixel: the raster pixel shown there is the one a node
  // dropped there lands on.
  const TWorldPoint w = Device().PixelCentreToWorld(p);
  FMainForm->ShowStatusText(0, PixelPositionText(w));
  const TRasterManager* raster = FMainForm->Raster();
  FMainForm->ShowStatusText(
      1,
      raster ? PaperPositionText(w, raster->XPelsPerMeter(), raster->YPelsPerMeter()) : QString());
  const TGridCalibrator* calibrator = FMainForm->Calibrator();
  std::optional<TWorldPoint> map;
  if (raster && calibrator) map = PointerMapPosition(*calibrator, w);
  FMainForm->ShowStatusText(TStatusPanels::MapSlot, map ? MapPositionText(*map) : QString());
}

QString PixelPositionText(const TWorldPoint& w) {
  return QStringLiteral("%1; %2 px")
      .arg(static_cast<long long>(std::floor(w.X)))
      .arg(static_cast<long long>(std::floor(w.Y)));
}

std::optional<TWorldPoint> PointerMapPosition(const TGridCalibrator& calibrator,
                                              const TWorldPoint& w) {
  const TGridInfo& grid = calibrator.Grid();
  const std::optional<TMapPlacement> placement = GridPlacement(grid);
  if (!placement) return std::nullopt;
  const std::optional<TWorldPoint> lattice =
      calibrator.Calibrated() ? std::optional(w) : LatticePosition(grid, w);
  if (!lattice) return std::nullopt;
  return MapPosition(placement->Transform, *lattice);
}

QString MapPositionText(const TWorldPoint& map) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return QStringLiteral("%1; %2 m")
      .arg(locale.toString(map.X, 'f', 2), locale.toString(map.Y, 'f', 2));
}

QString PaperPositionText(const TWorldPoint& w, int xPelsPerMeter, int yPelsPerMeter) {
  if (xPelsPerMeter <= 0 || yPelsPerMeter <= 0) return {};
  // Two decimals with the user's decimal separator, and no grouping of thousands.
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return QStringLiteral("%1; %2 cm")
      .arg(locale.toString(w.X / xPelsPerMeter * 100, 'f', 2),
           locale.toString(w.Y / yPelsPerMeter * 100, 'f', 2));
}
