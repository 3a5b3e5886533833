// How well the search for a grid's crossings does on the hard set of synthetic sheets that
// bench/find_nodes/sheets.py makes (bench/find_nodes.sh runs both), against where each scan really
// shows its crossings:
//   find_nodes_sheets DIR [--time NAME ...] [NAME ...]
// For every sheet of DIR (or each one named) the search runs on the grid as a user lays it and
// again with its four corner nodes dragged onto their crossings first. Printed: per sheet and in
// all, the share of visible crossings placed within a pixel, those not found, the nodes moved
// more than two pixels from their crossing, the crossings hidden under a label or a blot that were
// left in place and reported, and the crossings found with the corners dragged against without;
// per kind of clutter, the share within a pixel. For each sheet after --time, the time of opening
// the scan and finding its nodes against opening, calibrating and saving it (what velmora-cli
// find-nodes and calibrate do), both in this run: read it as a ratio. With VERBOSE set in the
// environment, the nodes not found and those found between one and two pixels off are listed too.
#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "FindNodes.h"
#include "GridFiles.h"
#include "RasterManagers.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct TTruthNode {
  int I = 0, J = 0;
  double X = 0, Y = 0;
  bool Hidden = false;
  std::vector<std::string> Tags;
};

struct TSheet {
  QString Name;
  QString Description;
  int NX = 0;
  std::vector<TTruthNode> Nodes;
};

TSheet ReadTruth(const QString& dir, const QString& name) {
  QFile file(QDir(dir).filePath(name + ".truth.json"));
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error("no truth for " + name.toStdString());
  const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
  TSheet sheet;
  sheet.Name = name;
  sheet.NX = root["cells"].toArray()[0].toInt() + 1;
  const QJsonObject recipe = root["recipe"].toObject();
  sheet.Description = QStringLiteral("%1×%2 %3%4 %5×%6")
                          .arg(root["width"].toInt())
                          .arg(root["height"].toInt())
                          .arg(recipe["depth"].toString())
                          .arg(recipe["jpeg"].toBool() ? QStringLiteral("+jpeg") : QString())
                          .arg(sheet.NX)
                          .arg(root["cells"].toArray()[1].toInt() + 1);
  for (const QJsonValue& value : root["nodes"].toArray()) {
    const QJsonObject o = value.toObject();
    TTruthNode node;
    node.I = o["i"].toInt();
    node.J = o["j"].toInt();
    node.X = o["x"].toDouble();
    node.Y = o["y"].toDouble();
    node.Hidden = o["hidden"].toBool();
    for (const QJsonValue& tag : o["tags"].toArray())
      node.Tags.push_back(tag.toString().toStdString());
    sheet.Nodes.push_back(node);
  }
  return sheet;
}

struct TScore {
  int Visible = 0;
  int Within = 0;
  int Found = 0;
  int NotFound = 0;
  int Wrong = 0;
  double Worst = 0;
  int Hidden = 0;
  int HiddenKept = 0;
  int Disputed = 0;
  std::string Report;

  void Add(const TScore& s) {
    Visible += s.Visible;
    Within += s.Within;
    Found += s.Found;
    NotFound += s.NotFound;
    Wrong += s.Wrong;
    Worst = std::max(Worst, s.Worst);
    Hidden += s.Hidden;
    HiddenKept += s.HiddenKept;
    Disputed += s.Disputed;
    Report += s.Report;
  }
};

struct TTagScore {
  int Visible = 0;
  int Within = 0;
};

