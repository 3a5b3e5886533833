#pragma once

class TNodeFinder;

// The passes of the search after its first cell (NodeSeeds). Each reports its progress from first
// to last percent.

// Grows from the known crossings out to their neighbours, round by round: each round looks for the
// nodes that the lattice predicts best, all at once, within the prediction's reach, and takes a
// crossing only when it is sure, clear of other lines, like the grid's crossings found so far, and
// alone where the node's crossing could be. A node is looked for again when more crossings around
// it have become known.
void GrowNodes(TNodeFinder& finder, double first, double last);

// Takes back found crossings that the lattice of the other crossings puts elsewhere, the worst of
// each neighbourhood first, and remembers them; returns how many.
int CheckNodes(TNodeFinder& finder);

// Whether the grid the search followed has the lattice's cells, within the few per cent a sheet
// shrinks or swells: lines every 37 pixels do not make a lattice of 100, nor every 111.
bool FitsTheLattice(TNodeFinder& finder);

// Takes back every found crossing, remembering none.
void ForgetFound(TNodeFinder& finder);

// Looks once more for every node not found, narrowly around where the lattice of all the found
// crossings puts it: there a crossing needs less of the scan's own evidence (clutter at a
// crossing shortens its arms and widens its lines, but does not move it there), yet it must be
// the only one that agrees.
void NarrowNodes(TNodeFinder& finder, double first, double last);
