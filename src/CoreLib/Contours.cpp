#include "Contours.h"

#include "SysUtils.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

bool SameCommand(const TContourCommand& a, const TContourCommand& b) {
  if (a.Kind != b.Kind) return false;
  switch (a.Kind) {
    case ckMoveTo:
    case ckLineTo:
      return SamePoint(a.Point, b.Point);
    case ckArcTo:
      return SamePoint(a.Point, b.Point) && a.Bulge == b.Bulge;
    case ckCloseArc:
      return a.Bulge == b.Bulge;
    case ckClose:
      break;
  }
  return true;
}

bool IsBulging(double bulge) {
  return std::fabs(bulge) > MinBulge;
}

}  // namespace

TContour::TContour() {
  FCommands.Init(sizeof(TContourCommandRec));
  FArcs.Init(sizeof(TContourArc));
}

TContour::~TContour() {
  FCommands.Clear();
  FArcs.Clear();
}

int32_t TContour::MoveTo(const TWorldPoint& p) {
  return AddCommand({ckMoveTo, p, 0});
}

int32_t TContour::LineTo(const TWorldPoint& p) {
  return AddCommand({ckLineTo, p, 0});
}

int32_t TContour::ArcTo(const TWorldPoint& p, double bulge) {
  return AddCommand({ckArcTo, p, bulge});
}

int32_t TContour::Close() {
  return AddCommand({ckClose, {}, 0});
}

int32_t TContour::CloseArc(double bulge) {
  return AddCommand({ckCloseArc, {}, bulge});
}

int32_t TContour::AddCommand(const TContourCommand& command) {
  const int32_t index = Count();
  StoreCommand(index, command.Kind, command.Point, {command.Bulge, {}, 0, 0});
  if (!Updating()) RecalcArc(index);
  return index;
}

void TContour::AddRect(const TWorldRect& r, bool closed) {
  MoveTo({r.Left, r.Top});
  LineTo({r.Right, r.Top});
  LineTo({r.Right, r.Bottom});
  LineTo({r.Left, r.Bottom});
  if (closed)
    Close();
  else
    LineTo({r.Left, r.Top});
}

void TContour::AddCircle(const TWorldPoint& center, bool closed, double radius) {
  MoveTo({center.X - radius, center.Y});
  ArcTo({center.X + radius, center.Y}, 1);
  if (closed)
    CloseArc(1);
  else
    ArcTo({center.X - radius, center.Y}, 1);
}

void TContour::StoreCommand(int32_t index, TContourKind kind, const TWorldPoint& p,
                            const TContourArc& arc) {
  const bool isArc = KindIsArc(kind);
  const TContourCommandRec rec{kind, isArc ? uint32_t(FArcs.Count) : NoArcIndex, p};
  // The command goes in first: a bad index is refused before anything has changed.
  FCommands.Insert(index, &rec);
  if (isArc) {
    try {
      FArcs.Add(&arc);
    } catch (...) {
      FCommands.Delete(index);
      throw;
    }
  }
  if (KindHasPoint(kind)) ++FVertexCount;
}

int32_t TContour::AppendFrom(const TContour& source, int32_t index) {
  const auto rec = *static_cast<const TContourCommandRec*>(source.Commands().GetPtr(index));
  const TContourArc arc = KindIsArc(rec.Kind) ? source.Arc(rec.ArcIndex) : TContourArc{};
  StoreCommand(Count(), rec.Kind, rec.Point, arc);
  return Count() - 1;
}

void TContour::Swap(TContour& other) {
  std::swap(FVertexCount, other.FVertexCount);
  std::swap(FCommands, other.FCommands);
  std::swap(FArcs, other.FArcs);
}

void TContour::InsertCommand(int32_t index, const TContourCommand& command) {
  StoreCommand(index, command.Kind, command.Point, {command.Bulge, {}, 0, 0});
  if (!Updating()) RecalcAround(index, command.Kind);
}

