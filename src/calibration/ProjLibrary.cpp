#include "ProjLibrary.h"

#include "SysUtils.h"

#include <QString>

#include <dlfcn.h>

#include <type_traits>

namespace {

TProjApi Load() {
  void* library = ::dlopen(VELMORA_PROJ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!library)
    throw Exception(
        QStringLiteral("Не удаётся загрузить библиотеку PROJ (%1), которая знает "
                       "системы координат: %2")
            .arg(QLatin1String(VELMORA_PROJ_LIBRARY), QString::fromLocal8Bit(::dlerror())));
  TProjApi api;
  const auto find = [&](auto& pointer, const char* name) {
    void* symbol = ::dlsym(library, name);
    if (!symbol)
      throw Exception(QStringLiteral("В библиотеке PROJ (%1) нет функции %2")
                          .arg(QLatin1String(VELMORA_PROJ_LIBRARY), QLatin1String(name)));
    pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(symbol);
  };
#define VELMORA_PROJ_FIND(name) find(api.name, #name);
  VELMORA_PROJ_FUNCTIONS(VELMORA_PROJ_FIND)
#undef VELMORA_PROJ_FIND
  // The library stays for the rest of the process, as the objects it made may.
  return api;
}

}  // namespace

const TProjApi& Proj() {
  // Should loading fail, the next call tries again.
  static const TProjApi api = Load();
  return api;
}
