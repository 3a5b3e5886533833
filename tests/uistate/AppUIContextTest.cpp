#include "AppUIContext.h"

#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"

#include <QAction>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const char* const MenuItems[] = {
    "OpenMenu",      "CloseMenu",        "SaveMenu",         "SaveAsMenu",     "PropertiesMenu",
    "ExitMenu",      "SelectMenu",       "ScrollByHandMenu", "ZoomByRectMenu", "ZoomInMenu",
    "ZoomOutMenu",   "ZoomOneInOneMenu", "ZoomAllMenu",      "ZoomPrevMenu",   "RefreshMenu",
    "CalibrateMenu", "OptionsMenu",      "HelpTopicMenu",    "AboutMenu"};

const char* const Buttons[] = {"OpenBtn",           "SaveBtn",           "SelectBtn",
                               "ScrollByHandBtn",   "ZoomByRectBtn",     "ZoomInBtn",
                               "ZoomOutBtn",        "ZoomOneInOneBtn",   "ZoomAllBtn",
                               "ZoomPrevBtn",       "CalibrateBtn",      "CalibrateParamsBtn",
                               "CalibrateResetBtn", "CalibrateBeginBtn", "ClipImageBtn"};

// The controls that show a mode: a checked menu item, a pressed button.
const QStringList Checkable = {"SelectMenu",      "SelectBtn",      "ScrollByHandMenu",
                               "ScrollByHandBtn", "ZoomByRectMenu", "ZoomByRectBtn",
                               "CalibrateMenu",   "CalibrateBtn"};

// Everything that needs an open raster, whatever else it needs.
const QStringList RasterCommands = {
    "CloseMenu",        "SaveMenu",        "SaveBtn",          "SaveAsMenu",      "PropertiesMenu",
    "SelectMenu",       "SelectBtn",       "ScrollByHandMenu", "ScrollByHandBtn", "ZoomByRectMenu",
    "ZoomByRectBtn",    "ZoomInMenu",      "ZoomInBtn",        "ZoomOutMenu",     "ZoomOutBtn",
    "ZoomOneInOneMenu", "ZoomOneInOneBtn", "ZoomAllMenu",      "ZoomAllBtn",      "ZoomPrevMenu",
    "ZoomPrevBtn",      "RefreshMenu",     "CalibrateMenu",    "CalibrateBtn",    "ClipImageBtn"};

const QStringList CalibrationButtons = {"CalibrateParamsBtn", "CalibrateResetBtn",
                                        "CalibrateBeginBtn"};

// The main window's commands as menu actions and tool buttons with their component names.
class AppBindings : public testing::Test {
 protected:
  AppBindings() {
    for (const char* name : MenuItems) {
      QAction* action = new QAction(&Window);
      action->setObjectName(name);
      action->setCheckable(Checkable.contains(name));
    }
    for (const char* name : Buttons) {
      QToolButton* button = new QToolButton(&Window);
      button->setObjectName(name);
      button->setCheckable(Checkable.contains(name));
    }
    RegisterAppBindings(Context, Lookup());
    Context.UpdateAll();
  }

  TComponentLookup Lookup() {
    return [this](const QString& name) { return Window.findChild<QObject*>(name); };
  }

  bool Enabled(const QString& name) {
    QObject* o = Window.findChild<QObject*>(name);
    if (auto* action = qobject_cast<QAction*>(o)) return action->isEnabled();
    return qobject_cast<QWidget*>(o)->isEnabled();
  }

  // Checked for a menu item, pressed for a button.
  bool On(const QString& name) {
    QObject* o = Window.findChild<QObject*>(name);
    if (auto* action = qobject_cast<QAction*>(o)) return action->isChecked();
    return qobject_cast<QToolButton*>(o)->isChecked();
  }

  QStringList EnabledOf(const QStringList& names) {
    QStringList result;
    for (const QString& name : names)
      if (Enabled(name)) result << name;
    return result;
  }

  QStringList OnOf(const QStringList& names) {
    QStringList result;
    for (const QString& name : names)
      if (On(name)) result << name;
    return result;
  }

  QWidget Window;
  TAppUIContext Context;
};

}  // namespace

