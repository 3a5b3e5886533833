#include "SysUtils.h"

#include <QLocale>
#include <QtDebug>

#include <cerrno>
#include <cmath>
#include <cstring>

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

QString SystemErrorText(int errorCode) {
  switch (errorCode) {
    case ENOENT:
      return QStringLiteral("нет такого файла или папки");
    case EISDIR:
      return QStringLiteral("это папка, а не файл");
    case ENOTDIR:
      return QStringLiteral("часть пути не является папкой");
    case EACCES:
    case EPERM:
      return QStringLiteral("нет прав доступа");
    case EROFS:
      return QStringLiteral("файловая система доступна только для чтения");
    case ENOSPC:
      return QStringLiteral("на диске нет места");
    case EDQUOT:
      return QStringLiteral("исчерпана дисковая квота");
    case EFBIG:
      return QStringLiteral("файл слишком велик");
    case ELOOP:
      return QStringLiteral("слишком много символических ссылок (ссылки по кругу?)");
    case EMLINK:
      return QStringLiteral("слишком много ссылок на файл");
    case ENAMETOOLONG:
      return QStringLiteral("слишком длинное имя");
    case EEXIST:
      return QStringLiteral("файл уже существует");
    case EBUSY:
    case ETXTBSY:
      return QStringLiteral("файл занят");
    case EMFILE:
    case ENFILE:
      return QStringLiteral("открыто слишком много файлов");
    case ENOMEM:
      return QStringLiteral("недостаточно памяти");
    case EIO:
      return QStringLiteral("ошибка ввода-вывода");
    case ENXIO:
    case ENODEV:
      return QStringLiteral("нет такого устройства");
    default:
      return QStringLiteral("системная ошибка с кодом %1").arg(errorCode);
  }
}

static QString Capitalized(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

EOSError::EOSError(int errorCode)
    : Exception(Capitalized(SystemErrorText(errorCode))), FErrorCode(errorCode) {}

EOSError::EOSError(int errorCode, const QString& context)
    : Exception(context + QStringLiteral(": ") + SystemErrorText(errorCode)),
      FErrorCode(errorCode) {}

EConvertError EConvertError::NotInteger(const QString& text) {
  return EConvertError(QStringLiteral("'%1' не является целым числом").arg(text));
}

EConvertError EConvertError::NotFloat(const QString& text) {
  return EConvertError(QStringLiteral("'%1' не является числом").arg(text));
}

EStreamError::EStreamError(const QString& message, int errorCode)
    : Exception(message), FErrorCode(errorCode) {}

EFOpenError::EFOpenError(const QString& fileName, int errorCode)
    : EStreamError(QStringLiteral("Не удаётся открыть файл %1: %2")
                       .arg(fileName, SystemErrorText(errorCode)),
                   errorCode) {}

EFOpenError::EFOpenError(const QString& fileName, const QString& cause)
    : EStreamError(QStringLiteral("Не удаётся открыть файл %1: %2").arg(fileName, cause), 0) {}

EFCreateError::EFCreateError(const QString& fileName, int errorCode)
    : EStreamError(QStringLiteral("Не удаётся создать файл %1: %2")
                       .arg(fileName, SystemErrorText(errorCode)),
                   errorCode) {}

EFCreateError::EFCreateError(const QString& fileName, const QString& cause)
    : EStreamError(QStringLiteral("Не удаётся создать файл %1: %2").arg(fileName, cause), 0) {}

EReadError::EReadError(const QString& subject, int errorCode)
    : EStreamError(QStringLiteral("Ошибка при чтении %1: %2")
                       .arg(subject, errorCode != 0 ? SystemErrorText(errorCode)
                                                    : QStringLiteral("файл короче, чем ожидалось")),
                   errorCode) {}

EWriteError::EWriteError(const QString& subject, int errorCode)
    : EStreamError(QStringLiteral("Ошибка при записи %1: %2")
                       .arg(subject, errorCode != 0 ? SystemErrorText(errorCode)
                                                    : QStringLiteral("запись оборвалась")),
                   errorCode) {}

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

QString PluralForm(int64_t n, const QString& one, const QString& few, const QString& many) {
  const int64_t tens = (n < 0 ? -n : n) % 100;
  const int64_t units = tens % 10;
  if (tens >= 11 && tens <= 14) return many;
  if (units == 1) return one;
  if (units >= 2 && units <= 4) return few;
  return many;
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
