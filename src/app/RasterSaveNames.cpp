#include "RasterSaveNames.h"

#include "FormUtils.h"
#include "RasterFileDialogs.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString NotWrittenMessage(const QString& fileName) {
  return QStringLiteral(
             "Растр нельзя записать в файл %1: растры сохраняются в BMP (.bmp) или "
             "в TIFF (.tif, .tiff), формат выбирается по расширению имени")
      .arg(fileName);
}

}  // namespace

QString RasterSaveProposal(const TRasterFileProvider& provider, const QString& fileName) {
  if (fileName.isEmpty() || provider.SaveFormatByExt(fileName)) return fileName;
  const QFileInfo file(fileName);
  const QString base = file.suffix().isEmpty() ? file.fileName() : file.completeBaseName();
  return file.dir().filePath(base + QStringLiteral(".tif"));
}

bool AskRasterSaveName(const TRasterFileProvider& provider, QString& fileName, QWidget* parent) {
  QString name = RasterSaveProposal(provider, fileName);
  const QString suffix =
      QFileInfo(name).suffix().isEmpty() ? QStringLiteral("bmp") : QFileInfo(name).suffix();
  for (;;) {
    if (!RunSaveFileDialog(provider.GetSaveFilter(), suffix, name, parent,
                           QStringLiteral("Сохранение растра")))
      return false;
    if (provider.SaveFormatByExt(name)) break;
    ShowErrorMessage(NotWrittenMessage(name));
    name = RasterSaveProposal(provider, name);
  }
  fileName = name;
  return true;
}

TSaveOptions RasterSaveOptions(const TRasterFileProvider& provider, const QString& fileName) {
  const std::optional<TRasterFormat> format = provider.SaveFormatByExt(fileName);
  if (!format) throw Exception(NotWrittenMessage(fileName));
  TSaveOptions options;
  options.Format = *format;
  options.Compression = TTiffCompression::Deflate;
  return options;
}
