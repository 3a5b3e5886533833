// The view commands of the main window: the navigator's modes, the zoom steps and the history.
#include "MainForms.h"

#include <algorithm>

void TMainForm::SelectMenuClick() {
  if (!FRaster) return;
  if (FNavigator->State() == TEditWindowNavigator::nsHand)
    FNavigator->EndHandMode();
  else
    FNavigator->SelectMode();
}

void TMainForm::ScrollByHandMenuClick() {
  if (!FRaster) return;
  if (FNavigator->State() == TEditWindowNavigator::nsHand)
    FNavigator->EndHandMode();
  else
    FNavigator->StartHandMode(false);
}

void TMainForm::ZoomByRectMenuClick() {
  if (!FRaster) return;
  if (FNavigator->State() == TEditWindowNavigator::nsZoomRect)
    FNavigator->SelectMode();
  else
    FNavigator->ZoomRectMode();
}

void TMainForm::ZoomInMenuClick() {
  if (FRaster) FNavigator->ZoomIn();
}

void TMainForm::ZoomOutMenuClick() {
  if (FRaster) FNavigator->ZoomOut();
}

double TMainForm::OneToOneScale() const {
  return 1.0 / std::max(FRaster->XPelsPerMeter(), FRaster->YPelsPerMeter());
}

void TMainForm::ZoomOneInOneMenuClick() {
  if (FRaster) FNavigator->SetView(FNavigator->GetCentre(), true, OneToOneScale());
}

void TMainForm::ZoomAllMenuClick() {
  if (FRaster)
    FNavigator->FitWorldRect(TWorldRect{0, 0, double(FRaster->Width()), double(FRaster->Height())},
                             2);
}

void TMainForm::ZoomPrevMenuClick() {
  if (FRaster && FNavigator->HasHistory()) FNavigator->PopHistory();
}

void TMainForm::RefreshMenuClick() {
  if (FRaster) FEditWindow->Invalidate();
}
