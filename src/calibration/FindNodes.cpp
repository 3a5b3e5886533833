#include "FindNodes.h"

#include "NodeFinders.h"
#include "NodePasses.h"
#include "NodeSeeds.h"
#include "RasterManagers.h"
#include "RecArrays.h"
#include "StatusInfo.h"

#include <QString>

#include <algorithm>
#include <cmath>

int TNodeSearch::FoundCount() const {
  return static_cast<int>(std::count_if(Nodes.begin(), Nodes.end(), [](const TFoundNode& node) {
    return node.Finding == TNodeFinding::Found;
  }));
}

int TNodeSearch::SearchedCount() const {
  return static_cast<int>(std::count_if(Nodes.begin(), Nodes.end(), [](const TFoundNode& node) {
    return node.Finding != TNodeFinding::Trusted;
  }));
}

std::vector<TPoint> TNodeSearch::NotFound() const {
  std::vector<TPoint> nodes;
  for (int32_t j = 0; j < NY; ++j)
    for (int32_t i = 0; i < NX; ++i) {
      const TNodeFinding finding = At(i, j).Finding;
      if (finding == TNodeFinding::NotFound || finding == TNodeFinding::Disputed)
        nodes.push_back(TPoint{i, j});
    }
  return nodes;
}

std::vector<TPoint> TNodeSearch::Disagreeing() const {
  std::vector<TPoint> nodes;
  for (int32_t j = 0; j < NY; ++j)
    for (int32_t i = 0; i < NX; ++i)
      if (At(i, j).Disagrees) nodes.push_back(TPoint{i, j});
  return nodes;
}

namespace {

// Cells smaller than this hold no crossings the search can tell apart.
constexpr int kMinStep = 16;
// The passes' shares of the progress, in percent: the first cell takes the first 10.
constexpr double kGrown = 80;
constexpr double kNarrowed = 90;
constexpr double kDone = 97;
// A crossing agrees with the lattice of the others within this many spreads of their prediction,
// and never closer than these pixels; a disputed crossing was this sure.
constexpr double kAgreeSpreads = 3.5;
constexpr double kAgreeLeast = 1.5;
constexpr double kDisputedAccept = 0.5;

void RunPasses(TNodeFinder& finder, bool trusted) {
  if (!SeedNodes(finder) && !trusted) return;
  GrowNodes(finder, 10, kGrown);
  if (!FitsTheLattice(finder)) {
    ForgetFound(finder);
    return;
  }
  CheckNodes(finder);
  NarrowNodes(finder, kGrown, kNarrowed);
  CheckNodes(finder);
  NarrowNodes(finder, kNarrowed, kDone);
  CheckNodes(finder);
}

// What the finder holds of a node, as the search's outcome.
void Report(const TNodeFinder& finder, int node, TFoundNode& result) {
  const TNodeState& state = finder.Node(node);
  const TLatticePrediction p = finder.Model().Predict(node);
  auto disagree = [&](const TCrossing& c, double deviation) {
    result.Disagrees = true;
    result.Expected = p.Position;
    result.Deviation = std::hypot(c.X - p.Position.X, c.Y - p.Position.Y);
    return deviation;
  };
  switch (state.Kind) {
    case TNodeKind::Found: {
      result.Finding = TNodeFinding::Found;
      result.Position = p.Ok ? TNodeFinder::Weighed(state.Crossing, p)
                             : TWorldPoint{state.Crossing.X, state.Crossing.Y};
      // Agreeing fully with the others keeps the scan's evidence; at the edge of the tolerance it
      // counts half.
      const double deviation =
          p.Ok ? TNodeFinder::Deviation(state.Crossing, p, kAgreeSpreads, kAgreeLeast) : 0;
      result.Confidence = state.Crossing.Confidence * (1 - 0.5 * std::min(1.0, deviation));
      break;
    }
    case TNodeKind::Trusted:
      if (p.Ok && TNodeFinder::Deviation(state.Crossing, p, kAgreeSpreads, kAgreeLeast) > 1)
        disagree(state.Crossing, 0);
      break;
    case TNodeKind::Unknown:
      if (!state.Doubted || !state.Doubt.Clear || state.Doubt.Confidence < kDisputedAccept) break;
      result.Finding = TNodeFinding::Disputed;
      result.Confidence = state.Doubt.Confidence;
      if (p.Ok) disagree(state.Doubt, state.Deviation);
      break;
  }
}

}  // namespace

TNodeSearch FindGridNodes(TRasterManager& raster, const TGridInfo& grid) {
  TNodeSearch search;
  search.NX = grid.NX;
  search.NY = grid.NY;
  search.Nodes.resize(static_cast<size_t>(grid.NX) * grid.NY);
  bool trusted = false;
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      TFoundNode& node = search.Nodes[static_cast<size_t>(i) + static_cast<size_t>(j) * grid.NX];
      const TPoint at = grid.NodePos(i, j);
      node.Position = TWorldPoint{double(at.X), double(at.Y)};
      if (grid.NodeAt(i, j).IsMoved()) {
        node.Finding = TNodeFinding::Trusted;
        trusted = true;
      }
    }
  if (search.SearchedCount() == 0 || std::abs(grid.Step.X) < kMinStep ||
      std::abs(grid.Step.Y) < kMinStep || raster.Width() == 0 || raster.Height() == 0)
    return search;
  TProgress progress(raster.StatusInfo(), QStringLiteral("Поиск узлов сетки..."));
  progress.ShowPercent(0);
  TNodeFinder finder(raster, grid, progress);
  RunPasses(finder, trusted);
  for (size_t n = 0; n < search.Nodes.size(); ++n)
    Report(finder, static_cast<int>(n), search.Nodes[n]);
  return search;
}

TAppliedNodes ApplyFoundNodes(TGridInfo& grid, const TNodeSearch& search) {
  CheckInternal(grid.NX == search.NX && grid.NY == search.NY, QStringLiteral("ApplyFoundNodes"),
                QStringLiteral("сетка не та, в которой искали узлы"));
  TAppliedNodes applied;
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const TFoundNode& node = search.At(i, j);
      if (node.Disagrees) applied.Disagreeing.push_back(TPoint{i, j});
      if (node.Finding == TNodeFinding::NotFound || node.Finding == TNodeFinding::Disputed)
        applied.NotFound.push_back(TPoint{i, j});
      if (node.Finding != TNodeFinding::Found) continue;
      const TPoint at = node.Pixel(), ref = grid.RefPos(i, j);
      grid.NodeAt(i, j).Offset = TPoint{at.X - ref.X, at.Y - ref.Y};
      ++applied.Found;
    }
  return applied;
}
