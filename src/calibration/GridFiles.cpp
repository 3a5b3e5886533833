#include "GridFiles.h"

#include "CoordinateSystems.h"
#include "FileUtils.h"
#include "RasterManagers.h"
#include "Streams.h"
#include "SysUtils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// Coordinates beyond this would let the lattice's positions overflow.
constexpr double kMaxCoordinate = 1 << 28;
constexpr int kMaxCells = 10000;
// Map coordinates and ground steps in metres: beyond these no CRS on Earth reaches.
constexpr double kMaxMapCoordinate = 1e10;
constexpr double kMaxMapStep = 1e8;
// The lattice keeps 8 bytes per node.
constexpr int64_t kMaxNodes = 1000000;

// A grid file is read whole and parsed into a document of some 500 bytes per object and 20 per
// other value; these bounds keep it within a few megabytes whatever the file holds. They are
// checked before parsing, on counts of braces and commas that may only overstate.
constexpr int64_t kMaxFileSize = 4 << 20;
constexpr int64_t kMaxObjects = 20000;
constexpr int64_t kMaxValues = 200000;

// Text of the file quoted in a message is cut to this many characters.
constexpr int kMaxQuoted = 40;

// Whether a character would not show as itself where the message is read: control characters
// (escape sequences of a terminal, NUL), direction overrides and other invisible formatting, line
// separators, lone halves of a surrogate pair.
bool Unprintable(char32_t c) {
  switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return true;
    default:
      return false;
  }
}

// Text of the file as a message quotes it: cut short, with the characters that would not show as
// themselves written as "\uXXXX", and the quote and the backslash escaped, as JSON writes them.
QString Quoted(const QString& text) {
  qsizetype end = std::min<qsizetype>(text.size(), kMaxQuoted);
  if (end < text.size() && text[end - 1].isHighSurrogate()) --end;
  QString quoted;
  for (qsizetype i = 0; i < end; ++i) {
    const bool pair = text[i].isHighSurrogate() && i + 1 < end && text[i + 1].isLowSurrogate();
    const char32_t c = pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
    if (Unprintable(c)) {
      for (qsizetype k = i; k <= i + pair; ++k)
        quoted += QStringLiteral("\\u") +
                  QString::number(text[k].unicode(), 16).toUpper().rightJustified(4, u'0');
    } else {
      if (c == u'"' || c == u'\\') quoted += u'\\';
      quoted += text.mid(i, 1 + pair);
    }
    i += pair;
  }
  return end < text.size() ? quoted + QStringLiteral("…") : quoted;
}

QString JsonErrorText(QJsonParseError::ParseError error) {
  switch (error) {
    case QJsonParseError::UnterminatedObject:
      return QStringLiteral("объект не закрыт");
    case QJsonParseError::MissingNameSeparator:
      return QStringLiteral("после имени поля нет двоеточия");
    case QJsonParseError::UnterminatedArray:
      return QStringLiteral("список не закрыт");
    case QJsonParseError::MissingValueSeparator:
      return QStringLiteral("между значениями нет запятой");
    case QJsonParseError::IllegalValue:
      return QStringLiteral("недопустимое значение");
    case QJsonParseError::TerminationByNumber:
      return QStringLiteral("файл оборвался на числе");
    case QJsonParseError::IllegalNumber:
      return QStringLiteral("неверное число");
    case QJsonParseError::IllegalEscapeSequence:
      return QStringLiteral("неверный знак после «\\»");
    case QJsonParseError::IllegalUTF8String:
      return QStringLiteral("текст не в кодировке UTF-8");
    case QJsonParseError::UnterminatedString:
      return QStringLiteral("строка не закрыта");
    case QJsonParseError::MissingObject:
      return QStringLiteral("нет объекта { ... }");
    case QJsonParseError::DeepNesting:
      return QStringLiteral("слишком глубокая вложенность");
    case QJsonParseError::DocumentTooLarge:
      return QStringLiteral("документ слишком велик");
    case QJsonParseError::GarbageAtEnd:
      return QStringLiteral("лишние знаки после конца");
    default:
      return QStringLiteral("ошибка разбора");
  }
}

// A key that one object of a JSON text holds twice, which a JSON document keeps only once (the
// last), with where it stands: "" at the top, "в \"paper\"" in the object under a key, "в узле"
// in an object of "nodes".
struct TDuplicateKey {
  QString Key;
  QString Where;
};

