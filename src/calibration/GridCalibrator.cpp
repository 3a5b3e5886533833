#include "GridCalibrator.h"

#include "AppUIContext.h"
#include "CalibrateRaster.h"
#include "Contours.h"
#include "Cursors.h"
#include "GridCalibratorParams.h"
#include "Loupes.h"
#include "Navigators.h"
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

// A press that the mouse leaves by more than this many logical pixels is a drag; one released
// within them is a click, which selects and changes nothing.
constexpr int kClickSlop = 2;

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
  FLastPos = Device().WorldPixelAt(p);
}

TGridCalibrator::THit TGridCalibrator::HitTest(TShiftState shift, const TPoint& p) const {
  // Distances from the middle of the pointer's device pixel to the middles of the nodes' pixels;
  // the rows and columns run through the middles of theirs.
  const TWorldPoint w = Device().PixelCentreToWorld(p);
  const TPoint q = Device().WorldPixelAt(p);
  const double r = PickRadius();
  const bool ctrl = shift & ssCtrl;
  for (int32_t i = FGrid.NX - 1; i >= 0; --i)
    for (int32_t j = FGrid.NY - 1; j >= 0; --j) {
      const TPoint n = FGrid.NodePos(i, j);
      if (std::hypot(n.X + 0.5 - w.X, n.Y + 0.5 - w.Y) > r) continue;
      if (!ctrl) return THit{dsMoveNode, i, j, 0};
      if (FGrid.NodeAt(i, j).IsMoved()) return THit{dsResetNode, i, j, 0};
      return THit{};
    }
  for (int32_t i = FGrid.NX - 1; i >= 0; --i) {
    if (std::fabs(FGrid.RefPos(i, 0).X + 0.5 - w.X) > r) continue;
    if (q.Y < FGrid.RefPos(i, 0).Y || q.Y > FGrid.RefPos(i, FGrid.NY - 1).Y) return THit{};
    if (!ctrl) return THit{dsMoveColumn, 0, 0, i};
    return i == 0 ? THit{} : THit{dsSizeByColumn, 0, 0, i};
  }
  for (int32_t j = FGrid.NY - 1; j >= 0; --j) {
    if (std::fabs(FGrid.RefPos(0, j).Y + 0.5 - w.Y) > r) continue;
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
  FDragMoved = false;
  RedrawOverlay();
  SetActive(state != dsIdle);
  UpdateCursor(state);
  UpdateLoupe();
}

void TGridCalibrator::UpdateCursor(uint8_t state) {
  GetValidOwner()->SetEditorCursor(state == dsIdle ? crDefault : kDragCursors[state - 1]);
}

bool TGridCalibrator::WorkRunning() const {
  return FUIContext->WorkInProgress->Value() != 0 ||
         FUIContext->CalibrationInProgress->Value() != 0 ||
         FUIContext->ClipInProgress->Value() != 0;
}

void TGridCalibrator::Track(const TPoint& p) {
  RedrawOverlay();
  SetPos(p);
  const int slop = static_cast<int>(std::ceil(kClickSlop * GetValidOwner()->devicePixelRatioF()));
  if (FDragState != dsIdle &&
      (std::abs(p.X - FPressPoint.X) > slop || std::abs(p.Y - FPressPoint.Y) > slop))
    FDragMoved = true;
  RedrawOverlay();
  UpdateLoupe();
}

void TGridCalibrator::MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) {
  if (WorkRunning()) {
    FMenuNode.reset();
    return;
  }
  SetHandled();
  Track(p);
  // The grid is dragged with the left button; the right one belongs to the view (its drag pans the
  // picture, its click opens the menu) and ends a drag in progress unapplied. The menu it opens
  // offers what can be done with the node under it.
  if (button != mbLeft) {
    SetDragState(dsIdle);
    if (button == mbRight) {
      const THit hit = HitTest(0, p);
      FMenuNode = hit.State == dsMoveNode ? std::optional(TPoint{hit.I, hit.J}) : std::nullopt;
      GetValidOwner()->ScheduleMenuRebuild(false);
    }
    return;
  }
  const THit hit = HitTest(shift, p);
  Select(hit.State == dsMoveNode || hit.State == dsResetNode ? std::optional(TPoint{hit.I, hit.J})
                                                             : std::nullopt);
  FPressPoint = p;
  SetDragState(hit.State, hit.I, hit.J, hit.Line);
}

