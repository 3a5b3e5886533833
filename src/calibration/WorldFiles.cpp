#include "WorldFiles.h"

#include "CoordinateSystems.h"
#include "FileUtils.h"
#include "Streams.h"

#include <QFileInfo>
#include <QLocale>

namespace {

QString Number(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void WriteText(const QString& fileName, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  TReplacementFile file(fileName);
  file.Stream().WriteBuffer(bytes.constData(), bytes.size());
  file.Commit(QStringLiteral("Ошибка при переименовании файла привязки"));
}

}  // namespace

QStringList WorldFileNames(const QString& rasterFileName) {
  const QFileInfo info(rasterFileName);
  const QString base = info.path() + u'/' + info.completeBaseName();
  return {base + QStringLiteral(".bpw"), base + QStringLiteral(".wld"),
          base + QStringLiteral(".prj"), rasterFileName + QStringLiteral(".aux.xml")};
}

void WriteWorldFiles(const QString& rasterFileName, const TGeoTransform& transform,
                     const QString& crs) {
  // A world file names the centre of the top-left pixel, where the geotransform names its corner.
  const QString world = QStringList{Number(transform[1]),
                                    Number(transform[4]),
                                    Number(transform[2]),
                                    Number(transform[5]),
                                    Number(transform[0] + 0.5 * transform[1] + 0.5 * transform[2]),
                                    Number(transform[3] + 0.5 * transform[4] + 0.5 * transform[5])}
                            .join(u'\n') +
                        u'\n';
  const QString esri = CoordinateSystemWkt(crs, TWktDialect::Esri);
  const QString standard = CoordinateSystemWkt(crs, TWktDialect::Standard);
  const QString aux = QStringLiteral("<PAMDataset>\n  <SRS>%1</SRS>\n</PAMDataset>\n")
                          .arg(standard.toHtmlEscaped());
  const QStringList names = WorldFileNames(rasterFileName);
  WriteText(names[0], world);
  WriteText(names[1], world);
  WriteText(names[2], esri);
  WriteText(names[3], aux);
}
