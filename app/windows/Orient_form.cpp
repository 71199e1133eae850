#include "app/windows/Orient_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/orientation_session.h"
#include "app/photo_points.h"
#include "app/result_file.h"
#include "app/windows/Edit.h"
#include "app/windows/OrientAboutBox.h"
#include "app/windows/Orientparamform.h"
#include "app/windows/calibration_window.h"
#include "app/windows/help_window.h"
#include "app/windows/jpeg_picture.h"
#include "app/windows/photo_window.h"
#include "app/windows/qt_user_interface.h"
#include "app/windows/residuals_window.h"
#include "app/windows/screen_fit.h"
#include "base/number_text.h"
#include "files/calibration_file.h"
#include "files/point_table.h"

// The pictures live in the windows' static library; naming the resource here keeps the linker
// from dropping them. Q_INIT_RESOURCE must be used outside any namespace.
static void InitZelvResources() { Q_INIT_RESOURCE(zelv); }

namespace zelv {
namespace {

constexpr int kMinimumWidth = 720;   // pixels
constexpr int kMinimumHeight = 545;  // pixels, without the debug group
constexpr int kStartUpPictureMs = 4000;

// The part of a path after its last folder separator (the whole path when it has none).
QString FileNamePart(const std::string& path) {
  const auto slash = path.rfind('/');
  return QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
}

// `name` as an absolute path: a relative one is taken in the current directory as it is now, so
// that a later change of the current directory (every confirmed open dialog makes one) cannot
// make the name point at a file elsewhere.
std::string AbsolutePath(const std::string& name) {
  if (name.empty()) return name;
  return QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(name)))
      .toStdString();
}

// The text of a file edit the window last set or took itself; a key that leaves the text as it
// was (an arrow, Tab, a modifier) takes nothing again.
constexpr char kTakenText[] = "zelvTakenText";

// Shows the file `path` in its edit: the file's name, with the whole path in the tooltip.
void ShowFileField(QLineEdit* edit, const std::string& path) {
  const QString name = FileNamePart(path);
  edit->setProperty(kTakenText, name);
  edit->setToolTip(QString::fromStdString(path));
  edit->setText(name);
}

// The Cyrillic letter on the key that carries J in the Russian keyboard layout, so Ctrl+J works
// whichever of the two layouts is active.
constexpr int kKeyCyrillicO = 0x041E;

}  // namespace

TOrientation_Form::TOrientation_Form(UserInterface* ui, QWidget* parent) : QMainWindow(parent) {
  InitZelvResources();
  if (ui == nullptr) {
    auto qtUi =
        std::make_unique<QtUserInterface>([this](const std::string& text) { ShowStatus(text); });
    qtUi->SetHomeWindow(this);
    ownUi_ = std::move(qtUi);
    ui = ownUi_.get();
  }
  ui_ = ui;

  setWindowTitle(QStringLiteral("Вычисление параметров внешней ориентации съемки"));
  setWindowIcon(QIcon(QStringLiteral(":/zelv/zelv.png")));

  CreateActions();
  CreateMenus();

  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  centralLayout->setSpacing(0);

  // The picture is decoded once; stretched over the client area, it must not dictate its size.
  Image1 = new QLabel(central);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setScaledContents(true);
  Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  Image1->setCursor(Qt::PointingHandCursor);
  QFile picture(QStringLiteral(":/zelv/startup.jpg"));
  if (picture.open(QIODevice::ReadOnly)) {
    const QImage image = DecodeJpeg(picture.readAll());
    if (!image.isNull()) Image1->setPixmap(QPixmap::fromImage(image));
  }
  centralLayout->addWidget(Image1);

  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto* panelLayout = new QVBoxLayout(Panel1);
  panelLayout->setContentsMargins(8, 6, 8, 0);
  panelLayout->setSpacing(6);
  panelLayout->addWidget(CreateInputGroup());
  panelLayout->addWidget(CreateResultGroup());
  panelLayout->addWidget(CreateKnownGroup());
  PrecisionGroup = new QGroupBox(QStringLiteral("Точность (строгая оценка)"), Panel1);
  PrecisionGroup->setObjectName(QStringLiteral("PrecisionGroup"));
  auto* precisionLayout = new QVBoxLayout(PrecisionGroup);
  PrecisionLabel = new QLabel(PrecisionGroup);
  PrecisionLabel->setObjectName(QStringLiteral("PrecisionLabel"));
  PrecisionLabel->setWordWrap(true);
  PrecisionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  precisionLayout->addWidget(PrecisionLabel);
  PrecisionGroup->hide();
  panelLayout->addWidget(PrecisionGroup);
  panelLayout->addWidget(CreateDebugGroup(), 1);
  panelLayout->addStretch(0);
  StatusBar1 = new QStatusBar(Panel1);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  panelLayout->addWidget(StatusBar1);
  centralLayout->addWidget(Panel1);
  // On a small or strongly scaled screen the window is shrunk to fit it, and the panel scrolls.
  auto* scroller = new QScrollArea(this);
  scroller->setObjectName(QStringLiteral("PanelScroller"));
  scroller->setFrameShape(QFrame::NoFrame);
  scroller->setWidgetResizable(true);
  scroller->setWidget(central);
  setCentralWidget(scroller);

  state_.StartDirectory = QDir::currentPath().toStdString();
  ResetDialogFolders(state_.StartDirectory);

  N10->setEnabled(false);
  Button2->setEnabled(false);
  levelLabel_->setText(N4->text());
  Edit1Change();
  GroupBox3->hide();
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  resize(650, kMinimumHeight);

  Panel1->hide();
  Image1->show();
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kStartUpPictureMs);
  // A coarse timer may fire up to 5 % early; the picture stays its full four seconds.
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &TOrientation_Form::Timer1Timer);
  Timer1->start();

  // Keys reach the window before the focused control; the edits' key releases and double
  // clicks and the picture's click are seen here too.
  qApp->installEventFilter(this);
}

