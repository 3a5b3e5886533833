#include "GridCalibrator.h"

#include "AppUIContext.h"
#include "CalibrateRaster.h"
#include "Contours.h"
#include "Cursors.h"
#include "GridCalibratorParams.h"
#include "RasterManagers.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The cursors of the drags, in the order of the drag states 1 … 6.
constexpr int kDragCursors[] = {
    GridCursorBase + 3,  // CR_NODEMOVE
    GridCursorBase + 2,  // CR_NODEDEL
    GridCursorBase + 0,  // CR_HGRIDMOVE
    GridCursorBase + 1,  // CR_HGRIDSIZE
    GridCursorBase + 4,  // CR_VGRIDMOVE
    GridCursorBase + 5,  // CR_VGRIDSIZE
};

void AddSegment(TContour& c, const TPoint& a, const TPoint& b) {
  c.MoveTo(PointToWorld(a));
  c.LineTo(PointToWorld(b));
}

void AddCircle(TContour& c, const TWorldPoint& centre, double radius) {
  c.MoveTo(TWorldPoint{centre.X + radius, centre.Y});
  c.ArcTo(TWorldPoint{centre.X - radius, centre.Y}, 1);
  c.CloseArc(1);
}

// Every row and column of the reference lattice, shifted by (dx, dy).
void AddLattice(TContour& c, const TGridInfo& grid, int32_t dx, int32_t dy) {
  const int32_t right = grid.RefPos(grid.NX - 1, 0).X + dx;
  const int32_t bottom = grid.RefPos(0, grid.NY - 1).Y + dy;
  for (int32_t j = 0; j < grid.NY; ++j) {
    const int32_t y = grid.RefPos(0, j).Y + dy;
    AddSegment(c, TPoint{grid.Origin.X + dx, y}, TPoint{right, y});
  }
  for (int32_t i = 0; i < grid.NX; ++i) {
    const int32_t x = grid.RefPos(i, 0).X + dx;
    AddSegment(c, TPoint{x, grid.Origin.Y + dy}, TPoint{x, bottom});
  }
}

TLineStyle Solid(TColor color) {
  return MakeLineStyle(psSolid, color, pmCopy, 0, 0);
}

// A state variable set to 1 while a command runs, back to 0 whatever happens.
class TFlagScope {
 public:
  explicit TFlagScope(TUIContextVar* flag) : FFlag(flag) { FFlag->SetValue(1); }
  ~TFlagScope() { FFlag->SetValue(0); }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  TUIContextVar* FFlag;
};

}  // namespace

TGridCalibrator::TGridCalibrator(TRasterManager* raster, const TGridCalibratorOptions* options,
                                 TAppUIContext* uiContext)
    : FRaster(raster), FOptions(options), FUIContext(uiContext) {
  FGrid.SetSize(2, 2);
  FGrid.SetStep(TPoint{raster->Width(), raster->Height()});
}

TGridCalibrator::~TGridCalibrator() {
  FDragState = dsIdle;
  if (OnDestroy) OnDestroy(this);
}

// --- Picking ---

double TGridCalibrator::PickRadius() const {
  return FOptions->GridNodeRadius / Device().Projection()->GetScale();
}

void TGridCalibrator::SetPos(const TPoint& p) {
  FLastPos = RoundWorldPoint(Device().DeviceToWorld(p));
}

TGridCalibrator::THit TGridCalibrator::HitTest(TShiftState shift, const TPoint& p) const {
  const TPoint q = RoundWorldPoint(Device().DeviceToWorld(p));
  const double r = PickRadius();
  const bool ctrl = shift & ssCtrl;
  for (int32_t i = FGrid.NX - 1; i >= 0; --i)
    for (int32_t j = FGrid.NY - 1; j >= 0; --j) {
      const TPoint n = FGrid.NodePos(i, j);
      if (std::hypot(double(n.X - q.X), double(n.Y - q.Y)) > r) continue;
      if (!ctrl) return THit{dsMoveNode, i, j, 0};
      if (FGrid.NodeAt(i, j).IsMoved()) return THit{dsResetNode, i, j, 0};
      return THit{};
    }
  for (int32_t i = FGrid.NX - 1; i >= 0; --i) {
    if (std::fabs(double(FGrid.RefPos(i, 0).X - q.X)) > r) continue;
    if (q.Y < FGrid.RefPos(i, 0).Y || q.Y > FGrid.RefPos(i, FGrid.NY - 1).Y) return THit{};
    if (!ctrl) return THit{dsMoveColumn, 0, 0, i};
    return i == 0 ? THit{} : THit{dsSizeByColumn, 0, 0, i};
  }
  for (int32_t j = FGrid.NY - 1; j >= 0; --j) {
    if (std::fabs(double(FGrid.RefPos(0, j).Y - q.Y)) > r) continue;
    if (q.X < FGrid.RefPos(0, j).X || q.X > FGrid.RefPos(FGrid.NX - 1, j).X) return THit{};
    if (!ctrl) return THit{dsMoveRow, 0, 0, j};
    return j == 0 ? THit{} : THit{dsSizeByRow, 0, 0, j};
  }
  return THit{};
}

