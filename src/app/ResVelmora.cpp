#include "ResVelmora.h"

// The icon is compiled into this library, whose objects the linker only keeps when referred to.
static void InitProgramResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(program);
    return true;
  }();
  (void)done;
}

QIcon ProgramIcon() {
  InitProgramResources();
  return QIcon(QStringLiteral(":/velmora.svg"));
}