void TContour::DeleteCommand(int32_t index) {
  if (index < 0 || index >= Count())
    throw Exception(QStringLiteral("Неверный индекс удаляемой команды"));
  const TContourCommandRec rec = Rec(index);
  FCommands.Delete(index);
  if (KindHasPoint(rec.Kind)) --FVertexCount;
  if (KindIsArc(rec.Kind)) {
    FArcs.Delete(static_cast<int32_t>(rec.ArcIndex));
    for (int32_t i = 0; i < Count(); ++i) {
      TContourCommandRec& other = Rec(i);
      if (KindIsArc(other.Kind) && other.ArcIndex > rec.ArcIndex) --other.ArcIndex;
    }
  }
  if (Updating()) return;
  // Without its ckMoveTo the command now at index starts from the previous figure's point.
  if (rec.Kind == ckMoveTo) RecalcArc(index);
  RecalcAround(index, rec.Kind);
}

bool TContour::ReplaceCommand(int32_t index, const TContourCommand& command) {
  if (index < 0 || index >= Count())
    throw Exception(QStringLiteral("Неверный индекс изменяемой команды"));
  if (SameCommand(GetCommand(index), command)) return false;
  DeleteCommand(index);
  InsertCommand(index, command);
  return true;
}

void TContour::SetPoint(int32_t index, const TWorldPoint& p) {
  if (index < 0 || index >= Count())
    throw Exception(QStringLiteral("Неверный индекс изменяемой точки"));
  TContourCommandRec& rec = Rec(index);
  rec.Point = p;
  if (!Updating()) RecalcAround(index, rec.Kind);
}

TContourCommand TContour::GetCommand(int32_t index) const {
  if (index < 0 || index >= Count())
    throw Exception(QStringLiteral("Нет команды с таким индексом"));
  const TContourCommandRec& rec = Command(index);
  return {rec.Kind, rec.Point, KindIsArc(rec.Kind) ? Arc(rec.ArcIndex).Bulge : 0};
}

TContourKind TContour::GetKind(int32_t index) const {
  return static_cast<const TContourCommandRec*>(FCommands.GetPtr(index))->Kind;
}

TWorldPoint TContour::GetPoint(int32_t index) const {
  return static_cast<const TContourCommandRec*>(FCommands.GetPtr(index))->Point;
}

void TContour::Clear() {
  FCommands.Count = 0;
  FArcs.Count = 0;
  FVertexCount = 0;
}

void TContour::Assign(const TContour* source) {
  if (source == this) return;
  if (!source) {
    Clear();
    return;
  }
  FCommands.Assign(source->FCommands);
  FArcs.Assign(source->FArcs);
  FVertexCount = source->FVertexCount;
}

void TContour::BeginUpdate() {
  ++FUpdateCount;
}

void TContour::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0 && HasArcs()) RecalcAllArcs();
}

void TContour::Degrade(TContourCommandRec& rec) {
  rec.Kind = rec.Kind == ckArcTo ? ckLineTo : ckClose;
  rec.ArcIndex = NoArcIndex;
}

void TContour::RecalcArc(int32_t index) {
  if (index < 0 || index >= Count() || !KindIsArc(Rec(index).Kind)) return;
  TContourSegment s;
  if (!FirstSegment(s, *this, index, false) || !IsBulging(s.Bulge)) return;
  TContourCommandRec& rec = Rec(index);
  TWorldPoint center;
  double sweep;
  if (ArcFromBulge(s.P0, s.P1, s.Bulge, center, sweep)) {
    TContourArc& arc = *FArcs.At<TContourArc>(rec.ArcIndex);
    arc.Center = center;
    arc.Sweep = sweep;
    arc.Radius = PointDistance(center, s.P0);
  } else {
    Degrade(rec);
  }
}

void TContour::RecalcAround(int32_t index, TContourKind kind) {
  if (kind != ckMoveTo && index > 0) {
    RecalcArc(index);
    RecalcArc(index + 1);
    return;
  }
  // A figure's start may have moved: the piece after it and every close of the figure (with the
  // piece that follows the close, which starts from the figure's start) depend on it.
  RecalcArc(index + 1);
  for (int32_t m = index + 1; m < Count() && Rec(m).Kind != ckMoveTo; ++m) {
    if (KindIsClose(Rec(m).Kind)) {
      RecalcArc(m);
      RecalcArc(m + 1);
    }
  }
}

