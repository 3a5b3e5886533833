#pragma once

#include "Geomet.h"
#include "RecArrays.h"

#include <cstdint>
#include <vector>

// The drawing commands of a contour. A close draws back to the figure's start (the last
// ckMoveTo, or the contour's first command); it stores a point that nothing reads.
enum TContourKind : uint8_t {
  ckMoveTo = 0,
  ckLineTo = 1,
  ckArcTo = 2,
  ckClose = 3,
  ckCloseArc = 4,
};

inline bool KindHasPoint(TContourKind kind) {
  return kind <= ckArcTo;
}
inline bool KindIsArc(TContourKind kind) {
  return kind == ckArcTo || kind == ckCloseArc;
}
inline bool KindIsClose(TContourKind kind) {
  return kind == ckClose || kind == ckCloseArc;
}

// The public form of one command; Bulge is 0 for kinds without one.
struct TContourCommand {
  TContourKind Kind = ckMoveTo;
  TWorldPoint Point;
  double Bulge = 0;
};

// The arc data of an arc command: its bulge as given, and the centre, signed sweep (radians) and
// radius derived from the command's segment.
struct TContourArc {
  double Bulge = 0;
  TWorldPoint Center;
  double Sweep = 0;
  double Radius = 0;
};

// The stored form of a command: ArcIndex points into the contour's Arcs for arc kinds and is
// NoArcIndex for every other command.
inline constexpr uint32_t NoArcIndex = 0xFFFFFFFF;

struct TContourCommandRec {
  TContourKind Kind;
  uint32_t ArcIndex;
  TWorldPoint Point;
};

// The program's vector path: move, line, arc by bulge and close commands in world or page
// coordinates, several figures in one object. Outside a BeginUpdate/EndUpdate bracket the arc data
// follow every change; inside it they are re-derived once when the bracket closes. A failed arc
// derivation is not an error: the command silently becomes straight.
class TContour {
 public:
  TContour();
  ~TContour();
  TContour(const TContour&) = delete;
  TContour& operator=(const TContour&) = delete;

  // Building; each returns the new command's index.
  int32_t MoveTo(const TWorldPoint& p);
  int32_t LineTo(const TWorldPoint& p);
  int32_t ArcTo(const TWorldPoint& p, double bulge);
  int32_t Close();
  int32_t CloseArc(double bulge);
  int32_t AddCommand(const TContourCommand& command);
  void AddRect(const TWorldRect& r, bool closed);
  void AddCircle(const TWorldPoint& center, bool closed, double radius);

  // Appends command index of source together with its arc data as they stand, without deriving
  // them again: for callers that keep the piece where it starts in the source.
  int32_t AppendFrom(const TContour& source, int32_t index);
  // Exchanges the commands of two contours (the change brackets stay).
  void Swap(TContour& other);

  // Inserts before index (index = Count() appends).
  void InsertCommand(int32_t index, const TContourCommand& command);
  void DeleteCommand(int32_t index);
  // False, changing nothing, when the command equals the one at index.
  bool ReplaceCommand(int32_t index, const TContourCommand& command);
  // Replaces the point of any kind of command.
  void SetPoint(int32_t index, const TWorldPoint& p);
  TContourCommand GetCommand(int32_t index) const;
  TContourKind GetKind(int32_t index) const;
  TWorldPoint GetPoint(int32_t index) const;

  int32_t Count() const { return FCommands.Count; }
  // Commands of the kinds that carry a point.
  int32_t VertexCount() const { return FVertexCount; }
  bool HasArcs() const { return FArcs.Count > 0; }
  // Direct access for in-place conversions: records of TContourCommandRec and TContourArc.
  TRecArray& Commands() { return FCommands; }
  const TRecArray& Commands() const { return FCommands; }
  TRecArray& Arcs() { return FArcs; }
  const TRecArray& Arcs() const { return FArcs; }
  const TContourCommandRec& Command(int32_t index) const {
    return *FCommands.At<TContourCommandRec>(index);
  }
  const TContourArc& Arc(uint32_t arcIndex) const { return *FArcs.At<TContourArc>(arcIndex); }

  // Empties the contour and keeps the arrays' capacity.
  void Clear();
  // Copies source; null clears, the contour itself changes nothing.
  void Assign(const TContour* source);
  void BeginUpdate();
  void EndUpdate();
  // The bounding rectangle, arcs included; false when no command carries a point.
  bool GetBounds(TWorldRect& r) const;

