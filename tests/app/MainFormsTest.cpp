#include "GridCalibrator.h"
#include "MainFormTestUtils.h"
#include "MainForms.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"
#include "StatusSpy.h"

#include <QAbstractButton>
#include <QAction>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

TEST(MainForm, AnOpenedRasterIsShownWholeWithTheCalibratorOn) {
  TForm f;
  TMainForm& form = f.Form;
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_FALSE(form.Modified());
  EXPECT_FALSE(form.NameConfirmed());
  EXPECT_TRUE(form.windowTitle().endsWith(" - " + f.Scan));
  EXPECT_TRUE(form.EditWindow()->isVisible());
  ASSERT_NE(form.Calibrator(), nullptr);
  EXPECT_TRUE(Checked(form, "CalibrateMenu"));
  EXPECT_TRUE(Checked(form, "CalibrateBtn"));
  EXPECT_FALSE(form.Navigator()->HasHistory());
  TWorldRect shown;
  TDeviceInfo& device = form.EditWindow()->Device();
  device.Projection()->PageRectToWorld(device.PageRect(), shown);
  EXPECT_LE(shown.Left, -300.0 / 8 + 1e-6);
  EXPECT_LE(shown.Top, -200.0 / 8 + 1e-6);
  EXPECT_GE(shown.Right, 300 + 300.0 / 8 - 1e-6);
  EXPECT_GE(shown.Bottom, 200 + 200.0 / 8 - 1e-6);
}

TEST(MainForm, SaveAsksForANameOnceAndThenWritesThere) {
  TForm f;
  TMainForm& form = f.Form;
  MarkModified(f);
  const QString copy = f.Dir.filePath("copy.bmp");
  AnswerSaveDialog(copy);
  EXPECT_EQ(form.SaveRaster(false), IDYES);
  EXPECT_FALSE(form.Modified());
  EXPECT_TRUE(form.NameConfirmed());
  EXPECT_EQ(form.Raster()->FileName(), copy);
  EXPECT_EQ(form.OpenFileProposal(), copy);
  EXPECT_EQ(FileLe32(ReadFile(copy), 38), 2835u);
  // A plain save now writes without a dialog: none is answered here.
  MarkModified(f);
  form.SaveMenuClick();
  EXPECT_FALSE(form.Modified());
  // Save as asks again; cancelled, nothing changes.
  MarkModified(f);
  AnswerSaveDialog(QString());
  EXPECT_EQ(form.SaveRaster(true), IDNO);
  EXPECT_TRUE(form.Modified());
}

TEST(MainForm, ClosingAModifiedRasterAsksAndKeepsItUnlessTheChangesAreSavedOrGivenUp) {
  TForm f;
  TMainForm& form = f.Form;
  MarkModified(f);
  QString question;
  Answer(QMessageBox::Cancel, &question);
  EXPECT_EQ(form.CloseRaster(true, true), IDCANCEL);
  EXPECT_EQ(question, "Сохранить растр " + f.Scan + "?");
  ASSERT_NE(form.Raster(), nullptr);
  // Yes, then the save dialog cancelled: the changes are not thrown away.
  Answer(QMessageBox::Yes, nullptr, [] { AnswerSaveDialog(QString()); });
  EXPECT_EQ(form.CloseRaster(true, true), IDCANCEL);
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_TRUE(form.Modified());
  // Yes and a name: saved, then closed.
  const QString saved = f.Dir.filePath("saved.bmp");
  Answer(QMessageBox::Yes, nullptr, [saved] { AnswerSaveDialog(saved); });
  EXPECT_EQ(form.CloseRaster(true, true), IDYES);
  EXPECT_EQ(form.Raster(), nullptr);
  EXPECT_TRUE(QFileInfo::exists(saved));
  EXPECT_FALSE(form.EditWindow()->isVisible());
  EXPECT_FALSE(form.windowTitle().contains("scan.bmp"));
}

