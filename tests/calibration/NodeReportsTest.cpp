#include "NodeReports.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

TNodeSearch Search(int nx, int ny) {
  TNodeSearch search;
  search.NX = nx;
  search.NY = ny;
  search.Nodes.resize(static_cast<size_t>(nx) * ny);
  for (TFoundNode& node : search.Nodes) {
    node.Finding = TNodeFinding::Found;
    node.Confidence = 0.9;
  }
  return search;
}

TFoundNode& Node(TNodeSearch& search, int i, int j) {
  return search.Nodes[static_cast<size_t>(i + j * search.NX)];
}

}  // namespace

// Each kind of node the user should look at has its own lines, in the order of the grid's rows;
// nodes found surely are not named.
TEST(NodeSearchReport, NamesTheNodesToLookAtByWhatTheSearchMadeOfThem) {
  TNodeSearch search = Search(4, 3);
  Node(search, 2, 0).Finding = TNodeFinding::NotFound;
  Node(search, 1, 2).Finding = TNodeFinding::NotFound;
  TFoundNode& disputed = Node(search, 3, 1);
  disputed.Finding = TNodeFinding::Disputed;
  disputed.Disagrees = true;
  disputed.Deviation = 7.449;
  TFoundNode& placed = Node(search, 0, 0);
  placed.Finding = TNodeFinding::Trusted;
  placed.Disagrees = true;
  placed.Deviation = 3;
  Node(search, 3, 2).Finding = TNodeFinding::Trusted;
  Node(search, 2, 2).Confidence = 0.42;
  EXPECT_EQ(NodeSearchReport(search, 20),
            QStringList({"Найдено 7 из 10 узлов", "Узел (2, 0) не найден", "Узел (1, 2) не найден",
                         "Узел (3, 1) не перенесён: пересечение в 7,4 пикселя от места, где его "
                         "ждут соседние узлы",
                         "Узел (0, 0), поставленный вручную, в 3,0 пикселя от места, где его "
                         "ждут соседние узлы",
                         "Узел (2, 2) найден неуверенно: 42 %"}));
}

// Long lists name their first nodes and count the rest, in Russian number forms.
TEST(NodeSearchReport, CountsWhatItDoesNotName) {
  struct TCase {
    int Missed;
    QString Last;
  };
  for (const TCase& c :
       {TCase{3, "И ещё 1 узел не найден"}, TCase{4, "И ещё 2 узла не найдены"},
        TCase{7, "И ещё 5 узлов не найдены"}, TCase{13, "И ещё 11 узлов не найдены"},
        TCase{23, "И ещё 21 узел не найден"}, TCase{116, "И ещё 114 узлов не найдены"}}) {
    TNodeSearch search = Search(200, 1);
    for (int i = 0; i < c.Missed; ++i) Node(search, i, 0).Finding = TNodeFinding::NotFound;
    const QStringList report = NodeSearchReport(search, 2);
    ASSERT_EQ(report.size(), 4) << c.Missed;
    EXPECT_EQ(report[1], "Узел (0, 0) не найден");
    EXPECT_EQ(report[3], c.Last);
  }
  EXPECT_EQ(NodeSearchReport(Search(1, 1), 2), QStringList({"Найдено 1 из 1 узла"}));
  EXPECT_EQ(NodeSearchReport(Search(21, 1), 2), QStringList({"Найдено 21 из 21 узла"}));
  EXPECT_EQ(NodeSearchReport(Search(11, 1), 2), QStringList({"Найдено 11 из 11 узлов"}));
}
