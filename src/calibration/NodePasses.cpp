#include "NodePasses.h"

#include "NodeFinders.h"

#include <algorithm>
#include <cmath>

namespace {

// A node is looked for at most this many times while the search grows.
constexpr int kMaxTries = 4;
// While the search grows, a crossing must be this sure, with arms this share of the grid's.
constexpr double kGrowAccept = 0.5;
constexpr double kGrowReach = 0.7;
// It is looked for within this many spreads of its prediction and a few pixels more, no closer
// than these pixels, or this share of a cell where the prediction reaches out from one side (the
// larger share where it does not know how the lines bend), and no further than this share of a
// cell and these pixels.
constexpr double kWideSpreads = 4;
constexpr double kWideBase = 2;
constexpr double kLeastWideShare = 0.03;
constexpr double kLooseShare = 0.15;
constexpr double kLeastWide = 5;
constexpr double kMostWideShare = 0.2;
constexpr int kMaxRadius = 320;
// A second crossing that could be the node's, this sure against the best and this far from it,
// leaves the node in doubt when it is not further from the prediction than the best by this share
// of the reach (or kRivalDistance).
constexpr double kRivalShare = 0.8;
constexpr double kRivalDistance = 1.5;
constexpr double kRivalReach = 1.0 / 3;
// The narrow search: within this many spreads of the prediction, never closer than these pixels;
// no further than this share of a cell and these pixels.
constexpr double kNarrowSpreads = 3;
constexpr double kNarrowLeast = 1.5;
constexpr double kMostNarrowShare = 0.1;
constexpr int kMostNarrow = 16;
// There a crossing must be this sure, with arms this share of the grid's.
constexpr double kNarrowAccept = 0.05;
constexpr double kNarrowReach = 0.25;
// A rival of a narrow crossing counts when it is this sure against it.
constexpr double kNarrowRival = 0.5;
// A crossing this sure whose own place is less sure than the prediction's (its lines merge with a
// road or a railway beside them, which moves their fitted middles) agrees with the prediction
// within the narrow search's spreads of both together; it is placed between the two, each by how
// sure it is, and counts for this share of its confidence.
constexpr double kMergedAccept = 0.6;
constexpr double kMergedShare = 0.5;
// At most this many rounds of taking back what disagrees.
constexpr int kCheckRounds = 20;
// The cells of the grid found may be this share larger or smaller than the lattice's.
constexpr double kScaleShare = 0.05;
// The directions of a prediction may be off by this many of its spreads over a cell.
constexpr double kTurnSpreads = 2;
// A found crossing agrees with the lattice within this many spreads of the prediction, and never
// closer than these pixels.
constexpr double kCheckSpreads = 3.5;
constexpr double kCheckLeast = 1.5;

// Whether the crossing's lines run as the prediction has them. A prediction that may be some
// pixels off over a cell may have the lines' directions off by as much.
bool Aligned(const TNodeFinder& finder, const TCrossing& c, const TLatticePrediction& p) {
  const double across = p.StepAcross.X != 0 ? p.StepAcross.Y / p.StepAcross.X : 0;
  const double down = p.StepDown.Y != 0 ? p.StepDown.X / p.StepDown.Y : 0;
  const double turn =
      finder.Turn(c) + kTurnSpreads * std::max(p.Sigma.X, p.Sigma.Y) / finder.Cell();
  return std::abs(c.SlopeAcross - across) <= turn && std::abs(c.SlopeDown - down) <= turn;
}

double Distance(const TCrossing& c, const TWorldPoint& p) {
  return std::hypot(c.X - p.X, c.Y - p.Y);
}

// The surest crossing of a growing search that could be the node's, preferring the nearer, unless
// another that could be it is nearly as sure and about as near: a wrong move is worse than none.
const TCrossing* ChooseWide(const TNodeFinder& finder, const TNodeJob& job) {
  const TLatticePrediction& p = job.Prediction;
  const double reach = job.Search.RadiusX;
  auto possible = [&](const TCrossing& c) {
    return Distance(c, p.Position) <= reach && c.Confidence >= kGrowAccept &&
           finder.LikeTheGrid(c, kGrowReach, true) && Aligned(finder, c, p);
  };
  const TCrossing* best = nullptr;
  double bestScore = 0;
  for (const TCrossing& c : job.Found) {
    if (!possible(c) || !c.Clear) continue;
    const double d = Distance(c, p.Position) / reach;
    const double score = c.Confidence * (1 - 0.3 * d * d);
    if (!best || score > bestScore) {
      best = &c;
      bestScore = score;
    }
  }
  if (!best) return nullptr;
  // A rival need not look like the grid: clutter at the grid's own crossing widens its lines.
  const double near = Distance(*best, p.Position) + std::max(kRivalDistance, kRivalReach * reach);
  for (const TCrossing& c : job.Found)
    if (&c != best && Aligned(finder, c, p) && Distance(c, p.Position) <= near &&
        c.Confidence >= kRivalShare * best->Confidence &&
        std::hypot(c.X - best->X, c.Y - best->Y) > kRivalDistance)
      return nullptr;
  return best;
}

// The only crossing of a narrow search that agrees with the prediction and looks like the grid's.
const TCrossing* ChooseNarrow(const TNodeFinder& finder, const TNodeJob& job) {
  const TLatticePrediction& p = job.Prediction;
  auto possible = [&](const TCrossing& c) {
    return TNodeFinder::Deviation(c, p, kNarrowSpreads, kNarrowLeast) <= 1 &&
           c.Confidence >= kNarrowAccept && finder.LikeTheGrid(c, kNarrowReach, false) &&
           Aligned(finder, c, p);
  };
  const TCrossing* best = nullptr;
  for (const TCrossing& c : job.Found)
    if (possible(c) && (!best || c.Confidence > best->Confidence)) best = &c;
  if (!best) return nullptr;
  for (const TCrossing& c : job.Found)
    if (&c != best && possible(c) && c.Confidence >= kNarrowRival * best->Confidence &&
        std::hypot(c.X - best->X, c.Y - best->Y) > kRivalDistance)
      return nullptr;
  return best;
}

// The only crossing of a narrow search, sure and like the grid's, that agrees with the prediction
// within the spreads of both, placed between the two; false when there is none or more than one.
bool ChooseMerged(const TNodeFinder& finder, const TNodeJob& job, TCrossing& placed) {
  const TLatticePrediction& p = job.Prediction;
  const TCrossing* chosen = nullptr;
  for (const TCrossing& c : job.Found) {
    if (c.Confidence < kMergedAccept || !finder.LikeTheGrid(c, kGrowReach, false) ||
        !Aligned(finder, c, p))
      continue;
    const double x = std::max(kNarrowLeast, kNarrowSpreads * std::hypot(p.Sigma.X, c.SpreadX));
    const double y = std::max(kNarrowLeast, kNarrowSpreads * std::hypot(p.Sigma.Y, c.SpreadY));
    if (std::abs(c.X - p.Position.X) > x || std::abs(c.Y - p.Position.Y) > y) continue;
    if (chosen) return false;
    chosen = &c;
  }
  if (!chosen) return false;
  placed = *chosen;
  const TWorldPoint at = TNodeFinder::Weighed(*chosen, p);
  placed.X = at.X;
  placed.Y = at.Y;
  placed.Confidence *= kMergedShare;
  return true;
}

// Whether the known crossings next to the node tell how the lines bend there: on both sides of it
// along a row or a column, or two in a row on one side.
bool BendKnown(const TLatticeModel& model, int node) {
  const int i = node % model.NX(), j = node / model.NX();
  auto known = [&](int di, int dj) {
    const int ii = i + di, jj = j + dj;
    return ii >= 0 && jj >= 0 && ii < model.NX() && jj < model.NY() &&
           model.Known(ii + jj * model.NX());
  };
  for (const auto& [di, dj] : {std::pair{1, 0}, {0, 1}})
    if ((known(-di, -dj) && known(di, dj)) || (known(di, dj) && known(2 * di, 2 * dj)) ||
        (known(-di, -dj) && known(-2 * di, -2 * dj)))
      return true;
  return false;
}

int WideRadius(const TNodeFinder& finder, int node, const TLatticePrediction& p) {
  const double spread = std::max(p.Sigma.X, p.Sigma.Y);
  // A prediction that does not know how the lines bend may be a good share of a cell off.
  const double share = BendKnown(finder.Model(), node) ? kLeastWideShare : kLooseShare;
  const double least = p.Surrounded ? kLeastWide : std::max(kLeastWide, share * finder.Cell());
  const double most = std::min<double>(kMaxRadius, kMostWideShare * finder.Cell());
  return static_cast<int>(std::ceil(std::clamp(kWideBase + kWideSpreads * spread, least, most)));
}

// How the prediction of a node rests on known crossings: all round, next to one, or further.
int Standing(const TNodeFinder& finder, int node, const TLatticePrediction& p) {
  if (p.Surrounded) return 0;
  const TLatticeModel& model = finder.Model();
  const int i = node % model.NX(), j = node / model.NX();
  const bool next = (i > 0 && model.Known(node - 1)) ||
                    (i + 1 < model.NX() && model.Known(node + 1)) ||
                    (j > 0 && model.Known(node - model.NX())) ||
                    (j + 1 < model.NY() && model.Known(node + model.NX()));
  return next ? 1 : 2;
}

}  // namespace

