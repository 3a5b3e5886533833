#pragma once

class TNodeFinder;

// Finds the first cell of the grid on the scan by itself: the cell whose four crossings agree best
// with each other and with the lattice (its sides as long as the lattice's within a few per cent,
// turned by a few degrees at most, opposite sides parallel, each crossing alone in its window), and
// takes its crossings as found. The lattice is laid as the user laid it, or through the nodes the
// user placed where they agree with it. The cell in the middle of the grid and four spread over it
// are tried first, then others from the middle out, up to a bound: a lattice that does not fit the
// scan costs a bounded search and finds nothing. False when no cell agrees.
bool SeedNodes(TNodeFinder& finder);
