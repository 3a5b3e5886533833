#pragma once

#include "AppUIContext.h"
#include "GridInfo.h"
#include "InEditors.h"
#include "Navigators.h"
#include "Options.h"
#include "RasterFiles.h"
#include "RasterManagers.h"
#include "StatusInfo.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QStackedLayout;
class QToolBar;
class QToolButton;
class TBackgroundWork;
class TEditWindowSpy;
class TGridCalibrator;
class TGridNodesDock;
class TOverviewDock;
class TRecentFiles;
class TRasterSnapshot;
class TStatusPanels;

// The answers of the closing and saving flows, numbered as the window system numbers them.
enum TModalResult : int { IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The program's window: it owns the raster file provider, the options, the state variables of the
// commands, the progress status and the open raster, hosts the edit window with its tools, and
// carries out the menu and toolbar commands. Commands never enable, check or press controls
// themselves: they set state variables, and the bindings do the rest.
//
// The commands are defined by group: the file commands in MainFormsFile.cpp, the view commands in
// MainFormsView.cpp, the calibrator's in MainFormsCalibrator.cpp.
class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // File commands.
  void OpenMenuClick();
  // The open flow after the file has been chosen (the dialog, a drop, the command line).
  void OpenRaster(const QString& fileName);
  void CloseMenuClick();
  void SaveMenuClick();
  void SaveAsMenuClick();
  void PropertiesMenuClick();
  void ExitMenuClick();
  // Closes the open raster, asking first to save it when it is modified. IDCANCEL when the user
  // cancelled, or when the changes could not be saved: the raster then stays open.
  int CloseRaster(bool ask, bool canCancel);
  // IDYES when saved; IDNO when the user cancelled the save dialog.
  int SaveRaster(bool saveAs);

  // View commands.
  void SelectMenuClick();
  void ScrollByHandMenuClick();
  void ZoomByRectMenuClick();
  void ZoomInMenuClick();
  void ZoomOutMenuClick();
  void ZoomOneInOneMenuClick();
  void ZoomAllMenuClick();
  void ZoomPrevMenuClick();
  void RefreshMenuClick();
  // The page metres per raster pixel at which the raster shows at its printed size.
  double OneToOneScale() const;

  // Calibrator commands (MainFormsCalibrator.cpp).
  void CalibrateMenuClick();
  void CalibrateParamsBtnClick();
  void CalibrateResetBtnClick();
  void CalibrateBeginBtnClick();
  void ClipImageBtnClick();
  void UndoMenuClick();
  void RedoMenuClick();
  void FindNodesMenuClick();
  // Selects the next node the search missed and shows it.
  void NextMissedNodeMenuClick();
  // Clips the raster to the frame of the whole grid.
  void ClipFrameMenuClick();
  void OpenGridMenuClick();
  void SaveGridMenuClick();

  void OptionsMenuClick();
  void HelpTopicMenuClick();
  void AboutMenuClick();

  void UpdateCaption();
  // The status bar: panels 0 and 1 the mouse's position, 2 and 3 the progress of long work. Long
  // work shows its progress from its own thread.
  void ShowStatusText(int slot, const QString& text);
  QString ReadStatusText(int slot) const;
  void ClearStatus();

  // Long work: runs the job on a thread of its own while the window stays alive, and raises its
  // error here. Meanwhile WorkInProgress disables whatever could change or replace the raster or
  // the grid, drops are refused, the window shows the raster's last picture, and Esc or the status
  // bar's "Отменить" stops the work. The name completes the question "Прервать …?" asked when the
  // window is closed meanwhile ("калибровку"). All the window's long work passes through here.
  virtual void RunWork(const QString& name, const std::function<void()>& job);
  bool WorkRunning() const;
  // Asks the long work to stop.
  void CancelWork();