TEST(MainForm, OpeningAnotherRasterAsksYesOrNoAndKeepsTheOldOneWhenItsSaveIsCancelled) {
  TForm f;
  TMainForm& form = f.Form;
  const QString other = WriteScan(f.Dir.filePath("other.bmp"), 40, 30);
  MarkModified(f);
  bool cancelOffered = true;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    cancelOffered = box->button(QMessageBox::Cancel) != nullptr;
    AnswerSaveDialog(QString());
    box->button(QMessageBox::Yes)->click();
  });
  form.OpenRaster(other);
  EXPECT_FALSE(cancelOffered);
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  EXPECT_TRUE(form.Modified());
  // No: the changes go and the other raster opens.
  Answer(QMessageBox::No);
  form.OpenRaster(other);
  EXPECT_EQ(form.Raster()->FileName(), other);
  EXPECT_FALSE(form.Modified());
}

TEST(MainForm, ASaveThatFailsWhileClosingKeepsTheWindowAndTheRaster) {
  TForm f;
  TMainForm& form = f.Form;
  MarkModified(f);
  const QString nowhere = f.Dir.filePath("missing folder/scan.bmp");
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    // The save dialog's choice is a folder that vanished meanwhile.
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      dialog->selectFile(nowhere);
      static_cast<QDialog*>(dialog)->accept();
    });
    box->button(QMessageBox::Yes)->click();
  });
  QString error;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    // The error box comes after the question.
    if (box->icon() == QMessageBox::Critical) error = box->text();
    box->accept();
  });
  EXPECT_FALSE(form.close());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(form.isVisible());
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_TRUE(form.Modified());
}

TEST(MainForm, OneToOneUsesTheLargerResolution) {
  TForm f;
  f.Form.Raster()->SetXPelsPerMeter(2835);
  f.Form.Raster()->SetYPelsPerMeter(3780);
  EXPECT_DOUBLE_EQ(f.Form.OneToOneScale(), 1.0 / 3780);
  f.Form.ZoomOneInOneMenuClick();
  EXPECT_DOUBLE_EQ(f.Form.Navigator()->GetScale(), 1.0 / 3780);
  EXPECT_TRUE(f.Form.Navigator()->HasHistory());
  EXPECT_TRUE(Enabled(f.Form, "ZoomPrevMenu"));
  f.Form.ZoomPrevMenuClick();
  EXPECT_FALSE(Enabled(f.Form, "ZoomPrevBtn"));
}

TEST(MainFormBindings, CommandsFollowTheRasterAndTheNavigatorsState) {
  TForm f;
  TMainForm& form = f.Form;
  for (const char* name : {"CloseMenu", "SaveMenu", "SaveBtn", "ZoomAllBtn", "RefreshMenu",
                           "CalibrateBtn", "CalibrateParamsBtn", "CalibrateBeginBtn"})
    EXPECT_TRUE(Enabled(form, name)) << name;
  EXPECT_FALSE(Enabled(form, "ZoomPrevMenu"));
  const auto modes = [&] {
    return std::array<bool, 6>{Checked(form, "SelectMenu"),       Checked(form, "SelectBtn"),
                               Checked(form, "ScrollByHandMenu"), Checked(form, "ScrollByHandBtn"),
                               Checked(form, "ZoomByRectMenu"),   Checked(form, "ZoomByRectBtn")};
  };
  using M = std::array<bool, 6>;
  EXPECT_EQ(modes(), (M{true, true, false, false, false, false}));
  Control<QToolButton>(&form, "ScrollByHandBtn")->click();
  EXPECT_EQ(modes(), (M{false, false, true, true, false, false}));
  form.findChild<QAction*>("ZoomByRectMenu")->trigger();
  EXPECT_EQ(modes(), (M{false, false, false, false, true, true}));
  form.findChild<QAction*>("ZoomByRectMenu")->trigger();  // back to the resting state: the hand
  EXPECT_EQ(modes(), (M{false, false, true, true, false, false}));
  Control<QToolButton>(&form, "SelectBtn")->click();
  EXPECT_EQ(modes(), (M{true, true, false, false, false, false}));
  Control<QToolButton>(&form, "SelectBtn")->click();  // clicking a pressed mode keeps it
  EXPECT_EQ(modes(), (M{true, true, false, false, false, false}));

  form.CloseMenuClick();
  for (const char* name : {"CloseMenu", "SaveMenu", "SaveBtn", "ZoomAllBtn", "CalibrateMenu",
                           "CalibrateBtn", "CalibrateParamsBtn", "ClipImageBtn"})
    EXPECT_FALSE(Enabled(form, name)) << name;
  EXPECT_FALSE(Checked(form, "CalibrateMenu"));
  EXPECT_TRUE(Enabled(form, "OpenMenu"));
  EXPECT_TRUE(Enabled(form, "OptionsMenu"));
}

