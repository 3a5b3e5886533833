// The contour work of one paint of the calibrator's grid: a lattice of lines and a circle on every
// node, built, measured, clipped and turned into device points.
#include "Contours.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int Nodes = 100;  // per side: 10,000 circles, 20,000 arcs
constexpr double Step = 50;

void BuildGrid(TContour& c) {
  const double last = (Nodes - 1) * Step;
  for (int i = 0; i < Nodes; ++i) {
    c.MoveTo({0, i * Step});
    c.LineTo({last, i * Step});
    c.MoveTo({i * Step, 0});
    c.LineTo({i * Step, last});
  }
  for (int j = 0; j < Nodes; ++j)
    for (int i = 0; i < Nodes; ++i) c.AddCircle({i * Step, j * Step}, true, 4);
}

const TContour& Grid() {
  static TContour grid;
  if (grid.Count() == 0) BuildGrid(grid);
  return grid;
}

// A quarter of the grid, cut through rows and columns of circles.
const TWorldRect ClipRect = WorldRect(1001, 1001, 3501, 3501);

void BM_BuildGrid(benchmark::State& state) {
  for (auto _ : state) {
    TContourLease c;
    BuildGrid(*c);
    benchmark::DoNotOptimize(c->Count());
  }
}
BENCHMARK(BM_BuildGrid)->Unit(benchmark::kMillisecond);

void BM_AssignGrid(benchmark::State& state) {
  for (auto _ : state) {
    ClipWork().Assign(&Grid());
    benchmark::DoNotOptimize(ClipWork().Count());
  }
}
BENCHMARK(BM_AssignGrid)->Unit(benchmark::kMillisecond);

void BM_GetBounds(benchmark::State& state) {
  TWorldRect r;
  for (auto _ : state) benchmark::DoNotOptimize(Grid().GetBounds(r));
}
BENCHMARK(BM_GetBounds)->Unit(benchmark::kMillisecond);

void BM_ClipGrid(benchmark::State& state) {
  TWorldRect b;
  Grid().GetBounds(b);
  for (auto _ : state) {
    ClipWork().Assign(&Grid());
    ClipToRect(ClipRect, b);
    benchmark::DoNotOptimize(ClipWork().Count());
  }
}
BENCHMARK(BM_ClipGrid)->Unit(benchmark::kMillisecond);

// What the device description does per paint: every figure walked piece by piece, arcs cut into
// eight chords, every point rounded and merged into the shared device buffers.
void BM_GridToDevPoints(benchmark::State& state) {
  const TContour& grid = Grid();
  for (auto _ : state) {
    TDevPointsLease d;
    d->ClearAll();
    TContourFigure f;
    for (FirstFigure(f, grid, 0); !FiguresDone(f); NextFigure(f)) {
      d->EndFigure();
      TContourSegment s;
      for (FirstSegment(s, grid, f.First, true); !SegmentsDone(s) && s.Index <= f.Last;
           NextSegment(s)) {
        if (d->Current.Count() == 0) d->Current.AddPoint(RoundWorldPoint(s.P0), 1);
        if (std::fabs(s.Bulge) > MinBulge) {
          const double a0 = VectorAngle(s.Center, s.P0);
          for (int k = 1; k < 8; ++k) {
            const double a = a0 + k * s.Sweep / 8;
            d->Current.AddPoint(RoundWorldPoint({s.Center.X + s.Radius * std::cos(a),
                                                 s.Center.Y + s.Radius * std::sin(a)}),
                                1);
          }
        }
        d->Current.AddPoint(RoundWorldPoint(s.P1), 1);
      }
      d->Current.Closed = f.Closed;
    }
    d->EndFigure();
    benchmark::DoNotOptimize(d->Polygons.Count());
  }
}
BENCHMARK(BM_GridToDevPoints)->Unit(benchmark::kMillisecond);

}  // namespace
