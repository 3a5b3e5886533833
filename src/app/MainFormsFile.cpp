// The file commands of the main window: open, close, save, the raster's properties, and the
// flows that close a raster or the window.
#include "FormUtils.h"
#include "GridCalibrator.h"
#include "HtmlHelps.h"
#include "MainForms.h"
#include "MapOutputs.h"
#include "OpenPageForms.h"
#include "RasterPropertiesForms.h"
#include "RasterSaveNames.h"
#include "ReadOnlyFiles.h"
#include "RecentFiles.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

// The raster file of a drag, of a kind the provider opens, or an empty text when it carries none.
QString DroppedRaster(const QMimeData* data, const TRasterFileProvider& provider) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  if (!url.isLocalFile()) return {};
  const QString name = url.toLocalFile();
  return provider.FindFormatByExt(name) ? name : QString();
}

}  // namespace

void TMainForm::OpenMenuClick() {
  QString name = FOpenProposal;
  if (!FProvider->SelectFile(name)) return;
  OpenRaster(name);
}

void TMainForm::OpenRaster(const QString& fileName) {
  // A file dropped or named while long work runs must wait for nothing: it is not opened.
  if (WorkRunning()) return;
  // A file of a kind that does not open, and a document whose page the user does not choose,
  // leave the open raster as it is.
  CheckRasterFileKind(FProvider.get(), fileName);
  TRasterOpenOptions options;
  if (!AskOpenOptions(*FProvider, fileName, options, this)) return;
  // A modified raster whose changes could not be kept (the save was cancelled or failed) stays
  // open, and the new one is not opened.
  if (CloseRaster(true, false) == IDCANCEL) return;
  auto raster =
      std::make_unique<TRasterManager>(FProvider.get(), FOptions->RasterCache, FStatusInfo.get());
  // The reduced copies made while the parts are read show the fitted view at once.
  raster->Pictures();
  TRasterManager& opened = *raster;
  RunWork(QStringLiteral("открытие растра"),
          [&opened, &fileName, &options] { opened.Open(fileName, options); });
  FRaster = std::move(raster);
  FModified = false;
  FNameConfirmed = false;
  FPixelsAsFiled = true;
  FOpenProposal = FRaster->FileName();
  FRecentFiles->Add(fileName);
  RememberFolder(fileName);
  RasterChanged();
  ShowEditWindow(true);
  SelectMenuClick();
  ZoomAllMenuClick();
  FNavigator->ClearHistory();
  FUIContext->RasterOpened->SetValue(1);
  FUIContext->CanUndoZoom->SetValue(FNavigator->HasHistory());
  ClearStatus();
  UpdateCaption();
  CalibrateMenuClick();
}

void TMainForm::CloseMenuClick() {
  CloseRaster(true, true);
}

void TMainForm::SaveMenuClick() {
  if (FRaster) SaveRaster(false);
}

void TMainForm::SaveAsMenuClick() {
  if (FRaster) SaveRaster(true);
}

void TMainForm::PropertiesMenuClick() {
  if (!FRaster) return;
  int x = FRaster->XPelsPerMeter();
  int y = FRaster->YPelsPerMeter();
  if (!EditRasterProperties(x, y, FRaster->FileFormat(), this)) return;
  FRaster->SetXPelsPerMeter(x);
  FRaster->SetYPelsPerMeter(y);
  FModified = true;
  UpdateCaption();
  FEditWindow->Invalidate();
}

void TMainForm::ExitMenuClick() {
  close();
}

