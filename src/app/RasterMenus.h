#pragma once

#include "InEditors.h"

#include <vector>

class QAction;

// The window's commands in the context menu of the raster: an item for each action, which runs
// it, in groups parted by separators (a null action). The items take the actions' captions and
// whether they are enabled as they are at the press of the right button.
class TRasterMenu : public TEditor {
 public:
  explicit TRasterMenu(std::vector<QAction*> actions);

  void MouseDown(TMouseButton button, TShiftState shift, const TPoint& p) override;
  void AddContextItems(TContextMenu& menu) override;

 private:
  std::vector<QAction*> FActions;
};
