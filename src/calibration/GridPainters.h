#pragma once

#include "Canvases.h"
#include "Devices.h"
#include "GridInfo.h"

#include <QTransform>

#include <optional>
#include <vector>

// The user's settings that the grid calibrator reads: the radius of a node's mark and grip area in
// metres of the displayed page, the colours of the reference and the moved grid, and the colour
// that marks trouble: the nodes a search did not find and the cells that folded. The
// application's options extend these.
struct TGridCalibratorOptions {
  double GridNodeRadius = 0.001;
  TColor SrcGridColor = 0x008000;
  TColor DstGridColor = 0x0000FF;
  TColor MissedNodeColor = 0xFF00FF;
};

// Where nodes are drawn on a device, in page coordinates. A node stands for its pixel (the
// calibration takes that pixel's colour to the node's reference place): it is drawn on the device
// pixel that shows the middle of it, so that at any zoom the mark sits on the pixel it takes.
class TNodePlaces {
 public:
  explicit TNodePlaces(const TDeviceInfo& device);
  // The device pixel of a node at a raster pixel, and its page point.
  TPoint Device(const TPoint& pixel) const;
  TWorldPoint Page(const TPoint& pixel) const;

 private:
  const TDeviceInfo& FDevice;
  QTransform FToDevice;  // taken once: a grid has many nodes
};

// What the calibrator shows of its grid.
struct TGridShown {
  const TGridInfo& Grid;
  const std::vector<TPoint>& Missed;  // (i, j) of the nodes a search did not find
  // (i, j) of the nodes the grid's other crossings put elsewhere, by the last search.
  const std::vector<TPoint>& Disagreeing;
  // How sure the last search is of each node it found, from 0 to 1, at i + j·NX; none (below 0)
  // for the others, or no entries at all.
  const std::vector<double>& Sureness;
  const std::vector<TPoint>& Folded;  // (i, j) of the cells that folded
  std::optional<TPoint> Selected;     // (i, j) of the node the keys move
};

// Paints the grid over the picture of a device, in layers: the folded cells hatched, the
// reference lattice with the marks of its unmoved nodes, the moved grid with its marks (the mark of
// a node a search found closes as far as the search is sure of it), a dotted line from each moved
// node to its reference place, the rings of the nodes a search missed and the diamonds of those
// whose crossing the others put elsewhere, and the selected node ringed twice. Marks keep their
// size on the screen at every zoom.
void PaintGrid(const TDeviceInfo& device, TCanvas& canvas, const TGridCalibratorOptions& options,
               const TGridShown& shown);
