#pragma once

#include <QString>

#include <cstdint>

// GDAL as this program uses it, set up once for the whole process on first use: only the drivers
// of the formats read and written here, its block cache bounded, its messages kept for our own
// errors instead of printed, and no files of its own written or looked for beside the user's.
void UseGdal();

// The bound of GDAL's block cache: memory a raster read or written through GDAL may need beside
// the raster's own cache.
constexpr int64_t kGdalCacheBytes = 64 << 20;

// Forgets the last message GDAL left on this thread.
void ClearGdalError();
// The last message GDAL left on this thread, empty when there is none.
QString GdalError();
// The cause for the user: our own words, and GDAL's message after them where it left one.
QString WithGdalError(const QString& cause);
