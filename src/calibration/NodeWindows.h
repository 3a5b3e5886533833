#pragma once

#include "Crossings.h"
#include "DarkWindows.h"

#include <cstddef>
#include <functional>
#include <vector>

// The crossings of every search, in order. The windows are read on this thread, the raster's, by
// bands of windows that share rows, and analysed as soon as they are read on every core, this
// thread included once it has read them all or while too many wait. progress is called on this
// thread with the number of windows analysed so far. An error of any analysis reaches the caller
// once all threads stopped.
std::vector<std::vector<TCrossing>> FindCrossingsAround(
    const TDarkReader& reader, const std::vector<TCrossingSearch>& searches,
    const std::function<void(size_t analysed)>& progress);