struct TOpened {
  explicit TOpened(const QString& file) : Raster(&Provider, 5120 * 1024, nullptr) {
    RegisterBmpFormat(&Provider);
    Raster.Open(file);
  }
  TLocalFileProvider Provider;
  TRasterManager Raster;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Opens the scan, lays the grid of the named grid file over it and finds the nodes; the time of
// it all in seconds.
TNodeSearch Search(const QString& dir, const TSheet& sheet, const QString& gridSuffix,
                   TGridInfo& grid, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  TOpened opened(QDir(dir).filePath(sheet.Name + ".bmp"));
  grid = MakeGrid(ReadGridFile(QDir(dir).filePath(sheet.Name + gridSuffix)), opened.Raster);
  TNodeSearch search = FindGridNodes(opened.Raster, grid);
  seconds = Seconds(start);
  return search;
}

TScore Score(const TSheet& sheet, const TNodeSearch& search, const TGridInfo& grid,
             std::map<std::string, TTagScore>* tags) {
  TScore score;
  TGridInfo placed = grid;
  ApplyFoundNodes(placed, search);
  for (const TTruthNode& truth : sheet.Nodes) {
    const TFoundNode& node = search.At(truth.I, truth.J);
    if (node.Finding == TNodeFinding::Trusted) continue;
    const bool found = node.Finding == TNodeFinding::Found;
    const TPoint at = placed.NodePos(truth.I, truth.J);
    const double off = std::hypot(at.X - truth.X, at.Y - truth.Y);
    score.Disputed += node.Finding == TNodeFinding::Disputed;
    if (truth.Hidden) {
      ++score.Hidden;
      score.HiddenKept += !found;
      if (found)
        score.Report +=
            "  hidden (" + std::to_string(truth.I) + ", " + std::to_string(truth.J) + ") moved\n";
      continue;
    }
    ++score.Visible;
    score.Found += found;
    score.NotFound += !found;
    if (!found && getenv("VERBOSE")) {
      char line[200];
      std::snprintf(line, sizeof line, "  (%d, %d) not found, %s\n", truth.I, truth.J,
                    node.Finding == TNodeFinding::Disputed ? "disputed" : "no crossing");
      score.Report += line;
    }
    const bool within = found && off <= 1;
    score.Within += within;
    if (found && off > 1 && off <= 2 && getenv("VERBOSE")) {
      char line[200];
      std::snprintf(line, sizeof line, "  (%d, %d) %.2f px off (%+.2f, %+.2f), confidence %.2f\n",
                    truth.I, truth.J, off, node.Position.X - truth.X, node.Position.Y - truth.Y,
                    node.Confidence);
      score.Report += line;
    }
    if (found && off > 2) {
      ++score.Wrong;
      score.Worst = std::max(score.Worst, off);
      std::string tagList;
      for (const std::string& tag : truth.Tags) tagList += " " + tag;
      char line[160];
      std::snprintf(line, sizeof line, "  (%d, %d) moved %.1f px off:%s\n", truth.I, truth.J, off,
                    tagList.c_str());
      score.Report += line;
    }
    if (tags) {
      std::vector<std::string> kinds = truth.Tags;
      if (kinds.empty()) kinds.push_back("plain");
      for (const std::string& tag : kinds) {
        ++(*tags)[tag].Visible;
        (*tags)[tag].Within += within;
      }
    }
  }
  return score;
}

// Opening, calibrating and saving the scan, as velmora-cli calibrate does, in seconds.
double CalibrateSeconds(const QString& dir, const TSheet& sheet, const TGridInfo& found) {
  const QString output = QDir(dir).filePath(sheet.Name + ".calibrated.bmp");
  const auto start = std::chrono::steady_clock::now();
  {
    TOpened opened(QDir(dir).filePath(sheet.Name + ".bmp"));
    CalibrateRaster(opened.Raster, found);
    opened.Raster.Save(output);
  }
  const double seconds = Seconds(start);
  QFile::remove(output);
  return seconds;
}

double Percent(int part, int whole) {
  return whole ? 100.0 * part / whole : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: find_nodes_sheets DIR [--time NAME ...] [NAME ...]\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QStringList names, timed;
  bool timing = false;
  for (int k = 2; k < argc; ++k) {
    const QString arg = QString::fromLocal8Bit(argv[k]);
    if (arg == "--time")
      timing = true;
    else
      (timing ? timed : names).push_back(arg);
  }
  if (names.isEmpty())
    for (const QString& file : QDir(dir).entryList({"*.truth.json"}, QDir::Files, QDir::Name))
      names.push_back(file.chopped(QStringLiteral(".truth.json").size()));

  TScore all;
  std::map<std::string, TTagScore> tags;
  int plainFound = 0, cornersFound = 0, cornersWrong = 0;
  std::printf("%-24s %-26s %7s %7s %7s %6s %7s %9s %8s\n", "sheet", "scan", "visible", "within",
              "missed", "wrong", "hidden", "corners", "find s");
  for (const QString& name : names) {
    const TSheet sheet = ReadTruth(dir, name);
    TGridInfo grid, cornersGrid;
    double seconds = 0, cornersSeconds = 0;
    const TNodeSearch search = Search(dir, sheet, ".grid.json", grid, seconds);
    const TScore score = Score(sheet, search, grid, &tags);
    const TNodeSearch corners = Search(dir, sheet, ".corners.json", cornersGrid, cornersSeconds);
    const TScore cornersScore = Score(sheet, corners, cornersGrid, nullptr);
    // Of the nodes but the corners: those found with the corners dragged against without.
    int cornersFoundPlain = 0;
    for (const auto& [i, j] :
         {std::pair{0, 0}, {search.NX - 1, 0}, {0, search.NY - 1}, {search.NX - 1, search.NY - 1}})
      cornersFoundPlain += search.At(i, j).Finding == TNodeFinding::Found;
    plainFound += score.Found - cornersFoundPlain;
    cornersFound += cornersScore.Found;
    cornersWrong += cornersScore.Wrong;
    all.Add(score);
    std::printf("%-24s %-26s %7d %6.2f%% %7d %6d %3d/%-3d %4d/%-4d %8.2f\n", qPrintable(sheet.Name),
                qPrintable(sheet.Description), score.Visible, Percent(score.Within, score.Visible),
                score.NotFound, score.Wrong, score.HiddenKept, score.Hidden, cornersScore.Found,
                score.Found - cornersFoundPlain, seconds);
    std::fputs(score.Report.c_str(), stdout);
    if (!cornersScore.Report.empty())
      std::printf("  with the corners dragged:\n%s", cornersScore.Report.c_str());
    std::fflush(stdout);
    if (timed.contains(name)) {
      TGridInfo found = grid;
      ApplyFoundNodes(found, search);
      const double calibrate = CalibrateSeconds(dir, sheet, found);
      std::printf("  time: find-nodes %.2f s, calibrate %.2f s: %.3f× the calibration\n", seconds,
                  calibrate, seconds / calibrate);
    }
  }
  std::printf("\nBy the clutter at the crossing (visible crossings within a pixel):\n");
  for (const auto& [tag, s] : tags)
    std::printf("  %-14s %6d %7.2f%%\n", tag.c_str(), s.Visible, Percent(s.Within, s.Visible));
  std::printf("\n%zu sheets, %d visible crossings:\n", size_t(names.size()), all.Visible);
  std::printf("  within 1 px of the crossing      %7.2f%%   (goal >= 99.5%%), %d nodes\n",
              Percent(all.Within, all.Visible), all.Within);
  std::printf("  not found                        %7.2f%%   (goal <= 1%%), %d nodes\n",
              Percent(all.NotFound, all.Visible), all.NotFound);
  std::printf("  moved more than 2 px             %7d    (goal 0), worst %.1f px\n", all.Wrong,
              all.Worst);
  std::printf("  hidden, left in place, reported  %4d of %d (goal all)\n", all.HiddenKept,
              all.Hidden);
  std::printf(
      "  with the corners dragged first   %7d found (but the corners) against %d without; "
      "%d moved more than 2 px\n",
      cornersFound, plainFound, cornersWrong);
  std::printf("  disputed (seen, but not where the grid puts them): %d\n", all.Disputed);
  return 0;
}
