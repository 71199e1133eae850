#include "app/windows/qt_user_interface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStringList>
#include <QTreeView>

namespace zelv {
namespace {

QWidget* OwnerWidget(Owner owner) { return static_cast<QWidget*>(owner.window); }

QString Text(const std::string& text) { return QString::fromStdString(text); }

// "Description (*.ext)" for each filter; a description that already names its pattern in
// brackets is used as it is.
QStringList NameFilters(const std::vector<FileFilter>& filters) {
  QStringList result;
  for (const FileFilter& filter : filters) {
    QString description = Text(filter.description);
    if (description.endsWith(')') && description.contains('('))
      result << description;
    else
      result << description + " (" + Text(filter.pattern) + ")";
  }
  return result;
}

// The dialogs' size: wide enough for the name, size, type and date columns of the Russian texts.
constexpr int kDialogWidth = 900;
constexpr int kDialogHeight = 540;

// Sets up a dialog as the request asks; the start folder defaults to the current directory.
void Prepare(QFileDialog& dialog, const FileDialogRequest& request,
             QAbstractFileIconProvider* icons) {
  // Qt's own dialog: its icon provider is ours to set, and its texts follow the loaded
  // translation.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setIconProvider(icons);
  dialog.setNameFilters(NameFilters(request.filters));
  if (!request.defaultSuffix.empty()) dialog.setDefaultSuffix(Text(request.defaultSuffix));
  dialog.setDirectory(request.startFolder.empty() ? QDir::currentPath()
                                                  : Text(request.startFolder));
  if (!request.proposedName.empty()) dialog.selectFile(Text(request.proposedName));
  dialog.setViewMode(QFileDialog::Detail);
  QSize size(kDialogWidth, kDialogHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size());
  dialog.resize(size);
  // Room for the Russian names of the places and for the whole date and time of a file.
  if (auto* places = dialog.findChild<QSplitter*>(QStringLiteral("splitter")))
    places->setSizes({170, size.width() - 170});
  if (auto* files = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    const QFontMetrics metrics = files->fontMetrics();
    QHeaderView* columns = files->header();
    columns->resizeSection(0, metrics.horizontalAdvance(QStringLiteral("M")) * 30);
    columns->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("Файл crd")) + 40);
    columns->resizeSection(3, metrics.horizontalAdvance(QStringLiteral("00.00.0000 00:00")) + 32);
  }
}

// A Yes/No box that Esc or its close button withdraws: Qt would take No for them, its only
// button of the "no" role, and the close question would then throw the data away.
class WithdrawableQuestion : public QMessageBox {
 public:
  WithdrawableQuestion(const QString& caption, const QString& text, QWidget* parent)
      : QMessageBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent) {
    setDefaultButton(QMessageBox::Yes);
  }
  bool Withdrawn() const { return withdrawn_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel)) {
      Withdraw();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    // Closed by a button: the box hides itself, and no close event arrives. A close event is the
    // window's close button (or the window manager's close key).
    event->accept();
    Withdraw();
  }

 private:
  void Withdraw() {
    withdrawn_ = true;
    done(QMessageBox::Cancel);
  }
  bool withdrawn_ = false;
};

}  // namespace

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
  if (info.isRoot()) return icon(QAbstractFileIconProvider::Drive);
  if (info.isDir()) return icon(QAbstractFileIconProvider::Folder);
  return icon(QAbstractFileIconProvider::File);
}

// A text of Qt's own file icon provider, as its translation names it: under the provider's own
// context, or under the file dialog's, where translations made for Qt 5 hold it.
QString QtFileText(const char* text) {
  const QString own = QCoreApplication::translate("QAbstractFileIconProvider", text);
  return own != QLatin1String(text) ? own : QCoreApplication::translate("QFileDialog", text);
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
  if (info.isRoot()) return QtFileText("Drive");
  if (info.isDir()) return QtFileText("Folder");
  if (info.suffix().isEmpty()) return QtFileText("File");
  return QtFileText("%1 File").arg(info.suffix());
}

