#include "Contours.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

std::vector<int> Kinds(const TContour& c) {
  std::vector<int> kinds;
  for (int32_t i = 0; i < c.Count(); ++i) kinds.push_back(c.GetKind(i));
  return kinds;
}

void ExpectPoint(const TWorldPoint& p, double x, double y, double eps = 1e-12) {
  EXPECT_NEAR(p.X, x, eps);
  EXPECT_NEAR(p.Y, y, eps);
}

const TContourArc& ArcOf(const TContour& c, int32_t index) {
  return c.Arc(c.Command(index).ArcIndex);
}

// A contour as the drawing walks it: figure by figure, zero-length pieces skipped, arcs cut into
// fine chords.
struct TFlatFigure {
  std::vector<TWorldPoint> Points;
  bool Closed = false;
};

std::vector<TFlatFigure> Flatten(const TContour& c) {
  std::vector<TFlatFigure> figures;
  TContourFigure f;
  for (FirstFigure(f, c, 0); !FiguresDone(f); NextFigure(f)) {
    TFlatFigure figure;
    figure.Closed = f.Closed;
    TContourSegment s;
    for (FirstSegment(s, c, f.First, true); !SegmentsDone(s) && s.Index <= f.Last; NextSegment(s)) {
      if (figure.Points.empty()) figure.Points.push_back(s.P0);
      if (std::fabs(s.Bulge) > MinBulge) {
        const double a0 = VectorAngle(s.Center, s.P0);
        constexpr int steps = 2048;
        for (int k = 1; k < steps; ++k) {
          const double a = a0 + k * s.Sweep / steps;
          figure.Points.push_back(
              {s.Center.X + s.Radius * std::cos(a), s.Center.Y + s.Radius * std::sin(a)});
        }
      }
      figure.Points.push_back(s.P1);
    }
    if (!figure.Points.empty()) figures.push_back(figure);
  }
  return figures;
}

double Area(const TFlatFigure& f) {
  double twice = 0;
  for (size_t i = 0; i < f.Points.size(); ++i) {
    const TWorldPoint& a = f.Points[i];
    const TWorldPoint& b = f.Points[(i + 1) % f.Points.size()];
    twice += a.X * b.Y - b.X * a.Y;
  }
  return std::fabs(twice) / 2;
}

void ExpectInside(const std::vector<TFlatFigure>& figures, const TWorldRect& r) {
  TWorldRect grown = r;
  InflateWorldRect(grown, 1e-9, 1e-9);
  for (const TFlatFigure& f : figures)
    for (const TWorldPoint& p : f.Points)
      EXPECT_TRUE(PtInWorldRect(grown, p)) << p.X << ", " << p.Y;
}

// The area of the part of a unit circle beyond a chord at distance d from the centre.
double CapArea(double d) {
  return std::acos(d) - d * std::sqrt(1 - d * d);
}

constexpr double Far = 100;

// The rectangle whose only side near the origin is the given one, at the given coordinate.
TWorldRect RectWithSide(TClipSide side, double at) {
  switch (side) {
    case TClipSide::Left:
      return WorldRect(at, -Far, Far, Far);
    case TClipSide::Top:
      return WorldRect(-Far, at, Far, Far);
    case TClipSide::Right:
      return WorldRect(-Far, -Far, at, Far);
    case TClipSide::Bottom:
      break;
  }
  return WorldRect(-Far, -Far, Far, at);
}

}  // namespace

TEST(Contours, CirclesCarryTheirArcData) {
  TContour c;
  c.AddCircle({0, 0}, false, 1);
  EXPECT_EQ(Kinds(c), (std::vector<int>{ckMoveTo, ckArcTo, ckArcTo}));
  ExpectPoint(c.GetPoint(0), -1, 0);
  ExpectPoint(c.GetPoint(1), 1, 0);
  ExpectPoint(c.GetPoint(2), -1, 0);
  for (int32_t i : {1, 2}) {
    EXPECT_EQ(c.GetCommand(i).Bulge, 1);
    ExpectPoint(ArcOf(c, i).Center, 0, 0);
    EXPECT_DOUBLE_EQ(ArcOf(c, i).Radius, 1);
    EXPECT_DOUBLE_EQ(ArcOf(c, i).Sweep, Pi);
  }
  EXPECT_EQ(c.VertexCount(), 3);
  TWorldRect r;
  ASSERT_TRUE(c.GetBounds(r));
  ExpectPoint({r.Left, r.Top}, -1, -1);
  ExpectPoint({r.Right, r.Bottom}, 1, 1);

  TContour closed;
  closed.AddCircle({5, 5}, true, 2);
  EXPECT_EQ(Kinds(closed), (std::vector<int>{ckMoveTo, ckArcTo, ckCloseArc}));
  EXPECT_EQ(closed.VertexCount(), 2);
  ExpectPoint(ArcOf(closed, 2).Center, 5, 5);
  EXPECT_DOUBLE_EQ(ArcOf(closed, 2).Radius, 2);
  EXPECT_NEAR(Area(Flatten(closed)[0]), 4 * Pi, 1e-4);
}

