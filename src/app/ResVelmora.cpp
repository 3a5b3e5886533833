#include "ResVelmora.h"

#include "RecArrays.h"

#include <QFile>

// The glyphs are compiled into this library, whose objects the linker only keeps when referred to.
static void InitGlyphResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(glyphs);
    return true;
  }();
  (void)done;
}

QIcon ToolbarGlyph(const QString& componentName) {
  InitGlyphResources();
  const QString path = QStringLiteral(":/glyphs/%1.svg").arg(componentName);
  if (!QFile::exists(path))
    RaiseInternal(QStringLiteral("ToolbarGlyph"),
                  QStringLiteral("no glyph for \"%1\"").arg(componentName));
  return QIcon(path);
}
