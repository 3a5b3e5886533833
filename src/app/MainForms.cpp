#include "MainForms.h"

#include "AboutForms.h"
#include "BmpFiles.h"
#include "Cursors.h"
#include "FileUtils.h"
#include "FormUtils.h"
#include "GridNodesDocks.h"
#include "HtmlHelps.h"
#include "OverviewDocks.h"
#include "RasterFileDialogs.h"
#include "RasterMenus.h"
#include "RecentFiles.h"
#include "ResVelmora.h"
#include "StatusSpy.h"
#include "WhatsThis.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QStackedLayout>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace {

// The status panels: width and alignment of the cursor's pixel, its centimetres, the percentage
// of long work and the work's name.
constexpr std::array<int, 4> kPanelWidths{115, 115, 70, 100};

// The window's first client size, below its menu bar.
constexpr QSize kFirstSize(738, 469);

const QString kLayoutGroup = QStringLiteral("MainWindow");

}  // namespace

TMainForm::TBusy::TBusy(TMainForm& form) : FForm(form) {
  if (FForm.FBusyCount++ == 0) {
    FForm.FEditWindow->SuspendRendering();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FForm.FSinceAlive.invalidate();
  }
}

TMainForm::TBusy::~TBusy() {
  if (--FForm.FBusyCount == 0) {
    QApplication::restoreOverrideCursor();
    FForm.FEditWindow->ResumeRendering();
  }
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowIcon(ProgramIcon());
  menuBar()->setObjectName(QStringLiteral("MainMenu"));
  FEditWindow = new TEditWindow;
  FEditWindow->setObjectName(QStringLiteral("EditWindow"));
  auto* placeholder = new QLabel(QStringLiteral(
      "Откройте растр: «Файл» → «Открыть...» (Ctrl+O)\nили перетащите файл BMP в это окно."));
  placeholder->setAlignment(Qt::AlignCenter);
  placeholder->setEnabled(false);
  auto* central = new QWidget;
  FCentral = new QStackedLayout(central);
  FCentral->addWidget(placeholder);
  FCentral->addWidget(FEditWindow);
  setCentralWidget(central);
  FNodesDock = new TGridNodesDock(this);
  FOverviewDock = new TOverviewDock(*FEditWindow, this);
  // The overview beside the raster, the table of the nodes under it, where its columns have room.
  addDockWidget(Qt::RightDockWidgetArea, FOverviewDock);
  addDockWidget(Qt::BottomDockWidgetArea, FNodesDock);
  CreateCommands();
  CreateStatusBar();
  setAcceptDrops(true);

  FProvider = std::make_unique<TLocalFileProvider>([this](const QString& filter, QString& name) {
    return RunOpenFileDialog(filter, name, this, QStringLiteral("Выбор растрового файла"));
  });
  RegisterBmpFormat(FProvider.get());
  FOptions = std::make_unique<TOptions>();
  FOptions->Load();
  // The open dialog starts where the user last opened or saved a file, in this run or before.
  if (const QString folder = LastFolder(); !folder.isEmpty())
    FOpenProposal = folder + QLatin1Char('/');
  FUIContext = std::make_unique<TAppUIContext>();
  FStatusInfo = std::make_unique<TStatusInfo>(
      [this](int slot) { return ReadStatusText(slot); },
      [this](int slot, const QString& text) { ShowStatusText(slot, text); });

  ShowEditWindow(false);
  FEditWindow->SetColor(QColorToColor(palette().color(QPalette::Base)));
  FEditWindow->OnPaint = [this](TDeviceInfo& device, TCanvas& canvas) {
    EditWindowPaint(device, canvas);
  };
  FEditWindow->OnViewChange = [this](TEditWindow*) { EditWindowViewChange(); };

  auto* navigator = new TMatrixProjectionNavigator;
  FEditWindow->AttachEditor(navigator);
  AssignRef(FNavigator, navigator);
  FNavigator->SetAngle(0);
  FNavigator->SetFlipY(true);
  FNavigator->ClearHistory();
  FEditWindow->AttachEditor(new TEditWindowSpy(this));
  const auto action = [this](const char* name) { return findChild<QAction*>(QLatin1String(name)); };
  FEditWindow->AttachEditor(
      new TRasterMenu({action("ZoomInMenu"), action("ZoomOutMenu"), action("ZoomOneInOneMenu"),
                       action("ZoomAllMenu"), action("ZoomPrevMenu"), nullptr,
                       action("FindNodesMenu"), action("NextMissedNodeMenu")}));
  // The tools' word on what is under the pointer: the calibrator's selected or dragged node.
  FEditWindow->OnShowStatus = [this](TEditWindow*, const QString& text) {
    FNodePanel->setText(text);
  };
  FNodesDock->OnShowNode = [this](int32_t i, int32_t j) {
    if (FCalibrator) FCalibrator->ShowNode(i, j, true);
  };

  ClearStatus();
  UpdateCaption();

  RegisterAppBindings(*FUIContext,
                      [this](const QString& name) { return findChild<QObject*>(name); });
  RegisterGridBindings();
  FUIContext->UpdateAll();

  FNavigator->OnStateChange = [this](TEditWindowNavigator* sender) {
    if (FUIContext) FUIContext->NavigatorState->SetValue(sender->State());
  };
  if (auto* projection = dynamic_cast<TMatrixProjection*>(FEditWindow->Device().Projection()))
    projection->OnChange = [this](TMatrixProjection&) {
      if (FUIContext) FUIContext->CanUndoZoom->SetValue(FNavigator->HasHistory());
    };

  resize(kFirstSize.width(), kFirstSize.height() + menuBar()->sizeHint().height());
  RestoreLayout();
  InstallContextHelp(this);
}

