#include "GridPainters.h"

#include "Contours.h"
#include "Cursors.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array<std::array<int32_t, 2>, 4> kNeighbours{{{-1, 0}, {1, 0}, {0, -1}, {0, 1}}};
// A node found this sure gets its whole ring; a ring is never shorter than this share of one, so
// that the least sure mark still shows.
constexpr double kWholeRing = 0.995;
constexpr double kLeastArc = 0.05;

void AddCircle(TContour& c, const TWorldPoint& centre, double radius) {
  c.MoveTo(TWorldPoint{centre.X + radius, centre.Y});
  c.ArcTo(TWorldPoint{centre.X - radius, centre.Y}, 1);
  c.CloseArc(1);
}

// The share of a circle from its top, clockwise on the screen (page coordinates grow upwards), in
// short chords.
void AddArc(TContour& c, const TWorldPoint& centre, double radius, double share) {
  constexpr int kChords = 32;
  constexpr double kTurn = 6.283185307179586;
  const int chords = std::max(1, static_cast<int>(std::ceil(kChords * share)));
  c.MoveTo(TWorldPoint{centre.X, centre.Y + radius});
  for (int k = 1; k <= chords; ++k) {
    const double angle = kTurn * share * k / chords;
    c.LineTo(TWorldPoint{centre.X + radius * std::sin(angle), centre.Y + radius * std::cos(angle)});
  }
}

TLineStyle Solid(TColor color) {
  return MakeLineStyle(psSolid, color, pmCopy, 0, 0);
}

class TGridPainter {
 public:
  TGridPainter(const TDeviceInfo& device, TCanvas& canvas, const TGridCalibratorOptions& options,
               const TGridShown& shown)
      : FDevice(device),
        FCanvas(canvas),
        FOptions(options),
        FGrid(shown.Grid),
        FShown(shown),
        FPlaces(device),
        FRadius(options.GridNodeRadius) {
    // Marks beyond the painted area are not built at all: a fine grid has many.
    device.Projection()->PageRectToWorld(device.PageClipRect(), FVisible);
    const double margin = 2 * FRadius / device.Projection()->GetScale() + 1;
    InflateWorldRect(FVisible, margin, margin);
  }

  void Paint() {
    PaintFolded();
    PaintReference();
    PaintMoved();
    PaintMissed();
    PaintDisagreeing();
    PaintSelected();
  }

 private:
  bool Shown(const TPoint& p) const {
    return PtInWorldRect(FVisible, TWorldPoint{p.X + 0.5, p.Y + 0.5});
  }
  // Whether a segment between two nodes may cross the painted area.
  bool Shown(const TPoint& a, const TPoint& b) const {
    return WorldRectsOverlap(FVisible, WorldRectFromPoints(TWorldPoint{a.X + 0.5, a.Y + 0.5},
                                                           TWorldPoint{b.X + 0.5, b.Y + 0.5}));
  }
  void AddSegment(TContour& c, const TPoint& a, const TPoint& b) const {
    c.MoveTo(FPlaces.Page(a));
    c.LineTo(FPlaces.Page(b));
  }
  void Draw(const TContour& c, const TFillStyle& fill, const TLineStyle& line) {
    DrawPageContour(FDevice, FCanvas, c, fill, line);
  }

  void PaintFolded() {
    if (FShown.Folded.empty()) return;
    TContourLease cells;
    for (const TPoint& cell : FShown.Folded) {
      if (cell.X + 1 >= FGrid.NX || cell.Y + 1 >= FGrid.NY) continue;
      cells->MoveTo(FPlaces.Page(FGrid.NodePos(cell.X, cell.Y)));
      cells->LineTo(FPlaces.Page(FGrid.NodePos(cell.X + 1, cell.Y)));
      cells->LineTo(FPlaces.Page(FGrid.NodePos(cell.X + 1, cell.Y + 1)));
      cells->LineTo(FPlaces.Page(FGrid.NodePos(cell.X, cell.Y + 1)));
      cells->Close();
    }
    // Hatched in the colour of trouble, the picture showing through.
    Draw(*cells, MakeFillStyle(bsSolid, FOptions.MissedNodeColor, FOptions.MissedNodeColor, 4),
         Solid(FOptions.MissedNodeColor));
  }

  void PaintReference() {
    {
      TContourLease lattice;
      const int32_t last = FGrid.NX - 1;
      const int32_t bottom = FGrid.NY - 1;
      for (int32_t j = 0; j < FGrid.NY; ++j)
        AddSegment(*lattice, FGrid.RefPos(0, j), FGrid.RefPos(last, j));
      for (int32_t i = 0; i < FGrid.NX; ++i)
        AddSegment(*lattice, FGrid.RefPos(i, 0), FGrid.RefPos(i, bottom));
      Draw(*lattice, HollowFill, Solid(FOptions.SrcGridColor));
    }
    TContourLease marks;
    for (int32_t j = 0; j < FGrid.NY; ++j)
      for (int32_t i = 0; i < FGrid.NX; ++i)
        if (!FGrid.NodeAt(i, j).IsMoved() && Shown(FGrid.RefPos(i, j)))
          AddCircle(*marks, FPlaces.Page(FGrid.RefPos(i, j)), FRadius);
    Draw(*marks, HollowFill, Solid(FOptions.SrcGridColor));
  }

