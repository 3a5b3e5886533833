#include "NodeSeeds.h"

#include "NodeFinders.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The least confidence of a crossing of the first cell, and the least length of its arms.
constexpr double kAccept = 0.5;
constexpr double kLeastReach = 6;
// So many of a window's crossings are tried as the cell's corner.
constexpr size_t kOptions = 5;
// A cell whose opposite sides differ by this many pixels scores a crossing's confidence less:
// a road beside a grid line makes a crossing as clear as the grid's, but off the parallelogram.
constexpr double kClosurePixels = 10;
// The first cell is looked for this far from the lattice, as a share of a cell, and no further
// than this many pixels.
constexpr double kSeedReach = 0.3;
constexpr int kMaxRadius = 320;
// The middle patch is first looked at this close to the lattice, as a share of a cell: a grid laid
// well over the scan is found in windows of a quarter of the area or less.
constexpr double kNearReach = 0.1;
// Its sides may differ from the lattice's by this share and these pixels, the lengths of its mean
// sides by this share (a sheet bends, but it shrinks only a little), opposite sides from each
// other by this.
constexpr double kSideShare = 0.12;
constexpr double kMeanShare = 0.05;
// Three corners of a cell, having no opposite sides to average, may have sides this share longer or
// shorter than the lattice's.
constexpr double kThreeShare = 0.08;
constexpr double kParallelShare = 0.08;
constexpr double kSidePixels = 3;
// The lines at its crossings may turn this much (as a slope) from its sides.
constexpr double kSeedTurn = 0.1;
// The first cells are looked for in patches of this many nodes each way, at most this many
// patches: a lattice that does not fit the scan costs a bounded search.
constexpr int kPatch = 4;
constexpr size_t kMaxPatches = 12;
// A node around a cell supports it where it shows a crossing this sure within this share of a
// cell (and kSupportPixels) of where the cell's four crossings put it, each such node worth this
// much of a crossing's confidence: a road beside a line, or the edge of a cased road along it,
// makes a cell as regular as the grid's own, but its neighbours do not agree.
constexpr double kSupportAccept = 0.3;
constexpr double kSupportShare = 0.015;
constexpr double kSupportPixels = 1.5;
constexpr double kSupportWeight = 0.5;
// The share of the progress that the search for the first cell takes.
constexpr double kSeedPercent = 10;
// Nodes the user placed lead the first search when the lattice through them has steps within
// this share of the lattice's.
constexpr double kTrustedShare = 0.15;

struct TBlock {
  int I, J;
};

// The nodes that a patch anchored at (i, j) holds, within the grid.
template <typename TVisit>
void ForPatch(const TGridInfo& grid, const TBlock& anchor, TVisit visit) {
  for (int j = anchor.J; j < std::min(grid.NY, anchor.J + kPatch); ++j)
    for (int i = anchor.I; i < std::min(grid.NX, anchor.I + kPatch); ++i) visit(i, j);
}

double Distance(const TWorldPoint& a, const TWorldPoint& b) {
  return std::hypot(a.X - b.X, a.Y - b.Y);
}

class TSeeder {
 public:
  explicit TSeeder(TNodeFinder& finder);
  // Looks for the first cell at most this far from the lattice, as a share of a cell, in the first
  // patches of the order, at most so many; forgets what an earlier run saw.
  bool Run(double reach, size_t patches);
  // Looks, among the windows the last run read, for three crossings of a cell in an L instead of
  // four, each the only one its window shows: one corner of every cell may lie under a blot or a
  // label on a small grid, and a grid drawn by hand or bent hard has cells too uneven to be
  // parallelograms.
  bool RunThreeCorners();

 private:
  // The patches' anchors, in the order they are searched.
  std::vector<TBlock> Order() const;
  // How many nodes around the cell (i, j) show a crossing where its crossings put them.
  int Support(int i, int j, const std::array<const TCrossing*, 4>& corners) const;
  // The crossings of a node's window that could be the grid's.
  std::vector<const TCrossing*> Options(const TNodeState& node) const;
  bool Agree(int i, int j, double& score, std::array<const TCrossing*, 4>& chosen) const;
  // The node's only crossing that could be the grid's, clear of lines beside it and with no other
  // in its window nearly as sure; null otherwise.
  const TCrossing* Alone(const TNodeState& node) const;
  // Three corners of the cell (i, j), the one left out null, whose two sides run as the
  // lattice's, as long as its within a few per cent, along the lines of their crossings.
  bool AgreeThree(int i, int j, double& score, std::array<const TCrossing*, 4>& chosen) const;
  void Accept(int i, int j, const std::array<const TCrossing*, 4>& corners);