TOrientation_Form::~TOrientation_Form() = default;

void TOrientation_Form::CreateActions() {
  auto make = [this](const char* name, const QString& text) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  N16 = make("N16", QStringLiteral("Сохранить"));
  N16->setEnabled(false);
  connect(N16, &QAction::triggered, this, &TOrientation_Form::N16Click);
  N18 = make("N18", QStringLiteral("Открыть снимок..."));
  connect(N18, &QAction::triggered, this, &TOrientation_Form::N18Click);
  N5 = make("N5", QStringLiteral("Выход"));
  connect(N5, &QAction::triggered, this, &TOrientation_Form::N5Click);

  N4 = make("N4", QStringLiteral("Быстрая оценка"));
  N6 = make("N6", QStringLiteral("Оценка"));
  N7 = make("N7", QStringLiteral("Точная оценка"));
  N8 = make("N8", QStringLiteral("Строгая оценка"));
  // One level at a time: radio items.
  auto* levels = new QActionGroup(this);
  levels->setExclusive(true);
  for (QAction* level : {N4, N6, N7, N8}) {
    level->setCheckable(true);
    levels->addAction(level);
  }
  N4->setChecked(true);
  connect(N4, &QAction::triggered, this, &TOrientation_Form::N4Click);
  connect(N6, &QAction::triggered, this, &TOrientation_Form::N6Click);
  connect(N7, &QAction::triggered, this, &TOrientation_Form::N7Click);
  connect(N8, &QAction::triggered, this, &TOrientation_Form::N8Click);

  N10 = make("N10", QStringLiteral("Ориентация"));
  connect(N10, &QAction::triggered, this, &TOrientation_Form::N10Click);
  N17 = make("N17", QStringLiteral("Невязки..."));
  N17->setEnabled(false);
  connect(N17, &QAction::triggered, this, &TOrientation_Form::N17Click);
  CalibrationAction = make("CalibrationAction", QStringLiteral("Калибровка камеры..."));
  connect(CalibrationAction, &QAction::triggered, this, &TOrientation_Form::OpenCalibrationWindow);
  reportCommands_ = new ReportCommands(ui_, this);

  N12 = make("N12", QStringLiteral("Справка"));
  connect(N12, &QAction::triggered, this, &TOrientation_Form::N12Click);
  N13 = make("N13", QStringLiteral("О программе"));
  connect(N13, &QAction::triggered, this, &TOrientation_Form::N13Click);

  // Reached by its key anywhere in the window and from the result fields' context menu.
  CopyResultsAction = make("CopyResults", QStringLiteral("Копировать все результаты"));
  CopyResultsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  CopyResultsAction->setShortcutContext(Qt::WindowShortcut);
  CopyResultsAction->setEnabled(false);
  connect(CopyResultsAction, &QAction::triggered, this, &TOrientation_Form::CopyResults);
  addAction(CopyResultsAction);
}

void TOrientation_Form::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  file->setObjectName(QStringLiteral("FileMenu"));
  file->addAction(N18);
  file->addAction(N16);
  file->addAction(reportCommands_->SaveReportAction);
  file->addSeparator();
  file->addAction(N5);

  QMenu* settings = menuBar()->addMenu(QStringLiteral("Настройки"));
  settings->setObjectName(QStringLiteral("SettingsMenu"));
  settings->addAction(N4);
  settings->addAction(N6);
  settings->addAction(N7);
  settings->addAction(N8);
  settings->addSeparator();
  // The settings dialog from the menu too. Ctrl+J is the window's own key (seen whichever
  // control has the focus), so the item only shows it.
  QAction* dialog = settings->addAction(QStringLiteral("Параметры...\tCtrl+J"));
  dialog->setObjectName(QStringLiteral("SettingsDialogAction"));
  connect(dialog, &QAction::triggered, this, &TOrientation_Form::OpenSettingsDialog);

  QMenu* command = menuBar()->addMenu(QStringLiteral("Счёт"));
  command->setObjectName(QStringLiteral("CommandMenu"));
  command->addAction(N10);
  command->addAction(N17);
  command->addAction(reportCommands_->SchemeAction);
  command->addSeparator();
  command->addAction(CalibrationAction);

  QMenu* help = menuBar()->addMenu(QStringLiteral("Помощь"));
  help->setObjectName(QStringLiteral("HelpMenu"));
  help->addAction(N12);
  help->addAction(N13);
}