void TGridCalibrator::MouseMove(TShiftState shift, const TPoint& p) {
  if (WorkRunning()) return;
  SetHandled();
  Track(p);
  UpdateCursor(FDragState != dsIdle ? FDragState : HitTest(shift, p).State);
  if (FDragState == dsMoveNode) ShowStatus();
}

void TGridCalibrator::MouseUp(TMouseButton, TShiftState, const TPoint& p) {
  if (WorkRunning()) return;
  SetHandled();
  Track(p);
  const uint8_t state = FDragState;
  const int32_t i = FDragI;
  const int32_t j = FDragJ;
  const int32_t line = FDragLine;
  // A click on a node only selects it; a reset is its own click.
  const bool apply = FDragMoved || state == dsResetNode;
  SetDragState(dsIdle);
  if (state == dsIdle || !apply) {
    ShowStatus();
    return;
  }
  const TPoint q = FLastPos;
  TGridInfo edited = FGrid;
  switch (state) {
    case dsMoveNode: {
      const TPoint ref = edited.RefPos(i, j);
      edited.NodeAt(i, j).Offset = TPoint{q.X - ref.X, q.Y - ref.Y};
      break;
    }
    case dsResetNode:
      edited.NodeAt(i, j).Offset = TPoint{};
      break;
    case dsMoveRow:
      edited.SetOrigin(TPoint{edited.Origin.X, edited.Origin.Y + q.Y - edited.RefPos(0, line).Y});
      break;
    case dsSizeByRow:
      edited.SetStep(
          TPoint{edited.Step.X, std::max(1, RoundToInt(double(q.Y - edited.Origin.Y) / line))});
      break;
    case dsMoveColumn:
      edited.SetOrigin(TPoint{edited.Origin.X + q.X - edited.RefPos(line, 0).X, edited.Origin.Y});
      break;
    case dsSizeByColumn:
      edited.SetStep(
          TPoint{std::max(1, RoundToInt(double(q.X - edited.Origin.X) / line)), edited.Step.Y});
      break;
  }
  // A node placed by hand is no longer one the search missed.
  if (state == dsMoveNode || state == dsResetNode) ForgetNode(i, j);
  // The node's mark changes even where its place does not: the table follows.
  if (!Commit(std::move(edited))) GridChanged();
  ShowStatus();
  Repaint();
}

void TGridCalibrator::Cancel() {
  SetDragState(dsIdle);
}

void TGridCalibrator::Draw(TCanvas& canvas) {
  DrawFeedback(Device(), canvas);
}

void TGridCalibrator::DrawFeedback(const TDeviceInfo& device, TCanvas& canvas) {
  // Until the mouse moves, a press shows nothing: it may be a click.
  if (FDragState == dsIdle || FDragState == dsResetNode || !FDragMoved) return;
  const TNodePlaces places(device);
  TContourLease figure;
  const auto segment = [&](const TPoint& a, const TPoint& b) {
    figure->MoveTo(places.Page(a));
    figure->LineTo(places.Page(b));
  };
  // Every row and column of the reference lattice, shifted by (dx, dy).
  const auto lattice = [&](int32_t dx, int32_t dy) {
    const int32_t right = FGrid.RefPos(FGrid.NX - 1, 0).X + dx;
    const int32_t bottom = FGrid.RefPos(0, FGrid.NY - 1).Y + dy;
    for (int32_t j = 0; j < FGrid.NY; ++j) {
      const int32_t y = FGrid.RefPos(0, j).Y + dy;
      segment(TPoint{FGrid.Origin.X + dx, y}, TPoint{right, y});
    }
    for (int32_t i = 0; i < FGrid.NX; ++i) {
      const int32_t x = FGrid.RefPos(i, 0).X + dx;
      segment(TPoint{x, FGrid.Origin.Y + dy}, TPoint{x, bottom});
    }
  };
  switch (FDragState) {
    case dsMoveNode: {
      const int32_t around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
      for (const auto& d : around) {
        const int32_t i = FDragI + d[0];
        const int32_t j = FDragJ + d[1];
        if (i >= 0 && i < FGrid.NX && j >= 0 && j < FGrid.NY)
          segment(FGrid.NodePos(i, j), FLastPos);
      }
      break;
    }
    case dsMoveRow:
      lattice(0, FLastPos.Y - FGrid.RefPos(0, FDragLine).Y);
      break;
    case dsSizeByRow:
      segment(TPoint{FGrid.RefPos(0, 0).X, FLastPos.Y},
              TPoint{FGrid.RefPos(FGrid.NX - 1, 0).X, FLastPos.Y});
      break;
    case dsMoveColumn:
      lattice(FLastPos.X - FGrid.RefPos(FDragLine, 0).X, 0);
      break;
    case dsSizeByColumn:
      segment(TPoint{FLastPos.X, FGrid.RefPos(0, 0).Y},
              TPoint{FLastPos.X, FGrid.RefPos(0, FGrid.NY - 1).Y});
      break;
  }
  DrawPageContour(device, canvas, *figure, HollowFill,
                  MakeLineStyle(psSolid, clWhite, pmXor, 0, 0));
}

