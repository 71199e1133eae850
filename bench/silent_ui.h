#pragma once
// A user interface for the benchmarks: shows nothing and counts the messages other than warnings.

#include <optional>
#include <string>

#include "base/user_interface.h"

namespace zelv::bench {

class SilentUi : public UserInterface {
 public:
  void ShowMessage(const std::string&, const std::string& caption, MessageIcon, Owner) override {
    if (caption != "Предупреждение!") ++failures;
  }
  bool AskYesNo(const std::string&, const std::string&, Owner) override { return false; }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
  void SetStatusText(const std::string&) override {}
  void SetBusy(bool) override {}
  int failures = 0;
};

}  // namespace zelv::bench
