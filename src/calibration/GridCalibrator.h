#pragma once

#include "CalibratorHistories.h"
#include "Canvases.h"
#include "FindNodes.h"
#include "GridInfo.h"
#include "GridPainters.h"
#include "InEditors.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TAppUIContext;
struct TGridClip;
class TLoupe;
class TRasterManager;
class QWidget;

// The tool that lays the reference grid over the raster: it draws the lattice with the moved grid
// on top, lets the user drag nodes, rows and columns onto what the scan shows, and runs the grid's
// commands: its parameters in centimetres, the reset, the calibration and the clip. A node is
// picked on its moved position, a line on the reference lattice; a node hides the lines through
// it and a column hides the rows. With Ctrl a press on a moved node puts it back, and one on a row
// or column (but the first) resizes the cells instead of moving the lattice.
//
// Positions are pixels: a node stands for the pixel whose colour the calibration takes to its
// reference place, and lands on the pixel under the pointer, the one the status bar shows. A
// click on a node selects it without moving it; the keys then place it to the pixel: the arrows
// move it by one pixel (by ten with Shift), each move a step that can be undone, Tab and
// Shift+Tab walk the nodes, Delete puts it back, Esc lets it go. While a node or a line is
// dragged, and while Z is held, a loupe beside the pointer shows the pixels around it magnified.
class TGridCalibrator : public TEditor {
 public:
  enum TDragState : uint8_t {
    dsIdle = 0,
    dsMoveNode = 1,
    dsResetNode = 2,
    dsMoveRow = 3,
    dsSizeByRow = 4,
    dsMoveColumn = 5,
    dsSizeByColumn = 6,
  };
  struct THit {
    uint8_t State = dsIdle;
    int32_t I = 0;
    int32_t J = 0;
    int32_t Line = 0;
  };

  // The grid starts as one cell on the raster's corners.
  TGridCalibrator(TRasterManager* raster, const TGridCalibratorOptions* options,
                  TAppUIContext* uiContext);
  ~TGridCalibrator() override;

