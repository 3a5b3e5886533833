#pragma once

#include <vector>

// The median of the values (the upper one of an even count), which are reordered; the values must
// not be empty.
double Median(std::vector<double>& values);