  void PaintMoved() {
    TContourLease moved;
    TContourLease marks;
    TContourLease shifts;
    for (int32_t j = 0; j < FGrid.NY; ++j)
      for (int32_t i = 0; i < FGrid.NX; ++i) {
        if (!FGrid.NodeAt(i, j).IsMoved()) continue;
        const TPoint p = FGrid.NodePos(i, j);
        for (const auto& [di, dj] : kNeighbours) {
          const int32_t ni = i + di;
          const int32_t nj = j + dj;
          if (ni < 0 || ni >= FGrid.NX || nj < 0 || nj >= FGrid.NY) continue;
          const TPoint q = FGrid.NodePos(ni, nj);
          if (Shown(p, q)) AddSegment(*moved, p, q);
        }
        if (Shown(p)) AddMark(*marks, i, j, FPlaces.Page(p));
        if (Shown(p, FGrid.RefPos(i, j))) AddSegment(*shifts, p, FGrid.RefPos(i, j));
      }
    Draw(*moved, HollowFill, Solid(FOptions.DstGridColor));
    Draw(*marks, HollowFill, Solid(FOptions.DstGridColor));
    Draw(*shifts, HollowFill, MakeLineStyle(psDot, FOptions.DstGridColor, pmCopy, 0, 0));
  }

  void PaintMissed() {
    if (FShown.Missed.empty()) return;
    // A ring twice a node's size with a cross in it: the user's eye finds it on a busy sheet.
    const double radius = 2 * FRadius;
    TContourLease marks;
    for (const TPoint& n : FShown.Missed) {
      if (n.X >= FGrid.NX || n.Y >= FGrid.NY) continue;
      const TWorldPoint c = FPlaces.Page(FGrid.NodePos(n.X, n.Y));
      AddCircle(*marks, c, radius);
      marks->MoveTo(TWorldPoint{c.X - radius, c.Y});
      marks->LineTo(TWorldPoint{c.X + radius, c.Y});
      marks->MoveTo(TWorldPoint{c.X, c.Y - radius});
      marks->LineTo(TWorldPoint{c.X, c.Y + radius});
    }
    Draw(*marks, HollowFill, Solid(FOptions.MissedNodeColor));
  }

  // A moved node's ring; that of a node the last search found closes as far as it is sure.
  void AddMark(TContour& marks, int32_t i, int32_t j, const TWorldPoint& at) const {
    const size_t k = static_cast<size_t>(i) + static_cast<size_t>(j) * FGrid.NX;
    const double sure = k < FShown.Sureness.size() ? FShown.Sureness[k] : -1;
    if (sure < 0 || sure >= kWholeRing)
      AddCircle(marks, at, FRadius);
    else
      AddArc(marks, at, FRadius, std::max(sure, kLeastArc));
  }

  void PaintDisagreeing() {
    if (FShown.Disagreeing.empty()) return;
    // A diamond twice a node's size around it: the crossing the search saw there, or the node
    // placed by hand, is not where the grid's other crossings put it.
    const double half = 2 * FRadius;
    TContourLease marks;
    for (const TPoint& n : FShown.Disagreeing) {
      if (n.X >= FGrid.NX || n.Y >= FGrid.NY) continue;
      const TWorldPoint c = FPlaces.Page(FGrid.NodePos(n.X, n.Y));
      marks->MoveTo(TWorldPoint{c.X, c.Y + half});
      marks->LineTo(TWorldPoint{c.X + half, c.Y});
      marks->LineTo(TWorldPoint{c.X, c.Y - half});
      marks->LineTo(TWorldPoint{c.X - half, c.Y});
      marks->Close();
    }
    Draw(*marks, HollowFill, Solid(FOptions.MissedNodeColor));
  }

  void PaintSelected() {
    if (!FShown.Selected) return;
    const TPoint n = *FShown.Selected;
    if (n.X >= FGrid.NX || n.Y >= FGrid.NY) return;
    const TWorldPoint c = FPlaces.Page(FGrid.NodePos(n.X, n.Y));
    TContourLease rings;
    AddCircle(*rings, c, 1.6 * FRadius);
    AddCircle(*rings, c, 1.6 * FRadius + FDevice.PixelsToPage(2));
    Draw(*rings, HollowFill, Solid(FOptions.DstGridColor));
  }

  const TDeviceInfo& FDevice;
  TCanvas& FCanvas;
  const TGridCalibratorOptions& FOptions;
  const TGridInfo& FGrid;
  const TGridShown& FShown;
  TNodePlaces FPlaces;
  double FRadius;
  TWorldRect FVisible;
};

}  // namespace

TNodePlaces::TNodePlaces(const TDeviceInfo& device)
    : FDevice(device), FToDevice(device.WorldToDeviceTransform()) {}

TPoint TNodePlaces::Device(const TPoint& pixel) const {
  const QPointF d = FToDevice.map(QPointF(pixel.X + 0.5, pixel.Y + 0.5));
  return TPoint{FloorToInt(std::clamp(d.x(), -MaxDeviceCoord, MaxDeviceCoord)),
                FloorToInt(std::clamp(d.y(), -MaxDeviceCoord, MaxDeviceCoord))};
}

TWorldPoint TNodePlaces::Page(const TPoint& pixel) const {
  return FDevice.DeviceToPage(Device(pixel));
}

void PaintGrid(const TDeviceInfo& device, TCanvas& canvas, const TGridCalibratorOptions& options,
               const TGridShown& shown) {
  TGridPainter(device, canvas, options, shown).Paint();
}
