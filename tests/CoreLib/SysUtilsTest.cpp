#include "MessageOf.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <QLocale>

#include <cerrno>

#include <gtest/gtest.h>

TEST(Format, FillsPlaceholdersInTurn) {
  EXPECT_EQ(Format("Не найден растр для точки (%d, %d)", {-1, 7}),
            QStringLiteral("Не найден растр для точки (-1, 7)"));
  EXPECT_EQ(Format("файл %s, 100%%", {QStringLiteral("a.bmp")}),
            QStringLiteral("файл a.bmp, 100%"));
  EXPECT_EQ(Format("%x", {255}), QStringLiteral("ff"));
  // A missing argument leaves nothing behind rather than reading past the list.
  EXPECT_EQ(Format("a%db", {}), QStringLiteral("ab"));
}

TEST(Format, RussianNounsTakeTheFormOfTheirNumber) {
  const auto bits = [](int64_t n) {
    return QString::number(n) + u' ' + PluralForm(n, "бите", "битах", "битах");
  };
  EXPECT_EQ(bits(1), QStringLiteral("1 бите"));
  EXPECT_EQ(bits(24), QStringLiteral("24 битах"));
  const auto parts = [](int64_t n) { return PluralForm(n, "часть", "части", "частей"); };
  EXPECT_EQ(QStringList({parts(1), parts(2), parts(4), parts(5), parts(11), parts(12), parts(14),
                         parts(20), parts(21), parts(22), parts(111), parts(1667301), parts(-3)}),
            QStringList({"часть", "части", "части", "частей", "частей", "частей", "частей",
                         "частей", "часть", "части", "частей", "часть", "части"}));
}

TEST(Exceptions, MessagesReadAsTheUserSeesThem) {
  EXPECT_EQ(EAssertionFailed("Сбой", "CoreLib\\RefObjects", 86).Message(),
            QStringLiteral("Сбой (CoreLib\\RefObjects, line 86)"));
  EXPECT_EQ(EConvertError::NotInteger("x1").Message(),
            QStringLiteral("'x1' не является целым числом"));
  EXPECT_EQ(EConvertError::NotFloat("1..2").Message(), QStringLiteral("'1..2' не является числом"));
  EXPECT_EQ(EFOpenError("/no/such", ENOENT).Message(),
            QStringLiteral("Не удаётся открыть файл /no/such: нет такого файла или папки"));
  // what() carries the same text for code that only knows std::exception.
  EXPECT_EQ(QString::fromUtf8(Exception("Ошибка").what()), QStringLiteral("Ошибка"));
}

TEST(Exceptions, SystemErrorsReadInRussianWithTheNumberForRareOnes) {
  EXPECT_EQ(SystemErrorText(ENOENT), QStringLiteral("нет такого файла или папки"));
  EXPECT_EQ(SystemErrorText(EISDIR), QStringLiteral("это папка, а не файл"));
  EXPECT_EQ(SystemErrorText(EACCES), QStringLiteral("нет прав доступа"));
  EXPECT_EQ(SystemErrorText(EROFS), QStringLiteral("файловая система доступна только для чтения"));
  EXPECT_EQ(SystemErrorText(ENOSPC), QStringLiteral("на диске нет места"));
  EXPECT_EQ(SystemErrorText(ELOOP),
            QStringLiteral("слишком много символических ссылок (ссылки по кругу?)"));
  EXPECT_EQ(SystemErrorText(EPROTO), QStringLiteral("системная ошибка с кодом %1").arg(EPROTO));
  EXPECT_EQ(EOSError(ENOMEM).Message(), QStringLiteral("Недостаточно памяти"));
  EXPECT_EQ(EOSError(ENOSPC, "Не удаётся создать временный файл /tmp/x").Message(),
            QStringLiteral("Не удаётся создать временный файл /tmp/x: на диске нет места"));
  EXPECT_EQ(EWriteError("файла /data/out.bmp", ENOSPC).Message(),
            QStringLiteral("Ошибка при записи файла /data/out.bmp: на диске нет места"));
  EXPECT_EQ(EReadError("файла /data/in.bmp", 0).Message(),
            QStringLiteral("Ошибка при чтении файла /data/in.bmp: файл короче, чем ожидалось"));
}

TEST(Conversions, WholeTextMustBeANumber) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-3"), -3);
  EXPECT_THROW(StrToInt("4 2"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt("99999999999"), EConvertError);
  EXPECT_THROW(StrToFloat("abc"), EConvertError);
  EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
}

TEST(Conversions, FloatFollowsTheLocaleAndRejectsGroupSeparators) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_THROW(StrToFloat("2,5"), EConvertError);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_DOUBLE_EQ(StrToFloat("2,5"), 2.5);
  QLocale::setDefault(saved);
}

TEST(Conversions, InfinityAndNotANumberAreNotNumbers) {
  for (const char* text : {"inf", "-inf", "nan", "1e999"})
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToFloat(text); }),
              EConvertError::NotFloat(text).Message());
}

TEST(Conversions, FloatToStrIsShortestWithTheLocaleSeparatorAndReadsBack) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_EQ(FloatToStr(1), QStringLiteral("1"));
  EXPECT_EQ(FloatToStr(0.001), QStringLiteral("0,001"));
  EXPECT_EQ(FloatToStr(20.32), QStringLiteral("20,32"));
  EXPECT_EQ(FloatToStr(1234567.5), QStringLiteral("1234567,5"));  // no group separator
  EXPECT_EQ(FloatToStr(0.0005), QStringLiteral("0,0005"));
  EXPECT_EQ(FloatToStr(0.00001), QStringLiteral("0,00001"));
  EXPECT_EQ(FloatToStr(0), QStringLiteral("0"));
  EXPECT_EQ(FloatToStr(-2e-6), QStringLiteral("-2E-06"));
  EXPECT_EQ(FloatToStr(1e20), QStringLiteral("1E+20"));
  for (const double value : {0.1, 1e-05, 123456.789, -2.5, 1.5e-7, 3e300}) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QString text = FloatToStr(value);
    EXPECT_EQ(StrToFloat(text), value) << text.toStdString();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(StrToFloat(FloatToStr(value)), value);
  }
  EXPECT_EQ(FloatToStr(0.001), QStringLiteral("0.001"));
  QLocale::setDefault(saved);
}
