#include "MainForms.h"

#include "AboutForms.h"
#include "BackgroundWorks.h"
#include "BmpFiles.h"
#include "Cursors.h"
#include "FileUtils.h"
#include "FormUtils.h"
#include "GdalFiles.h"
#include "GridCalibrator.h"
#include "GridNodesDocks.h"
#include "HtmlHelps.h"
#include "OverviewDocks.h"
#include "RasterFileDialogs.h"
#include "RasterMenus.h"
#include "RasterSnapshots.h"
#include "RecentFiles.h"
#include "ResVelmora.h"
#include "StatusPanels.h"
#include "StatusSpy.h"
#include "WhatsThis.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QSettings>
#include <QStackedLayout>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace {

// The window's first client size, below its menu bar.
constexpr QSize kFirstSize(738, 469);

const QString kLayoutGroup = QStringLiteral("MainWindow");

}  // namespace

TMainForm::TWorkScope::TWorkScope(TMainForm& form, const QString& name) : FForm(form) {
  FForm.FWorkName = name;
  // A drag of the grid in progress ends unapplied: the grid stays as the work found it.
  if (FForm.FCalibrator) FForm.FCalibrator->Cancel();
  // The raster's last picture stands in for it while the work holds it.
  if (FForm.FRaster && FForm.FEditWindow->isVisible()) {
    TEditWindow& window = *FForm.FEditWindow;
    FForm.FSnapshot = std::make_unique<TRasterSnapshot>(
        window.Device(), window.Surface().size(), window.Color(),
        [&form](TDeviceInfo& device, TCanvas& canvas) { form.PaintRaster(device, canvas); });
  }
  FForm.FUIContext->WorkInProgress->SetValue(1);
  FForm.FCancelWorkButton->show();
  QApplication::setOverrideCursor(Qt::BusyCursor);
}

TMainForm::TWorkScope::~TWorkScope() {
  QApplication::restoreOverrideCursor();
  FForm.FCancelWorkButton->hide();
  FForm.FUIContext->WorkInProgress->SetValue(0);
  FForm.FSnapshot.reset();
  FForm.FEditWindow->Invalidate();
  if (FForm.FCloseAfterWork) {
    FForm.FCloseAfterWork = false;
    // The flow that ran the work unwinds first.
    QMetaObject::invokeMethod(&FForm, &QWidget::close, Qt::QueuedConnection);
  }
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowIcon(ProgramIcon());
  menuBar()->setObjectName(QStringLiteral("MainMenu"));
  FEditWindow = new TEditWindow;
  FEditWindow->setObjectName(QStringLiteral("EditWindow"));
  auto* placeholder = new QLabel(QStringLiteral(
      "Откройте растр: «Файл» → «Открыть...» (Ctrl+O)\nили перетащите файл растра в это окно."));
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
  FStatusInfo = std::make_unique<TStatusInfo>(
      [this](int slot) { return ReadStatusText(slot); },
      [this](int slot, const QString& text) { ShowStatusText(slot, text); });
  FWork = new TBackgroundWork(*FStatusInfo, this);

  FProvider = std::make_unique<TLocalFileProvider>([this](const QString& filter, QString& name) {
    return RunOpenFileDialog(filter, name, this, QStringLiteral("Выбор растрового файла"));
  });
  RegisterBmpFormat(FProvider.get());
  RegisterGdalFormats(FProvider.get());
  FOptions = std::make_unique<TOptions>();
  FOptions->Load();
  // The open dialog starts where the user last opened or saved a file, in this run or before.
  if (const QString folder = LastFolder(); !folder.isEmpty())
    FOpenProposal = folder + QLatin1Char('/');
  FUIContext = std::make_unique<TAppUIContext>();

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
  RegisterWindowBindings();
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
  } catch (const ECancelled&) {
    // The user stopped the work: nothing to tell.
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
  FUndoMenu = AddMenuItem(tools, "UndoMenu", QStringLiteral("Отменит&ь изменение сетки"),
                          QKeySequence(Qt::CTRL | Qt::Key_Z), &TMainForm::UndoMenuClick, false,
                          "GridUndoBtn");
  FRedoMenu = AddMenuItem(tools, "RedoMenu", QStringLiteral("&Вернуть изменение сетки"),
                          QKeySequence(Qt::CTRL | Qt::Key_Y), &TMainForm::RedoMenuClick, false,
                          "GridRedoBtn");
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
  FStatusPanels = new TStatusPanels(bar);
  FCancelWorkButton = new QToolButton;
  FCancelWorkButton->setObjectName(QStringLiteral("CancelWorkBtn"));
  FCancelWorkButton->setText(QStringLiteral("Отменить"));
  FCancelWorkButton->setToolTip(QStringLiteral("Прервать работу (Esc)"));
  FCancelWorkButton->setAutoRaise(true);
  FCancelWorkButton->hide();
  connect(FCancelWorkButton, &QToolButton::clicked, this, &TMainForm::CancelWork);
  bar->addPermanentWidget(FCancelWorkButton);
  // Esc stops long work wherever the focus is in the window; otherwise it stays the tools' key.
  auto* cancel = new QAction(this);
  cancel->setObjectName(QStringLiteral("CancelWorkAction"));
  cancel->setShortcut(QKeySequence(Qt::Key_Escape));
  cancel->setEnabled(false);
  connect(cancel, &QAction::triggered, this, &TMainForm::CancelWork);
  addAction(cancel);
  // After the pointer's position, the node the keys move: "Узел (12, 7): 1812; 1190 px, ...".
  FNodePanel = new QLabel;
  FNodePanel->setObjectName(QStringLiteral("NodeStatusPanel"));
  FNodePanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  FNodePanel->setFrameShape(QFrame::StyledPanel);
  FNodePanel->setFrameShadow(QFrame::Sunken);
  bar->addWidget(FNodePanel, 1);
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
  FStatusPanels->Show(slot, text);
}