  void SetPos(const TPoint& p) override;
  void Draw(TCanvas& canvas) override;
  void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void MouseMove(TShiftState shift, const TPoint& p) override;
  void MouseUp(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void KeyDown(uint16_t key, TShiftState shift) override;
  void KeyUp(uint16_t key, TShiftState shift) override;
  void Notify(int kind) override;
  // The node under the right button's press: its properties and its reset.
  void AddContextItems(TContextMenu& menu) override;
  void Paint(TCanvas& canvas) override;
  void Cancel() override;
  virtual void DoRasterChanged();

  // The commands. The calibration and the clip keep their state variable set while they run. The
  // long ones (the calibration, the clip, the search for the nodes) run their work through
  // OnRunWork and work on a copy of the grid: while the work runs the tool paints, and drags
  // nothing.
  bool EditGridParams(QWidget* parent = nullptr);
  void ResetGrid();
  void Calibrate();
  void ClipToGrid();
  // Clips to the frame of the whole grid, which goes on with its nodes on the clipped picture.
  void ClipToGridFrame();
  // Puts a grid in place of the current one, as one step that can be undone.
  void ReplaceGrid(const TGridInfo& grid);
  // Puts node (i, j) on a pixel, or back on its reference place, as one step that can be undone.
  void PlaceNode(int32_t i, int32_t j, const TPoint& pixel);
  void ResetNode(int32_t i, int32_t j);
  // Looks for the scan's crossings of the nodes the user has not moved: the found nodes move onto
  // them as one step that can be undone, the others are marked until they are moved or the grid
  // changes as a whole.
  TNodeSearch FindNodes();
  const std::vector<TPoint>& MissedNodes() const { return FMissed; }
  // The nodes the last search found at odds with the grid's other crossings, and how sure it is
  // of each node it found (below 0 for the others; empty after a change of the whole grid).
  const std::vector<TPoint>& DisagreeingNodes() const { return FDisagreeing; }
  const std::vector<double>& Sureness() const { return FSureness; }
  // The cells that folded (see FoldedCells), marked in the view; the calibration refuses them.
  const std::vector<TPoint>& Folded() const { return FFolded; }
  // What became of a node: on its reference place, placed by hand, found by the last search (and
  // how sure it was, and whether it is at odds with the grid's other crossings; a node moved since
  // is placed by hand), not found by it, or a corner of a folded cell, which counts first.
  enum class TNodeState { OnLattice, ByHand, Found, NotFound, Folded };
  struct TNodeInfo {
    TNodeState State = TNodeState::OnLattice;
    double Confidence = 0;
    bool Disagrees = false;
  };
  TNodeInfo NodeInfo(int32_t i, int32_t j) const;

  // The node the keys move: selected by a click, by Tab, by the walk through the missed nodes.
  const std::optional<TPoint>& Selected() const { return FSelected; }
  void Select(const std::optional<TPoint>& node);
  // The next node (or the previous one) in rows, from the selected one, round the grid.
  void SelectNext(bool forward);
  // The next node the last search missed or found at odds with the others, after the selected
  // one, shown at a working zoom; false when there is none.
  bool SelectNextMissed();
  // Centres the view on a node, zoomed in to at least kWorkingZoom logical pixels per raster pixel
  // when asked.
  void ShowNode(int32_t i, int32_t j, bool zoomIn);
  static constexpr double kWorkingZoom = 4;
  const TLoupe* Loupe() const { return FLoupe.get(); }

  // Edits of the grid (drags, resets, parameters, searches), calibrations and clips can be undone
  // and redone, in order, while the tool lives. Undoing a calibration or a clip puts back the
  // raster as it was, with its grid; the raster keeps the name and the resolution it goes by now.
  bool CanUndo() const { return FHistory.CanUndo(); }
  bool CanRedo() const { return FHistory.CanRedo(); }
  TEditKind UndoKind() const { return FHistory.UndoKind(); }
  TEditKind RedoKind() const { return FHistory.RedoKind(); }
  void Undo();
  void Redo();
  // The grid differs from the one the tool starts with: moved nodes or another lattice.
  bool HasChanges() const;
  // Whether the raster lies on the grid's lattice: a calibration made it, and the clips since
  // moved the lattice with the picture. Its pixels are then regular in the sheet's centimetres,
  // and a grid with map coordinates places them on the map by one affine transform.
  bool Calibrated() const { return FCalibrated; }

  THit HitTest(TShiftState shift, const TPoint& p) const;
  // The pick radius and the nodes' marks, in raster pixels at the current zoom.
  double PickRadius() const;
  // What the status bar says of the selected or dragged node: its (I, J), its pixel and how far
  // it is from its reference place; empty when there is none.
  QString NodeStatus() const;

  const TGridInfo& Grid() const { return FGrid; }
  uint8_t DragState() const { return FDragState; }
  const TPoint& LastPos() const { return FLastPos; }
  TRasterManager* Raster() const { return FRaster; }

  // Whether long work runs, the tool's own or another's: the grid cannot be dragged meanwhile.
  bool WorkRunning() const;

  // Runs a long work; the name says what it does ("калибровку"). Unassigned, the work runs at once.
  std::function<void(const QString& name, const std::function<void()>& job)> OnRunWork;
  // Puts a raster that a command made (a calibration's, a clip's, an undo's) in the owner's place
  // and gives back the one it replaced. Only the owner holds the raster.
  std::function<std::unique_ptr<TRasterManager>(std::unique_ptr<TRasterManager> raster)>
      OnReplaceRaster;
  std::function<void(TGridCalibrator* sender)> OnDestroy;
  std::function<void(TGridCalibrator* sender)> OnRasterChanged;
  // The grid changed, or what can be undone did.
  std::function<void(TGridCalibrator* sender)> OnGridChange;
  std::function<void(TGridCalibrator* sender)> OnSelectionChange;
  // The context menu's "Свойства узла..." for node (i, j).
  std::function<void(TGridCalibrator* sender, int32_t i, int32_t j)> OnNodeProperties;

 private:
  void SetDragState(uint8_t state, int32_t i = 0, int32_t j = 0, int32_t line = 0);
  void RunWork(const QString& name, const std::function<void()>& job);
  void UpdateCursor(uint8_t state);
  // Follows the pointer: the overlay and the loupe, and whether a press has become a drag.
  void Track(const TPoint& p);
  // Records the grid as it was before an edit.
  void PushUndo(TGridInfo previous);
  // Makes an edited grid the grid, as one step that can be undone; whether it differed.
  bool Commit(TGridInfo edited);
  // Puts the step's grid and raster in place and gives back the step that puts back what was there.
  TCalibratorHistory::TStep Revert(TCalibratorHistory::TStep step);
  // Puts the raster in the owner's place with the name and resolution the raster goes by now, and
  // gives back the one it replaced.
  std::unique_ptr<TRasterManager> PutRaster(std::unique_ptr<TRasterManager> raster);
  void GridChanged();
  void Repaint();
  void SetCellCounts(const TGridInfo& previous);
  void ShowStatus();
  bool LoupeWanted() const;
  void UpdateLoupe();
  void DrawFeedback(const TDeviceInfo& device, TCanvas& canvas);
  bool MoveSelected(int32_t dx, int32_t dy);
  // Runs a clip of the raster and the grid; whether it cut anything.
  bool Clip(const TGridClip& clip);

  TRasterManager* FRaster;
  const TGridCalibratorOptions* FOptions;
  TAppUIContext* FUIContext;
  uint8_t FDragState = dsIdle;
  TGridInfo FGrid;
  TPoint FLastPos;
  int32_t FDragI = 0;
  int32_t FDragJ = 0;
  int32_t FDragLine = 0;
  TPoint FPressPoint;       // device pixel of the press that began the drag
  bool FDragMoved = false;  // the mouse has moved since: a release applies the drag
  bool FLoupeKey = false;   // Z is held
  std::optional<TPoint> FSelected;
  std::unique_ptr<TLoupe> FLoupe;
  std::vector<TPoint> FFolded;
  TCalibratorHistory FHistory;
  bool FCalibrated = false;
  // What the last search made of the nodes, shown until a node is moved or the grid changes whole.
  void ForgetSearch();
  void ForgetNode(int32_t i, int32_t j);
  std::vector<TPoint> FMissed;  // (i, j) of the nodes the last search did not find
  std::vector<TPoint> FDisagreeing;
  std::vector<double> FSureness;
  std::optional<TPoint> FMenuNode;  // the node under the right button's press
};
