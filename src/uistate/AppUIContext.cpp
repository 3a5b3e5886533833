#include "AppUIContext.h"

#include "RecArrays.h"

TAppUIContext::TAppUIContext()
    : RasterOpened(AddVar(QStringLiteral("RasterOpened"))),
      CalibratorInUse(AddVar(QStringLiteral("CalibratorInUse"))),
      CalibrationInProgress(AddVar(QStringLiteral("CalibrationInProgress"))),
      NavigatorState(AddVar(QStringLiteral("NavigatorState"))),
      CanUndoZoom(AddVar(QStringLiteral("CanUndoZoom"))),
      ClipInProgress(AddVar(QStringLiteral("ClipInProgress"))),
      CellXN(AddVar(QStringLiteral("CellXN"))),
      CellYN(AddVar(QStringLiteral("CellYN"))),
      WorkInProgress(AddVar(QStringLiteral("WorkInProgress"))) {}

namespace {

// One property and the components, by name, whose property it is.
struct TPropBinding {
  const char* Prop;
  std::initializer_list<const char*> Components;
};

class TBinder {
 public:
  TBinder(TAppUIContext& context, const TComponentLookup& findComponent)
      : FContext(context), FFindComponent(findComponent) {}

  void Bind(std::initializer_list<TPropBinding> props, const TArgList& expr) {
    TArgList args;
    for (const TPropBinding& binding : props) {
      args.emplace_back(binding.Prop);
      for (const char* name : binding.Components) args.emplace_back(Find(name));
    }
    FContext.SetProps(args, expr);
  }

 private:
  QObject* Find(const char* name) const {
    const QString componentName = QString::fromLatin1(name);
    QObject* component = FFindComponent ? FFindComponent(componentName) : nullptr;
    if (!component)
      RaiseInternal(QStringLiteral("RegisterAppBindings"),
                    QStringLiteral("не найден компонент \"%1\"").arg(componentName));
    return component;
  }

  TAppUIContext& FContext;
  const TComponentLookup& FFindComponent;
};

}  // namespace

void RegisterAppBindings(TAppUIContext& context, const TComponentLookup& findComponent) {
  TBinder b(context, findComponent);
  b.Bind({{"Enabled", {"CloseMenu", "SaveMenu", "SaveBtn", "SaveAsMenu", "PropertiesMenu"}}},
         {"RasterOpened"});
  b.Bind({{"Enabled",
           {"SelectMenu", "SelectBtn", "ScrollByHandMenu", "ScrollByHandBtn", "ZoomByRectMenu",
            "ZoomByRectBtn", "ZoomInMenu", "ZoomInBtn", "ZoomOutMenu", "ZoomOutBtn",
            "ZoomOneInOneMenu", "ZoomOneInOneBtn", "ZoomAllMenu", "ZoomAllBtn", "RefreshMenu"}}},
         {"RasterOpened"});
  b.Bind({{"Enabled", {"ZoomPrevMenu", "ZoomPrevBtn"}}}, {"RasterOpened and CanUndoZoom"});
  b.Bind({{"Checked", {"SelectMenu"}}, {"Down", {"SelectBtn"}}}, {"NavigatorState = ", 0});
  b.Bind({{"Checked", {"ScrollByHandMenu"}}, {"Down", {"ScrollByHandBtn"}}},
         {"NavigatorState = ", 4});
  b.Bind({{"Checked", {"ZoomByRectMenu"}}, {"Down", {"ZoomByRectBtn"}}},
         {"NavigatorState = ", 2, " or NavigatorState = ", 3});
  b.Bind({{"Enabled", {"CalibrateMenu", "CalibrateBtn", "ClipImageBtn"}}},
         {"RasterOpened and not CalibrationInProgress and not ClipInProgress"});
  b.Bind({{"Checked", {"CalibrateMenu"}}, {"Down", {"CalibrateBtn"}}}, {"CalibratorInUse"});
  b.Bind({{"Enabled", {"CalibrateParamsBtn", "CalibrateResetBtn", "CalibrateBeginBtn"}}},
         {"CalibratorInUse and not CalibrationInProgress"});
  b.Bind({{"Enabled", {"ClipImageBtn"}}}, {"(CellXN = 1) and (CellYN = 1)"});
}
