#pragma once
// "Найти шахматную мишень": the size of the chessboard target to look for on the photograph.

#include <QDialog>

class QDoubleSpinBox;
class QSpinBox;

namespace zelv {

class PhotoChessboardDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PhotoChessboardDialog(QWidget* parent = nullptr);

  QSpinBox* Columns = nullptr;           // inner corners along a row of squares
  QSpinBox* Rows = nullptr;              // inner corners across
  QDoubleSpinBox* SquareSize = nullptr;  // scene units
};

}  // namespace zelv
