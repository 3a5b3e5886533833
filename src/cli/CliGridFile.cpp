#include "CliGridFile.h"

#include "RasterManagers.h"
#include "SysUtils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdlib>

namespace {

// Coordinates beyond this would let the lattice's positions overflow.
constexpr double kMaxCoordinate = 1 << 28;
constexpr int kMaxCells = 10000;
constexpr int64_t kMaxNodes = 4000000;

class TGridFileReader {
 public:
  explicit TGridFileReader(QString fileName) : FFileName(std::move(fileName)) {}

  TGridFile Read();

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
      Fail(QStringLiteral("неизвестное поле \"%1\" %2").arg(it.key(), where));
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

TGridFile TGridFileReader::Read() {
  QFile file(FFileName);
  if (!file.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Не удаётся прочитать файл сетки %1: %2")
                        .arg(FFileName, file.errorString()));
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(file.read(1 << 26), &error);
  if (error.error != QJsonParseError::NoError)
    Fail(QStringLiteral("это не JSON (%1, символ %2)").arg(error.errorString()).arg(error.offset));
  if (!document.isObject()) Fail(QStringLiteral("ожидался объект JSON { ... }"));
  const QJsonObject root = document.object();
  CheckKeys(root, {"cells", "origin", "step", "paper", "nodes"}, QString());

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
  if (cells.X > kMaxCells || cells.Y > kMaxCells ||
      int64_t(cells.X + 1) * (cells.Y + 1) > kMaxNodes)
    Fail(QStringLiteral("слишком много ячеек: не больше %1 по каждой оси").arg(kMaxCells));
  if (root.contains("nodes")) {
    if (!root["nodes"].isArray()) Fail(QStringLiteral("\"nodes\" должно быть списком узлов"));
    for (const QJsonValue& node : root["nodes"].toArray())
      grid.Nodes.push_back(Node(node, cells.X, cells.Y));
  }
  return grid;
}

}  // namespace

TGridFile ReadGridFile(const QString& fileName) {
  return TGridFileReader(fileName).Read();
}

TGridInfo MakeGrid(const TGridFile& file, const TRasterManager& raster) {
  TGridInfo grid;
  grid.SetSize(file.CellsX + 1, file.CellsY + 1);
  if (file.Paper) {
    const double rx = raster.XPelsPerMeter();
    const double ry = raster.YPelsPerMeter();
    const TGridPaperParams& paper = *file.Paper;
    if (std::abs(rx * paper.Left) > kMaxCoordinate || std::abs(ry * paper.Top) > kMaxCoordinate ||
        rx * paper.Width > kMaxCoordinate || ry * paper.Height > kMaxCoordinate)
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
  return grid;
}
