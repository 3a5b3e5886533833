#include "Expressions.h"

#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"
#include "UIContexts.h"

#include <QAction>

#include <gtest/gtest.h>

#include <climits>

namespace {

// Expressions over a handful of variables whose values the tests set directly.
class Expression : public testing::Test {
 protected:
  Expression() {
    for (const char* name : {"a", "b", "c", "RasterOpened", "CalibrationInProgress",
                             "ClipInProgress", "NavigatorState", "CanUndoZoom", "CellXN", "CellYN"})
      Vars[QString::fromUtf8(name).toUpper()] = Context.AddVar(QString::fromUtf8(name));
  }

  void Set(const char* name, int32_t value) {
    Vars.value(QString::fromUtf8(name).toUpper())->SetValue(value);
  }

  int32_t Eval(const TArgList& parts) {
    TExpression e(Context.Variables());
    e.AddTokens(parts);
    e.UpdateValue();
    return e.Value();
  }

  // The operator codes of the tokens, with 0 for every operand.
  std::vector<int> Kinds(const TArgList& parts) {
    TExpression e(Context.Variables());
    e.AddTokens(parts);
    return KindsOf(e);
  }

  static std::vector<int> KindsOf(const TExpression& e) {
    std::vector<int> kinds;
    for (const TToken& token : e.Tokens()) {
      const TOperator* op = std::get_if<TOperator>(&token);
      kinds.push_back(op ? op->Kind() : 0);
    }
    return kinds;
  }

  QString ErrorOf(const TArgList& parts) {
    return MessageOf([&] { Eval(parts); });
  }

  TUIContext Context;
  QMap<QString, TUIContextVar*> Vars;
};

TValueHolder* HolderAt(const TExpression& e, size_t i) {
  return std::get<TValueHolder*>(e.Tokens().at(i));
}

}  // namespace

TEST_F(Expression, SplitsTextIntoOperatorsOperandsAndKeywords) {
  using V = std::vector<int>;
  EXPECT_EQ(Kinds({"a<=b"}), (V{0, okLessEqual, 0}));
  EXPECT_EQ(Kinds({"a <= b"}), (V{0, okLessEqual, 0}));
  EXPECT_EQ(Kinds({"a>=b"}), (V{0, okGreaterEqual, 0}));
  EXPECT_EQ(Kinds({"a < = b"}), (V{0, okLess, okEqual, 0}));
  EXPECT_EQ(Kinds({"a <> b"}), (V{0, okLess, okGreater, 0}));
  EXPECT_EQ(Kinds({"a == b"}), (V{0, okEqual, okEqual, 0}));
  EXPECT_EQ(Kinds({"(+-*/)"}),
            (V{okOpenParen, okAdd, okSubtract, okMultiply, okDivide, okCloseParen}));
  EXPECT_EQ(Kinds({"not a AND b Or c"}), (V{okNot, 0, okAnd, 0, okOr, 0}));
  // Every character up to the space is blank, control characters included.
  EXPECT_EQ(Kinds({QStringLiteral("\t1\r\n+\x01\x1f 2 ")}), (V{0, okAdd, 0}));
  EXPECT_EQ(Kinds({""}), V{});
  // A letter run may hold digits; a digit run ends at the first letter.
  EXPECT_EQ(Kinds({"12a"}), (V{0, 0}));
}

TEST_F(Expression, IdentifiersAndKeywordsIgnoreCase) {
  TExpression lower(Context.Variables());
  lower.ParseStr("rasteropened AND Not canundozoom");
  ASSERT_EQ(KindsOf(lower), (std::vector<int>{0, okAnd, okNot, 0}));
  EXPECT_EQ(HolderAt(lower, 0), Vars["RASTEROPENED"]);
  EXPECT_EQ(HolderAt(lower, 3), Vars["CANUNDOZOOM"]);

  // Cyrillic letters make identifiers too, digits may follow the first letter.
  TUIContextVar* cyrillic = Context.AddVar(QStringLiteral("Растр2"));
  cyrillic->SetValue(9);
  EXPECT_EQ(Eval({QStringLiteral("рАСТР2 + 1")}), 10);
}

TEST_F(Expression, LiteralsComeFromDigitsIntegersAndTruthValues) {
  EXPECT_EQ(Eval({"007"}), 7);
  EXPECT_EQ(Eval({"2147483647"}), INT_MAX);
  EXPECT_EQ(Eval({true}), 1);
  EXPECT_EQ(Eval({false}), 0);
  EXPECT_EQ(Eval({-12}), -12);
  EXPECT_EQ(Eval({'(', 2, "+", 3, ')', "*", 4}), 20);
  EXPECT_EQ(MessageOf<EConvertError>([&] { Eval({"2147483648"}); }),
            QStringLiteral("'2147483648' не является целым числом"));
}

