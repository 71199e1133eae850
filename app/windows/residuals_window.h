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
  // Saves the table as CSV: ';' between cells, the regional decimal separator, UTF-8, CR LF.
  void SaveButtonClick();

 private:
  void FillTable();
  Owner SelfOwner() { return Owner{static_cast<QWidget*>(this)}; }

  UserInterface& ui_;
  ResidualsModel* model_ = nullptr;
  std::optional<ResidualsReport> report_;
};

}  // namespace zelv
