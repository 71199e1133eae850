#pragma once
// The window "Калибровка камеры": photographs of a target, the target file and the lens model in;
// the views with their corners and RMS, each of which can be dropped; the selected photograph with
// its corners and magnified residual vectors, the projection uncertainty or the coverage drawn
// over it; the intrinsics with their σ and the judgement of the calibration as text; saving as an
// OpenCV calibration, a COLMAP camera list or a ZELV camera file. The work runs on a thread of
// its own, with its progress and a stop button, so the window never freezes. Modeless.

#include <QWidget>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "base/user_interface.h"
#include "calibration/calibration_run.h"
#include "calibration/calibration_views.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;

namespace zelv {

class CalibrationPicture;

class CalibrationWindow : public QWidget {
  Q_OBJECT

 public:
  // `ui` is the user interface the window talks through (messages, the target and save
  // dialogs); `owner` the main window (the window stays a separate top-level window).
  CalibrationWindow(UserInterface& ui, QWidget* owner = nullptr);
  ~CalibrationWindow() override;

  // Adds photographs to the list (a photograph already listed is not added twice).
  void AddPhotographs(const std::vector<std::string>& paths);
  void SetTargetFile(const std::string& path);
  // Whether the view of row `row` takes part in the calibration (its check box).
  void SetViewUsed(int row, bool used);
  bool Running() const { return thread_ != nullptr; }

  // The last calibration (nothing before the first or after the views changed).
  const std::optional<CalibrationRun>& Result() const { return run_; }

  QPushButton* AddButton = nullptr;     // "Добавить снимки..."
  QPushButton* RemoveButton = nullptr;  // "Убрать снимок"
  QLineEdit* TargetEdit = nullptr;
  QPushButton* TargetButton = nullptr;  // "Мишень..."
  QComboBox* ModelBox = nullptr;
  QCheckBox* CrossValidateBox = nullptr;
  QPushButton* RunButton = nullptr;   // "Рассчитать"
  QPushButton* StopButton = nullptr;  // "Остановить"
  QPushButton* SaveButton = nullptr;  // "Сохранить..."
  QProgressBar* Progress = nullptr;
  QTableWidget* ViewTable = nullptr;  // name, corners, RMS; the check box drops a view
  QComboBox* OverlayBox = nullptr;    // nothing, the uncertainty map or the coverage map
  CalibrationPicture* Picture = nullptr;
  QPlainTextEdit* ResultText = nullptr;

 public slots:
  void AddButtonClick();
  void RemoveButtonClick();
  void TargetButtonClick();
  // Starts the work in the background: finds the target on photographs not yet searched, then
  // calibrates from the views whose check box is on.
  void RunButtonClick();
  void StopButtonClick();
  // Asks for a file and writes the camera in the form its name says: .yml/.yaml/.xml/.json an
  // OpenCV calibration, .txt a COLMAP camera list, .cam a ZELV camera file with its table.
  void SaveButtonClick();

 signals:
  // The background work is over (done, stopped or failed) and its outcome shown.
  void RunFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // One row of the list: a photograph, and once the target was searched for, its view or the
  // reason it has none.
  struct Photograph {
    std::string path;
    bool used = true;
    bool searched = false;
    std::optional<CalibrationView> view;
    std::string skipReason;
  };
  // What the background work gives back to the window's thread.
  struct Outcome {
    std::optional<Failure> failure;
    std::vector<Photograph> searched;  // the photographs as searched (all rows)
    int imageWidth = 0, imageHeight = 0;
    std::vector<int> rows;  // the row of each view calibrated, as the calibration's views
    std::optional<CalibrationRun> run;
  };

  void BuildLayout();
  void FillTable();
  void ShowSelected();
  void ShowResultText();
  void SetRunning(bool running);
  void WorkDone();
  void Invalidate();
  Owner SelfOwner() { return Owner{static_cast<QWidget*>(this)}; }

  UserInterface& ui_;
  std::vector<Photograph> photographs_;
  std::string searchedTarget_;  // the target file the searched photographs were searched for
  int imageWidth_ = 0, imageHeight_ = 0;
  std::optional<CalibrationRun> run_;
  std::vector<int> runRows_;  // the row of each of the run's views
  CalibrationModel runModel_ = CalibrationModel::kPinhole5;

  QThread* thread_ = nullptr;
  std::atomic<bool> stop_{false};
  Outcome outcome_;  // written by the thread, read after it finished
};

}  // namespace zelv