TEST(MainFormCalibrator, TheCalibratorsCommandsAndTheirQuestion) {
  TForm f;
  TMainForm& form = f.Form;
  TGridCalibrator* calibrator = form.Calibrator();
  ASSERT_NE(calibrator, nullptr);
  // Switched off with an untouched grid, it goes without a question; on again, a fresh grid.
  form.CalibrateMenuClick();
  EXPECT_EQ(form.Calibrator(), nullptr);
  EXPECT_FALSE(Enabled(form, "CalibrateParamsBtn"));
  form.CalibrateMenuClick();
  ASSERT_NE(form.Calibrator(), nullptr);
  TGridInfo moved = form.Calibrator()->Grid();
  moved.NodeAt(1, 1).Offset = {-20, -10};
  form.Calibrator()->ReplaceGrid(moved);
  QString question;
  Answer(QMessageBox::No, &question);
  form.CalibrateMenuClick();
  EXPECT_EQ(question, "Изменения в сетке будут потеряны. Продолжить?");
  ASSERT_NE(form.Calibrator(), nullptr);
  EXPECT_TRUE(Enabled(form, "UndoMenu"));

  form.CalibrateBeginBtnClick();
  EXPECT_TRUE(form.Modified());
  EXPECT_TRUE(Enabled(form, "CalibrateBeginBtn"));
  EXPECT_EQ(form.Raster(), form.Calibrator()->Raster());
  EXPECT_TRUE(Enabled(form, "UndoMenu"));  // the calibration is undone first
  EXPECT_EQ(form.findChild<QAction*>("UndoMenu")->text(), "Отменит&ь калибровку");

  // The clip keeps the first cell, the whole raster here, and centres the view on it.
  form.ZoomInMenuClick();
  const double scale = form.Navigator()->GetScale();
  form.ClipImageBtnClick();
  EXPECT_NEAR(form.Navigator()->GetCentre().X, form.Raster()->Width() / 2.0, 1e-6);
  EXPECT_NEAR(form.Navigator()->GetScale(), scale, 1e-12);
}

TEST(MainFormCalibrator, AFailedCalibrationLeavesTheCalibratorAndClearsItsFlag) {
  TForm f;
  TMainForm& form = f.Form;
  // Sixteen bits per pixel open and show, but their pixels cannot be written.
  const QString wide = WriteScan(f.Dir.filePath("wide.bmp"), 60, 40, 3780, 16);
  form.OpenRaster(wide);
  TGridInfo moved = form.Calibrator()->Grid();
  moved.NodeAt(1, 1).Offset = {-5, -3};
  form.Calibrator()->ReplaceGrid(moved);
  QString error;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    error = box->text();
    box->accept();
  });
  form.findChild<QToolButton*>("CalibrateBeginBtn")->click();
  EXPECT_FALSE(error.isEmpty());
  EXPECT_NE(form.Calibrator(), nullptr);
  EXPECT_EQ(form.UIContext().CalibrationInProgress->Value(), 0);
  EXPECT_TRUE(Enabled(form, "CalibrateBeginBtn"));
  EXPECT_FALSE(form.Modified());
}

TEST(StatusSpy, PixelAndPaperPositionsInTheUsersLocale) {
  const TWorldPoint middle{10.5, 20.5};
  EXPECT_EQ(PixelPositionText(middle), "10; 20 px");
  EXPECT_EQ(PixelPositionText({-0.5, 3}), "-1; 3 px");
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_EQ(PaperPositionText(middle, 3780, 3780), "0,28; 0,54 cm");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(PaperPositionText(middle, 3780, 3780), "0.28; 0.54 cm");
  QLocale::setDefault(saved);
}