TEST(Contours, RectanglesAndBounds) {
  TContour c;
  TWorldRect r;
  EXPECT_FALSE(c.GetBounds(r));
  c.Close();
  EXPECT_FALSE(c.GetBounds(r));
  c.Clear();
  c.AddRect(WorldRect(1, 2, 3, 4), true);
  EXPECT_EQ(Kinds(c), (std::vector<int>{ckMoveTo, ckLineTo, ckLineTo, ckLineTo, ckClose}));
  c.AddRect(WorldRect(-1, 0, 0, 1), false);
  EXPECT_EQ(c.Count(), 10);
  ExpectPoint(c.GetPoint(9), -1, 0);
  ASSERT_TRUE(c.GetBounds(r));
  ExpectPoint({r.Left, r.Top}, -1, 0);
  ExpectPoint({r.Right, r.Bottom}, 3, 4);
  // An arc reaches beyond its end points: a half circle from (0, 0) to (2, 0) turning +X towards
  // +Y about its centre passes through (1, -1); the other way round through (1, 1).
  TContour arc;
  arc.MoveTo({0, 0});
  arc.ArcTo({2, 0}, 1);
  ASSERT_TRUE(arc.GetBounds(r));
  ExpectPoint({r.Left, r.Top}, 0, -1);
  ExpectPoint({r.Right, r.Bottom}, 2, 0);
  arc.ArcTo({0, 0}, 0.5);
  ASSERT_TRUE(arc.GetBounds(r));
  EXPECT_DOUBLE_EQ(r.Bottom, 0.5);
}

TEST(Contours, ArcsWithoutLengthBecomeStraight) {
  TContour c;
  c.MoveTo({1, 1});
  c.ArcTo({1, 1}, 0.5);
  c.CloseArc(1);
  EXPECT_EQ(Kinds(c), (std::vector<int>{ckMoveTo, ckLineTo, ckClose}));
  EXPECT_EQ(c.Command(1).ArcIndex, NoArcIndex);
  EXPECT_EQ(c.GetCommand(1).Bulge, 0);
  EXPECT_EQ(c.VertexCount(), 2);
  // Inside the bracket nothing is derived; the bracket's end does it once.
  TContour b;
  b.BeginUpdate();
  b.MoveTo({1, 1});
  b.ArcTo({1, 1}, 0.5);
  b.ArcTo({3, 1}, 1);
  EXPECT_EQ(b.GetKind(1), ckArcTo);
  EXPECT_EQ(ArcOf(b, 2).Radius, 0);
  b.BeginUpdate();
  b.EndUpdate();
  EXPECT_EQ(b.GetKind(1), ckArcTo);
  b.EndUpdate();
  EXPECT_EQ(Kinds(b), (std::vector<int>{ckMoveTo, ckLineTo, ckArcTo}));
  ExpectPoint(ArcOf(b, 2).Center, 2, 1);
  EXPECT_DOUBLE_EQ(ArcOf(b, 2).Radius, 1);
  b.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(b.Count(), 3);
}

