#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>
#include <exception>
#include <functional>

// The error types every layer raises. A message is Russian text meant for the user; what() gives
// it as UTF-8 for code that only knows std::exception.
class Exception : public std::exception {
 public:
  explicit Exception(QString message);

  const QString& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.constData(); }

 private:
  QString FMessage;
  QByteArray FUtf8;
};

// The cause of a failed system call as the user reads it: our own words for the common causes
// (lower case, without a full stop), the error number for the rest.
QString SystemErrorText(int errorCode);

// A failed operating-system call, carrying errno and the cause in the user's words.
class EOSError : public Exception {
 public:
  explicit EOSError(int errorCode);
  // The context ("Не удаётся создать временный файл /tmp/x") followed by the cause.
  EOSError(int errorCode, const QString& context);

  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// A text that is not a number: "'%s' не является целым числом" and the floating-point form.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  static EConvertError NotInteger(const QString& text);
  static EConvertError NotFloat(const QString& text);
};

// A failed operation on a file stream. The error code is errno, or 0 when the system reported
// none (a file shorter than expected).
class EStreamError : public Exception {
 public:
  EStreamError(const QString& message, int errorCode);

  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// "Не удаётся открыть файл %s: " / "Не удаётся создать файл %s: " followed by the cause: the
// system's, or one of our own (a file that is no regular file).
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const QString& fileName, int errorCode);
  EFOpenError(const QString& fileName, const QString& cause);
};

class EFCreateError : public EStreamError {
 public:
  EFCreateError(const QString& fileName, int errorCode);
  EFCreateError(const QString& fileName, const QString& cause);
};

// A failed read or write. The subject names what was read or written, in the genitive
// ("файла /data/scan.bmp"); without an error code a read found the file shorter than expected and
// a write was cut short.
class EReadError : public EStreamError {
 public:
  EReadError(const QString& subject, int errorCode);
};

class EWriteError : public EStreamError {
 public:
  EWriteError(const QString& subject, int errorCode);
};

// A broken programming contract, reported as "%s (%s, line %d)". The location and line are fixed
// names the callers give, so the same fault always reads the same way.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const QString& message, const QString& location, int line);
};

// Integer division by zero in evaluated expressions.
class EDivByZero : public Exception {
 public:
  EDivByZero();
};

// A call to an operation that a class leaves to its descendants.
class EAbstractError : public Exception {
 public:
  EAbstractError();
};

// Helpers that read numbers the way the user's texts are read: the whole text must be the number.
int StrToInt(const QString& text);
// Infinities and not-a-number are not numbers a user means: they are refused like any other word.
double StrToFloat(const QString& text);
// A number in the shortest text that reads back as the same number, with the user's decimal
// separator and no group separators ("1", "0,001" under a Russian locale); with an exponent only
// below 0.00001 and from 10^15 on ("1E-06").
QString FloatToStr(double value);

// The form of a Russian noun that goes with the number n: one for 1, 21, 31 ...; few for 2 to 4,
// 22 to 24 ...; many for the rest (5 to 20, 25 to 30 ...). ("1 бите", "4 битах", "11 битах".)
QString PluralForm(int64_t n, const QString& one, const QString& few, const QString& many);

// Formats a message the way the messages of this program are written: "%s" and "%d" (also "%S",
// "%u", "%x") take the next argument in turn, "%%" is a percent sign. Arguments are anything
// QString::arg accepts through QVariant (texts and integers).
QString Format(const QString& format, const QVariantList& args);

// Where the errors go that arise with no caller to take them back (a deferred menu command, the
// options read at start): the desktop program shows them in its standard error box. Without a
// handler the message goes to the log.
using TExceptionHandler = std::function<void(const Exception&)>;
void SetExceptionHandler(TExceptionHandler handler);
void HandleException(const Exception& e);
