#pragma once
// The one small interface through which the core reaches the user: messages, Yes/No questions,
// file choice, status text and the busy cursor. The Qt windows implement it with message boxes
// and file dialogs, the tests with a scripted fake, zelv-cli with standard error.
//
// All texts are UTF-8.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/failure.h"

namespace zelv {

// The answer to a question that may also be withdrawn.
enum class Answer { Yes, No, Cancel };

// The window a message box or dialog belongs to. Null means "no owner window". The Qt side stores
// a QWidget* here; the core never looks inside.
struct Owner {
  void* window = nullptr;
};

struct FileFilter {
  std::string description;  // e.g. "Coordinate Files (*.crd)"
  std::string pattern;      // e.g. "*.crd"
};

struct FileDialogRequest {
  std::vector<FileFilter> filters;
  std::string defaultSuffix;  // without the dot, e.g. "ort"; empty for none
  std::string proposedName;   // file name the dialog proposes
  std::string startFolder;    // empty: the process's current directory
  Owner owner;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with one OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                           Owner owner) = 0;
  // A modal Yes/No question; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption, Owner owner) = 0;
  // A modal Yes/No question whose No throws data away (the close questions): Esc and the box's
  // close button withdraw it (Cancel) instead of answering No. Yes and No stay the only buttons.
  // Without a way to withdraw, it is AskYesNo.
  virtual Answer AskYesNoOrCancel(const std::string& text, const std::string& caption,
                                  Owner owner) {
    return AskYesNo(text, caption, owner) ? Answer::Yes : Answer::No;
  }
  // The question about data not yet saved (a window closing, other data opened over them, a
  // computation from edited points): save (Yes), don't save (No) or cancel, naming `file` (empty
  // while the data have no file). Esc and the box's close button cancel. Without a box of its
  // own, it is AskYesNoOrCancel.
  virtual Answer AskToSave(const std::string& text, const std::string& caption,
                           const std::string& file, Owner owner) {
    static_cast<void>(file);
    return AskYesNoOrCancel(text, caption, owner);
  }
  // The open dialog; the chosen full path, or nothing when cancelled. Confirming makes the
  // chosen file's folder the process's current directory.
  virtual std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) = 0;
  // The save dialog; the chosen full path (default suffix applied), or nothing when cancelled.
  virtual std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) = 0;
  // The status bar text; shown at once (repainted) when called during a computation.
  virtual void SetStatusText(const std::string& text) = 0;
  // The busy cursor on (true) or back to the previous one (false).
  virtual void SetBusy(bool busy) = 0;

  // Shows a failure's message (no owner window).
  void ShowFailure(const Failure& failure) {
    ShowMessage(failure.text, failure.caption, failure.icon, Owner{});
  }
};

// Sets the busy cursor for its lifetime and restores the previous one on every way out.
class TWaitCursor {
 public:
  explicit TWaitCursor(UserInterface& ui) : ui_(ui) { ui_.SetBusy(true); }
  ~TWaitCursor() { ui_.SetBusy(false); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  UserInterface& ui_;
};

}  // namespace zelv
