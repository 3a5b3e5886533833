#pragma once

#include "GdalSamples.h"
#include "RasterFiles.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// What is known of a file besides what GDAL's dataset tells.
struct TGdalSource {
  QString FileName;  // as the user named it, for messages
  QString Driver;    // GDAL's short name: GTiff, PNG, JPEG, PDF
  bool BigTiff = false;
  int Page = 1;  // of a PDF: the page drawn, and how many there are
  int Pages = 1;
  double Dpi = 0;  // of a PDF: the resolution the page is drawn at
  // Dots per metre that a PNG or a JPEG states where GDAL does not see them.
  std::optional<std::pair<int32_t, int32_t>> Stated;
};

// What a look at an open dataset found: how its samples become DIB rows, the header of those rows
// (with the file's resolution), and what the user is told about the file.
struct TGdalProbe {
  TGdalLayout Layout;
  std::vector<uint8_t> Header;  // info header and colour table
  TRasterFileFormat Format;
  QStringList HeaderInfo;  // GDAL's description of the file, one field per line
  int BlockWidth = 1;      // GDAL reads the file in blocks of this size
  int BlockHeight = 1;
};

// Looks at the dataset; a kind of pixels the program cannot hold (five channels, floating-point
// samples, CMYK) raises "Ошибка открытия растрового файла NAME: " and the reason.
TGdalProbe ProbeGdalDataset(TGdalDataset dataset, const TGdalSource& source);

// Dots per metre from a resolution and GDAL's unit of it ("2 (pixels/inch)", "3 (pixels/cm)");
// 0 when the unit is unknown or the value no resolution.
int32_t DotsPerMetreOf(double resolution, int unit);
