#pragma once
// The settings dialog: the processing mode, three computation parameters and the refinement's
// first approximations and offsets, shown in degrees and percent and written back into the main
// window's state.

#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace zelv {

class TOrientation_Form;

class TOrientNForm : public QDialog {
  Q_OBJECT

 public:
  // The dialog edits the state of `mainWindow`, which also owns it.
  explicit TOrientNForm(TOrientation_Form& mainWindow);

  // Fills every control from the main window's state (degrees, percent, general number text).
  void FillFromState();

  // The selected item of "Режим обработки": 0 "Обычный", 1 "Отладочный", -1 none.
  int RadioGroup1ItemIndex() const;
  void SetRadioGroup1ItemIndex(int index);

  QTabWidget* PageControl1 = nullptr;
  QWidget* ComputationPage = nullptr;  // "Параметры счёта"
  QWidget* RefinementPage = nullptr;   // "Параметры уточнения"

  QGroupBox* RadioGroup1 = nullptr;
  std::array<QRadioButton*, 2> RadioGroup1Items{};
  QLineEdit* Edit1 = nullptr;  // SigmaCount
  QLineEdit* Edit2 = nullptr;  // MinAngle, degrees
  QLineEdit* Edit3 = nullptr;  // MinDistanceFraction, percent

  QLineEdit* AlFirstValueEdit = nullptr;
  QLineEdit* AlStartEdit = nullptr;
  QLineEdit* AlMinEdit = nullptr;
  QLineEdit* BetFirstValueEdit = nullptr;
  QLineEdit* BetStartEdit = nullptr;
  QLineEdit* BetMinEdit = nullptr;
  QLineEdit* HiFirstValueEdit = nullptr;
  QLineEdit* HiStartEdit = nullptr;
  QLineEdit* HiMinEdit = nullptr;
  QLineEdit* LFirstValueEdit = nullptr;
  QLineEdit* LStartEdit = nullptr;
  QLineEdit* LMinEdit = nullptr;

  QCheckBox* HiCheckBox = nullptr;           // "Изменять"
  QCheckBox* FirstValuesCheckBox = nullptr;  // "Нач. приближение"
  QCheckBox* CheckBox2 = nullptr;            // "Вести лог"

  QPushButton* Button1 = nullptr;  // "OK"
  QPushButton* Button2 = nullptr;  // "Отмена"

 public slots:
  // The first-approximation edits and "Изменять" follow "Нач. приближение".
  void FirstValuesCheckBoxClick();
  // Takes the values over step by step; at the first text that does not convert, reports it
  // and keeps the dialog open with the earlier steps stored.
  void Button1Click();
  void Button2Click();

 protected:
  // Opens inside the screen's available area, shrunk to fit it.
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* CreateComputationPage();
  QWidget* CreateRefinementPage();
  // Performs the steps of taking over; false at the first refused text.
  bool TakeValuesOver();

  TOrientation_Form& mainWindow_;
};

}  // namespace zelv
