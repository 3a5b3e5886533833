#pragma once

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gdal_frmts.h>

#include <QString>

#include <cstdint>

// The functions of GDAL that the program calls.
#define VELMORA_GDAL_FUNCTIONS(F)                                                                  \
  F(CPLErrorReset)                                                                                 \
  F(CPLGetLastErrorMsg)                                                                            \
  F(CPLGetLastErrorType)                                                                           \
  F(CPLQuietErrorHandler)                                                                          \
  F(CPLSetConfigOption)                                                                            \
  F(CPLSetErrorHandler) F(GDALClose) F(GDALCreate) F(GDALCreateColorTable) F(GDALDatasetRasterIO)  \
      F(GDALDestroyColorTable) F(GDALFlushCache) F(GDALGetBlockSize) F(GDALGetColorEntryAsRGB)     \
          F(GDALGetColorEntryCount) F(GDALGetColorInterpretationName) F(GDALGetDataTypeName)       \
              F(GDALGetDriverByName) F(GDALGetDriverShortName) F(GDALGetMetadata)                  \
                  F(GDALGetMetadataItem) F(GDALGetPaletteInterpretation)                           \
                      F(GDALGetPaletteInterpretationName) F(GDALGetRasterBand)                     \
                          F(GDALGetRasterColorInterpretation) F(GDALGetRasterColorTable)           \
                              F(GDALGetRasterCount) F(GDALGetRasterDataType) F(GDALGetRasterXSize) \
                                  F(GDALGetRasterYSize) F(GDALIdentifyDriverEx) F(GDALOpenEx) F(   \
                                      GDALRegister_GTiff) F(GDALRegister_JPEG) F(GDALRegister_PDF) \
                                      F(GDALRegister_PNG) F(GDALSetCacheMax64)                     \
                                          F(GDALSetColorEntry) F(GDALSetMetadataItem)              \
                                              F(GDALSetRasterColorTable)                           \
                                                  F(VSIAllocFilesystemPluginCallbacksStruct)       \
                                                      F(VSIFreeFilesystemPluginCallbacksStruct)    \
                                                          F(VSIInstallPluginHandler)

// GDAL as this program uses it. The library is loaded on first use, not with the program: a
// program that never meets a format of GDAL's is spared its hundred-odd libraries (some 30 MB
// resident). Loading sets it up once for the whole process: only the drivers of the formats read
// and written here, its block cache bounded, its messages kept for our own errors instead of
// printed, and no files of its own written or looked for beside the user's.
struct TGdalApi {
#define VELMORA_GDAL_POINTER(name) decltype(&::name) name = nullptr;
  VELMORA_GDAL_FUNCTIONS(VELMORA_GDAL_POINTER)
#undef VELMORA_GDAL_POINTER
};

// The loaded library; raises, naming the library and the cause, when it cannot be loaded.
const TGdalApi& Gdal();

// The bound of GDAL's block cache: memory a raster read or written through GDAL may need beside
// the raster's own cache.
constexpr int64_t kGdalCacheBytes = 4 << 20;

// Forgets the last message GDAL left on this thread.
void ClearGdalError();
// The last message GDAL left on this thread, empty when there is none.
QString GdalError();
// The cause for the user: our own words, and GDAL's message after them where it left one.
QString WithGdalError(const QString& cause);
