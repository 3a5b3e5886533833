#pragma once

// TRasterManager::Draw, the raster's picture in a view, is declared with the manager and defined
// in RasterDraw.cpp; the pictures of the parts it draws are PartPictures'.
//
// In a view whose axes are the raster's (zoomed, flipped, not turned), every device pixel of the
// canvas's clip box whose centre lies on the raster is drawn from the raster as one picture,
// whatever parts it is stored in, so that no seam shows where parts meet:
// - magnified along an axis (a device pixel at most one raster pixel long), the device pixel takes
//   the raster pixel under its centre: pixels show as crisp squares;
// - reduced along an axis, it takes the average of what it covers, each box of the part pictures'
//   level (see TPartPictures::LevelFor) weighed by how much of it the device pixel covers, with
//   the device pixel's edges taken to a sixteenth of a raster pixel (kDrawSubpixels), so that thin
//   lines stay visible and the weights are whole numbers;
// - the two axes combine as products of their weights: each channel is its weighed sum times the
//   reciprocal of the product of the two axes' sums of weights, rounded to the nearest.
// Turned views draw each part's picture through the canvas.
#include "Canvases.h"
#include "Devices.h"
#include "RasterManagers.h"

inline constexpr int kDrawSubpixels = 16;

// The raster pixels of a part that the device's clip area needs, widened by a pixel on each side
// where the part goes on, so that neighbouring parts overlap. Empty (all zero) when the part lies
// outside the clip area. Turned views draw with it.
TRect PartSourceRect(const TDeviceInfo& device, const TRasterPart& part);
