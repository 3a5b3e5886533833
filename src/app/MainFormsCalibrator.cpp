// The calibrator commands of the main window: the tool switched on and off, the grid's commands,
// and the undoing of grid edits.
#include "FormUtils.h"
#include "GridCalibrator.h"
#include "MainForms.h"

void TMainForm::CalibrateMenuClick() {
  if (FCalibrator) {
    // The edit window's reference is the last: detached, the tool ends and its end clears ours.
    if (ConfirmGridLoss()) FEditWindow->DetachEditor(FCalibrator);
    return;
  }
  if (!FRaster) return;
  TGridCalibrator* calibrator = nullptr;
  AssignRef(calibrator, new TGridCalibrator(FRaster.get(), FOptions.get(), FUIContext.get()));
  FCalibrator = calibrator;
  calibrator->OnDestroy = [this](TGridCalibrator*) {
    FCalibrator = nullptr;
    FUIContext->CalibratorInUse->SetValue(0);
    GridHistoryChanged();
    FEditWindow->Invalidate();
  };
  calibrator->OnRasterChanged = [this](TGridCalibrator*) { FModified = true; };
  calibrator->OnGridChange = [this](TGridCalibrator*) { GridHistoryChanged(); };
  FEditWindow->AttachEditor(calibrator);
  FEditWindow->Invalidate();
  FUIContext->CalibratorInUse->SetValue(1);
  ReleaseRef(calibrator);
}

void TMainForm::CalibrateParamsBtnClick() {
  if (FCalibrator) FCalibrator->EditGridParams(this);
}

void TMainForm::CalibrateResetBtnClick() {
  if (FCalibrator) FCalibrator->ResetGrid();
}

void TMainForm::CalibrateBeginBtnClick() {
  if (!FCalibrator) return;
  TBusy busy(*this);
  FCalibrator->Calibrate();
}

void TMainForm::ClipImageBtnClick() {
  if (!FCalibrator) return;
  {
    TBusy busy(*this);
    FCalibrator->ClipToGrid();
  }
  FNavigator->SetView(TWorldPoint{FRaster->Width() / 2.0, FRaster->Height() / 2.0}, true,
                      FNavigator->GetScale());
}

void TMainForm::UndoMenuClick() {
  if (FCalibrator) FCalibrator->Undo();
}

void TMainForm::RedoMenuClick() {
  if (FCalibrator) FCalibrator->Redo();
}

void TMainForm::CloseCalibrator() {
  if (FCalibrator) FEditWindow->DetachEditor(FCalibrator);
}

bool TMainForm::ConfirmGridLoss() {
  if (FClosingDown || !FCalibrator || !FCalibrator->HasChanges()) return true;
  return AskQuestion(ApplicationTitle(),
                     QStringLiteral("Изменения в сетке будут потеряны. Продолжить?"), false,
                     this) == QMessageBox::Yes;
}

void TMainForm::GridHistoryChanged() {
  FGridCanUndo->SetValue(FCalibrator && FCalibrator->CanUndo());
  FGridCanRedo->SetValue(FCalibrator && FCalibrator->CanRedo());
}
