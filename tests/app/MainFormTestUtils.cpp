#include "MainFormTestUtils.h"

#include "ModalAnswers.h"
#include "RasterTestUtils.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

QString WriteScan(const QString& name, int width, int height, int resolution, int bitsPerPixel) {
  TBmpLayout layout{width, height, bitsPerPixel, GreyPalette(256)};
  if (bitsPerPixel > 8) layout.Palette.clear();
  layout.Pixel = [bitsPerPixel](int x, int y) {
    const uint32_t grey = x % 10 == 0 || y % 10 == 0 ? 0u : 200u;
    return bitsPerPixel == 24 ? grey * 0x010101u : grey;
  };
  layout.XPelsPerMeter = layout.YPelsPerMeter = resolution;
  WriteFile(name, BmpBytes(layout));
  return name;
}

void TWatchedForm::RunWork(const QString& name, const std::function<void()>& job) {
  Works << name;
  TMainForm::RunWork(name, [this, &job] {
    if (Before) Before();
    job();
  });
}

TForm::TForm(int resolution, int width, int height, int bitsPerPixel) {
  Scan = WriteScan(Dir.filePath("scan.bmp"), width, height, resolution, bitsPerPixel);
  Form.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&Form));
  Form.OpenRaster(Scan);
  QCoreApplication::processEvents();
}

TForm::~TForm() {
  QTimer giveUp;
  QObject::connect(&giveUp, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      box->button(box->text().contains("сетке") ? QMessageBox::Yes : QMessageBox::No)->click();
  });
  giveUp.start(5);
  Form.Before = nullptr;
  Form.CloseRaster(true, false);
}

void Answer(QMessageBox::StandardButton button, QString* text, std::function<void()> then) {
  WhenModal<QMessageBox>([=](QMessageBox* box) {
    if (text) *text = box->text();
    if (then) then();
    box->button(button)->click();
  });
}

void AnswerSaveDialog(const QString& name) {
  WhenModal<QFileDialog>([name](QFileDialog* dialog) {
    if (name.isEmpty()) {
      dialog->reject();
      return;
    }
    dialog->selectFile(name);
    static_cast<QDialog*>(dialog)->accept();
  });
}

void MarkModified(TForm& f) {
  WhenModal<QDialog>([](QDialog* dialog) {
    Control<QLineEdit>(dialog, "XResPerMeterEdit")->setText("2835");
    dialog->accept();
  });
  f.Form.PropertiesMenuClick();
  ASSERT_TRUE(f.Form.Modified());
}

bool Enabled(const TMainForm& form, const char* name) {
  if (auto* action = form.findChild<QAction*>(QLatin1String(name))) return action->isEnabled();
  return Control<QToolButton>(&form, name)->isEnabled();
}

bool Checked(const TMainForm& form, const char* name) {
  if (auto* action = form.findChild<QAction*>(QLatin1String(name))) return action->isChecked();
  return Control<QToolButton>(&form, name)->isChecked();
}