TEST(Contours, MovedPointsReshapeTheirArcs) {
  TContour c;
  c.AddCircle({0, 0}, true, 1);
  // Moving a closed figure's start reshapes the closing arc too.
  c.SetPoint(0, {-3, 0});
  for (int32_t i : {1, 2}) {
    ExpectPoint(ArcOf(c, i).Center, -1, 0);
    EXPECT_DOUBLE_EQ(ArcOf(c, i).Radius, 2);
  }
  // Converting every point inside a bracket, as the projections do, re-derives them at the end.
  c.BeginUpdate();
  for (int32_t i = 0; i < c.Count(); ++i) {
    auto* rec = c.Commands().At<TContourCommandRec>(i);
    rec->Point = {rec->Point.X * 2 + 10, rec->Point.Y * 2};
  }
  c.EndUpdate();
  ExpectPoint(ArcOf(c, 1).Center, 8, 0);
  EXPECT_DOUBLE_EQ(ArcOf(c, 2).Radius, 4);
  EXPECT_DOUBLE_EQ(ArcOf(c, 2).Sweep, Pi);
}

TEST(Contours, AnArcAfterACloseStartsFromTheFigureStartInAndOutOfTheBracket) {
  const auto build = [](TContour& c) {
    c.MoveTo({0, 0});
    c.LineTo({4, 0});
    c.LineTo({4, 4});
    c.Close();
    c.ArcTo({2, 0}, 1);
  };
  TContour direct;
  build(direct);
  TContour bracketed;
  bracketed.BeginUpdate();
  build(bracketed);
  bracketed.EndUpdate();
  for (const TContour* c : {&direct, &bracketed}) {
    ExpectPoint(ArcOf(*c, 4).Center, 1, 0);
    EXPECT_DOUBLE_EQ(ArcOf(*c, 4).Radius, 1);
    TWorldRect r;
    ASSERT_TRUE(c->GetBounds(r));
    ExpectPoint({r.Left, r.Top}, 0, -1);
    ExpectPoint({r.Right, r.Bottom}, 4, 4);
  }
}

TEST(Contours, EditingKeepsArcRecordsAndFiguresInStep) {
  TContour c;
  c.MoveTo({0, 0});
  c.ArcTo({2, 0}, 0.5);
  c.ArcTo({4, 0}, -0.25);
  c.DeleteCommand(1);
  EXPECT_EQ(c.Arcs().Count, 1);
  EXPECT_EQ(c.GetCommand(1).Bulge, -0.25);
  EXPECT_EQ(c.VertexCount(), 2);
  TWorldPoint center;
  double sweep;
  ASSERT_TRUE(ArcFromBulge({0, 0}, {4, 0}, -0.25, center, sweep));
  ExpectPoint(ArcOf(c, 1).Center, center.X, center.Y);

  // Without its ckMoveTo a figure continues the previous one, and its arc starts there.
  TContour m;
  m.MoveTo({0, 0});
  m.LineTo({2, 0});
  m.MoveTo({10, 0});
  m.ArcTo({12, 0}, 1);
  m.DeleteCommand(2);
  ExpectPoint(ArcOf(m, 2).Center, 7, 0);
  EXPECT_DOUBLE_EQ(ArcOf(m, 2).Radius, 5);

  // A ckMoveTo inserted into a closed figure gives its close a new start.
  TContour s;
  s.MoveTo({0, 0});
  s.LineTo({4, 0});
  s.LineTo({4, 2});
  s.CloseArc(1);
  ExpectPoint(ArcOf(s, 3).Center, 2, 1);
  s.InsertCommand(2, {ckMoveTo, {4, 4}, 0});
  ExpectPoint(ArcOf(s, 4).Center, 4, 3);
  EXPECT_EQ(s.VertexCount(), 4);
}

TEST(Contours, ReplaceOnlyWhatDiffers) {
  TContour c;
  c.MoveTo({0, 0});
  c.LineTo({1, 0});
  c.ArcTo({2, 0}, 0.5);
  c.CloseArc(0.3);
  c.MoveTo({5, 5});
  c.LineTo({6, 6});
  c.Close();
  EXPECT_FALSE(c.ReplaceCommand(0, {ckMoveTo, {0, 0}, 7}));
  EXPECT_FALSE(c.ReplaceCommand(2, {ckArcTo, {2, 0}, 0.5}));
  EXPECT_FALSE(c.ReplaceCommand(3, {ckCloseArc, {9, 9}, 0.3}));
  EXPECT_FALSE(c.ReplaceCommand(6, {ckClose, {9, 9}, 0}));
  EXPECT_EQ(c.Arcs().Count, 2);
  EXPECT_TRUE(c.ReplaceCommand(2, {ckArcTo, {2, 0}, -0.5}));
  EXPECT_EQ(c.GetCommand(2).Bulge, -0.5);
  EXPECT_EQ(c.GetCommand(3).Bulge, 0.3);
  EXPECT_TRUE(c.ReplaceCommand(1, {ckArcTo, {1, 0}, 1}));
  EXPECT_TRUE(c.ReplaceCommand(6, {ckCloseArc, {}, 1}));
  EXPECT_EQ(Kinds(c), (std::vector<int>{ckMoveTo, ckArcTo, ckArcTo, ckCloseArc, ckMoveTo, ckLineTo,
                                        ckCloseArc}));
  EXPECT_EQ(c.VertexCount(), 5);
  ExpectPoint(ArcOf(c, 6).Center, 5.5, 5.5);
}