TEST_F(AppBindings, DeclaresTheNineVariablesAndTenConditions) {
  EXPECT_EQ(
      Context.Variables().keys(),
      (QStringList{"CALIBRATIONINPROGRESS", "CALIBRATORINUSE", "CANUNDOZOOM", "CELLXN", "CELLYN",
                   "CLIPINPROGRESS", "NAVIGATORSTATE", "RASTEROPENED", "WORKINPROGRESS"}));
  EXPECT_EQ(Context.Variables().value("NAVIGATORSTATE"), Context.NavigatorState);
  ASSERT_EQ(Context.Conditions().size(), 10u);
  // Rows 1, 2, 3 and 7 read RasterOpened; rows 1 and 2 are separate conditions.
  const auto& c = Context.Conditions();
  EXPECT_EQ(Context.RasterOpened->Dependents(),
            (std::vector<TUICondition*>{c[0].get(), c[1].get(), c[2].get(), c[6].get()}));
  EXPECT_EQ(Context.NavigatorState->Dependents(),
            (std::vector<TUICondition*>{c[3].get(), c[4].get(), c[5].get()}));
  EXPECT_EQ(Context.CellXN->Dependents(), (std::vector<TUICondition*>{c[9].get()}));
  EXPECT_EQ(c[1]->Changers().size(), 15u);
}

TEST_F(AppBindings, StartUpDisablesEveryRasterCommand) {
  EXPECT_TRUE(EnabledOf(RasterCommands).isEmpty())
      << EnabledOf(RasterCommands).join(' ').toStdString();
  EXPECT_TRUE(EnabledOf(CalibrationButtons).isEmpty());
  EXPECT_EQ(OnOf(Checkable), (QStringList{"SelectMenu", "SelectBtn"}));
  for (const char* name :
       {"OpenMenu", "OpenBtn", "ExitMenu", "OptionsMenu", "HelpTopicMenu", "AboutMenu"})
    EXPECT_TRUE(Enabled(name)) << name;
}

TEST_F(AppBindings, OpeningARasterEnablesItsCommands) {
  Context.RasterOpened->SetValue(1);
  QStringList expected = RasterCommands;
  expected.removeAll("ZoomPrevMenu");
  expected.removeAll("ZoomPrevBtn");
  EXPECT_EQ(EnabledOf(RasterCommands), expected);
  EXPECT_TRUE(EnabledOf(CalibrationButtons).isEmpty());
  Context.CanUndoZoom->SetValue(1);
  EXPECT_EQ(EnabledOf(RasterCommands), RasterCommands);
  Context.RasterOpened->SetValue(0);
  EXPECT_TRUE(EnabledOf(RasterCommands).isEmpty());
}

TEST_F(AppBindings, ARunningCalibrationDisablesTheCalibratorCommands) {
  Context.RasterOpened->SetValue(1);
  Context.CalibratorInUse->SetValue(1);
  EXPECT_EQ(OnOf({"CalibrateMenu", "CalibrateBtn"}),
            (QStringList{"CalibrateMenu", "CalibrateBtn"}));
  EXPECT_EQ(EnabledOf(CalibrationButtons), CalibrationButtons);
  const QStringList calibratorCommands =
      QStringList{"CalibrateMenu", "CalibrateBtn", "ClipImageBtn"} + CalibrationButtons;
  Context.CalibrationInProgress->SetValue(1);
  EXPECT_TRUE(EnabledOf(calibratorCommands).isEmpty());
  EXPECT_TRUE(Enabled("SaveMenu"));
  // Ending the calibration enables them again, the clip button whatever the grid size.
  Context.CalibrationInProgress->SetValue(0);
  EXPECT_EQ(EnabledOf(calibratorCommands), calibratorCommands);
  // A clip disables the calibrator command and the clip button, not the grid buttons.
  Context.ClipInProgress->SetValue(1);
  EXPECT_EQ(EnabledOf(calibratorCommands), CalibrationButtons);
  Context.ClipInProgress->SetValue(0);
  // Destroying the tool clears its mode and disables its buttons.
  Context.CalibratorInUse->SetValue(0);
  EXPECT_TRUE(OnOf({"CalibrateMenu", "CalibrateBtn"}).isEmpty());
  EXPECT_TRUE(EnabledOf(CalibrationButtons).isEmpty());
  EXPECT_TRUE(Enabled("CalibrateMenu"));
}

