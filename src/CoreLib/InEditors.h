#pragma once

#include "Canvases.h"
#include "Devices.h"
#include "MenuUtils.h"
#include "RefObjects.h"
#include "VirtualKeys.h"

#include <QImage>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class TEditWindow;
class TEditWindowNavigator;

// The routing phases an editor takes part in (its Mask).
inline constexpr uint8_t emWatcher = 1 << 0;     // phase 1: sees every event, consumes none
inline constexpr uint8_t emPriority = 1 << 1;    // phase 3
inline constexpr uint8_t emTool = 1 << 2;        // phase 4
inline constexpr uint8_t emAutoScroll = 1 << 3;  // the view may scroll at the edge while it drags
inline constexpr uint8_t emFallback = 1 << 4;    // phase 5

// What the window tells its editors and its notification clients.
enum TEditWindowNotifyKind : uint8_t {
  nkAttached = 0,
  nkDetaching = 1,
  nkDetached = 2,
  nkViewChanged = 3,
};

// An interactive tool of an edit window. The window routes mouse, key, timer and paint calls to
// it; every call does nothing here, and a tool overrides what it needs. A tool may hold the mouse
// capture for a drag and draw a transient figure in exclusive-or mode, which the window takes away
// and puts back around anything that changes its pixels: Draw must therefore draw exactly what is
// shown, and nothing when nothing is.
class TEditor : public TRefObject {
 public:
  TEditor();
  ~TEditor() override;

  // Detaches the editor from its window.
  void Disconnect() override;

  uint8_t Mask = emTool | emAutoScroll;

  TEditWindow* Window() const { return FWindow; }
  int32_t TimerInterval() const { return FTimerInterval; }

  virtual void SetPos(const TPoint& p);
  virtual void Draw(TCanvas& canvas);
  virtual void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p);
  virtual void MouseMove(TShiftState shift, const TPoint& p);
  virtual void MouseUp(TMouseButton button, TShiftState shift, const TPoint& p);
  // Escape while the editor holds the capture (phase 2) or as an ordinary tool (phase 4) cancels
  // what it does and consumes the key.
  virtual void KeyDown(uint16_t key, TShiftState shift);
  virtual void KeyUp(uint16_t key, TShiftState shift);
  virtual void Timer();
  virtual void Notify(int kind);
  virtual void Paint(TCanvas& canvas);
  virtual void AddContextItems(TContextMenu& menu);
  virtual void Cancel();

  // The window; an editor that is not attached raises the internal error.
  TEditWindow* GetValidOwner() const;
  TDeviceInfo& Device() const;
  bool IsActive() const;
  // Takes or gives up the mouse capture.
  void SetActive(bool value);
  void SetTimerInterval(int32_t ms);
  // Ends the routing of the event in progress after this phase.
  void SetHandled();
  TCanvas* GetCanvas() const;
  void ReleaseCanvas(TCanvas* canvas) const;
  // Draws the overlay once, outside painting: called before and after a change of the figure, it
  // erases the old one and draws the new one.
  void RedrawOverlay();

 private:
  friend class TEditWindow;
  TEditWindow* FWindow = nullptr;
  int32_t FTimerInterval = 0;
};

// Detaches an attached editor from its window.
void Detach(TEditor* editor);

// The timer of one editor; it keeps the editor alive while it runs.
class TTimerInfo : public TRefObject {
 public:
  TTimerInfo(TEditor* editor, int32_t interval);
  ~TTimerInfo() override;

  TEditor* Editor() const { return FEditor; }
  QTimer& Timer() const { return *FTimer; }

 private:
  TEditor* FEditor = nullptr;
  std::unique_ptr<QTimer> FTimer;
};

class TEditWindowNotifyClient : public TNotifyClient {
 public:
  using TOnNotify = std::function<void(TEditWindow* sender, uint8_t kind, TEditor* editor)>;
  explicit TEditWindowNotifyClient(TOnNotify onNotify = nullptr) : OnNotify(std::move(onNotify)) {}

