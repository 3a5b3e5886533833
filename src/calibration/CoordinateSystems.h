#pragma once

#include <QString>

#include <vector>

// A projected coordinate reference system of PROJ's database, in which a grid's map coordinates
// are stated.
struct TCoordinateSystem {
  QString Id;    // "EPSG:28407"; the text it was given by when the database has no code for it
  QString Name;  // "Pulkovo 1942 / Gauss-Kruger zone 7"
};

// Finds a CRS by its code ("EPSG:28407"), its name or its definition (WKT, a PROJ string). Raises
// an error naming the problem when PROJ knows none, knows several by that name, or the CRS is not
// projected in metres (the grid's steps on the ground are metres); the message says what is wrong
// with the CRS, for the caller to put after the text it was given.
TCoordinateSystem FindCoordinateSystem(const QString& text);

// The CRS as well-known text: ESRI's dialect, which .prj files beside rasters hold, or the current
// standard one. The CRS must be one FindCoordinateSystem accepts.
enum class TWktDialect { Esri, Standard };
QString CoordinateSystemWkt(const QString& id, TWktDialect dialect);

// Every projected CRS of the database that is still in use, by code, for a list to choose from.
std::vector<TCoordinateSystem> ProjectedCoordinateSystems();