TEST_F(Expression, MixedPartsGiveTheTokensOfOneText) {
  TExpression mixed(Context.Variables());
  mixed.AddTokens({"NavigatorState = ", 2, " or NavigatorState = ", 3});
  TExpression text(Context.Variables());
  text.ParseStr("NavigatorState = 2 or NavigatorState = 3");
  ASSERT_EQ(KindsOf(mixed), KindsOf(text));
  EXPECT_EQ(HolderAt(mixed, 0), HolderAt(text, 0));
  EXPECT_EQ(HolderAt(mixed, 4), HolderAt(text, 4));
  EXPECT_EQ(HolderAt(mixed, 2)->Value(), 2);
  EXPECT_EQ(HolderAt(mixed, 6)->Value(), 3);

  // A value holder is inserted as itself and read at every evaluation.
  TUIContextVar* a = Vars["A"];
  TExpression held(Context.Variables());
  held.AddTokens({a, "* 2"});
  EXPECT_EQ(HolderAt(held, 0), a);
  a->SetValue(21);
  held.UpdateValue();
  EXPECT_EQ(held.Value(), 42);
}

TEST_F(Expression, RefusesArgumentsOfOtherKinds) {
  QAction action(nullptr);
  const QString expected = QStringLiteral("AddTokens failed: Invalid argument type");
  for (const TArg& arg :
       {TArg(&action), TArg::Other(), TArg(static_cast<TValueHolder*>(nullptr))}) {
    TExpression e(Context.Variables());
    EXPECT_EQ(MessageOf([&] { e.AddTokens({"1 +", arg}); }), expected);
    // What came before the refused argument stays.
    EXPECT_EQ(e.Tokens().size(), 2u);
  }
}

TEST_F(Expression, TokenizingErrorsNameTheirCause) {
  // The underscore after a known word is the bad character; the word's token stays.
  TExpression e(Context.Variables());
  EXPECT_EQ(MessageOf([&] { e.ParseStr("RasterOpened_1"); }), QStringLiteral("Invalid character"));
  EXPECT_EQ(e.Tokens().size(), 1u);
  // The underscore ends the word, so the unknown part before it is reported first.
  EXPECT_EQ(MessageOf<EInternal>([&] { Eval({"Cell_XN"}); }),
            QStringLiteral("Внутренняя ошибка: Не найден идентификатор \"CELL\" "
                           "(TExpression.ParseStr)"));
  EXPECT_EQ(MessageOf<EInternal>([&] { Eval({"1 + Foo"}); }),
            QStringLiteral("Внутренняя ошибка: Не найден идентификатор \"FOO\" "
                           "(TExpression.ParseStr)"));
  for (const QString& text : {QStringLiteral("a.b"), QStringLiteral("'a'"),
                              QStringLiteral("a\u00a0b"), QStringLiteral("\u0661")})
    EXPECT_EQ(ErrorOf({text}), QStringLiteral("Invalid character")) << text.toStdString();
}

TEST_F(Expression, ArithmeticIsThirtyTwoBitAndLeftAssociative) {
  EXPECT_EQ(Eval({"7 / 2"}), 3);
  EXPECT_EQ(Eval({"-7 / 2"}), -3);
  EXPECT_EQ(Eval({"2 - 3 - 4"}), -5);
  EXPECT_EQ(Eval({"2 * 3 + 4"}), 10);
  EXPECT_EQ(Eval({"24 / 4 / 3"}), 2);
  EXPECT_EQ(Eval({"--5"}), 5);
  EXPECT_EQ(Eval({"2147483647 + 1"}), INT_MIN);
  EXPECT_EQ(Eval({"65536 * 65536"}), 0);
  EXPECT_EQ(Eval({INT_MIN, "/ -1"}), INT_MIN);
  EXPECT_EQ(Eval({"-", INT_MIN}), INT_MIN);
  EXPECT_EQ(MessageOf<EDivByZero>([&] { Eval({"1 / (2 - 2)"}); }),
            QStringLiteral("Division by zero"));
}

