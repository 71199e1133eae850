#include "app/windows/qt_user_interface.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

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

// Sets up a dialog as the request asks; the start folder defaults to the current directory.
void Prepare(QFileDialog& dialog, const FileDialogRequest& request) {
  dialog.setNameFilters(NameFilters(request.filters));
  if (!request.defaultSuffix.empty()) dialog.setDefaultSuffix(Text(request.defaultSuffix));
  dialog.setDirectory(request.startFolder.empty() ? QDir::currentPath()
                                                  : Text(request.startFolder));
  if (!request.proposedName.empty()) dialog.selectFile(Text(request.proposedName));
}

}  // namespace

QtUserInterface::QtUserInterface(std::function<void(const std::string&)> showStatus)
    : showStatus_(std::move(showStatus)) {}

void QtUserInterface::ShowMessage(const std::string& text, const std::string& caption,
                                  MessageIcon icon, Owner owner) {
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
  if (icon == MessageIcon::Stop) boxIcon = QMessageBox::Critical;
  if (icon == MessageIcon::Exclamation) boxIcon = QMessageBox::Warning;
  QMessageBox box(boxIcon, Text(caption), Text(text), QMessageBox::Ok, OwnerWidget(owner));
  box.exec();
}

bool QtUserInterface::AskYesNo(const std::string& text, const std::string& caption, Owner owner) {
  QMessageBox box(QMessageBox::Question, Text(caption), Text(text),
                  QMessageBox::Yes | QMessageBox::No, OwnerWidget(owner));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtUserInterface::ChooseOpenFile(const FileDialogRequest& request) {
  QFileDialog dialog(OwnerWidget(request.owner));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  Prepare(dialog, request);
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
  Prepare(dialog, request);
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