TEST_F(AppBindings, TheClipButtonFollowsWhicheverConditionRanLast) {
  std::vector<int32_t> row10;
  auto spy = std::make_unique<TUIConditionClient>();
  spy->OnApply = [&row10](int32_t value) { row10.push_back(value); };
  Context.Conditions()[9]->AddChanger(std::move(spy));

  Context.RasterOpened->SetValue(1);
  EXPECT_TRUE(Enabled("ClipImageBtn"));
  EXPECT_TRUE(row10.empty());
  // Grid parameters confirmed as 2 x 1, then 1 x 1: row 10 runs once per changed count.
  Context.CellXN->SetValue(2);
  Context.CellYN->SetValue(1);
  EXPECT_FALSE(Enabled("ClipImageBtn"));
  Context.CellXN->SetValue(1);
  EXPECT_TRUE(Enabled("ClipImageBtn"));
  EXPECT_EQ(row10, (std::vector<int32_t>{0, 0, 1}));
  // From 2 x 2 to 1 x 1: two evaluations, and only the second one persists.
  Context.CellXN->SetValue(2);
  Context.CellYN->SetValue(2);
  row10.clear();
  Context.CellXN->SetValue(1);
  EXPECT_FALSE(Enabled("ClipImageBtn"));
  Context.CellYN->SetValue(1);
  EXPECT_EQ(row10, (std::vector<int32_t>{0, 1}));
  EXPECT_TRUE(Enabled("ClipImageBtn"));
  // 2 x 1 again, then a calibration: when it ends, row 7 ran last and enables the button.
  Context.CellXN->SetValue(2);
  EXPECT_FALSE(Enabled("ClipImageBtn"));
  Context.CalibrationInProgress->SetValue(1);
  Context.CalibrationInProgress->SetValue(0);
  EXPECT_TRUE(Enabled("ClipImageBtn"));
  // Confirming the same counts evaluates nothing, so the button keeps row 7's word.
  row10.clear();
  Context.CellXN->SetValue(2);
  Context.CellYN->SetValue(1);
  EXPECT_TRUE(row10.empty());
  EXPECT_TRUE(Enabled("ClipImageBtn"));
}

TEST_F(AppBindings, ExactlyOneNavigatorModeIsShown) {
  const QStringList none;
  const QStringList select = {"SelectMenu", "SelectBtn"};
  const QStringList zoomByRect = {"ZoomByRectMenu", "ZoomByRectBtn"};
  const QStringList hand = {"ScrollByHandMenu", "ScrollByHandBtn"};
  const QStringList modes[] = {select, none, zoomByRect, zoomByRect, hand, none};
  for (int state : {4, 2, 1, 3, 0, 5, 0}) {
    Context.NavigatorState->SetValue(state);
    EXPECT_EQ(OnOf(Checkable), modes[state]) << "state " << state;
  }
}

TEST_F(AppBindings, RegistrationNeedsEveryComponentAndItsProperties) {
  TAppUIContext other;
  const TComponentLookup withoutClose = [this](const QString& name) -> QObject* {
    return name == "CloseMenu" ? nullptr : Window.findChild<QObject*>(name);
  };
  EXPECT_EQ(MessageOf<EInternal>([&] { RegisterAppBindings(other, withoutClose); }),
            QStringLiteral("Внутренняя ошибка: не найден компонент \"CloseMenu\" "
                           "(RegisterAppBindings)"));
  EXPECT_TRUE(other.Conditions().empty());

  // A select button that cannot stay pressed fails at its binding, after three rows were taken.
  Window.findChild<QToolButton*>("SelectBtn")->setCheckable(false);
  TAppUIContext third;
  EXPECT_EQ(MessageOf<EInternal>([&] { RegisterAppBindings(third, Lookup()); }),
            QStringLiteral("Внутренняя ошибка: invalid property \"Down\" (TUIContext.SetProps)"));
  EXPECT_EQ(third.Conditions().size(), 3u);
}
