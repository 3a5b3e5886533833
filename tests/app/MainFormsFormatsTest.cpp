// The window with files of other formats than BMP: how they are chosen, opened, described and
// saved back.
#include "GdalTestFiles.h"
#include "MainFormTestUtils.h"
#include "ModalAnswers.h"
#include "OpenPageForms.h"
#include "QtPrinters.h"
#include "RasterPropertiesForms.h"
#include "RasterSaveNames.h"

#include <QAbstractButton>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A 24-bit picture whose every pixel differs from its neighbours.
TBmpLayout Noise(int width, int height) {
  TBmpLayout layout{width, height, 24, {}};
  layout.Pixel = [](int x, int y) { return NoiseHash(x, y) & 0xffffffu; };
  layout.XPelsPerMeter = layout.YPelsPerMeter = 11811;
  return layout;
}

// Whether the window takes the file dragged over it; taken, it is dropped and opened.
bool Drop(TMainForm& form, const QString& name) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(name)});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&form, &dropped);
  QCoreApplication::processEvents();
  return true;
}

// What the save dialog proposed when it opened, and what it was answered.
struct TSaveDialogSeen {
  QString Name;
  QString Filter;
  QStringList Filters;
};

// Answers the next save dialog with the name (an empty one cancels), keeping what it proposed.
void AnswerSave(const QString& name, TSaveDialogSeen* seen) {
  WhenModal<QFileDialog>([name, seen](QFileDialog* dialog) {
    seen->Name = dialog->selectedFiles().value(0);
    seen->Filter = dialog->selectedNameFilter();
    seen->Filters = dialog->nameFilters();
    if (name.isEmpty()) {
      dialog->reject();
      return;
    }
    dialog->selectFile(name);
    // The dialog asks before a file is replaced.
    if (QFileInfo::exists(name)) Answer(QMessageBox::Yes);
    static_cast<QDialog*>(dialog)->accept();
  });
}

// The lines the properties dialog tells of the raster's file; the dialog is cancelled.
QStringList FileLines(TMainForm& form) {
  QStringList lines;
  WhenModal<TRasterPropertiesForm>([&lines](TRasterPropertiesForm* dialog) {
    auto* group = Control<QWidget>(dialog, "FileGbx");
    if (group->isVisible()) lines = Control<QLabel>(dialog, "FileInfoLbl")->text().split('\n');
    dialog->reject();
  });
  form.PropertiesMenuClick();
  return lines;
}

// Asks the window's long work to stop before the job starts, from the window's thread.
void CancelBeforeTheJob(TWatchedForm& form) {
  form.Before = [&form] {
    std::atomic<bool> asked{false};
    QMetaObject::invokeMethod(
        &form,
        [&form, &asked] {
          form.CancelWork();
          asked = true;
        },
        Qt::QueuedConnection);
    while (!asked) std::this_thread::sleep_for(std::chrono::microseconds(100));
  };
}

}  // namespace

TEST(MainFormFormats, EveryKindOpensFromTheDialogAndFromADropAndTellsItsFormat) {
  TForm f;
  TWatchedForm& form = f.Form;
  QStringList filters;
  WhenModal<QFileDialog>([&filters](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    dialog->reject();
  });
  form.OpenMenuClick();
  EXPECT_EQ(filters, QStringList({"Все растры (*.bmp *.tif *.tiff *.png *.jpg *.jpeg *.pdf)",
                                  "Растры Windows (*.bmp)", "Растры TIFF (*.tif *.tiff)",
                                  "Растры PNG (*.png)", "Растры JPEG (*.jpg *.jpeg)",
                                  "Документы PDF (*.pdf)", "Все файлы (*)"}));
  EXPECT_EQ(FileLines(form),
            QStringList({"Формат: BMP", "Сжатие: нет", "Хранение: строки снизу вверх",
                         "Глубина: 8 бит на пиксель"}));

  const QString tiff = f.Dir.filePath("sheet.TIF");
  WriteGdalFile(tiff, "GTiff", Noise(130, 70),
                {"COMPRESS=LZW", "TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32"});
  EXPECT_FALSE(Drop(form, f.Dir.filePath("notes.gif")));
  ASSERT_TRUE(Drop(form, tiff));
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_EQ(form.Raster()->FileName(), tiff);
  EXPECT_EQ(form.Raster()->Width(), 130);
  EXPECT_EQ(form.Raster()->GetPixel(7, 5), NoiseHash(7, 5) & 0xffffffu);
  EXPECT_EQ(form.Works.last(), "открытие растра");
  EXPECT_EQ(FileLines(form), QStringList({"Формат: TIFF", "Сжатие: LZW", "Хранение: тайлы 32 × 32",
                                          "Глубина: RGB, 8 бит на канал"}));

  // 16 bits a channel are read as 8, and the properties say so; a PNG is only read.
  const QString deep = f.Dir.filePath("deep.tif");
  WriteGdalSamples(deep, 40, 30, 1, 16, [](int x, int y, int) { return uint16_t(x * 1000 + y); });
  form.OpenRaster(deep);
  EXPECT_TRUE(FileLines(form).contains("Замечание: 16 бит на пиксель прочитаны как 8"));
  const QString png = f.Dir.filePath("scan.png");
  WriteGdalFile(png, "PNG", Noise(20, 10));
  form.OpenRaster(png);
  EXPECT_EQ(FileLines(form).last(), "Только чтение: сохранение спросит имя файла BMP или TIFF");

  // A file of no kind that opens is refused naming it, and the open raster stays.
  const QString gif = f.Dir.filePath("notes.gif");
  WriteFile(gif, "GIF89a");
  EXPECT_EQ(MessageOf([&] { form.OpenRaster(gif); }),
            "Ошибка открытия растрового файла: не найден фильтр для работы с файлом " + gif +
                "; открываются файлы *.bmp; *.tif; *.tiff; *.png; *.jpg; *.jpeg; *.pdf");
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_EQ(form.Raster()->FileName(), png);
}

