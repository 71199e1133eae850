#include "app/result_file.h"

#include <exception>

#include "files/ort_file.h"
#include "files/text_file.h"

namespace zelv {

namespace {

Failure WriteFailure() { return Failure{"Ошибка записи ort-файла!", "Ошибка!"}; }

}  // namespace

std::vector<std::string> ResultFileLines(const Orientation& orientation) {
  return OrtFileLines(orientation.centre, orientation.texts, orientation.decimalSeparator);
}

Expected<void> WriteResultFile(const std::string& path, const Orientation& orientation) {
  try {
    SaveTextLines(path, ResultFileLines(orientation));
    return Success();
  } catch (const std::exception&) {
    Failure failure = WriteFailure();
    failure.input = FailedInput::kOutput;
    return failure;
  }
}

SaveOutcome SaveResultFile(const Orientation& orientation, const std::string& imageFileName,
                           UserInterface& ui, Owner mainWindow, std::string* writtenPath) {
  Expected<void> written = Success();
  try {
    FileDialogRequest request;
    request.filters = {{"Orientation Files (*.ort)", "*.ort"}};
    request.defaultSuffix = "ort";
    request.proposedName = DefaultOrtName(imageFileName);
    request.owner = mainWindow;
    const std::optional<std::string> chosen = ui.ChooseSaveFile(request);
    if (!chosen) return SaveOutcome::Cancelled;
    if (FileExists(*chosen) &&
        !ui.AskYesNo("Файл " + FileNameOf(*chosen) + " уже существует. Перезаписать?",
                     "Предупреждение", mainWindow))
      return SaveOutcome::Declined;
    written = WriteResultFile(*chosen, orientation);
    if (written && writtenPath != nullptr) *writtenPath = *chosen;
  } catch (const std::exception&) {
    written = WriteFailure();
  }
  if (!written) {
    const Failure& failure = written.error();
    ui.ShowMessage(failure.text, failure.caption, failure.icon, mainWindow);
    return SaveOutcome::Failed;
  }
  return SaveOutcome::Written;
}

}  // namespace zelv
