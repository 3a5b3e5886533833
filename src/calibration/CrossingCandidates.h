#pragma once

#include "Crossings.h"

#include <cstdint>
#include <vector>

// A point of a window where two lines may cross, in window pixels, scored by the darkness of its
// weakest needed arm along the search's directions.
struct TCandidate {
  int X = 0;
  int Y = 0;
  uint32_t Score = 0;
};

// The strongest candidates within the search's reach, at most count and one to a neighbourhood,
// strongest first. The arms start gap pixels from the point, clear of the other line.
std::vector<TCandidate> FindCandidates(const TDarkWindow& window, const TCrossingSearch& search,
                                       int gap, int count);
