#pragma once
// A scripted user interface for tests: records every message, question, dialog and status text,
// and answers questions and file dialogs from queues the test fills.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/user_interface.h"

namespace zelv::testing {

class FakeUi : public UserInterface {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
    void* owner;
  };

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                   Owner owner) override {
    messages.push_back({text, caption, icon, owner.window});
  }
  bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) override {
    questions.push_back({text, caption, MessageIcon::None, owner.window});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Answered from `choices` while it holds any (Cancel: the box was closed or Esc pressed),
  // otherwise from `answers` as AskYesNo.
  Answer AskYesNoOrCancel(const std::string& text, const std::string& caption,
                          Owner owner) override {
    if (choices.empty()) return AskYesNo(text, caption, owner) ? Answer::Yes : Answer::No;
    questions.push_back({text, caption, MessageIcon::None, owner.window});
    const Answer answer = choices.front();
    choices.pop_front();
    return answer;
  }
  // Recorded with the file it names, then answered as AskYesNoOrCancel.
  Answer AskToSave(const std::string& text, const std::string& caption, const std::string& file,
                   Owner owner) override {
    questionFiles.push_back(file);
    return AskYesNoOrCancel(text, caption, owner);
  }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override {
    openRequests.push_back(request);
    return NextFile();
  }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override {
    saveRequests.push_back(request);
    return NextFile();
  }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void SetBusy(bool busy) override {
    busyDepth += busy ? 1 : -1;
    busyCalls.push_back(busy);
  }

  // Answers for AskYesNo, in order; no answer left means No.
  std::deque<bool> answers;
  // Answers for AskYesNoOrCancel, taken before `answers`.
  std::deque<Answer> choices;
  // Answers for the file dialogs, in order; nothing (or an empty queue) means cancelled.
  std::deque<std::optional<std::string>> files;

  std::vector<Message> messages;
  std::vector<Message> questions;
  // The file each AskToSave named.
  std::vector<std::string> questionFiles;
  std::vector<FileDialogRequest> openRequests;
  std::vector<FileDialogRequest> saveRequests;
  std::vector<std::string> statusTexts;
  std::vector<bool> busyCalls;
  int busyDepth = 0;

 private:
  std::optional<std::string> NextFile() {
    if (files.empty()) return std::nullopt;
    auto file = files.front();
    files.pop_front();
    return file;
  }
};

}  // namespace zelv::testing

namespace zelv {

// Shows a failure on `ui`, as the desktop does; true when there is none.
inline bool Shown(UserInterface& ui, const Expected<void>& outcome) {
  if (!outcome) ui.ShowFailure(outcome.error());
  return outcome.has_value();
}

}  // namespace zelv
