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
};

struct TFoundNode {
  TNodeFinding Finding = TNodeFinding::NotFound;
  // Where the node's crossing is, in raster pixels with pixel (X, Y) at (X, Y): found crossings to
  // a fraction of a pixel; trusted and not found nodes where the grid has them.
  TWorldPoint Position;
  // How sure the scan is of a found crossing, from 0 to 1.
  double Confidence = 0;

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
  // (i, j) of every node not found, row by row.
  std::vector<TPoint> NotFound() const;
};

// Finds, for every node that the user has not moved, the crossing of the scan's grid lines near
// it: full lines or small crosses, dark on light. Moved nodes are trusted and predict their
// neighbours; without any, the search starts from the cell whose four crossings agree best with
// the lattice, and grows from there to each node's neighbours, so that a sheet that is bent,
// shrunk or turned a little is followed node by node. A node is found only when its crossing is
// clear and agrees with its neighbours; a blank scan or a lattice that does not fit the scan finds
// nothing. Reads only windows of the scan around the nodes, on the raster's thread; their analysis
// runs on every core. Reports "Поиск узлов сетки..." with its percentage.
TNodeSearch FindGridNodes(TRasterManager& raster, const TGridInfo& grid);

struct TAppliedNodes {
  int Found = 0;
  std::vector<TPoint> NotFound;  // (i, j), row by row
};

// Moves every found node of the grid onto its crossing (a crossing on the node's reference
// position leaves it unmoved); trusted and not found nodes keep their offsets. The grid must have
// the node counts of the search. A caller that offers undo keeps a copy of the grid beforehand.
TAppliedNodes ApplyFoundNodes(TGridInfo& grid, const TNodeSearch& search);
