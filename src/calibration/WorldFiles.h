#pragma once

#include "GridInfo.h"

#include <QString>
#include <QStringList>

// Writes beside a BMP the files by which GIS programs place it on the map: the world file
// (NAME.bpw, and NAME.wld, which more programs look for), the CRS as ESRI's WKT (NAME.prj), and the
// CRS once more for the programs built on GDAL (NAME.bmp.aux.xml), which read no .prj beside a BMP.
// Each is written under a temporary name and then takes its own, so that a failure leaves a file
// as it was. crs is a CRS that FindCoordinateSystem accepts.
void WriteWorldFiles(const QString& rasterFileName, const TGeoTransform& transform,
                     const QString& crs);

// The names WriteWorldFiles writes, in its order.
QStringList WorldFileNames(const QString& rasterFileName);
