#include "InEditors.h"

#include "Cursors.h"
#include "Navigators.h"
#include "RecArrays.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include <cmath>
#include <cstring>

namespace {

const QString kLocation = QStringLiteral("CoreLib\\InEditors");

// The state of Shift, Alt and Ctrl seen last by any edit window.
TShiftState GLastModifiers = 0;

QEvent::Type RebuildEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QEvent::Type RenderEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

TMouseButton ButtonOf(Qt::MouseButton button) {
  if (button == Qt::RightButton) return mbRight;
  if (button == Qt::MiddleButton) return mbMiddle;
  return mbLeft;
}

TShiftState ModifierKeyBit(int key) {
  switch (key) {
    case Qt::Key_Shift:
      return ssShift;
    case Qt::Key_Control:
      return ssCtrl;
    case Qt::Key_Alt:
      return ssAlt;
    default:
      return 0;
  }
}

TRect ToTRect(const QRect& r) {
  return TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

QRect ToQRect(const TRect& r) {
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}

}  // namespace

// --- TEditor ---

TEditor::TEditor() = default;

TEditor::~TEditor() = default;

void TEditor::Disconnect() {
  if (FWindow) FWindow->DetachEditor(this);
  FWindow = nullptr;
}

void TEditor::SetPos(const TPoint&) {}
void TEditor::Draw(TCanvas&) {}
void TEditor::MouseDown(TMouseButton, TShiftState, const TPoint&) {}
void TEditor::MouseMove(TShiftState, const TPoint&) {}
void TEditor::MouseUp(TMouseButton, TShiftState, const TPoint&) {}

void TEditor::KeyDown(uint16_t key, TShiftState) {
  if (key == VK_ESCAPE && FWindow && (FWindow->Phase() == 2 || FWindow->Phase() == 4)) {
    SetHandled();
    Cancel();
  }
}

void TEditor::KeyUp(uint16_t, TShiftState) {}
void TEditor::Timer() {}
void TEditor::Notify(int) {}
void TEditor::Paint(TCanvas&) {}
void TEditor::AddContextItems(TContextMenu&) {}
void TEditor::Cancel() {}

TEditWindow* TEditor::GetValidOwner() const {
  CheckInternal(FWindow != nullptr, QStringLiteral("TEditor.GetValidOwner"),
                QStringLiteral("Не задано окно редактирования"));
  return FWindow;
}

TDeviceInfo& TEditor::Device() const {
  return GetValidOwner()->Device();
}

bool TEditor::IsActive() const {
  return FWindow && FWindow->ActiveEditor() == this;
}

void TEditor::SetActive(bool value) {
  GetValidOwner()->SetActiveEditor(value ? this : nullptr);
}

void TEditor::SetTimerInterval(int32_t ms) {
  if (ms == FTimerInterval) return;
  FTimerInterval = ms;
  GetValidOwner()->SetTimer(this, ms);
}

void TEditor::SetHandled() {
  if (FWindow) FWindow->SetHandled();
}

TCanvas* TEditor::GetCanvas() const {
  return GetValidOwner()->GetDCCanvas();
}

void TEditor::ReleaseCanvas(TCanvas* canvas) const {
  GetValidOwner()->ReleaseDCCanvas(canvas);
}

void TEditor::RedrawOverlay() {
  if (!FWindow || FWindow->PaintLock() != 0) return;
  TCanvas* canvas = GetCanvas();
  try {
    Device().SetClipRect(Device().DeviceRect());
    Draw(*canvas);
  } catch (...) {
    ReleaseCanvas(canvas);
    throw;
  }
  ReleaseCanvas(canvas);
}

void Detach(TEditor* editor) {
  if (editor && editor->Window()) editor->Window()->DetachEditor(editor);
}

// --- TTimerInfo and the notifications ---

TTimerInfo::TTimerInfo(TEditor* editor, int32_t interval) : FTimer(std::make_unique<QTimer>()) {
  AssignRef(FEditor, editor);
  FTimer->setInterval(interval);
}

TTimerInfo::~TTimerInfo() {
  FTimer.reset();
  ReleaseRef(FEditor);
}

void TEditWindowNotifyClient::Notify(TEditWindow* sender, uint8_t kind, TEditor* editor) {
  if (OnNotify) OnNotify(sender, kind, editor);
}

void TEditWindowNotifyList::NotifyAll(TEditWindow* sender, uint8_t kind, TEditor* editor) {
  TNotifyList::Notify([&](TNotifyClient* client) {
    static_cast<TEditWindowNotifyClient*>(client)->Notify(sender, kind, editor);
  });
}

// --- TEditWindow ---

TEditWindow::TEditWindow(QWidget* parent)
    : QWidget(parent),
      FDevice(std::make_unique<TDeviceInfo>()),
      FInternalPopup(std::make_unique<QMenu>()),
      FContextMenu(std::make_unique<TContextMenu>()) {
  FContextMenu->MenuRoot = FInternalPopup.get();
  FContextMenu->ShortcutHost = this;
  FDevice->SetDevice(TPoint{96, 96}, TRect{0, 0, 1, 1});
  FDevice->OnChange = [this](TDeviceInfo&) { DeviceChanged(); };
  // The surface is the only picture of the window: Qt neither erases nor fills the background.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  FPixelRatio = devicePixelRatioF();
  // Drawing may come before the first resize gives the surface its size.
  FSurface = QImage(1, 1, QImage::Format_RGB32);
  FSurface.fill(ColorToQColor(FColor));
  InstallPopup();
}

TEditWindow::~TEditWindow() {
  FDestroying = true;
  while (FEditors.Count() > 0) DetachEditor(FEditors.ItemAs<TEditor>(0));
  FTimers.Clear();
  FBackBuffer.reset();
  FDevice->OnChange = nullptr;
  FContextMenu.reset();
  FInternalPopup.reset();
}

void TEditWindow::InstallPopup() {
  // The menu is opened by the window's own input handling (the release of the right button and
  // the keyboard's request), never by the toolkit's context-menu policy.
}

TEditor* TEditWindow::AttachEditor(TEditor* editor) {
  TRefHolder<TEditor> hold(editor);
  if (editor->Window()) editor->Window()->DetachEditor(editor);
  editor->FWindow = this;
  FEditors.Add(editor);
  FNotifyList.NotifyAll(this, nkAttached, editor);
  editor->Notify(nkAttached);
  ScheduleMenuRebuild(false);
  if (auto* navigator = dynamic_cast<TEditWindowNavigator*>(editor)) FNavigator = navigator;
  if (isVisible()) setFocus();
  return editor;
}

void TEditWindow::DetachEditor(TEditor* editor) {
  if (!editor || FEditors.IndexOf(editor) < 0) return;
  TRefHolder<TEditor> hold(editor);
  if (editor == FActiveEditor) SetActiveEditor(nullptr);
  if (editor == FNavigator) FNavigator = nullptr;
  FNotifyList.NotifyAll(this, nkDetaching, editor);
  editor->Notify(nkDetaching);
  if (!FDestroying && OnShowStatus) OnShowStatus(this, QString());
  SetTimer(editor, 0);
  FEditors.Remove(editor);
  editor->FWindow = nullptr;
  FNotifyList.NotifyAll(this, nkDetached, editor);
  editor->Notify(nkDetached);
  if (!FDestroying) ScheduleMenuRebuild(true);
}

void TEditWindow::SetActiveEditor(TEditor* editor) {
  if (editor == FActiveEditor) return;
  if (editor)
    grabMouse();
  else
    releaseMouse();
  FActiveEditor = editor;
}

void TEditWindow::ForEachEditor(const std::function<bool(TEditor*)>& callback, bool reverse) {
  TRefObjectList snapshot(false);
  for (int i = 0; i < FEditors.Count(); ++i) snapshot.Add(FEditors.Items(i));
  const int n = snapshot.Count();
  for (int k = 0; k < n; ++k) {
    auto* editor = snapshot.ItemAs<TEditor>(reverse ? n - 1 - k : k);
    if (editor->Window() != this) continue;
    if (!callback(editor)) break;
  }
}

void TEditWindow::SetTimer(TEditor* editor, int32_t interval) {
  for (int i = 0; i < FTimers.Count(); ++i) {
    auto* info = FTimers.ItemAs<TTimerInfo>(i);
    if (info->Editor() != editor) continue;
    if (interval == 0)
      FTimers.Delete(i);
    else
      info->Timer().setInterval(interval);
    return;
  }
  if (interval == 0) return;
  auto* info = new TTimerInfo(editor, interval);
  QTimer* timer = &info->Timer();
  connect(timer, &QTimer::timeout, this, [this, timer] { TimerFired(timer); });
  FTimers.Add(info);
  timer->start();
}

void TEditWindow::TimerFired(QTimer* timer) {
  for (int i = 0; i < FTimers.Count(); ++i) {
    auto* info = FTimers.ItemAs<TTimerInfo>(i);
    if (&info->Timer() == timer) {
      TRefHolder<TEditor> hold(info->Editor());
      hold->Timer();
      return;
    }
  }
}

void TEditWindow::SetEditorCursor(int cursor) {
  FCursor = cursor;
  setCursor(CursorTable().Cursor(cursor));
}

TPoint TEditWindow::GetCursorClientPos() const {
  // The window follows the mouse through the events it gets (it tracks every move over it and all
  // of them while it holds the capture), which also keeps input that a program or a test sends
  // consistent with where the window thinks the mouse is.
  const QPointF global = FLastGlobalPos ? *FLastGlobalPos : QPointF(QCursor::pos());
  return ToDevice(mapFromGlobal(global));
}

TCanvas* TEditWindow::GetDCCanvas() {
  // One painter at a time may draw on the surface: nested requests share the canvas.
  if (FDCCanvasUses++ == 0) FDCCanvas = std::make_unique<TCanvas>(FSurface);
  return FDCCanvas.get();
}

void TEditWindow::ReleaseDCCanvas(TCanvas* canvas) {
  if (!canvas || canvas != FDCCanvas.get() || FDCCanvasUses == 0) return;
  if (--FDCCanvasUses > 0) return;
  // Only what the overlays touched goes to the screen again.
  const TRect touched = FDCCanvas->Touched();
  FDCCanvas.reset();
  if (touched.Width() > 0) UpdateScreen(ToQRect(touched));
}

void TEditWindow::BeginPaintLock() {
  if (FPaintLock == 0) DrawOverlays(false);
  ++FPaintLock;
}

void TEditWindow::EndPaintLock() {
  if (FPaintLock <= 0)
    throw EAssertionFailed(QStringLiteral("Assertion failure"), kLocation, PaintLockAssertLine);
  if (--FPaintLock == 0) DrawOverlays(true);
}

void TEditWindow::DrawOverlays(bool afterChange) {
  TCanvas* canvas = GetDCCanvas();
  try {
    const TPoint p = afterChange ? GetCursorClientPos() : TPoint{};
    FDevice->SetClipRect(FDevice->DeviceRect());
    ForEachEditor(
        [&](TEditor* editor) {
          if (afterChange) editor->SetPos(p);
          editor->Draw(*canvas);
          return true;
        },
        true);
  } catch (...) {
    ReleaseDCCanvas(canvas);
    throw;
  }
  ReleaseDCCanvas(canvas);
}

void TEditWindow::EndScrollLock() {
  if (FScrollLock <= 0)
    throw EAssertionFailed(QStringLiteral("Assertion failure"), kLocation, ScrollLockAssertLine);
  --FScrollLock;
}

void TEditWindow::ScrollBy(int32_t dx, int32_t dy) {
  if (FNavigator) FNavigator->LimitScroll(dx, dy);
  BeginScrollLock();
  try {
    BeginPaintLock();
    try {
      const QRect client = FSurface.rect();
      if (dx != 0 || dy != 0) {
        const QRect moved = client.translated(-dx, -dy) & client;
        if (!moved.isEmpty()) {
          // Rows move as whole memory blocks; going against the direction of the move never
          // reads a row that was already overwritten.
          const int bytes = moved.width() * 4;
          const int rows = moved.height();
          for (int k = 0; k < rows; ++k) {
            const int y = dy > 0 ? moved.top() + k : moved.bottom() - k;
            std::memmove(FSurface.scanLine(y) + moved.left() * 4,
                         FSurface.scanLine(y + dy) + (moved.left() + dx) * 4, bytes);
          }
        }
        FInvalid.translate(-dx, -dy);
        FInvalid &= client;
        FInvalid += QRegion(client) - QRegion(moved);
        ScheduleRender();
        UpdateScreen(client);
      }
      const TWorldPoint o = FDevice->GetOrigin();
      FDevice->SetOrigin(TWorldPoint{o.X + dx / FDevice->ScaleX(), o.Y + dy / FDevice->ScaleY()});
      ViewChanged();
    } catch (...) {
      EndPaintLock();
      throw;
    }
    EndPaintLock();
  } catch (...) {
    EndScrollLock();
    throw;
  }
  EndScrollLock();
}

void TEditWindow::RefreshCursor() {
  if (!isVisible()) return;
  RouteMouse(ekMouseMove, mbLeft, FModifiers, GetCursorClientPos());
}

void TEditWindow::ModifiersChanged(TShiftState modifiers) {
  modifiers &= ssModifiers;
  FModifiers = (FModifiers & ~ssModifiers) | modifiers;
  if (modifiers == GLastModifiers) return;
  GLastModifiers = modifiers;
  RouteMouse(ekMouseMove, mbLeft, FModifiers, GetCursorClientPos());
}

void TEditWindow::ScheduleMenuRebuild(bool deferred) {
  if (deferred) {
    if (FMenuRebuildPending) return;
    FMenuRebuildPending = true;
    QCoreApplication::postEvent(this, new QEvent(RebuildEventType()));
    return;
  }
  RebuildContextMenu();
  RefreshCursor();
}

void TEditWindow::RebuildContextMenu() {
  FContextMenu->Clear();
  ForEachEditor(
      [this](TEditor* editor) {
        editor->AddContextItems(*FContextMenu);
        return true;
      },
      true);
  FContextMenu->Rebuild();
}

void TEditWindow::SetBufferedPaint(bool value) {
  FBufferedPaint = value;
  if (!value) FBackBuffer.reset();
}

void TEditWindow::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  Invalidate();
}

