#include "GridCalibratorParams.h"

#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <QAbstractItemModel>
#include <QCompleter>
#include <QGroupBox>
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
  std::optional<TGridMap> Map;

  bool Show() { return ShowGridParamsDialog(Left, Top, Width, Height, CellsX, CellsY, Map); }
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
                                "CellXNEdit", "CellYNEdit", "MapGroup", "MapCrsEdit", "MapXEdit",
                                "MapYEdit", "MapStepXEdit", "MapStepYEdit", "OkBtn", "CancelBtn"}));
  QStringList labels;
  for (const char* name : kEdits)
    for (const QLabel* label : form.findChildren<QLabel*>())
      if (label->buddy() == Edit(&form, name)) labels << label->text();
  EXPECT_EQ(labels, QStringList({"Левая граница", "Верхняя граница", "Ширина", "Высота",
                                 "По горизонтали", "По вертикали"}));
}

// The map section is off for a sheet that is no map, and its values pass through unchanged for one
// that is; the CRS is found by any part of its code or name, as GIS programs let users find it.
TEST_F(GridParamsTest, TheMapSectionFindsTheCrsByCodeOrNameAndIsOptional) {
  TParams params;
  WhenModal<TGridCalibratorParamsForm>([](TGridCalibratorParamsForm* form) {
    EXPECT_FALSE(Control<QGroupBox>(form, "MapGroup")->isChecked());
    Control<QPushButton>(form, "OkBtn")->click();
  });
  EXPECT_TRUE(params.Show());
  EXPECT_FALSE(params.Map);

  params.Map = TGridMap{"EPSG:28407", 7400000.5, 6200000, 1000, 500};
  QStringList shown;
  WhenModal<TGridCalibratorParamsForm>([&shown](TGridCalibratorParamsForm* form) {
    EXPECT_TRUE(Control<QGroupBox>(form, "MapGroup")->isChecked());
    for (const char* name : {"MapCrsEdit", "MapXEdit", "MapYEdit", "MapStepXEdit", "MapStepYEdit"})
      shown << Edit(form, name)->text();
    Control<QPushButton>(form, "OkBtn")->click();
  });
  EXPECT_TRUE(params.Show());
  EXPECT_EQ(shown, QStringList({"EPSG:28407 Pulkovo 1942 / Gauss-Kruger zone 7", "7400000.5",
                                "6200000", "1000", "500"}));
  ASSERT_TRUE(params.Map);
  EXPECT_EQ(*params.Map, (TGridMap{"EPSG:28407", 7400000.5, 6200000, 1000, 500}));

  // The list offers every projected CRS whose code or name holds what is typed, in any case.
  TGridCalibratorParamsForm form;
  QCompleter* completer = Edit(&form, "MapCrsEdit")->completer();
  ASSERT_TRUE(completer);
  completer->setCompletionPrefix("gauss-kruger zone 7");
  QStringList offered;
  for (int row = 0; completer->setCurrentRow(row); ++row) offered << completer->currentCompletion();
  EXPECT_TRUE(offered.contains("EPSG:28407 Pulkovo 1942 / Gauss-Kruger zone 7"));
  EXPECT_TRUE(offered.contains("EPSG:20007 Pulkovo 1995 / Gauss-Kruger zone 7"));
  for (const QString& text : offered)
    EXPECT_TRUE(text.contains("gauss-kruger zone 7", Qt::CaseInsensitive)) << text.toStdString();
  completer->setCompletionPrefix("32637");
  EXPECT_EQ(completer->currentCompletion(), "EPSG:32637 WGS 84 / UTM zone 37N");

  // Turned off, the section takes the map coordinates away.
  WhenModal<TGridCalibratorParamsForm>([](TGridCalibratorParamsForm* form) {
    Control<QGroupBox>(form, "MapGroup")->setChecked(false);
    Control<QPushButton>(form, "OkBtn")->click();
  });
  EXPECT_TRUE(params.Show());
  EXPECT_FALSE(params.Map);
}

TEST_F(GridParamsTest, MapCoordinatesThatCannotBeRightKeepTheDialogOpenAtTheirField) {
  struct TCase {
    QStringList Texts;  // CRS, east, north, steps
    QString Error;
    const char* Field;
  };
  const std::vector<TCase> cases = {
      {{"EPSG:4326", "0", "0", "1000", "1000"},
       "Система координат \"EPSG:4326\" не проекционная в метрах (WGS 84), а шаг сетки на "
       "местности задаётся в метрах",
       "MapCrsEdit"},
      {{"", "0", "0", "1000", "1000"}, "Система координат \"\" не задана", "MapCrsEdit"},
      {{"EPSG:28407", "0", "0", "1000", "0"},
       "Шаг сетки на местности должен быть больше нуля",
       "MapStepYEdit"},
      {{"EPSG:28407", "0", "0", "-1000", "1000"},
       "Шаг сетки на местности должен быть больше нуля",
       "MapStepXEdit"},
      {{"EPSG:28407", "1e11", "0", "1000", "1000"},
       "Координаты на карте слишком велики по модулю",
       "MapXEdit"},
      {{"EPSG:28407", "0", "north", "1000", "1000"},
       EConvertError::NotFloat("north").Message(),
       "MapYEdit"},
  };
  const char* const names[] = {"MapCrsEdit", "MapXEdit", "MapYEdit", "MapStepXEdit",
                               "MapStepYEdit"};
  TGridCalibratorParamsForm form;
  form.SetValues(TGridPaperParams{1, 1, 40, 40, 4, 4});
  form.SetMap(TGridMap{"EPSG:28407", 0, 0, 1000, 1000});
  form.show();
  for (const TCase& c : cases) {
    FErrors.clear();
    for (int k = 0; k < 5; ++k) Edit(&form, names[k])->setText(c.Texts[k]);
    form.accept();
    EXPECT_EQ(FErrors, QStringList({c.Error})) << c.Texts.join(' ').toStdString();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.focusWidget(), Edit(&form, c.Field)) << c.Field;
  }
  // A name of the list is taken by its code; a code alone too.
  Edit(&form, "MapCrsEdit")->setText("EPSG:32637 WGS 84 / UTM zone 37N");
  Edit(&form, "MapXEdit")->setText("500000");
  Edit(&form, "MapYEdit")->setText("6200000");
  Edit(&form, "MapStepXEdit")->setText("1000");
  Edit(&form, "MapStepYEdit")->setText("1000");
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  ASSERT_TRUE(form.Map());
  EXPECT_EQ(form.Map()->Crs, "EPSG:32637");
}