TMainForm::~TMainForm() {
  FClosingDown = true;
  try {
    CloseRaster(true, false);
  } catch (const Exception& e) {
    ShowException(e);
  }
  CloseCalibrator();
  if (auto* projection = dynamic_cast<TMatrixProjection*>(FEditWindow->Device().Projection()))
    projection->OnChange = nullptr;
  FNavigator->OnStateChange = nullptr;
  ReleaseRef(FNavigator);
  // The edit window goes while what its tools report to is still here.
  delete FEditWindow;
  FEditWindow = nullptr;
  FUIContext.reset();
}

void TMainForm::Run(void (TMainForm::*handler)()) {
  try {
    (this->*handler)();
  } catch (const Exception& e) {
    ShowException(e);
  } catch (const std::bad_alloc&) {
    ShowErrorMessage(QStringLiteral("Недостаточно памяти для выполнения операции."));
  }
}

QAction* TMainForm::AddMenuItem(QMenu* menu, const char* name, const QString& caption,
                                const QKeySequence& shortcut, void (TMainForm::*handler)(),
                                bool checkable, const char* glyph) {
  auto* action = new QAction(caption, this);
  if (glyph) action->setIcon(ToolbarGlyph(QLatin1String(glyph)));
  action->setObjectName(QString::fromLatin1(name));
  action->setShortcut(shortcut);
  action->setCheckable(checkable);
  // A checkable item would turn itself on or off before the command decides: the command's state
  // variables check it.
  connect(action, &QAction::triggered, this, [this, action, handler] {
    if (action->isCheckable()) action->setChecked(!action->isChecked());
    Run(handler);
  });
  menu->addAction(action);
  // The window keeps the shortcuts working wherever the focus is within it.
  addAction(action);
  return action;
}

QToolButton* TMainForm::AddButton(QToolBar* toolbar, const char* name, const QString& hint,
                                  void (TMainForm::*handler)(), bool checkable) {
  // A button of its own rather than a view of the menu's action: the state bindings press and
  // enable buttons and menu items separately.
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(ToolbarGlyph(button->objectName()));
  button->setToolTip(hint);
  button->setStatusTip(hint);
  button->setAutoRaise(true);
  button->setCheckable(checkable);
  button->setIconSize(toolbar->iconSize());
  connect(toolbar, &QToolBar::iconSizeChanged, button, &QToolButton::setIconSize);
  connect(toolbar, &QToolBar::toolButtonStyleChanged, button, &QToolButton::setToolButtonStyle);
  // A checkable button would turn itself on or off before the command decides: the command's
  // state variables press it.
  connect(button, &QToolButton::clicked, this, [this, button, handler] {
    if (button->isCheckable()) button->setChecked(!button->isChecked());
    Run(handler);
  });
  toolbar->addWidget(button);
  return button;
}