QString TMainForm::ReadStatusText(int slot) const {
  return FStatusPanels->Read(slot);
}

void TMainForm::ClearStatus() {
  for (int slot = 0; slot < TStatusPanels::Count; ++slot) ShowStatusText(slot, QString());
  FStatusInfo->ClearSaved();
}

void TMainForm::RunWork(const QString& name, const std::function<void()>& job) {
  TWorkScope scope(*this, name);
  FWork->Run(job);
}

bool TMainForm::WorkRunning() const {
  return FWork->Running();
}

void TMainForm::CancelWork() {
  FWork->Cancel();
}

void TMainForm::EditWindowPaint(TDeviceInfo& device, TCanvas& canvas) {
  if (!FRaster) return;
  ResetCanvas(canvas);
  // While long work holds the raster, its pixels are not read here; its size does not change.
  if (FSnapshot)
    FSnapshot->Draw(device, canvas);
  else
    FRaster->Draw(device, canvas);
  TContourLease border;
  border->AddRect(TWorldRect{0, 0, double(FRaster->Width()), double(FRaster->Height())}, true);
  DrawWorldContour(device, canvas, *border, HollowFill,
                   MakeLineStyle(psSolid, FOptions->RasterBorderColor, pmCopy, 0, 0));
}

void TMainForm::PaintRaster(TDeviceInfo& device, TCanvas& canvas) {
  ResetCanvas(canvas);
  FRaster->Draw(device, canvas);
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

void TMainForm::RegisterWindowBindings() {
  FGridCanUndo = FUIContext->AddVar(QStringLiteral("GridCanUndo"));
  FGridCanRedo = FUIContext->AddVar(QStringLiteral("GridCanRedo"));
  FGridMissed = FUIContext->AddVar(QStringLiteral("GridMissed"));
  const auto find = [this](const char* name) { return findChild<QObject*>(QLatin1String(name)); };
  FUIContext->SetProps(
      {"Enabled", find("UndoMenu")},
      {"CalibratorInUse and GridCanUndo and not CalibrationInProgress and not WorkInProgress"});
  FUIContext->SetProps(
      {"Enabled", find("RedoMenu")},
      {"CalibratorInUse and GridCanRedo and not CalibrationInProgress and not WorkInProgress"});
  // The calibrator's menu items follow their buttons' conditions.
  FUIContext->SetProps({"Enabled", find("CalibrateParamsMenu"), find("CalibrateResetMenu"),
                        find("CalibrateBeginMenu"), find("FindNodesMenu"), find("FindNodesBtn"),
                        find("OpenGridMenu"), find("SaveGridMenu")},
                       {"CalibratorInUse and not CalibrationInProgress and not WorkInProgress"});
  FUIContext->SetProps({"Enabled", find("ClipImageMenu")},
                       {"RasterOpened and not CalibrationInProgress and not ClipInProgress and not "
                        "WorkInProgress"});
  FUIContext->SetProps(
      {"Enabled", find("ClipFrameMenu")},
      {"CalibratorInUse and not CalibrationInProgress and not ClipInProgress and not "
       "WorkInProgress"});
  FUIContext->SetProps({"Enabled", find("NextMissedNodeMenu")},
                       {"CalibratorInUse and (GridMissed > 0) and not CalibrationInProgress and "
                        "not WorkInProgress"});
  FUIContext->SetProps({"Enabled", find("ClipImageMenu")}, {"(CellXN = 1) and (CellYN = 1)"});
  FUIContext->SetProps({"Enabled", find("CancelWorkAction"), find("CancelWorkBtn")},
                       {"WorkInProgress"});
  // The docks follow too: no node is typed in and no recent file opened, and the overview does not
  // read the raster while the work holds it.
  TUICondition* idle =
      FUIContext->SetProps({"Enabled", find("GridNodesTable")}, {"not WorkInProgress"});
  auto docks = std::make_unique<TUIConditionClient>();
  docks->OnApply = [this](int32_t idle) {
    FRecentFiles->SetEnabled(idle != 0);
    FOverviewDock->Overview().SetHeld(idle == 0);
  };
  idle->AddChanger(std::move(docks));
  // While long work runs, nothing may change or replace the raster or the grid. These conditions
  // come after the program's own over the same controls and include theirs, so that whichever
  // variable changes, the later word is the right one.
  FUIContext->SetProps({"Enabled", find("OpenMenu"), find("OpenBtn")}, {"not WorkInProgress"});
  FUIContext->SetProps({"Enabled", find("CloseMenu"), find("SaveMenu"), find("SaveBtn"),
                        find("SaveAsMenu"), find("PropertiesMenu")},
                       {"RasterOpened and not WorkInProgress"});
  FUIContext->SetProps(
      {"Enabled", find("CalibrateMenu"), find("CalibrateBtn"), find("ClipImageBtn")},
      {"RasterOpened and not CalibrationInProgress and not ClipInProgress and not "
       "WorkInProgress"});
  FUIContext->SetProps(
      {"Enabled", find("CalibrateParamsBtn"), find("CalibrateResetBtn"), find("CalibrateBeginBtn")},
      {"CalibratorInUse and not CalibrationInProgress and not WorkInProgress"});
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