void GrowNodes(TNodeFinder& finder, double first, double last) {
  TLatticeModel& model = finder.Model();
  const int count = model.NX() * model.NY();
  std::vector<char> queued(static_cast<size_t>(count), 0);
  std::vector<int> frontier;
  auto enqueueAround = [&](int node) {
    const int i = node % model.NX(), j = node / model.NX();
    for (int jj = std::max(0, j - 3); jj <= std::min(model.NY() - 1, j + 3); ++jj)
      for (int ii = std::max(0, i - 3); ii <= std::min(model.NX() - 1, i + 3); ++ii) {
        const int n = finder.IndexOf(ii, jj);
        if (finder.Node(n).Kind != TNodeKind::Unknown || queued[static_cast<size_t>(n)]) continue;
        queued[static_cast<size_t>(n)] = 1;
        frontier.push_back(n);
      }
  };
  int known = 0;
  for (int n = 0; n < count; ++n)
    if (model.Known(n)) {
      enqueueAround(n);
      ++known;
    }
  int measured = 0;
  while (!frontier.empty()) {
    if (known > measured + measured / 4) {
      model.MeasureSteps();
      finder.LearnLines();
      measured = known;
    }
    struct TCandidate {
      int Node;
      TLatticePrediction Prediction;
      int Standing;
    };
    std::vector<TCandidate> candidates;
    std::vector<int> waiting;
    int best = 3;
    for (int n : frontier) {
      TNodeState& state = finder.Node(n);
      queued[static_cast<size_t>(n)] = 0;
      if (state.Kind != TNodeKind::Unknown || state.Tries >= kMaxTries ||
          model.KnownAround(n) <= state.KnownAround)
        continue;
      const TLatticePrediction p = model.Predict(n);
      if (!p.Ok) continue;
      candidates.push_back({n, p, Standing(finder, n, p)});
      best = std::min(best, candidates.back().Standing);
    }
    frontier.clear();
    if (candidates.empty()) break;
    std::vector<TNodeJob> jobs;
    for (const TCandidate& c : candidates) {
      if (c.Standing != best) {
        queued[static_cast<size_t>(c.Node)] = 1;
        frontier.push_back(c.Node);
        continue;
      }
      TNodeState& state = finder.Node(c.Node);
      ++state.Tries;
      state.KnownAround = model.KnownAround(c.Node);
      jobs.push_back(finder.Job(c.Node, c.Prediction, WideRadius(finder, c.Node, c.Prediction)));
    }
    const double done = first + (last - first) * finder.FoundCount() / finder.Searched();
    const double step = (last - first) * double(jobs.size()) / finder.Searched();
    finder.RunJobs(jobs, done, std::min(last, done + step));
    std::vector<std::pair<int, TCrossing>> accepted;
    for (const TNodeJob& job : jobs)
      if (const TCrossing* c = ChooseWide(finder, job)) accepted.emplace_back(job.Node, *c);
    // Crossings seen stay where they are until the next round's predictions.
    for (const auto& [n, c] : accepted) {
      finder.Accept(n, c);
      ++known;
    }
    for (const auto& [n, c] : accepted) enqueueAround(n);
  }
  model.MeasureSteps();
  finder.LearnLines();
}

