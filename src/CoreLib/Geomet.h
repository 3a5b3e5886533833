#pragma once

#include "Types.h"

#include <cmath>
#include <cstdint>
#include <numbers>

// World coordinates are raster pixel coordinates (X right, Y down; pixel (i, j) has its corner at
// the world point (i, j)). The same types carry page coordinates, metres on the displayed sheet.
struct TWorldPoint {
  double X = 0;
  double Y = 0;
};

// Normalised when Left <= Right and Top <= Bottom; bounds are closed (an edge point is inside).
// Only WorldRectFromPoints and NormalizeWorldRect normalise; every other routine assumes it.
struct TWorldRect {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
};

inline constexpr double TwoPi = 2 * std::numbers::pi;

inline TWorldPoint WorldPoint(double x, double y) {
  return TWorldPoint{x, y};
}

inline TWorldRect WorldRect(double left, double top, double right, double bottom) {
  return TWorldRect{left, top, right, bottom};
}

inline bool SamePoint(const TWorldPoint& a, const TWorldPoint& b) {
  return a.X == b.X && a.Y == b.Y;
}

inline double PointDistance(const TWorldPoint& a, const TWorldPoint& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y));
}

// The direction from a to b in [0, 2π); a zero vector gives 0.
double VectorAngle(const TWorldPoint& a, const TWorldPoint& b);

inline double RectWidth(const TWorldRect& r) {
  return r.Right - r.Left;
}
inline double RectHeight(const TWorldRect& r) {
  return r.Bottom - r.Top;
}

inline TWorldPoint RectCenter(const TWorldRect& r) {
  return TWorldPoint{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
}

void NormalizeWorldRect(TWorldRect& r);
TWorldRect WorldRectFromPoints(const TWorldPoint& p, const TWorldPoint& q);
void OffsetWorldRect(TWorldRect& r, double dx, double dy);
// Negative amounts shrink the rectangle.
void InflateWorldRect(TWorldRect& r, double dx, double dy);
// An empty intersection is left inverted (Left > Right or Top > Bottom); nothing signals it.
void IntersectWorldRect(TWorldRect& r, const TWorldRect& s);
void UnionWorldRect(TWorldRect& r, const TWorldRect& s);

inline void ExtendWorldRect(TWorldRect& r, const TWorldPoint& p) {
  if (p.X < r.Left) r.Left = p.X;
  if (p.X > r.Right) r.Right = p.X;
  if (p.Y < r.Top) r.Top = p.Y;
  if (p.Y > r.Bottom) r.Bottom = p.Y;
}

inline bool PtInWorldRect(const TWorldRect& r, const TWorldPoint& p) {
  return r.Left <= p.X && p.X <= r.Right && r.Top <= p.Y && p.Y <= r.Bottom;
}

// Rectangles that only touch count as overlapping.
inline bool WorldRectsOverlap(const TWorldRect& r, const TWorldRect& s) {
  return r.Left <= s.Right && r.Top <= s.Bottom && r.Right >= s.Left && r.Bottom >= s.Top;
}

bool WorldRectContains(const TWorldRect& r, const TWorldRect& s);

inline TWorldPoint PointToWorld(const TPoint& p) {
  return TWorldPoint{double(p.X), double(p.Y)};
}

inline TWorldRect RectToWorld(const TRect& r) {
  return TWorldRect{double(r.Left), double(r.Top), double(r.Right), double(r.Bottom)};
}

// Rounds to the nearest integer with halves to even. Values beyond the 32-bit range stick to its
// ends and NaN gives 0, so that no conversion is ever undefined.
int32_t RoundToInt(double value);

// The largest integer not above the value, with the ends and NaN as RoundToInt has them.
int32_t FloorToInt(double value);

inline TPoint RoundWorldPoint(const TWorldPoint& p) {
  return TPoint{RoundToInt(p.X), RoundToInt(p.Y)};
}

inline TRect RoundWorldRect(const TWorldRect& r) {
  return TRect{RoundToInt(r.Left), RoundToInt(r.Top), RoundToInt(r.Right), RoundToInt(r.Bottom)};
}

// A local Cartesian frame: the origin is the first point, the x axis points to the second point
// and the unit is the world unit. The differences and the length are kept in extended precision;
// results are stored as doubles.
struct TCoordSys {
  // The fixed line that the assertion on equal points reports.
  static constexpr int InitPointsAssertLine = 212;

  TWorldPoint Origin;
  TWorldPoint Second;
  long double DX = 0;
  long double DY = 0;
  long double Length = 0;

  // Equal points are a programming error: EAssertionFailed "Assertion failure" at CoreLib\Geomet.
  void InitPoints(const TWorldPoint& p0, const TWorldPoint& p1);
  TWorldPoint ToLocal(const TWorldPoint& p) const;
  TWorldPoint ToWorld(const TWorldPoint& local) const;
};

// Bulges: an arc between two points is given by b = tan(θ/4), θ its signed sweep; b = 1 is a half
// circle, a positive sweep turns +X towards +Y.
inline constexpr double MinBulge = 1e-15;

// The centre and the signed sweep of the arc from p0 to p1 with the given bulge. False, with
// centre and sweep untouched, when the arc is really a straight piece: a bulge of at most 1e-15,
// equal end points, or a centre that cannot be represented (too far away or on p0).
bool ArcFromBulge(const TWorldPoint& p0, const TWorldPoint& p1, double bulge, TWorldPoint& center,
                  double& sweep);

// The bulge of the arc from a to c about the centre b, its sweep negative when the flag is set.
// a and c must differ.
double BulgeFromPoints(const TWorldPoint& a, const TWorldPoint& b, const TWorldPoint& c,
                       bool negative);

// Whether angle (or angle ± 2π) lies in the closed interval between start and start + sweep.
bool AngleInSweep(double angle, double start, double sweep);

// A growable array of device points that merges redundant points as they are added. Clearing
// keeps the buffer, so a warm list never allocates.
class TPointList {
 public:
  TPointList() = default;
  ~TPointList();
  TPointList(const TPointList&) = delete;
  TPointList& operator=(const TPointList&) = delete;

  // The figure is a polygon; set by the builder before the figure is ended.
  bool Closed = false;

  void Clear();
  void Reserve(int32_t capacity);
  // Room for n more points at the end; the caller fills them.
  TPoint* Append(int32_t n);
  // Appends p unless it repeats the last point offered, or overwrites the last stored point when
  // p continues the current straight run within the tolerance (1 merges exactly collinear points
  // that do not turn back).
  void AddPoint(const TPoint& p, int32_t tolerance);

  const TPoint* Points() const { return FPoints; }
  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return FCapacity; }

 private:
  TPoint* FPoints = nullptr;
  int32_t FCapacity = 0;
  int32_t FCount = 0;
  TPoint FSegmentStart;
  TPoint FSegmentEnd;
  TPoint FLastPoint;
};

