#include "CalibratorHistories.h"

#include "RasterManagers.h"

#include <algorithm>

namespace {

// Grids kept for undoing, counted in nodes: a few megabytes at most.
constexpr int64_t kNodeBudget = 4 << 20;

int64_t NodeCount(const TGridInfo& grid) {
  return int64_t(grid.NX) * grid.NY;
}

TCalibratorHistory::TStep SetAside(TCalibratorHistory::TStep step) {
  if (step.Raster) step.Raster->SetAside();
  return step;
}

}  // namespace

TCalibratorHistory::TCalibratorHistory() = default;
TCalibratorHistory::~TCalibratorHistory() = default;

void TCalibratorHistory::Push(TStep step) {
  FUndo.push_back(SetAside(std::move(step)));
  FRedo.clear();
  Trim();
}

TEditKind TCalibratorHistory::UndoKind() const {
  return FUndo.empty() ? TEditKind::ekGrid : FUndo.back().Kind;
}

TEditKind TCalibratorHistory::RedoKind() const {
  return FRedo.empty() ? TEditKind::ekGrid : FRedo.back().Kind;
}

TCalibratorHistory::TStep TCalibratorHistory::TakeUndo() {
  TStep step = std::move(FUndo.back());
  FUndo.pop_back();
  return step;
}

void TCalibratorHistory::PutRedo(TStep step) {
  FRedo.push_back(SetAside(std::move(step)));
}

TCalibratorHistory::TStep TCalibratorHistory::TakeRedo() {
  TStep step = std::move(FRedo.back());
  FRedo.pop_back();
  return step;
}

void TCalibratorHistory::PutUndo(TStep step) {
  FUndo.push_back(SetAside(std::move(step)));
}

void TCalibratorHistory::Clear() {
  FUndo.clear();
  FRedo.clear();
}

void TCalibratorHistory::Trim() {
  const auto isRaster = [](const TStep& step) { return step.Raster != nullptr; };
  if (std::count_if(FUndo.begin(), FUndo.end(), isRaster) > MaxRasters) {
    const auto oldest = std::find_if(FUndo.begin(), FUndo.end(), isRaster);
    FUndo.erase(FUndo.begin(), oldest + 1);
  }
  int64_t nodes = 0;
  for (const TStep& step : FUndo) nodes += NodeCount(step.Grid);
  while (FUndo.size() > 1 && nodes > kNodeBudget) {
    nodes -= NodeCount(FUndo.front().Grid);
    FUndo.erase(FUndo.begin());
  }
}
