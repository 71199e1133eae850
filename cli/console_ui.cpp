#include "cli/console_ui.h"

#include <cstdio>

namespace zelv::cli {

void ConsoleUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon,
                            Owner) {
  std::fprintf(stderr, "%s %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

bool ConsoleUi::AskYesNo(const std::string&, const std::string&, Owner) { return false; }

std::optional<std::string> ConsoleUi::ChooseOpenFile(const FileDialogRequest&) {
  return std::nullopt;
}

std::optional<std::string> ConsoleUi::ChooseSaveFile(const FileDialogRequest&) {
  return std::nullopt;
}

void ConsoleUi::SetStatusText(const std::string&) {}

void ConsoleUi::SetBusy(bool) {}

}  // namespace zelv::cli