// --- Dragging ---

void TGridCalibrator::SetDragState(uint8_t state, int32_t i, int32_t j, int32_t line) {
  if (state == dsIdle && FDragState == dsIdle) return;
  RedrawOverlay();
  FDragState = state;
  FDragI = state == dsIdle ? 0 : i;
  FDragJ = state == dsIdle ? 0 : j;
  FDragLine = state == dsIdle ? 0 : line;
  RedrawOverlay();
  SetActive(state != dsIdle);
  UpdateCursor(state);
}

void TGridCalibrator::UpdateCursor(uint8_t state) {
  GetValidOwner()->SetEditorCursor(state == dsIdle ? crDefault : kDragCursors[state - 1]);
}

bool TGridCalibrator::WorkRunning() const {
  return FUIContext->WorkInProgress->Value() != 0 ||
         FUIContext->CalibrationInProgress->Value() != 0 ||
         FUIContext->ClipInProgress->Value() != 0;
}

void TGridCalibrator::MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) {
  if (WorkRunning()) return;
  SetHandled();
  RedrawOverlay();
  SetPos(p);
  RedrawOverlay();
  // The grid is dragged with the left button; the right one belongs to the view (its drag pans the
  // picture, its click opens the menu) and ends a drag in progress unapplied.
  if (button != mbLeft) {
    SetDragState(dsIdle);
    return;
  }
  const THit hit = HitTest(shift, p);
  SetDragState(hit.State, hit.I, hit.J, hit.Line);
}

void TGridCalibrator::MouseMove(TShiftState shift, const TPoint& p) {
  if (WorkRunning()) return;
  SetHandled();
  RedrawOverlay();
  SetPos(p);
  RedrawOverlay();
  UpdateCursor(FDragState != dsIdle ? FDragState : HitTest(shift, p).State);
}

void TGridCalibrator::MouseUp(TMouseButton, TShiftState, const TPoint& p) {
  if (WorkRunning()) return;
  SetHandled();
  RedrawOverlay();
  SetPos(p);
  RedrawOverlay();
  const uint8_t state = FDragState;
  const int32_t i = FDragI;
  const int32_t j = FDragJ;
  const int32_t line = FDragLine;
  SetDragState(dsIdle);
  if (state == dsIdle) return;
  const TPoint q = FLastPos;
  TGridInfo before = FGrid;
  switch (state) {
    case dsMoveNode: {
      const TPoint ref = FGrid.RefPos(i, j);
      FGrid.NodeAt(i, j).Offset = TPoint{q.X - ref.X, q.Y - ref.Y};
      break;
    }
    case dsResetNode:
      FGrid.NodeAt(i, j).Offset = TPoint{};
      break;
    case dsMoveRow:
      FGrid.SetOrigin(TPoint{FGrid.Origin.X, FGrid.Origin.Y + q.Y - FGrid.RefPos(0, line).Y});
      break;
    case dsSizeByRow:
      FGrid.SetStep(
          TPoint{FGrid.Step.X, std::max(1, RoundToInt(double(q.Y - FGrid.Origin.Y) / line))});
      break;
    case dsMoveColumn:
      FGrid.SetOrigin(TPoint{FGrid.Origin.X + q.X - FGrid.RefPos(line, 0).X, FGrid.Origin.Y});
      break;
    case dsSizeByColumn:
      FGrid.SetStep(
          TPoint{std::max(1, RoundToInt(double(q.X - FGrid.Origin.X) / line)), FGrid.Step.Y});
      break;
  }
  if (FGrid != before) {
    PushUndo(std::move(before));
    GridChanged();
  }
  // A node placed by hand is no longer one the search missed.
  if (state == dsMoveNode || state == dsResetNode) std::erase(FMissed, TPoint{i, j});
  Repaint();
}

