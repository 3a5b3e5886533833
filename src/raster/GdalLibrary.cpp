#include "GdalLibrary.h"

#include "SysUtils.h"

#include <dlfcn.h>

namespace {

TGdalApi Load() {
  void* library = ::dlopen(VELMORA_GDAL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!library)
    throw Exception(
        QStringLiteral("Не удаётся загрузить библиотеку GDAL (%1), которая читает "
                       "TIFF, PNG, JPEG и PDF и пишет TIFF: %2")
            .arg(QLatin1String(VELMORA_GDAL_LIBRARY), QString::fromLocal8Bit(::dlerror())));
  TGdalApi api;
  const auto find = [&](auto& pointer, const char* name) {
    void* symbol = ::dlsym(library, name);
    if (!symbol)
      throw Exception(QStringLiteral("В библиотеке GDAL (%1) нет функции %2")
                          .arg(QLatin1String(VELMORA_GDAL_LIBRARY), QLatin1String(name)));
    pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(symbol);
  };
#define VELMORA_GDAL_FIND(name) find(api.name, #name);
  VELMORA_GDAL_FUNCTIONS(VELMORA_GDAL_FIND)
#undef VELMORA_GDAL_FIND
  // GDAL's own words reach the user inside ours, never on the terminal.
  api.CPLSetErrorHandler(api.CPLQuietErrorHandler);
  // No ".aux.xml" files written beside a file that was only read, and no listing of its folder
  // in search of side files: the file the user names is all that is read.
  api.CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
  api.CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
  api.GDALSetCacheMax64(kGdalCacheBytes);
  api.GDALRegister_GTiff();
  api.GDALRegister_PNG();
  api.GDALRegister_JPEG();
  api.GDALRegister_PDF();
  // The library stays for the rest of the process: GDAL keeps state of its own.
  return api;
}

}  // namespace

const TGdalApi& Gdal() {
  // Should loading fail, the next call tries again.
  static const TGdalApi api = Load();
  return api;
}

void ClearGdalError() {
  Gdal().CPLErrorReset();
}

QString GdalError() {
  const TGdalApi& gdal = Gdal();
  if (gdal.CPLGetLastErrorType() == CE_None) return QString();
  return QString::fromUtf8(gdal.CPLGetLastErrorMsg()).trimmed();
}

QString WithGdalError(const QString& cause) {
  const QString message = GdalError();
  if (message.isEmpty()) return cause;
  return QStringLiteral("%1 (GDAL: %2)").arg(cause, message);
}
