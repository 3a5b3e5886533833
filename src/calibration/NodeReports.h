#pragma once

#include "FindNodes.h"

#include <QStringList>

// Found nodes less sure than this are named in the report, so that the user looks at them.
constexpr double kUnsureNode = 0.5;

// What a search made of the grid, in lines for the user: how many nodes it found of those it looked
// for; then the nodes left where they were for want of a crossing; those left because their
// crossing disagrees with the other crossings; the nodes placed by hand that the other crossings
// put elsewhere; and the nodes found without much confidence. Each list names its first nodes, at
// most limit, and counts the rest.
QStringList NodeSearchReport(const TNodeSearch& search, int limit);
