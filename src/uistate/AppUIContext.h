#pragma once

#include "UIContexts.h"

#include <functional>

// The main window's state variables. The main window and the calibration tool set them; the
// bindings below turn them into the enabled, checked and pressed states of the commands.
class TAppUIContext : public TUIContext {
 public:
  TAppUIContext();

  TUIContextVar* const RasterOpened;
  TUIContextVar* const CalibratorInUse;
  TUIContextVar* const CalibrationInProgress;
  TUIContextVar* const NavigatorState;
  TUIContextVar* const CanUndoZoom;
  TUIContextVar* const ClipInProgress;
  TUIContextVar* const CellXN;
  TUIContextVar* const CellYN;
  // Long work runs: nothing that could change or replace the raster or the grid may start. The
  // ten bindings below leave it to the window, which adds conditions of its own.
  TUIContextVar* const WorkInProgress;
};

// Finds a control of the main window by its component name ("SaveMenu", "SaveBtn"), or null.
using TComponentLookup = std::function<QObject*(const QString& name)>;

// Registers the ten bindings of the main window's commands, in their fixed order; the caller
// runs UpdateAll afterwards. Menu items are QActions, toolbar buttons QToolButtons; the items
// and buttons that show a mode (SelectMenu/SelectBtn, ScrollByHandMenu/ScrollByHandBtn,
// ZoomByRectMenu/ZoomByRectBtn, CalibrateMenu/CalibrateBtn) must be checkable.
void RegisterAppBindings(TAppUIContext& context, const TComponentLookup& findComponent);
