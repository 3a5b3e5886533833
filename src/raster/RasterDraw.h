#pragma once

// TRasterManager::Draw, the raster's picture in a view, is declared with the manager and defined
// in RasterDraw.cpp; the pictures of the parts it draws are PartPictures'.
#include "Canvases.h"
#include "Devices.h"
#include "RasterManagers.h"

// The raster pixels of a part that the device's clip area needs, widened by a pixel on each side
// where the part goes on, so that neighbouring parts overlap instead of leaving a seam at any
// zoom. Empty (all zero) when the part lies outside the clip area.
TRect PartSourceRect(const TDeviceInfo& device, const TRasterPart& part);