int CheckNodes(TNodeFinder& finder) {
  TLatticeModel& model = finder.Model();
  const int count = model.NX() * model.NY();
  int doubted = 0;
  for (int round = 0; round < kCheckRounds; ++round) {
    std::vector<double> deviation(static_cast<size_t>(count), 0);
    for (int n = 0; n < count; ++n) {
      if (finder.Node(n).Kind != TNodeKind::Found) continue;
      const TLatticePrediction p = model.Predict(n);
      if (p.Ok)
        deviation[static_cast<size_t>(n)] =
            TNodeFinder::Deviation(finder.Node(n).Crossing, p, kCheckSpreads, kCheckLeast);
    }
    // A wrong crossing also pulls the predictions of its neighbours: the worst of a neighbourhood
    // goes first, and the others are judged again without it.
    std::vector<int> worst;
    for (int n = 0; n < count; ++n) {
      const double d = deviation[static_cast<size_t>(n)];
      if (d <= 1) continue;
      const int i = n % model.NX(), j = n / model.NX();
      bool top = true;
      for (int jj = std::max(0, j - 1); jj <= std::min(model.NY() - 1, j + 1) && top; ++jj)
        for (int ii = std::max(0, i - 1); ii <= std::min(model.NX() - 1, i + 1) && top; ++ii) {
          const int other = finder.IndexOf(ii, jj);
          top = other == n || deviation[static_cast<size_t>(other)] < d ||
                (deviation[static_cast<size_t>(other)] == d && other > n);
        }
      if (top) worst.push_back(n);
    }
    if (worst.empty()) break;
    for (int n : worst) finder.Doubt(n, deviation[static_cast<size_t>(n)]);
    doubted += static_cast<int>(worst.size());
  }
  return doubted;
}