void TMainForm::CreateCommands() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  file->setObjectName(QStringLiteral("FileMenu"));
  AddMenuItem(file, "OpenMenu", QStringLiteral("&Открыть..."), QKeySequence(Qt::CTRL | Qt::Key_O),
              &TMainForm::OpenMenuClick, false, "OpenBtn");
  AddMenuItem(file, "CloseMenu", QStringLiteral("&Закрыть"), QKeySequence(Qt::CTRL | Qt::Key_W),
              &TMainForm::CloseMenuClick);
  file->addSeparator();
  AddMenuItem(file, "SaveMenu", QStringLiteral("&Сохранить"), QKeySequence(Qt::CTRL | Qt::Key_S),
              &TMainForm::SaveMenuClick, false, "SaveBtn");
  AddMenuItem(file, "SaveAsMenu", QStringLiteral("Сохранить &как..."),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TMainForm::SaveAsMenuClick);
  AddMenuItem(file, "PropertiesMenu", QStringLiteral("С&войства растра..."), {},
              &TMainForm::PropertiesMenuClick);
  file->addSeparator();
  QAction* exit = AddMenuItem(file, "ExitMenu", QStringLiteral("В&ыход"),
                              QKeySequence(Qt::ALT | Qt::Key_F4), &TMainForm::ExitMenuClick);
  FRecentFiles = new TRecentFiles(file, exit, [this](const QString& name) {
    try {
      if (!QFileInfo::exists(name)) {
        FRecentFiles->Remove(name);
        throw Exception(QStringLiteral("Файл %1 не найден").arg(QDir::toNativeSeparators(name)));
      }
      OpenRaster(name);
    } catch (const Exception& e) {
      ShowException(e);
    }
  });

  QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
  view->setObjectName(QStringLiteral("ViewMenu"));
  AddMenuItem(view, "SelectMenu", QStringLiteral("Вы&бор"), {}, &TMainForm::SelectMenuClick, true,
              "SelectBtn");
  AddMenuItem(view, "ScrollByHandMenu", QStringLiteral("Произвольная &прокрутка"), {},
              &TMainForm::ScrollByHandMenuClick, true, "ScrollByHandBtn");
  AddMenuItem(view, "ZoomByRectMenu", QStringLiteral("Произвольное &масштабирование"), {},
              &TMainForm::ZoomByRectMenuClick, true, "ZoomByRectBtn");
  // The step is the navigator's 1.5: the captions say what the commands do. The view commands
  // also take the keys that image editors give them.
  AddMenuItem(view, "ZoomInMenu", QStringLiteral("Уве&личить масштаб"),
              QKeySequence(Qt::CTRL | Qt::Key_Plus), &TMainForm::ZoomInMenuClick, false,
              "ZoomInBtn")
      ->setShortcuts(
          {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  AddMenuItem(view, "ZoomOutMenu", QStringLiteral("Уме&ньшить масштаб"),
              QKeySequence(Qt::CTRL | Qt::Key_Minus), &TMainForm::ZoomOutMenuClick, false,
              "ZoomOutBtn");
  AddMenuItem(view, "ZoomOneInOneMenu", QStringLiteral("Масштаб &1:1"),
              QKeySequence(Qt::CTRL | Qt::Key_1), &TMainForm::ZoomOneInOneMenuClick, false,
              "ZoomOneInOneBtn");
  AddMenuItem(view, "ZoomAllMenu", QStringLiteral("Вписать &все"),
              QKeySequence(Qt::CTRL | Qt::Key_0), &TMainForm::ZoomAllMenuClick, false,
              "ZoomAllBtn");
  AddMenuItem(view, "ZoomPrevMenu", QStringLiteral("Пр&едыдущий масштаб"), {},
              &TMainForm::ZoomPrevMenuClick, false, "ZoomPrevBtn");
  view->addSeparator();
  AddMenuItem(view, "RefreshMenu", QStringLiteral("Пе&рерисовать"), QKeySequence(Qt::Key_F5),
              &TMainForm::RefreshMenuClick);
  view->addSeparator();
  for (QDockWidget* dock : std::initializer_list<QDockWidget*>{FNodesDock, FOverviewDock}) {
    QAction* toggle = dock->toggleViewAction();
    toggle->setObjectName(dock->objectName() + QStringLiteral("Menu"));
    view->addAction(toggle);
  }

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Инструменты"));
  tools->setObjectName(QStringLiteral("ToolsMenu"));
  AddMenuItem(tools, "CalibrateMenu", QStringLiteral("&Калибратор"), {},
              &TMainForm::CalibrateMenuClick, true, "CalibrateBtn");
  tools->addSeparator();
  // The calibrator's commands, which the toolbar has as buttons, also have items and keys.
  AddMenuItem(tools, "CalibrateParamsMenu", QStringLiteral("Параметры &сетки..."),
              QKeySequence(Qt::CTRL | Qt::Key_G), &TMainForm::CalibrateParamsBtnClick, false,
              "CalibrateParamsBtn");
  AddMenuItem(tools, "CalibrateResetMenu", QStringLiteral("Сбросить &изменения в сетке"), {},
              &TMainForm::CalibrateResetBtnClick, false, "CalibrateResetBtn");
  AddMenuItem(tools, "FindNodesMenu", QStringLiteral("&Найти узлы"),
              QKeySequence(Qt::CTRL | Qt::Key_F), &TMainForm::FindNodesMenuClick, false,
              "FindNodesBtn");
  AddMenuItem(tools, "CalibrateBeginMenu", QStringLiteral("&Начать калибровку"),
              QKeySequence(Qt::Key_F9), &TMainForm::CalibrateBeginBtnClick, false,
              "CalibrateBeginBtn");
  AddMenuItem(tools, "NextMissedNodeMenu", QStringLiteral("Сле&дующий ненайденный узел"),
              QKeySequence(Qt::Key_N), &TMainForm::NextMissedNodeMenuClick);
  AddMenuItem(tools, "ClipImageMenu", QStringLiteral("&Обрезать по сетке"), {},
              &TMainForm::ClipImageBtnClick, false, "ClipImageBtn");
  AddMenuItem(tools, "ClipFrameMenu", QStringLiteral("Обрезать по &рамке сетки"), {},
              &TMainForm::ClipFrameMenuClick);
  tools->addSeparator();
  AddMenuItem(tools, "OpenGridMenu", QStringLiteral("Откр&ыть сетку..."),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &TMainForm::OpenGridMenuClick, false,
              "GridOpenBtn");
  AddMenuItem(tools, "SaveGridMenu", QStringLiteral("Сохранить се&тку..."),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), &TMainForm::SaveGridMenuClick, false,
              "GridSaveBtn");
  tools->addSeparator();
  AddMenuItem(tools, "UndoMenu", QStringLiteral("Отменить изменение се&тки"),
              QKeySequence(Qt::CTRL | Qt::Key_Z), &TMainForm::UndoMenuClick, false, "GridUndoBtn");
  AddMenuItem(tools, "RedoMenu", QStringLiteral("&Вернуть изменение сетки"),
              QKeySequence(Qt::CTRL | Qt::Key_Y), &TMainForm::RedoMenuClick, false, "GridRedoBtn");
  tools->addSeparator();
  AddMenuItem(tools, "OptionsMenu", QStringLiteral("П&араметры..."), {},
              &TMainForm::OptionsMenuClick);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  help->setObjectName(QStringLiteral("HelpMenu"));
  AddMenuItem(help, "HelpTopicMenu", QStringLiteral("&Справка"), QKeySequence(Qt::Key_F1),
              &TMainForm::HelpTopicMenuClick);
  help->addSeparator();
  AddMenuItem(help, "AboutMenu", QStringLiteral("&О программе..."), {}, &TMainForm::AboutMenuClick);

  QToolBar* fileBar = addToolBar(QStringLiteral("Файл"));
  fileBar->setObjectName(QStringLiteral("FileToolbar"));
  AddButton(fileBar, "OpenBtn", QStringLiteral("Открыть растр"), &TMainForm::OpenMenuClick);
  AddButton(fileBar, "SaveBtn", QStringLiteral("Сохранить растр"), &TMainForm::SaveMenuClick);

  QToolBar* viewBar = addToolBar(QStringLiteral("Вид"));
  viewBar->setObjectName(QStringLiteral("ViewToolbar"));
  AddButton(viewBar, "SelectBtn", QStringLiteral("Выбор"), &TMainForm::SelectMenuClick, true);
  AddButton(viewBar, "ScrollByHandBtn", QStringLiteral("Произвольная прокрутка"),
            &TMainForm::ScrollByHandMenuClick, true);
  AddButton(viewBar, "ZoomByRectBtn", QStringLiteral("Произвольное масштабирование"),
            &TMainForm::ZoomByRectMenuClick, true);
  AddButton(viewBar, "ZoomInBtn", QStringLiteral("Увеличить масштаб в 1,5 раза"),
            &TMainForm::ZoomInMenuClick);
  AddButton(viewBar, "ZoomOutBtn", QStringLiteral("Уменьшить масштаб в 1,5 раза"),
            &TMainForm::ZoomOutMenuClick);
  AddButton(viewBar, "ZoomOneInOneBtn", QStringLiteral("Масштаб 1:1"),
            &TMainForm::ZoomOneInOneMenuClick);
  AddButton(viewBar, "ZoomAllBtn", QStringLiteral("Вписать все"), &TMainForm::ZoomAllMenuClick);
  AddButton(viewBar, "ZoomPrevBtn", QStringLiteral("Предыдущий масштаб"),
            &TMainForm::ZoomPrevMenuClick);

  QToolBar* toolsBar = addToolBar(QStringLiteral("Инструменты"));
  toolsBar->setObjectName(QStringLiteral("ToolsToolbar"));
  AddButton(toolsBar, "CalibrateBtn", QStringLiteral("Калибратор"), &TMainForm::CalibrateMenuClick,
            true);
  toolsBar->addSeparator();
  AddButton(toolsBar, "CalibrateParamsBtn", QStringLiteral("Параметры калибровки"),
            &TMainForm::CalibrateParamsBtnClick);
  AddButton(toolsBar, "CalibrateResetBtn", QStringLiteral("Сбросить изменения в сетке"),
            &TMainForm::CalibrateResetBtnClick);
  AddButton(toolsBar, "FindNodesBtn", QStringLiteral("Найти узлы сетки на растре"),
            &TMainForm::FindNodesMenuClick);
  AddButton(toolsBar, "CalibrateBeginBtn", QStringLiteral("Начать калибровку"),
            &TMainForm::CalibrateBeginBtnClick);
  toolsBar->addSeparator();
  AddButton(toolsBar, "ClipImageBtn", QStringLiteral("Обрезать растр по первой ячейке сетки"),
            &TMainForm::ClipImageBtnClick);
}