QWidget* TOrientation_Form::CreateInputGroup() {
  auto* group = new QGroupBox(QStringLiteral("Исходные данные"));
  group->setObjectName(QStringLiteral("GroupBox1"));
  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);

  auto row = [&](int index, const char* labelName, const QString& label, const char* editName,
                 const char* buttonName, QLineEdit*& edit, QPushButton*& button) {
    auto* caption = new QLabel(label, group);
    caption->setObjectName(QString::fromLatin1(labelName));
    edit = new QLineEdit(group);
    edit->setObjectName(QString::fromLatin1(editName));
    caption->setBuddy(edit);
    button = new QPushButton(QStringLiteral("..."), group);
    button->setObjectName(QString::fromLatin1(buttonName));
    button->setFixedWidth(32);
    grid->addWidget(caption, index, 0);
    grid->addWidget(edit, index, 1);
    grid->addWidget(button, index, 2);
    connect(edit, &QLineEdit::textChanged, this, &TOrientation_Form::Edit1Change);
  };
  row(0, "Label1", QStringLiteral("Внутренняя геометрия камеры:"), "Edit1", "Button5", Edit1,
      Button5);
  row(1, "Label2", QStringLiteral("Реперные точки изображения:"), "Edit6", "Button3", Edit6,
      Button3);
  row(2, "Label3", QStringLiteral("Реперные точки сцены:"), "Edit4", "Button4", Edit4, Button4);
  connect(Button5, &QPushButton::clicked, this, &TOrientation_Form::Button5Click);
  connect(Button3, &QPushButton::clicked, this, &TOrientation_Form::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TOrientation_Form::Button4Click);

  Button2 = new QPushButton(QStringLiteral("Счет"), group);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setToolTip(QStringLiteral("Расчет параметров ориентации"));
  Button2->setMinimumWidth(96);
  connect(Button2, &QPushButton::clicked, this, &TOrientation_Form::Button2Click);
  // The estimate the command will run, under its button: the level is otherwise seen only in
  // the menu.
  levelLabel_ = new QLabel(group);
  levelLabel_->setObjectName(QStringLiteral("LevelLabel"));
  levelLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  grid->setColumnMinimumWidth(3, 12);
  grid->addWidget(Button2, 0, 4, 2, 1, Qt::AlignBottom);
  grid->addWidget(levelLabel_, 2, 4);
  grid->setColumnStretch(1, 1);
  return group;
}

QWidget* TOrientation_Form::CreateResultGroup() {
  auto* group = new QGroupBox(QStringLiteral("Параметры внешней ориентации съемки"));
  group->setObjectName(QStringLiteral("GroupBox2"));
  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);

  for (int i = 0; i < kResultCount; ++i) {
    auto* edit = new QLineEdit(group);
    edit->setObjectName(QString::fromLatin1(kResults[static_cast<std::size_t>(i)].fieldName));
    // Read-only, not disabled: the user cannot change a value but can select and copy it.
    edit->setReadOnly(true);
    edit->setMinimumWidth(88);
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(edit, &QWidget::customContextMenuRequested, this,
            [this, edit](const QPoint& at) { ShowResultMenu(edit, edit->mapToGlobal(at)); });
    ResultEdits[static_cast<std::size_t>(i)] = edit;
  }

  // Each row: a caption, then up to three "label field" pairs in columns 1..6.
  auto caption = [&](int row, int rowSpan, const QString& text) {
    auto* label = new QLabel(text, group);
    label->setWordWrap(true);
    label->setMinimumWidth(250);
    grid->addWidget(label, row, 0, rowSpan, 1, Qt::AlignLeft | Qt::AlignVCenter);
  };
  auto fields = [&](int row, std::initializer_list<int> indexes) {
    int column = 1;
    for (int index : indexes) {
      auto* label =
          new QLabel(QString::fromLatin1(kResults[static_cast<std::size_t>(index)].label), group);
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid->addWidget(label, row, column);
      grid->addWidget(ResultEdits[static_cast<std::size_t>(index)], row, column + 1);
      column += 2;
    }
  };
  caption(0, 1, QStringLiteral("Координаты центра проекции в системе координат сцены"));
  fields(0, {kCentreX, kCentreY, kCentreZ});
  caption(1, 1, QStringLiteral("Координаты точки визирования в системе координат сцены"));
  fields(1, {kSightingX, kSightingY});
  caption(2, 1, QStringLiteral("Расстояние между точкой визирования и центром проекции"));
  fields(2, {kDistance});
  caption(3, 1, QStringLiteral("Фотограмметрические углы"));
  fields(3, {kPhotoAlpha, kPhotoOmega, kPhotoKappa});
  caption(4, 1, QStringLiteral("Стендовые углы"));
  fields(4, {kStandAl, kStandBet, kStandHi});
  caption(5, 3, QStringLiteral("Направляющие косинусы между осями систем координат"));
  fields(5, {kCosXX, kCosXY, kCosXZ});
  fields(6, {kCosYX, kCosYY, kCosYZ});
  fields(7, {kCosZX, kCosZY, kCosZZ});
  for (int column : {2, 4, 6}) grid->setColumnStretch(column, 1);

  group->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(group, &QWidget::customContextMenuRequested, this,
          [this, group](const QPoint& at) { ShowResultMenu(nullptr, group->mapToGlobal(at)); });

  Button1 = new QPushButton(QStringLiteral("Сохранить"), group);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setEnabled(false);
  Button1->setMinimumWidth(96);
  connect(Button1, &QPushButton::clicked, this, &TOrientation_Form::Button1Click);
  grid->addWidget(Button1, 8, 5, 1, 2, Qt::AlignRight);
  return group;
}

