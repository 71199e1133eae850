#pragma once
// The main window: the three input files, the orientation command, the 21 result fields, the
// save command, the estimate level, the settings dialog (Ctrl+J), help and the about box.
//
// The window holds no computation: it owns one OrientationState, lets the core's orientation
// session and result file work on it, and shows what they leave there.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/orientation_residuals.h"
#include "app/orientation_state.h"
#include "app/photo_overlay.h"
#include "app/result_file.h"
#include "app/windows/report_commands.h"
#include "base/user_interface.h"

class QAction;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPoint;
class QPushButton;
class QStatusBar;
class QTimer;
class QWidget;

namespace zelv {
class CalibrationWindow;
class HelpWindow;
class PhotoWindow;
class ResidualsWindow;
class TOrientAboutBox;
class TOrientNForm;
}  // namespace zelv

namespace zelv {

class TOrientation_Form : public QMainWindow {
  Q_OBJECT

 public:
  // `ui` is the user interface the core talks through; nullptr gives the window its own Qt one.
  explicit TOrientation_Form(UserInterface* ui = nullptr, QWidget* parent = nullptr);
  ~TOrientation_Form() override;

  // The whole state of an orientation, with its start-up values.
  OrientationState& State() { return state_; }
  const OrientationState& State() const { return state_; }
  UserInterface& Ui() { return *ui_; }

  // The settings dialog and the about box created at start-up; without them the window makes
  // its own when first needed.
  void SetDialogs(TOrientNForm* settings, TOrientAboutBox* about);
  TOrientNForm* SettingsDialog();
  TOrientAboutBox* AboutBox();
  HelpWindow* Help() const { return helpWindow_; }
  // The window "Калибровка камеры", once opened (nullptr before).
  CalibrationWindow* Calibration() const { return calibrationWindow_; }
  // The residuals window, once opened (nullptr before).
  ResidualsWindow* Residuals() const { return residualsWindow_; }
  // The report and the "Схема" window of the result shown.
  ReportCommands* Reports() const { return reportCommands_; }
  // The photograph workspace, once opened (nullptr before).
  PhotoWindow* Photo() const { return photoWindow_; }
  // Opens a photograph in the workspace; the input files found beside it (camera.cam, image.crd,
  // scene.crd, ...) fill the edits that are still empty.
  void OpenPhoto(const std::string& photoFile);

  // The debug group shown (ProcessingMode 3) or hidden, with the window's sizes for each.
  void ShowDebugGroup(bool show);

  // The status bar text as it stands.
  QString StatusText() const;

  // The 21 shown values as a table: one line per value, its name, a tab, its text.
  QString ResultsTable() const;

  // Start-up picture.
  QLabel* Image1 = nullptr;
  QWidget* Panel1 = nullptr;
  QTimer* Timer1 = nullptr;

  // Input files and the command.
  QLineEdit* Edit1 = nullptr;  // camera file
  QLineEdit* Edit6 = nullptr;  // image coordinate file
  QLineEdit* Edit4 = nullptr;  // scene coordinate file
  QPushButton* Button5 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QPushButton* Button2 = nullptr;  // "Счет"

  // The 21 result fields in ResultIndex order (Edit36 … Edit24) and the save button.
  std::array<QLineEdit*, kResultCount> ResultEdits{};
  QPushButton* Button1 = nullptr;  // "Сохранить"

  // The rigorous estimate's standard deviations, σ0, blunders and focal length; shown only with
  // a result of that level.
  QGroupBox* PrecisionGroup = nullptr;
  QLabel* PrecisionLabel = nullptr;

  // The camera values known beforehand, for the rigorous level: the projection centre X, Y, Z,
  // the image rotation c and the focal length F; each an empty value (free), a value (fixed) or a
  // value with its σ (weighted). Shown at the rigorous level only and taken into the state when
  // the command runs there; below it the state holds none.
  QGroupBox* KnownGroup = nullptr;
  std::array<QLineEdit*, 5> KnownValueEdits{};
  std::array<QLineEdit*, 5> KnownSigmaEdits{};

  QGroupBox* GroupBox3 = nullptr;
  std::array<QListWidget*, 4> ListBoxes{};  // ListBox1 … ListBox4
  QStatusBar* StatusBar1 = nullptr;

  // Menu items.
  QAction* N16 = nullptr;                // "Сохранить"
  QAction* N18 = nullptr;                // "Открыть снимок..."
  QAction* N5 = nullptr;                 // "Выход"
  QAction* N4 = nullptr;                 // "Быстрая оценка"
  QAction* N6 = nullptr;                 // "Оценка"
  QAction* N7 = nullptr;                 // "Точная оценка"
  QAction* N8 = nullptr;                 // "Строгая оценка"
  QAction* N10 = nullptr;                // "Ориентация"
  QAction* N17 = nullptr;                // "Невязки..."
  QAction* CalibrationAction = nullptr;  // "Калибровка камеры..."
  QAction* N12 = nullptr;                // "Справка"
  QAction* N13 = nullptr;                // "О программе"
  // "Копировать все результаты" (Ctrl+Shift+C), enabled while a result is shown.
  QAction* CopyResultsAction = nullptr;