TEST(Contours, BadIndicesAreRefusedWithTheirMessagesAndChangeNothing) {
  TContour c;
  c.AddRect(WorldRect(0, 0, 1, 1), true);
  EXPECT_EQ(MessageOf([&] { c.ReplaceCommand(5, {}); }),
            QStringLiteral("Неверный индекс изменяемой команды"));
  EXPECT_EQ(MessageOf([&] { c.GetCommand(-1); }), QStringLiteral("Нет команды с таким индексом"));
  EXPECT_EQ(MessageOf([&] { c.DeleteCommand(5); }),
            QStringLiteral("Неверный индекс удаляемой команды"));
  EXPECT_EQ(MessageOf([&] { c.SetPoint(-1, {}); }),
            QStringLiteral("Неверный индекс изменяемой точки"));
  EXPECT_EQ(MessageOf([&] { c.GetPoint(9); }),
            QStringLiteral("Индекс массива 9 выходит за пределы [0, 4] (TRecArray.GetPtr)"));
  EXPECT_EQ(MessageOf([&] {
              c.InsertCommand(7, {ckArcTo, {5, 5}, 1});
            }),
            QStringLiteral("Индекс массива выходит за пределы (TRecArray.InsertRecs)"));
  EXPECT_EQ(c.Count(), 5);
  EXPECT_EQ(c.VertexCount(), 4);
  EXPECT_FALSE(c.HasArcs());
  c.InsertCommand(5, {ckLineTo, {5, 5}, 0});  // at the count: appends
  EXPECT_EQ(c.GetKind(5), ckLineTo);
}

TEST(Contours, AssignCopiesAndClearKeepsCapacity) {
  TContour a;
  a.AddCircle({1, 1}, true, 1);
  a.AddRect(WorldRect(0, 0, 2, 2), false);
  TContour b;
  b.Assign(&a);
  EXPECT_EQ(Kinds(b), Kinds(a));
  EXPECT_EQ(b.VertexCount(), a.VertexCount());
  EXPECT_EQ(b.GetCommand(2).Bulge, 1);
  b.Assign(&b);
  EXPECT_EQ(b.Count(), a.Count());
  const void* items = b.Commands().Items;
  const int32_t capacity = b.Commands().Capacity;
  b.Clear();
  EXPECT_EQ(b.Count(), 0);
  EXPECT_EQ(b.VertexCount(), 0);
  EXPECT_FALSE(b.HasArcs());
  EXPECT_EQ(b.Commands().Capacity, capacity);
  b.Assign(&a);
  EXPECT_EQ(b.Commands().Items, items);
  b.Assign(nullptr);
  EXPECT_EQ(b.Count(), 0);

  // Appending a command from a contour, even from itself, brings its arc data along as they are.
  a.AppendFrom(a, 1);
  EXPECT_EQ(a.GetKind(a.Count() - 1), ckArcTo);
  ExpectPoint(ArcOf(a, a.Count() - 1).Center, 1, 1);
  EXPECT_EQ(a.VertexCount(), 8);
  EXPECT_THROW(a.AppendFrom(b, 0), ERecArray);
  a.Swap(b);
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(b.Count(), 9);
}