// The text of a JSON string whose opening quote is at start, escapes decoded, and where it ends.
QString JsonString(const QByteArray& text, qsizetype start, qsizetype& end) {
  end = start + 1;
  while (text[end] != '"') end += text[end] == '\\' ? 2 : 1;
  const QString raw = QString::fromUtf8(text.constData() + start + 1, end - start - 1);
  QString decoded;
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw[i] != u'\\') {
      decoded += raw[i];
      continue;
    }
    const QChar kind = raw[++i];
    switch (kind.unicode()) {
      case 'b':
        decoded += u'\b';
        break;
      case 'f':
        decoded += u'\f';
        break;
      case 'n':
        decoded += u'\n';
        break;
      case 'r':
        decoded += u'\r';
        break;
      case 't':
        decoded += u'\t';
        break;
      case 'u':
        decoded += QChar(raw.mid(i + 1, 4).toUShort(nullptr, 16));
        i += 4;
        break;
      default:
        decoded += kind;
    }
  }
  return decoded;
}

// The first key held twice by one object of a text that is valid JSON, if any.
std::optional<TDuplicateKey> FindDuplicateKey(const QByteArray& text) {
  struct TFrame {
    bool Object;
    QString Key;  // under which the object or list stands
    QSet<QString> Keys;
    bool KeyNext;
  };
  std::vector<TFrame> frames;
  QString key;  // the key whose value comes next
  for (qsizetype i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '{':
      case '[':
        frames.push_back({text[i] == '{', key, {}, text[i] == '{'});
        key.clear();
        break;
      case '}':
      case ']':
        frames.pop_back();
        key.clear();
        break;
      case ',':
        if (frames.back().Object) frames.back().KeyNext = true;
        key.clear();
        break;
      case '"': {
        qsizetype end;
        const QString string = JsonString(text, i, end);
        i = end;
        TFrame& frame = frames.back();
        if (!frame.Object || !frame.KeyNext) break;
        frame.KeyNext = false;
        if (frame.Keys.contains(string)) {
          const TFrame* list = frames.size() > 1 ? &frames[frames.size() - 2] : nullptr;
          const QString where = frames.size() == 1 ? QString()
                                : !frame.Key.isEmpty()
                                    ? QStringLiteral("в \"%1\"").arg(Quoted(frame.Key))
                                : list && !list->Object && list->Key == QLatin1String("nodes")
                                    ? QStringLiteral("в узле")
                                    : QStringLiteral("в элементе \"%1\"").arg(Quoted(list->Key));
          return TDuplicateKey{string, where};
        }
        frame.Keys.insert(string);
        key = string;
        break;
      }
      default:
        break;
    }
  }
  return std::nullopt;
}

class TGridFileReader {
 public:
  explicit TGridFileReader(QString fileName) : FFileName(std::move(fileName)) {}

  TGridFile Parse(const QByteArray& text);

 private:
  [[noreturn]] void Fail(const QString& problem) const {
    throw Exception(QStringLiteral("Файл сетки %1: %2").arg(FFileName, problem));
  }
  int Integer(const QJsonValue& value, const QString& what) const;
  TPoint Pair(const QJsonValue& value, const QString& what) const;
  double Number(const QJsonObject& object, const QString& key, const QString& what) const;
  void CheckKeys(const QJsonObject& object, const QStringList& keys, const QString& where) const;
  TGridPaperParams Paper(const QJsonValue& value, int cellsX, int cellsY) const;
  TGridFile::TNode Node(const QJsonValue& value, int cellsX, int cellsY) const;
  TGridMap Map(const QJsonValue& value) const;

  QString FFileName;
};

int TGridFileReader::Integer(const QJsonValue& value, const QString& what) const {
  const double number = value.toDouble(std::nan(""));
  if (!value.isDouble() || number != std::floor(number))
    Fail(QStringLiteral("%1 должно быть целым числом").arg(what));
  if (std::abs(number) > kMaxCoordinate)
    Fail(QStringLiteral("%1 слишком велико по модулю").arg(what));
  return static_cast<int>(number);
}

TPoint TGridFileReader::Pair(const QJsonValue& value, const QString& what) const {
  const QJsonArray array = value.toArray();
  if (!value.isArray() || array.size() != 2)
    Fail(QStringLiteral("\"%1\" должно быть парой целых чисел [X, Y]").arg(what));
  return TPoint{Integer(array[0], "\"" + what + "\"[0]"), Integer(array[1], "\"" + what + "\"[1]")};
}

