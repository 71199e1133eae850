#pragma once
// The about box: the program icon, its name and version.

#include <QDialog>

class QPushButton;

namespace zelv {

class TOrientAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TOrientAboutBox(QWidget* parent = nullptr);

  QPushButton* OKButton = nullptr;

 protected:
  // Centres the box on the screen each time it is shown.
  void showEvent(QShowEvent* event) override;
};

}  // namespace zelv
