#include "Navigators.h"

#include "Cursors.h"
#include "PageRectSelectors.h"
#include "Projections.h"

#include <QApplication>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

struct TDirection {
  int32_t DX;
  int32_t DY;
};

constexpr TDirection kDirections[] = {{-1, 0}, {1, 0},  {0, -1}, {0, 1}, {-1, -1},
                                      {-1, 1}, {1, -1}, {1, 1},  {0, 0}};

constexpr int kZoomCursor = EditCursorBase + 9;
constexpr int kHandClosedCursor = EditCursorBase + 19;
constexpr int kHandOpenedCursor = EditCursorBase + 20;

// Half the window's size, truncated towards zero, with the four low bits cleared: the big steps of
// the keys and of the Ctrl-press at the edge.
int32_t HalfStep(int32_t size, int32_t direction) {
  return ((size * direction) / 2) & ~15;
}

}  // namespace

TEditWindowNavigator::TEditWindowNavigator()
    : FNotifyClient(std::make_unique<TEditWindowNotifyClient>(
          [this](TEditWindow* sender, uint8_t kind, TEditor* editor) {
            SelectorNotify(sender, kind, editor);
          })) {
  Mask = emWatcher | emPriority | emTool | emFallback;
}

TEditWindowNavigator::~TEditWindowNavigator() = default;

// --- Views ---

void TEditWindowNavigator::SetView(const TWorldPoint& centre, bool save, double scale) {
  if (save) PushHistory();
  if (OnSetView) OnSetView(this, centre, scale);
}

TWorldPoint TEditWindowNavigator::GetCentre() const {
  return Device().Projection()->PageToWorld(RectCenter(Device().PageRect()));
}

double TEditWindowNavigator::GetScale() const {
  return Device().Projection()->GetScale();
}

void TEditWindowNavigator::PushHistory() {
  auto* entry = new TNavigateInfo(GetCentre(), GetScale());
  TRefHolder<TNavigateInfo> hold(entry);
  if (FHistory.Count() > 0) {
    const auto* last = FHistory.ItemAs<TNavigateInfo>(FHistory.Count() - 1);
    if (PointDistance(last->Centre, entry->Centre) <= 1e-10 &&
        std::fabs(last->Scale - entry->Scale) <= 1e-14)
      return;
  }
  FHistory.Add(entry);
}

void TEditWindowNavigator::ZoomIn() {
  SetView(GetCentre(), true, GetScale() * ZoomFactor);
}

void TEditWindowNavigator::ZoomOut() {
  SetView(GetCentre(), true, GetScale() / ZoomFactor);
}

void TEditWindowNavigator::ZoomInAt(const TWorldPoint& p) {
  ZoomAt(p, GetScale() * ZoomFactor);
}

void TEditWindowNavigator::ZoomOutAt(const TWorldPoint& p) {
  ZoomAt(p, GetScale() / ZoomFactor);
}

void TEditWindowNavigator::ZoomAt(const TWorldPoint& p, double scale) {
  TDeviceInfo& device = Device();
  const TWorldPoint origin = device.GetOrigin();
  const TWorldPoint d{p.X - origin.X, p.Y - origin.Y};
  const TWorldPoint w = device.Projection()->PageToWorld(p);
  SetView(GetCentre(), true, scale);
  const TWorldPoint q = device.Projection()->WorldToPage(w);
  device.SetOrigin(TWorldPoint{q.X - d.X, q.Y - d.Y});
  KeepInLimits();
}

void TEditWindowNavigator::ZoomToPageRect(const TWorldRect& r) {
  double s = GetScale();
  const TWorldPoint c = Device().Projection()->PageToWorld(RectCenter(r));
  const double vw = RectWidth(Device().PageRect());
  const double vh = RectHeight(Device().PageRect());
  const double rw = RectWidth(r);
  const double rh = RectHeight(r);
  if (vw != 0 && vh != 0) {
    if (rw != 0 && rh != 0)
      s *= std::min(std::fabs(vw / rw), std::fabs(vh / rh));
    else if (rw != 0)
      s *= std::fabs(vw / rw);
    else if (rh != 0)
      s *= std::fabs(vh / rh);
  }
  SetView(c, true, s);
}

void TEditWindowNavigator::ZoomToWorldRect(const TWorldRect& r) {
  TWorldRect page;
  Device().Projection()->WorldRectToPage(r, page);
  ZoomToPageRect(page);
}