int TMainForm::CloseRaster(bool ask, bool canCancel) {
  // The raster stays while long work holds it.
  if (WorkRunning()) return IDCANCEL;
  int result = IDNO;
  // Nodes placed by hand are an hour's work: they go only when the user agrees.
  if (FRaster && ask && !ConfirmGridLoss()) return IDCANCEL;
  if (FRaster && FModified && ask) {
    const QMessageBox::StandardButton answer = AskQuestion(
        QStringLiteral("Сохранение"),
        QStringLiteral("Сохранить растр %1?").arg(FRaster->FileName()), canCancel, this);
    if (answer == QMessageBox::Cancel) return IDCANCEL;
    if (answer == QMessageBox::Yes) {
      result = SaveRaster(false);
      // The user meant to keep the changes: a save dialog cancelled keeps the raster open.
      if (result != IDYES) return IDCANCEL;
    }
  }
  CloseCalibrator();
  SelectMenuClick();
  ShowEditWindow(false);
  FNavigator->ClearHistory();
  FRaster.reset();
  RasterChanged();
  FUIContext->RasterOpened->SetValue(0);
  FUIContext->CanUndoZoom->SetValue(0);
  ClearStatus();
  UpdateCaption();
  return result;
}

int TMainForm::SaveRaster(bool saveAs) {
  if (WorkRunning()) return IDNO;
  int result = IDNO;
  QString name = FRaster->FileName();
  // A raster whose file cannot be written back asks for a name as a first save does.
  const bool ask = saveAs || !FNameConfirmed || !FProvider->SaveFormatByExt(name);
  if ((!ask || AskRasterSaveName(*FProvider, name, this)) && MayReplace(name, this)) {
    const TSaveOptions options = RasterSaveOptions(*FProvider, name);
    // A calibrated raster lies on the grid's lattice, and so on the map when the grid is; before
    // the calibration it lies nowhere.
    const std::optional<TMapPlacement> placement = FCalibrator && FCalibrator->Calibrated()
                                                       ? GridPlacement(FCalibrator->Grid())
                                                       : std::nullopt;
    const TOldWorldFiles old = FPixelsAsFiled && name == FRaster->FileName()
                                   ? TOldWorldFiles::Keep
                                   : TOldWorldFiles::Remove;
    const TReplaceableFile replaceable(name);
    TRasterManager& raster = *FRaster;
    RunWork(QStringLiteral("сохранение растра"), [&raster, &name, &options, &placement, old] {
      SaveOnTheMap(raster, name, options, placement, old);
    });
    result = IDYES;
    FPixelsAsFiled = true;
    if (ask) {
      FOpenProposal = FRaster->FileName();
      FRecentFiles->Add(name);
      RememberFolder(name);
    }
  }
  if (result == IDYES) {
    FModified = false;
    FNameConfirmed = true;
  }
  UpdateCaption();
  return result;
}

bool TMainForm::MayCloseDuringWork() {
  if (!WorkRunning()) return true;
  // The work ends first: a file is never left half written. Asked to stop, it stops at its next
  // report, and the window closes then, asking as ever about what is not saved.
  if (AskQuestion(ApplicationTitle(), QStringLiteral("Прервать %1?").arg(FWorkName), false, this) ==
          QMessageBox::Yes &&
      WorkRunning()) {
    FCloseAfterWork = true;
    CancelWork();
  }
  return false;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!MayCloseDuringWork()) {
    event->ignore();
    return;
  }
  try {
    if (CloseRaster(true, true) == IDCANCEL) {
      event->ignore();
      return;
    }
  } catch (const ECancelled&) {
    event->ignore();
    return;
  } catch (const Exception& e) {
    // The changes could not be saved: the window and the raster stay.
    ShowException(e);
    event->ignore();
    return;
  }
  SaveLayout();
  CloseHelpWindows();
  event->accept();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  dragMoveEvent(event);
}

void TMainForm::dragMoveEvent(QDragMoveEvent* event) {
  // Each move asks again, for long work may begin or end while the drag lasts. While it runs, a
  // raster cannot be replaced: the pointer shows that the drop is refused.
  if (!WorkRunning() && !DroppedRaster(event->mimeData(), *FProvider).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString name = DroppedRaster(event->mimeData(), *FProvider);
  if (name.isEmpty() || WorkRunning()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // The drag ends before the open flow asks its questions.
  QTimer::singleShot(0, this, [this, name] {
    try {
      OpenRaster(name);
    } catch (const ECancelled&) {
    } catch (const Exception& e) {
      ShowException(e);
    }
  });
}