void TGridCalibrator::Cancel() {
  SetDragState(dsIdle);
}

void TGridCalibrator::Draw(TCanvas& canvas) {
  if (FDragState == dsIdle || FDragState == dsResetNode) return;
  TContourLease figure;
  switch (FDragState) {
    case dsMoveNode: {
      const int32_t around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
      for (const auto& d : around) {
        const int32_t i = FDragI + d[0];
        const int32_t j = FDragJ + d[1];
        if (i >= 0 && i < FGrid.NX && j >= 0 && j < FGrid.NY)
          AddSegment(*figure, FGrid.NodePos(i, j), FLastPos);
      }
      break;
    }
    case dsMoveRow:
      AddLattice(*figure, FGrid, 0, FLastPos.Y - FGrid.RefPos(0, FDragLine).Y);
      break;
    case dsSizeByRow:
      AddSegment(*figure, TPoint{FGrid.RefPos(0, 0).X, FLastPos.Y},
                 TPoint{FGrid.RefPos(FGrid.NX - 1, 0).X, FLastPos.Y});
      break;
    case dsMoveColumn:
      AddLattice(*figure, FGrid, FLastPos.X - FGrid.RefPos(FDragLine, 0).X, 0);
      break;
    case dsSizeByColumn:
      AddSegment(*figure, TPoint{FLastPos.X, FGrid.RefPos(0, 0).Y},
                 TPoint{FLastPos.X, FGrid.RefPos(0, FGrid.NY - 1).Y});
      break;
  }
  DrawWorldContour(Device(), canvas, *figure, HollowFill,
                   MakeLineStyle(psSolid, clWhite, pmXor, 0, 0));
}

// --- Painting ---

void TGridCalibrator::Paint(TCanvas& canvas) {
  TDeviceInfo& device = Device();
  const TProjection& projection = *device.Projection();
  const double radius = FOptions->GridNodeRadius;
  // Marks beyond the painted area are not built at all: a fine grid has many.
  TWorldRect visible;
  projection.PageRectToWorld(device.PageClipRect(), visible);
  const double margin = PickRadius();
  InflateWorldRect(visible, margin, margin);
  const auto shown = [&](const TPoint& p) { return PtInWorldRect(visible, PointToWorld(p)); };

  {
    TContourLease lattice;
    AddLattice(*lattice, FGrid, 0, 0);
    DrawWorldContour(device, canvas, *lattice, HollowFill, Solid(FOptions->SrcGridColor));
  }
  {
    TContourLease marks;
    for (int32_t j = 0; j < FGrid.NY; ++j)
      for (int32_t i = 0; i < FGrid.NX; ++i)
        if (!FGrid.NodeAt(i, j).IsMoved() && shown(FGrid.RefPos(i, j)))
          AddCircle(*marks, projection.WorldToPage(PointToWorld(FGrid.RefPos(i, j))), radius);
    DrawPageContour(device, canvas, *marks, HollowFill, Solid(FOptions->SrcGridColor));
  }
  TContourLease moved;
  TContourLease movedMarks;
  TContourLease shifts;
  for (int32_t j = 0; j < FGrid.NY; ++j)
    for (int32_t i = 0; i < FGrid.NX; ++i) {
      if (!FGrid.NodeAt(i, j).IsMoved()) continue;
      const TPoint p = FGrid.NodePos(i, j);
      const int32_t around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
      for (const auto& d : around) {
        const int32_t ni = i + d[0];
        const int32_t nj = j + d[1];
        if (ni >= 0 && ni < FGrid.NX && nj >= 0 && nj < FGrid.NY)
          AddSegment(*moved, p, FGrid.NodePos(ni, nj));
      }
      if (shown(p)) AddCircle(*movedMarks, projection.WorldToPage(PointToWorld(p)), radius);
      AddSegment(*shifts, p, FGrid.RefPos(i, j));
    }
  DrawWorldContour(device, canvas, *moved, HollowFill, Solid(FOptions->DstGridColor));
  DrawPageContour(device, canvas, *movedMarks, HollowFill, Solid(FOptions->DstGridColor));
  DrawWorldContour(device, canvas, *shifts, HollowFill,
                   MakeLineStyle(psDot, FOptions->DstGridColor, pmCopy, 0, 0));
  PaintMissedNodes(canvas);
}