TEST(MainForm, ABmpDroppedOnTheWindowOpensThroughTheOpenFlow) {
  TForm f;
  TMainForm& form = f.Form;
  const QString other = WriteScan(f.Dir.filePath("dropped.BMP"), 50, 40);
  const auto drop = [&](const QString& name) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(name)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&form, &dropped);
    QCoreApplication::processEvents();
    return true;
  };
  EXPECT_FALSE(drop(f.Dir.filePath("notes.txt")));
  MarkModified(f);
  QString question;
  Answer(QMessageBox::No, &question);
  ASSERT_TRUE(drop(other));
  EXPECT_EQ(question, "Сохранить растр " + f.Scan + "?");
  ASSERT_NE(form.Raster(), nullptr);
  EXPECT_EQ(form.Raster()->FileName(), other);
}

TEST(MainFormCalibrator, ClosingOrOpeningAnotherRasterAsksBeforeTheGridsNodesAreLost) {
  TForm f;
  TMainForm& form = f.Form;
  TGridInfo moved = form.Calibrator()->Grid();
  moved.NodeAt(0, 0).Offset = {4, 2};
  form.Calibrator()->ReplaceGrid(moved);
  QString question;
  Answer(QMessageBox::No, &question);
  EXPECT_EQ(form.CloseRaster(true, true), IDCANCEL);
  EXPECT_EQ(question, "Изменения в сетке будут потеряны. Продолжить?");
  ASSERT_NE(form.Calibrator(), nullptr);
  const QString other = WriteScan(f.Dir.filePath("other.bmp"), 40, 30);
  Answer(QMessageBox::No);
  form.OpenRaster(other);
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  // A grid saved to a file is not lost: no question.
  AnswerSaveDialog(f.Dir.filePath("grid.json"));
  form.SaveGridMenuClick();
  form.OpenRaster(other);
  EXPECT_EQ(form.Raster()->FileName(), other);
  EXPECT_FALSE(form.Calibrator()->HasChanges());
}

TEST(MainForm, LongWorkShowsItsProgressAndTheEventLoopGoesOn) {
  QTemporaryDir dir;
  // Large enough that reading it reports many percentages.
  const QString big = WriteScan(dir.filePath("big.bmp"), 2400, 1800, 3780, 24);
  TMainForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const int width = form.width();
  auto* name = form.findChild<QLabel*>(QStringLiteral("StatusPanel3"));
  ASSERT_NE(name, nullptr);
  QStringList seen;
  bool readWhole = true;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    seen.append(form.ReadStatusText(3) + " " + form.ReadStatusText(2));
    readWhole = readWhole &&
                name->contentsRect().width() >= name->fontMetrics().horizontalAdvance(name->text());
  });
  watch.start(0);
  form.OpenRaster(big);
  watch.stop();
  EXPECT_TRUE(seen.filter("Считывание растра...").size() > 0);
  // The work's name is read whole, and its length never moves the window's edge.
  EXPECT_TRUE(readWhole);
  EXPECT_EQ(form.width(), width);
  // Afterwards the progress is gone from the status bar.
  EXPECT_EQ(form.ReadStatusText(3), "");
}

TEST(MainForm, TheWindowsPlaceAndToolbarsAreRememberedBetweenRuns) {
  {
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.resize(900, 640);
    form.removeToolBar(Control<QToolBar>(&form, "ViewToolbar"));
    form.addToolBar(Qt::LeftToolBarArea, Control<QToolBar>(&form, "ViewToolbar"));
    Control<QToolBar>(&form, "ViewToolbar")->show();
    EXPECT_TRUE(form.close());
  }
  TMainForm again;
  EXPECT_EQ(again.size(), QSize(900, 640));
  EXPECT_EQ(again.toolBarArea(Control<QToolBar>(&again, "ViewToolbar")), Qt::LeftToolBarArea);
}