 private:
  TContourCommandRec& Rec(int32_t index) { return *FCommands.At<TContourCommandRec>(index); }
  bool Updating() const { return FUpdateCount > 0; }
  void StoreCommand(int32_t index, TContourKind kind, const TWorldPoint& p, const TContourArc& arc);
  void Degrade(TContourCommandRec& rec);
  void RecalcArc(int32_t index);
  void RecalcAround(int32_t index, TContourKind kind);
  void RecalcAllArcs();

  int32_t FUpdateCount = 0;
  int32_t FVertexCount = 0;
  TRecArray FCommands;
  TRecArray FArcs;
};

// A walk over the straight and arc pieces of a contour. P0 and P1 are the piece's ends; the arc
// data are those of the command for arc kinds, and Bulge is 0 for straight pieces.
struct TContourSegment {
  TWorldPoint P0;
  TWorldPoint P1;
  double Bulge = 0;
  TWorldPoint Center;
  double Sweep = 0;
  double Radius = 0;

  const TContour* Contour = nullptr;
  // The command that ends the current piece.
  int32_t Index = 0;
  // The current figure's first command, -1 while unknown.
  int32_t FigureStart = -1;
  int32_t P0Index = -1;
  int32_t P1Index = -1;
  bool SkipEmpty = false;
};

// Positions s on the piece that ends at command index; true when there is one. With skipEmpty
// pieces of zero length are passed over.
bool FirstSegment(TContourSegment& s, const TContour& contour, int32_t index, bool skipEmpty);
void NextSegment(TContourSegment& s);
inline bool SegmentsDone(const TContourSegment& s) {
  return s.Index >= s.Contour->Count();
}

// The bounding rectangle of a piece, with the extreme points of an arc's circle that the arc
// passes through.
TWorldRect ArcBounds(const TContourSegment& s);

// A walk over the figures of a contour: First and Last are command indices, inclusive.
struct TContourFigure {
  const TContour* Contour = nullptr;
  int32_t First = 1;
  int32_t Last = 0;
  bool Closed = false;
};

// The figure that contains command index; an index out of range finishes the walk at once.
void FirstFigure(TContourFigure& f, const TContour& contour, int32_t index);
void NextFigure(TContourFigure& f);
inline bool FiguresDone(const TContourFigure& f) {
  return f.Last < f.First;
}

enum class TClipSide { Left, Top, Right, Bottom };

// Keeps the part of every figure of source that lies on r's side of the line of the given side of
// r, into result (cleared first). A closed figure stays closed, its cut running along the line;
// a point on the line counts as kept.
void ClipHalfPlane(const TContour& source, const TWorldRect& r, TClipSide side, TContour& result);

// Clips the shared ClipWork in place to r, where b is ClipWork's bounds: only the sides of r that
// b crosses are cut. Callers copy the contour to draw into ClipWork, clip, and draw ClipWork.
void ClipToRect(const TWorldRect& r, const TWorldRect& b);

// The shared scratch contours of the clip; one clip at a time.
TContour& ClipWork();
TContour& ClipSource();

// Recycles contours so that painting and mouse tracking do not allocate once the pool is warm.
// It owns the contours it creates; when none is free it hands out an untracked contour, which the
// release destroys.
class TContourCache {
 public:
  explicit TContourCache(int32_t size);
  ~TContourCache();
  TContourCache(const TContourCache&) = delete;
  TContourCache& operator=(const TContourCache&) = delete;

  TContour* Acquire();
  TContour* AcquireCopy(const TContour& source);
  TContour* AcquireRect(const TWorldRect& r, bool closed);
  void Release(TContour* contour);

  int32_t FreeCount() const { return static_cast<int32_t>(FFree.size()); }
  int32_t InUseCount() const { return static_cast<int32_t>(FInUse.size()); }

 private:
  // Acquires a contour and fills it, giving it back should the filling fail.
  template <typename Fill>
  TContour* AcquireFilled(Fill fill) {
    TContour* c = Acquire();
    try {
      fill(*c);
    } catch (...) {
      Release(c);
      throw;
    }
    return c;
  }

  std::vector<TContour*> FFree;
  std::vector<TContour*> FInUse;
};

// The process-wide cache of 20 contours, created on first use.
TContourCache& ContourCache();

// Holds a contour of the process-wide cache for one scope and gives it back also when an
// exception passes.
class TContourLease {
 public:
  TContourLease() : FContour(ContourCache().Acquire()) {}
  ~TContourLease() { ContourCache().Release(FContour); }
  TContourLease(const TContourLease&) = delete;
  TContourLease& operator=(const TContourLease&) = delete;

  TContour& operator*() const { return *FContour; }
  TContour* operator->() const { return FContour; }

 private:
  TContour* FContour;
};
