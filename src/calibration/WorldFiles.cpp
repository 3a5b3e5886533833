#include "WorldFiles.h"

#include "CoordinateSystems.h"
#include "FileUtils.h"
#include "Streams.h"
#include "SysUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <unistd.h>
#include <cerrno>

namespace {

QString Number(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

std::unique_ptr<TReplacementFile> WriteText(const QString& fileName, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  auto file = std::make_unique<TReplacementFile>(fileName);
  file->Stream().WriteBuffer(bytes.constData(), bytes.size());
  return file;
}

QByteArray Contents(const QString& fileName) {
  QFile file(fileName);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool IsFile(const QString& fileName) {
  const QFileInfo info(fileName);
  return info.exists() && info.isFile();
}

}  // namespace

std::optional<TMapPlacement> GridPlacement(const TGridInfo& grid) {
  if (!grid.Map || grid.Step.X <= 0 || grid.Step.Y <= 0) return std::nullopt;
  return TMapPlacement{MapGeoTransform(grid), grid.Map->Crs};
}

QStringList WorldFileNames(const QString& rasterFileName) {
  const QFileInfo info(rasterFileName);
  const QString base = info.path() + u'/' + info.completeBaseName();
  return {base + QStringLiteral(".bpw"), base + QStringLiteral(".wld"),
          base + QStringLiteral(".prj"), rasterFileName + QStringLiteral(".aux.xml")};
}

TWorldFiles::TWorldFiles(const QString& rasterFileName,
                         const std::optional<TMapPlacement>& placement) {
  const QStringList names = WorldFileNames(rasterFileName);
  if (!placement) {
    const bool world = IsFile(names[0]);
    if (world) FStale << names[0];
    if (world && IsFile(names[1]) && Contents(names[1]) == Contents(names[0])) FStale << names[1];
    if (world && IsFile(names[2])) FStale << names[2];
    if (IsFile(names[3])) FStale << names[3];
    return;
  }
  const TGeoTransform& t = placement->Transform;
  // A world file names the centre of the top-left pixel, where the geotransform names its corner.
  const QString world = QStringList{Number(t[1]),
                                    Number(t[4]),
                                    Number(t[2]),
                                    Number(t[5]),
                                    Number(t[0] + 0.5 * t[1] + 0.5 * t[2]),
                                    Number(t[3] + 0.5 * t[4] + 0.5 * t[5])}
                            .join(u'\n') +
                        u'\n';
  const QString esri = CoordinateSystemWkt(placement->Crs, TWktDialect::Esri);
  const QString standard = CoordinateSystemWkt(placement->Crs, TWktDialect::Standard);
  const QString aux = QStringLiteral("<PAMDataset>\n  <SRS>%1</SRS>\n</PAMDataset>\n")
                          .arg(standard.toHtmlEscaped());
  FFiles.push_back(WriteText(names[0], world));
  FFiles.push_back(WriteText(names[1], world));
  FFiles.push_back(WriteText(names[2], esri));
  FFiles.push_back(WriteText(names[3], aux));
}

TWorldFiles::~TWorldFiles() = default;

void TWorldFiles::Commit() {
  for (const auto& file : FFiles)
    file->Commit(QStringLiteral("Ошибка при переименовании файла привязки"));
  FFiles.clear();
  for (const QString& name : FStale) {
    if (::unlink(QFile::encodeName(name).constData()) == 0 || errno == ENOENT) continue;
    const int error = errno;
    throw Exception(QStringLiteral("Не удалось удалить прежний файл привязки %1: %2")
                        .arg(name, SystemErrorText(error)));
  }
  FStale.clear();
}
