#include "NodeFinders.h"

#include "Medians.h"

#include "NodeWindows.h"
#include "RasterManagers.h"
#include "StatusInfo.h"

#include <algorithm>
#include <cmath>

namespace {

// Arms are fitted over this share of a cell, within these bounds in pixels: long enough to place a
// line to a fraction of a pixel, short enough to stay straight on a bent sheet.
constexpr double kFitShare = 0.08;
constexpr int kLeastFit = 16;
constexpr int kMostFit = 48;
// Before the grid's lines are known, a whole arm is this share of a cell, within these bounds: a
// plan's small crosses have short arms.
constexpr double kArmShare = 0.05;
constexpr int kLeastArm = 8;
constexpr int kMostArm = 16;
// No crossing has shorter arms than this, in pixels: shorter strokes are words and symbols.
constexpr double kLeastReach = 6;
// Before the grid's lines are known, no line is wider than a profile can show.
constexpr double kProfileWidth = 11;
// A crossing's lines may be this much wider than the grid's (pixels, or as a share of their width).
constexpr double kExtraWidth = 2;
constexpr double kWiderShare = 1.5;
// The lines of a crossing may turn this much (as a slope) from the predicted directions, and more
// when its arms are short: their directions are less sure.
constexpr double kMaxTurn = 0.06;
constexpr double kShortArmTurn = 0.8;
// The lines of a grid run no steeper than this against the lattice's.
constexpr double kMaxSlope = 0.5;
// No crossing's place is surer than this, in pixels: the grain and the shades of the lines' edges
// leave half a pixel or so, which the crossings around it help to settle.
constexpr double kLeastSpread = 0.5;
// A crossing the scan is not sure of may be off by this many pixels more, as it is less sure.
constexpr double kDoubtSpread = 1.0;

}  // namespace

TNodeFinder::TNodeFinder(TRasterManager& raster, const TGridInfo& grid, TProgress& progress)
    : FRaster(raster),
      FGrid(grid),
      FProgress(progress),
      FReader(raster),
      FNodes(static_cast<size_t>(grid.NX) * grid.NY),
      FModel(grid.NX, grid.NY, TWorldPoint{double(grid.Step.X), 0},
             TWorldPoint{0, double(grid.Step.Y)}),
      FCell(std::min(std::abs(grid.Step.X), std::abs(grid.Step.Y))),
      FFit(std::clamp(static_cast<int>(std::lround(kFitShare * FCell)), kLeastFit, kMostFit)),
      FArm(std::clamp(static_cast<int>(std::lround(kArmShare * FCell)), kLeastArm, kMostArm)),
      FReach(FArm),
      FWidth(0) {
  int trusted = 0;
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i) {
      if (!grid.NodeAt(i, j).IsMoved()) continue;
      const TPoint at = grid.NodePos(i, j);
      TNodeState& state = Node(IndexOf(i, j));
      state.Kind = TNodeKind::Trusted;
      state.Crossing.X = at.X;
      state.Crossing.Y = at.Y;
      TLatticePoint point;
      point.Position = TWorldPoint{double(at.X), double(at.Y)};
      FModel.Set(IndexOf(i, j), point);
      ++trusted;
    }
  FSearched = std::max(1, static_cast<int>(FNodes.size()) - trusted);
}

int TNodeFinder::FoundCount() const {
  return static_cast<int>(std::count_if(FNodes.begin(), FNodes.end(), [](const TNodeState& node) {
    return node.Kind == TNodeKind::Found;
  }));
}

TCrossingSearch TNodeFinder::SearchAround(int node, const TWorldPoint& at, int radiusX,
                                          int radiusY) const {
  const int i = node % FGrid.NX, j = node / FGrid.NX;
  TCrossingSearch search;
  search.X = at.X;
  search.Y = at.Y;
  search.RadiusX = radiusX;
  search.RadiusY = radiusY;
  search.Arm = FArm;
  search.Fit = FFit;
  search.LineWidth = FWidth;
  // On the grid's border the lines need not go on outwards; a negative step turns the lattice.
  const bool lowLeft = FGrid.Step.X > 0, lowUp = FGrid.Step.Y > 0;
  search.NeedLeft = lowLeft ? i > 0 : i < FGrid.NX - 1;
  search.NeedRight = lowLeft ? i < FGrid.NX - 1 : i > 0;
  search.NeedUp = lowUp ? j > 0 : j < FGrid.NY - 1;
  search.NeedDown = lowUp ? j < FGrid.NY - 1 : j > 0;
  return search;
}

