#include "CoordinateSystems.h"

#include "ProjLibrary.h"
#include "SysUtils.h"

#include <memory>

namespace {

constexpr qsizetype kMaxDefinition = 20000;

// A context of its own for each use: contexts are not to be shared between threads, and PROJ's
// own messages (in English, on standard error) are silenced; ours say what went wrong.
struct TProjContext {
  TProjContext() : Context(Proj().proj_context_create()) {
    Proj().proj_log_level(Context, PJ_LOG_NONE);
  }
  ~TProjContext() { Proj().proj_context_destroy(Context); }
  TProjContext(const TProjContext&) = delete;
  TProjContext& operator=(const TProjContext&) = delete;

  PJ_CONTEXT* Context;
};

struct TPjDeleter {
  void operator()(PJ* object) const { Proj().proj_destroy(object); }
};
using TPjPtr = std::unique_ptr<PJ, TPjDeleter>;

bool IsProjected(PJ_TYPE type) {
  return type == PJ_TYPE_PROJECTED_CRS;
}

// Whether the CRS's first axis is measured in metres.
bool InMetres(PJ_CONTEXT* context, PJ* crs) {
  const TPjPtr system(Proj().proj_crs_get_coordinate_system(context, crs));
  if (!system || Proj().proj_cs_get_axis_count(context, system.get()) < 2) return false;
  double factor = 0;
  if (!Proj().proj_cs_get_axis_info(context, system.get(), 0, nullptr, nullptr, nullptr, &factor,
                                    nullptr, nullptr, nullptr))
    return false;
  return factor == 1.0;
}

TPjPtr CreateCrs(PJ_CONTEXT* context, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return TPjPtr(Proj().proj_create(context, bytes.constData()));
}

}  // namespace

TCoordinateSystem FindCoordinateSystem(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) throw Exception(QStringLiteral("не задана"));
  // The longest definitions of the database run to a few kilobytes of WKT.
  if (trimmed.size() > kMaxDefinition)
    throw Exception(
        QStringLiteral("задана слишком длинным текстом: не больше %1 знаков").arg(kMaxDefinition));
  TProjContext context;
  // A bound transformation around a CRS (a PROJ string with +towgs84) is the CRS underneath.
  TPjPtr crs = CreateCrs(context.Context, trimmed);
  if (crs && Proj().proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS)
    crs.reset(Proj().proj_get_source_crs(context.Context, crs.get()));
  if (!crs)
    throw Exception(
        QStringLiteral("не найдена в базе PROJ, или этому названию отвечает не одна: задайте "
                       "её кодом, например EPSG:28407"));
  // The name comes from the text when that is a definition: nothing of it that would not show as
  // itself reaches a message.
  QString name = QString::fromUtf8(Proj().proj_get_name(crs.get())).left(80);
  for (QChar& c : name)
    if (!c.isPrint()) c = u'?';
  if (!IsProjected(Proj().proj_get_type(crs.get())) || !InMetres(context.Context, crs.get()))
    throw Exception(QStringLiteral("не проекционная в метрах (%1), а шаг сетки на "
                                   "местности задаётся в метрах")
                        .arg(name));
  const char* authority = Proj().proj_get_id_auth_name(crs.get(), 0);
  const char* code = Proj().proj_get_id_code(crs.get(), 0);
  const QString id = authority && code ? QStringLiteral("%1:%2").arg(QString::fromUtf8(authority),
                                                                     QString::fromUtf8(code))
                                       : trimmed;
  return TCoordinateSystem{id, name};
}

QString CoordinateSystemWkt(const QString& id, TWktDialect dialect) {
  TProjContext context;
  TPjPtr crs = CreateCrs(context.Context, id);
  if (crs && Proj().proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS)
    crs.reset(Proj().proj_get_source_crs(context.Context, crs.get()));
  const char* options[] = {"MULTILINE=NO", nullptr};
  const char* wkt =
      crs ? Proj().proj_as_wkt(context.Context, crs.get(),
                               dialect == TWktDialect::Esri ? PJ_WKT1_ESRI : PJ_WKT2_2019, options)
          : nullptr;
  if (!wkt)
    throw Exception(QStringLiteral("Систему координат %1 не удалось записать как WKT").arg(id));
  return QString::fromUtf8(wkt);
}

std::vector<TCoordinateSystem> ProjectedCoordinateSystems() {
  TProjContext context;
  PROJ_CRS_LIST_PARAMETERS* parameters = Proj().proj_get_crs_list_parameters_create();
  const PJ_TYPE types[] = {PJ_TYPE_PROJECTED_CRS};
  parameters->types = types;
  parameters->typesCount = 1;
  int count = 0;
  PROJ_CRS_INFO** list =
      Proj().proj_get_crs_info_list_from_database(context.Context, nullptr, parameters, &count);
  Proj().proj_get_crs_list_parameters_destroy(parameters);
  std::vector<TCoordinateSystem> systems;
  for (int k = 0; k < count; ++k) {
    const PROJ_CRS_INFO& info = *list[k];
    if (info.deprecated) continue;
    systems.push_back(
        TCoordinateSystem{QStringLiteral("%1:%2").arg(QString::fromUtf8(info.auth_name),
                                                      QString::fromUtf8(info.code)),
                          QString::fromUtf8(info.name)});
  }
  Proj().proj_crs_info_list_destroy(list);
  return systems;
}
