#include "app/windows/Orientparamform.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "app/windows/Orient_form.h"
#include "app/windows/screen_fit.h"
#include "base/angles.h"
#include "base/number_text.h"

namespace zelv {
namespace {

std::optional<double> Finite(std::optional<double> value) {
  if (value && !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<double> Number(const QLineEdit* edit) {
  return Finite(ParseNumber(edit->text().toStdString()));
}

std::optional<double> Radians(const QLineEdit* edit) {
  const std::optional<double> degrees = Number(edit);
  if (!degrees) return std::nullopt;
  return Finite(ToRadians(*degrees));
}

std::optional<double> Fraction(const QLineEdit* edit) {
  const std::optional<double> percent = Number(edit);
  if (!percent) return std::nullopt;
  return Finite(*percent * 0.01);
}

// A final offset is the step at which the refinement stops; zero or less would never stop it.
std::optional<double> Positive(std::optional<double> value) {
  if (value && !(*value > 0)) return std::nullopt;
  return value;
}

bool Store(std::optional<double> value, double& target) {
  if (!value) return false;
  target = *value;
  return true;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setMinimumWidth(110);
  return edit;
}

}  // namespace

TOrientNForm::TOrientNForm(TOrientation_Form& mainWindow)
    : QDialog(&mainWindow), mainWindow_(mainWindow) {
  setObjectName(QStringLiteral("OrientNForm"));
  setWindowTitle(QStringLiteral("Настройки"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  ComputationPage = CreateComputationPage();
  RefinementPage = CreateRefinementPage();
  PageControl1->addTab(ComputationPage, QStringLiteral("Параметры счёта"));
  PageControl1->addTab(RefinementPage, QStringLiteral("Параметры уточнения"));
  PageControl1->setCurrentWidget(RefinementPage);
  // As large as the pages ask where the screen has room; on a small or strongly scaled screen
  // the dialog is shrunk to fit it and the pages scroll rather than cut their labels short.
  auto* scroller = new QScrollArea(this);
  scroller->setObjectName(QStringLiteral("PagesScroller"));
  scroller->setFrameShape(QFrame::NoFrame);
  scroller->setWidgetResizable(true);
  scroller->setWidget(PageControl1);
  layout->addWidget(scroller);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Отмена"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  for (QPushButton* button : {Button1, Button2}) button->setMinimumWidth(96);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, &TOrientNForm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TOrientNForm::Button2Click);

  FirstValuesCheckBoxClick();
}

QWidget* TOrientNForm::CreateComputationPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet1"));
  auto* layout = new QVBoxLayout(page);

  RadioGroup1 = new QGroupBox(QStringLiteral("Режим обработки"), page);
  RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
  auto* columns = new QHBoxLayout(RadioGroup1);
  auto* group = new QButtonGroup(RadioGroup1);
  const char* const items[2] = {"Обычный", "Отладочный"};
  for (int i = 0; i < 2; ++i) {
    auto* item = new QRadioButton(QString::fromUtf8(items[i]), RadioGroup1);
    item->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
    group->addButton(item, i);
    columns->addWidget(item, 1);
    RadioGroup1Items[static_cast<std::size_t>(i)] = item;
  }
  layout->addWidget(RadioGroup1);

  auto* grid = new QGridLayout;
  grid->setVerticalSpacing(10);
  auto row = [&](int index, const QString& text, QLineEdit*& edit, const char* name) {
    auto* label = new QLabel(text, page);
    edit = MakeEdit(page, name);
    label->setBuddy(edit);
    grid->addWidget(label, index, 0);
    grid->addWidget(edit, index, 1, Qt::AlignBottom);
  };
  row(0, QStringLiteral("Количество σ, отсекаемых при анализе распределений:"), Edit1, "Edit1");
  row(1,
      QStringLiteral("Минимальный угол между двумя произвольными прямыми,\n"
                     "образуемыми реперными точками(град):"),
      Edit2, "Edit2");
  row(2,
      QStringLiteral("Минимальная дистанция между реперными точками на\n"
                     "изображении (в процентах от диагонали изображения):"),
      Edit3, "Edit3");
  grid->setColumnStretch(0, 1);
  layout->addLayout(grid);
  layout->addStretch(1);
  return page;
}

QWidget* TOrientNForm::CreateRefinementPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* layout = new QVBoxLayout(page);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);

  const char* const headings[3] = {"Начальное приближение", "Начальное смещение",
                                   "Конечное смещение"};
  for (int column = 0; column < 3; ++column) {
    auto* heading = new QLabel(QString::fromUtf8(headings[column]), page);
    heading->setAlignment(Qt::AlignCenter);
    grid->addWidget(heading, 0, column + 1);
  }
  auto row = [&](int index, const QString& label, std::array<QLineEdit**, 3> edits,
                 std::array<const char*, 3> names) {
    grid->addWidget(new QLabel(label, page), index, 0);
    for (std::size_t column = 0; column < 3; ++column) {
      *edits[column] = MakeEdit(page, names[column]);
      grid->addWidget(*edits[column], index, static_cast<int>(column) + 1);
    }
  };
  row(1, QStringLiteral("Поворот вокруг поперечной оси (град.)"),
      {&AlFirstValueEdit, &AlStartEdit, &AlMinEdit},
      {"AlFirstValueEdit", "AlStartEdit", "AlMinEdit"});
  row(2, QStringLiteral("Поворот вокруг орбитальной оси (град.)"),
      {&BetFirstValueEdit, &BetStartEdit, &BetMinEdit},
      {"BetFirstValueEdit", "BetStartEdit", "BetMinEdit"});
  row(3, QStringLiteral("Поворот вокруг оптической оси (град.)"),
      {&HiFirstValueEdit, &HiStartEdit, &HiMinEdit},
      {"HiFirstValueEdit", "HiStartEdit", "HiMinEdit"});
  HiCheckBox = new QCheckBox(QStringLiteral("Изменять"), page);
  HiCheckBox->setObjectName(QStringLiteral("HiCheckBox"));
  grid->addWidget(HiCheckBox, 4, 1);
  row(5, QStringLiteral("Расстояние и его шаг в %"), {&LFirstValueEdit, &LStartEdit, &LMinEdit},
      {"LFirstValueEdit", "LStartEdit", "LMinEdit"});
  layout->addLayout(grid);
  layout->addStretch(1);

  auto* line = new QFrame(page);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);
  auto* bar = new QHBoxLayout;
  FirstValuesCheckBox = new QCheckBox(QStringLiteral("Нач. приближение"), page);
  FirstValuesCheckBox->setObjectName(QStringLiteral("FirstValuesCheckBox"));
  CheckBox2 = new QCheckBox(QStringLiteral("Вести лог"), page);
  CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
  bar->addWidget(FirstValuesCheckBox);
  bar->addSpacing(24);
  bar->addWidget(CheckBox2);
  bar->addStretch(1);
  layout->addLayout(bar);

