#include "CliBatchSheets.h"

#include "FileUtils.h"
#include "Streams.h"
#include "SysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <sys/stat.h>

namespace {

// Lists beyond this are not lists of sheets.
constexpr qint64 kMaxListSize = 64 << 20;

[[noreturn]] void FailAt(const QString& list, int line, const QString& problem) {
  throw Exception(QStringLiteral("Список %1, строка %2: %3").arg(list).arg(line).arg(problem));
}

// The fields of one CSV line; false when a quote is not closed.
bool SplitCsv(const QString& line, QStringList& fields) {
  QString field;
  bool quoted = false;
  for (qsizetype k = 0; k < line.size(); ++k) {
    const QChar c = line[k];
    if (quoted) {
      if (c != u'"') {
        field += c;
      } else if (k + 1 < line.size() && line[k + 1] == u'"') {
        field += c;
        ++k;
      } else {
        quoted = false;
      }
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      fields << field.trimmed();
      field.clear();
    } else {
      field += c;
    }
  }
  fields << field.trimmed();
  return !quoted;
}

QJsonObject FileStamp(const QString& fileName) {
  struct stat info {};
  if (::stat(QFile::encodeName(fileName).constData(), &info) != 0) return {};
  return QJsonObject{{"size", static_cast<double>(info.st_size)},
                     {"modified", QString::number(int64_t{info.st_mtim.tv_sec} * 1000000000 +
                                                  info.st_mtim.tv_nsec)}};
}

TSheetStatus StatusOf(const QString& name) {
  if (name == QLatin1String("done")) return TSheetStatus::Done;
  if (name == QLatin1String("check")) return TSheetStatus::Check;
  return TSheetStatus::Error;
}

}  // namespace

QString StatusName(TSheetStatus status) {
  switch (status) {
    case TSheetStatus::Done:
      return QStringLiteral("done");
    case TSheetStatus::Check:
      return QStringLiteral("check");
    default:
      return QStringLiteral("error");
  }
}

std::vector<TBatchSheet> ReadBatchList(const QString& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  const int64_t size = file.Size();
  if (size > kMaxListSize)
    throw Exception(QStringLiteral("Список %1 слишком велик: %2 байт").arg(fileName).arg(size));
  QByteArray bytes(static_cast<qsizetype>(size), '\0');
  file.ReadBufferAt(0, bytes.data(), size);
  const QDir folder = QFileInfo(fileName).absoluteDir();
  std::vector<TBatchSheet> sheets;
  const QStringList lines = QString::fromUtf8(bytes).split(u'\n');
  for (qsizetype k = 0; k < lines.size(); ++k) {
    const int number = static_cast<int>(k + 1);
    const QString line = lines[k].trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    QStringList fields;
    if (!SplitCsv(line, fields)) FailAt(fileName, number, QStringLiteral("кавычка не закрыта"));
    if (sheets.empty() && fields[0].compare(QLatin1String("scan"), Qt::CaseInsensitive) == 0)
      continue;
    if (fields.size() != 3 && fields.size() != 5)
      FailAt(fileName, number,
             QStringLiteral("нужны поля \"скан, сетка, результат\" и, по желанию, координаты "
                            "первого узла на карте \"x, y\", а их %1")
                 .arg(fields.size()));
    TBatchSheet sheet;
    sheet.Line = number;
    for (int f = 0; f < 3; ++f)
      if (fields[f].isEmpty()) FailAt(fileName, number, QStringLiteral("пустое имя файла"));
    sheet.Scan = QDir::cleanPath(folder.absoluteFilePath(fields[0]));
    sheet.Grid = QDir::cleanPath(folder.absoluteFilePath(fields[1]));
    sheet.Output = QDir::cleanPath(folder.absoluteFilePath(fields[2]));
    if (fields.size() == 5) {
      bool okX = false, okY = false;
      sheet.MapX = fields[3].toDouble(&okX);
      sheet.MapY = fields[4].toDouble(&okY);
      if (!okX || !okY || !std::isfinite(*sheet.MapX) || !std::isfinite(*sheet.MapY))
        FailAt(fileName, number,
               QStringLiteral("координаты на карте \"%1, %2\" - не числа")
                   .arg(fields[3].left(40), fields[4].left(40)));
    }
    for (const TBatchSheet& other : sheets)
      if (other.Output == sheet.Output)
        FailAt(fileName, number,
               QStringLiteral("результат %1 уже назван в строке %2")
                   .arg(sheet.Output)
                   .arg(other.Line));
    sheets.push_back(sheet);
  }
  return sheets;
}

QString ReportFileName(const TBatchSheet& sheet) {
  return sheet.Output + QStringLiteral(".report.json");
}

QJsonObject SheetFiles(const TBatchSheet& sheet) {
  return QJsonObject{{"scan", FileStamp(sheet.Scan)},
                     {"grid", FileStamp(sheet.Grid)},
                     {"output", FileStamp(sheet.Output)}};
}

void WriteSheetReport(const TBatchSheet& sheet, const TSheetReport& report) {
  QJsonArray missed;
  for (const auto& [i, j] : report.Missed) missed.append(QJsonArray{i, j});
  QJsonObject object{{"scan", sheet.Scan},
                     {"grid", sheet.Grid},
                     {"output", sheet.Output},
                     {"status", StatusName(report.Status)},
                     {"message", report.Message},
                     {"searched", report.Searched},
                     {"found", report.Found},
                     {"missed", missed},
                     {"largest_offset", report.LargestOffset},
                     {"seconds", report.Seconds},
                     {"files", report.Files}};
  if (report.LeastConfidence) object["least_confidence"] = *report.LeastConfidence;
  const QByteArray bytes = QJsonDocument(object).toJson();
  TReplacementFile file(ReportFileName(sheet));
  file.Stream().WriteBuffer(bytes.constData(), bytes.size());
  file.Commit(QStringLiteral("Ошибка при переименовании отчёта о листе"));
}

std::optional<TSheetReport> ReadSheetReport(const TBatchSheet& sheet) {
  QFile file(ReportFileName(sheet));
  if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 24)) return std::nullopt;
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
  if (!document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  TSheetReport report;
  report.Status = StatusOf(object["status"].toString());
  report.Message = object["message"].toString();
  report.Searched = object["searched"].toInt();
  report.Found = object["found"].toInt();
  for (const QJsonValue& node : object["missed"].toArray())
    report.Missed.emplace_back(node[0].toInt(), node[1].toInt());
  if (object.contains("least_confidence"))
    report.LeastConfidence = object["least_confidence"].toDouble();
  report.LargestOffset = object["largest_offset"].toDouble();
  report.Seconds = object["seconds"].toDouble();
  report.Files = object["files"].toObject();
  return report;
}

bool SheetComplete(const TBatchSheet& sheet, const TSheetReport& report) {
  return report.Status != TSheetStatus::Error && !report.Files["output"].toObject().isEmpty() &&
         report.Files == SheetFiles(sheet);
}