// --- Invalidation and painting ---

void TEditWindow::Invalidate() {
  FInvalid = QRegion(FSurface.rect());
  ScheduleRender();
}

void TEditWindow::InvalidateRect(const TRect& r) {
  FInvalid += QRegion(ToQRect(r)) & FSurface.rect();
  ScheduleRender();
}

void TEditWindow::Update() {
  Render();
}

void TEditWindow::ScheduleRender() {
  if (FRenderPosted || FInvalid.isEmpty()) return;
  FRenderPosted = true;
  // Input first, as the window system orders painting after every other message.
  QCoreApplication::postEvent(this, new QEvent(RenderEventType()), Qt::LowEventPriority);
}

void TEditWindow::Render() {
  if (FInvalid.isEmpty() || FSurface.isNull()) return;
  const QRegion region = FInvalid;
  FInvalid = QRegion();
  // A region of many pieces is painted as its bounding box: each piece costs a pass over the
  // raster's parts that meet it.
  QList<QRect> pieces(region.begin(), region.end());
  if (pieces.size() > 8) pieces = {region.boundingRect()};
  BeginPaintLock();
  try {
    if (!FBufferedPaint) {
      QPainter erase(&FSurface);
      for (const QRect& r : pieces) erase.fillRect(r, ColorToQColor(FColor));
    }
    for (const QRect& r : pieces) PaintRect(ToTRect(r));
  } catch (...) {
    EndPaintLock();
    throw;
  }
  EndPaintLock();
  // What was painted goes to the screen; the overlays send only what they touched.
  for (const QRect& r : pieces) UpdateScreen(r);
}