TEST_F(Expression, TruthValuesAreZeroAndOne) {
  EXPECT_EQ(Eval({"NOT 5"}), 0);
  EXPECT_EQ(Eval({"NOT 0"}), 1);
  EXPECT_EQ(Eval({"NOT -1"}), 0);
  EXPECT_EQ(Eval({"not not 7"}), 1);
  EXPECT_EQ(Eval({"-1 AND 1"}), 0);
  EXPECT_EQ(Eval({"-1 OR 0"}), 0);
  EXPECT_EQ(Eval({"3 and 4"}), 1);
  EXPECT_EQ(Eval({"0 or 5"}), 1);
  EXPECT_EQ(Eval({"5 > 4"}), 1);
  EXPECT_EQ(Eval({"-5 < -4"}), 1);
  EXPECT_EQ(Eval({"4 <= 4"}), 1);
  EXPECT_EQ(Eval({"3 >= 4"}), 0);
  EXPECT_EQ(Eval({"3 = 4"}), 0);
  // A bare variable passes its value on unchanged.
  Set("a", -3);
  EXPECT_EQ(Eval({"a"}), -3);
  // Both sides of AND and OR are evaluated, whatever the first one says.
  EXPECT_EQ(MessageOf<EDivByZero>([&] { Eval({"0 and 1 / 0"}); }),
            QStringLiteral("Division by zero"));
  EXPECT_EQ(MessageOf<EDivByZero>([&] { Eval({"1 or 1 / 0"}); }),
            QStringLiteral("Division by zero"));
}

TEST_F(Expression, FollowsVariablesAndTheWorkedPrecedence) {
  for (int v : {0, 1}) {
    Set("RasterOpened", v);
    EXPECT_EQ(Eval({"RasterOpened"}), v);
  }
  for (int state = -1; state <= 5; ++state) {
    Set("NavigatorState", state);
    EXPECT_EQ(Eval({"NavigatorState = 2 or NavigatorState = 3"}), state == 2 || state == 3);
  }
  for (int mask = 0; mask < 8; ++mask) {
    Set("RasterOpened", mask & 1);
    Set("CalibrationInProgress", (mask >> 1) & 1);
    Set("ClipInProgress", (mask >> 2) & 1);
    EXPECT_EQ(Eval({"RasterOpened and not CalibrationInProgress and not ClipInProgress"}),
              mask == 1);
  }
  // NOT a = b is NOT (a = b): with a = 1 and b = 2, (NOT a) = b would be 0.
  Set("a", 1);
  Set("b", 2);
  EXPECT_EQ(Eval({"NOT a = b"}), 1);
  // a + b * c > 2 is (a + (b * c)) > 2: (a + b) * c would be 5.
  Set("b", 0);
  Set("c", 5);
  EXPECT_EQ(Eval({"a + b * c > 2"}), 0);
  // Unary minus applies to the operand next to it and may repeat.
  Set("a", 3);
  Set("b", 4);
  EXPECT_EQ(Eval({"-a * b"}), -12);
  EXPECT_EQ(Eval({"-a - -b"}), 1);
  for (int x = 0; x <= 2; ++x)
    for (int y = 0; y <= 2; ++y) {
      Set("CellXN", x);
      Set("CellYN", y);
      const int expected = x == 1 && y == 1;
      EXPECT_EQ(Eval({"(CellXN = 1) and (CellYN = 1)"}), expected);
      EXPECT_EQ(Eval({"CellXN = 1 and CellYN = 1"}), expected);
    }
}

TEST_F(Expression, EvaluationErrorsNameTheirPlace) {
  const QString badValue = QStringLiteral("Внутренняя ошибка: Некорректное значение (ParseValue)");
  const QString unclosed =
      QStringLiteral("Внутренняя ошибка: Не хватает закрывающей скобки (ParseValue)");
  const QString leftOver =
      QStringLiteral("Внутренняя ошибка: Ошибка в выражении (TExpression.UpdateValue)");
  EXPECT_EQ(ErrorOf({"a < = b"}), badValue);
  EXPECT_EQ(ErrorOf({"a <> b"}), badValue);
  EXPECT_EQ(ErrorOf({""}), badValue);
  EXPECT_EQ(ErrorOf({"a +"}), badValue);
  EXPECT_EQ(ErrorOf({"(a = 1"}), unclosed);
  EXPECT_EQ(ErrorOf({"a = 1)"}), leftOver);
  EXPECT_EQ(ErrorOf({"a b"}), leftOver);
  EXPECT_EQ(ErrorOf({"1 < 2 < 3"}), leftOver);

  // The value of the complete part stays stored when tokens are left over.
  Set("a", 5);
  TExpression e(Context.Variables());
  e.ParseStr("a b");
  EXPECT_THROW(e.UpdateValue(), EInternal);
  EXPECT_EQ(e.Value(), 5);
}
