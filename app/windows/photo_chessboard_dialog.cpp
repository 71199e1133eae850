#include "app/windows/photo_chessboard_dialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zelv {

PhotoChessboardDialog::PhotoChessboardDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PhotoChessboardDialog"));
  setWindowTitle(QStringLiteral("Шахматная мишень"));
  auto* hint = new QLabel(QStringLiteral(
      "Укажите число внутренних углов мишени (где сходятся четыре клетки) по горизонтали и по "
      "вертикали и размер стороны клетки в единицах координат сцены."));
  hint->setWordWrap(true);
  Columns = new QSpinBox;
  Columns->setObjectName(QStringLiteral("ChessboardColumns"));
  Columns->setRange(2, 99);
  Columns->setValue(9);
  Rows = new QSpinBox;
  Rows->setObjectName(QStringLiteral("ChessboardRows"));
  Rows->setRange(2, 99);
  Rows->setValue(6);
  SquareSize = new QDoubleSpinBox;
  SquareSize->setObjectName(QStringLiteral("ChessboardSquareSize"));
  SquareSize->setDecimals(4);
  SquareSize->setRange(0.0001, 1e6);
  SquareSize->setValue(1);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Углов по горизонтали:"), Columns);
  form->addRow(QStringLiteral("Углов по вертикали:"), Rows);
  form->addRow(QStringLiteral("Сторона клетки:"), SquareSize);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Найти"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(hint);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

}  // namespace zelv