void TEditWindow::PaintRect(const TRect& r) {
  QImage* target = &FSurface;
  if (FBufferedPaint && !FBackBuffer) {
    try {
      FBackBuffer = std::make_unique<QImage>(FSurface.size(), QImage::Format_RGB32);
      if (FBackBuffer->isNull()) FBackBuffer.reset();
    } catch (const std::bad_alloc&) {
      FBackBuffer.reset();
    }
  }
  if (FBufferedPaint && FBackBuffer) {
    target = FBackBuffer.get();
    QPainter(target).fillRect(ToQRect(r), ColorToQColor(FColor));
  }
  {
    TCanvas canvas(*target);
    canvas.SetClipRect(r);
    FDevice->SetClipRect(canvas.ClipBox());
    if (OnPaint) OnPaint(*FDevice, canvas);
    ForEachEditor(
        [&](TEditor* editor) {
          editor->Paint(canvas);
          return true;
        },
        false);
    if (OnAfterPaint) OnAfterPaint(*FDevice, canvas);
  }
  if (target != &FSurface) {
    QPainter copy(&FSurface);
    copy.setCompositionMode(QPainter::CompositionMode_Source);
    copy.drawImage(ToQRect(r), *target, ToQRect(r));
  }
}

void TEditWindow::UpdateScreen(const QRect& deviceRect) {
  update(ToLogical(deviceRect));
}

