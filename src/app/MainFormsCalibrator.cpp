// The calibrator commands of the main window: the tool switched on and off, the grid's commands,
// and the undoing of grid edits.
#include "FormUtils.h"
#include "GridCalibrator.h"
#include "GridFiles.h"
#include "GridNodesDocks.h"
#include "MainForms.h"
#include "NodePropertiesForms.h"
#include "NodeReports.h"
#include "OverviewDocks.h"
#include "RasterFileDialogs.h"
#include "ReadOnlyFiles.h"
#include "StatusPanels.h"
#include "WorldFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

namespace {

// The report after a search names this many nodes of each kind: the marks show the rest.
constexpr int kReportedNodes = 5;

const QString kGridFilter = QStringLiteral("Файлы сетки (*.json)|*.json|Все файлы (*.*)|*.*");

}  // namespace

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
    FFiledGrid.reset();
    FUIContext->CalibratorInUse->SetValue(0);
    FNodesDock->SetCalibrator(nullptr);
    GridHistoryChanged();
    FEditWindow->Invalidate();
  };
  calibrator->OnRasterChanged = [this](TGridCalibrator*) {
    FModified = true;
    FPixelsAsFiled = false;
    RasterChanged();
  };
  calibrator->OnRunWork = [this](const QString& name, const std::function<void()>& job) {
    RunWork(name, job);
  };
  calibrator->OnReplaceRaster = [this](std::unique_ptr<TRasterManager> raster) {
    FRaster.swap(raster);
    return raster;
  };
  calibrator->OnGridChange = [this](TGridCalibrator*) {
    GridHistoryChanged();
    FNodesDock->GridChanged();
  };
  calibrator->OnSelectionChange = [this](TGridCalibrator*) { FNodesDock->SelectionChanged(); };
  calibrator->OnNodeProperties = [this](TGridCalibrator*, int32_t i, int32_t j) {
    ShowNodeProperties(i, j);
  };
  FEditWindow->AttachEditor(calibrator);
  FNodesDock->SetCalibrator(calibrator);
  FEditWindow->Invalidate();
  FUIContext->CalibratorInUse->SetValue(1);
  ReleaseRef(calibrator);
}

// The calibrator's commands do nothing while long work runs: a key pressed twice, or a command
// that was waiting, must not start the work again.
void TMainForm::CalibrateParamsBtnClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->EditGridParams(this);
}

void TMainForm::CalibrateResetBtnClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->ResetGrid();
}

void TMainForm::CalibrateBeginBtnClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->Calibrate();
}

void TMainForm::ClipImageBtnClick() {
  RunClip(&TGridCalibrator::ClipToGrid);
}

void TMainForm::ClipFrameMenuClick() {
  RunClip(&TGridCalibrator::ClipToGridFrame);
}

void TMainForm::RunClip(void (TGridCalibrator::*clip)()) {
  if (!FCalibrator || WorkRunning()) return;
  (FCalibrator->*clip)();
  FNavigator->SetView(TWorldPoint{FRaster->Width() / 2.0, FRaster->Height() / 2.0}, true,
                      FNavigator->GetScale());
}

void TMainForm::NextMissedNodeMenuClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->SelectNextMissed();
}

void TMainForm::ShowNodeProperties(int32_t i, int32_t j) {
  if (!FCalibrator || WorkRunning()) return;
  TNodePropertiesForm form(*FCalibrator, i, j, this);
  form.exec();
}

void TMainForm::UndoMenuClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->Undo();
}

void TMainForm::RedoMenuClick() {
  if (FCalibrator && !WorkRunning()) FCalibrator->Redo();
}

void TMainForm::FindNodesMenuClick() {
  if (!FCalibrator || WorkRunning()) return;
  const TNodeSearch search = FCalibrator->FindNodes();
  QString report = NodeSearchReport(search, kReportedNodes).join('\n');
  if (search.FoundCount() < search.SearchedCount() || !search.Disagreeing().empty())
    report += QStringLiteral(
        "\n\nНе найденные узлы отмечены кружками с крестом, узлы, которые не согласуются с "
        "соседними, — ромбами: поставьте их сами. Кружок найденного узла замкнут настолько, "
        "насколько поиск в нём уверен.");
  QMessageBox::information(this, ApplicationTitle(), report);
}