// --- Keys and the loupe ---

void TGridCalibrator::KeyDown(uint16_t key, TShiftState shift) {
  // While long work runs the keys belong to the view: the grid stays as it is.
  if (WorkRunning()) return;
  const TShiftState modifiers = shift & ssModifiers;
  const int32_t step = modifiers & ssShift ? 10 : 1;
  switch (key) {
    case VK_ESCAPE:
      if (FDragState != dsIdle)
        Cancel();
      else if (FSelected)
        Select(std::nullopt);
      else
        return;
      break;
    case 'Z':
      if (modifiers != 0) return;
      FLoupeKey = true;
      UpdateLoupe();
      break;
    case VK_TAB:
      if (FDragState != dsIdle || (modifiers & ~ssShift) != 0) return;
      SelectNext(!(modifiers & ssShift));
      break;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
      // Without a selected node the arrows scroll the view.
      if (FDragState != dsIdle || (modifiers & ~ssShift) != 0) return;
      if (!MoveSelected(key == VK_LEFT    ? -step
                        : key == VK_RIGHT ? step
                                          : 0,
                        key == VK_UP     ? -step
                        : key == VK_DOWN ? step
                                         : 0))
        return;
      break;
    case VK_DELETE:
      if (FDragState != dsIdle || !FSelected || modifiers != 0) return;
      ResetNode(FSelected->X, FSelected->Y);
      break;
    default:
      return;
  }
  SetHandled();
}

void TGridCalibrator::KeyUp(uint16_t key, TShiftState) {
  if (key != 'Z' || !FLoupeKey) return;
  FLoupeKey = false;
  UpdateLoupe();
  SetHandled();
}

void TGridCalibrator::Notify(int kind) {
  if (kind == nkAttached) {
    FLoupe = std::make_unique<TLoupe>(*GetValidOwner());
    FLoupe->OnPaintOver = [this](TDeviceInfo& device, TCanvas& canvas) {
      PaintGrid(device, canvas, *FOptions,
                TGridShown{FGrid, FMissed, FDisagreeing, FSureness, FFolded, FSelected});
      DrawFeedback(device, canvas);
    };
  } else if (kind == nkDetaching) {
    FLoupe.reset();
  } else if (kind == nkViewChanged) {
    // The picture moved under the pointer: the loupe shows what lies there now.
    UpdateLoupe();
  }
}

bool TGridCalibrator::LoupeWanted() const {
  return FLoupeKey || (FDragMoved && (FDragState == dsMoveNode || FDragState >= dsMoveRow));
}

void TGridCalibrator::UpdateLoupe() {
  if (!FLoupe) return;
  if (LoupeWanted())
    FLoupe->ShowAt(GetValidOwner()->GetCursorClientPos());
  else
    FLoupe->hide();
}

// --- The selected node ---

void TGridCalibrator::Select(const std::optional<TPoint>& node) {
  if (node == FSelected) return;
  FSelected = node;
  ShowStatus();
  Repaint();
  if (OnSelectionChange) OnSelectionChange(this);
}