QtUserInterface::QtUserInterface(std::function<void(const std::string&)> showStatus)
    : showStatus_(std::move(showStatus)), iconProvider_(std::make_unique<NameOnlyIconProvider>()) {}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::PlaceWithoutOwner(QWidget* dialog, Owner owner) const {
  if (OwnerWidget(owner) != nullptr || home_ == nullptr || !home_->isVisible()) return;
  dialog->adjustSize();
  QRect frame = dialog->frameGeometry();
  frame.moveCenter(home_->frameGeometry().center());
  if (const QScreen* screen = home_->screen()) {
    const QRect area = screen->availableGeometry();
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() - frame.width())));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height())));
  }
  dialog->move(frame.topLeft());
}

void QtUserInterface::ShowMessage(const std::string& text, const std::string& caption,
                                  MessageIcon icon, Owner owner) {
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
  if (icon == MessageIcon::Stop) boxIcon = QMessageBox::Critical;
  if (icon == MessageIcon::Exclamation) boxIcon = QMessageBox::Warning;
  QMessageBox box(boxIcon, Text(caption), Text(text), QMessageBox::Ok, OwnerWidget(owner));
  PlaceWithoutOwner(&box, owner);
  box.exec();
}

bool QtUserInterface::AskYesNo(const std::string& text, const std::string& caption, Owner owner) {
  QMessageBox box(QMessageBox::Question, Text(caption), Text(text),
                  QMessageBox::Yes | QMessageBox::No, OwnerWidget(owner));
  box.setDefaultButton(QMessageBox::Yes);
  PlaceWithoutOwner(&box, owner);
  return box.exec() == QMessageBox::Yes;
}

namespace {

// The answer of a question box once it closed: Esc, the close button and Cancel withdraw it.
Answer Answered(WithdrawableQuestion& box) {
  const int result = box.exec();
  if (box.Withdrawn()) return Answer::Cancel;
  if (result == QMessageBox::Yes) return Answer::Yes;
  if (result == QMessageBox::No) return Answer::No;
  return Answer::Cancel;
}

}  // namespace

Answer QtUserInterface::AskYesNoOrCancel(const std::string& text, const std::string& caption,
                                         Owner owner) {
  WithdrawableQuestion box(Text(caption), Text(text), OwnerWidget(owner));
  PlaceWithoutOwner(&box, owner);
  return Answered(box);
}

Answer QtUserInterface::AskToSave(const std::string& text, const std::string& caption,
                                  const std::string& file, Owner owner) {
  WithdrawableQuestion box(Text(caption), Text(text), OwnerWidget(owner));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::Cancel);
  // Each button says what it does with the data, whatever translation of Qt is loaded.
  box.button(QMessageBox::Yes)->setText(QStringLiteral("Сохранить"));
  box.button(QMessageBox::No)->setText(QStringLiteral("Не сохранять"));
  box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
  if (!file.empty()) box.setInformativeText(QStringLiteral("Файл: ") + Text(file));
  PlaceWithoutOwner(&box, owner);
  return Answered(box);
}

std::optional<std::string> QtUserInterface::ChooseOpenFile(const FileDialogRequest& request) {
  QFileDialog dialog(OwnerWidget(request.owner));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  Prepare(dialog, request, iconProvider_.get());
  PlaceWithoutOwner(&dialog, request.owner);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog.selectedFiles().first();
  QDir::setCurrent(QFileInfo(chosen).absolutePath());
  return chosen.toStdString();
}

std::optional<std::string> QtUserInterface::ChooseSaveFile(const FileDialogRequest& request) {
  QFileDialog dialog(OwnerWidget(request.owner));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  Prepare(dialog, request, iconProvider_.get());
  PlaceWithoutOwner(&dialog, request.owner);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

void QtUserInterface::SetStatusText(const std::string& text) {
  if (showStatus_) showStatus_(text);
}

void QtUserInterface::SetBusy(bool busy) {
  if (busy) {
    ++busyDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    --busyDepth_;
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace zelv
