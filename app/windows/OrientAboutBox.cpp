#include "app/windows/OrientAboutBox.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "base/version.h"

namespace zelv {

TOrientAboutBox::TOrientAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("OrientAboutBox"));
  setWindowTitle(QStringLiteral("О программе"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border: the box cannot be resized

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->setContentsMargins(16, 16, 24, 16);
  panelLayout->setSpacing(20);

  auto* icon = new QLabel(panel);
  icon->setObjectName(QStringLiteral("ProgramIcon"));
  icon->setPixmap(QPixmap(QStringLiteral(":/zelv/zelv.png"))
                      .scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  panelLayout->addWidget(icon);

  auto* texts = new QVBoxLayout;
  auto* product = new QLabel(QStringLiteral("ZELV"), panel);
  product->setObjectName(QStringLiteral("ProductName"));
  QFont big = product->font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  product->setFont(big);
  auto* version = new QLabel(QStringLiteral("Version ") + QString::fromLatin1(kVersion), panel);
  version->setObjectName(QStringLiteral("Version"));
  texts->addStretch(1);
  texts->addWidget(product);
  texts->addWidget(version);
  texts->addStretch(1);
  panelLayout->addLayout(texts);
  layout->addWidget(panel);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  OKButton->setMinimumWidth(96);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TOrientAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* shown = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(shown->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace zelv