bool FitsTheLattice(TNodeFinder& finder) {
  TLatticeModel& model = finder.Model();
  model.MeasureSteps();
  const TGridInfo& grid = finder.Grid();
  auto fits = [](const TWorldPoint& step, double lattice) {
    return std::abs(std::hypot(step.X, step.Y) - std::abs(lattice)) <=
           kScaleShare * std::abs(lattice);
  };
  return fits(model.StepAcross(), grid.Step.X) && fits(model.StepDown(), grid.Step.Y);
}

void ForgetFound(TNodeFinder& finder) {
  for (int n = 0; n < static_cast<int>(finder.Nodes().size()); ++n)
    if (finder.Node(n).Kind == TNodeKind::Found) {
      finder.Doubt(n, 0);
      finder.Node(n).Doubted = false;
    }
}

void NarrowNodes(TNodeFinder& finder, double first, double last) {
  TLatticeModel& model = finder.Model();
  const int count = model.NX() * model.NY();
  std::vector<TNodeJob> jobs;
  const int most =
      std::max(3, std::min(kMostNarrow, static_cast<int>(kMostNarrowShare * finder.Cell())));
  for (int n = 0; n < count; ++n) {
    if (finder.Node(n).Kind != TNodeKind::Unknown) continue;
    const TLatticePrediction p = model.Predict(n);
    if (!p.Ok) continue;
    const double spread = std::max(p.Sigma.X, p.Sigma.Y);
    const int radius = std::clamp(
        static_cast<int>(std::ceil(std::max(kNarrowLeast, kNarrowSpreads * spread))) + 2, 3, most);
    jobs.push_back(finder.Job(n, p, radius));
  }
  finder.RunJobs(jobs, first, last);
  std::vector<std::pair<int, TCrossing>> accepted;
  for (const TNodeJob& job : jobs) {
    TCrossing placed;
    if (const TCrossing* c = ChooseNarrow(finder, job))
      accepted.emplace_back(job.Node, *c);
    else if (ChooseMerged(finder, job, placed))
      accepted.emplace_back(job.Node, placed);
  }
  for (const auto& [n, c] : accepted) finder.Accept(n, c);
}
