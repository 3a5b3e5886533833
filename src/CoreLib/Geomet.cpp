#include "Geomet.h"

#include "Canvases.h"
#include "SysUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

double VectorAngle(const TWorldPoint& a, const TWorldPoint& b) {
  double angle = std::atan2(b.Y - a.Y, b.X - a.X);
  if (angle < 0) angle += TwoPi;
  return angle;
}

void NormalizeWorldRect(TWorldRect& r) {
  if (r.Left > r.Right) std::swap(r.Left, r.Right);
  if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
}

TWorldRect WorldRectFromPoints(const TWorldPoint& p, const TWorldPoint& q) {
  TWorldRect r{p.X, p.Y, q.X, q.Y};
  NormalizeWorldRect(r);
  return r;
}

void OffsetWorldRect(TWorldRect& r, double dx, double dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

void InflateWorldRect(TWorldRect& r, double dx, double dy) {
  r.Left -= dx;
  r.Right += dx;
  r.Top -= dy;
  r.Bottom += dy;
}

void IntersectWorldRect(TWorldRect& r, const TWorldRect& s) {
  r.Left = std::max(s.Left, r.Left);
  r.Right = std::min(s.Right, r.Right);
  r.Top = std::max(s.Top, r.Top);
  r.Bottom = std::min(s.Bottom, r.Bottom);
}

void UnionWorldRect(TWorldRect& r, const TWorldRect& s) {
  if (s.Left < r.Left) r.Left = s.Left;
  if (s.Right > r.Right) r.Right = s.Right;
  if (s.Top < r.Top) r.Top = s.Top;
  if (s.Bottom > r.Bottom) r.Bottom = s.Bottom;
}

bool WorldRectContains(const TWorldRect& r, const TWorldRect& s) {
  return r.Left <= s.Left && s.Left <= r.Right && r.Left <= s.Right && s.Right <= r.Right &&
         r.Top <= s.Top && s.Top <= r.Bottom && r.Top <= s.Bottom && s.Bottom <= r.Bottom;
}

namespace {

int32_t ToInt(double whole) {
  if (std::isnan(whole)) return 0;
  if (whole <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (whole >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(whole);
}

}  // namespace

int32_t RoundToInt(double value) {
  // The default rounding mode rounds halves to even.
  return ToInt(std::nearbyint(value));
}

int32_t FloorToInt(double value) {
  return ToInt(std::floor(value));
}

void TCoordSys::InitPoints(const TWorldPoint& p0, const TWorldPoint& p1) {
  if (SamePoint(p0, p1))
    throw EAssertionFailed(QStringLiteral("Assertion failure"), QStringLiteral("CoreLib\\Geomet"),
                           InitPointsAssertLine);
  Origin = p0;
  Second = p1;
  DX = static_cast<long double>(p1.X) - p0.X;
  DY = static_cast<long double>(p1.Y) - p0.Y;
  // In extended precision the squares neither overflow nor vanish for distinct doubles, so the
  // length is always positive.
  Length = std::sqrt(DX * DX + DY * DY);
}

TWorldPoint TCoordSys::ToLocal(const TWorldPoint& p) const {
  const long double u = static_cast<long double>(p.X) - Origin.X;
  const long double v = static_cast<long double>(p.Y) - Origin.Y;
  return TWorldPoint{static_cast<double>((u * DX + v * DY) / Length),
                     static_cast<double>((-u * DY + v * DX) / Length)};
}

TWorldPoint TCoordSys::ToWorld(const TWorldPoint& local) const {
  const long double x = local.X;
  const long double y = local.Y;
  return TWorldPoint{static_cast<double>(Origin.X + (x * DX - y * DY) / Length),
                     static_cast<double>(Origin.Y + (DY * x + DX * y) / Length)};
}

bool ArcFromBulge(const TWorldPoint& p0, const TWorldPoint& p1, double bulge, TWorldPoint& center,
                  double& sweep) {
  if (!(std::fabs(bulge) > MinBulge) || SamePoint(p0, p1)) return false;
  TCoordSys chord;
  chord.InitPoints(p0, p1);
  const double h = chord.ToLocal(p1).X / 2;
  // The centre's offset from the chord's midpoint. Near a straight piece the algebraic form loses
  // accuracy, so there it goes through the angles.
  long double e;
  if (std::fabs(bulge) <= 0.01) {
    long double t = 2 * std::atan2(static_cast<long double>(-bulge), 1.0L);
    t = t > 0 ? t - std::numbers::pi_v<long double> / 2 : t + std::numbers::pi_v<long double> / 2;
    e = std::tan(t) * h;
  } else {
    const long double b = bulge;
    e = h * (1 - b * b) / (2 * b);
  }
  const TWorldPoint c = chord.ToWorld(TWorldPoint{h, static_cast<double>(e)});
  // A centre beyond the range of doubles, or one that rounds onto p0, leaves no arc to describe.
  if (!std::isfinite(c.X) || !std::isfinite(c.Y) || SamePoint(c, p0)) return false;
  TCoordSys radial;
  radial.InitPoints(c, p0);
  const double angle = VectorAngle(TWorldPoint{}, radial.ToLocal(p1));
  // A positive bulge turns from p0 to p1 in the +X→+Y direction, a negative one the other way;
  // a negative bulge between coincident directions is a whole turn back.
  if (bulge > 0)
    sweep = angle;
  else
    sweep = angle > 0 ? angle - TwoPi : TwoPi;
  center = c;
  return true;
}

double BulgeFromPoints(const TWorldPoint& a, const TWorldPoint& b, const TWorldPoint& c,
                       bool negative) {
  TCoordSys chord;
  chord.InitPoints(a, c);
  const TWorldPoint local = chord.ToLocal(b);
  constexpr long double pi = std::numbers::pi_v<long double>;
  long double phi;
  if (local.Y != 0) {
    phi = std::atan(static_cast<long double>(local.X) / local.Y);
    // The centre on the far side of the chord from the sweep's turn means the long way round.
    if (negative == (local.Y > 0)) phi = phi > 0 ? phi - pi : phi + pi;
  } else {
    phi = negative ? -pi / 2 : pi / 2;
  }
  const long double cosHalf = std::cos(phi / 2);
  if (cosHalf == 0) return 0;
  return static_cast<double>(std::sin(phi / 2) / cosHalf);
}

bool AngleInSweep(double angle, double start, double sweep) {
  const auto inside = [&](double a) {
    return sweep > 0 ? start <= a && a <= start + sweep : start + sweep <= a && a <= start;
  };
  return inside(angle) || inside(angle + TwoPi) || inside(angle - TwoPi);
}

namespace {

// Makes room for n more entries at the end of a buffer, reallocating to count + n + 32 entries
// when they do not fit, and returns the first of them.
template <typename T>
T* AppendEntries(T*& buffer, int32_t& capacity, int32_t& count, int32_t n) {
  const int64_t needed = int64_t(count) + n;
  if (needed > capacity) {
    const int64_t grown = needed + 32;
    if (grown > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
    void* block = std::realloc(buffer, static_cast<size_t>(grown) * sizeof(T));
    if (!block) throw std::bad_alloc();
    buffer = static_cast<T*>(block);
    capacity = static_cast<int32_t>(grown);
  }
  T* first = buffer + count;
  count += n;
  return first;
}

}  // namespace

TPointList::~TPointList() {
  std::free(FPoints);
}

void TPointList::Clear() {
  FCount = 0;
  Closed = false;
}

void TPointList::Reserve(int32_t capacity) {
  if (capacity <= FCapacity) return;
  void* block = std::realloc(FPoints, static_cast<size_t>(capacity) * sizeof(TPoint));
  if (!block) throw std::bad_alloc();
  FPoints = static_cast<TPoint*>(block);
  FCapacity = capacity;
}

TPoint* TPointList::Append(int32_t n) {
  return AppendEntries(FPoints, FCapacity, FCount, n);
}

void TPointList::AddPoint(const TPoint& p, int32_t tolerance) {
  if (FCount == 0) {
    FSegmentStart = p;
    FLastPoint = p;
    *Append(1) = p;
    return;
  }
  if (p == FLastPoint) return;
  FLastPoint = p;
  if (FCount == 1) {
    FSegmentEnd = p;
    *Append(1) = p;
    return;
  }
  // A tolerance below 1 would divide by zero; 1 is the exact test.
  const int64_t d = std::max(tolerance, 1);
  const TPoint& s = FSegmentStart;
  const TPoint& e = FSegmentEnd;
  // Device coordinates reach the whole 32-bit range, so the cross products need 128 bits.
  const __int128 lhs = __int128(int64_t(p.X) - s.X) * (int64_t(e.Y) - s.Y) / d;
  const __int128 rhs = __int128(int64_t(p.Y) - s.Y) * (int64_t(e.X) - s.X) / d;
  const bool continuesRun = lhs == rhs && int64_t(std::min(s.X, p.X)) - d + 1 <= e.X &&
                            e.X <= int64_t(std::max(s.X, p.X)) + d - 1 &&
                            int64_t(std::min(s.Y, p.Y)) - d + 1 <= e.Y &&
                            e.Y <= int64_t(std::max(s.Y, p.Y)) + d - 1;
  if (continuesRun) {
    FPoints[FCount - 1] = p;
  } else {
    FSegmentStart = FPoints[FCount - 1];
    FSegmentEnd = p;
    *Append(1) = p;
  }
}

TPolyPointList::~TPolyPointList() {
  std::free(FCounts);
}

void TPolyPointList::Clear() {
  TPointList::Clear();
  FFigureCount = 0;
}

int32_t* TPolyPointList::AppendCounts(int32_t n) {
  return AppendEntries(FCounts, FCountsCapacity, FFigureCount, n);
}

void TDevPoints::ClearAll() {
  Polygons.Clear();
  Polylines.Clear();
  Current.Clear();
}

void TDevPoints::EndFigure() {
  if (Current.Count() > 1) {
    if (Current.Closed) Current.AddPoint(Current.Points()[0], 1);
    TPolyPointList& target = Current.Closed ? Polygons : Polylines;
    const int32_t n = Current.Count();
    // Points before the count: should the count not fit, no count ever promises missing points.
    std::memcpy(target.Append(n), Current.Points(), static_cast<size_t>(n) * sizeof(TPoint));
    *target.AppendCounts(1) = n;
  }
  Current.Clear();
}

void TDevPoints::DrawDevPoints(TCanvas& canvas) const {
  if (Polygons.FigureCount() > 0)
    canvas.PolyPolygon(Polygons.Points(), Polygons.Counts(), Polygons.FigureCount());
  if (Polylines.FigureCount() > 0)
    canvas.PolyPolyline(Polylines.Points(), Polylines.Counts(), Polylines.FigureCount());
}

namespace {

// The shared instance lives in plain variables that stay valid while static objects are being
// destroyed: once the owner below has gone, acquires hand out fresh instances.
constinit TDevPoints* SharedDevPoints = nullptr;
constinit bool SharedDevPointsInUse = false;
constinit bool SharedDevPointsFinalised = false;

struct TSharedDevPointsOwner {
  ~TSharedDevPointsOwner() {
    delete SharedDevPoints;
    SharedDevPoints = nullptr;
    SharedDevPointsFinalised = true;
  }
};

}  // namespace

TDevPoints* AcquireDevPoints() {
  if (!SharedDevPointsFinalised) {
    static TSharedDevPointsOwner owner;
    if (!SharedDevPoints) SharedDevPoints = new TDevPoints;
    if (!SharedDevPointsInUse) {
      SharedDevPointsInUse = true;
      return SharedDevPoints;
    }
  }
  return new TDevPoints;
}

void ReleaseDevPoints(TDevPoints* points) {
  if (points && points == SharedDevPoints)
    SharedDevPointsInUse = false;
  else
    delete points;
}