void TEditWindowNavigator::FitWorldRect(const TWorldRect& r, int mode) {
  PushHistory();
  const TWorldPoint centre = RectCenter(r);
  const auto visibleAt = [&] {
    TWorldRect v;
    Device().Projection()->PageRectToWorld(Device().PageRect(), v);
    const TWorldPoint c = RectCenter(v);
    OffsetWorldRect(v, centre.X - c.X, centre.Y - c.Y);
    return v;
  };
  TWorldRect target;
  bool pan = mode == 0;
  if (mode == 1) {
    const TWorldRect v = visibleAt();
    pan = RectWidth(v) >= RectWidth(r) && RectHeight(v) >= RectHeight(r);
  }
  if (pan) {
    target = visibleAt();
  } else {
    target = r;
    InflateWorldRect(target, RectWidth(r) / 8, RectHeight(r) / 8);
  }
  if (RectWidth(target) == 0 && RectHeight(target) == 0) target = visibleAt();
  ZoomToWorldRect(target);
}

void TEditWindowNavigator::PopHistory() {
  if (FHistory.Count() == 0) return;
  auto* entry = static_cast<TNavigateInfo*>(FHistory.Extract(FHistory.Items(FHistory.Count() - 1)));
  const TWorldPoint centre = entry->Centre;
  const double scale = entry->Scale;
  // Extract handed the list's reference over.
  entry->Release();
  SetView(centre, false, scale);
}

// --- Limits ---

namespace {

// The centres a view half an extent wide may have along one axis of the limits r0 … r1: the
// limits' edge comes no closer to the window's edge than a quarter of the window.
std::pair<double, double> Centres(double r0, double r1, double half) {
  const double low = r0 + half / 2;
  const double high = r1 - half / 2;
  return {std::min(low, high), std::max(low, high)};
}

}  // namespace

void TEditWindowNavigator::SetLimits(const std::optional<TWorldRect>& limits) {
  FLimits = limits;
}

double TEditWindowNavigator::LimitedScale(double scale) const {
  if (!FLimits) return scale;
  const double base = std::fabs(Device().BaseScaleX());
  const double extent = std::max(RectWidth(*FLimits), RectHeight(*FLimits));
  if (!(base > 0) || !(extent > 0)) return scale;
  // The scale is page metres per world unit; the base, device pixels per page metre.
  const double ratio = GetValidOwner()->devicePixelRatioF();
  const double most = kMostPerUnit * ratio / base;
  const double least = std::min(most, kLeastShown * ratio / extent / base);
  return std::clamp(scale, least, most);
}

TWorldPoint TEditWindowNavigator::LimitedCentre(const TWorldPoint& centre, double scale) const {
  if (!FLimits || !(scale > 0)) return centre;
  const TDeviceInfo& device = Device();
  const double halfWidth =
      device.DeviceRect().Width() / (scale * std::fabs(device.BaseScaleX())) / 2;
  const double halfHeight =
      std::abs(device.DeviceRect().Height()) / (scale * std::fabs(device.BaseScaleY())) / 2;
  const auto [left, right] = Centres(FLimits->Left, FLimits->Right, halfWidth);
  const auto [top, bottom] = Centres(FLimits->Top, FLimits->Bottom, halfHeight);
  return TWorldPoint{std::clamp(centre.X, left, right), std::clamp(centre.Y, top, bottom)};
}

void TEditWindowNavigator::LimitScroll(int32_t& dx, int32_t& dy) const {
  if (!FLimits) return;
  const QTransform t = Device().WorldToDeviceTransform();
  if (t.m12() != 0 || t.m21() != 0 || t.m11() == 0 || t.m22() == 0) return;
  const TWorldPoint centre = GetCentre();
  const TWorldPoint allowed =
      LimitedCentre(TWorldPoint{centre.X + dx / t.m11(), centre.Y + dy / t.m22()}, GetScale());
  // A view beyond the limits (the window grew, the raster shrank) stays where it is at worst.
  const auto cut = [](int32_t d, double perUnit, double from, double to) {
    const double allowedMove = (to - from) * perUnit;
    if ((d > 0 && allowedMove <= 0) || (d < 0 && allowedMove >= 0)) return 0;
    return std::abs(allowedMove) < std::abs(d) ? static_cast<int32_t>(std::trunc(allowedMove)) : d;
  };
  dx = cut(dx, t.m11(), centre.X, allowed.X);
  dy = cut(dy, t.m22(), centre.Y, allowed.Y);
}