void TEditWindow::paintEvent(QPaintEvent* event) {
  if (!qFuzzyCompare(devicePixelRatioF(), FPixelRatio)) Resized();
  QPainter painter(this);
  for (const QRect& r : event->region()) {
    const QRectF source(r.x() * FPixelRatio, r.y() * FPixelRatio, r.width() * FPixelRatio,
                        r.height() * FPixelRatio);
    painter.drawImage(QRectF(r), FSurface, source);
  }
}

void TEditWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Resized();
}

void TEditWindow::Resized() {
  FPixelRatio = devicePixelRatioF();
  const QSize size(std::max(1, qRound(width() * FPixelRatio)),
                   std::max(1, qRound(height() * FPixelRatio)));
  if (FSurface.size() != size) {
    FSurface = QImage(size, QImage::Format_RGB32);
    FSurface.fill(ColorToQColor(FColor));
  }
  FBackBuffer.reset();
  const TWorldPoint origin = FDevice->GetOrigin();
  const TRect client{0, 0, size.width(), size.height()};
  if (!FDevice->IsValid()) {
    FDevice->SetDeviceRect(client);
  } else if (!FDestroying) {
    const QScreen* s = screen();
    TPoint resolution = FDevice->Resolution();
    if (s) {
      // The screen's pixels per inch, counted in the surface's pixels.
      const QRect geometry = s->geometry();
      const QSizeF mm = s->physicalSize();
      resolution =
          ScreenResolution(qRound(geometry.width() * FPixelRatio),
                           qRound(geometry.height() * FPixelRatio), mm.width(), mm.height());
      // A screen scaled by the ratio has that many times the pixels of an ordinary one on each
      // inch, so that lengths on it (the marks of the nodes, the reach of a click) keep their
      // size beside the scaled text. Window systems often state a physical size for an ordinary
      // density whatever the screen: a smaller resolution than the scale implies is not believed.
      if (FPixelRatio > 1)
        resolution.X = std::max(resolution.X, qRound(s->logicalDotsPerInchX() * FPixelRatio));
      // Screens state their size in whole millimetres (or not at all), so the two resolutions
      // differ a little even where pixels are square, and a raster would look stretched. The
      // horizontal one holds for both.
      resolution.Y = resolution.X;
    }
    FDevice->SetDevice(resolution, client);
  }
  FDevice->SetOrigin(origin);
  Invalidate();
}