void TGridCalibrator::PaintMissedNodes(TCanvas& canvas) {
  if (FMissed.empty()) return;
  TDeviceInfo& device = Device();
  const TProjection& projection = *device.Projection();
  // A ring twice a node's size with a cross in it: the user's eye finds it on a busy sheet.
  const double radius = 2 * FOptions->GridNodeRadius;
  TContourLease marks;
  for (const TPoint& n : FMissed) {
    if (n.X >= FGrid.NX || n.Y >= FGrid.NY) continue;
    const TWorldPoint c = projection.WorldToPage(PointToWorld(FGrid.NodePos(n.X, n.Y)));
    AddCircle(*marks, c, radius);
    marks->MoveTo(TWorldPoint{c.X - radius, c.Y});
    marks->LineTo(TWorldPoint{c.X + radius, c.Y});
    marks->MoveTo(TWorldPoint{c.X, c.Y - radius});
    marks->LineTo(TWorldPoint{c.X, c.Y + radius});
  }
  DrawPageContour(device, canvas, *marks, HollowFill, Solid(FOptions->MissedNodeColor));
}

void TGridCalibrator::Repaint() {
  if (Window()) Window()->Invalidate();
}

// --- Commands ---

bool TGridCalibrator::EditGridParams(QWidget* parent) {
  const double rx = FRaster->XPelsPerMeter();
  const double ry = FRaster->YPelsPerMeter();
  // A damaged file may state any resolution; centimetres need a real one.
  if (rx <= 0 || ry <= 0)
    throw Exception(QStringLiteral("Разрешение растра %1 × %2 точек на метр не позволяет перевести "
                                   "сантиметры в пиксели: задайте его в свойствах растра")
                        .arg(FRaster->XPelsPerMeter())
                        .arg(FRaster->YPelsPerMeter()));
  TGridPaperParams params = GridToPaper(FGrid, rx, ry);
  if (!ShowGridParamsDialog(params.Left, params.Top, params.Width, params.Height, params.CellsX,
                            params.CellsY, parent))
    return false;
  TGridInfo edited = FGrid;
  ApplyPaperParams(edited, params, rx, ry);
  FMissed.clear();
  if (edited != FGrid) {
    PushUndo(std::exchange(FGrid, std::move(edited)));
    GridChanged();
  }
  FUIContext->CellXN->SetValue(params.CellsX);
  FUIContext->CellYN->SetValue(params.CellsY);
  Repaint();
  return true;
}

void TGridCalibrator::ResetGrid() {
  SetDragState(dsIdle);
  FMissed.clear();
  TGridInfo reset = FGrid;
  reset.ResetNodes();
  if (reset != FGrid) {
    PushUndo(std::exchange(FGrid, std::move(reset)));
    GridChanged();
  }
  Repaint();
}

void TGridCalibrator::RunWork(const QString& name, const std::function<void()>& job) {
  if (OnRunWork)
    OnRunWork(name, job);
  else
    job();
}

void TGridCalibrator::Calibrate() {
  SetDragState(dsIdle);
  {
    TFlagScope flag(FUIContext->CalibrationInProgress);
    // The calibration writes a copy of the raster, so that the raster is whole whatever happens
    // to the work, and afterwards stays as it was, for an undo.
    TRasterManager& source = *FRaster;
    auto calibrated = std::make_unique<TRasterManager>(source.Provider(), source.CacheSize(),
                                                       source.StatusInfo());
    const TGridInfo grid = FGrid;
    RunWork(QStringLiteral("калибровку"), [&source, &calibrated, &grid] {
      TProgress progress(source.StatusInfo(), QStringLiteral("Калибровка..."));
      calibrated->CopyFrom(source);
      // Pictures made while the parts are written show the calibrated view at once.
      calibrated->Pictures();
      CalibrateRaster(*calibrated, grid, source);
    });
    FHistory.Push({TEditKind::ekCalibration, FGrid, PutRaster(std::move(calibrated))});
    FMissed.clear();
    Repaint();
    DoRasterChanged();
  }
  GridChanged();
}