  TNodeFinder& FFinder;
  const TGridInfo& FGrid;
  TLatticeModel::TAffine FLattice;
};

TSeeder::TSeeder(TNodeFinder& finder) : FFinder(finder), FGrid(finder.Grid()) {
  const TWorldPoint across{double(FGrid.Step.X), 0}, down{0, double(FGrid.Step.Y)};
  const TPoint origin = FGrid.RefPos(0, 0);
  FLattice = TLatticeModel::TAffine{TWorldPoint{double(origin.X), double(origin.Y)}, across, down};
  bool trusted = false;
  for (const TNodeState& node : finder.Nodes())
    trusted = trusted || node.Kind == TNodeKind::Trusted;
  if (!trusted) return;
  const TLatticeModel::TAffine placed = finder.Model().FitAffine(across, down);
  if (Distance(placed.StepAcross, across) <= kTrustedShare * std::abs(FGrid.Step.X) &&
      Distance(placed.StepDown, down) <= kTrustedShare * std::abs(FGrid.Step.Y))
    FLattice = placed;
}

// The patch in the middle first, then four spread over the grid, then the others from the middle
// out.
std::vector<TBlock> TSeeder::Order() const {
  std::vector<TBlock> blocks;
  const int last = kPatch - 1;
  for (int j = 0; j + 1 < FGrid.NY; j += last)
    for (int i = 0; i + 1 < FGrid.NX; i += last)
      blocks.push_back({std::max(0, std::min(i, FGrid.NX - kPatch)),
                        std::max(0, std::min(j, FGrid.NY - kPatch))});
  // Patches of the middle and the quarters are centred there, whatever the stride.
  const double targets[5][2] = {{0.5, 0.5}, {0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};
  for (const auto& target : targets)
    blocks.push_back(
        {std::clamp(static_cast<int>(std::lround(target[0] * (FGrid.NX - 1) - last / 2.0)), 0,
                    std::max(0, FGrid.NX - kPatch)),
         std::clamp(static_cast<int>(std::lround(target[1] * (FGrid.NY - 1) - last / 2.0)), 0,
                    std::max(0, FGrid.NY - kPatch))});
  auto distanceTo = [&](const TBlock& b, double fx, double fy) {
    return std::hypot(b.I + last / 2.0 - fx * (FGrid.NX - 1),
                      b.J + last / 2.0 - fy * (FGrid.NY - 1));
  };
  std::sort(blocks.begin(), blocks.end(),
            [](const TBlock& a, const TBlock& b) { return a.J != b.J ? a.J < b.J : a.I < b.I; });
  blocks.erase(
      std::unique(blocks.begin(), blocks.end(),
                  [](const TBlock& a, const TBlock& b) { return a.I == b.I && a.J == b.J; }),
      blocks.end());
  std::vector<TBlock> order;
  for (const auto& target : targets) {
    auto nearest =
        std::min_element(blocks.begin(), blocks.end(), [&](const TBlock& a, const TBlock& b) {
          return distanceTo(a, target[0], target[1]) < distanceTo(b, target[0], target[1]);
        });
    if (nearest == blocks.end()) break;
    order.push_back(*nearest);
    blocks.erase(nearest);
  }
  const size_t rest = std::min(blocks.size(), kMaxPatches - order.size());
  std::partial_sort(blocks.begin(), blocks.begin() + rest, blocks.end(),
                    [&](const TBlock& a, const TBlock& b) {
                      const double da = distanceTo(a, 0.5, 0.5), db = distanceTo(b, 0.5, 0.5);
                      return da != db ? da < db : a.J != b.J ? a.J < b.J : a.I < b.I;
                    });
  order.insert(order.end(), blocks.begin(), blocks.begin() + rest);
  return order;
}

std::vector<const TCrossing*> TSeeder::Options(const TNodeState& node) const {
  std::vector<const TCrossing*> options;
  for (const TCrossing& c : node.Seen)
    if (c.Confidence >= kAccept && c.Reach >= kLeastReach && options.size() < kOptions)
      options.push_back(&c);
  return options;
}

// The four crossings of the cell (i, j) that agree best with each other and with the lattice: the
// surest that make the most regular parallelogram.
bool TSeeder::Agree(int i, int j, double& score, std::array<const TCrossing*, 4>& chosen) const {
  const int corners[4] = {FFinder.IndexOf(i, j), FFinder.IndexOf(i + 1, j),
                          FFinder.IndexOf(i, j + 1), FFinder.IndexOf(i + 1, j + 1)};
  std::array<std::vector<const TCrossing*>, 4> options;
  for (int k = 0; k < 4; ++k) {
    const TNodeState& node = FFinder.Node(corners[k]);
    if (!node.SeedSearched) return false;
    options[static_cast<size_t>(k)] = Options(node);
    if (options[static_cast<size_t>(k)].empty()) return false;
  }
  const TWorldPoint& across = FLattice.StepAcross;
  const TWorldPoint& down = FLattice.StepDown;
  const double lengthX = std::hypot(across.X, across.Y), lengthY = std::hypot(down.X, down.Y);
  const double sideX = kSideShare * lengthX + kSidePixels,
               sideY = kSideShare * lengthY + kSidePixels;
  const double parallelX = kParallelShare * lengthX + kSidePixels;
  const double parallelY = kParallelShare * lengthY + kSidePixels;
  auto vector = [](const TCrossing* a, const TCrossing* b) {
    return TWorldPoint{b->X - a->X, b->Y - a->Y};
  };
  // The lines at each crossing run along the cell's sides.
  auto along = [](const TWorldPoint& side, double slope, bool down) {
    const double chord = down ? side.X / side.Y : side.Y / side.X;
    return std::abs(chord - slope) <= kSeedTurn;
  };
  bool any = false;
  for (const TCrossing* a : options[0])
    for (const TCrossing* b : options[1])
      for (const TCrossing* c : options[2])
        for (const TCrossing* d : options[3]) {
          const TWorldPoint top = vector(a, b), bottom = vector(c, d);
          const TWorldPoint left = vector(a, c), right = vector(b, d);
          const TWorldPoint meanX{(top.X + bottom.X) / 2, (top.Y + bottom.Y) / 2};
          const TWorldPoint meanY{(left.X + right.X) / 2, (left.Y + right.Y) / 2};
          if (Distance(top, across) > sideX || Distance(bottom, across) > sideX ||
              Distance(left, down) > sideY || Distance(right, down) > sideY ||
              std::abs(std::hypot(meanX.X, meanX.Y) - lengthX) > kMeanShare * lengthX ||
              std::abs(std::hypot(meanY.X, meanY.Y) - lengthY) > kMeanShare * lengthY ||
              Distance(top, bottom) > parallelX || Distance(left, right) > parallelY)
            continue;
          if (!along(top, a->SlopeAcross, false) || !along(top, b->SlopeAcross, false) ||
              !along(bottom, c->SlopeAcross, false) || !along(bottom, d->SlopeAcross, false) ||
              !along(left, a->SlopeDown, true) || !along(left, c->SlopeDown, true) ||
              !along(right, b->SlopeDown, true) || !along(right, d->SlopeDown, true))
            continue;
          const double s = a->Confidence + b->Confidence + c->Confidence + d->Confidence -
                           (Distance(top, bottom) + Distance(left, right)) / kClosurePixels +
                           kSupportWeight * Support(i, j, {a, b, c, d});
          if (!any || s > score) {
            any = true;
            score = s;
            chosen = {a, b, c, d};
          }
        }
  return any;
}

int TSeeder::Support(int i, int j, const std::array<const TCrossing*, 4>& corners) const {
  const TCrossing &a = *corners[0], &b = *corners[1], &c = *corners[2], &d = *corners[3];
  const double cell = std::min(std::hypot(b.X - a.X, b.Y - a.Y), std::hypot(c.X - a.X, c.Y - a.Y));
  int support = 0;
  for (int dj = -1; dj <= 2; ++dj)
    for (int di = -1; di <= 2; ++di) {
      const int ii = i + di, jj = j + dj;
      if ((di == 0 || di == 1) && (dj == 0 || dj == 1)) continue;
      if (ii < 0 || jj < 0 || ii >= FGrid.NX || jj >= FGrid.NY) continue;
      const TNodeState& node = FFinder.Node(FFinder.IndexOf(ii, jj));
      if (!node.SeedSearched) continue;
      // The cell's bilinear map carried out to the node.
      const TWorldPoint at{
          a.X + di * (b.X - a.X) + dj * (c.X - a.X) + di * dj * (d.X - c.X - b.X + a.X),
          a.Y + di * (b.Y - a.Y) + dj * (c.Y - a.Y) + di * dj * (d.Y - c.Y - b.Y + a.Y)};
      const double reach =
          (kSupportShare * cell + kSidePixels) * std::max(std::abs(di - 0.5), std::abs(dj - 0.5));
      support += std::any_of(node.Seen.begin(), node.Seen.end(), [&](const TCrossing& seen) {
        return seen.Confidence >= kSupportAccept &&
               std::hypot(seen.X - at.X, seen.Y - at.Y) <= reach;
      });
    }
  return support;
}

bool TSeeder::Run(double reach, size_t patches) {
  std::vector<TBlock> order = Order();
  order.resize(std::min(order.size(), patches));
  for (TNodeState& node : FFinder.Nodes()) {
    node.SeedSearched = false;
    node.Seen.clear();
  }
  const double cellX = std::hypot(FLattice.StepAcross.X, FLattice.StepAcross.Y);
  const double cellY = std::hypot(FLattice.StepDown.X, FLattice.StepDown.Y);
  const int radiusX = std::min(kMaxRadius, static_cast<int>(reach * cellX));
  const int radiusY = std::min(kMaxRadius, static_cast<int>(reach * cellY));
  std::vector<TBlock> cells;
  for (size_t first = 0; first < order.size();) {
    // The middle patch first, then the four spread over the grid, then two at a time.
    const size_t last = first == 0  ? 1
                        : first < 5 ? std::min<size_t>(5, order.size())
                                    : std::min(order.size(), first + 2);
    std::vector<TNodeJob> jobs;
    for (size_t b = first; b < last; ++b)
      ForPatch(FGrid, order[b], [&](int i, int j) {
        if (i + 1 < FGrid.NX && j + 1 < FGrid.NY && i + 1 < order[b].I + kPatch &&
            j + 1 < order[b].J + kPatch)
          cells.push_back({i, j});
        const int node = FFinder.IndexOf(i, j);
        TNodeState& state = FFinder.Node(node);
        if (state.SeedSearched) return;
        state.SeedSearched = true;
        TNodeJob job;
        job.Node = node;
        job.Search = FFinder.SearchAround(node, FLattice.At(i, j), radiusX, radiusY);
        job.Search.SlopeAcross = FLattice.StepAcross.Y / FLattice.StepAcross.X;
        job.Search.SlopeDown = FLattice.StepDown.X / FLattice.StepDown.Y;
        jobs.push_back(job);
      });
    FFinder.RunJobs(jobs, kSeedPercent * double(first) / order.size(),
                    kSeedPercent * double(last) / order.size());
    for (TNodeJob& job : jobs) {
      FFinder.Node(job.Node).Seen = std::move(job.Found);
      FFinder.Node(job.Node).SeenSearch = job.Search;
    }
    first = last;
    double best = 0;
    std::array<const TCrossing*, 4> chosen{};
    const TBlock* seed = nullptr;
    for (const TBlock& cell : cells) {
      double score = 0;
      std::array<const TCrossing*, 4> corners{};
      if (Agree(cell.I, cell.J, score, corners) && (!seed || score > best)) {
        seed = &cell;
        best = score;
        chosen = corners;
      }
    }
    if (!seed) continue;
    Accept(seed->I, seed->J, chosen);
    return true;
  }
  return false;
}

void TSeeder::Accept(int i, int j, const std::array<const TCrossing*, 4>& corners) {
  for (int k = 0; k < 4; ++k) {
    const int node = FFinder.IndexOf(i + k % 2, j + k / 2);
    if (corners[static_cast<size_t>(k)] && FFinder.Node(node).Kind == TNodeKind::Unknown)
      FFinder.Accept(node, *corners[static_cast<size_t>(k)]);
  }
}

const TCrossing* TSeeder::Alone(const TNodeState& node) const {
  const std::vector<const TCrossing*> options = Options(node);
  if (options.size() != 1 || !options.front()->Clear) return nullptr;
  for (const TCrossing& c : node.Seen)
    if (&c != options.front() && c.Confidence >= kSupportAccept) return nullptr;
  return options.front();
}

bool TSeeder::AgreeThree(int i, int j, double& score,
                         std::array<const TCrossing*, 4>& chosen) const {
  std::array<const TCrossing*, 4> alone{};
  for (int k = 0; k < 4; ++k) {
    const TNodeState& node = FFinder.Node(FFinder.IndexOf(i + k % 2, j + k / 2));
    if (node.SeedSearched) alone[static_cast<size_t>(k)] = Alone(node);
  }
  const TWorldPoint& across = FLattice.StepAcross;
  const TWorldPoint& down = FLattice.StepDown;
  const double lengthX = std::hypot(across.X, across.Y), lengthY = std::hypot(down.X, down.Y);
  // A side from a to b runs as the lattice's step, and along the lines of both its crossings.
  auto side = [&](const TCrossing* a, const TCrossing* b, bool isDown) {
    const TWorldPoint v{b->X - a->X, b->Y - a->Y};
    const TWorldPoint& step = isDown ? down : across;
    const double length = isDown ? lengthY : lengthX;
    if (Distance(v, step) > kSideShare * length + kSidePixels ||
        std::abs(std::hypot(v.X, v.Y) - length) > kThreeShare * length)
      return false;
    const double chord = isDown ? v.X / v.Y : v.Y / v.X;
    for (const TCrossing* c : {a, b})
      if (std::abs(chord - (isDown ? c->SlopeDown : c->SlopeAcross)) > kSeedTurn) return false;
    return true;
  };
  // The corners a (i, j), b (i + 1, j), c (i, j + 1), d (i + 1, j + 1): for each one left out,
  // the side across and the side down of the other three, as corner indices.
  constexpr int kSides[4][4] = {{2, 3, 1, 3}, {2, 3, 0, 2}, {0, 1, 1, 3}, {0, 1, 0, 2}};
  bool any = false;
  for (int out = 0; out < 4; ++out) {
    const int* s = kSides[out];
    std::array<const TCrossing*, 4> corners = alone;
    corners[static_cast<size_t>(out)] = nullptr;
    bool complete = true;
    for (int k = 0; k < 4; ++k)
      complete = complete && (k == out || corners[static_cast<size_t>(k)]);
    if (!complete ||
        !side(corners[static_cast<size_t>(s[0])], corners[static_cast<size_t>(s[1])], false) ||
        !side(corners[static_cast<size_t>(s[2])], corners[static_cast<size_t>(s[3])], true))
      continue;
    // The corner left out where the other three put it, for the support of the nodes around: a
    // parallelogram's corner is the sum of its neighbours less the opposite corner.
    const TCrossing* opposite = corners[static_cast<size_t>(3 - out)];
    TCrossing missing;
    missing.X = -opposite->X;
    missing.Y = -opposite->Y;
    for (int k = 0; k < 4; ++k)
      if (k != out && k != 3 - out) {
        missing.X += corners[static_cast<size_t>(k)]->X;
        missing.Y += corners[static_cast<size_t>(k)]->Y;
      }
    std::array<const TCrossing*, 4> full = corners;
    full[static_cast<size_t>(out)] = &missing;
    double sum = 0;
    for (int k = 0; k < 4; ++k)
      if (k != out) sum += corners[static_cast<size_t>(k)]->Confidence;
    const double total = sum + kSupportWeight * Support(i, j, full);
    if (!any || total > score) {
      any = true;
      score = total;
      chosen = corners;
    }
  }
  return any;
}

bool TSeeder::RunThreeCorners() {
  double best = 0;
  std::array<const TCrossing*, 4> chosen{};
  TBlock seed{-1, -1};
  for (int j = 0; j + 1 < FGrid.NY; ++j)
    for (int i = 0; i + 1 < FGrid.NX; ++i) {
      double score = 0;
      std::array<const TCrossing*, 4> corners{};
      if (AgreeThree(i, j, score, corners) && (seed.I < 0 || score > best)) {
        seed = {i, j};
        best = score;
        chosen = corners;
      }
    }
  if (seed.I < 0) return false;
  Accept(seed.I, seed.J, chosen);
  return true;
}

}  // namespace

bool SeedNodes(TNodeFinder& finder) {
  TSeeder seeder(finder);
  return seeder.Run(kNearReach, 1) || seeder.Run(kSeedReach, kMaxPatches) ||
         seeder.RunThreeCorners();
}