void TEditWindow::DeviceChanged() {
  if (!IsScrollLocked()) Invalidate();
  ViewChanged();
}

void TEditWindow::ViewChanged() {
  if (OnViewChange) OnViewChange(this);
  FNotifyList.NotifyAll(this, nkViewChanged, nullptr);
  ForEachEditor(
      [](TEditor* editor) {
        editor->Notify(nkViewChanged);
        return true;
      },
      false);
}

bool TEditWindow::event(QEvent* event) {
  // Tab and Shift+Tab go to the tools first (the calibrator walks its nodes with them); when no
  // tool takes them they move the focus as in any window.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      FModifiers = (FModifiers & ~ssModifiers) | ShiftStateOf(key->modifiers());
      if (RouteKey(ekKeyDown, VK_TAB, Modifiers())) return true;
    }
  }
  if (event->type() == RenderEventType()) {
    FRenderPosted = false;
    Update();
    return true;
  }
  if (event->type() == RebuildEventType()) {
    if (FMenuRebuildPending) {
      FMenuRebuildPending = false;
      ScheduleMenuRebuild(false);
    }
    return true;
  }
  return QWidget::event(event);
}

// --- Input routing ---

TPoint TEditWindow::ToDevice(const QPointF& logical) const {
  return TPoint{static_cast<int32_t>(std::floor(logical.x() * FPixelRatio + 1e-9)),
                static_cast<int32_t>(std::floor(logical.y() * FPixelRatio + 1e-9))};
}