QWidget* TOrientation_Form::CreateDebugGroup() {
  GroupBox3 = new QGroupBox(QStringLiteral("Отладочные данные в лабораторной системе координат"));
  GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
  auto* row = new QHBoxLayout(GroupBox3);
  for (std::size_t i = 0; i < ListBoxes.size(); ++i) {
    auto* list = new QListWidget(GroupBox3);
    list->setObjectName(QStringLiteral("ListBox%1").arg(i + 1));
    list->setMinimumHeight(60);
    ListBoxes[i] = list;
    row->addWidget(list);
  }
  return GroupBox3;
}

void TOrientation_Form::SetDialogs(TOrientNForm* settings, TOrientAboutBox* about) {
  settingsDialog_ = settings;
  aboutBox_ = about;
}

TOrientNForm* TOrientation_Form::SettingsDialog() {
  if (settingsDialog_ == nullptr) settingsDialog_ = new TOrientNForm(*this);
  return settingsDialog_;
}

TOrientAboutBox* TOrientation_Form::AboutBox() {
  if (aboutBox_ == nullptr) aboutBox_ = new TOrientAboutBox(this);
  return aboutBox_;
}

void TOrientation_Form::ShowDebugGroup(bool show) {
  if (show) {
    GroupBox3->show();
    setMinimumSize(kMinimumWidth, 750);
    KeepOnScreen();
  } else {
    GroupBox3->hide();
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth, kMinimumHeight);
    if (isVisible()) KeepOnScreen();
  }
}

QString TOrientation_Form::StatusText() const { return StatusBar1->currentMessage(); }

void TOrientation_Form::KeepOnScreen() { FitToScreen(this); }

// ---------------------------------------------------------------- the orientation command

namespace {

struct KnownField {
  const char* name;     // of the value's edit; the σ's adds "Sigma"
  const char* caption;  // above the column
  const char* what;     // in the tooltip and the messages
  const char* unit;
};

constexpr std::array<KnownField, 5> kKnownFields{{
    {"KnownX", "X0", "координата X центра проекции", "ед. сцены"},
    {"KnownY", "Y0", "координата Y центра проекции", "ед. сцены"},
    {"KnownZ", "Z0", "координата Z центра проекции", "ед. сцены"},
    {"KnownRoll", "c, °", "поворот снимка c", "градусы"},
    {"KnownF", "F, пикс.", "фокусное расстояние", "пиксели"},
}};

}  // namespace

QWidget* TOrientation_Form::CreateKnownGroup() {
  KnownGroup = new QGroupBox(QStringLiteral("Известные значения (строгая оценка)"));
  KnownGroup->setObjectName(QStringLiteral("KnownGroup"));
  KnownGroup->setToolTip(
      QStringLiteral("Значения, известные заранее: пустое поле — значение определяется, число — "
                     "значение закреплено, число и σ — значение учитывается с этой точностью"));
  auto* grid = new QGridLayout(KnownGroup);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  auto* valueCaption = new QLabel(QStringLiteral("Значение:"), KnownGroup);
  auto* sigmaCaption = new QLabel(QStringLiteral("σ:"), KnownGroup);
  grid->addWidget(valueCaption, 1, 0);
  grid->addWidget(sigmaCaption, 2, 0);
  for (std::size_t i = 0; i < kKnownFields.size(); ++i) {
    const KnownField& field = kKnownFields[i];
    const int column = static_cast<int>(i) + 1;
    auto* caption = new QLabel(QString::fromUtf8(field.caption), KnownGroup);
    caption->setAlignment(Qt::AlignHCenter);
    QLineEdit*& value = KnownValueEdits[i];
    value = new QLineEdit(KnownGroup);
    value->setObjectName(QString::fromLatin1(field.name));
    value->setToolTip(QString::fromUtf8(field.what) + QStringLiteral(" (") +
                      QString::fromUtf8(field.unit) +
                      QStringLiteral("): пусто — определяется по точкам, число — закреплено"));
    QLineEdit*& sigma = KnownSigmaEdits[i];
    sigma = new QLineEdit(KnownGroup);
    sigma->setObjectName(QString::fromLatin1(field.name) + QStringLiteral("Sigma"));
    sigma->setToolTip(QStringLiteral("σ: ") + QString::fromUtf8(field.what) + QStringLiteral(" (") +
                      QString::fromUtf8(field.unit) +
                      QStringLiteral("): пусто или 0 — значение закреплено, больше нуля — "
                                     "учитывается с этой точностью"));
    caption->setBuddy(value);
    grid->addWidget(caption, 0, column);
    grid->addWidget(value, 1, column);
    grid->addWidget(sigma, 2, column);
    grid->setColumnStretch(column, 1);
  }
  KnownGroup->hide();
  return KnownGroup;
}