TGridCalibrator::TNodeInfo TGridCalibrator::NodeInfo(int32_t i, int32_t j) const {
  for (const TPoint& cell : FFolded)
    if ((cell.X == i || cell.X + 1 == i) && (cell.Y == j || cell.Y + 1 == j))
      return TNodeInfo{TNodeState::Folded};
  if (std::find(FMissed.begin(), FMissed.end(), TPoint{i, j}) != FMissed.end())
    return TNodeInfo{TNodeState::NotFound};
  // A node moved since the search has its sureness forgotten: it is placed by hand.
  const size_t k = static_cast<size_t>(i) + static_cast<size_t>(j) * FGrid.NX;
  if (k < FSureness.size() && FSureness[k] >= 0)
    return TNodeInfo{
        TNodeState::Found, FSureness[k],
        std::find(FDisagreeing.begin(), FDisagreeing.end(), TPoint{i, j}) != FDisagreeing.end()};
  return TNodeInfo{FGrid.NodeAt(i, j).IsMoved() ? TNodeState::ByHand : TNodeState::OnLattice};
}

void TGridCalibrator::AddContextItems(TContextMenu& menu) {
  // While long work runs the grid stays as it is: the node's items are there, greyed.
  const std::optional<TPoint> node = WorkRunning() ? std::nullopt : FMenuNode;
  const bool moved =
      node && node->X < FGrid.NX && node->Y < FGrid.NY && FGrid.NodeAt(node->X, node->Y).IsMoved();
  AddContextItem(
      menu, QStringLiteral("Свойства узла..."), 0,
      [this, node](int32_t) {
        if (node && OnNodeProperties) OnNodeProperties(this, node->X, node->Y);
      },
      node ? 0 : ciDisabled, 0, 0, true);
  AddContextItem(
      menu, QStringLiteral("Вернуть узел на место"), 0,
      [this, node](int32_t) {
        if (node && node->X < FGrid.NX && node->Y < FGrid.NY) ResetNode(node->X, node->Y);
      },
      moved ? 0 : ciDisabled, 0, 0, true);
  AddContextItem(menu, QStringLiteral("-"), 0, nullptr, 0, 0, 0, true);
}

void TGridCalibrator::SelectNext(bool forward) {
  const int32_t count = FGrid.NX * FGrid.NY;
  if (count == 0) return;
  int32_t index = forward ? 0 : count - 1;
  if (FSelected)
    index = (FSelected->X + FSelected->Y * FGrid.NX + (forward ? 1 : count - 1)) % count;
  Select(TPoint{index % FGrid.NX, index / FGrid.NX});
  ShowNode(FSelected->X, FSelected->Y, false);
}

bool TGridCalibrator::SelectNextMissed() {
  if (FMissed.empty() && FDisagreeing.empty()) return false;
  std::vector<TPoint> missed = FMissed;
  missed.insert(missed.end(), FDisagreeing.begin(), FDisagreeing.end());
  const auto order = [](const TPoint& a, const TPoint& b) {
    return a.Y != b.Y ? a.Y < b.Y : a.X < b.X;
  };
  std::sort(missed.begin(), missed.end(), order);
  missed.erase(std::unique(missed.begin(), missed.end()), missed.end());
  auto next = missed.begin();
  if (FSelected) {
    next = std::upper_bound(missed.begin(), missed.end(), *FSelected, order);
    if (next == missed.end()) next = missed.begin();
  }
  Select(*next);
  ShowNode(next->X, next->Y, true);
  return true;
}

void TGridCalibrator::ShowNode(int32_t i, int32_t j, bool zoomIn) {
  TEditWindow* window = GetValidOwner();
  TEditWindowNavigator* navigator = window->Navigator();
  if (!navigator) return;
  const TPoint n = FGrid.NodePos(i, j);
  const TWorldPoint centre{n.X + 0.5, n.Y + 0.5};
  TDeviceInfo& device = window->Device();
  const double working = kWorkingZoom * window->devicePixelRatioF() / device.BaseScaleX();
  if (zoomIn && navigator->GetScale() < working) {
    navigator->SetView(centre, true, working);
    return;
  }
  // Left where it is while the node is well inside the window.
  TWorldRect visible;
  device.Projection()->PageRectToWorld(device.PageRect(), visible);
  const double margin = std::min(RectWidth(visible), RectHeight(visible)) / 8;
  InflateWorldRect(visible, -margin, -margin);
  if (!PtInWorldRect(visible, centre)) navigator->SetView(centre, true, navigator->GetScale());
}

