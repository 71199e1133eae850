#pragma once
// The window "Невязки": the residuals of the orientation last computed, as a picture, a sortable
// table with the flagged points in red, a summary line and the CSV export. Modeless; the main
// window keeps one and refreshes it after every orientation.

#include <QWidget>
#include <optional>

#include "app/orientation_residuals.h"
#include "base/user_interface.h"

class QLabel;
class QPushButton;
class QTableView;

namespace zelv {

class ResidualPicture;
class ResidualsModel;

class ResidualsWindow : public QWidget {
  Q_OBJECT

 public:
  // `ui` is the user interface the CSV export talks through; `owner` the main window (the
  // window stays a separate top-level window with its own frame).
  ResidualsWindow(UserInterface& ui, QWidget* owner);

  // Shows the residuals of a result, or an empty window when there is none.
  void ShowReport(const std::optional<ResidualsReport>& report);
  const std::optional<ResidualsReport>& Report() const { return report_; }

  ResidualPicture* Picture = nullptr;
  // A view over the report's points: a cell's text is made only when it is shown, so a refresh
  // costs the same for ten points or a million.
  QTableView* Table = nullptr;
  QLabel* Summary = nullptr;
  QPushButton* SaveButton = nullptr;  // "Сохранить CSV..."

 public slots:
  // Selects the row of point `number` (from 1) and scrolls to it; 0 clears the selection.
  void SelectPoint(int number);
  // Saves the table as CSV: ';' between cells, the regional decimal separator, UTF-8, CR LF.
  void SaveButtonClick();

 signals:
  // A row was selected: its point number (0 when none is).
  void PointSelected(int number);

 protected:
  // Opens inside the screen's available area, shrunk to fit it.
  void showEvent(QShowEvent* event) override;

 private:
  void FillTable();
  Owner SelfOwner() { return Owner{static_cast<QWidget*>(this)}; }

  UserInterface& ui_;
  ResidualsModel* model_ = nullptr;
  int selectedNumber_ = 0;  // the point whose row is selected, 0 for none
  std::optional<ResidualsReport> report_;
};

}  // namespace zelv