  virtual void Notify(TEditWindow* sender, uint8_t kind, TEditor* editor);

  TOnNotify OnNotify;
};

class TEditWindowNotifyList : public TNotifyList {
 public:
  void NotifyAll(TEditWindow* sender, uint8_t kind, TEditor* editor);
};

// The control that shows the raster and hosts the editors. Its pixels are a surface of its own,
// in the screen's real pixels: painting renders what was invalidated into the surface, overlays
// are drawn straight onto it, scrolling moves its pixels, and the screen only ever gets copies of
// it. Device coordinates are surface pixels.
//
// Input is routed to the editors in phases: 1 every watcher; then either 2 the editor holding the
// capture alone, or 3 priority handlers, 4 ordinary tools and 5 fall-back handlers, each of the
// last three stopping at the first editor that consumes the event. Editors are visited last
// attached first.
class TEditWindow : public QWidget {
  Q_OBJECT

 public:
  // The assertions of unbalanced paint and scroll brackets.
  static constexpr int PaintLockAssertLine = 1666;
  static constexpr int ScrollLockAssertLine = 1728;

  explicit TEditWindow(QWidget* parent = nullptr);
  ~TEditWindow() override;

  TDeviceInfo& Device() { return *FDevice; }

  // Editors.
  TEditor* AttachEditor(TEditor* editor);
  void DetachEditor(TEditor* editor);
  void SetActiveEditor(TEditor* editor);
  TEditor* ActiveEditor() const { return FActiveEditor; }
  TEditWindowNavigator* Navigator() const { return FNavigator; }
  const TRefObjectList& Editors() const { return FEditors; }
  // Visits a snapshot of the editors, so that attaching and detaching during the visit is safe;
  // an editor detached meanwhile is skipped. The callback returns whether to go on.
  void ForEachEditor(const std::function<bool(TEditor*)>& callback, bool reverse);

  // Timers: an interval of 0 removes the editor's timer.
  void SetTimer(TEditor* editor, int32_t interval);
  const TRefObjectList& Timers() const { return FTimers; }

  TEditWindowNotifyList& NotifyList() { return FNotifyList; }

  // Services for the editors.
  void SetEditorCursor(int cursor);
  int EditorCursor() const { return FCursor; }
  TPoint GetCursorClientPos() const;
  // A canvas straight on the surface, without clipping.
  TCanvas* GetDCCanvas();
  void ReleaseDCCanvas(TCanvas* canvas);
  void SuppressNextContextMenu() { FSuppressContextMenu = true; }
  void BeginPaintLock();
  void EndPaintLock();
  int32_t PaintLock() const { return FPaintLock; }
  void BeginScrollLock() { ++FScrollLock; }
  void EndScrollLock();
  bool IsScrollLocked() const { return FScrollLock > 0; }
  // Moves the view by device pixels (positive: to the right and down): the surface's pixels move
  // the other way and only the uncovered strip is painted again.
  void ScrollBy(int32_t dx, int32_t dy);
  // Lets the editors adapt their cursors: routes a mouse move at the mouse position.
  void RefreshCursor();
  // Routes a mouse move when the state of Shift, Alt and Ctrl differs from the last one seen.
  void ModifiersChanged(TShiftState modifiers);
  void ScheduleMenuRebuild(bool deferred);
  virtual void RebuildContextMenu();
  TContextMenu& ContextMenu() { return *FContextMenu; }
  QMenu& InternalPopup() { return *FInternalPopup; }
  bool MenuRebuildPending() const { return FMenuRebuildPending; }

  bool BufferedPaint() const { return FBufferedPaint; }
  void SetBufferedPaint(bool value);
  const QImage* BackBuffer() const { return FBackBuffer.get(); }
  TColor Color() const { return FColor; }
  void SetColor(TColor color);