void TContour::RecalcAllArcs() {
  TContourSegment s;
  for (FirstSegment(s, *this, 1, false); !SegmentsDone(s); NextSegment(s)) {
    TContourCommandRec& rec = Rec(s.Index);
    if (!KindIsArc(rec.Kind)) continue;
    TContourArc& arc = *FArcs.At<TContourArc>(rec.ArcIndex);
    TWorldPoint center;
    double sweep;
    if (ArcFromBulge(s.P0, s.P1, arc.Bulge, center, sweep)) {
      arc.Center = center;
      arc.Sweep = sweep;
      arc.Radius = PointDistance(center, rec.Kind == ckArcTo ? s.P1 : s.P0);
    } else {
      Degrade(rec);
    }
  }
}

bool TContour::GetBounds(TWorldRect& r) const {
  bool found = false;
  for (int32_t i = 0; i < Count(); ++i) {
    const TContourCommandRec& rec = Command(i);
    if (!KindHasPoint(rec.Kind)) continue;
    if (found) {
      ExtendWorldRect(r, rec.Point);
    } else {
      r = {rec.Point.X, rec.Point.Y, rec.Point.X, rec.Point.Y};
      found = true;
    }
  }
  if (!found || !HasArcs()) return found;
  TContourSegment s;
  for (FirstSegment(s, *this, 1, false); !SegmentsDone(s); NextSegment(s)) {
    if (!KindIsArc(Command(s.Index).Kind) || !KindHasPoint(Command(s.P0Index).Kind) ||
        !KindHasPoint(Command(s.P1Index).Kind))
      continue;
    // An arc whose whole circle lies within the bounds so far cannot widen them.
    const TWorldRect circle{s.Center.X - s.Radius, s.Center.Y - s.Radius, s.Center.X + s.Radius,
                            s.Center.Y + s.Radius};
    if (!WorldRectContains(r, circle)) UnionWorldRect(r, ArcBounds(s));
  }
  return true;
}

namespace {

// The figure's first command: known once the walk has passed a ckMoveTo, otherwise found by
// looking back from the current command.
int32_t FigureStartOf(TContourSegment& s) {
  if (s.FigureStart < 0) {
    int32_t j = s.Index;
    while (j > 0 && s.Contour->Command(j).Kind != ckMoveTo) --j;
    s.FigureStart = j;
  }
  return s.FigureStart;
}

}  // namespace

bool FirstSegment(TContourSegment& s, const TContour& contour, int32_t index, bool skipEmpty) {
  s.Contour = &contour;
  s.SkipEmpty = skipEmpty;
  s.FigureStart = -1;
  s.Index = std::max(index, 0) - 1;
  NextSegment(s);
  return !SegmentsDone(s) && s.Index == index;
}

void NextSegment(TContourSegment& s) {
  const TContour& contour = *s.Contour;
  for (;;) {
    const int32_t prevIndex = s.Index;
    ++s.Index;
    if (s.Index >= contour.Count()) return;
    const TContourCommandRec& cur = contour.Command(s.Index);
    // A figure starts at every ckMoveTo and at the contour's first command; closes do not start
    // one: after a close the pen is back at the figure's start.
    if (s.Index == 0 || cur.Kind == ckMoveTo) {
      s.FigureStart = s.Index;
      continue;
    }
    s.P0Index = KindIsClose(contour.Command(prevIndex).Kind) ? FigureStartOf(s) : prevIndex;
    s.P1Index = KindIsClose(cur.Kind) ? FigureStartOf(s) : s.Index;
    s.P0 = contour.Command(s.P0Index).Point;
    s.P1 = contour.Command(s.P1Index).Point;
    if (KindIsArc(cur.Kind)) {
      const TContourArc& arc = contour.Arc(cur.ArcIndex);
      s.Bulge = arc.Bulge;
      s.Center = arc.Center;
      s.Sweep = arc.Sweep;
      s.Radius = arc.Radius;
    } else {
      s.Bulge = 0;
    }
    if (s.SkipEmpty && SamePoint(s.P0, s.P1)) continue;
    return;
  }
}