void TMainForm::OpenGridMenuClick() {
  if (!FCalibrator || WorkRunning()) return;
  QString name = GridFileProposal();
  if (!RunOpenFileDialog(kGridFilter, name, this, QStringLiteral("Открытие сетки"))) return;
  TGridFile file;
  RunWork(QStringLiteral("чтение сетки"), [&file, &name] { file = ReadGridFile(name); });
  // A file that does not fit the raster is refused whole: the grid stays as it was.
  FCalibrator->ReplaceGrid(MakeGrid(file, *FRaster));
  FGridProposal = name;
  FFiledGrid = FCalibrator->Grid();
}

void TMainForm::SaveGridMenuClick() {
  if (!FCalibrator || WorkRunning()) return;
  QString name = GridFileProposal();
  if (!RunSaveFileDialog(kGridFilter, QStringLiteral("json"), name, this,
                         QStringLiteral("Сохранение сетки")) ||
      !MayReplace(name, this))
    return;
  const TReplaceableFile replaceable(name);
  const TGridInfo grid = FCalibrator->Grid();
  RunWork(QStringLiteral("запись сетки"), [&name, &grid] { WriteGridFile(name, grid); });
  FGridProposal = name;
  FFiledGrid = FCalibrator->Grid();
}

QString TMainForm::GridFileProposal() const {
  if (!FGridProposal.isEmpty()) return FGridProposal;
  // Beside the raster, under its name.
  const QFileInfo raster(FRaster->FileName());
  return raster.dir().filePath(raster.completeBaseName() + QStringLiteral(".json"));
}

void TMainForm::CloseCalibrator() {
  if (FCalibrator) FEditWindow->DetachEditor(FCalibrator);
}

bool TMainForm::ConfirmGridLoss() {
  if (FClosingDown || !FCalibrator || !FCalibrator->HasChanges()) return true;
  if (FFiledGrid && *FFiledGrid == FCalibrator->Grid()) return true;
  return AskQuestion(ApplicationTitle(),
                     QStringLiteral("Изменения в сетке будут потеряны. Продолжить?"), false,
                     this) == QMessageBox::Yes;
}

void TMainForm::GridHistoryChanged() {
  // The map coordinates under the mouse, while the grid lies on the map.
  const bool onMap = FCalibrator && GridPlacement(FCalibrator->Grid());
  FStatusPanels->Panel(TStatusPanels::MapSlot)->setVisible(onMap);
  if (!onMap) ShowStatusText(TStatusPanels::MapSlot, QString());
  FGridCanUndo->SetValue(FCalibrator && FCalibrator->CanUndo());
  FGridCanRedo->SetValue(FCalibrator && FCalibrator->CanRedo());
  FGridMissed->SetValue(FCalibrator ? static_cast<int>(FCalibrator->MissedNodes().size()) : 0);
  // The items say what they undo and redo.
  static const QString undo[] = {QStringLiteral("Отменит&ь изменение сетки"),
                                 QStringLiteral("Отменит&ь калибровку"),
                                 QStringLiteral("Отменит&ь обрезку")};
  static const QString redo[] = {QStringLiteral("&Вернуть изменение сетки"),
                                 QStringLiteral("&Вернуть калибровку"),
                                 QStringLiteral("&Вернуть обрезку")};
  const auto kind = [](TEditKind k) { return static_cast<size_t>(k); };
  FUndoMenu->setText(undo[kind(FCalibrator ? FCalibrator->UndoKind() : TEditKind::ekGrid)]);
  FRedoMenu->setText(redo[kind(FCalibrator ? FCalibrator->RedoKind() : TEditKind::ekGrid)]);
}