bool TOrientation_Form::TakeKnownValues() {
  KnownValues known;
  // Below the rigorous level the group is hidden: its fields wait, unused, for that level.
  if (state_.Settings.EstimateLevel != kRigorousLevel) {
    state_.Known = known;
    return true;
  }
  std::array<std::optional<KnownValue>*, 5> targets{&known.centreX, &known.centreY, &known.centreZ,
                                                    &known.roll, &known.focalLength};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const KnownField& field = kKnownFields[i];
    const std::string valueText = KnownValueEdits[i]->text().trimmed().toStdString();
    const std::string sigmaText = KnownSigmaEdits[i]->text().trimmed().toStdString();
    const auto refuse = [&](const std::string& text, QLineEdit* edit) {
      ui_->ShowMessage(text, "Ошибка!", MessageIcon::None, SelfOwner());
      edit->setFocus();
      edit->selectAll();
      return false;
    };
    if (valueText.empty()) {
      if (!sigmaText.empty())
        return refuse(std::string("Для σ (") + field.what +
                          ") не задано значение. Введите значение или очистите поле σ.",
                      KnownValueEdits[i]);
      continue;
    }
    const std::optional<double> value = ParseNumber(valueText);
    if (!value || !std::isfinite(*value) || (i == 4 && !(*value > 0)) ||
        (i == 3 && std::fabs(*value) > 360))
      return refuse(std::string("Известное значение (") + field.what + ") «" + valueText +
                        "» не читается: введите число" +
                        (i == 4   ? " больше нуля"
                         : i == 3 ? " от -360 до 360"
                                  : "") +
                        " или очистите поле.",
                    KnownValueEdits[i]);
    double sigma = 0;
    if (!sigmaText.empty()) {
      const std::optional<double> s = ParseNumber(sigmaText);
      if (!s || !std::isfinite(*s) || *s < 0)
        return refuse(std::string("σ (") + field.what + ") «" + sigmaText +
                          "» не читается: введите число не меньше нуля или очистите поле.",
                      KnownSigmaEdits[i]);
      sigma = *s;
    }
    *targets[i] = KnownValue{*value, sigma};
  }
  state_.Known = known;
  return true;
}

void TOrientation_Form::N10Click() {
  // "Сохранено в ..." spoke of the result this run replaces.
  StatusBar1->clearMessage();
  if (!TakeKnownValues()) return;
  bool shown = false;
  OrientationDisplay display;
  display.computing = [this] { ForgetResult(); };
  display.shownBeforeFailure = [this](const ResultTexts& texts) { state_.Results = texts; };
  try {
    OrientationOutcome outcome = RunOrientation(RequestOf(state_), *ui_, display);
    // The precise estimate leaves its start offsets in the settings for the next run.
    state_.Settings = outcome ? outcome->settings : outcome.error().settings;
    if (outcome) {
      state_.Results = outcome->texts;
      state_.Shown = std::move(*outcome);
      state_.ResultSaved = false;
      state_.SaveEnabled = true;
      shown = true;
    }
  } catch (...) {
    StatusBar1->clearMessage();
    ShowResults();
    UpdateResiduals(false);
    throw;
  }
  // A run that ended without a result is computing no longer.
  if (!shown) StatusBar1->clearMessage();
  ShowResults();
  UpdateResiduals(shown);
}

void TOrientation_Form::Button2Click() { N10Click(); }

void TOrientation_Form::Edit1Change() {
  const bool complete =
      !Edit6->text().isEmpty() && !Edit4->text().isEmpty() && !Edit1->text().isEmpty();
  N10->setEnabled(complete);
  Button2->setEnabled(complete);
  // While no file is named, the status bar says how to begin.
  const QString hint = QStringLiteral("Откройте снимок или выберите три файла");
  const bool none = Edit6->text().isEmpty() && Edit4->text().isEmpty() && Edit1->text().isEmpty();
  if (none && StatusBar1->currentMessage().isEmpty())
    StatusBar1->showMessage(hint);
  else if (!none && StatusBar1->currentMessage() == hint)
    StatusBar1->clearMessage();
}

void TOrientation_Form::ShowStatus(const std::string& text) {
  StatusBar1->showMessage(QString::fromStdString(text));
  // The command runs on this thread: without an immediate repaint the cleared fields and the
  // progress text would only appear once the computation is over.
  ShowResults();
  repaint();
}

void TOrientation_Form::ShowResults() {
  bool cleared = true;
  for (std::size_t i = 0; i < ResultEdits.size(); ++i) {
    const QString text = QString::fromStdString(state_.Results[i]);
    if (ResultEdits[i]->text() != text) ResultEdits[i]->setText(text);
    cleared = cleared && text.isEmpty();
  }
  if (cleared)
    for (QListWidget* list : ListBoxes) list->clear();
  Button1->setEnabled(state_.SaveEnabled);
  N16->setEnabled(state_.SaveEnabled);
  CopyResultsAction->setEnabled(!cleared);
  ShowPrecision();
}

QString TOrientation_Form::ResultsTable() const {
  // One row per value: what it is (the result file's comment) and the value as shown, separated
  // by a tab, so that a spreadsheet takes it as two columns.
  QStringList rows;
  for (int i = 0; i < kResultCount; ++i) {
    QString name = QString::fromUtf8(kResults[static_cast<std::size_t>(i)].fileComment);
    if (name.startsWith(QStringLiteral(" ; "))) name = name.mid(3);
    rows << name + '\t' + ResultEdits[static_cast<std::size_t>(i)]->text();
  }
  return rows.join('\n') + '\n';
}

void TOrientation_Form::CopyResults() {
  if (!CopyResultsAction->isEnabled()) return;
  QGuiApplication::clipboard()->setText(ResultsTable());
}

