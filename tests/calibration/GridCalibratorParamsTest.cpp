#include "GridCalibratorParams.h"

#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// Each test collects the errors that would reach the user.
class GridParamsTest : public testing::Test {
 protected:
  void SetUp() override {
    SetExceptionHandler([this](const Exception& e) { FErrors << e.Message(); });
  }
  void TearDown() override {
    SetExceptionHandler(nullptr);
    QLocale::setDefault(QLocale::c());
  }

  QStringList FErrors;
};

const char* const kEdits[] = {"GridLeftEdit",   "GridTopEdit", "GridWidthEdit",
                              "GridHeightEdit", "CellXNEdit",  "CellYNEdit"};

QLineEdit* Edit(const QWidget* form, const char* name) {
  return Control<QLineEdit>(form, name);
}

QStringList Texts(const QWidget* form) {
  QStringList texts;
  for (const char* name : kEdits) texts << Edit(form, name)->text();
  return texts;
}

void Fill(const QWidget* form, const QStringList& texts) {
  for (int i = 0; i < 6; ++i) Edit(form, kEdits[i])->setText(texts[i]);
}

// The default grid of a 2400 x 3000 scan at 300 dots per inch, in metres.
struct TParams {
  double Left = 0.012345;
  double Top = 0;
  double Width = 2400 / (300 / 0.0254);
  double Height = 3000 / (300 / 0.0254);
  int CellsX = 1;
  int CellsY = 1;

  bool Show() { return ShowGridParamsDialog(Left, Top, Width, Height, CellsX, CellsY); }
};

}  // namespace

TEST_F(GridParamsTest, ShowsHundredthsOfACentimetreAndHandsBackWhatItShows) {
  TParams params;
  QStringList shown;
  const auto confirm = [&shown](TGridCalibratorParamsForm* form) {
    shown = Texts(form);
    Control<QPushButton>(form, "OkBtn")->click();
  };
  WhenModal<TGridCalibratorParamsForm>(confirm);
  EXPECT_TRUE(params.Show());
  EXPECT_EQ(shown, QStringList({"1.23", "0", "20.32", "25.4", "1", "1"}));
  // Not the values passed in: those shown.
  EXPECT_DOUBLE_EQ(params.Left, 0.0123);
  EXPECT_DOUBLE_EQ(params.Width, 0.2032);
  EXPECT_DOUBLE_EQ(params.Height, 0.254);

  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  WhenModal<TGridCalibratorParamsForm>(confirm);
  EXPECT_TRUE(params.Show());
  EXPECT_EQ(shown, QStringList({"1,23", "0", "20,32", "25,4", "1", "1"}));

  // Comma and point are both read, whatever the locale.
  for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia)}) {
    QLocale::setDefault(locale);
    WhenModal<TGridCalibratorParamsForm>([](TGridCalibratorParamsForm* form) {
      Fill(form, {" 12,5 ", "-0.5", "12.5", "7,25", " 3 ", "2"});
      Control<QPushButton>(form, "OkBtn")->click();
    });
    EXPECT_TRUE(params.Show());
    EXPECT_DOUBLE_EQ(params.Left, 0.125);
    EXPECT_DOUBLE_EQ(params.Top, -0.005);
    EXPECT_DOUBLE_EQ(params.Width, 0.125);
    EXPECT_DOUBLE_EQ(params.Height, 0.0725);
    EXPECT_EQ(params.CellsX, 3);
    EXPECT_EQ(params.CellsY, 2);
  }
  EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(GridParamsTest, ValidationReportsTheFirstProblemInTheFieldsOrderAndStaysOpen) {
  struct TCase {
    QStringList Texts;
    QString Error;
  };
  const std::vector<TCase> cases = {
      {{"0", "0", "0", "10", "0", "0"}, "Ширина сетки должна быть больше нуля"},
      {{"0", "0", "10", "0", "0", "1"}, "Высота сетки должна быть больше нуля"},
      {{"0", "0", "10", "10", "0", "1"}, "Количество ячеек сетки не может быть равно нулю"},
      {{"0", "0", "10", "10", "1", "-3"}, "Количество ячеек сетки не может быть отрицательным"},
      {{"0", "0", "ten", "0", "0", "1"}, EConvertError::NotFloat("ten").Message()},
      {{"0", "0", "10", "10", "1,5", "1"}, EConvertError::NotInteger("1,5").Message()},
      {{"0", "0", "inf", "10", "1", "1"}, EConvertError::NotFloat("inf").Message()},
  };
  TGridCalibratorParamsForm form;
  form.show();
  for (const TCase& c : cases) {
    FErrors.clear();
    Fill(&form, c.Texts);
    form.accept();
    EXPECT_EQ(FErrors, QStringList({c.Error})) << c.Texts.join(' ').toStdString();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Texts(&form), c.Texts);  // the user's texts as typed
  }
  // Negative left and top are accepted.
  Fill(&form, {"-3", "-4,5", "10", "10", "1", "1"});
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(GridParamsTest, AnErrorWaitsForACorrectionAndCancelLeavesTheArguments) {
  TParams params;
  WhenModal<TGridCalibratorParamsForm>([](TGridCalibratorParamsForm* form) {
    Fill(form, {"1", "2", "50", "40", "0", "8"});
    Control<QPushButton>(form, "OkBtn")->click();
    EXPECT_TRUE(form->isVisible());
    Control<QPushButton>(form, "CancelBtn")->click();
  });
  EXPECT_FALSE(params.Show());
  EXPECT_EQ(params.Left, TParams().Left);
  EXPECT_EQ(params.Width, TParams().Width);
  EXPECT_EQ(params.CellsY, 1);
  EXPECT_EQ(FErrors, QStringList({"Количество ячеек сетки не может быть равно нулю"}));
}

TEST_F(GridParamsTest, TheFormsLayout) {
  TGridCalibratorParamsForm form;
  EXPECT_EQ(form.metaObject()->className(), QByteArray("TGridCalibratorParamsForm"));
  EXPECT_GE(form.width(), 366 * form.logicalDpiX() / 96);
  EXPECT_GE(form.height(), 172 * form.logicalDpiX() / 96);
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // fixed size

  // The tab order runs through the fields, then OK and Cancel; each label names its edit.
  QStringList order;
  QWidget* w = Edit(&form, "GridLeftEdit");
  do {
    if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
    w = w->nextInFocusChain();
  } while (w != Edit(&form, "GridLeftEdit"));
  EXPECT_EQ(order, QStringList({"GridLeftEdit", "GridTopEdit", "GridWidthEdit", "GridHeightEdit",
                                "CellXNEdit", "CellYNEdit", "OkBtn", "CancelBtn"}));
  QStringList labels;
  for (const char* name : kEdits)
    for (const QLabel* label : form.findChildren<QLabel*>())
      if (label->buddy() == Edit(&form, name)) labels << label->text();
  EXPECT_EQ(labels, QStringList({"Левая граница", "Верхняя граница", "Ширина", "Высота",
                                 "По горизонтали", "По вертикали"}));
}
