#pragma once
// The user interface of zelv-cli orient and inputs: each message printed as "<caption> <text>",
// one line on standard error, as it comes. Nothing is ever asked: a command never overwrites or
// discards anything on its own.

#include <string>

#include "base/user_interface.h"

namespace zelv::cli {

class ConsoleUi : public UserInterface {
 public:
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override;
  // Answers No without asking.
  bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) override;
  // No dialog can be shown: always cancelled.
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  // The status text and the busy cursor have no meaning on a console.
  void SetStatusText(const std::string& text) override;
  void SetBusy(bool busy) override;
};

}  // namespace zelv::cli