// --- Modes ---

void TEditWindowNavigator::SetState(uint8_t state) {
  if (state == nsSelect && FHandLocked) state = nsHand;
  if (state != FState) {
    if (FState == nsHand) FSnapshot.reset();
    FState = state;
    if (OnStateChange) OnStateChange(this);
  }
  UpdateCursor();
}

void TEditWindowNavigator::StartHandMode(bool live) {
  FLiveHand = live;
  FHandLocked = true;
  SetState(nsHand);
}

void TEditWindowNavigator::EndHandMode() {
  FHandLocked = false;
  SetState(nsSelect);
}

uint8_t TEditWindowNavigator::EdgeZone(const TPoint& p) {
  const QImage& surface = GetValidOwner()->Surface();
  const bool left = p.X < kEdgeMargin;
  const bool top = p.Y < kEdgeMargin;
  const bool right = surface.width() - p.X < kEdgeMargin;
  const bool bottom = surface.height() - p.Y < kEdgeMargin;
  if (left && top)
    FEdge = 4;
  else if (left && bottom)
    FEdge = 5;
  else if (right && top)
    FEdge = 6;
  else if (right && bottom)
    FEdge = 7;
  else if (left)
    FEdge = 0;
  else if (right)
    FEdge = 1;
  else if (top)
    FEdge = 2;
  else if (bottom)
    FEdge = 3;
  else
    FEdge = kNoEdge;
  return FEdge;
}

void TEditWindowNavigator::UpdateCursor() {
  if (!Window()) return;
  int cursor;
  if (FEdge != kNoEdge)
    cursor = EditCursorBase + FEdge;
  else if (FState == nsZoomRect || FState == nsTempZoomRect)
    cursor = kZoomCursor;
  else if (FState == nsHand)
    cursor = IsActive() ? kHandClosedCursor : kHandOpenedCursor;
  else
    return;
  Window()->SetEditorCursor(cursor);
  SetHandled();
}

void TEditWindowNavigator::ScrollToEdge(uint8_t zone, bool big) {
  TEditWindow* window = GetValidOwner();
  const TDirection d = kDirections[zone];
  if (big)
    window->ScrollBy(HalfStep(window->Surface().width(), d.DX),
                     HalfStep(window->Surface().height(), d.DY));
  else
    window->ScrollBy(d.DX * kScrollStep, d.DY * kScrollStep);
}

// --- Zoom by rectangle ---

void TEditWindowNavigator::StartZoomRect(TMouseButton button, TShiftState shift, const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  auto* selector =
      new TPageRectSelector(kZoomCursor, nullptr, [this](const TWorldRect& r) { RectSelected(r); });
  TRefHolder<TPageRectSelector> hold(selector);
  window->NotifyList().AddClient(FNotifyClient.get());
  window->AttachEditor(selector);
  selector->MouseDown(button, shift, p);
  FSelector = selector;
}

void TEditWindowNavigator::RectSelected(const TWorldRect& r) {
  if (RectWidth(r) < 1e-9 && RectHeight(r) < 1e-9)
    ZoomInAt(RectCenter(r));
  else
    ZoomToPageRect(r);
}

void TEditWindowNavigator::SelectorNotify(TEditWindow* sender, uint8_t kind, TEditor* editor) {
  if (kind != nkDetached || editor != FSelector) return;
  FSelector = nullptr;
  SetState(nsSelect);
  sender->NotifyList().RemoveClient(FNotifyClient.get());
}

// --- Mouse and keys ---

void TEditWindowNavigator::MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  switch (window->Phase()) {
    case 1:
      if (FState != nsTempZoomRect && FState != nsHand && button == mbRight) {
        FDragState = 1;
        FPressPoint = p;
      }
      break;
    case 3: {
      const uint8_t zone = EdgeZone(p);
      if (zone != kNoEdge) {
        if (shift & ssCtrl) {
          ScrollToEdge(zone, true);
          SetState(nsSelect);
        } else {
          SetActive(true);
          SetState(nsAutoScroll);
          SetTimerInterval(kAutoScrollInterval);
          Timer();
        }
        SetHandled();
      } else if (FState == nsZoomRect || FState == nsTempZoomRect) {
        if (button == mbRight) {
          ZoomOutAt(Device().DeviceToPage(p));
          window->SuppressNextContextMenu();
        } else {
          StartZoomRect(button, shift, p);
        }
        SetHandled();
      } else if (FState == nsHand) {
        BeginHandDrag(p);
        window->SuppressNextContextMenu();
        SetHandled();
      }
      break;
    }
    default:
      break;
  }
}

