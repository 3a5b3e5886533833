#pragma once

#include "AppUIContext.h"
#include "GridInfo.h"
#include "InEditors.h"
#include "Navigators.h"
#include "Options.h"
#include "RasterFiles.h"
#include "RasterManagers.h"
#include "StatusInfo.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <array>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QStackedLayout;
class QToolBar;
class QToolButton;
class TEditWindowSpy;
class TGridCalibrator;
class TGridNodesDock;
class TOverviewDock;
class TRecentFiles;

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
  // The status bar: panels 0 and 1 the mouse's position, 2 and 3 the progress of long work.
  void ShowStatusText(int slot, const QString& text);
  QString ReadStatusText(int slot) const;
  void ClearStatus();

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
  void dropEvent(QDropEvent* event) override;

 private:
  // Long work on the user-interface thread: the status bar shows its progress, the window
  // repaints from what it showed, the window system keeps seeing a live program, and the user's
  // input waits until the work ends.
  class TBusy {
   public:
    explicit TBusy(TMainForm& form);
    ~TBusy();
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

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
  void RegisterGridBindings();
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
  void EditWindowViewChange();
  // Lets the event loop turn: at once for a new operation's name, else at most every 50 ms.
  void KeepAlive(bool now);
  void RestoreLayout();
  void SaveLayout() const;

  std::unique_ptr<TLocalFileProvider> FProvider;
  std::unique_ptr<TOptions> FOptions;
  std::unique_ptr<TAppUIContext> FUIContext;
  std::unique_ptr<TStatusInfo> FStatusInfo;
  TMatrixProjectionNavigator* FNavigator = nullptr;
  std::unique_ptr<TRasterManager> FRaster;
  bool FModified = false;
  bool FNameConfirmed = false;
  // Held by the edit window alone; its end clears this.
  TGridCalibrator* FCalibrator = nullptr;
  // Whether the calibrator's grid edits can be undone and redone.
  TUIContextVar* FGridCanUndo = nullptr;
  TUIContextVar* FGridCanRedo = nullptr;
  // How many nodes the last search missed.
  TUIContextVar* FGridMissed = nullptr;
  bool FClosingDown = false;

  TEditWindow* FEditWindow = nullptr;
  QStackedLayout* FCentral = nullptr;
  std::array<QLabel*, 4> FPanels{};
  QLabel* FNodePanel = nullptr;  // the selected or dragged node
  TGridNodesDock* FNodesDock = nullptr;
  TOverviewDock* FOverviewDock = nullptr;
  TRecentFiles* FRecentFiles = nullptr;
  QString FOpenProposal;  // the folder and name the open dialog proposes
  QString FGridProposal;  // and the grid file dialogs
  // The grid as last read from or written to a file: it is not lost when the calibrator goes.
  std::optional<TGridInfo> FFiledGrid;
  int FBusyCount = 0;
  QElapsedTimer FSinceAlive;
};