bool TGridCalibrator::MoveSelected(int32_t dx, int32_t dy) {
  if (!FSelected) return false;
  const TPoint n = FGrid.NodePos(FSelected->X, FSelected->Y);
  PlaceNode(FSelected->X, FSelected->Y, TPoint{n.X + dx, n.Y + dy});
  ShowNode(FSelected->X, FSelected->Y, false);
  return true;
}

void TGridCalibrator::PlaceNode(int32_t i, int32_t j, const TPoint& pixel) {
  if (WorkRunning()) return;
  TGridInfo edited = FGrid;
  const TPoint ref = edited.RefPos(i, j);
  edited.NodeAt(i, j).Offset = TPoint{pixel.X - ref.X, pixel.Y - ref.Y};
  ForgetNode(i, j);
  if (!Commit(std::move(edited))) GridChanged();
  ShowStatus();
  Repaint();
}

void TGridCalibrator::ResetNode(int32_t i, int32_t j) {
  PlaceNode(i, j, FGrid.RefPos(i, j));
}

QString TGridCalibrator::NodeStatus() const {
  const bool dragged = FDragState == dsMoveNode && FDragMoved;
  if (!dragged && !FSelected) return QString();
  const int32_t i = dragged ? FDragI : FSelected->X;
  const int32_t j = dragged ? FDragJ : FSelected->Y;
  if (i >= FGrid.NX || j >= FGrid.NY) return QString();
  const TPoint p = dragged ? FLastPos : FGrid.NodePos(i, j);
  const TPoint ref = FGrid.RefPos(i, j);
  const auto signedValue = [](int32_t v) {
    return v > 0   ? QStringLiteral("+%1").arg(v)
           : v < 0 ? QStringLiteral("−%1").arg(-v)
                   : QStringLiteral("0");
  };
  return QStringLiteral("Узел (%1, %2): %3; %4 px, смещение %5; %6")
      .arg(i)
      .arg(j)
      .arg(p.X)
      .arg(p.Y)
      .arg(signedValue(p.X - ref.X), signedValue(p.Y - ref.Y));
}

void TGridCalibrator::ShowStatus() {
  TEditWindow* window = Window();
  if (window && window->OnShowStatus) window->OnShowStatus(window, NodeStatus());
}

// --- Painting ---

void TGridCalibrator::Paint(TCanvas& canvas) {
  PaintGrid(Device(), canvas, *FOptions,
            TGridShown{FGrid, FMissed, FDisagreeing, FSureness, FFolded, FSelected});
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
  std::optional<TGridMap> map = FGrid.Map;
  if (!ShowGridParamsDialog(params.Left, params.Top, params.Width, params.Height, params.CellsX,
                            params.CellsY, map, parent))
    return false;
  TGridInfo edited = FGrid;
  edited.Map = map;
  ApplyPaperParams(edited, params, rx, ry);
  ForgetSearch();
  Commit(std::move(edited));
  FUIContext->CellXN->SetValue(params.CellsX);
  FUIContext->CellYN->SetValue(params.CellsY);
  Repaint();
  return true;
}

void TGridCalibrator::ResetGrid() {
  SetDragState(dsIdle);
  ForgetSearch();
  TGridInfo reset = FGrid;
  reset.ResetNodes();
  Commit(std::move(reset));
  Repaint();
}

void TGridCalibrator::RunWork(const QString& name, const std::function<void()>& job) {
  if (OnRunWork)
    OnRunWork(name, job);
  else
    job();
}

void TGridCalibrator::Calibrate() {
  // A folded cell would come out mirrored: the user puts its nodes right first.
  CheckGridCalibrates(FGrid);
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
    FHistory.Push({TEditKind::ekCalibration, FGrid, PutRaster(std::move(calibrated)), FCalibrated});
    FCalibrated = true;
    ForgetSearch();
    Repaint();
    DoRasterChanged();
  }
  GridChanged();
}

void TGridCalibrator::ClipToGrid() {
  // The grid is a cell of another size now: what the search missed is no longer there.
  if (Clip(FirstCellClip(FGrid))) ForgetSearch();
}

