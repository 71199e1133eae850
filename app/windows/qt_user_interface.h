#pragma once
// The user interface of the core carried out with Qt: message boxes, file dialogs, the status
// text and the busy cursor.

#include <QFileIconProvider>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "base/user_interface.h"

namespace zelv {

// The file dialogs' icons and type texts, told from the name and the kind of entry alone. The
// platform's provider asks the MIME database, which reads the start of a file whose name says
// nothing: in /proc a read such as that of kmsg waits for ever, and the dialog with it.
class NameOnlyIconProvider : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override;
  QString type(const QFileInfo& info) const override;
};

class QtUserInterface : public UserInterface {
 public:
  // `showStatus` puts a status text on screen at once (the window sets its status bar and
  // repaints); it may be empty when there is no status bar.
  explicit QtUserInterface(std::function<void(const std::string&)> showStatus = {});
  ~QtUserInterface() override;

  // The window over which boxes and dialogs without an owner are placed (they stay without a
  // parent); none: the platform places them.
  void SetHomeWindow(QWidget* home) { home_ = home; }

  // A modal box with one OK button; the owner is the QWidget* in `owner`, or none.
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override;
  // A modal Yes/No box; true for Yes.
  bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) override;
  // A modal Yes/No box; Esc and the close button give Cancel, never No.
  Answer AskToSave(const std::string& text, const std::string& caption, const std::string& file,
                   Owner owner) override;
  Answer AskYesNoOrCancel(const std::string& text, const std::string& caption,
                          Owner owner) override;
  // The open dialog; confirming makes the chosen file's folder the current directory.
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  // The save dialog; the default suffix is added to a name typed without one. It asks nothing
  // about an existing file: the save command asks its own question.
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  void SetStatusText(const std::string& text) override;
  // Sets or restores the application's override cursor; nested calls balance.
  void SetBusy(bool busy) override;

 private:
  void PlaceWithoutOwner(QWidget* dialog, Owner owner) const;

  std::function<void(const std::string&)> showStatus_;
  QPointer<QWidget> home_;
  std::unique_ptr<NameOnlyIconProvider> iconProvider_;
  int busyDepth_ = 0;
};

}  // namespace zelv
