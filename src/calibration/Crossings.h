#pragma once

#include "DarkWindows.h"
#include "Types.h"

#include <vector>

// Positions here are raster pixels as the grid counts them: pixel (X, Y) lies at (X, Y), so that a
// crossing whose centre pixel is (X, Y) rounds to the node position (X, Y).

// Where to look for one crossing of two grid lines, and what the crossing must show.
struct TCrossingSearch {
  // The predicted crossing and how far from it the crossing may lie, across and down.
  double X = 0;
  double Y = 0;
  int RadiusX = 0;
  int RadiusY = 0;
  // The predicted directions of the two lines: dy/dx of the line across, dx/dy of the line down.
  double SlopeAcross = 0;
  double SlopeDown = 0;
  // Directions taken from crossings already found are close; otherwise the lines may turn by a
  // few degrees, and the search lets them drift further along their arms.
  bool DirectionsKnown = false;
  // The length of line, in pixels, that counts as a whole arm: the grid's own arms where they are
  // known (a plan's small crosses have short ones).
  int Arm = 16;
  // How far along each arm the lines are followed and fitted.
  int Fit = 32;
  // How wide the grid's lines are, in pixels, where known (otherwise 0): what lies beside a line
  // beyond that does not place it.
  double LineWidth = 0;
  // The arms that must be seen: on the grid's border the lines may end at the crossing.
  bool NeedLeft = true;
  bool NeedRight = true;
  bool NeedUp = true;
  bool NeedDown = true;

  // The rectangle of the scan the search reads (right and bottom exclusive).
  TRect Window() const;
};

// A crossing seen in a window.
struct TCrossing {
  double X = 0;
  double Y = 0;
  // The directions of its lines as fitted: dy/dx across, dx/dy down.
  double SlopeAcross = 0;
  double SlopeDown = 0;
  // How far the shortest needed arm goes from the crossing, up to the search's fit.
  double Reach = 0;
  // The width of its wider line where it is darker than half way, in pixels: a line that merges
  // with a road or a word beside it is wider than the grid's. And that of its narrower line.
  double Width = 0;
  double NarrowWidth = 0;
  // The weaker line's darkness over the paper, in levels.
  double Contrast = 0;
  // How far the lines' samples stray from straight lines, in pixels (root mean square).
  double Scatter = 0;
  // How far the crossing may be off across and down, in pixels: its lines' samples scatter, and
  // lines wider than the grid's may have something merged with one side.
  double SpreadX = 0;
  double SpreadY = 0;
  // No other line runs close beside its lines: otherwise it may lie on the other line.
  bool Clear = true;
  // How sure the scan is of it, from 0 to 1: the shortest needed arm against a whole arm, the
  // lines' contrast against the window's grain, and their straightness.
  double Confidence = 0;
};

// The crossings that the window shows within the search's reach, surest first. A crossing is two
// lines in the search's directions that come out of it on every needed side, with ink where they
// cross: a crossing under a label's white halo or under a blot is not one the scan shows.
std::vector<TCrossing> FindCrossings(const TDarkWindow& window, const TCrossingSearch& search);