void TGridCalibrator::ClipToGridFrame() {
  Clip(FrameClip(FGrid));
}

bool TGridCalibrator::Clip(const TGridClip& clip) {
  SetDragState(dsIdle);
  TFlagScope flag(FUIContext->ClipInProgress);
  // The clip goes into a raster of its own, so that the raster is whole whatever happens to the
  // work, and afterwards stays as it was, for an undo.
  TRasterManager& source = *FRaster;
  auto clipped =
      std::make_unique<TRasterManager>(source.Provider(), source.CacheSize(), source.StatusInfo());
  // Its pictures are made while its parts are filled: the clipped view shows at once.
  clipped->Pictures();
  bool cut = false;
  RunWork(QStringLiteral("обрезку растра"), [&] { cut = clipped->ClipFrom(source, clip.Rect); });
  if (!cut) return false;
  FHistory.Push({TEditKind::ekClip, std::exchange(FGrid, clip.Grid), PutRaster(std::move(clipped)),
                 FCalibrated});
  Repaint();
  DoRasterChanged();
  GridChanged();
  return true;
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
  ForgetSearch();
  if (grid == FGrid) return;
  const TGridInfo previous = std::exchange(FGrid, grid);
  SetCellCounts(previous);
  PushUndo(previous);
  GridChanged();
  Repaint();
}

TNodeSearch TGridCalibrator::FindNodes() {
  SetDragState(dsIdle);
  const TGridInfo grid = FGrid;
  TRasterManager& raster = *FRaster;
  TNodeSearch search;
  RunWork(QStringLiteral("поиск узлов"),
          [&search, &raster, &grid] { search = FindGridNodes(raster, grid); });
  TGridInfo found = FGrid;
  const TAppliedNodes applied = ApplyFoundNodes(found, search);
  Commit(std::move(found));
  FMissed = applied.NotFound;
  FDisagreeing = applied.Disagreeing;
  FSureness.assign(search.Nodes.size(), -1);
  for (size_t k = 0; k < search.Nodes.size(); ++k)
    if (search.Nodes[k].Finding == TNodeFinding::Found) FSureness[k] = search.Nodes[k].Confidence;
  // What the search found and missed changed, whether the grid did or not.
  GridChanged();
  Repaint();
  return search;
}

void TGridCalibrator::ForgetSearch() {
  FMissed.clear();
  FDisagreeing.clear();
  FSureness.clear();
}

void TGridCalibrator::ForgetNode(int32_t i, int32_t j) {
  std::erase(FMissed, TPoint{i, j});
  std::erase(FDisagreeing, TPoint{i, j});
  const size_t k = static_cast<size_t>(i) + static_cast<size_t>(j) * FGrid.NX;
  if (k < FSureness.size()) FSureness[k] = -1;
}

void TGridCalibrator::DoRasterChanged() {
  if (OnRasterChanged) OnRasterChanged(this);
}

// --- Undo ---

void TGridCalibrator::PushUndo(TGridInfo previous) {
  FHistory.Push({TEditKind::ekGrid, std::move(previous), nullptr, false});
}

bool TGridCalibrator::Commit(TGridInfo edited) {
  if (edited == FGrid) return false;
  PushUndo(std::exchange(FGrid, std::move(edited)));
  GridChanged();
  return true;
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
  ForgetSearch();
  TCalibratorHistory::TStep back{step.Kind, std::exchange(FGrid, std::move(step.Grid)), nullptr,
                                 false};
  if (step.Raster) {
    back.Raster = PutRaster(std::move(step.Raster));
    back.Calibrated = std::exchange(FCalibrated, step.Calibrated);
  }
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
  FFolded = FoldedCells(FGrid);
  if (FSelected && (FSelected->X >= FGrid.NX || FSelected->Y >= FGrid.NY)) FSelected.reset();
  // The selected node's place and offset as they stand now, after an undo or a reset too.
  ShowStatus();
  if (OnGridChange) OnGridChange(this);
}

bool TGridCalibrator::HasChanges() const {
  TGridInfo initial;
  initial.SetSize(2, 2);
  initial.SetStep(TPoint{FRaster->Width(), FRaster->Height()});
  return FGrid != initial;
}
