// Grid files as users and other programs write them: what the file says twice, and text of the
// file quoted back in a message.
#include "GridFiles.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

QString ProblemOf(const QByteArray& text) {
  return MessageOf([&] { ParseGridFile(text, "g.json"); });
}

const QByteArray kLattice = R"("origin": [0, 0], "step": [10, 10])";

}  // namespace

// A document keeps only the last of a key given twice: the file would mean something else than
// it seems to say, so it is refused, naming the key and where it stands.
TEST(GridFile, AKeyGivenTwiceInOneObjectIsRefusedByName) {
  const QString prefix = QStringLiteral("Файл сетки g.json: ");
  EXPECT_EQ(ProblemOf(R"({"cells": [1, 1], "cells": [9, 9], )" + kLattice + "}"),
            prefix + "поле \"cells\" указано дважды");
  EXPECT_EQ(ProblemOf(R"({"cells": [1, 1], )" + kLattice +
                      R"(, "nodes": [{"i": 0, "j": 0, "x": 3, "y": 4, "x": 5}]})"),
            prefix + "поле \"x\" указано дважды в узле");
  // The same key in another spelling.
  EXPECT_EQ(ProblemOf(R"({"cells": [1, 1], "paper": {"left": 1, "top": 1, "width": 5, )"
                      R"("height": 5, "l\u0065ft": 2}})"),
            prefix + "поле \"left\" указано дважды в \"paper\"");
  EXPECT_EQ(ProblemOf(R"({"cells": [1, 1], )" + kLattice + R"(, "more": [{"a": 1, "a": 2}]})"),
            prefix + "поле \"a\" указано дважды в элементе \"more\"");
  // One node listed twice would take the place of the first, however many times it is listed.
  QByteArray nodes = R"({"cells": [2, 2], )" + kLattice + R"(, "nodes": [)";
  for (int k = 0; k < 100; ++k)
    nodes += QByteArray(k ? "," : "") + R"({"i": 1, "j": 2, "x": 1, "y": 1})";
  EXPECT_EQ(ProblemOf(nodes + "]}"), prefix + "узел (1, 2) указан дважды");

  // Keys of one name in different objects are no repetition.
  const TGridFile file = ParseGridFile(R"({"cells": [2, 2], )" + kLattice +
                                           R"(, "nodes": [{"i": 1, "j": 2, "x": 1, "y": 1}, )"
                                           R"({"i": 2, "j": 1, "x": 2, "y": 2}]})",
                                       "g.json");
  ASSERT_EQ(file.Nodes.size(), 2u);
  EXPECT_EQ(file.Nodes[1].X, 2);
}

// Keys came back raw: an escape sequence recoloured or cleared the terminal, NUL cut the message,
// a right-to-left override turned the rest of the line around.
TEST(GridFile, TextOfTheFileInAMessageIsEscaped) {
  const auto unknown = [](const QByteArray& key) {
    return ProblemOf(R"({"cells": [1, 1], )" + kLattice + R"(, ")" + key + R"(": 1})");
  };
  const QString prefix = QStringLiteral("Файл сетки g.json: неизвестное поле ");
  EXPECT_EQ(unknown(R"(\u001b[2J\u001b]0;title\u0007)"),
            prefix + R"("\u001B[2J\u001B]0;title\u0007")");
  EXPECT_EQ(unknown(R"(a\u0000b)"), prefix + R"("a\u0000b")");
  EXPECT_EQ(unknown("txt\xE2\x80\xAE"
                    "fdp.exe"),
            prefix + R"("txt\u202Efdp.exe")");
  EXPECT_EQ(unknown(R"(line\u2028\r\nnext)"), prefix + R"("line\u2028\u000D\u000Anext")");
  EXPECT_EQ(unknown(R"(\"quoted\" \\ back)"), prefix + R"("\"quoted\" \\ back")");
  // Letters of any script and pictures stay as they are; a lone half of a pair does not.
  EXPECT_EQ(unknown("ключ \xF0\x9F\x97\xBA"), prefix + "\"ключ \xF0\x9F\x97\xBA\"");
  EXPECT_EQ(unknown(R"(half\ud83d)"), prefix + R"("half\uD83D")");
  // Cut short, never inside a pair.
  EXPECT_EQ(unknown(QByteArray(39, 'k') + "\xF0\x9F\x97\xBA"
                                          "tail"),
            prefix + "\"" + QString(39, u'k') + "…\"");
}
