#pragma once
// The user interface of zelv-cli: messages go to standard error, one line each; nothing is asked.

#include "base/user_interface.h"

namespace zelv::cli {

class ConsoleUi : public UserInterface {
 public:
  // Prints "<caption> <text>" as one line on standard error.
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override;
  // Answers No without asking: a command never overwrites or discards anything on its own.
  bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) override;
  // No dialog can be shown: always cancelled.
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  // The status text and the busy cursor have no meaning on a console.
  void SetStatusText(const std::string& text) override;
  void SetBusy(bool busy) override;
};

}  // namespace zelv::cli
