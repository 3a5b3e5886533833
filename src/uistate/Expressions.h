#pragma once

#include <QMap>
#include <QString>

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

class QObject;

// An operand of an expression: a literal, or a named state variable that the expression reads
// without owning it.
class TValueHolder {
 public:
  TValueHolder() = default;
  TValueHolder(const TValueHolder&) = delete;
  TValueHolder& operator=(const TValueHolder&) = delete;
  virtual ~TValueHolder() = default;

  int32_t Value() const { return FValue; }

 protected:
  int32_t FValue = 0;
};

// A literal operand: a number of the text, or an integer or boolean argument.
class TParsedValue : public TValueHolder {
 public:
  explicit TParsedValue(int32_t value) { FValue = value; }
};

// The codes of the operator tokens; 0 marks a word that is an identifier and is never stored.
enum TOperatorKind : uint8_t {
  okNone = 0,
  okOpenParen = 1,
  okCloseParen = 2,
  okNot = 3,
  okEqual = 4,
  okLess = 5,
  okGreater = 6,
  okLessEqual = 7,
  okGreaterEqual = 8,
  okAnd = 9,
  okOr = 10,
  okAdd = 11,
  okSubtract = 12,
  okMultiply = 13,
  okDivide = 14,
};

class TOperator {
 public:
  explicit TOperator(TOperatorKind kind) : FKind(kind) {}
  TOperatorKind Kind() const { return FKind; }

 private:
  TOperatorKind FKind;
};

// A token is an operand (its holder, read at every evaluation) or an operator.
using TToken = std::variant<TValueHolder*, TOperator>;

// Upper-case name to variable. Sorted, so that lookups are binary searches.
using TVarDictionary = QMap<QString, TValueHolder*>;

// The "other" kind of argument: anything that is neither a number, a truth value, a text, a value
// holder nor a component. Operations that take arguments refuse it with their own error.
struct TOtherArg {};

// One element of a mixed argument list such as {"NavigatorState = ", 2, " or NavigatorState = ",
// 3}. Types that would silently become a wrong kind (floating point, 64-bit integers, arbitrary
// pointers) do not compile; TArg::Other() stands for them where the refusal itself is wanted.
class TArg {
 public:
  using TValue = std::variant<int32_t, bool, QString, TValueHolder*, QObject*, TOtherArg>;

  TArg(int value) : FValue(int32_t(value)) {}
  TArg(bool value) : FValue(value) {}
  TArg(const char* text) : FValue(QString::fromUtf8(text)) {}
  TArg(char c) : FValue(QString(QLatin1Char(c))) {}
  TArg(QChar c) : FValue(QString(c)) {}
  TArg(QString text) : FValue(std::move(text)) {}
  TArg(TValueHolder* holder) : FValue(holder) {}
  TArg(QObject* component) : FValue(component) {}
  TArg(double) = delete;
  TArg(long) = delete;
  TArg(long long) = delete;
  TArg(const void*) = delete;

  static TArg Other() { return TArg(TOtherArg()); }

  const TValue& Get() const { return FValue; }

 private:
  explicit TArg(TOtherArg other) : FValue(other) {}

  TValue FValue;
};

using TArgList = std::vector<TArg>;

// An integer expression over named variables, compiled once into a flat token list and evaluated
// by recursive descent over that list each time a variable may have changed. Evaluation only reads
// the tokens and the variables' values: it allocates nothing.
class TExpression {
 public:
  explicit TExpression(const TVarDictionary& variables) : FVariables(variables) {}
  TExpression(const TExpression&) = delete;
  TExpression& operator=(const TExpression&) = delete;

  // Appends the tokens of each argument in turn: numbers and truth values become literals, texts
  // are parsed, value holders are inserted as themselves. Tokens appended before an error stay.
  void AddTokens(const TArgList& args);
  void ParseStr(const QString& text);
  // Evaluates the whole token list into Value.
  void UpdateValue();

  int32_t Value() const { return FValue; }
  const std::vector<TToken>& Tokens() const { return FTokens; }

 private:
  void AddLiteral(int32_t value);

  const TVarDictionary& FVariables;
  std::vector<TToken> FTokens;
  std::vector<std::unique_ptr<TParsedValue>> FLiterals;
  int32_t FValue = 0;
};