 public slots:
  // The orientation command.
  void N10Click();
  void Button2Click();
  // Enables the command when all three file edits hold text.
  void Edit1Change();
  // The "..." pickers beside Edit1, Edit6 and Edit4.
  void Button5Click();
  void Button3Click();
  void Button4Click();
  // A name typed into an edit replaces the file name within the previous file's folder.
  void Edit1KeyUp();
  void Edit6KeyUp();
  void Edit4KeyUp();
  // Opens the edit's file in a data editor window.
  void Edit1DblClick();
  void Edit6DblClick();
  void Edit4DblClick();
  // The point mode's editor for a coordinate file; a point table is refused with a message.
  void OpenPointEditor(const std::string& name);
  // The save command.
  void Button1Click();
  void N16Click();
  // Estimate level: fast (0), normal (1), precise (3).
  void N4Click();
  void N6Click();
  void N7Click();
  void N8Click();
  void N5Click();
  void N12Click();
  void N13Click();
  // Opens the residuals window (one at a time, modeless) on the result shown.
  void N17Click();
  // Opens the camera calibration window (one at a time, modeless).
  void OpenCalibrationWindow();
  // Asks for a photograph and opens it in the workspace.
  void N18Click();
  // Switches from the start-up picture to the working panel (whichever comes first).
  void Timer1Timer();
  void Image1Click();
  // The open dialogs start in `folder` (empty: the current directory).
  void ResetDialogFolders(const std::string& folder);
  // Opens the settings dialog modally at (400, 300), filled from the state.
  void OpenSettingsDialog();
  // Puts ResultsTable on the clipboard.
  void CopyResults();

 signals:
  // The window has accepted its close: the application ends.
  void Closed();

 protected:
  // Enter runs the command, Ctrl+J opens the settings dialog; seen before the focused control
  // and not consumed.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The close question for an unsaved result.
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  QWidget* CreateInputGroup();
  QWidget* CreateResultGroup();
  QWidget* CreateDebugGroup();
  QWidget* CreateKnownGroup();
  // Takes the known-values fields into the state; false after a message when one does not read.
  bool TakeKnownValues();
  void ShowStatus(const std::string& text);
  // The context menu of a result field (`field`) or of the result group (nullptr).
  void ShowResultMenu(QLineEdit* field, const QPoint& globalPos);
  // Moves the window back onto its screen where it would leave it.
  void KeepOnScreen();
  // Copies the state's result texts and save state into the fields, the button and the menu.
  void ShowResults();
  void ShowPrecision();
  void ForgetResult();
  void ClearShownResults();
  SaveOutcome SaveResult();
  // Takes the residuals of a result just computed (`fresh`), or drops them when no result is
  // shown any more; enables N17 and refreshes the residuals window to match.
  void UpdateResiduals(bool fresh);
  // The residuals window and the workspace select the same point.
  void LinkPointSelection();
  // Runs a picker; on confirmation stores the path in `member` and the name in `edit`.
  void PickFile(bool camera, std::string& member, QLineEdit* edit);
  void TakeTypedName(QLineEdit* edit, std::string& member);
  void SetEstimateLevel(int level);
  void FormKeyDown(QKeyEvent* event);
  Owner SelfOwner() { return Owner{static_cast<QWidget*>(this)}; }

  OrientationState state_;
  std::unique_ptr<UserInterface> ownUi_;
  UserInterface* ui_ = nullptr;
  std::string camStartFolder_;  // CamOpenDialog's start folder
  std::string crdStartFolder_;  // OpenCrdDialog's start folder
  TOrientNForm* settingsDialog_ = nullptr;
  TOrientAboutBox* aboutBox_ = nullptr;
  HelpWindow* helpWindow_ = nullptr;
  ResidualsWindow* residualsWindow_ = nullptr;
  CalibrationWindow* calibrationWindow_ = nullptr;
  ReportCommands* reportCommands_ = nullptr;
  PhotoWindow* photoWindow_ = nullptr;
  // The residuals of the result shown as the workspace draws them on the photograph.
  std::optional<PhotoOverlay> overlay_;
  // The residuals of the result shown, taken right after it was computed: a later run that fails
  // while reading refills the point lists but leaves that result on show.
  std::optional<ResidualsReport> residuals_;
  QLabel* levelLabel_ = nullptr;  // the estimate level, under the "Счет" button
  bool centred_ = false;
  // The key press last seen by the filter, to recognise it again on its way up to the window.
  struct SeenKey {
    const QKeyEvent* event = nullptr;
    quint64 timestamp = 0;
    int key = 0;
    QPointer<QWidget> receiver;
  } lastKey_;
};

}  // namespace zelv