TEST(Contours, MoreArcsThanSixteenBitsCanCount) {
  TContour c;
  c.BeginUpdate();
  for (int i = 0; i < 35000; ++i) c.AddCircle({i * 3.0, 0}, true, 1);
  c.EndUpdate();
  EXPECT_EQ(c.Arcs().Count, 70000);
  const int32_t last = c.Count() - 1;
  ExpectPoint(ArcOf(c, last).Center, 34999 * 3.0, 0);
  c.DeleteCommand(1);
  EXPECT_EQ(c.GetKind(c.Count() - 1), ckCloseArc);
  ExpectPoint(ArcOf(c, c.Count() - 1).Center, 34999 * 3.0, 0);
  EXPECT_EQ(c.Command(c.Count() - 1).ArcIndex, 69998u);
}

TEST(ContourIteration, SegmentsFollowFiguresAndCloses) {
  TContour c;
  c.MoveTo({0, 0});
  c.LineTo({1, 0});
  c.LineTo({1, 0});
  c.LineTo({1, 1});
  c.Close();
  c.MoveTo({5, 5});
  c.ArcTo({7, 5}, 1);
  std::vector<int32_t> ends;
  TContourSegment s;
  for (FirstSegment(s, c, 0, false); !SegmentsDone(s); NextSegment(s)) ends.push_back(s.Index);
  EXPECT_EQ(ends, (std::vector<int32_t>{1, 2, 3, 4, 6}));
  ends.clear();
  for (FirstSegment(s, c, 0, true); !SegmentsDone(s); NextSegment(s)) ends.push_back(s.Index);
  EXPECT_EQ(ends, (std::vector<int32_t>{1, 3, 4, 6}));

  ASSERT_TRUE(FirstSegment(s, c, 4, false));
  EXPECT_EQ(s.P0Index, 3);
  EXPECT_EQ(s.P1Index, 0);
  ExpectPoint(s.P1, 0, 0);
  EXPECT_EQ(s.Bulge, 0);
  EXPECT_FALSE(FirstSegment(s, c, 2, true));  // zero length: moves on to 3
  EXPECT_EQ(s.Index, 3);
  EXPECT_FALSE(FirstSegment(s, c, 5, false));  // a ckMoveTo ends no piece
  EXPECT_EQ(s.Index, 6);
  EXPECT_EQ(s.Bulge, 1);
  ExpectPoint(s.Center, 6, 5);
  EXPECT_FALSE(FirstSegment(s, c, -3, false));
  EXPECT_EQ(s.Index, 1);
  EXPECT_FALSE(FirstSegment(s, c, 20, false));
  EXPECT_TRUE(SegmentsDone(s));

  // After a close without a new ckMoveTo the pen is back at the figure's start.
  TContour after;
  after.MoveTo({0, 0});
  after.LineTo({1, 0});
  after.Close();
  after.LineTo({3, 3});
  ASSERT_TRUE(FirstSegment(s, after, 3, false));
  ExpectPoint(s.P0, 0, 0);
}

TEST(ContourIteration, FiguresEndAtClosesAndMoves) {
  TContour c;
  c.MoveTo({0, 0});
  c.LineTo({1, 0});
  c.ArcTo({1, 1}, 0.5);
  c.LineTo({0, 1});
  c.Close();
  c.MoveTo({5, 5});
  c.LineTo({6, 5});
  c.MoveTo({8, 8});
  c.Close();
  c.LineTo({9, 9});
  std::vector<std::tuple<int32_t, int32_t, bool>> figures;
  TContourFigure f;
  for (FirstFigure(f, c, 0); !FiguresDone(f); NextFigure(f))
    figures.emplace_back(f.First, f.Last, f.Closed);
  EXPECT_EQ(figures, (std::vector<std::tuple<int32_t, int32_t, bool>>{
                         {0, 4, true}, {5, 6, false}, {7, 8, true}, {9, 9, false}}));
  for (int32_t i : {0, 2, 3, 4}) {
    FirstFigure(f, c, i);
    EXPECT_EQ(f.First, 0);
    EXPECT_EQ(f.Last, 4);
  }
  FirstFigure(f, c, 6);
  EXPECT_EQ(f.First, 5);
  EXPECT_EQ(f.Last, 6);
  FirstFigure(f, c, 9);
  EXPECT_EQ(f.First, 9);
  FirstFigure(f, c, 10);
  EXPECT_TRUE(FiguresDone(f));
  FirstFigure(f, c, -1);
  EXPECT_TRUE(FiguresDone(f));

  TContour open;
  open.LineTo({0, 0});
  open.LineTo({1, 1});
  FirstFigure(f, open, 1);
  EXPECT_EQ(f.First, 0);
  EXPECT_EQ(f.Last, 1);
  EXPECT_FALSE(f.Closed);
}

