#include "Options.h"

#include "FormUtils.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"

#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

const QLocale kRussian(QLocale::Russian, QLocale::Russia);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// Each test starts without a settings file and collects the errors that would reach the user.
class OptionsTest : public testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(SettingsFile());
    SetExceptionHandler([this](const Exception& e) { FErrors << e.Message(); });
  }

  void TearDown() override {
    SetExceptionHandler(ShowException);
    QLocale::setDefault(QLocale::c());
    QFile::remove(SettingsFile());
  }

  static QString SettingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Orvanta/Velmora.conf");
  }

  static void WriteSettings(const QByteArray& text) {
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }

  // The five stored values in the order of the options, "?" for one that is not text.
  static QString Stored() {
    QStringList values;
    for (const char* name :
         {"RasterCache", "GridNodeRadius", "RasterBorderColor", "SrcGridColor", "DstGridColor"}) {
      const QVariant value = UserSettings()->value(QStringLiteral("Options/") + name);
      values << (value.typeId() == QMetaType::QString ? value.toString() : QStringLiteral("?"));
    }
    return values.join(u' ');
  }

  static TOptions Loaded() {
    TOptions options;
    options.Load();
    return options;
  }

  QStringList FErrors;
};

// The five options in their order, colours in hexadecimal.
QString Summary(const TOptions& o) {
  return QStringLiteral("%1 %2 %3 %4 %5")
      .arg(o.RasterCache)
      .arg(o.GridNodeRadius)
      .arg(o.RasterBorderColor, 0, 16)
      .arg(o.SrcGridColor, 0, 16)
      .arg(o.DstGridColor, 0, 16);
}

const QString kDefaults = QStringLiteral("5242880 0.001 ff0000 8000 ff");

QString Text(const QWidget* form, const char* name) {
  return Control<QLineEdit>(form, name)->text();
}

void SetText(const QWidget* form, const char* name, const QString& text) {
  Control<QLineEdit>(form, name)->setText(text);
}

QColor SwatchColor(const QWidget* form, const char* name) {
  return Control<QFrame>(form, name)->palette().color(QPalette::Window);
}

void Click(const QWidget* form, const char* name) {
  Control<QPushButton>(form, name)->click();
}

}  // namespace

