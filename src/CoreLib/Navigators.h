#pragma once

#include "Geomet.h"
#include "InEditors.h"

#include <QImage>

#include <functional>
#include <memory>
#include <optional>

class TPageRectSelector;

// A view: the world point at the middle of the window and the projection's scale.
class TNavigateInfo : public TRefObject {
 public:
  TNavigateInfo(const TWorldPoint& centre, double scale) : Centre(centre), Scale(scale) {}
  TWorldPoint Centre;
  double Scale;
};

// The tool that moves the view: zoom by a fixed factor (commands, keys, the wheel, clicks), zoom to
// a dragged rectangle, fit a world rectangle, scroll by keys, by dragging the picture by hand and
// automatically near the window's edge, and step back through the views seen before. It leaves
// the change of the view itself to SetView.
class TEditWindowNavigator : public TEditor {
 public:
  enum TState : uint8_t {
    nsSelect = 0,
    nsAutoScroll = 1,
    nsZoomRect = 2,
    nsTempZoomRect = 3,  // zoom by rectangle while Shift+Ctrl are held
    nsHand = 4,
  };
  // Edge zones 0 … 7 (left, right, top, bottom, then the corners); none is 8.
  static constexpr uint8_t kNoEdge = 8;
  static constexpr int32_t kEdgeMargin = 20;
  static constexpr int32_t kScrollStep = 24;
  static constexpr int32_t kAutoScrollInterval = 100;

  TEditWindowNavigator();
  ~TEditWindowNavigator() override;

  // View operations; all of them but PopHistory record the view they leave.
  virtual void SetView(const TWorldPoint& centre, bool save, double scale);
  TWorldPoint GetCentre() const;
  double GetScale() const;
  void ZoomIn();
  void ZoomOut();
  // Zoom about a page point that stays under the same pixel.
  void ZoomInAt(const TWorldPoint& p);
  void ZoomOutAt(const TWorldPoint& p);
  void ZoomAt(const TWorldPoint& p, double scale);
  // Shows the rectangle as large as it fits, centred.
  void ZoomToPageRect(const TWorldRect& r);
  void ZoomToWorldRect(const TWorldRect& r);
  // Mode 0: pan to the rectangle's centre; 1: pan if the rectangle fits the view, else as 2;
  // 2: show the rectangle with a margin of an eighth of its size on each side.
  void FitWorldRect(const TWorldRect& r, int mode);
  void PopHistory();
  // The world rectangle the view keeps in sight (the raster), or none. Scrolling stops where the
  // rectangle's edge has come a quarter of the window in from the window's edge (or, when it is
  // smaller than half the window, where its edge reaches the window's middle); zooming stops where
  // it shows whole in kLeastShown logical pixels, and at kMostPerUnit logical pixels per world
  // unit.
  void SetLimits(const std::optional<TWorldRect>& limits);
  const std::optional<TWorldRect>& Limits() const { return FLimits; }
  static constexpr double kLeastShown = 32;
  static constexpr double kMostPerUnit = 64;
  // Cuts a scroll of the view by device pixels to what the limits allow; a view already beyond
  // them may come back but not go farther.
  void LimitScroll(int32_t& dx, int32_t& dy) const;
  void ClearHistory() { FHistory.Clear(); }
  bool HasHistory() const { return FHistory.Count() > 0; }
  const TRefObjectList& History() const { return FHistory; }

  // Modes.
  void SetState(uint8_t state);
  uint8_t State() const { return FState; }
  void SelectMode() { SetState(nsSelect); }
  void ZoomRectMode() { SetState(nsZoomRect); }
  void StartHandMode(bool live);
  void EndHandMode();
  bool HandLocked() const { return FHandLocked; }
  bool LiveHand() const { return FLiveHand; }
  uint8_t Edge() const { return FEdge; }
  uint8_t DragState() const { return FDragState; }
  const QImage* Snapshot() const { return FSnapshot ? &*FSnapshot : nullptr; }
  TPageRectSelector* Selector() const { return FSelector; }
  static constexpr double ZoomFactor = 1.5;

  // Editor overrides.
  void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void MouseMove(TShiftState shift, const TPoint& p) override;
  void MouseUp(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void KeyDown(uint16_t key, TShiftState shift) override;
  void Timer() override;
  void AddContextItems(TContextMenu& menu) override;

  std::function<void(TEditWindowNavigator* sender, const TWorldPoint& centre, double scale)>
      OnSetView;
  std::function<void(TEditWindowNavigator* sender)> OnStateChange;

 protected:
  void PushHistory();
  // The scale within the limits, and the centre that keeps them at that scale.
  double LimitedScale(double scale) const;
  TWorldPoint LimitedCentre(const TWorldPoint& centre, double scale) const;
  // Puts the view back within the limits after its origin moved.
  virtual void KeepInLimits() {}

 private:
  uint8_t EdgeZone(const TPoint& p);
  void UpdateCursor();
  void ScrollToEdge(uint8_t zone, bool big);
  void StartZoomRect(TMouseButton button, TShiftState shift, const TPoint& p);
  void RectSelected(const TWorldRect& r);
  void SelectorNotify(TEditWindow* sender, uint8_t kind, TEditor* editor);
  void BeginHandDrag(const TPoint& p);
  TPoint HandShift(const TPoint& p) const;
  void MoveHand(const TPoint& p);
  void EndHandDrag(const TPoint& p);
  void DrawSnapshot(const TPoint& offset);

  uint8_t FState = nsSelect;
  uint8_t FEdge = kNoEdge;
  TRefObjectList FHistory{true};
  TPageRectSelector* FSelector = nullptr;
  std::unique_ptr<TEditWindowNotifyClient> FNotifyClient;
  TPoint FAnchor;
  std::optional<QImage> FSnapshot;
  uint8_t FDragState = 0;  // the right button: 0 up, 1 pressed, 2 dragging the picture
  TPoint FPressPoint;
  bool FHandLocked = false;
  bool FLiveHand = false;
  std::optional<TWorldRect> FLimits;
};

// The navigator of a window whose projection is a matrix: a view is the matrix reset, flipped when
// FlipY, scaled and rotated by Angle, with the centre moved to the middle of the window.
class TMatrixProjectionNavigator : public TEditWindowNavigator {
 public:
  // The most device pixels one world unit may cover: deeper zooms would take the drawing beyond
  // the range of coordinates that drawing can represent.
  static constexpr double kMaxPixelsPerUnit = 65536;
  // The fewest: a raster of 2^31 pixels still spans a few hundred of them.
  static constexpr double kMinPixelsPerUnit = 1e-6;

  void SetView(const TWorldPoint& centre, bool save, double scale) override;
  void KeepInLimits() override;
  void SetAngle(double angle);
  void SetFlipY(bool flip);
  double Angle() const { return FAngle; }
  bool FlipY() const { return FFlipY; }

 private:
  double FAngle = 0;
  bool FFlipY = false;
};