void TEditWindowNavigator::MouseMove(TShiftState shift, const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  switch (window->Phase()) {
    case 1:
      if (FDragState == 1) {
        const int dragDistance = QApplication::startDragDistance();
        if (std::abs(p.X - FPressPoint.X) > dragDistance ||
            std::abs(p.Y - FPressPoint.Y) > dragDistance) {
          BeginHandDrag(FPressPoint);
          SetState(nsHand);
          FDragState = 2;
          SetHandled();
        }
      } else if (FDragState == 2) {
        SetHandled();
      } else {
        const uint8_t zone = EdgeZone(p);
        TEditor* active = window->ActiveEditor();
        if (FState != nsAutoScroll && zone != kNoEdge && active && active != this &&
            (active->Mask & emAutoScroll)) {
          SetState(nsAutoScroll);
          SetTimerInterval(kAutoScrollInterval);
          Timer();
        }
      }
      break;
    case 2:
      if (FState == nsHand) {
        MoveHand(p);
      } else {
        window->SetEditorCursor(FEdge == kNoEdge ? crDefault : EditCursorBase + FEdge);
      }
      SetHandled();
      break;
    case 3: {
      EdgeZone(p);
      const bool zoomKeys = (shift & ssModifiers) == (ssShift | ssCtrl);
      if ((FState == nsSelect || FState == nsHand) && zoomKeys)
        SetState(nsTempZoomRect);
      else if (FState == nsTempZoomRect && !zoomKeys)
        SetState(nsSelect);
      UpdateCursor();
      break;
    }
    case 5:
      window->SetEditorCursor(crDefault);
      break;
    default:
      break;
  }
}

void TEditWindowNavigator::MouseUp(TMouseButton, TShiftState, const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  if (IsActive()) {
    SetActive(false);
    if (FState == nsHand) {
      window->SetEditorCursor(kHandOpenedCursor);
      if (FSnapshot) EndHandDrag(p);
    } else {
      SetTimerInterval(0);
      SetState(nsSelect);
    }
    SetHandled();
  }
  if (FDragState != 0) {
    if (FDragState == 2) {
      SetState(nsSelect);
      window->SuppressNextContextMenu();
    }
    FDragState = 0;
  }
}

void TEditWindowNavigator::KeyDown(uint16_t key, TShiftState shift) {
  TEditWindow* window = GetValidOwner();
  if (window->Phase() == 3) {
    if (key == VK_ESCAPE && FHandLocked) {
      EndHandMode();
      SetHandled();
    }
    return;
  }
  if (window->Phase() != 4) return;
  // The page keys always take big steps, the arrows with Ctrl.
  const bool big = shift & ssCtrl;
  switch (key) {
    case VK_PRIOR:
      ScrollToEdge(2, true);
      break;
    case VK_NEXT:
      ScrollToEdge(3, true);
      break;
    case VK_END:
      ScrollToEdge(1, true);
      break;
    case VK_HOME:
      ScrollToEdge(0, true);
      break;
    case VK_LEFT:
      ScrollToEdge(0, big);
      break;
    case VK_UP:
      ScrollToEdge(2, big);
      break;
    case VK_RIGHT:
      ScrollToEdge(1, big);
      break;
    case VK_DOWN:
      ScrollToEdge(3, big);
      break;
    case VK_ADD:
      ZoomIn();
      break;
    case VK_SUBTRACT:
      ZoomOut();
      break;
    default:
      return;
  }
  SetHandled();
}

void TEditWindowNavigator::Timer() {
  TEditWindow* window = GetValidOwner();
  if (FEdge != kNoEdge && window->ActiveEditor()) {
    const TDirection d = kDirections[FEdge];
    window->ScrollBy(d.DX * kScrollStep, d.DY * kScrollStep);
  } else {
    SetState(nsSelect);
    SetTimerInterval(0);
  }
}

void TEditWindowNavigator::AddContextItems(TContextMenu& menu) {
  AddContextItem(
      menu, QStringLiteral("Предыдущий масштаб"), ShortCut(VK_BACK, 0),
      [this](int32_t tag) {
        if (tag == 1) PopHistory();
      },
      ciHidden, 0, 1, true);
}

// --- The hand ---