TEST_F(OptionsTest, FirstStartHasTheDefaultsAndTheDialogShowsThem) {
  TOptions options = Loaded();
  EXPECT_EQ(Summary(options), kDefaults);
  EXPECT_FALSE(QFile::exists(SettingsFile()));  // reading creates nothing
  TOptionsForm form(options);
  EXPECT_EQ(form.metaObject()->className(), QByteArray("TOptionsForm"));
  EXPECT_EQ(Text(&form, "RasterCacheEdit"), QStringLiteral("5120"));
  EXPECT_EQ(Text(&form, "GridNodeRadiusEdit"), QStringLiteral("1"));
  EXPECT_EQ(SwatchColor(&form, "RasterBorderColorPanel"), QColor(Qt::blue));
  EXPECT_EQ(Control<QTabWidget>(&form, "Pages")->currentWidget()->objectName(), "GridSheet");
  EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(OptionsTest, SavedAsTextsThatLoadReadsBackWithTheRadiusInTheLocalesForm) {
  TOptions options;
  options.Save();
  EXPECT_EQ(Stored(), QStringLiteral("5242880 0.001 16711680 32768 255"));

  options.RasterCache = 2097152;
  options.GridNodeRadius = 0.0025;
  options.SrcGridColor = 0xABCDEF;
  QLocale::setDefault(kRussian);
  options.Save();
  EXPECT_EQ(Stored(), QStringLiteral("2097152 0,0025 16711680 11259375 255"));
  QLocale::setDefault(kEnglish);
  EXPECT_EQ(Summary(Loaded()), QStringLiteral("2097152 0.0025 ff0000 abcdef ff"));

  options.GridNodeRadius = 0.0005;
  options.Save();
  QLocale::setDefault(kRussian);
  TOptions loaded = Loaded();
  EXPECT_DOUBLE_EQ(loaded.GridNodeRadius, 0.0005);
  TOptionsForm form(loaded);
  EXPECT_EQ(Text(&form, "GridNodeRadiusEdit"), QStringLiteral("0,5"));
  EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(OptionsTest, AValueThatCannotBeReadStopsTheLoadingThere) {
  struct TCase {
    QByteArray File;
    QString Loaded;
    QString Error;
  };
  const QString file = SettingsFile();
  const std::vector<TCase> cases = {
      {"[Options]\nRasterCache=2097152\nGridNodeRadius=\"0,002\"\nRasterBorderColor=65280\n"
       "SrcGridColor=@ByteArray(green)\nDstGridColor=1234\n",
       "2097152 0.002 ff00 8000 ff",
       "Неверный тип значения параметра \"SrcGridColor\" в файле настроек " + file},
      // Unquoted, a decimal comma makes the value a list.
      {"[Options]\nRasterCache=4194304\nGridNodeRadius=0,5\n", "4194304 0.001 ff0000 8000 ff",
       "Неверный тип значения параметра \"GridNodeRadius\" в файле настроек " + file},
      {"[Options]\nRasterCache=\"5 MB\"\nGridNodeRadius=0.002\n", kDefaults,
       QStringLiteral("Неверное значение параметра \"RasterCache\" в файле настроек %1: %2")
           .arg(file, EConvertError::NotInteger("5 MB").Message())},
      // A colour keeps its three bytes, so that it is written back readable.
      {"[Options]\nDstGridColor=-1\n", "5242880 0.001 ff0000 8000 ffffff", QString()},
      // Numbers the options cannot take are refused as those that are no numbers: a mark across
      // the whole view that catches every click, no mark at all, a cache below a part.
      {"[Options]\nRasterCache=8388608\nGridNodeRadius=1e308\nSrcGridColor=255\n",
       "8388608 0.001 ff0000 8000 ff",
       QStringLiteral("Неверное значение параметра \"GridNodeRadius\" в файле настроек %1: "
                      "'1e308' вне допустимых пределов: от 0.00001 до 0.1")
           .arg(file)},
      {"[Options]\nGridNodeRadius=-1\n", kDefaults,
       QStringLiteral("Неверное значение параметра \"GridNodeRadius\" в файле настроек %1: "
                      "'-1' вне допустимых пределов: от 0.00001 до 0.1")
           .arg(file)},
      {"[Options]\nRasterCache=-5\n", kDefaults,
       QStringLiteral("Неверное значение параметра \"RasterCache\" в файле настроек %1: "
                      "'-5' вне допустимых пределов: от 1048576 до 2147482624")
           .arg(file)},
      {"[Options]\nRasterCache=1048576\nGridNodeRadius=0.1\n", "1048576 0.1 ff0000 8000 ff",
       QString()},
  };
  for (const TCase& c : cases) {
    FErrors.clear();
    WriteSettings(c.File);
    EXPECT_EQ(Summary(Loaded()), c.Loaded) << c.File.toStdString();
    EXPECT_EQ(FErrors, c.Error.isEmpty() ? QStringList() : QStringList({c.Error}));
  }
}

TEST_F(OptionsTest, TheDialogReadsCommaOrPointAndKeepsItsFloors) {
  WriteSettings("[Options]\nRasterCache=1048576\n");
  TOptions options = Loaded();
  WhenModal<TOptionsForm>([](TOptionsForm* form) {
    EXPECT_EQ(Text(form, "RasterCacheEdit"), QStringLiteral("1024"));
    SetText(form, "RasterCacheEdit", QStringLiteral(" 10 "));
    SetText(form, "GridNodeRadiusEdit", QStringLiteral("-3"));
    Click(form, "OkBtn");
  });
  EXPECT_TRUE(options.Edit());
  EXPECT_EQ(Stored(), QStringLiteral("1048576 0.00001 16711680 32768 255"));

  for (const QLocale& locale : {kRussian, kEnglish})
    for (const char* text : {"0,5", "0.5"}) {
      QLocale::setDefault(locale);
      TOptionsForm form(options);
      form.show();
      SetText(&form, "GridNodeRadiusEdit", QLatin1String(text));
      form.accept();
      EXPECT_DOUBLE_EQ(options.GridNodeRadius, 0.0005) << text;
    }
  EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(OptionsTest, DefaultsThenCancelLeaveTheOptionsAsTheyWere) {
  TOptions options;
  options.RasterCache = 8 << 20;
  options.SrcGridColor = 0x112233;
  options.Save();
  WhenModal<TOptionsForm>([](TOptionsForm* form) {
    Click(form, "DefaultBtn");
    EXPECT_EQ(Text(form, "RasterCacheEdit"), QStringLiteral("5120"));
    EXPECT_EQ(SwatchColor(form, "SrcGridColorPanel"), QColor(0, 128, 0));
    Click(form, "CancelBtn");
  });
  EXPECT_FALSE(options.Edit());
  EXPECT_EQ(Summary(options), QStringLiteral("8388608 0.001 ff0000 112233 ff"));
  EXPECT_EQ(Stored(), QStringLiteral("8388608 0.001 16711680 1122867 255"));
}

TEST_F(OptionsTest, AFieldThatIsNotAnAllowedNumberChangesNothingAndKeepsTheDialogOpen) {
  TOptions options;
  options.RasterCache = 8 << 20;
  TOptionsForm form(options);
  form.show();
  auto* pages = Control<QTabWidget>(&form, "Pages");
  struct TCase {
    const char* Cache;
    const char* Radius;
    QString Error;
    const char* Page;  // shows the field at fault
  };
  const QString tooLarge = QStringLiteral("Размер кэша не может быть больше 2097151 Кб");
  const std::vector<TCase> cases = {
      // A mark this large would cover the view and take every click.
      {"2048", "100,5", QStringLiteral("Радиус узла сетки не может быть больше 100 мм"),
       "GridSheet"},
      // The cache is read first: the radius fails after it.
      {"2048", "1 мм", EConvertError::NotFloat("1 мм").Message(), "GridSheet"},
      {"много", "2", EConvertError::NotInteger("много").Message(), "CommonSheet"},
      // Its bytes would not fit the options' 32 bits.
      {"2097152", "2", tooLarge, "CommonSheet"},
      {"99999999999", "2", tooLarge, "CommonSheet"},
  };
  for (const TCase& c : cases) {
    FErrors.clear();
    pages->setCurrentIndex(0);
    SetText(&form, "RasterCacheEdit", QString::fromUtf8(c.Cache));
    SetText(&form, "GridNodeRadiusEdit", QString::fromUtf8(c.Radius));
    form.accept();
    EXPECT_EQ(FErrors, QStringList({c.Error})) << c.Cache;
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Summary(options), QStringLiteral("8388608 0.001 ff0000 8000 ff"));
    EXPECT_EQ(pages->currentWidget()->objectName(), QLatin1String(c.Page));
  }
  SetText(&form, "RasterCacheEdit", QStringLiteral("2097151"));
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(Summary(options), QStringLiteral("2147482624 0.002 ff0000 8000 ff"));
  EXPECT_FALSE(QFile::exists(SettingsFile()));  // the dialog alone stores nothing
}

TEST_F(OptionsTest, ChangeOpensTheColourChooserOnTheSwatchsColour) {
  TOptions options;
  QColor offered;
  WhenModal<TOptionsForm>([&offered](TOptionsForm* form) {
    WhenModal<QColorDialog>([&offered](QColorDialog* chooser) {
      offered = chooser->currentColor();
      chooser->setCurrentColor(QColor(10, 20, 30));
      chooser->accept();
    });
    Click(form, "SrcGridColorBtn");
    Click(form, "OkBtn");
  });
  EXPECT_TRUE(options.Edit());
  EXPECT_EQ(offered, QColor(0, 128, 0));
  EXPECT_EQ(Stored(), QStringLiteral("5242880 0.001 16711680 1971210 255"));
}

TEST_F(OptionsTest, AFailedSaveIsReportedAndTheNewValuesStayInEffect) {
  // A file where the settings folder should be: nothing can be written.
  const QString folder = QFileInfo(SettingsFile()).path();
  QDir(folder).removeRecursively();
  QFile blocker(folder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();

  TOptions options;
  WhenModal<TOptionsForm>([](TOptionsForm* form) {
    SetText(form, "RasterCacheEdit", QStringLiteral("4096"));
    Click(form, "OkBtn");
  });
  EXPECT_TRUE(options.Edit());
  EXPECT_EQ(options.RasterCache, 4096 * 1024);
  EXPECT_EQ(FErrors,
            QStringList({"Не удалось записать параметры в файл настроек " + SettingsFile()}));
  QFile::remove(folder);
}