void TOrientation_Form::ShowResultMenu(QLineEdit* field, const QPoint& globalPos) {
  QMenu menu(this);
  if (field != nullptr) {
    QAction* copy = menu.addAction(QStringLiteral("Копировать"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(!field->text().isEmpty());
    connect(copy, &QAction::triggered, field, [field] {
      // Without a selection the whole value is copied.
      QGuiApplication::clipboard()->setText(field->hasSelectedText() ? field->selectedText()
                                                                     : field->text());
    });
    QAction* selectAll = menu.addAction(QStringLiteral("Выделить всё"));
    selectAll->setEnabled(!field->text().isEmpty());
    connect(selectAll, &QAction::triggered, field, &QLineEdit::selectAll);
    menu.addSeparator();
  }
  menu.addAction(CopyResultsAction);
  menu.exec(globalPos);
}

void TOrientation_Form::ShowPrecision() {
  const bool known = state_.Shown && state_.Shown->precision.known;
  std::string text;
  for (const std::string& line : known ? PrecisionLines(*state_.Shown) : std::vector<std::string>{})
    text += (text.empty() ? "" : "\n") + line;
  if (PrecisionLabel->text() != QString::fromStdString(text))
    PrecisionLabel->setText(QString::fromStdString(text));
  // Each field also carries its σ, for the value the pointer rests on.
  for (std::size_t i = 0; i < ResultEdits.size(); ++i)
    ResultEdits[i]->setToolTip(
        known ? QStringLiteral("σ = %1").arg(
                    QString::number(state_.Shown->precision.sigma[i], 'g', 2)
                        .replace(QLatin1Char('.'), QLatin1Char(state_.DecimalSeparator)))
              : QString());
  if (PrecisionGroup->isHidden() == known) {
    PrecisionGroup->setVisible(known);
    if (known && height() < sizeHint().height()) resize(width(), sizeHint().height());
  }
}

void TOrientation_Form::ForgetResult() {
  for (std::string& text : state_.Results) text.clear();
  state_.Shown.reset();
  // Emptied fields hold no result: nothing to save, nothing to ask about at closing.
  state_.ResultSaved = true;
  state_.SaveEnabled = false;
}

void TOrientation_Form::ClearShownResults() {
  ForgetResult();
  ShowResults();
  UpdateResiduals(false);
}

void TOrientation_Form::UpdateResiduals(bool fresh) {
  if (fresh && state_.Shown) residuals_ = ResidualsReportOf(*state_.Shown, state_.ImageFileName);
  if (!state_.Shown) residuals_.reset();
  // The report names the inputs as they were when the result was computed.
  if (fresh && state_.Shown)
    reportCommands_->SetResult(&*state_.Shown, ReportContextOf(RequestOf(state_)),
                               state_.ImageFileName);
  if (!state_.Shown) reportCommands_->SetResult(nullptr, {}, "");
  N17->setEnabled(residuals_.has_value());
  if (residualsWindow_ != nullptr) residualsWindow_->ShowReport(residuals_);
  if (fresh || !residuals_) overlay_.reset();
  if (fresh && residuals_)
    overlay_ = PhotoOverlayOf(residuals_->residuals, state_.Shown->camera,
                              state_.Shown->precision.outliers);
  if (photoWindow_ != nullptr) photoWindow_->ShowOverlay(overlay_);
}

void TOrientation_Form::N18Click() {
  FileDialogRequest request;
  request.filters = {
      {"Снимки (*.png *.jpg *.jpeg *.tif *.tiff *.bmp)", "*.png *.jpg *.jpeg *.tif *.tiff *.bmp"},
      {"Все файлы (*)", "*"}};
  request.startFolder = crdStartFolder_;
  request.owner = SelfOwner();
  if (const std::optional<std::string> chosen = ui_->ChooseOpenFile(request)) OpenPhoto(*chosen);
}

void TOrientation_Form::OpenPhoto(const std::string& photoFile) {
  if (photoWindow_ == nullptr) {
    photoWindow_ = new PhotoWindow(*ui_, this);
    connect(photoWindow_, &PhotoWindow::OrientationRequested, this, [this] {
      if (N10->isEnabled()) N10Click();
    });
    connect(photoWindow_, &PhotoWindow::FilesSaved, this,
            [this](const QString& points, const QString& scene) {
              state_.ImageFileName = AbsolutePath(points.toStdString());
              ShowFileField(Edit6, state_.ImageFileName);
              if (scene.isEmpty()) return;
              state_.SceneFileName = AbsolutePath(scene.toStdString());
              ShowFileField(Edit4, state_.SceneFileName);
            });
    LinkPointSelection();
  }
  const std::string photo = AbsolutePath(photoFile);
  const PhotoCompanions found = FindPhotoCompanions(photo);
  const auto take = [this](std::string& member, QLineEdit* edit, const std::string& file) {
    if (!edit->text().isEmpty() || file.empty()) return;
    member = AbsolutePath(file);
    ShowFileField(edit, member);
  };
  take(state_.CameraFileName, Edit1, found.camera);
  take(state_.ImageFileName, Edit6, found.image);
  take(state_.SceneFileName, Edit4, found.scene);
  if (!photoWindow_->OpenPhoto(photo, Edit6->text().isEmpty() ? "" : state_.ImageFileName)) return;
  photoWindow_->ShowOverlay(overlay_);
  photoWindow_->show();
  photoWindow_->raise();
  photoWindow_->activateWindow();
}

void TOrientation_Form::LinkPointSelection() {
  if (photoWindow_ == nullptr || residualsWindow_ == nullptr) return;
  connect(photoWindow_, &PhotoWindow::PointSelected, residualsWindow_,
          &ResidualsWindow::SelectPoint);
  connect(residualsWindow_, &ResidualsWindow::PointSelected, photoWindow_,
          &PhotoWindow::SelectPoint);
}

void TOrientation_Form::OpenCalibrationWindow() {
  if (calibrationWindow_ == nullptr) calibrationWindow_ = new CalibrationWindow(*ui_, this);
  calibrationWindow_->show();
  calibrationWindow_->raise();
  calibrationWindow_->activateWindow();
}

void TOrientation_Form::N17Click() {
  if (!residuals_) return;
  if (residualsWindow_ == nullptr) {
    residualsWindow_ = new ResidualsWindow(*ui_, this);
    LinkPointSelection();
  }
  residualsWindow_->ShowReport(residuals_);
  residualsWindow_->show();
  residualsWindow_->raise();
  residualsWindow_->activateWindow();
}

// ---------------------------------------------------------------- choosing the input files

void TOrientation_Form::ResetDialogFolders(const std::string& folder) {
  camStartFolder_ = folder;
  crdStartFolder_ = folder;
}

void TOrientation_Form::PickFile(bool camera, std::string& member, QLineEdit* edit) {
  FileDialogRequest request;
  if (camera) {
    // A calibration file may stand in for the camera file; the first filter shows both.
    request.filters = {{"Camera Files (*.cam *.yml *.yaml *.xml *.json *.txt)",
                        "*.cam *.yml *.yaml *.xml *.json *.txt"},
                       {"Файлы камеры ZELV (*.cam)", "*.cam"},
                       {"Калибровки OpenCV и COLMAP (*.yml *.yaml *.xml *.json *.txt)",
                        "*.yml *.yaml *.xml *.json *.txt"},
                       {"All Files (*)", "*"}};
    request.defaultSuffix = "cam";
    request.proposedName = "Kalibr";
    request.startFolder = camStartFolder_;
  } else {
    request.filters = {{"Coordinate Files (*.crd)", "*.crd"},
                       {"Таблицы точек (*.csv *.txt *.tsv)", "*.csv *.txt *.tsv"},
                       {"All Files (*)", "*"}};
    request.defaultSuffix = "crd";
    request.startFolder = crdStartFolder_;
  }
  request.owner = SelfOwner();
  const std::optional<std::string> chosen = ui_->ChooseOpenFile(request);
  if (!chosen) return;
  ResetDialogFolders(std::string());
  member = AbsolutePath(*chosen);
  ShowFileField(edit, member);
  ClearShownResults();
}

void TOrientation_Form::Button5Click() { PickFile(true, state_.CameraFileName, Edit1); }
void TOrientation_Form::Button3Click() { PickFile(false, state_.ImageFileName, Edit6); }
void TOrientation_Form::Button4Click() { PickFile(false, state_.SceneFileName, Edit4); }

void TOrientation_Form::TakeTypedName(QLineEdit* edit, std::string& member) {
  const std::string text = edit->text().toStdString();
  if (text.empty() || edit->property(kTakenText).toString() == edit->text()) return;
  edit->setProperty(kTakenText, edit->text());
  // A name typed with a folder is a path of its own (relative to the current directory as it is
  // while typing); only a bare name goes into the previous file's folder. Either way the member
  // holds the absolute path from now on.
  const auto slash = member.rfind('/');
  if (text.find('/') != std::string::npos || slash == std::string::npos)
    member = AbsolutePath(text);
  else
    member = AbsolutePath(member.substr(0, slash + 1) + text);
  edit->setToolTip(QString::fromStdString(member));
}

void TOrientation_Form::Edit1KeyUp() { TakeTypedName(Edit1, state_.CameraFileName); }
void TOrientation_Form::Edit6KeyUp() { TakeTypedName(Edit6, state_.ImageFileName); }
void TOrientation_Form::Edit4KeyUp() { TakeTypedName(Edit4, state_.SceneFileName); }

void TOrientation_Form::Edit1DblClick() {
  // The grid edits the eight lines of a camera file; saving a calibration file from it would
  // replace the calibration with them.
  if (DetectCameraFileFormat(state_.CameraFileName) != CameraFileFormat::CamFile) {
    ui_->ShowMessage(
        "Файл калибровки камеры не открывается в редакторе данных. Изменяйте его в программе, "
        "которая его создала.",
        "Предупреждение!", MessageIcon::None, SelfOwner());
    return;
  }
  OpenDataEditor(state_.CameraFileName, kCameraFileType, *ui_);
}
void TOrientation_Form::OpenPointEditor(const std::string& name) {
  // The grid edits ".crd" files: saving a point table from it would drop its identifiers and
  // change its format.
  if (IsPointTableFile(name)) {
    ui_->ShowMessage(kPointTableNotEdited, "Предупреждение!", MessageIcon::None, SelfOwner());
    return;
  }
  OpenDataEditor(name, kPointFileType, *ui_);
}
void TOrientation_Form::Edit6DblClick() { OpenPointEditor(state_.ImageFileName); }
void TOrientation_Form::Edit4DblClick() { OpenPointEditor(state_.SceneFileName); }

// ---------------------------------------------------------------- saving and closing

SaveOutcome TOrientation_Form::SaveResult() {
  if (!state_.Shown) return SaveOutcome::Cancelled;
  std::string written;
  const SaveOutcome outcome =
      SaveResultFile(*state_.Shown, state_.ImageFileName, *ui_, SelfOwner(), &written);
  // Only a written file makes the result saved; declining or a failed write keep it unsaved so
  // that the save command and the close question still offer it.
  if (outcome == SaveOutcome::Written) {
    state_.ResultSaved = true;
    state_.SaveEnabled = false;
    StatusBar1->showMessage(QStringLiteral("Сохранено в ") + QString::fromStdString(written));
  }
  ShowResults();
  return outcome;
}

void TOrientation_Form::Button1Click() { SaveResult(); }

void TOrientation_Form::N16Click() { Button1Click(); }

void TOrientation_Form::closeEvent(QCloseEvent* event) {
  // The workspace's unsaved points are asked about first; a save that did not happen keeps both.
  if (photoWindow_ != nullptr && photoWindow_->Modified() && !photoWindow_->close()) {
    event->ignore();
    return;
  }
  const Answer answer = state_.ResultSaved
                            ? Answer::No
                            : ui_->AskToSave("Сохранить результат?", "Сохранение", "", SelfOwner());
  // Esc or the box's close button: the user has not decided, so the window stays with its result.
  if (answer == Answer::Cancel) {
    event->ignore();
    return;
  }
  if (answer == Answer::Yes) {
    const SaveOutcome outcome = SaveResult();
    // The user asked for the result to be kept: a write that failed must not lose it.
    if (outcome == SaveOutcome::Failed) {
      event->ignore();
      return;
    }
  }
  event->accept();
  emit Closed();
}

void TOrientation_Form::N5Click() { close(); }

// ---------------------------------------------------------------- menus, keys, picture

void TOrientation_Form::SetEstimateLevel(int level) {
  N4->setChecked(level == 0);
  N6->setChecked(level == 1);
  N7->setChecked(level == 3);
  N8->setChecked(level == kRigorousLevel);
  for (const QAction* item : {N4, N6, N7, N8})
    if (item->isChecked()) levelLabel_->setText(item->text());
  state_.Settings.EstimateLevel = level;
  // Only the rigorous level takes known values: below it their group gives way to the rest.
  KnownGroup->setVisible(level == kRigorousLevel);
}

void TOrientation_Form::N4Click() { SetEstimateLevel(0); }
void TOrientation_Form::N6Click() { SetEstimateLevel(1); }
void TOrientation_Form::N7Click() { SetEstimateLevel(3); }
void TOrientation_Form::N8Click() { SetEstimateLevel(kRigorousLevel); }

void TOrientation_Form::N12Click() {
  if (helpWindow_ == nullptr) helpWindow_ = new HelpWindow(this);
  helpWindow_->OpenContents();
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

void TOrientation_Form::N13Click() { AboutBox()->exec(); }

void TOrientation_Form::OpenSettingsDialog() {
  TOrientNForm* dialog = SettingsDialog();
  dialog->FillFromState();
  dialog->move(400, 300);
  dialog->exec();
}

void TOrientation_Form::FormKeyDown(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (N10->isEnabled()) N10Click();
  } else if ((key == Qt::Key_J || key == kKeyCyrillicO) &&
             event->modifiers().testFlag(Qt::ControlModifier)) {
    OpenSettingsDialog();
  }
}

void TOrientation_Form::Timer1Timer() {
  Image1->hide();
  Panel1->show();
  Timer1->stop();
}

void TOrientation_Form::Image1Click() { Timer1Timer(); }

bool TOrientation_Form::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget == nullptr || widget->window() != this) break;
      auto* key = static_cast<QKeyEvent*>(event);
      // A key press not taken by the focused control travels on to its parents, and each step
      // passes this filter again; only its first delivery counts. (The focus cannot tell which
      // one that is: a dialog opened by the key moves it.)
      const bool propagated = key == lastKey_.event && key->timestamp() == lastKey_.timestamp &&
                              key->key() == lastKey_.key && lastKey_.receiver != nullptr &&
                              widget->isAncestorOf(lastKey_.receiver);
      lastKey_ = {key, key->timestamp(), key->key(), widget};
      if (!propagated) FormKeyDown(key);
      break;
    }
    case QEvent::KeyRelease:
      if (watched == Edit1) Edit1KeyUp();
      if (watched == Edit6) Edit6KeyUp();
      if (watched == Edit4) Edit4KeyUp();
      break;
    case QEvent::MouseButtonDblClick:
      if (watched == Edit1) Edit1DblClick();
      if (watched == Edit6) Edit6DblClick();
      if (watched == Edit4) Edit4DblClick();
      break;
    case QEvent::MouseButtonRelease:
      if (watched == Image1 && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        Image1Click();
      break;
    default:
      break;
  }
  return false;
}

void TOrientation_Form::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* shown = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(shown->availableGeometry().center());
    move(frame.topLeft());
  }
  FitToScreen(this);
}

}  // namespace zelv
