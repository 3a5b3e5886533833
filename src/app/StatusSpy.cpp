#include "StatusSpy.h"

#include "MainForms.h"

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
}

QString PixelPositionText(const TWorldPoint& w) {
  return QStringLiteral("%1; %2 px")
      .arg(static_cast<long long>(std::floor(w.X)))
      .arg(static_cast<long long>(std::floor(w.Y)));
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
