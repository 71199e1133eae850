#pragma once
// The user interfaces of zelv-cli. Nothing is ever asked: a command never overwrites or discards
// anything on its own.

#include <string>
#include <vector>

#include "base/user_interface.h"

namespace zelv::cli {

// Keeps every message instead of showing it: one orientation of a batch each, so that jobs
// running side by side never share an output.
class RecordingUi : public UserInterface {
 public:
  struct Message {
    std::string text;
    std::string caption;
  };

  // Keeps the message.
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

  // Every message shown, in order.
  const std::vector<Message>& Messages() const { return messages_; }
  // The last message that is not a warning ("Предупреждение!"): what made a run fail. Empty
  // text and caption when there is none.
  Message LastFailure() const;

 private:
  std::vector<Message> messages_;
};

// Also prints each message as "<caption> <text>", one line on standard error, as it comes.
class ConsoleUi : public RecordingUi {
 public:
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override;
};

}  // namespace zelv::cli
