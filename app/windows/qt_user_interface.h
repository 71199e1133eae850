#pragma once
// The user interface of the core carried out with Qt: message boxes, file dialogs, the status
// text and the busy cursor.

#include <functional>
#include <string>

#include "base/user_interface.h"

namespace zelv {

class QtUserInterface : public UserInterface {
 public:
  // `showStatus` puts a status text on screen at once (the window sets its status bar and
  // repaints); it may be empty when there is no status bar.
  explicit QtUserInterface(std::function<void(const std::string&)> showStatus = {});

  // A modal box with one OK button; the owner is the QWidget* in `owner`, or none.
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override;
  // A modal Yes/No box; true for Yes.
  bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) override;
  // The open dialog; confirming makes the chosen file's folder the current directory.
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  // The save dialog; the default suffix is added to a name typed without one. It asks nothing
  // about an existing file: the save command asks its own question.
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  void SetStatusText(const std::string& text) override;
  // Sets or restores the application's override cursor; nested calls balance.
  void SetBusy(bool busy) override;

 private:
  std::function<void(const std::string&)> showStatus_;
  int busyDepth_ = 0;
};

}  // namespace zelv
