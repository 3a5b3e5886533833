#include "GridCalibrator.h"
#include "GridCalibratorParams.h"
#include "MainForms.h"
#include "NodePropertiesForms.h"
#include "OpenPageForms.h"
#include "Options.h"
#include "ProfileChecks.h"
#include "RasterPropertiesForms.h"
#include "RasterTestUtils.h"
#include "WhatsThis.h"

#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// The context-help profile shipped with the program against its own windows as they are built: a
// control added or renamed without a topic fails here.

namespace {

QSet<QString> ShownKeys(QWidget* form) {
  form->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
  return ClickableKeys(form);
}

}  // namespace

TEST(ShippedProfile, GivesEveryControlOfTheMainWindowATopicWithAndWithoutARaster) {
  QTemporaryDir dir;
  const QString scan = dir.filePath(QStringLiteral("scan.bmp"));
  TBmpLayout layout{200, 100, 8, GreyPalette(256)};
  layout.XPelsPerMeter = layout.YPelsPerMeter = 3780;
  WriteFile(scan, BmpBytes(layout));
  TMainForm form;
  QSet<QString> keys = ShownKeys(&form);
  form.OpenRaster(scan);
  QCoreApplication::processEvents();
  keys += ClickableKeys(&form);
  // A grid on the map shows its panel of map coordinates.
  TGridInfo onMap = form.Calibrator()->Grid();
  onMap.Map = TGridMap{QStringLiteral("EPSG:28407"), 7400000, 6200000, 1000, 1000};
  form.Calibrator()->ReplaceGrid(onMap);
  QCoreApplication::processEvents();
  keys += ClickableKeys(&form);
  // During long work the status bar has its button that stops the work.
  std::atomic<bool> looked{false};
  QTimer::singleShot(0, [&] {
    keys += ClickableKeys(&form);
    looked = true;
  });
  form.RunWork(QStringLiteral("проверку"), [&] {
    while (!looked) std::this_thread::yield();
  });
  // The table of the nodes scrolls when the window leaves it too little room, whatever the room
  // the layout of an earlier run gave it.
  const auto* table = form.findChild<QWidget*>(QStringLiteral("GridNodesTable"));
  ASSERT_TRUE(table);
  for (int area : {haHScroll, haVScroll}) keys += HelpContextOf(table, &form, area).Key;
  for (const char* control : {"EditWindow", "FindNodesMenu", "FindNodesBtn", "UndoMenu",
                              "StatusPanel0", "StatusPanel4", "ClipImageBtn", "CancelWorkBtn"}) {
    EXPECT_TRUE(keys.contains(QLatin1String(control))) << control;
  }
  ExpectProfileCovers(QStringLiteral("TMainForm"), keys);
  TNodePropertiesForm node(*form.Calibrator(), 0, 0);
  ExpectProfileCovers(QStringLiteral("TNodePropertiesForm"), ShownKeys(&node));
}

TEST(ShippedProfile, GivesEveryControlOfTheMainWindowsDialogsATopic) {
  TOptions options;
  TOptionsForm optionsForm(options);
  QSet<QString> keys = ShownKeys(&optionsForm);
  auto* pages = optionsForm.findChild<QTabWidget*>(QStringLiteral("Pages"));
  ASSERT_TRUE(pages);
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    keys += ClickableKeys(&optionsForm);
  }
  EXPECT_TRUE(keys.contains(QStringLiteral("MissedNodeColorBtn")));
  ExpectProfileCovers(QStringLiteral("TOptionsForm"), keys);

  TRasterPropertiesForm properties;
  TRasterFileFormat format;
  format.Name = QStringLiteral("TIFF");
  properties.SetFileFormat(format);
  ExpectProfileCovers(QStringLiteral("TRasterPropertiesForm"), ShownKeys(&properties));
  TOpenPageForm page(QStringLiteral("plan.pdf"));
  ExpectProfileCovers(QStringLiteral("TOpenPageForm"), ShownKeys(&page));
  TGridCalibratorParamsForm grid;
  ExpectProfileCovers(QStringLiteral("TGridCalibratorParamsForm"), ShownKeys(&grid));
}