double TGridFileReader::Number(const QJsonObject& object, const QString& key,
                               const QString& what) const {
  const QJsonValue value = object.value(key);
  if (!value.isDouble()) Fail(QStringLiteral("%1 должно быть числом").arg(what));
  return value.toDouble();
}

void TGridFileReader::CheckKeys(const QJsonObject& object, const QStringList& keys,
                                const QString& where) const {
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!keys.contains(it.key()))
      Fail(QStringLiteral("неизвестное поле \"%1\"%2")
               .arg(Quoted(it.key()), where.isEmpty() ? where : u' ' + where));
}

TGridPaperParams TGridFileReader::Paper(const QJsonValue& value, int cellsX, int cellsY) const {
  if (!value.isObject())
    Fail(QStringLiteral(
        "\"paper\" должно быть объектом {\"left\", \"top\", \"width\", \"height\"}"));
  const QJsonObject paper = value.toObject();
  CheckKeys(paper, {"left", "top", "width", "height"}, QStringLiteral("в \"paper\""));
  // Lengths arrive in centimetres; the checks and their order are those of the grid parameters
  // dialog.
  TGridPaperParams params;
  params.Left = Number(paper, "left", "\"paper\".\"left\"") / 100;
  params.Top = Number(paper, "top", "\"paper\".\"top\"") / 100;
  params.Width = Number(paper, "width", "\"paper\".\"width\"") / 100;
  params.Height = Number(paper, "height", "\"paper\".\"height\"") / 100;
  params.CellsX = cellsX;
  params.CellsY = cellsY;
  if (const QString problem = PaperParamsProblem(params); !problem.isEmpty()) Fail(problem);
  return params;
}

TGridFile::TNode TGridFileReader::Node(const QJsonValue& value, int cellsX, int cellsY) const {
  if (!value.isObject())
    Fail(QStringLiteral("узел в \"nodes\" должен быть объектом {\"i\", \"j\", \"x\", \"y\"}"));
  const QJsonObject object = value.toObject();
  CheckKeys(object, {"i", "j", "x", "y"}, QStringLiteral("в узле"));
  for (const char* key : {"i", "j", "x", "y"})
    if (!object.contains(key)) Fail(QStringLiteral("у узла нет поля \"%1\"").arg(key));
  TGridFile::TNode node;
  node.I = Integer(object["i"], "\"i\" узла");
  node.J = Integer(object["j"], "\"j\" узла");
  node.X = Integer(object["x"], "\"x\" узла");
  node.Y = Integer(object["y"], "\"y\" узла");
  if (node.I < 0 || node.I > cellsX || node.J < 0 || node.J > cellsY)
    Fail(QStringLiteral("узел (%1, %2) вне сетки: i от 0 до %3, j от 0 до %4")
             .arg(node.I)
             .arg(node.J)
             .arg(cellsX)
             .arg(cellsY));
  return node;
}

TGridMap TGridFileReader::Map(const QJsonValue& value) const {
  if (!value.isObject())
    Fail(QStringLiteral("\"map\" должно быть объектом {\"crs\", \"x\", \"y\", \"step\"}"));
  const QJsonObject object = value.toObject();
  CheckKeys(object, {"crs", "x", "y", "step"}, QStringLiteral("в \"map\""));
  for (const char* key : {"crs", "x", "y", "step"})
    if (!object.contains(key)) Fail(QStringLiteral("в \"map\" нет поля \"%1\"").arg(key));
  if (!object["crs"].isString())
    Fail(QStringLiteral("\"map\".\"crs\" должно быть строкой, например \"EPSG:28407\""));
  TGridMap map;
  try {
    map.Crs = FindCoordinateSystem(object["crs"].toString()).Id;
  } catch (const Exception& e) {
    Fail(QStringLiteral("система координат \"%1\" %2")
             .arg(Quoted(object["crs"].toString()), e.Message()));
  }
  map.X = Number(object, "x", "\"map\".\"x\"");
  map.Y = Number(object, "y", "\"map\".\"y\"");
  for (const double coordinate : {map.X, map.Y})
    if (std::abs(coordinate) > kMaxMapCoordinate)
      Fail(QStringLiteral("координаты \"map\" слишком велики по модулю: не больше %1 м")
               .arg(kMaxMapCoordinate, 0, 'g'));
  const QJsonArray step = object["step"].toArray();
  if (!object["step"].isArray() || step.size() != 2 || !step[0].isDouble() || !step[1].isDouble())
    Fail(QStringLiteral("\"map\".\"step\" должно быть парой чисел [X, Y] в метрах"));
  map.StepX = step[0].toDouble();
  map.StepY = step[1].toDouble();
  // Northing decreases downwards by the step: a step of no length or one backwards would place the
  // sheet on the map folded or mirrored.
  if (!(map.StepX > 0) || !(map.StepY > 0))
    Fail(QStringLiteral("шаг сетки на местности \"map\".\"step\" должен быть больше нуля"));
  if (map.StepX > kMaxMapStep || map.StepY > kMaxMapStep)
    Fail(QStringLiteral("шаг сетки на местности \"map\".\"step\" слишком велик: не больше %1 м")
             .arg(kMaxMapStep, 0, 'g'));
  return map;
}

