#include "Geomet.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

std::vector<TPoint> PointsOf(const TPointList& list) {
  return {list.Points(), list.Points() + list.Count()};
}

std::vector<TPoint> Added(const std::vector<TPoint>& points, int tolerance = 1) {
  TPointList list;
  for (const TPoint& p : points) list.AddPoint(p, tolerance);
  return PointsOf(list);
}

void ExpectRect(const TWorldRect& r, double left, double top, double right, double bottom) {
  EXPECT_DOUBLE_EQ(r.Left, left);
  EXPECT_DOUBLE_EQ(r.Top, top);
  EXPECT_DOUBLE_EQ(r.Right, right);
  EXPECT_DOUBLE_EQ(r.Bottom, bottom);
}

}  // namespace

TEST(WorldRects, OnlyTheNormalisingRoutinesNormalise) {
  ExpectRect(WorldRectFromPoints({5, 1}, {2, 7}), 2, 1, 5, 7);
  ExpectRect(WorldRect(5, 7, 2, 1), 5, 7, 2, 1);
  // Disjoint rectangles leave an inverted intersection that nobody flags.
  TWorldRect d = WorldRect(0, 0, 1, 1);
  IntersectWorldRect(d, WorldRect(3, 3, 4, 4));
  EXPECT_GT(d.Left, d.Right);
  EXPECT_GT(d.Top, d.Bottom);
  TWorldRect u = WorldRect(0, 0, 10, 10);
  UnionWorldRect(u, WorldRect(5, -4, 6, 0));
  ExtendWorldRect(u, {20, 2});
  ExpectRect(u, 0, -4, 20, 10);
}

TEST(WorldRects, ClosedBoundsCountEdgesAsInside) {
  const TWorldRect r = WorldRect(0, 0, 10, 10);
  EXPECT_TRUE(PtInWorldRect(r, {10, 0}));
  EXPECT_TRUE(PtInWorldRect(r, {0, 10}));
  EXPECT_FALSE(PtInWorldRect(r, {10.0001, 5}));
  EXPECT_TRUE(WorldRectsOverlap(r, WorldRect(10, 3, 20, 4)));   // shares an edge
  EXPECT_TRUE(WorldRectsOverlap(r, WorldRect(-5, 10, 0, 12)));  // shares a corner
  EXPECT_FALSE(WorldRectsOverlap(r, WorldRect(10.5, 3, 20, 4)));
  EXPECT_TRUE(WorldRectContains(r, r));
  EXPECT_TRUE(WorldRectContains(r, WorldRect(2, 2, 10, 3)));
  EXPECT_FALSE(WorldRectContains(r, WorldRect(2, 2, 11, 3)));
  EXPECT_FALSE(WorldRectContains(r, WorldRect(-1, 2, 5, 3)));
}

TEST(WorldPoints, AnglesRunFromZeroToATurn) {
  EXPECT_DOUBLE_EQ(VectorAngle({0, 0}, {0, -1}), 3 * Pi / 2);
  EXPECT_DOUBLE_EQ(VectorAngle({1, 1}, {1, 1}), 0);
  EXPECT_DOUBLE_EQ(VectorAngle({0, 0}, {-1, 0}), Pi);
  EXPECT_DOUBLE_EQ(VectorAngle({0, 0}, {1, -1}), 7 * Pi / 4);
}

