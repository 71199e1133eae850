#include "cli/console_ui.h"

#include <cstdio>

namespace zelv::cli {

void RecordingUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon,
                              Owner) {
  messages_.push_back({text, caption});
}

bool RecordingUi::AskYesNo(const std::string&, const std::string&, Owner) { return false; }

std::optional<std::string> RecordingUi::ChooseOpenFile(const FileDialogRequest&) {
  return std::nullopt;
}

std::optional<std::string> RecordingUi::ChooseSaveFile(const FileDialogRequest&) {
  return std::nullopt;
}

void RecordingUi::SetStatusText(const std::string&) {}

void RecordingUi::SetBusy(bool) {}

RecordingUi::Message RecordingUi::LastFailure() const {
  for (auto it = messages_.rbegin(); it != messages_.rend(); ++it)
    if (it->caption != "Предупреждение!") return *it;
  return {};
}

void ConsoleUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            Owner owner) {
  RecordingUi::ShowMessage(text, caption, icon, owner);
  std::fprintf(stderr, "%s %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace zelv::cli
