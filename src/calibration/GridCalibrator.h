#pragma once

#include "Canvases.h"

// The user's settings that the grid calibrator reads: the radius of a node's mark and grip area in
// metres of the displayed page, and the colours of the reference and the moved grid. The
// application's options extend these.
struct TGridCalibratorOptions {
  double GridNodeRadius = 0.001;
  TColor SrcGridColor = 0x008000;
  TColor DstGridColor = 0x0000FF;
};
