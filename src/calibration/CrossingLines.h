#pragma once

#include "Crossings.h"

// Measures the crossing of the two lines that pass near the window point (x, y) in the search's
// directions: each line is followed along both its arms, profile by profile across it, and fitted
// as a straight line through the middles of its profiles; the crossing is where the two fits
// meet. gap is how far from the crossing the arms start, threshold the least contrast of a line
// over the paper. False when the point is no crossing of two such lines within the search's reach:
// a line is missing or too steep, a needed arm does not come out of the crossing, or there is no
// ink where the lines cross.
bool MeasureCrossing(const TDarkWindow& window, const TCrossingSearch& search, int gap,
                     double threshold, double x, double y, TCrossing& crossing);
