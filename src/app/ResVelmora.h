#pragma once

#include <QIcon>

// The program's icon: a sheet whose bent grid is being straightened (resources/velmora.svg), for
// the windows' captions and the about box.
QIcon ProgramIcon();