TGridFile TGridFileReader::Parse(const QByteArray& text) {
  int64_t objects = 0;
  int64_t values = 1;
  for (const char c : text) {
    objects += c == '{';
    values += c == ',';
  }
  if (objects > kMaxObjects)
    Fail(QStringLiteral("слишком много узлов: не больше %1").arg(kMaxObjects));
  if (values > kMaxValues)
    Fail(QStringLiteral("слишком много значений: не больше %1").arg(kMaxValues));
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(text, &error);
  if (error.error != QJsonParseError::NoError)
    Fail(QStringLiteral("это не JSON (%1, символ %2)")
             .arg(JsonErrorText(error.error))
             .arg(error.offset));
  if (!document.isObject()) Fail(QStringLiteral("ожидался объект JSON { ... }"));
  if (const std::optional<TDuplicateKey> twice = FindDuplicateKey(text))
    Fail(QStringLiteral("поле \"%1\" указано дважды%2")
             .arg(Quoted(twice->Key), twice->Where.isEmpty() ? QString() : u' ' + twice->Where));
  const QJsonObject root = document.object();
  CheckKeys(root, {"cells", "origin", "step", "paper", "nodes", "map"}, QString());

  TGridFile grid;
  if (!root.contains("cells")) Fail(QStringLiteral("нет поля \"cells\""));
  const TPoint cells = Pair(root["cells"], "cells");
  grid.CellsX = cells.X;
  grid.CellsY = cells.Y;

  const bool pixels = root.contains("origin") || root.contains("step");
  if (pixels == root.contains("paper"))
    Fail(QStringLiteral(
        "задайте либо \"origin\" и \"step\" в пикселях, либо \"paper\" в сантиметрах"));
  if (pixels) {
    if (!root.contains("origin") || !root.contains("step"))
      Fail(QStringLiteral("\"origin\" и \"step\" задаются вместе"));
    if (const QString problem = GridCellsProblem(cells.X, cells.Y); !problem.isEmpty())
      Fail(problem);
    grid.Origin = Pair(root["origin"], "origin");
    grid.Step = Pair(root["step"], "step");
    if (std::abs(double(grid.Step->X)) * (cells.X + 1) > kMaxCoordinate ||
        std::abs(double(grid.Step->Y)) * (cells.Y + 1) > kMaxCoordinate)
      Fail(QStringLiteral("сетка слишком велика"));
  } else {
    grid.Paper = Paper(root["paper"], cells.X, cells.Y);
  }
  if (cells.X > kMaxCells || cells.Y > kMaxCells)
    Fail(QStringLiteral("слишком много ячеек: не больше %1 по каждой оси").arg(kMaxCells));
  const int64_t nodes = int64_t{cells.X + 1} * (cells.Y + 1);
  if (nodes > kMaxNodes)
    Fail(QStringLiteral("слишком много узлов: (%1 + 1) × (%2 + 1) = %3, а можно не больше %4")
             .arg(cells.X)
             .arg(cells.Y)
             .arg(nodes)
             .arg(kMaxNodes));
  if (root.contains("nodes")) {
    if (!root["nodes"].isArray()) Fail(QStringLiteral("\"nodes\" должно быть списком узлов"));
    QSet<int64_t> listed;
    for (const QJsonValue& value : root["nodes"].toArray()) {
      const TGridFile::TNode node = Node(value, cells.X, cells.Y);
      // A node listed again would silently take the place of the first.
      const int64_t index = int64_t{node.J} * (cells.X + 1) + node.I;
      if (listed.contains(index))
        Fail(QStringLiteral("узел (%1, %2) указан дважды").arg(node.I).arg(node.J));
      listed.insert(index);
      grid.Nodes.push_back(node);
    }
  }
  if (root.contains("map")) grid.Map = Map(root["map"]);
  return grid;
}

}  // namespace

