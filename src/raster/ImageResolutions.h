#pragma once

#include "Streams.h"

#include <cstdint>
#include <optional>
#include <utility>

// The resolution a PNG states in its pHYs chunk, or a JPEG in its JFIF header, in dots per metre
// across and down: what GDAL does not tell of these files. None when the file states none, or only
// an aspect ratio, or is neither; a file cut short is no error here.
std::optional<std::pair<int32_t, int32_t>> StatedResolution(THandleStream& stream);