TEST(MainFormCalibrator, CtrlZUndoesTheClipAndTheCalibrationAndCtrlYRedoesThem) {
  TForm f;
  TMainForm& form = f.Form;
  const auto pixels = [&] {
    std::vector<uint32_t> all;
    for (int y = 0; y < form.Raster()->Height(); ++y)
      for (int x = 0; x < form.Raster()->Width(); ++x) all.push_back(form.Raster()->GetPixel(x, y));
    return all;
  };
  const auto key = [&](Qt::Key k) {
    QTest::keyClick(form.windowHandle(), k, Qt::ControlModifier);
    return form.findChild<QAction*>("UndoMenu")->text();
  };
  const std::vector<uint32_t> scanned = pixels();
  TGridInfo grid = form.Calibrator()->Grid();
  grid.NodeAt(1, 1).Offset = {-30, -20};
  form.Calibrator()->ReplaceGrid(grid);
  Control<QToolButton>(&form, "CalibrateBeginBtn")->click();
  const std::vector<uint32_t> calibrated = pixels();
  TGridInfo frame;
  frame.SetSize(2, 2);
  frame.SetOrigin({20, 10});
  frame.SetStep({150, 120});
  form.Calibrator()->ReplaceGrid(frame);
  form.findChild<QAction*>("ClipImageMenu")->trigger();
  ASSERT_EQ(form.Raster()->Width(), 150);
  const std::vector<uint32_t> clipped = pixels();
  EXPECT_EQ(form.findChild<QAction*>("UndoMenu")->text(), "Отменит&ь обрезку");

  EXPECT_EQ(key(Qt::Key_Z), "Отменит&ь изменение сетки");
  EXPECT_EQ(pixels(), calibrated);
  EXPECT_EQ(form.Calibrator()->Grid(), frame);
  EXPECT_EQ(form.findChild<QAction*>("RedoMenu")->text(), "&Вернуть обрезку");
  EXPECT_EQ(key(Qt::Key_Z), "Отменит&ь калибровку");
  EXPECT_EQ(key(Qt::Key_Z), "Отменит&ь изменение сетки");
  EXPECT_EQ(pixels(), scanned);
  EXPECT_EQ(form.Raster(), form.Calibrator()->Raster());
  EXPECT_EQ(form.Raster()->FileName(), f.Scan);
  for (int k = 0; k < 3; ++k) key(Qt::Key_Y);
  EXPECT_EQ(pixels(), clipped);
  EXPECT_EQ(form.Calibrator()->Grid().Origin, (TPoint{0, 0}));
  EXPECT_FALSE(Enabled(form, "RedoMenu"));
  EXPECT_TRUE(form.Modified());
}

TEST(MainForm, SavingOverAReadOnlyFileSaysSoAndAsksFirst) {
  TForm f;
  TMainForm& form = f.Form;
  MarkModified(f);
  const QString locked = f.Dir.filePath("locked.bmp");
  WriteFile(locked, "the user's locked file");
  QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
  // The save dialog's own question about an existing file comes first, then the program's.
  const auto answers = [](QMessageBox::StandardButton ours, QString* question) {
    Answer(QMessageBox::Yes, nullptr, [=] { Answer(ours, question); });
  };
  QString question;
  AnswerSaveDialog(locked);
  answers(QMessageBox::No, &question);
  EXPECT_EQ(form.SaveRaster(true), IDNO);
  EXPECT_EQ(question, "Файл " + locked + " доступен только для чтения. Заменить его?");
  EXPECT_EQ(ReadFile(locked), "the user's locked file");
  EXPECT_TRUE(form.Modified());
  AnswerSaveDialog(locked);
  answers(QMessageBox::Yes, nullptr);
  EXPECT_EQ(form.SaveRaster(true), IDYES);
  EXPECT_EQ(FileLe32(ReadFile(locked), 38), 2835u);
  // Replaced, it stays read-only; a plain save to it asks again.
  EXPECT_FALSE(QFileInfo(locked).permissions() & QFileDevice::WriteOwner);
  MarkModified(f);
  Answer(QMessageBox::No);
  EXPECT_EQ(form.SaveRaster(false), IDNO);
  EXPECT_TRUE(form.Modified());
}
