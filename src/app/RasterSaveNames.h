#pragma once

#include "RasterFiles.h"

class QWidget;

// The names and formats the window saves a raster under. A raster is written in the format of its
// name's kind (BMP or TIFF); a kind that is only read (PNG, JPEG, PDF) cannot take the raster
// back, so its file is never the target of a save.

// The name the save dialog proposes for a raster of that file: the file's own when its kind is
// written, otherwise the same name as a TIFF, the format that keeps every depth compressed.
QString RasterSaveProposal(const TRasterFileProvider& provider, const QString& fileName);

// Runs the save dialog on the kinds that are written, the name going in as the proposal. A name of
// a kind that is not written is refused with a message, and the dialog runs again. True, with the
// chosen name, when the user confirmed one.
bool AskRasterSaveName(const TRasterFileProvider& provider, QString& fileName,
                       QWidget* parent = nullptr);

// What a save to that name writes: the format of its kind, a TIFF tiled and compressed with
// Deflate. Raises for a name of a kind that is not written.
TSaveOptions RasterSaveOptions(const TRasterFileProvider& provider, const QString& fileName);
