#include "ResVelmora.h"

#include "RecArrays.h"

#include <QFile>

// The pictures are compiled into this library, whose objects the linker only keeps when referred
// to.
static void InitProgramResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(glyphs);
    Q_INIT_RESOURCE(program);
    return true;
  }();
  (void)done;
}

QIcon ToolbarGlyph(const QString& componentName) {
  InitProgramResources();
  const QString path = QStringLiteral(":/glyphs/%1.svg").arg(componentName);
  if (!QFile::exists(path))
    RaiseInternal(QStringLiteral("ToolbarGlyph"),
                  QStringLiteral("no glyph for \"%1\"").arg(componentName));
  return QIcon(path);
}

QIcon ProgramIcon() {
  InitProgramResources();
  return QIcon(QStringLiteral(":/velmora.svg"));
}