TWorldRect ArcBounds(const TContourSegment& s) {
  TWorldRect r = WorldRectFromPoints(s.P0, s.P1);
  if (!IsBulging(s.Bulge)) return r;
  static constexpr TWorldPoint Axes[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  const double start = VectorAngle(s.Center, s.P0);
  for (int i = 0; i < 4; ++i) {
    if (AngleInSweep(i * std::numbers::pi / 2, start, s.Sweep))
      ExtendWorldRect(r, {s.Center.X + s.Radius * Axes[i].X, s.Center.Y + s.Radius * Axes[i].Y});
  }
  return r;
}

namespace {

// The last command of the figure that starts at or contains index: the next close (included),
// the command before the next ckMoveTo, or the contour's last command.
int32_t FigureEnd(const TContour& contour, int32_t index) {
  for (int32_t last = index;; ++last) {
    const TContourKind kind = contour.Command(last).Kind;
    if (KindIsClose(kind)) return last;
    if (kind == ckMoveTo && last != index) return last - 1;
    if (last == contour.Count() - 1) return last;
  }
}

void SetFigure(TContourFigure& f, int32_t first, int32_t last) {
  f.First = first;
  f.Last = last;
  f.Closed = KindIsClose(f.Contour->Command(last).Kind);
}

void FinishFigures(TContourFigure& f) {
  f.First = 1;
  f.Last = 0;
  f.Closed = false;
}

}  // namespace

void FirstFigure(TContourFigure& f, const TContour& contour, int32_t index) {
  f.Contour = &contour;
  if (index < 0 || index >= contour.Count()) {
    FinishFigures(f);
    return;
  }
  int32_t first = index;
  while (first > 0) {
    const TContourKind kind = contour.Command(first).Kind;
    if (kind == ckLineTo || kind == ckArcTo || (first == index && KindIsClose(kind)))
      --first;
    else
      break;
  }
  // Stopped on the close of the previous figure: this one starts after it.
  if (first != index && KindIsClose(contour.Command(first).Kind)) ++first;
  SetFigure(f, first, FigureEnd(contour, index));
}

void NextFigure(TContourFigure& f) {
  const int32_t first = f.Last + 1;
  if (first >= f.Contour->Count()) {
    FinishFigures(f);
    return;
  }
  SetFigure(f, first, FigureEnd(*f.Contour, first));
}

namespace {

// The angle travelled from start to angle in the direction of the sweep, in [0, 2π).
double SweepOffset(double angle, double start, double sweep) {
  double d = std::fmod(sweep < 0 ? start - angle : angle - start, TwoPi);
  if (d < 0) d += TwoPi;
  return d;
}

// Clips one contour against the line of one side of a rectangle. It works in a frame in which the
// kept side is u >= 0 and which is a rotation of the world, so that arcs keep the sign of their
// bulges and sweeps.
class TClipper {
 public:
  TClipper(const TContour& source, const TWorldRect& r, TClipSide side, TContour& result)
      : FSource(source), FRect(r), FSide(side), FResult(result) {}

  void Run();

 private:
  enum TCode {
    cdDropped = 0,
    cdEntering = 1,
    cdKept = 2,
    cdLeaving = 3,
    cdPassingIn = 4,   // both ends outside, the arc enters and leaves in between
    cdPassingOut = 5,  // both ends inside, the arc leaves and comes back in between
  };

  TWorldPoint ToLocal(const TWorldPoint& p) const;
  TWorldPoint LinePoint(double v) const;
  bool StartsFigure(int32_t index) const;
  TCode Classify(const TContourSegment& s);
  void StartAt(const TWorldPoint& p);
  void AppendPiece(const TWorldPoint& from, const TWorldPoint& to);
  void AppendSourceFrom(const TContourSegment& s, const TWorldPoint& entry);

  const TContour& FSource;
  const TWorldRect FRect;
  const TClipSide FSide;
  TContour& FResult;
  // The current result figure has left the kept side and continues along the line.
  bool FOpenExit = false;
  // The last source command whose piece was handled, -1 before the first.
  int32_t FLastIndex = -1;
  // Of the current piece, when it is an arc: world centre and sweep direction.
  bool FIsArc = false;
  TWorldPoint FCenter;
  bool FNegative = false;
  // The crossings of the current piece with the line (world points).
  TWorldPoint FI1;
  TWorldPoint FI2;
};

TWorldPoint TClipper::ToLocal(const TWorldPoint& p) const {
  switch (FSide) {
    case TClipSide::Left:
      return {p.X - FRect.Left, p.Y};
    case TClipSide::Top:
      return {p.Y - FRect.Top, -p.X};
    case TClipSide::Right:
      return {FRect.Right - p.X, -p.Y};
    case TClipSide::Bottom:
      break;
  }
  return {FRect.Bottom - p.Y, p.X};
}

TWorldPoint TClipper::LinePoint(double v) const {
  switch (FSide) {
    case TClipSide::Left:
      return {FRect.Left, v};
    case TClipSide::Top:
      return {-v, FRect.Top};
    case TClipSide::Right:
      return {FRect.Right, -v};
    case TClipSide::Bottom:
      break;
  }
  return {v, FRect.Bottom};
}

// Whether the piece ending at index is the first handled piece of its figure: a ckMoveTo or a
// close lies between it and the previous handled piece. Looking at handled pieces rather than at
// the command before keeps figures apart when their first piece has zero length.
bool TClipper::StartsFigure(int32_t index) const {
  if (FLastIndex < 0) return true;
  for (int32_t j = FLastIndex; j < index; ++j) {
    const TContourKind kind = FSource.Command(j).Kind;
    if (kind == ckMoveTo || KindIsClose(kind)) return true;
  }
  return false;
}

TClipper::TCode TClipper::Classify(const TContourSegment& s) {
  const TWorldPoint start = ToLocal(s.P0);
  const TWorldPoint end = ToLocal(s.P1);
  const bool startIn = start.X >= 0;
  const bool endIn = end.X >= 0;
  FIsArc = IsBulging(s.Bulge) && !SamePoint(s.P0, s.P1);
  FCenter = s.Center;
  FNegative = s.Sweep < 0;
  if (!FIsArc) {
    if (startIn == endIn) return startIn ? cdKept : cdDropped;
    FI1 = FI2 = LinePoint(start.Y - (end.Y - start.Y) * start.X / (end.X - start.X));
    return startIn ? cdLeaving : cdEntering;
  }
  const TWorldPoint c = ToLocal(s.Center);
  const double h = std::sqrt(std::max(0.0, s.Radius * s.Radius - c.X * c.X));
  const TWorldPoint low{0, c.Y - h};
  const TWorldPoint high{0, c.Y + h};
  if (startIn == endIn) {
    // Ends on one side: the arc crosses the line (twice) exactly when its circle reaches across
    // and the arc passes through the circle's point furthest on the other side. Most arcs are
    // settled by the first test alone.
    const bool reaches = startIn ? c.X - s.Radius < 0 : c.X + s.Radius > 0;
    if (!reaches || !AngleInSweep(startIn ? std::numbers::pi : 0, VectorAngle(c, start), s.Sweep))
      return startIn ? cdKept : cdDropped;
    // Travelling with a positive sweep the arc enters at the low crossing and leaves at the high
    // one; I1 is where it enters, I2 where it leaves.
    FI1 = LinePoint(FNegative ? high.Y : low.Y);
    FI2 = LinePoint(FNegative ? low.Y : high.Y);
    return startIn ? cdPassingOut : cdPassingIn;
  }
  const double startAngle = VectorAngle(c, start);
  // One crossing. Should both crossings lie on the arc, one of them is an end touching the line:
  // the crossing that matters is the last one when leaving and the first one when entering.
  const bool lowOn = AngleInSweep(VectorAngle(c, low), startAngle, s.Sweep);
  const bool highOn = AngleInSweep(VectorAngle(c, high), startAngle, s.Sweep);
  double v = lowOn ? low.Y : high.Y;
  if (lowOn && highOn) {
    const bool lowFirst = SweepOffset(VectorAngle(c, low), startAngle, s.Sweep) <
                          SweepOffset(VectorAngle(c, high), startAngle, s.Sweep);
    v = lowFirst == startIn ? high.Y : low.Y;
  }
  FI1 = FI2 = LinePoint(v);
  return startIn ? cdLeaving : cdEntering;
}

void TClipper::StartAt(const TWorldPoint& p) {
  if (FOpenExit)
    FResult.LineTo(p);
  else
    FResult.MoveTo(p);
}

// The part of the current piece from one of its points to another.
void TClipper::AppendPiece(const TWorldPoint& from, const TWorldPoint& to) {
  if (FIsArc && !SamePoint(from, to))
    FResult.ArcTo(to, BulgeFromPoints(from, FCenter, to, FNegative));
  else
    FResult.LineTo(to);
}

// The source command of the piece, now starting at the entry point.
void TClipper::AppendSourceFrom(const TContourSegment& s, const TWorldPoint& entry) {
  const TContourCommand command = FSource.GetCommand(s.Index);
  if (!FIsArc) {
    FResult.AddCommand(command);
  } else if (SamePoint(entry, s.P1)) {
    FResult.AddCommand({command.Kind == ckArcTo ? ckLineTo : ckClose, command.Point, 0});
  } else {
    FResult.AddCommand(
        {command.Kind, command.Point, BulgeFromPoints(entry, FCenter, s.P1, FNegative)});
  }
}

void TClipper::Run() {
  FResult.Clear();
  TContourSegment s;
  for (FirstSegment(s, FSource, 0, false); !SegmentsDone(s); NextSegment(s)) {
    const bool isClose = KindIsClose(FSource.Command(s.Index).Kind);
    // Pieces of zero length add nothing, except a close, which keeps its figure closed.
    if (SamePoint(s.P0, s.P1) && !isClose) continue;
    const bool first = StartsFigure(s.Index);
    FLastIndex = s.Index;
    const TCode code = Classify(s);
    if (first) {
      FOpenExit = false;
      if (code == cdKept || code == cdLeaving || code == cdPassingOut) FResult.MoveTo(s.P0);
    }
    switch (code) {
      case cdDropped:
        break;
      case cdKept:
        FResult.AppendFrom(FSource, s.Index);
        break;
      case cdLeaving:
        AppendPiece(s.P0, FI2);
        FOpenExit = true;
        break;
      case cdEntering:
        StartAt(FI1);
        AppendSourceFrom(s, FI1);
        break;
      case cdPassingIn:
        StartAt(FI1);
        AppendPiece(FI1, FI2);
        FOpenExit = true;
        break;
      case cdPassingOut:
        AppendPiece(s.P0, FI2);
        FOpenExit = true;
        StartAt(FI1);
        AppendSourceFrom(s, FI1);
        break;
    }
    if (isClose) {
      // A figure that ends outside is closed along the line.
      if (FOpenExit && (code == cdDropped || code == cdLeaving || code == cdPassingIn))
        FResult.Close();
      FOpenExit = false;
    }
  }
}

}  // namespace

void ClipHalfPlane(const TContour& source, const TWorldRect& r, TClipSide side, TContour& result) {
  TClipper(source, r, side, result).Run();
}

TContour& ClipWork() {
  static TContour work;
  return work;
}

TContour& ClipSource() {
  static TContour source;
  return source;
}

void ClipToRect(const TWorldRect& r, const TWorldRect& b) {
  const std::pair<bool, TClipSide> cuts[] = {{b.Left < r.Left, TClipSide::Left},
                                             {b.Top < r.Top, TClipSide::Top},
                                             {b.Right > r.Right, TClipSide::Right},
                                             {b.Bottom > r.Bottom, TClipSide::Bottom}};
  for (const auto& [crosses, side] : cuts) {
    if (!crosses) continue;
    ClipSource().Swap(ClipWork());
    ClipHalfPlane(ClipSource(), r, side, ClipWork());
  }
}

TContourCache::TContourCache(int32_t size) {
  // Tracked contours only move between the two lists, so neither ever grows.
  FFree.reserve(size);
  FInUse.reserve(size);
  for (int32_t i = 0; i < size; ++i) FFree.push_back(new TContour);
}

TContourCache::~TContourCache() {
  for (TContour* c : FFree) delete c;
  for (TContour* c : FInUse) delete c;
}

TContour* TContourCache::Acquire() {
  if (FFree.empty()) return new TContour;
  TContour* c = FFree.back();
  FFree.pop_back();
  FInUse.push_back(c);
  return c;
}

TContour* TContourCache::AcquireCopy(const TContour& source) {
  return AcquireFilled([&](TContour& c) { c.Assign(&source); });
}

TContour* TContourCache::AcquireRect(const TWorldRect& r, bool closed) {
  return AcquireFilled([&](TContour& c) { c.AddRect(r, closed); });
}

void TContourCache::Release(TContour* contour) {
  if (!contour) return;
  const auto used = std::find(FInUse.rbegin(), FInUse.rend(), contour);
  if (used != FInUse.rend()) {
    contour->Clear();
    FInUse.erase(std::next(used).base());
    FFree.push_back(contour);
    return;
  }
  CheckInternal(std::find(FFree.begin(), FFree.end(), contour) == FFree.end(),
                QStringLiteral("TContourCache.Release"), QStringLiteral("контур уже возвращён"));
  delete contour;
}

TContourCache& ContourCache() {
  static TContourCache cache(20);
  return cache;
}
