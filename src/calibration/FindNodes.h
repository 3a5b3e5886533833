#pragma once

#include "Geomet.h"
#include "GridInfo.h"

#include <cstdint>
#include <vector>

class TRasterManager;

// What the search made of one node of the grid.
enum class TNodeFinding {
  Trusted,   // the user had moved it: it stays where it is and guides the search
  Found,     // the scan shows its crossing
  NotFound,  // no crossing the search could be sure of: it stays where it is
  Disputed,  // the scan shows a crossing, but not where the grid's other crossings put it: it stays
};

struct TFoundNode {
  TNodeFinding Finding = TNodeFinding::NotFound;
  // Where the node's crossing is, in raster pixels with pixel (X, Y) at (X, Y): found crossings to
  // a fraction of a pixel; the other nodes where the grid has them.
  TWorldPoint Position;
  // How sure the search is of a found crossing, from 0 to 1: the scan's evidence (how far its
  // lines go, how dark and straight they are) and how well it agrees with the other crossings.
  // For a disputed node, the evidence of the crossing it did not take.
  double Confidence = 0;
  // The grid's other crossings put the node elsewhere, so that the user looks there first: a
  // disputed node, or a node the user placed that they disagree with. Expected is where they put
  // it, Deviation how far that is from the crossing, in pixels.
  bool Disagrees = false;
  TWorldPoint Expected;
  double Deviation = 0;

  // The position as the grid stores it: the nearest pixel.
  TPoint Pixel() const { return RoundWorldPoint(Position); }
};

// The outcome of a search over the whole grid, node (i, j) at i + j·NX.
struct TNodeSearch {
  int32_t NX = 0;
  int32_t NY = 0;
  std::vector<TFoundNode> Nodes;

  const TFoundNode& At(int32_t i, int32_t j) const {
    return Nodes[static_cast<size_t>(i) + static_cast<size_t>(j) * NX];
  }
  int FoundCount() const;
  // The nodes the search looked for: all but the trusted ones.
  int SearchedCount() const;
  // (i, j) of every node looked for and left where it was (not found or disputed), row by row.
  std::vector<TPoint> NotFound() const;
  // (i, j) of every node the grid's other crossings put elsewhere, row by row.
  std::vector<TPoint> Disagreeing() const;
};

// Finds, for every node that the user has not moved, the crossing of the scan's grid lines near
// it: full lines or small crosses, dark on light, on a sheet that came out turned, shrunk, bent or
// folded, under map content. The search finds a first cell of the grid by itself, grows from it
// and from the nodes the user moved (trusted: they stay where they are) to the neighbours that the
// lattice learnt so far predicts, then takes back what disagrees with the lattice and looks once
// more, narrowly, where the lattice puts each node still missing. A crossing is the grid's when
// both its lines run through it in the grid's directions, thin, dark and straight, as far as the
// grid's own lines go (a plan's small crosses too), and it is the only one where the node's
// crossing can be. A node that is not sure stays where it was: also one under a label or a blot,
// and one whose crossing disagrees with the others. A blank scan or a lattice that does not fit
// the scan finds nothing, after a search bounded by the grid's size. Reads only windows of the
// scan around the nodes, on the raster's thread; their analysis runs on every core. Reports
// "Поиск узлов сетки..." with its percentage.
TNodeSearch FindGridNodes(TRasterManager& raster, const TGridInfo& grid);

struct TAppliedNodes {
  int Found = 0;
  std::vector<TPoint> NotFound;     // (i, j) of the nodes left in place, row by row
  std::vector<TPoint> Disagreeing;  // (i, j) of the nodes the other crossings put elsewhere
};

// Moves every found node of the grid onto its crossing (a crossing on the node's reference
// position leaves it unmoved); the other nodes keep their offsets. The grid must have the node
// counts of the search. A caller that offers undo keeps a copy of the grid beforehand.
TAppliedNodes ApplyFoundNodes(TGridInfo& grid, const TNodeSearch& search);