TEST(MainFormFormats, APdfOpensThePageAndResolutionTheUserChoosesAndCancelledOpensNothing) {
  TForm f;
  TWatchedForm& form = f.Form;
  WriteGdalFile(f.Dir.filePath("one.tif"), "GTiff", Noise(300, 200));
  WriteGdalFile(f.Dir.filePath("two.tif"), "GTiff", Noise(200, 300));
  const QString pdf = f.Dir.filePath("plan.pdf");
  WritePdfPages(pdf, {f.Dir.filePath("one.tif"), f.Dir.filePath("two.tif")});

  // Cancelled, the open raster stays and is not even asked about.
  int defaultPage = 0, defaultDpi = 0;
  WhenModal<TOpenPageForm>([&](TOpenPageForm* dialog) {
    defaultPage = Control<QSpinBox>(dialog, "PageEdit")->value();
    defaultDpi = Control<QSpinBox>(dialog, "DpiEdit")->value();
    dialog->reject();
  });
  form.OpenRaster(pdf);
  EXPECT_EQ(defaultPage, 1);
  EXPECT_EQ(defaultDpi, 300);
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);

  const auto choose = [](int page, int dpi) {
    WhenModal<TOpenPageForm>([page, dpi](TOpenPageForm* dialog) {
      Control<QSpinBox>(dialog, "PageEdit")->setValue(page);
      Control<QSpinBox>(dialog, "DpiEdit")->setValue(dpi);
      Control<QAbstractButton>(dialog, "OkBtn")->click();
    });
  };
  choose(2, 144);
  form.OpenRaster(pdf);
  ASSERT_EQ(form.Raster()->FileName(), pdf);
  EXPECT_EQ(form.Raster()->Width(), 400);
  EXPECT_EQ(form.Raster()->Height(), 600);
  EXPECT_EQ(form.Raster()->XPelsPerMeter(), 5669);
  EXPECT_TRUE(
      FileLines(form).contains("Хранение: страница 2 из 2, нарисована при 144 точках на дюйм"));

  choose(3, 300);
  EXPECT_EQ(MessageOf([&] { form.OpenRaster(pdf); }),
            "Ошибка открытия растрового файла " + pdf + ": страницы 3 нет, в документе страниц: 2");
  EXPECT_EQ(form.Raster(), nullptr);
}