TNodeJob TNodeFinder::Job(int node, const TLatticePrediction& prediction, int radius) const {
  TNodeJob job;
  job.Node = node;
  job.Prediction = prediction;
  job.Search = SearchAround(node, prediction.Position, radius, radius);
  const TWorldPoint& across = prediction.StepAcross;
  const TWorldPoint& down = prediction.StepDown;
  job.Search.SlopeAcross =
      across.X != 0 ? std::clamp(across.Y / across.X, -kMaxSlope, kMaxSlope) : 0;
  job.Search.SlopeDown = down.Y != 0 ? std::clamp(down.X / down.Y, -kMaxSlope, kMaxSlope) : 0;
  job.Search.DirectionsKnown = true;
  return job;
}

void TNodeFinder::ShowProgress(double percent) {
  FShown = std::clamp(static_cast<int>(percent), FShown, 99);
  FProgress.ShowPercent(FShown);
}

void TNodeFinder::RunJobs(std::vector<TNodeJob>& jobs, double first, double last) {
  if (jobs.empty()) return;
  std::vector<TCrossingSearch> searches;
  for (const TNodeJob& job : jobs) searches.push_back(job.Search);
  std::vector<std::vector<TCrossing>> found =
      FindCrossingsAround(FReader, searches, [&](size_t analysed) {
        ShowProgress(first + (last - first) * static_cast<double>(analysed) / jobs.size());
      });
  for (size_t k = 0; k < jobs.size(); ++k) jobs[k].Found = std::move(found[k]);
}

void TNodeFinder::Accept(int node, const TCrossing& crossing) {
  TNodeState& state = Node(node);
  state.Kind = TNodeKind::Found;
  state.Crossing = crossing;
  TLatticePoint point;
  point.Position = TWorldPoint{crossing.X, crossing.Y};
  point.Directed = true;
  point.SlopeAcross = crossing.SlopeAcross;
  point.SlopeDown = crossing.SlopeDown;
  point.Reach = crossing.Reach;
  FModel.Set(node, point);
}

void TNodeFinder::Doubt(int node, double deviation) {
  TNodeState& state = Node(node);
  state.Kind = TNodeKind::Unknown;
  state.Doubted = true;
  state.Doubt = state.Crossing;
  state.Deviation = deviation;
  FModel.Forget(node);
}

bool TNodeFinder::LikeTheGrid(const TCrossing& crossing, double reachShare, bool asNarrow) const {
  const double widest =
      FWidth > 0 && asNarrow ? std::max(FWidth + kExtraWidth, kWiderShare * FWidth) : kProfileWidth;
  return crossing.Reach >= std::max(kLeastReach, reachShare * FReach) && crossing.Width <= widest;
}

void TNodeFinder::LearnLines() {
  std::vector<double> reaches, widths;
  for (const TNodeState& node : FNodes)
    if (node.Kind == TNodeKind::Found) {
      reaches.push_back(node.Crossing.Reach);
      widths.push_back(node.Crossing.NarrowWidth);
    }
  if (reaches.size() < 4) return;
  FReach = Median(reaches);
  FWidth = Median(widths);
  FArm = std::clamp(static_cast<int>(std::lround(FReach)), kLeastArm, FFit);
}

double TNodeFinder::Turn(const TCrossing& crossing) const {
  return kMaxTurn + kShortArmTurn / std::max(1.0, crossing.Reach);
}

double TNodeFinder::Deviation(const TCrossing& crossing, const TLatticePrediction& prediction,
                              double spreads, double least) {
  const double x = std::max(least, spreads * prediction.Sigma.X);
  const double y = std::max(least, spreads * prediction.Sigma.Y);
  return std::max(std::abs(crossing.X - prediction.Position.X) / x,
                  std::abs(crossing.Y - prediction.Position.Y) / y);
}

TWorldPoint TNodeFinder::Weighed(const TCrossing& crossing, const TLatticePrediction& p) {
  auto weigh = [](double seen, double seenSpread, double expected, double spread) {
    const double a = 1 / std::max(kLeastSpread * kLeastSpread, seenSpread * seenSpread);
    const double b = 1 / (spread * spread);
    return (a * seen + b * expected) / (a + b);
  };
  const double doubt = kDoubtSpread * (1 - std::clamp(crossing.Confidence, 0.0, 1.0));
  return TWorldPoint{weigh(crossing.X, crossing.SpreadX + doubt, p.Position.X, p.Sigma.X),
                     weigh(crossing.Y, crossing.SpreadY + doubt, p.Position.Y, p.Sigma.Y)};
}