void TMainForm::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar"));
  for (size_t i = 0; i < FPanels.size(); ++i) {
    auto* panel = new QLabel;
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    // The last panel takes the rest of the bar, as a status bar's last part does, so that the
    // names of long work ("Поиск узлов сетки...") are read whole; its text never widens the window.
    if (i + 1 < FPanels.size()) {
      panel->setFixedWidth(kPanelWidths[i]);
    } else {
      panel->setMinimumWidth(kPanelWidths[i]);
      panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    panel->setAlignment((i == 2 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    bar->addWidget(panel, i + 1 < FPanels.size() ? 0 : 1);
    FPanels[i] = panel;
    if (i == 1) {
      // After the pointer's position, the node the keys move: "Узел (12, 7): 1812; 1190 px, ...".
      // It shares the rest of the bar with the name of long work.
      FNodePanel = new QLabel;
      FNodePanel->setObjectName(QStringLiteral("NodeStatusPanel"));
      FNodePanel->setMinimumWidth(kPanelWidths[3]);
      FNodePanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      FNodePanel->setFrameShape(QFrame::StyledPanel);
      FNodePanel->setFrameShadow(QFrame::Sunken);
      bar->addWidget(FNodePanel, 1);
    }
  }
}

void TMainForm::ShowEditWindow(bool visible) {
  FCentral->setCurrentIndex(visible ? 1 : 0);
  FEditWindow->setVisible(visible);
  if (visible) FEditWindow->setFocus();
}

void TMainForm::UpdateCaption() {
  QString caption;
  try {
    caption = AppVersionInfo().FileDescription();
  } catch (const Exception& e) {
    ShowException(e);
  }
  // A star marks changes of the raster not yet saved.
  if (FRaster) caption += QStringLiteral(" - ") + FRaster->FileName() + (FModified ? "*" : "");
  setWindowTitle(caption);
  SetApplicationTitle(caption);
}

void TMainForm::ShowStatusText(int slot, const QString& text) {
  if (slot < 0 || slot >= static_cast<int>(FPanels.size())) return;
  FPanels[slot]->setText(text);
  if (FBusyCount > 0) {
    // The work runs on this thread: show the text now, not when the work is over.
    FPanels[slot]->repaint();
    KeepAlive(slot == TStatusInfo::OperationSlot && !text.isEmpty());
  }
}

QString TMainForm::ReadStatusText(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(FPanels.size())) return {};
  return FPanels[slot]->text();
}

void TMainForm::ClearStatus() {
  for (int slot = 0; slot < 4; ++slot) ShowStatusText(slot, QString());
  FStatusInfo->ClearSaved();
}

void TMainForm::KeepAlive(bool now) {
  // Now and then during long work: repaint what was exposed (from the edit window's surface) and
  // answer the window system, which would otherwise take the program for hung. Input waits.
  if (!now && FSinceAlive.isValid() && FSinceAlive.elapsed() < 50) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  FSinceAlive.start();
}

void TMainForm::EditWindowPaint(TDeviceInfo& device, TCanvas& canvas) {
  if (!FRaster) return;
  ResetCanvas(canvas);
  FRaster->Draw(device, canvas);
  TContourLease border;
  border->AddRect(TWorldRect{0, 0, double(FRaster->Width()), double(FRaster->Height())}, true);
  DrawWorldContour(device, canvas, *border, HollowFill,
                   MakeLineStyle(psSolid, FOptions->RasterBorderColor, pmCopy, 0, 0));
}

void TMainForm::EditWindowViewChange() {
  if (FUIContext) FUIContext->CanUndoZoom->SetValue(FNavigator->HasHistory());
  if (FOverviewDock) FOverviewDock->Overview().ViewChanged();
}

void TMainForm::RasterChanged() {
  FNavigator->SetLimits(
      FRaster ? std::optional(TWorldRect{0, 0, double(FRaster->Width()), double(FRaster->Height())})
              : std::nullopt);
  FOverviewDock->Overview().SetRaster(FRaster.get());
  UpdateCaption();
}

void TMainForm::HelpTopicMenuClick() {
  ShowHelpContents();
}

void TMainForm::AboutMenuClick() {
  ShowAboutBox(this);
}

void TMainForm::OptionsMenuClick() {
  if (FOptions->Edit(this)) FEditWindow->Invalidate();
}

void TMainForm::RegisterGridBindings() {
  FGridCanUndo = FUIContext->AddVar(QStringLiteral("GridCanUndo"));
  FGridCanRedo = FUIContext->AddVar(QStringLiteral("GridCanRedo"));
  FGridMissed = FUIContext->AddVar(QStringLiteral("GridMissed"));
  const auto find = [this](const char* name) { return findChild<QObject*>(QLatin1String(name)); };
  FUIContext->SetProps({"Enabled", find("UndoMenu")},
                       {"CalibratorInUse and GridCanUndo and not CalibrationInProgress"});
  FUIContext->SetProps({"Enabled", find("RedoMenu")},
                       {"CalibratorInUse and GridCanRedo and not CalibrationInProgress"});
  // The calibrator's menu items follow their buttons' conditions.
  FUIContext->SetProps({"Enabled", find("CalibrateParamsMenu"), find("CalibrateResetMenu"),
                        find("CalibrateBeginMenu"), find("FindNodesMenu"), find("FindNodesBtn"),
                        find("OpenGridMenu"), find("SaveGridMenu")},
                       {"CalibratorInUse and not CalibrationInProgress"});
  FUIContext->SetProps({"Enabled", find("ClipImageMenu")},
                       {"RasterOpened and not CalibrationInProgress and not ClipInProgress"});
  FUIContext->SetProps({"Enabled", find("ClipFrameMenu")},
                       {"CalibratorInUse and not CalibrationInProgress and not ClipInProgress"});
  FUIContext->SetProps({"Enabled", find("NextMissedNodeMenu")},
                       {"CalibratorInUse and (GridMissed > 0) and not CalibrationInProgress"});
  FUIContext->SetProps({"Enabled", find("ClipImageMenu")}, {"(CellXN = 1) and (CellYN = 1)"});
}

void TMainForm::RestoreLayout() {
  std::unique_ptr<QSettings> settings = UserSettings();
  settings->beginGroup(kLayoutGroup);
  const QByteArray geometry = settings->value(QStringLiteral("Geometry")).toByteArray();
  const QByteArray state = settings->value(QStringLiteral("State")).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  if (!state.isEmpty()) restoreState(state);
}

void TMainForm::SaveLayout() const {
  std::unique_ptr<QSettings> settings = UserSettings();
  settings->beginGroup(kLayoutGroup);
  settings->setValue(QStringLiteral("Geometry"), saveGeometry());
  settings->setValue(QStringLiteral("State"), saveState());
}