TEST(MainFormFormats, SaveKeepsAFormatThatIsWrittenAndAsksANameForOneThatIsOnlyRead) {
  TForm f;
  TWatchedForm& form = f.Form;
  const QString tiff = f.Dir.filePath("sheet.tiff");
  WriteGdalFile(tiff, "GTiff", Noise(90, 60), {"COMPRESS=LZW"});
  form.OpenRaster(tiff);
  MarkModified(f);

  // The first save proposes the file itself, as a TIFF, and writes it tiled with Deflate.
  TSaveDialogSeen seen;
  AnswerSave(tiff, &seen);
  ASSERT_EQ(form.SaveRaster(false), IDYES);
  EXPECT_EQ(seen.Name, tiff);
  EXPECT_EQ(seen.Filter, "Растры TIFF (*.tif *.tiff)");
  EXPECT_EQ(seen.Filters, QStringList({"Растры Windows (*.bmp)", "Растры TIFF (*.tif *.tiff)"}));
  EXPECT_EQ(form.Works.last(), "сохранение растра");
  EXPECT_EQ(GdalMetadata(tiff, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
  EXPECT_EQ(GdalBlockSize(tiff), QSize(256, 256));
  EXPECT_EQ(GdalMetadata(tiff, "TIFFTAG_XRESOLUTION"), "72");
  EXPECT_EQ(GdalColours(tiff)[61], NoiseHash(61, 0) & 0xffffffu);
  // Then a plain save writes there again without a dialog, and save as may choose BMP.
  MarkModified(f);
  form.SaveMenuClick();
  EXPECT_FALSE(form.Modified());
  const QString bmp = f.Dir.filePath("sheet.bmp");
  AnswerSave(bmp, &seen);
  ASSERT_EQ(form.SaveRaster(true), IDYES);
  EXPECT_EQ(ReadFile(bmp).left(2), "BM");
  EXPECT_EQ(form.Raster()->FileFormat().Name, "BMP");

  // A PNG is never written back: save proposes a TIFF beside it, refuses a PNG name, and asks
  // again.
  const QString png = f.Dir.filePath("scan.png");
  WriteGdalFile(png, "PNG", Noise(20, 10));
  form.OpenRaster(png);
  const QString otherPng = f.Dir.filePath("other.png");
  AnswerSave(otherPng, &seen);
  QString refusal;
  TSaveDialogSeen again;
  Answer(QMessageBox::Ok, &refusal, [&] { AnswerSave(f.Dir.filePath("out"), &again); });
  ASSERT_EQ(form.SaveRaster(false), IDYES);
  EXPECT_EQ(seen.Name, f.Dir.filePath("scan.tif"));
  EXPECT_EQ(refusal, "Растр нельзя записать в файл " + otherPng +
                         ": растры сохраняются в BMP (.bmp) или в TIFF (.tif, .tiff), формат "
                         "выбирается по расширению имени");
  EXPECT_EQ(again.Name, f.Dir.filePath("other.tif"));
  EXPECT_FALSE(QFileInfo::exists(otherPng));
  // A name typed without an extension takes that of the kind chosen: TIFF, as proposed.
  EXPECT_EQ(form.Raster()->FileName(), f.Dir.filePath("out.tif"));
  EXPECT_EQ(GdalColours(f.Dir.filePath("out.tif"))[3], NoiseHash(3, 0) & 0xffffffu);
}

TEST(MainFormFormats, OpeningAndSavingOtherFormatsStopWhenCancelledLeavingNothingBehind) {
  TForm f;
  TWatchedForm& form = f.Form;
  const QString tiff = f.Dir.filePath("sheet.tif");
  WriteGdalFile(tiff, "GTiff", Noise(600, 400), {"COMPRESS=DEFLATE"});
  const QByteArray before = ReadFile(tiff);
  CancelBeforeTheJob(form);
  EXPECT_THROW(form.OpenRaster(tiff), ECancelled);
  EXPECT_EQ(form.Raster(), nullptr);

  form.Before = nullptr;
  form.OpenRaster(tiff);
  MarkModified(f);
  CancelBeforeTheJob(form);
  TSaveDialogSeen seen;
  AnswerSave(tiff, &seen);
  EXPECT_THROW(form.SaveRaster(false), ECancelled);
  EXPECT_TRUE(form.Modified());
  EXPECT_EQ(ReadFile(tiff), before);
  EXPECT_EQ(QDir(f.Dir.path()).entryList(QDir::Files), QStringList({"scan.bmp", "sheet.tif"}));
  form.Before = nullptr;
}

TEST(RasterSaveNames, ANameOfAKindThatIsOnlyReadIsProposedAsATiffAndRefused) {
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  RegisterGdalFormats(&provider);
  EXPECT_EQ(RasterSaveProposal(provider, "/d/scan.bmp"), "/d/scan.bmp");
  EXPECT_EQ(RasterSaveProposal(provider, "/d/scan.TIFF"), "/d/scan.TIFF");
  EXPECT_EQ(RasterSaveProposal(provider, "/d/plan.v2.pdf"), "/d/plan.v2.tif");
  EXPECT_EQ(RasterSaveProposal(provider, "/d/photo.jpeg"), "/d/photo.tif");
  EXPECT_EQ(RasterSaveProposal(provider, "/d/scan"), "/d/scan.tif");
  EXPECT_EQ(RasterSaveOptions(provider, "a.tif").Format, TRasterFormat::Tiff);
  EXPECT_EQ(RasterSaveOptions(provider, "a.tif").Compression, TTiffCompression::Deflate);
  EXPECT_EQ(RasterSaveOptions(provider, "a.BMP").Format, TRasterFormat::Bmp);
  EXPECT_THROW(RasterSaveOptions(provider, "a.png"), Exception);
}