TEST(ContourClip, AClosedSquareCutByOneSideStaysClosedAlongTheCut) {
  TContour square;
  square.AddRect(WorldRect(-5, -5, 5, 5), true);
  TContour result;
  ClipHalfPlane(square, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  EXPECT_EQ(Kinds(result), (std::vector<int>{ckMoveTo, ckLineTo, ckLineTo, ckLineTo, ckClose}));
  ExpectPoint(result.GetPoint(0), 0, -5);
  ExpectPoint(result.GetPoint(1), 5, -5);
  ExpectPoint(result.GetPoint(2), 5, 5);
  ExpectPoint(result.GetPoint(3), 0, 5);

  for (TClipSide side : {TClipSide::Left, TClipSide::Top, TClipSide::Right, TClipSide::Bottom}) {
    for (double at : {-2.0, 3.0}) {
      SCOPED_TRACE(testing::Message() << int(side) << " at " << at);
      const TWorldRect r = RectWithSide(side, at);
      ClipHalfPlane(square, r, side, result);
      const auto figures = Flatten(result);
      ASSERT_EQ(figures.size(), 1u);
      EXPECT_TRUE(figures[0].Closed);
      const bool keepsHigh = side == TClipSide::Left || side == TClipSide::Top;
      EXPECT_NEAR(Area(figures[0]), 10 * (keepsHigh ? 5 - at : at + 5), 1e-9);
      ExpectInside(figures, r);
    }
  }
}

TEST(ContourClip, FiguresWhollyOnOneSideVanishOrStayAsTheyAre) {
  TContour c;
  c.AddRect(WorldRect(20, 20, 30, 30), true);
  c.AddCircle({25, 40}, false, 2);
  TContour result;
  ClipHalfPlane(c, RectWithSide(TClipSide::Left, 50), TClipSide::Left, result);
  EXPECT_EQ(result.Count(), 0);
  ClipHalfPlane(c, RectWithSide(TClipSide::Left, 10), TClipSide::Left, result);
  ASSERT_EQ(Kinds(result), Kinds(c));
  for (int32_t i = 0; i < c.Count(); ++i) {
    ExpectPoint(result.GetPoint(i), c.GetPoint(i).X, c.GetPoint(i).Y, 0);
    EXPECT_EQ(result.GetCommand(i).Bulge, c.GetCommand(i).Bulge);
  }
  // A rectangle apart from the contour's bounds keeps nothing.
  ClipWork().Assign(&c);
  TWorldRect b;
  ASSERT_TRUE(c.GetBounds(b));
  ClipToRect(WorldRect(-10, -10, 0, 0), b);
  EXPECT_EQ(ClipWork().Count(), 0);
}

TEST(ContourClip, CirclesCutByEverySideInBothDirections) {
  const double cap = CapArea(0.5);
  for (double bulge : {1.0, -1.0}) {
    TContour circle;
    circle.MoveTo({-1, 0});
    circle.ArcTo({1, 0}, bulge);
    circle.CloseArc(bulge);
    for (TClipSide side : {TClipSide::Left, TClipSide::Top, TClipSide::Right, TClipSide::Bottom}) {
      const bool keepsHigh = side == TClipSide::Left || side == TClipSide::Top;
      // The line half a radius off the centre: a cap on one side, the rest on the other. Each
      // crosses arcs once (entering, leaving), or twice between ends on one side.
      for (double at : {-0.5, 0.5}) {
        SCOPED_TRACE(testing::Message()
                     << "bulge " << bulge << " side " << int(side) << " at " << at);
        const TWorldRect r = RectWithSide(side, at);
        TContour result;
        ClipHalfPlane(circle, r, side, result);
        const auto figures = Flatten(result);
        ASSERT_EQ(figures.size(), 1u);
        EXPECT_TRUE(figures[0].Closed);
        const bool small = (at > 0) == keepsHigh;
        EXPECT_NEAR(Area(figures[0]), small ? cap : Pi - cap, 1e-5);
        ExpectInside(figures, r);
      }
    }
  }
}

TEST(ContourClip, RectangleClipOfALargeCircleLeavesTheRectangle) {
  TContour circle;
  circle.AddCircle({0, 0}, true, 10);
  ClipWork().Assign(&circle);
  TWorldRect b;
  ASSERT_TRUE(circle.GetBounds(b));
  const TWorldRect r = WorldRect(-3, -4, 5, 2);
  ClipToRect(r, b);
  const auto figures = Flatten(ClipWork());
  ASSERT_EQ(figures.size(), 1u);
  EXPECT_TRUE(figures[0].Closed);
  EXPECT_NEAR(Area(figures[0]), 8 * 6, 1e-9);
  ExpectInside(figures, r);

  // An arc figure poking through one corner keeps its arc piece inside the corner.
  TContour small;
  small.AddCircle({5, 2}, true, 1);
  ClipWork().Assign(&small);
  ASSERT_TRUE(small.GetBounds(b));
  ClipToRect(r, b);
  const auto corner = Flatten(ClipWork());
  ASSERT_EQ(corner.size(), 1u);
  EXPECT_NEAR(Area(corner[0]), Pi / 4, 1e-5);
  ExpectInside(corner, r);
}

TEST(ContourClip, OpenFiguresStayOpenAndRunAlongTheLineBetweenVisits) {
  TContour c;
  c.MoveTo({-1, 0});
  c.LineTo({1, 1});
  c.LineTo({-1, 2});
  c.LineTo({1, 3});
  TContour result;
  ClipHalfPlane(c, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  EXPECT_EQ(Kinds(result), (std::vector<int>{ckMoveTo, ckLineTo, ckLineTo, ckLineTo, ckLineTo}));
  ExpectPoint(result.GetPoint(0), 0, 0.5);
  ExpectPoint(result.GetPoint(2), 0, 1.5);
  ExpectPoint(result.GetPoint(3), 0, 2.5);
  ExpectPoint(result.GetPoint(4), 1, 3);
  EXPECT_FALSE(Flatten(result)[0].Closed);
}

TEST(ContourClip, ZeroLengthPiecesNeitherJoinFiguresNorOpenThem) {
  TContour c;
  c.MoveTo({1, 1});
  c.LineTo({2, 1});
  c.MoveTo({5, 5});
  c.LineTo({5, 5});
  c.LineTo({6, 5});
  TContour result;
  ClipHalfPlane(c, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  EXPECT_EQ(Kinds(result), (std::vector<int>{ckMoveTo, ckLineTo, ckMoveTo, ckLineTo}));

  // The closing piece has no length: the figure is closed all the same, inside or cut.
  TContour ring;
  ring.MoveTo({-5, -5});
  ring.LineTo({5, -5});
  ring.LineTo({5, 5});
  ring.LineTo({-5, 5});
  ring.LineTo({-5, -5});
  ring.Close();
  for (double at : {-10.0, 0.0}) {
    ClipHalfPlane(ring, RectWithSide(TClipSide::Left, at), TClipSide::Left, result);
    const auto figures = Flatten(result);
    ASSERT_EQ(figures.size(), 1u);
    EXPECT_TRUE(figures[0].Closed);
    EXPECT_NEAR(Area(figures[0]), at < 0 ? 100 : 50, 1e-9);
  }
}

TEST(ContourClip, PointsOnTheLineCountAsKept) {
  TContour square;
  square.AddRect(WorldRect(0, 0, 10, 10), true);
  TContour result;
  ClipHalfPlane(square, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  EXPECT_EQ(Kinds(result), Kinds(square));
  // A figure that only touches the line from outside shrinks to nothing there.
  TContour touching;
  touching.MoveTo({-5, 0});
  touching.LineTo({0, 5});
  touching.LineTo({-5, 10});
  touching.Close();
  ClipHalfPlane(touching, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  TWorldRect b;
  ASSERT_TRUE(result.GetBounds(b));
  ExpectPoint({b.Left, b.Top}, 0, 5);
  ExpectPoint({b.Right, b.Bottom}, 0, 5);
  // A half circle standing on the line, its ends on it, stays whole on the kept side and is
  // dropped on the other.
  TContour dome;
  dome.MoveTo({0, -1});
  dome.ArcTo({0, 1}, 1);
  dome.Close();
  ClipHalfPlane(dome, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  EXPECT_NEAR(Area(Flatten(result)[0]), Pi / 2, 1e-5);
  ClipHalfPlane(dome, RectWithSide(TClipSide::Right, 0), TClipSide::Right, result);
  const auto rest = Flatten(result);
  EXPECT_TRUE(rest.empty() || Area(rest[0]) < 1e-9);
  // An arc that starts on the line, runs inside and only then leaves keeps its inside piece: of
  // its two crossings the later one is where it leaves. (From (0, 0) to (-4, 0) with bulge 2:
  // about (-2, 1.5) with radius 2.5, out through (0.5, 1.5) and back across the line at (0, 3).)
  TContour hook;
  hook.MoveTo({0, 0});
  hook.ArcTo({-4, 0}, 2);
  ClipHalfPlane(hook, RectWithSide(TClipSide::Left, 0), TClipSide::Left, result);
  ASSERT_EQ(Kinds(result), (std::vector<int>{ckMoveTo, ckArcTo}));
  ExpectPoint(result.GetPoint(1), 0, 3);
  ASSERT_TRUE(result.GetBounds(b));
  EXPECT_NEAR(b.Right, 0.5, 1e-12);
}

TEST(ContourClip, ARepeatedPaintAllocatesNothing) {
  const auto paint = [] {
    TContourLease c;
    c->AddRect(WorldRect(-50, -50, 50, 50), true);
    for (int i = 0; i < 40; ++i) c->AddCircle({i * 5.0 - 100, 0}, true, 3);
    ClipWork().Assign(&*c);
    TWorldRect b;
    c->GetBounds(b);
    ClipToRect(WorldRect(-20, -20, 20, 20), b);
    TDevPointsLease d;
    d->ClearAll();
    TContourSegment s;
    for (FirstSegment(s, ClipWork(), 0, true); !SegmentsDone(s); NextSegment(s))
      d->Current.AddPoint(RoundWorldPoint(s.P1), 1);
    d->EndFigure();
    return std::vector<const void*>{c->Commands().Items,           c->Arcs().Items,
                                    ClipWork().Commands().Items,   ClipWork().Arcs().Items,
                                    ClipSource().Commands().Items, d->Polylines.Points()};
  };
  const auto first = paint();
  EXPECT_EQ(paint(), first);
}

TEST(ContourCache, HandsOutTwentyTrackedContoursThenUntrackedOnes) {
  TContourCache cache(20);
  std::vector<TContour*> taken;
  for (int i = 0; i < 20; ++i) taken.push_back(cache.Acquire());
  EXPECT_EQ(cache.FreeCount(), 0);
  EXPECT_EQ(cache.InUseCount(), 20);
  TContour* extra = cache.AcquireRect(WorldRect(0, 0, 1, 1), true);
  EXPECT_EQ(extra->Count(), 5);
  EXPECT_EQ(cache.InUseCount(), 20);
  cache.Release(extra);  // destroyed; the sanitizer build would report it otherwise
  taken[3]->LineTo({1, 1});
  cache.Release(taken[3]);
  EXPECT_EQ(cache.FreeCount(), 1);
  TContour* again = cache.AcquireCopy(*taken[0]);
  EXPECT_EQ(again, taken[3]);
  EXPECT_EQ(again->Count(), 0);
  cache.Release(again);
  EXPECT_EQ(MessageOf([&] { cache.Release(again); }),
            QStringLiteral("Внутренняя ошибка: контур уже возвращён (TContourCache.Release)"));
  cache.Release(nullptr);
  // The rest stay in use: the cache destroys them with itself.
}

TEST(ContourCache, TheProcessWideCacheLendsForAScope) {
  EXPECT_EQ(ContourCache().FreeCount() + ContourCache().InUseCount(), 20);
  const int32_t free = ContourCache().FreeCount();
  TContour* held = nullptr;
  try {
    TContourLease c;
    held = &*c;
    c->MoveTo({1, 2});
    EXPECT_EQ(ContourCache().FreeCount(), free - 1);
    throw Exception("сбой");
  } catch (const Exception&) {
  }
  EXPECT_EQ(ContourCache().FreeCount(), free);
  EXPECT_EQ(held->Count(), 0);
}