QRect TEditWindow::ToLogical(const QRect& deviceRect) const {
  if (FPixelRatio == 1) return deviceRect;
  const int left = static_cast<int>(std::floor(deviceRect.left() / FPixelRatio));
  const int top = static_cast<int>(std::floor(deviceRect.top() / FPixelRatio));
  const int right = static_cast<int>(std::ceil((deviceRect.right() + 1) / FPixelRatio));
  const int bottom = static_cast<int>(std::ceil((deviceRect.bottom() + 1) / FPixelRatio));
  return QRect(left, top, right - left, bottom - top);
}

void TEditWindow::RouteMouse(TEventKind kind, TMouseButton button, TShiftState shift,
                             const TPoint& p) {
  if (kind == ekMouseDown && !hasFocus()) setFocus();
  TRoutedEvent e{kind, button, shift, p, 0};
  Route(e);
}

bool TEditWindow::RouteKey(TEventKind kind, uint16_t key, TShiftState shift) {
  TRoutedEvent e{kind, mbLeft, shift, TPoint{}, key};
  return Route(e);
}

bool TEditWindow::Route(const TRoutedEvent& e) {
  const uint8_t savedPhase = FPhase;
  const bool savedHandled = FHandled;
  FHandled = false;
  const auto restore = [&] {
    FPhase = savedPhase;
    FHandled = savedHandled;
  };
  try {
    RouteEvent(e, 1, 0);
    if (FActiveEditor) {
      FPhase = 2;
      TRefHolder<TEditor> hold(FActiveEditor);
      Deliver(hold.Get(), e);
    } else {
      RouteEvent(e, 3, 1);
      RouteEvent(e, 4, 2);
      RouteEvent(e, 5, 4);
    }
    if (!FHandled) {
      if (e.Kind == ekMouseDown && OnMouseDown) OnMouseDown(e.Button, e.Shift, e.Point);
      if (e.Kind == ekMouseUp && OnMouseUp) OnMouseUp(e.Button, e.Shift, e.Point);
      if (e.Kind == ekMouseMove && OnMouseMove) OnMouseMove(e.Shift, e.Point);
    }
  } catch (...) {
    restore();
    throw;
  }
  const bool handled = FHandled;
  restore();
  return handled;
}

void TEditWindow::RouteEvent(const TRoutedEvent& e, uint8_t phase, uint8_t bit) {
  FPhase = phase;
  if (FHandled) return;
  ForEachEditor(
      [&](TEditor* editor) {
        if (editor->Mask & (1 << bit)) Deliver(editor, e);
        return phase == 1 || !FHandled;
      },
      true);
}

void TEditWindow::Deliver(TEditor* editor, const TRoutedEvent& e) {
  switch (e.Kind) {
    case ekMouseDown:
      editor->MouseDown(e.Button, e.Shift, e.Point);
      break;
    case ekMouseUp:
      editor->MouseUp(e.Button, e.Shift, e.Point);
      break;
    case ekMouseMove:
      editor->MouseMove(e.Shift, e.Point);
      break;
    case ekKeyDown:
      editor->KeyDown(e.Key, e.Shift);
      break;
    case ekKeyUp:
      editor->KeyUp(e.Key, e.Shift);
      break;
  }
}

void TEditWindow::mousePressEvent(QMouseEvent* event) {
  FLastGlobalPos = event->globalPosition();
  FModifiers = ShiftStateOf(event->modifiers(), event->buttons());
  RouteMouse(ekMouseDown, ButtonOf(event->button()), FModifiers, ToDevice(event->position()));
}

void TEditWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  FLastGlobalPos = event->globalPosition();
  FModifiers = ShiftStateOf(event->modifiers(), event->buttons());
  RouteMouse(ekMouseDown, ButtonOf(event->button()), FModifiers | ssDouble,
             ToDevice(event->position()));
}

void TEditWindow::mouseMoveEvent(QMouseEvent* event) {
  FLastGlobalPos = event->globalPosition();
  FModifiers = ShiftStateOf(event->modifiers(), event->buttons());
  RouteMouse(ekMouseMove, mbLeft, FModifiers, ToDevice(event->position()));
}

void TEditWindow::mouseReleaseEvent(QMouseEvent* event) {
  FLastGlobalPos = event->globalPosition();
  FModifiers = ShiftStateOf(event->modifiers(), event->buttons());
  const TMouseButton button = ButtonOf(event->button());
  RouteMouse(ekMouseUp, button, FModifiers, ToDevice(event->position()));
  // The menu opens after the release has reached the editors, which may have suppressed it.
  if (button == mbRight) ContextMenuRequest(event->globalPosition().toPoint());
}

void TEditWindow::contextMenuEvent(QContextMenuEvent* event) {
  // Requests of the mouse are served at the button's release.
  event->accept();
  if (event->reason() != QContextMenuEvent::Mouse) ContextMenuRequest(QPoint(-1, -1));
}

void TEditWindow::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  // Keys released while another window had the focus (a shortcut's dialog took Shift and Ctrl
  // away) never reached this one: the tools learn the keys' state as it is now.
  ModifiersChanged(ShiftStateOf(QGuiApplication::queryKeyboardModifiers()));
}

void TEditWindow::ContextMenuRequest(QPoint globalPos) {
  if (FSuppressContextMenu) {
    FSuppressContextMenu = false;
    return;
  }
  if (globalPos == QPoint(-1, -1)) {
    const TPoint p = GetCursorClientPos();
    globalPos = mapToGlobal(QPointF(p.X / FPixelRatio, p.Y / FPixelRatio)).toPoint();
  }
  FContextMenu->Popup(globalPos.x(), globalPos.y());
}

void TEditWindow::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (const TShiftState bit = ModifierKeyBit(event->key())) {
    ModifiersChanged(ShiftStateOf(event->modifiers()) | bit);
    return;
  }
  FModifiers = (FModifiers & ~ssModifiers) | ShiftStateOf(event->modifiers());
  const uint16_t key = VirtualKeyOf(*event);
  if (key == VK_APPS || (key == VK_F1 + 9 && Modifiers() == ssShift)) {
    ContextMenuRequest(QPoint(-1, -1));
    return;
  }
  if (key != 0) RouteKey(ekKeyDown, key, Modifiers());
}

void TEditWindow::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  // A held key repeats as presses; its releases in between are not the user's.
  if (event->isAutoRepeat()) return;
  if (const TShiftState bit = ModifierKeyBit(event->key())) {
    ModifiersChanged(ShiftStateOf(event->modifiers()) & ~bit);
    return;
  }
  const uint16_t key = VirtualKeyOf(*event);
  if (key != 0) RouteKey(ekKeyUp, key, Modifiers());
}

void TEditWindow::wheelEvent(QWheelEvent* event) {
  event->accept();
  FLastGlobalPos = event->globalPosition();
  const int d = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
  if ((FWheelDelta > 0 && d > 0) || (FWheelDelta <= 0 && d <= 0))
    FWheelDelta += d;
  else
    FWheelDelta = d;
  if (std::abs(FWheelDelta) < 120) return;
  const int32_t steps = FWheelDelta / 120;
  FWheelDelta %= 120;
  const TShiftState shift = ShiftStateOf(event->modifiers());
  if (shift & ssCtrl) {
    const int32_t w = FSurface.width();
    const int32_t h = FSurface.height();
    if (shift & ssShift)
      ScrollBy(-((steps * w / 4) & ~15), 0);
    else
      ScrollBy(0, -((steps * h / 4) & ~15));
    return;
  }
  if (!FNavigator) return;
  const TWorldPoint p = FDevice->DeviceToPage(ToDevice(event->position()));
  if (steps > 0)
    FNavigator->ZoomInAt(p);
  else
    FNavigator->ZoomOutAt(p);
}
