// The file commands of the main window: open, close, save, the raster's properties, and the
// flows that close a raster or the window.
#include "FormUtils.h"
#include "MainForms.h"
#include "RasterFileDialogs.h"
#include "RasterPropertiesForms.h"
#include "RecentFiles.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

const QString kSaveFilter = QStringLiteral("Растры Windows (*.bmp)|*.bmp|Все файлы (*.*)|*.*");

// The BMP file of a drag, or an empty text when it carries none.
QString DroppedRaster(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  if (!url.isLocalFile()) return {};
  const QString name = url.toLocalFile();
  return name.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive) ? name : QString();
}

}  // namespace

void TMainForm::OpenMenuClick() {
  QString name = FOpenProposal;
  if (!FProvider->SelectFile(name)) return;
  OpenRaster(name);
}

void TMainForm::OpenRaster(const QString& fileName) {
  // A modified raster whose changes could not be kept (the save was cancelled or failed) stays
  // open, and the new one is not opened.
  if (CloseRaster(true, false) == IDCANCEL) return;
  auto raster =
      std::make_unique<TRasterManager>(FProvider.get(), FOptions->RasterCache, FStatusInfo.get());
  // The reduced copies made while the parts are read show the fitted view at once.
  raster->Pictures();
  {
    TBusy busy(*this);
    raster->Open(fileName);
  }
  FRaster = std::move(raster);
  FModified = false;
  FNameConfirmed = false;
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
  if (!EditRasterProperties(x, y, this)) return;
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
  int result = IDNO;
  if (saveAs || !FNameConfirmed) {
    QString name = FRaster->FileName();
    if (RunSaveFileDialog(kSaveFilter, QStringLiteral("bmp"), name, this,
                          QStringLiteral("Сохранение растра"))) {
      {
        TBusy busy(*this);
        FRaster->Save(name);
      }
      result = IDYES;
      FOpenProposal = FRaster->FileName();
      FRecentFiles->Add(name);
      RememberFolder(name);
    }
  } else {
    TBusy busy(*this);
    FRaster->Save(FRaster->FileName());
    result = IDYES;
  }
  if (result == IDYES) {
    FModified = false;
    FNameConfirmed = true;
  }
  UpdateCaption();
  return result;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // The window system's close comes in while long work runs, too: the work ends first.
  if (FBusyCount > 0) {
    event->ignore();
    return;
  }
  try {
    if (CloseRaster(true, true) == IDCANCEL) {
      event->ignore();
      return;
    }
  } catch (const Exception& e) {
    // The changes could not be saved: the window and the raster stay.
    ShowException(e);
    event->ignore();
    return;
  }
  SaveLayout();
  event->accept();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedRaster(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString name = DroppedRaster(event->mimeData());
  if (name.isEmpty()) return;
  event->acceptProposedAction();
  // The drag ends before the open flow asks its questions.
  QTimer::singleShot(0, this, [this, name] {
    try {
      OpenRaster(name);
    } catch (const Exception& e) {
      ShowException(e);
    }
  });
}