// Several figures one after another: the points of all of them, and the point count of each.
class TPolyPointList : public TPointList {
 public:
  TPolyPointList() = default;
  ~TPolyPointList();

  void Clear();
  // Room for n more figure counts at the end; the caller fills them.
  int32_t* AppendCounts(int32_t n);

  const int32_t* Counts() const { return FCounts; }
  int32_t FigureCount() const { return FFigureCount; }
  int32_t CountsCapacity() const { return FCountsCapacity; }

 private:
  int32_t* FCounts = nullptr;
  int32_t FCountsCapacity = 0;
  int32_t FFigureCount = 0;
};

class TCanvas;

// The device figures of a whole contour, so that drawing it costs one polygon call for the
// closed figures and one polyline call for the open ones. Current is the figure being built.
class TDevPoints {
 public:
  TPolyPointList Polygons;
  TPolyPointList Polylines;
  TPointList Current;

  void ClearAll();
  // Moves Current (when it has more than one point) to Polygons when it is closed, repeating its
  // first point, or to Polylines otherwise; Current is cleared in every case.
  void EndFigure();
  // All closed figures in one polygon call, then all open ones in one polyline call, with the
  // canvas's current pen and brush.
  void DrawDevPoints(TCanvas& canvas) const;
};

// The process keeps one shared instance, reused across paints; while it is in use a nested
// acquire gets a fresh instance, which the release destroys.
TDevPoints* AcquireDevPoints();
void ReleaseDevPoints(TDevPoints* points);

// Holds an acquired TDevPoints for one scope and releases it also when an exception passes.
class TDevPointsLease {
 public:
  TDevPointsLease() : FPoints(AcquireDevPoints()) {}
  ~TDevPointsLease() { ReleaseDevPoints(FPoints); }
  TDevPointsLease(const TDevPointsLease&) = delete;
  TDevPointsLease& operator=(const TDevPointsLease&) = delete;

  TDevPoints& operator*() const { return *FPoints; }
  TDevPoints* operator->() const { return FPoints; }

 private:
  TDevPoints* FPoints;
};
