#include "SysUtils.h"

#include <QLocale>
#include <QtDebug>

#include <cmath>
#include <cstring>

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

static QString SystemErrorText(int errorCode) {
  return QStringLiteral("Системная ошибка. Код: %1.\n%2")
      .arg(errorCode)
      .arg(QString::fromLocal8Bit(std::strerror(errorCode)));
}

EOSError::EOSError(int errorCode) : Exception(SystemErrorText(errorCode)), FErrorCode(errorCode) {}

EOSError::EOSError(int errorCode, const QString& context)
    : Exception(context + QStringLiteral(": ") + SystemErrorText(errorCode)),
      FErrorCode(errorCode) {}

EConvertError EConvertError::NotInteger(const QString& text) {
  return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

EConvertError EConvertError::NotFloat(const QString& text) {
  return EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

static QString WithReason(const QString& text, int errorCode) {
  if (errorCode == 0) return text;
  return text + QStringLiteral(". ") + QString::fromLocal8Bit(std::strerror(errorCode));
}

EFOpenError::EFOpenError(const QString& fileName, int errorCode)
    : EStreamError(WithReason(QStringLiteral("Cannot open file %1").arg(fileName), errorCode)) {}

EFCreateError::EFCreateError(const QString& fileName, int errorCode)
    : EStreamError(WithReason(QStringLiteral("Cannot create file %1").arg(fileName), errorCode)) {}

EReadError::EReadError() : EStreamError(QStringLiteral("Stream read error")) {}

EWriteError::EWriteError() : EStreamError(QStringLiteral("Stream write error")) {}

EAssertionFailed::EAssertionFailed(const QString& message, const QString& location, int line)
    : Exception(QStringLiteral("%1 (%2, line %3)").arg(message, location).arg(line)) {}

EDivByZero::EDivByZero() : Exception(QStringLiteral("Division by zero")) {}

EAbstractError::EAbstractError() : Exception(QStringLiteral("Abstract Error")) {}

int StrToInt(const QString& text) {
  bool ok = false;
  const int value = text.trimmed() == text ? text.toInt(&ok, 10) : 0;
  if (!ok) throw EConvertError::NotInteger(text);
  return value;
}

double StrToFloat(const QString& text) {
  // The user's locale decides the decimal separator; group separators are never part of a number
  // typed into a field, and accepting them would read "2,5" as 25 under an English locale.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
  bool ok = false;
  const double value = locale.toDouble(text, &ok);
  if (!ok || !std::isfinite(value)) throw EConvertError::NotFloat(text);
  return value;
}

QString FloatToStr(double value) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  // Plain digits for the numbers people write that way; an exponent only for the very small and
  // the very large.
  const double magnitude = std::abs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e15);
  return locale.toString(value, plain ? 'f' : 'g', QLocale::FloatingPointShortest);
}

QString Format(const QString& format, const QVariantList& args) {
  QString result;
  result.reserve(format.size() + 16 * args.size());
  qsizetype next = 0;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c != u'%' || i + 1 >= format.size()) {
      result += c;
      continue;
    }
    const QChar kind = format[++i];
    if (kind == u'%') {
      result += u'%';
    } else if (next < args.size()) {
      const QVariant& arg = args[next++];
      if (kind == u'x')
        result += QString::number(arg.toLongLong(), 16);
      else
        result += arg.toString();
    }
  }
  return result;
}

static TExceptionHandler& ExceptionHandler() {
  static TExceptionHandler handler;
  return handler;
}

void SetExceptionHandler(TExceptionHandler handler) {
  ExceptionHandler() = std::move(handler);
}

void HandleException(const Exception& e) {
  if (ExceptionHandler())
    ExceptionHandler()(e);
  else
    qWarning().noquote() << e.Message();
}
