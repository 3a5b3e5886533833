#include "GdalLibrary.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_frmts.h>

void UseGdal() {
  static const bool ready = [] {
    // GDAL's own words reach the user inside ours, never on the terminal.
    CPLSetErrorHandler(CPLQuietErrorHandler);
    // No ".aux.xml" files written beside a file that was only read, and no listing of its folder
    // in search of side files: the file the user names is all that is read.
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    GDALSetCacheMax64(kGdalCacheBytes);
    GDALRegister_GTiff();
    GDALRegister_PNG();
    GDALRegister_JPEG();
    GDALRegister_PDF();
    return true;
  }();
  (void)ready;
}

void ClearGdalError() {
  CPLErrorReset();
}

QString GdalError() {
  if (CPLGetLastErrorType() == CE_None) return QString();
  return QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
}

QString WithGdalError(const QString& cause) {
  const QString message = GdalError();
  if (message.isEmpty()) return cause;
  return QStringLiteral("%1 (GDAL: %2)").arg(cause, message);
}
