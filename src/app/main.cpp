#include "Cursors.h"
#include "FileUtils.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // Cursor pictures need the application; their numbers are fixed by this one registration.
  RegisterProgramCursors();
  QMainWindow window;
  try {
    window.setWindowTitle(AppVersionInfo().FileDescription());
  } catch (const Exception& e) {
    QMessageBox::critical(nullptr, QString(), e.Message());
  }
  window.resize(1024, 700);
  window.show();
  return app.exec();
}
