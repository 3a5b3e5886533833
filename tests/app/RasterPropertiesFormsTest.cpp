#include "RasterPropertiesForms.h"

#include "FormUtils.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

// Each test collects the errors that would reach the user.
class RasterPropertiesTest : public testing::Test {
 protected:
  void SetUp() override {
    SetExceptionHandler([this](const Exception& e) { FErrors << e.Message(); });
  }
  void TearDown() override { SetExceptionHandler(ShowException); }

  QStringList FErrors;
};

QLineEdit* Edit(const QWidget* form, const char* name) {
  return Control<QLineEdit>(form, name);
}

}  // namespace

TEST_F(RasterPropertiesTest, EitherUnitIsTypedAndTheOtherFollowsHalvesToEven) {
  TRasterPropertiesForm form;
  EXPECT_EQ(form.metaObject()->className(), QByteArray("TRasterPropertiesForm"));
  form.SetXResPerMeter(3780);
  form.SetYResPerMeter(2835);
  form.show();
  EXPECT_EQ(Edit(&form, "XResPerInchEdit")->text(), QStringLiteral("96"));
  EXPECT_EQ(Edit(&form, "YResPerInchEdit")->text(), QStringLiteral("72"));
  EXPECT_FALSE(Edit(&form, "XResPerInchEdit")->isEnabled());
  // A text that is not a number converts as 0.
  Edit(&form, "YResPerMeterEdit")->setText(QStringLiteral("abc"));
  EXPECT_EQ(Edit(&form, "YResPerInchEdit")->text(), QStringLiteral("0"));

  Control<QRadioButton>(&form, "ResPerInchRadioBtn")->setChecked(true);
  EXPECT_FALSE(Edit(&form, "XResPerMeterEdit")->isEnabled());
  // 96 dpi is 3779.53 dots per metre: the metre fields follow the inches.
  EXPECT_EQ(Edit(&form, "XResPerMeterEdit")->text(), QStringLiteral("3780"));
  EXPECT_EQ(Edit(&form, "YResPerMeterEdit")->text(), QStringLiteral("0"));
  Edit(&form, "XResPerInchEdit")->setText(QStringLiteral(" 300 "));
  Edit(&form, "YResPerInchEdit")->setText(QStringLiteral("72"));
  EXPECT_EQ(Edit(&form, "XResPerMeterEdit")->text(), QStringLiteral("11811"));
  EXPECT_EQ(Edit(&form, "YResPerMeterEdit")->text(), QStringLiteral("2835"));
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.XResPerMeter(), 11811);
  EXPECT_EQ(form.YResPerMeter(), 2835);

  // 11811 shows as 300 dpi again, and the dialog always reopens in metres.
  form.SetXResPerMeter(11811);
  form.show();
  EXPECT_TRUE(Control<QRadioButton>(&form, "ResPerMeterRadioBtn")->isChecked());
  EXPECT_EQ(Edit(&form, "XResPerInchEdit")->text(), QStringLiteral("300"));
  EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(RasterPropertiesTest, AFieldThatIsNotANumberOrNegativeKeepsTheDialogOpen) {
  TRasterPropertiesForm form;
  form.SetXResPerMeter(3780);
  form.SetYResPerMeter(3780);
  form.show();
  Edit(&form, "XResPerMeterEdit")->setText(QStringLiteral("abc"));
  form.accept();
  EXPECT_EQ(FErrors, QStringList({EConvertError::NotInteger("abc").Message()}));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(Edit(&form, "XResPerMeterEdit")->text(), QStringLiteral("abc"));

  FErrors.clear();
  Edit(&form, "XResPerMeterEdit")->setText(QStringLiteral("3780"));
  Edit(&form, "YResPerMeterEdit")->setText(QStringLiteral("-100"));
  form.accept();
  EXPECT_EQ(FErrors, QStringList({"Разрешение растра не может быть отрицательным"}));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.YResPerMeter(), 3780);

  // In inches, what the user typed is checked, not the 0 it converts to.
  FErrors.clear();
  Control<QRadioButton>(&form, "ResPerInchRadioBtn")->setChecked(true);
  Edit(&form, "YResPerInchEdit")->setText(QStringLiteral("300dpi"));
  EXPECT_EQ(Edit(&form, "YResPerMeterEdit")->text(), QStringLiteral("0"));
  form.accept();
  EXPECT_EQ(FErrors, QStringList({EConvertError::NotInteger("300dpi").Message()}));
  Edit(&form, "YResPerInchEdit")->setText(QStringLiteral("-1"));
  form.accept();
  EXPECT_EQ(FErrors.size(), 2);
  EXPECT_TRUE(form.isVisible());

  // Zero means unknown: the screen's resolution is used, and it is allowed.
  Edit(&form, "YResPerInchEdit")->setText(QStringLiteral("0"));
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.XResPerMeter(), 3780);
  EXPECT_EQ(form.YResPerMeter(), 0);
}

TEST_F(RasterPropertiesTest, EditRasterPropertiesHandsOutOnlyConfirmedValues) {
  int x = 3780;
  int y = 2835;
  WhenModal<TRasterPropertiesForm>([](TRasterPropertiesForm* form) {
    Edit(form, "XResPerMeterEdit")->setText(QStringLiteral("5000"));
    Control<QPushButton>(form, "CancelBtn")->click();
  });
  EXPECT_FALSE(EditRasterProperties(x, y));
  EXPECT_EQ(x, 3780);
  EXPECT_EQ(y, 2835);

  WhenModal<TRasterPropertiesForm>([](TRasterPropertiesForm* form) {
    Edit(form, "XResPerMeterEdit")->setText(QStringLiteral("-5"));
    Control<QPushButton>(form, "OkBtn")->click();
    EXPECT_TRUE(form->isVisible());
    Edit(form, "XResPerMeterEdit")->setText(QStringLiteral("5000"));
    Control<QPushButton>(form, "OkBtn")->click();
  });
  EXPECT_TRUE(EditRasterProperties(x, y));
  EXPECT_EQ(x, 5000);
  EXPECT_EQ(y, 2835);
  EXPECT_EQ(FErrors.size(), 1);
}