  TRasterManager* Raster() const { return FRaster.get(); }
  bool Modified() const { return FModified; }
  bool NameConfirmed() const { return FNameConfirmed; }
  TEditWindow* EditWindow() const { return FEditWindow; }
  TMatrixProjectionNavigator* Navigator() const { return FNavigator; }
  TGridCalibrator* Calibrator() const { return FCalibrator; }
  TAppUIContext& UIContext() const { return *FUIContext; }
  TOptions& Options() const { return *FOptions; }
  TGridNodesDock* NodesDock() const { return FNodesDock; }
  TOverviewDock* OverviewDock() const { return FOverviewDock; }
  TRecentFiles* RecentFiles() const { return FRecentFiles; }
  QString OpenFileProposal() const { return FOpenProposal; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Sets the window up for long work and back when it ends, also when it fails.
  class TWorkScope {
   public:
    TWorkScope(TMainForm& form, const QString& name);
    ~TWorkScope();
    TWorkScope(const TWorkScope&) = delete;
    TWorkScope& operator=(const TWorkScope&) = delete;

   private:
    TMainForm& FForm;
  };

  // Detaches the calibrator when one is attached; its end clears CalibratorInUse.
  void CloseCalibrator();
  // Whether the grid may go: it has no changes, or the user agrees to lose them.
  bool ConfirmGridLoss();
  void GridHistoryChanged();
  // The raster's pixels, size or resolution changed, or another raster is shown.
  void RasterChanged();
  void ShowNodeProperties(int32_t i, int32_t j);
  // A clip of the calibrator, the view then centred on what is left at the same scale.
  void RunClip(void (TGridCalibrator::*clip)());
  QString GridFileProposal() const;
  // The window's own conditions: its grid commands, and what long work disables.
  void RegisterWindowBindings();
  void CreateCommands();
  void CreateStatusBar();
  // A menu item; with a glyph name it shows that button's glyph too.
  QAction* AddMenuItem(QMenu* menu, const char* name, const QString& caption,
                       const QKeySequence& shortcut, void (TMainForm::*handler)(),
                       bool checkable = false, const char* glyph = nullptr);
  QToolButton* AddButton(QToolBar* toolbar, const char* name, const QString& hint,
                         void (TMainForm::*handler)(), bool checkable = false);
  // Runs a command; an error is shown and the program goes on.
  void Run(void (TMainForm::*handler)());
  void ShowEditWindow(bool visible);
  void EditWindowPaint(TDeviceInfo& device, TCanvas& canvas);
  void PaintRaster(TDeviceInfo& device, TCanvas& canvas);
  void EditWindowViewChange();
  // Whether the window may be closed now; during long work it asks to stop the work and closes
  // once it has ended.
  bool MayCloseDuringWork();
  void RestoreLayout();
  void SaveLayout() const;

  std::unique_ptr<TLocalFileProvider> FProvider;
  std::unique_ptr<TOptions> FOptions;
  std::unique_ptr<TAppUIContext> FUIContext;
  std::unique_ptr<TStatusInfo> FStatusInfo;
  TStatusPanels* FStatusPanels = nullptr;
  QToolButton* FCancelWorkButton = nullptr;
  TBackgroundWork* FWork = nullptr;
  std::unique_ptr<TRasterSnapshot> FSnapshot;
  QString FWorkName;
  bool FCloseAfterWork = false;
  TMatrixProjectionNavigator* FNavigator = nullptr;
  std::unique_ptr<TRasterManager> FRaster;
  bool FModified = false;
  bool FNameConfirmed = false;
  // The raster's pixels stand where they stand in its file: no calibration or clip since it was
  // read from or saved to it. The world files beside that file still place it then.
  bool FPixelsAsFiled = false;
  // Held by the edit window alone; its end clears this.
  TGridCalibrator* FCalibrator = nullptr;
  // Whether the calibrator's grid edits can be undone and redone.
  TUIContextVar* FGridCanUndo = nullptr;
  TUIContextVar* FGridCanRedo = nullptr;
  // How many nodes the last search missed.
  TUIContextVar* FGridMissed = nullptr;
  QAction* FUndoMenu = nullptr;
  QAction* FRedoMenu = nullptr;
  bool FClosingDown = false;

  TEditWindow* FEditWindow = nullptr;
  QStackedLayout* FCentral = nullptr;
  QLabel* FNodePanel = nullptr;  // the selected or dragged node
  TGridNodesDock* FNodesDock = nullptr;
  TOverviewDock* FOverviewDock = nullptr;
  TRecentFiles* FRecentFiles = nullptr;
  QString FOpenProposal;  // the folder and name the open dialog proposes
  QString FGridProposal;  // and the grid file dialogs
  // The grid as last read from or written to a file: it is not lost when the calibrator goes.
  std::optional<TGridInfo> FFiledGrid;
};
