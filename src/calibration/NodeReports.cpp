#include "NodeReports.h"

#include <cmath>
#include <functional>

namespace {

// The form of "узел" after a number: 1 узел, 2 узла, 5 узлов, 21 узел.
QString Nodes(int count) {
  const int tens = count % 100, ones = count % 10;
  if (ones == 1 && tens != 11) return QStringLiteral("узел");
  if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) return QStringLiteral("узла");
  return QStringLiteral("узлов");
}

// "из N узлов": after "из" the genitive, singular for 1, 21, 31...
QString OfNodes(int count) {
  return count % 10 == 1 && count % 100 != 11 ? QStringLiteral("узла") : QStringLiteral("узлов");
}

QString Pixels(double distance) {
  return QString::number(distance, 'f', 1).replace('.', ',');
}

// One line per node that the test picks, the first limit of them; then how many more there are,
// "И ещё N узлов" with the verb for one (singular) or for many.
void List(const TNodeSearch& search, int limit, const std::function<bool(const TFoundNode&)>& test,
          const std::function<QString(int i, int j, const TFoundNode&)>& line, const QString& one,
          const QString& many, QStringList& lines) {
  int named = 0, rest = 0;
  for (int j = 0; j < search.NY; ++j)
    for (int i = 0; i < search.NX; ++i) {
      const TFoundNode& node = search.At(i, j);
      if (!test(node)) continue;
      if (named < limit) {
        lines << line(i, j, node);
        ++named;
      } else {
        ++rest;
      }
    }
  if (rest > 0)
    lines << QStringLiteral("И ещё %1 %2 %3")
                 .arg(rest)
                 .arg(Nodes(rest))
                 .arg(rest % 10 == 1 && rest % 100 != 11 ? one : many);
}

}  // namespace

QStringList NodeSearchReport(const TNodeSearch& search, int limit) {
  const int searched = search.SearchedCount();
  QStringList lines{QStringLiteral("Найдено %1 из %2 %3")
                        .arg(search.FoundCount())
                        .arg(searched)
                        .arg(OfNodes(searched))};
  List(
      search, limit, [](const TFoundNode& node) { return node.Finding == TNodeFinding::NotFound; },
      [](int i, int j, const TFoundNode&) {
        return QStringLiteral("Узел (%1, %2) не найден").arg(i).arg(j);
      },
      QStringLiteral("не найден"), QStringLiteral("не найдены"), lines);
  List(
      search, limit, [](const TFoundNode& node) { return node.Finding == TNodeFinding::Disputed; },
      [](int i, int j, const TFoundNode& node) {
        return QStringLiteral(
                   "Узел (%1, %2) не перенесён: пересечение в %3 пикселя от места, где его "
                   "ждут соседние узлы")
            .arg(i)
            .arg(j)
            .arg(Pixels(node.Deviation));
      },
      QStringLiteral("не перенесён"), QStringLiteral("не перенесены"), lines);
  List(
      search, limit,
      [](const TFoundNode& node) {
        return node.Finding == TNodeFinding::Trusted && node.Disagrees;
      },
      [](int i, int j, const TFoundNode& node) {
        return QStringLiteral(
                   "Узел (%1, %2), поставленный вручную, в %3 пикселя от места, где его ждут "
                   "соседние узлы")
            .arg(i)
            .arg(j)
            .arg(Pixels(node.Deviation));
      },
      QStringLiteral("поставлен вручную в стороне от соседних"),
      QStringLiteral("поставлены вручную в стороне от соседних"), lines);
  List(
      search, limit,
      [](const TFoundNode& node) {
        return node.Finding == TNodeFinding::Found && node.Confidence < kUnsureNode;
      },
      [](int i, int j, const TFoundNode& node) {
        return QStringLiteral("Узел (%1, %2) найден неуверенно: %3 %")
            .arg(i)
            .arg(j)
            .arg(std::lround(100 * node.Confidence));
      },
      QStringLiteral("найден неуверенно"), QStringLiteral("найдены неуверенно"), lines);
  return lines;
}
