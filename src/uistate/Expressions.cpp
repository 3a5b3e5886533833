#include "Expressions.h"

#include "RecArrays.h"
#include "SysUtils.h"

namespace {

// 32-bit two's-complement arithmetic that wraps instead of overflowing.
int32_t Wrap(uint32_t value) {
  return static_cast<int32_t>(value);
}
int32_t WrapAdd(int32_t a, int32_t b) {
  return Wrap(uint32_t(a) + uint32_t(b));
}
int32_t WrapSub(int32_t a, int32_t b) {
  return Wrap(uint32_t(a) - uint32_t(b));
}
int32_t WrapMul(int32_t a, int32_t b) {
  return Wrap(uint32_t(a) * uint32_t(b));
}
int32_t WrapNeg(int32_t a) {
  return Wrap(0u - uint32_t(a));
}

int32_t Divide(int32_t a, int32_t b) {
  if (b == 0) throw EDivByZero();
  // The one quotient that does not fit wraps like every other result; the processor would trap.
  if (b == -1) return WrapNeg(a);
  return a / b;
}

bool IsBlank(QChar c) {
  return c.unicode() <= 32;
}
bool IsDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

TOperatorKind DelimiterKind(QChar c) {
  switch (c.unicode()) {
    case u'+':
      return okAdd;
    case u'-':
      return okSubtract;
    case u'*':
      return okMultiply;
    case u'/':
      return okDivide;
    case u'(':
      return okOpenParen;
    case u')':
      return okCloseParen;
    case u'<':
      return okLess;
    case u'>':
      return okGreater;
    case u'=':
      return okEqual;
    default:
      return okNone;
  }
}

TOperatorKind KeywordKind(const QString& word) {
  if (word == u"NOT") return okNot;
  if (word == u"AND") return okAnd;
  if (word == u"OR") return okOr;
  return okNone;
}

// One walk over the token list, loosest binding level first. The cursor lives here rather than in
// the expression, so that an evaluation started from inside another one cannot disturb it.
class TEvaluator {
 public:
  explicit TEvaluator(const std::vector<TToken>& tokens) : FTokens(tokens) {}

  int32_t ParseOr() {
    int32_t r = ParseAnd();
    while (Match(okOr)) {
      const int32_t s = ParseAnd();
      r = (r > 0 || s > 0) ? 1 : 0;
    }
    return r;
  }

  bool AtEnd() const { return FCursor >= FTokens.size(); }

 private:
  int32_t ParseAnd() {
    int32_t r = ParseNot();
    while (Match(okAnd)) {
      const int32_t s = ParseNot();
      r = (r > 0 && s > 0) ? 1 : 0;
    }
    return r;
  }

  int32_t ParseNot() {
    if (Match(okNot)) return ParseNot() == 0 ? 1 : 0;
    return ParseCompare();
  }

  int32_t ParseCompare() {
    const int32_t l = ParseSum();
    const TOperatorKind kind = CurrentOperator();
    if (kind < okEqual || kind > okGreaterEqual) return l;
    ++FCursor;
    const int32_t r = ParseSum();
    switch (kind) {
      case okEqual:
        return l == r;
      case okLess:
        return l < r;
      case okGreater:
        return l > r;
      case okLessEqual:
        return l <= r;
      default:
        return l >= r;
    }
  }

  int32_t ParseSum() {
    int32_t r = ParseProduct();
    for (;;) {
      if (Match(okAdd))
        r = WrapAdd(r, ParseProduct());
      else if (Match(okSubtract))
        r = WrapSub(r, ParseProduct());
      else
        return r;
    }
  }

  int32_t ParseProduct() {
    int32_t r = ParseValue();
    for (;;) {
      if (Match(okMultiply))
        r = WrapMul(r, ParseValue());
      else if (Match(okDivide))
        r = Divide(r, ParseValue());
      else
        return r;
    }
  }

  int32_t ParseValue() {
    if (!AtEnd()) {
      if (TValueHolder* const* holder = std::get_if<TValueHolder*>(&FTokens[FCursor])) {
        ++FCursor;
        return (*holder)->Value();
      }
    }
    if (Match(okSubtract)) return WrapNeg(ParseValue());
    if (Match(okOpenParen)) {
      const int32_t r = ParseOr();
      if (!Match(okCloseParen))
        RaiseInternal(QStringLiteral("ParseValue"),
                      QStringLiteral("Не хватает закрывающей скобки"));
      return r;
    }
    RaiseInternal(QStringLiteral("ParseValue"), QStringLiteral("Некорректное значение"));
  }

  // The kind of the operator under the cursor; okNone at the end or on an operand.
  TOperatorKind CurrentOperator() const {
    if (AtEnd()) return okNone;
    const TOperator* op = std::get_if<TOperator>(&FTokens[FCursor]);
    return op ? op->Kind() : okNone;
  }

  bool Match(TOperatorKind kind) {
    if (CurrentOperator() != kind) return false;
    ++FCursor;
    return true;
  }

  const std::vector<TToken>& FTokens;
  size_t FCursor = 0;
};

}  // namespace

void TExpression::AddLiteral(int32_t value) {
  FLiterals.push_back(std::make_unique<TParsedValue>(value));
  FTokens.emplace_back(FLiterals.back().get());
}

void TExpression::AddTokens(const TArgList& args) {
  for (const TArg& arg : args) {
    const TArg::TValue& value = arg.Get();
    if (const int32_t* number = std::get_if<int32_t>(&value))
      AddLiteral(*number);
    else if (const bool* flag = std::get_if<bool>(&value))
      AddLiteral(*flag ? 1 : 0);
    else if (const QString* text = std::get_if<QString>(&value))
      ParseStr(*text);
    else if (TValueHolder* const* holder = std::get_if<TValueHolder*>(&value); holder && *holder)
      FTokens.emplace_back(*holder);
    else
      throw Exception(QStringLiteral("AddTokens failed: Invalid argument type"));
  }
}

void TExpression::ParseStr(const QString& text) {
  const qsizetype n = text.size();
  qsizetype i = 0;
  for (;;) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) return;
    const QChar c = text[i];
    if (TOperatorKind kind = DelimiterKind(c); kind != okNone) {
      ++i;
      if ((kind == okLess || kind == okGreater) && i < n && text[i] == u'=') {
        kind = kind == okLess ? okLessEqual : okGreaterEqual;
        ++i;
      }
      FTokens.emplace_back(TOperator(kind));
    } else if (IsDigit(c)) {
      const qsizetype start = i;
      while (i < n && IsDigit(text[i])) ++i;
      AddLiteral(StrToInt(text.mid(start, i - start)));
    } else if (c.isLetter()) {
      const qsizetype start = i;
      while (i < n && (text[i].isLetter() || IsDigit(text[i]))) ++i;
      const QString word = text.mid(start, i - start).toUpper();
      if (const TOperatorKind kind = KeywordKind(word); kind != okNone) {
        FTokens.emplace_back(TOperator(kind));
      } else {
        const auto found = FVariables.constFind(word);
        if (found == FVariables.cend())
          RaiseInternal(QStringLiteral("TExpression.ParseStr"),
                        QStringLiteral("Не найден идентификатор \"%1\"").arg(word));
        FTokens.emplace_back(found.value());
      }
    } else {
      throw Exception(QStringLiteral("Invalid character"));
    }
  }
}

void TExpression::UpdateValue() {
  TEvaluator evaluator(FTokens);
  FValue = evaluator.ParseOr();
  if (!evaluator.AtEnd())
    RaiseInternal(QStringLiteral("TExpression.UpdateValue"), QStringLiteral("Ошибка в выражении"));
}