  // Invalidated areas are collected and rendered into the surface at the next turn of the event
  // loop; Update renders them at once.
  void Invalidate();
  void InvalidateRect(const TRect& r);
  void Update();
  void Repaint() {
    Invalidate();
    Update();
  }
  const QRegion& InvalidRegion() const { return FInvalid; }
  const QImage& Surface() const { return FSurface; }

  // The state of the event being routed.
  uint8_t Phase() const { return FPhase; }
  bool Handled() const { return FHandled; }
  void SetHandled() { FHandled = true; }
  int32_t WheelDelta() const { return FWheelDelta; }
  bool Destroying() const { return FDestroying; }

  // Published events.
  using TOnPaint = std::function<void(TDeviceInfo& device, TCanvas& canvas)>;
  TOnPaint OnPaint;
  TOnPaint OnAfterPaint;
  std::function<void(TEditWindow* sender)> OnViewChange;
  std::function<void(TEditWindow* sender, const QString& text)> OnShowStatus;
  // Mouse input that no editor consumed.
  using TOnMouse = std::function<void(TMouseButton button, TShiftState shift, const TPoint& p)>;
  TOnMouse OnMouseDown;
  TOnMouse OnMouseUp;
  std::function<void(TShiftState shift, const TPoint& p)> OnMouseMove;

 protected:
  virtual void ViewChanged();
  virtual void InstallPopup();

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  enum TEventKind : uint8_t { ekMouseDown, ekMouseUp, ekMouseMove, ekKeyDown, ekKeyUp };
  struct TRoutedEvent {
    TEventKind Kind;
    TMouseButton Button = mbLeft;
    TShiftState Shift = 0;
    TPoint Point;
    uint16_t Key = 0;
  };

  void RouteMouse(TEventKind kind, TMouseButton button, TShiftState shift, const TPoint& p);
  // Whether an editor consumed the key.
  bool RouteKey(TEventKind kind, uint16_t key, TShiftState shift);
  // Phases 1 to 5 of one event; the routing state is restored afterwards, so routing nests.
  // Whether an editor consumed the event.
  bool Route(const TRoutedEvent& e);
  void RouteEvent(const TRoutedEvent& e, uint8_t phase, uint8_t bit);
  static void Deliver(TEditor* editor, const TRoutedEvent& e);
  void ContextMenuRequest(QPoint globalPos);
  void TimerFired(QTimer* timer);
  void DeviceChanged();
  void DrawOverlays(bool afterChange);
  void Resized();
  void ScheduleRender();
  void Render();
  void PaintRect(const TRect& r);
  void UpdateScreen(const QRect& deviceRect);
  TPoint ToDevice(const QPointF& logical) const;
  QRect ToLogical(const QRect& deviceRect) const;
  TShiftState Modifiers() const { return FModifiers & ssModifiers; }

  int32_t FWheelDelta = 0;
  std::unique_ptr<TDeviceInfo> FDevice;
  TRefObjectList FEditors{false};
  TEditor* FActiveEditor = nullptr;
  TRefObjectList FTimers{true};
  TEditWindowNotifyList FNotifyList;
  uint8_t FPhase = 0;
  bool FHandled = false;
  std::unique_ptr<QMenu> FInternalPopup;
  std::unique_ptr<TContextMenu> FContextMenu;
  int32_t FPaintLock = 0;
  bool FSuppressContextMenu = false;
  bool FBufferedPaint = false;
  int32_t FScrollLock = 0;
  std::unique_ptr<QImage> FBackBuffer;
  TEditWindowNavigator* FNavigator = nullptr;
  bool FMenuRebuildPending = false;

  TColor FColor = clWhite;
  int FCursor = 0;
  TShiftState FModifiers = 0;
  std::optional<QPointF> FLastGlobalPos;
  bool FDestroying = false;
  QImage FSurface;
  qreal FPixelRatio = 1;
  QRegion FInvalid;
  bool FRenderPosted = false;
  std::unique_ptr<TCanvas> FDCCanvas;
  int32_t FDCCanvasUses = 0;
};
