#include "AboutForms.h"
#include "QtPrinters.h"
#include "VersionStrings.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString LabelText(const QWidget& form, const char* name) {
  const auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text() : QStringLiteral("(no label)");
}

}  // namespace

TEST(AboutForms, ShowsTheIconAndTheFourStringsOfTheVersionRecord) {
  TAboutForm form;
  EXPECT_EQ(form.windowTitle(), "О программе");
  EXPECT_EQ(LabelText(form, "ProductName"), VELMORA_PRODUCT_NAME);
  EXPECT_EQ(LabelText(form, "FileDescription"), QString::fromUtf8(VELMORA_FILE_DESCRIPTION));
  EXPECT_EQ(LabelText(form, "FileVersion"), QStringLiteral("Версия: ") + VELMORA_FILE_VERSION);
  EXPECT_EQ(LabelText(form, "LegalCopyright"), QString::fromUtf8(VELMORA_LEGAL_COPYRIGHT));
  const auto* icon = form.findChild<QLabel*>(QStringLiteral("ProgramIcon"));
  ASSERT_NE(icon, nullptr);
  const QImage picture = icon->pixmap().toImage();
  ASSERT_FALSE(picture.isNull());
  // The icon is drawn, not an empty square: the sheet's outline is dark, its paper light.
  EXPECT_LT(qGray(picture.pixel(picture.width() / 2, picture.height() - 2)), 120);
  EXPECT_GT(qAlpha(picture.pixel(picture.width() / 2, picture.height() / 2)), 200);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowContextHelpButtonHint);
}

TEST(AboutForms, OkAndEscCloseTheBox) {
  for (const bool escape : {false, true}) {
    TAboutForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* ok = form.findChild<QPushButton*>(QStringLiteral("OkBtn"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "ОК");
    EXPECT_TRUE(ok->isDefault());
    if (escape) {
      QTest::keyClick(&form, Qt::Key_Escape);
    } else {
      ok->click();
    }
    EXPECT_FALSE(form.isVisible());
  }
}