void TGridCalibrator::ClipToGrid() {
  SetDragState(dsIdle);
  TFlagScope flag(FUIContext->ClipInProgress);
  // The clip goes into a raster of its own, so that the raster is whole whatever happens to it.
  TRasterManager& source = *FRaster;
  auto clipped =
      std::make_unique<TRasterManager>(source.Provider(), source.CacheSize(), source.StatusInfo());
  // Its pictures are made while its parts are filled: the clipped view shows at once.
  clipped->Pictures();
  const TRect cell = FirstCellOf(FGrid);
  bool cut = false;
  RunWork(QStringLiteral("обрезку растра"), [&] { cut = clipped->ClipFrom(source, cell); });
  if (!cut) return;
  TGridInfo before = FGrid;
  MoveGridWithClip(FGrid);
  FHistory.Push({TEditKind::ekClip, std::move(before), PutRaster(std::move(clipped))});
  FMissed.clear();
  Repaint();
  DoRasterChanged();
  GridChanged();
}

std::unique_ptr<TRasterManager> TGridCalibrator::PutRaster(std::unique_ptr<TRasterManager> raster) {
  CheckInternal(static_cast<bool>(OnReplaceRaster), QStringLiteral("TGridCalibrator.PutRaster"),
                QStringLiteral("растр некому заменить"));
  // The name and the resolution belong to the document: a save or the raster's properties after
  // the step are not undone with it.
  raster->SetFileName(FRaster->FileName());
  const TBitmapInfoHeader* current = InfoHeaderOf(FRaster->HeaderData());
  TBitmapInfoHeader* incoming = InfoHeaderOf(raster->HeaderData());
  incoming->biXPelsPerMeter = current->biXPelsPerMeter;
  incoming->biYPelsPerMeter = current->biYPelsPerMeter;
  FRaster = raster.get();
  return OnReplaceRaster(std::move(raster));
}

void TGridCalibrator::ReplaceGrid(const TGridInfo& grid) {
  SetDragState(dsIdle);
  FMissed.clear();
  if (grid == FGrid) return;
  const TGridInfo previous = std::exchange(FGrid, grid);
  SetCellCounts(previous);
  PushUndo(previous);
  GridChanged();
  Repaint();
}

TAppliedNodes TGridCalibrator::FindNodes() {
  SetDragState(dsIdle);
  const TGridInfo grid = FGrid;
  TRasterManager& raster = *FRaster;
  TNodeSearch search;
  RunWork(QStringLiteral("поиск узлов"),
          [&search, &raster, &grid] { search = FindGridNodes(raster, grid); });
  TGridInfo found = FGrid;
  TAppliedNodes applied = ApplyFoundNodes(found, search);
  if (found != FGrid) {
    PushUndo(std::exchange(FGrid, std::move(found)));
    GridChanged();
  }
  FMissed = applied.NotFound;
  Repaint();
  return applied;
}

void TGridCalibrator::DoRasterChanged() {
  if (OnRasterChanged) OnRasterChanged(this);
}

// --- Undo ---

void TGridCalibrator::PushUndo(TGridInfo previous) {
  FHistory.Push({TEditKind::ekGrid, std::move(previous), nullptr});
}

void TGridCalibrator::Undo() {
  if (!FHistory.CanUndo()) return;
  SetDragState(dsIdle);
  FHistory.PutRedo(Revert(FHistory.TakeUndo()));
  GridChanged();
}

void TGridCalibrator::Redo() {
  if (!FHistory.CanRedo()) return;
  SetDragState(dsIdle);
  FHistory.PutUndo(Revert(FHistory.TakeRedo()));
  GridChanged();
}

TCalibratorHistory::TStep TGridCalibrator::Revert(TCalibratorHistory::TStep step) {
  FMissed.clear();
  TCalibratorHistory::TStep back{step.Kind, std::exchange(FGrid, std::move(step.Grid)), nullptr};
  if (step.Raster) back.Raster = PutRaster(std::move(step.Raster));
  SetCellCounts(back.Grid);
  Repaint();
  if (back.Raster) DoRasterChanged();
  return back;
}

void TGridCalibrator::SetCellCounts(const TGridInfo& previous) {
  // The counts drive the clip command once the user has stated them: a grid put in place with
  // other counts states them anew.
  if (previous.NX == FGrid.NX && previous.NY == FGrid.NY) return;
  FUIContext->CellXN->SetValue(FGrid.NX - 1);
  FUIContext->CellYN->SetValue(FGrid.NY - 1);
}

void TGridCalibrator::GridChanged() {
  if (OnGridChange) OnGridChange(this);
}

bool TGridCalibrator::HasChanges() const {
  TGridInfo initial;
  initial.SetSize(2, 2);
  initial.SetStep(TPoint{FRaster->Width(), FRaster->Height()});
  return FGrid != initial;
}
