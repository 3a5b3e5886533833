#pragma once

#include <QIcon>
#include <QString>

// The glyph of a toolbar button or menu command, by the component name of its button ("OpenBtn",
// "ZoomInBtn", ...). The glyphs are drawings of our own, compiled into the program; Qt derives
// their disabled look. A name without a glyph is a programming error and raises EInternal.
QIcon ToolbarGlyph(const QString& componentName);

// The program's icon: a sheet whose bent grid is being straightened (resources/velmora.svg), for
// the windows' captions and the about box.
QIcon ProgramIcon();
