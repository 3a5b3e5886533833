#include "QtPrinters.h"
#include "RasterFileDialogs.h"
#include "RasterTestUtils.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

TEST(RasterFileDialogs, FiltersBecomeQtFilterLines) {
  TBmpProvider provider;
  provider.RegisterFormat("Растры TIFF", "*.tif", nullptr);
  EXPECT_EQ(QtFileDialogFilters(provider.GetFilter()),
            QStringList({"Все растры (*.bmp *.tif)", "Растры Windows (*.bmp)",
                         "Растры TIFF (*.tif)", "Все файлы (*)"}));
}

TEST(RasterFileDialogs, TheProviderChoosesAnExistingFileThroughTheDialog) {
  QTemporaryDir dir;
  WriteFile(dir.filePath("scan.bmp"), "BM");
  TLocalFileProvider provider(
      [](const QString& filter, QString& fileName) { return RunOpenFileDialog(filter, fileName); });
  RegisterBmpFormat(&provider);

  QString seenDirectory;
  QStringList seenFilters;
  const auto answer = [&](bool accept) {
    QTimer::singleShot(0, [&, accept] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      seenDirectory = dialog->directory().absolutePath();
      seenFilters = dialog->nameFilters();
      if (accept) {
        dialog->selectFile(dir.filePath("scan.bmp"));
        static_cast<QDialog*>(dialog)->accept();
      } else {
        dialog->reject();
      }
    });
  };
  QString name = dir.filePath("old.bmp");
  TBmpProvider headless;
  EXPECT_FALSE(headless.SelectFile(name));  // no dialog to run
  answer(false);
  EXPECT_FALSE(provider.SelectFile(name));
  EXPECT_EQ(name, dir.filePath("old.bmp"));
  EXPECT_EQ(seenDirectory, QDir(dir.path()).absolutePath());
  EXPECT_EQ(seenFilters.front(), "Все растры (*.bmp)");
  answer(true);
  EXPECT_TRUE(provider.SelectFile(name));
  EXPECT_EQ(name, dir.filePath("scan.bmp"));
}

TEST(RasterFileDialogs, TheSaveDialogChoosesTheKindOfTheProposalAndItsSuffixFollowsTheChoice) {
  QTemporaryDir dir;
  const QString filter = "Растры Windows (*.bmp)|*.bmp|Растры TIFF (*.tif; *.tiff)|*.tif; *.tiff";
  QString chosenFilter, firstSuffix, laterSuffix;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    chosenFilter = dialog->selectedNameFilter();
    firstSuffix = dialog->defaultSuffix();
    emit dialog->filterSelected("Растры Windows (*.bmp)");
    laterSuffix = dialog->defaultSuffix();
    emit dialog->filterSelected("Все файлы (*)");
    EXPECT_EQ(dialog->defaultSuffix(), "bmp");
    dialog->reject();
  });
  QString name = dir.filePath("scan.TIFF");
  EXPECT_FALSE(RunSaveFileDialog(filter, "bmp", name));
  EXPECT_EQ(chosenFilter, "Растры TIFF (*.tif *.tiff)");
  EXPECT_EQ(firstSuffix, "tif");
  EXPECT_EQ(laterSuffix, "bmp");
  EXPECT_EQ(name, dir.filePath("scan.TIFF"));
}