  connect(FirstValuesCheckBox, &QCheckBox::toggled, this, &TOrientNForm::FirstValuesCheckBoxClick);
  connect(HiCheckBox, &QCheckBox::toggled, this, &TOrientNForm::FirstValuesCheckBoxClick);
  return page;
}

int TOrientNForm::RadioGroup1ItemIndex() const {
  for (std::size_t i = 0; i < RadioGroup1Items.size(); ++i)
    if (RadioGroup1Items[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void TOrientNForm::SetRadioGroup1ItemIndex(int index) {
  if (index >= 0 && index < static_cast<int>(RadioGroup1Items.size()))
    RadioGroup1Items[static_cast<std::size_t>(index)]->setChecked(true);
}

void TOrientNForm::FillFromState() {
  const OrientationState& state = mainWindow_.State();
  const RefinementSettings& settings = state.Settings;
  const char separator = state.DecimalSeparator;
  auto show = [separator](QLineEdit* edit, double value) {
    edit->setText(QString::fromStdString(FormatGeneral(value, separator)));
  };
  SetRadioGroup1ItemIndex(state.ProcessingMode / 2);
  show(Edit1, state.SigmaCount);
  show(Edit2, ToDegrees(state.MinAngle));
  show(Edit3, state.MinDistanceFraction * 100);

  show(AlFirstValueEdit, ToDegrees(settings.AlFirstValue));
  show(AlStartEdit, ToDegrees(settings.AlStart));
  show(AlMinEdit, ToDegrees(settings.AlMin));
  show(BetFirstValueEdit, ToDegrees(settings.BetFirstValue));
  show(BetStartEdit, ToDegrees(settings.BetStart));
  show(BetMinEdit, ToDegrees(settings.BetMin));
  show(HiFirstValueEdit, ToDegrees(settings.HiFirstValue));
  show(HiStartEdit, ToDegrees(settings.HiStart));
  show(HiMinEdit, ToDegrees(settings.HiMin));
  show(LFirstValueEdit, settings.LFirstValue);
  show(LStartEdit, settings.LStart);
  show(LMinEdit, settings.LMin);

  HiCheckBox->setChecked(settings.VaryHi);
  CheckBox2->setChecked(settings.KeepLog);
  FirstValuesCheckBox->setChecked(settings.UseFirstValues);
  FirstValuesCheckBoxClick();
}

void TOrientNForm::FirstValuesCheckBoxClick() {
  const bool enabled = FirstValuesCheckBox->isChecked();
  for (QWidget* control : std::initializer_list<QWidget*>{
           AlFirstValueEdit, BetFirstValueEdit, HiFirstValueEdit, LFirstValueEdit, HiCheckBox})
    control->setEnabled(enabled);
}

bool TOrientNForm::TakeValuesOver() {
  OrientationState& state = mainWindow_.State();
  RefinementSettings& settings = state.Settings;

  if (!Store(Number(Edit1), state.SigmaCount)) return false;
  if (!Store(Radians(Edit2), state.MinAngle)) return false;
  if (!Store(Fraction(Edit3), state.MinDistanceFraction)) return false;
  if (!Store(Radians(AlStartEdit), settings.AlStart)) return false;
  if (!Store(Positive(Radians(AlMinEdit)), settings.AlMin)) return false;
  if (!Store(Radians(BetStartEdit), settings.BetStart)) return false;
  if (!Store(Positive(Radians(BetMinEdit)), settings.BetMin)) return false;
  if (!Store(Radians(HiStartEdit), settings.HiStart)) return false;
  if (!Store(Positive(Radians(HiMinEdit)), settings.HiMin)) return false;
  if (!Store(Number(LStartEdit), settings.LStart)) return false;
  if (!Store(Positive(Number(LMinEdit)), settings.LMin)) return false;

  settings.KeepLog = CheckBox2->isChecked();
  settings.UseFirstValues = FirstValuesCheckBox->isChecked();
  settings.VaryHi = HiCheckBox->isChecked();

  if (settings.UseFirstValues) {
    if (!Store(Radians(AlFirstValueEdit), settings.AlFirstValue)) return false;
    if (!Store(Radians(BetFirstValueEdit), settings.BetFirstValue)) return false;
    if (!Store(Radians(HiFirstValueEdit), settings.HiFirstValue)) return false;
    if (!Store(Number(LFirstValueEdit), settings.LFirstValue)) return false;
  }

  switch (RadioGroup1ItemIndex()) {
    case 1:
      state.ProcessingMode = 3;
      mainWindow_.ShowDebugGroup(true);
      break;
    case 0:
      state.ProcessingMode = 1;
      mainWindow_.ShowDebugGroup(false);
      break;
    default:
      break;
  }
  return true;
}

void TOrientNForm::Button1Click() {
  if (!TakeValuesOver()) {
    mainWindow_.Ui().ShowMessage("Параметры заданы неправильно!", "Ошибка!", MessageIcon::None,
                                 Owner{static_cast<QWidget*>(this)});
    return;
  }
  accept();
}

void TOrientNForm::Button2Click() { reject(); }

void TOrientNForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The scroll area asks for less than the pages need; the dialog opens at the pages' full size,
  // then fits the screen.
  if (const auto* scroller = findChild<QScrollArea*>(QStringLiteral("PagesScroller")))
    resize(sizeHint() + (PageControl1->sizeHint() - scroller->sizeHint()).expandedTo({0, 0}));
  FitToScreen(this);
}

}  // namespace zelv