void TEditWindowNavigator::BeginHandDrag(const TPoint& p) {
  SetActive(true);
  FAnchor = p;
  if (FLiveHand) return;
  GetValidOwner()->SetEditorCursor(kHandClosedCursor);
  // What the window shows is its surface: the snapshot is exactly the visible picture, and no
  // other window ever covers a part of it.
  FSnapshot = GetValidOwner()->Surface().copy();
}

TPoint TEditWindowNavigator::HandShift(const TPoint& p) const {
  // The picture follows the hand as far as the view may go.
  int32_t dx = FAnchor.X - p.X;
  int32_t dy = FAnchor.Y - p.Y;
  LimitScroll(dx, dy);
  return TPoint{-dx, -dy};
}

void TEditWindowNavigator::MoveHand(const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  window->SetEditorCursor(kHandClosedCursor);
  if (FSnapshot) {
    DrawSnapshot(HandShift(p));
  } else if (!(p == FAnchor)) {
    window->ScrollBy(FAnchor.X - p.X, FAnchor.Y - p.Y);
    FAnchor = p;
  }
}

void TEditWindowNavigator::DrawSnapshot(const TPoint& offset) {
  TEditWindow* window = GetValidOwner();
  TCanvas* canvas = window->GetDCCanvas();
  try {
    ResetCanvas(*canvas);
    canvas->Draw(offset.X, offset.Y, *FSnapshot);
    canvas->Brush = TBrushState{bsSolid, window->Color(), std::nullopt};
    const QRect client = FSnapshot->rect();
    for (const QRect& r : QRegion(client) - QRegion(client.translated(offset.X, offset.Y)))
      canvas->FillRect(TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
  } catch (...) {
    window->ReleaseDCCanvas(canvas);
    throw;
  }
  window->ReleaseDCCanvas(canvas);
}

void TEditWindowNavigator::EndHandDrag(const TPoint& p) {
  TEditWindow* window = GetValidOwner();
  const TPoint d = HandShift(p);
  // The release may come where no move was reported: the picture follows it first.
  DrawSnapshot(d);
  const QRect client = FSnapshot->rect();
  FSnapshot.reset();
  TDeviceInfo& device = window->Device();
  window->BeginScrollLock();
  try {
    const TWorldPoint o = device.GetOrigin();
    device.SetOrigin(TWorldPoint{o.X - d.X / device.ScaleX(), o.Y - d.Y / device.ScaleY()});
  } catch (...) {
    window->EndScrollLock();
    throw;
  }
  window->EndScrollLock();
  for (const QRect& r : QRegion(client) - QRegion(client.translated(d.X, d.Y)))
    window->InvalidateRect(TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
}

// --- The matrix navigator ---

void TMatrixProjectionNavigator::SetView(const TWorldPoint& centre, bool save, double scale) {
  TDeviceInfo& device = Device();
  auto* projection = dynamic_cast<TMatrixProjection*>(device.Projection());
  if (!projection) return;
  if (save) PushHistory();
  if (!(scale <= 1e9)) scale = 1;
  // Keep one world unit within the range of device pixels that drawing can represent.
  const double base = std::fabs(device.BaseScaleX());
  if (base > 0) scale = std::clamp(scale, kMinPixelsPerUnit / base, kMaxPixelsPerUnit / base);
  scale = LimitedScale(scale);
  projection->Reset();
  if (FFlipY) projection->Flip(false, true);
  projection->Scale(scale, scale);
  projection->Rotate(FAngle);
  const TWorldPoint c = projection->WorldToPage(LimitedCentre(centre, scale));
  device.SetOrigin(
      TWorldPoint{c.X - RectWidth(device.PageRect()) / 2, c.Y - RectHeight(device.PageRect()) / 2});
  GetValidOwner()->Invalidate();
  if (device.OnChange) device.OnChange(device);
}

void TMatrixProjectionNavigator::KeepInLimits() {
  const TWorldPoint centre = GetCentre();
  const TWorldPoint allowed = LimitedCentre(centre, GetScale());
  if (allowed.X != centre.X || allowed.Y != centre.Y) SetView(allowed, false, GetScale());
}

void TMatrixProjectionNavigator::SetAngle(double angle) {
  if (angle == FAngle) return;
  FAngle = angle;
  SetView(GetCentre(), false, GetScale());
}

void TMatrixProjectionNavigator::SetFlipY(bool flip) {
  if (flip == FFlipY) return;
  FFlipY = flip;
  SetView(GetCentre(), false, GetScale());
}