TGridFile ReadGridFile(const QString& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  const int64_t size = file.Size();
  if (size > kMaxFileSize)
    throw Exception(QStringLiteral("Файл сетки %1 слишком велик: %2 байт, а можно не больше %3")
                        .arg(fileName)
                        .arg(size)
                        .arg(kMaxFileSize));
  QByteArray text(static_cast<qsizetype>(size), '\0');
  file.ReadBufferAt(0, text.data(), size);
  return ParseGridFile(text, fileName);
}

TGridFile ParseGridFile(const QByteArray& text, const QString& fileName) {
  return TGridFileReader(fileName).Parse(text);
}

TGridInfo MakeGrid(const TGridFile& file, const TRasterManager& raster) {
  TGridInfo grid;
  grid.SetSize(file.CellsX + 1, file.CellsY + 1);
  if (file.Paper) {
    const double rx = raster.XPelsPerMeter();
    const double ry = raster.YPelsPerMeter();
    // A file may state any resolution, a negative one too; centimetres need a real one.
    if (rx <= 0 || ry <= 0)
      throw Exception(
          QStringLiteral("Разрешение растра %1 × %2 точек на метр не позволяет перевести "
                         "сетку из сантиметров в пиксели: задайте разрешение "
                         "(convert --ppm или --dpi) или сетку в пикселях")
              .arg(raster.XPelsPerMeter())
              .arg(raster.YPelsPerMeter()));
    const TGridPaperParams& paper = *file.Paper;
    const auto fits = [](double pixels) { return std::abs(pixels) <= kMaxCoordinate; };
    if (!fits(rx * paper.Left) || !fits(ry * paper.Top) || !fits(rx * paper.Width) ||
        !fits(ry * paper.Height))
      throw Exception(QStringLiteral("Сетка на бумаге слишком велика для разрешения растра"));
    ApplyPaperParams(grid, paper, rx, ry);
  } else {
    grid.SetOrigin(*file.Origin);
    grid.SetStep(*file.Step);
  }
  for (const TGridFile::TNode& node : file.Nodes) {
    const TPoint ref = grid.RefPos(node.I, node.J);
    grid.NodeAt(node.I, node.J).Offset = TPoint{node.X - ref.X, node.Y - ref.Y};
  }
  grid.Map = file.Map;
  return grid;
}

namespace {

// The "map" member of a grid file, with a comma and a line break before it; numbers in their
// shortest form that reads back exactly.
QString MapMember(const TGridMap& map) {
  const QByteArray crs = QJsonDocument(QJsonArray{map.Crs}).toJson(QJsonDocument::Compact);
  const auto number = [](double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
  };
  return QStringLiteral(",\n  \"map\": {\"crs\": %1, \"x\": %2, \"y\": %3, \"step\": [%4, %5]}")
      .arg(QString::fromUtf8(crs.mid(1, crs.size() - 2)), number(map.X), number(map.Y),
           number(map.StepX), number(map.StepY));
}

}  // namespace

void WriteGridFile(const QString& fileName, const TGridInfo& grid) {
  QStringList nodes;
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i)
      if (grid.NodeAt(i, j).IsMoved()) {
        const TPoint at = grid.NodePos(i, j);
        nodes << QStringLiteral("    {\"i\": %1, \"j\": %2, \"x\": %3, \"y\": %4}")
                     .arg(i)
                     .arg(j)
                     .arg(at.X)
                     .arg(at.Y);
      }
  const QString text =
      QStringLiteral(
          "{\n  \"cells\": [%1, %2],\n  \"origin\": [%3, %4],\n  \"step\": [%5, %6],\n"
          "  \"nodes\": [%7]%8\n}\n")
          .arg(grid.NX - 1)
          .arg(grid.NY - 1)
          .arg(grid.Origin.X)
          .arg(grid.Origin.Y)
          .arg(grid.Step.X)
          .arg(grid.Step.Y)
          .arg(nodes.isEmpty() ? QString() : "\n" + nodes.join(QStringLiteral(",\n")) + "\n  ")
          .arg(grid.Map ? MapMember(*grid.Map) : QString());
  const QByteArray bytes = text.toUtf8();
  TReplacementFile file(fileName);
  file.Stream().WriteBuffer(bytes.constData(), bytes.size());
  file.Commit(QStringLiteral("Ошибка при переименовании файла сетки"));
}