TEST(WorldPoints, RoundHalvesToEvenAndClampToInt32) {
  EXPECT_EQ(RoundWorldPoint({2.5, -0.5}), (TPoint{2, 0}));
  EXPECT_EQ(RoundWorldPoint({3.5, 1.5}), (TPoint{4, 2}));
  EXPECT_EQ(RoundWorldPoint({-2.5, 2.4999}), (TPoint{-2, 2}));
  EXPECT_EQ(RoundWorldRect(WorldRect(0.5, 1.5, -1.5, 2.6)), (TRect{0, 2, -2, 3}));
  constexpr int32_t lo = std::numeric_limits<int32_t>::min();
  constexpr int32_t hi = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(RoundToInt(1e300), hi);
  EXPECT_EQ(RoundToInt(-1e300), lo);
  EXPECT_EQ(RoundToInt(2147483647.4), hi);
  EXPECT_EQ(RoundToInt(-2147483648.6), lo);
  EXPECT_EQ(RoundToInt(std::numeric_limits<double>::infinity()), hi);
  EXPECT_EQ(RoundToInt(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(CoordSys, MapsToTheFrameAndBack) {
  TCoordSys f;
  f.InitPoints({1, 1}, {4, 5});  // x axis along (3, 4), length 5
  EXPECT_DOUBLE_EQ(static_cast<double>(f.Length), 5);
  const TWorldPoint a = f.ToLocal({4, 5});
  EXPECT_DOUBLE_EQ(a.X, 5);
  EXPECT_NEAR(a.Y, 0, 1e-15);
  // The y axis is the x axis turned from +X towards +Y.
  const TWorldPoint b = f.ToLocal({1 - 4, 1 + 3});
  EXPECT_NEAR(b.X, 0, 1e-15);
  EXPECT_DOUBLE_EQ(b.Y, 5);
  const TWorldPoint back = f.ToWorld(f.ToLocal({-7.25, 12.5}));
  EXPECT_DOUBLE_EQ(back.X, -7.25);
  EXPECT_DOUBLE_EQ(back.Y, 12.5);
}

TEST(CoordSys, EqualPointsFailTheAssertionAndTinyOnesDoNot) {
  TCoordSys f;
  try {
    f.InitPoints({2, 3}, {2, 3});
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Assertion failure (CoreLib\\Geomet, line 212)"));
  }
  const double tiny = std::numeric_limits<double>::denorm_min();
  f.InitPoints({0, 0}, {tiny, 0});
  EXPECT_GT(f.Length, 0);
  f.InitPoints({-1e308, 0}, {1e308, 1e308});
  EXPECT_TRUE(std::isfinite(f.Length));
}

TEST(Arcs, HalfCirclesAndDirections) {
  TWorldPoint c{99, 99};
  double sweep = 99;
  ASSERT_TRUE(ArcFromBulge({-1, 0}, {1, 0}, 1, c, sweep));
  EXPECT_NEAR(c.X, 0, 1e-15);
  EXPECT_NEAR(c.Y, 0, 1e-15);
  EXPECT_DOUBLE_EQ(sweep, Pi);
  ASSERT_TRUE(ArcFromBulge({-1, 0}, {1, 0}, -1, c, sweep));
  EXPECT_DOUBLE_EQ(sweep, -Pi);

  // A quarter-turn bulge from (-1, 0) to (1, 0) turning +X towards +Y has its centre below the
  // chord (towards +Y) and sweeps 4·atan(0.5).
  ASSERT_TRUE(ArcFromBulge({-1, 0}, {1, 0}, 0.5, c, sweep));
  EXPECT_NEAR(c.X, 0, 1e-15);
  EXPECT_DOUBLE_EQ(c.Y, 0.75);
  EXPECT_DOUBLE_EQ(sweep, 4 * std::atan(0.5));
}

TEST(Arcs, StraightPiecesReportNoArcAndTouchNothing) {
  TWorldPoint c{7, 8};
  double sweep = 9;
  EXPECT_FALSE(ArcFromBulge({0, 0}, {1, 0}, 1e-15, c, sweep));
  EXPECT_FALSE(ArcFromBulge({0, 0}, {1, 0}, -1e-16, c, sweep));
  EXPECT_FALSE(ArcFromBulge({3, 3}, {3, 3}, 1, c, sweep));
  EXPECT_FALSE(ArcFromBulge({0, 0}, {1, 0}, std::numeric_limits<double>::quiet_NaN(), c, sweep));
  // The centre would be beyond the doubles, or rounds onto the start point: no arc, no assertion.
  EXPECT_FALSE(ArcFromBulge({0, 0}, {1e300, 0}, 1e-10, c, sweep));
  EXPECT_FALSE(ArcFromBulge({1e16, 0}, {1e16 + 2, 0}, 1, c, sweep));
  EXPECT_EQ(c.X, 7);
  EXPECT_EQ(c.Y, 8);
  EXPECT_EQ(sweep, 9);
}

TEST(Arcs, EveryBulgeGivesACircleThroughBothEndsAndBulgeFromPointsInvertsIt) {
  const TWorldPoint p0{3, -2};
  const TWorldPoint p1{-4, 5};
  for (double b :
       {0.001, -0.001, 0.0099, 0.0101, 0.2, -0.2, 0.7, 1.0, -1.0, 1.5, -1.5, 3.0, -8.0, 40.0}) {
    SCOPED_TRACE(b);
    TWorldPoint c;
    double sweep;
    ASSERT_TRUE(ArcFromBulge(p0, p1, b, c, sweep));
    const double r = PointDistance(c, p0);
    EXPECT_NEAR(PointDistance(c, p1) / r, 1, 1e-12);
    EXPECT_NEAR(sweep, 4 * std::atan(b), 1e-9);
    // Turning p0 about the centre by the sweep lands on p1.
    const double a = VectorAngle(c, p0) + sweep;
    EXPECT_NEAR(c.X + r * std::cos(a), p1.X, 1e-9 * r);
    EXPECT_NEAR(c.Y + r * std::sin(a), p1.Y, 1e-9 * r);
    EXPECT_NEAR(BulgeFromPoints(p0, c, p1, sweep < 0), b, 1e-9 * std::max(1.0, std::fabs(b)));
  }
}

TEST(Arcs, BulgeFromPointsOnTheChordIsAHalfCircle) {
  EXPECT_DOUBLE_EQ(BulgeFromPoints({-1, 0}, {0, 0}, {1, 0}, false), 1);
  EXPECT_DOUBLE_EQ(BulgeFromPoints({-1, 0}, {0, 0}, {1, 0}, true), -1);
  EXPECT_THROW(BulgeFromPoints({1, 1}, {0, 0}, {1, 1}, false), EAssertionFailed);
}

TEST(Arcs, AngleInSweepLooksOneTurnEitherWay) {
  EXPECT_TRUE(AngleInSweep(0.5, 0, 1));
  EXPECT_TRUE(AngleInSweep(1, 0, 1));  // closed interval
  EXPECT_FALSE(AngleInSweep(1.01, 0, 1));
  EXPECT_TRUE(AngleInSweep(0.1, 6, 1));     // 0.1 + 2π lies in [6, 7]
  EXPECT_TRUE(AngleInSweep(6.2, 0.5, -1));  // 6.2 − 2π lies in [-0.5, 0.5]
  EXPECT_FALSE(AngleInSweep(1, 0.5, -1));
  EXPECT_TRUE(AngleInSweep(Pi, 3 * Pi / 2, -Pi));
}

TEST(PointLists, MergeCollinearPointsThatDoNotTurnBack) {
  EXPECT_EQ(Added({{0, 0}, {5, 0}, {10, 0}}), (std::vector<TPoint>{{0, 0}, {10, 0}}));
  EXPECT_EQ(Added({{0, 0}, {10, 0}, {5, 0}}), (std::vector<TPoint>{{0, 0}, {10, 0}, {5, 0}}));
  EXPECT_EQ(Added({{1, 1}, {1, 1}, {2, 2}, {2, 2}, {3, 3}, {3, 4}}),
            (std::vector<TPoint>{{1, 1}, {3, 3}, {3, 4}}));
  // A bend starts a new run from the last stored point.
  EXPECT_EQ(Added({{0, 0}, {4, 0}, {8, 1}, {12, 2}}),
            (std::vector<TPoint>{{0, 0}, {4, 0}, {12, 2}}));
  // A wider tolerance merges near-collinear points; none below 1 divides by zero.
  EXPECT_EQ(Added({{0, 0}, {10, 0}, {20, 1}}, 20), (std::vector<TPoint>{{0, 0}, {20, 1}}));
  EXPECT_EQ(Added({{0, 0}, {5, 0}, {10, 0}}, 0), (std::vector<TPoint>{{0, 0}, {10, 0}}));
}

TEST(PointLists, CoordinatesAtTheEndsOfTheRangeDoNotOverflow) {
  const int32_t m = 2147483547;
  EXPECT_EQ(Added({{-m, -m}, {m - 1, m - 1}, {m, m}}), (std::vector<TPoint>{{-m, -m}, {m, m}}));
  EXPECT_EQ(Added({{-m, -m}, {m - 1, m - 1}, {m, m - 1}}).size(), 3u);
}

TEST(PointLists, GrowWithSlackAndKeepTheBufferWhenCleared) {
  TPointList list;
  list.Append(1)[0] = {1, 2};
  EXPECT_EQ(list.Capacity(), 33);
  list.Append(32);
  EXPECT_EQ(list.Capacity(), 33);
  list.Append(1);
  EXPECT_EQ(list.Capacity(), 66);
  EXPECT_EQ(list.Count(), 34);
  EXPECT_EQ(list.Points()[0], (TPoint{1, 2}));
  const TPoint* buffer = list.Points();
  list.Closed = true;
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Closed);
  EXPECT_EQ(list.Capacity(), 66);
  list.AddPoint({5, 5}, 1);
  EXPECT_EQ(list.Points(), buffer);
  list.Reserve(100);
  EXPECT_EQ(list.Capacity(), 100);
  EXPECT_EQ(list.Points()[0], (TPoint{5, 5}));
  list.Reserve(10);
  EXPECT_EQ(list.Capacity(), 100);
}

TEST(DevPoints, EndFigureSortsFiguresIntoPolygonsAndPolylines) {
  TDevPoints d;
  for (const TPoint& p : {TPoint{0, 0}, TPoint{10, 0}, TPoint{10, 10}}) d.Current.AddPoint(p, 1);
  d.Current.Closed = true;
  d.EndFigure();
  ASSERT_EQ(d.Polygons.FigureCount(), 1);
  EXPECT_EQ(d.Polygons.Counts()[0], 4);
  EXPECT_EQ(PointsOf(d.Polygons), (std::vector<TPoint>{{0, 0}, {10, 0}, {10, 10}, {0, 0}}));
  EXPECT_EQ(d.Current.Count(), 0);
  EXPECT_FALSE(d.Current.Closed);

  d.Current.AddPoint({7, 7}, 1);
  d.EndFigure();  // one point: dropped
  EXPECT_EQ(d.Polylines.FigureCount(), 0);
  EXPECT_EQ(d.Current.Count(), 0);

  d.Current.AddPoint({1, 1}, 1);
  d.Current.AddPoint({2, 5}, 1);
  d.EndFigure();
  d.Current.AddPoint({3, 3}, 1);
  d.Current.AddPoint({4, 3}, 1);
  d.Current.AddPoint({4, 4}, 1);
  d.EndFigure();
  ASSERT_EQ(d.Polylines.FigureCount(), 2);
  EXPECT_EQ(d.Polylines.Counts()[0], 2);
  EXPECT_EQ(d.Polylines.Counts()[1], 3);
  EXPECT_EQ(PointsOf(d.Polylines), (std::vector<TPoint>{{1, 1}, {2, 5}, {3, 3}, {4, 3}, {4, 4}}));
  // A closed figure that already ends on its start is not given the start twice.
  for (const TPoint& p : {TPoint{0, 0}, TPoint{5, 0}, TPoint{5, 5}, TPoint{0, 0}})
    d.Current.AddPoint(p, 1);
  d.Current.Closed = true;
  d.EndFigure();
  EXPECT_EQ(d.Polygons.Counts()[1], 4);

  const TPoint* polygons = d.Polygons.Points();
  const int32_t* counts = d.Polylines.Counts();
  d.ClearAll();
  EXPECT_EQ(d.Polygons.FigureCount(), 0);
  EXPECT_EQ(d.Polygons.Count(), 0);
  EXPECT_EQ(d.Polylines.FigureCount(), 0);
  EXPECT_EQ(d.Polygons.Points(), polygons);
  EXPECT_EQ(d.Polylines.Counts(), counts);
}

TEST(DevPoints, TheSharedInstanceIsReusedAndNestedAcquiresGetTheirOwn) {
  TDevPoints* shared = AcquireDevPoints();
  TDevPoints* nested = AcquireDevPoints();
  EXPECT_NE(shared, nested);
  {
    TDevPointsLease third;
    EXPECT_NE(&*third, shared);
    EXPECT_NE(&*third, nested);
    third->Current.AddPoint({1, 1}, 1);
  }
  ReleaseDevPoints(nested);  // destroyed: the sanitizer build would report a leak otherwise
  shared->Current.AddPoint({1, 2}, 1);
  ReleaseDevPoints(shared);
  TDevPointsLease again;
  EXPECT_EQ(&*again, shared);
  EXPECT_EQ(again->Current.Count(), 1);  // the shared buffers are the caller's to clear
  again->ClearAll();
  ReleaseDevPoints(nullptr);
}
