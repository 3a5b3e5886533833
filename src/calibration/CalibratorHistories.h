#pragma once

#include "GridInfo.h"

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

class TRasterManager;

// What one step of the calibrator's history did.
enum class TEditKind : uint8_t { ekGrid, ekCalibration, ekClip };

// The calibrator's steps, to be undone and redone in order: an edit of the grid keeps the grid as
// it was; a calibration or a clip keeps the raster as it was too, set aside (its pixels in its
// swap file or in the file it was read from, none in memory). Old steps give way so that the grids
// kept stay within a few megabytes and the rasters kept are at most MaxRasters: steps older than a
// raster that gives way go with it, for their grids lie on that raster.
//
// A raster that is forgotten (what could be redone, or the oldest raster kept) is destroyed on a
// thread of its own: giving back a swap file of a gigabyte takes the system a good part of a
// second, which the window must not wait for. Nothing else uses a forgotten raster.
class TCalibratorHistory {
 public:
  static constexpr int MaxRasters = 3;

  struct TStep {
    TEditKind Kind = TEditKind::ekGrid;
    TGridInfo Grid;
    std::unique_ptr<TRasterManager> Raster;
    // Whether that raster lies on the grid's lattice (see TGridCalibrator::Calibrated).
    bool Calibrated = false;
  };

  TCalibratorHistory();
  ~TCalibratorHistory();
  TCalibratorHistory(const TCalibratorHistory&) = delete;
  TCalibratorHistory& operator=(const TCalibratorHistory&) = delete;

  // A new step: what could be redone is forgotten.
  void Push(TStep step);
  bool CanUndo() const { return !FUndo.empty(); }
  bool CanRedo() const { return !FRedo.empty(); }
  TEditKind UndoKind() const;
  TEditKind RedoKind() const;
  // The step to undo, taken off the history; the step that redoes it goes back with PutRedo.
  TStep TakeUndo();
  void PutRedo(TStep step);
  // The step to redo, taken off; the step that undoes it again goes back with PutUndo.
  TStep TakeRedo();
  void PutUndo(TStep step);
  void Clear();

 private:
  // Moves the oldest steps that give way into forgotten.
  void Trim(std::vector<TStep>& forgotten);
  void Forget(std::vector<TStep> steps);

  std::vector<TStep> FUndo;
  std::vector<TStep> FRedo;
  std::thread FForgetting;  // destroys the rasters forgotten last
};
