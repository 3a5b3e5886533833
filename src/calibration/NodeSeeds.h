#pragma once

class TNodeFinder;

// Finds the first cell of the grid on the scan by itself: the cell whose four crossings agree best
// with each other and with the lattice (its sides as long as the lattice's within a few per cent,
// turned by a few degrees at most, opposite sides parallel, each crossing alone in its window), and
// takes its crossings as found. The lattice is laid as the user laid it, or through the nodes the
// user placed where they agree with it. The cell in the middle of the grid is tried first close to
// the lattice, then again further out with four spread over the grid, then others from the middle
// out, up to a bound: a lattice that does not fit the scan costs a bounded search and finds
// nothing. Where no cell agrees so, three crossings of a cell in an L, each alone in its window,
// start the search: on a small grid a blot or a label may hide a corner of every cell, and a grid
// drawn by hand has cells too uneven to be parallelograms. False when nothing agrees.
bool SeedNodes(TNodeFinder& finder);
