#include "app/result_file.h"

#include <exception>

#include "files/ort_file.h"
#include "files/text_file.h"

namespace zelv {

std::vector<std::string> ResultFileLines(const OrientationState& state) {
  return OrtFileLines(state.ProjectionCentre, state.Results, state.DecimalSeparator);
}

void WriteResultFile(const std::string& path, const OrientationState& state) {
  SaveTextLines(path, ResultFileLines(state));
}

SaveOutcome SaveResultFile(OrientationState& state, UserInterface& ui, Owner mainWindow) {
  try {
    FileDialogRequest request;
    request.filters = {{"Orientation Files (*.ort)", "*.ort"}};
    request.defaultSuffix = "ort";
    request.proposedName = DefaultOrtName(state.ImageFileName);
    request.owner = mainWindow;
    const std::optional<std::string> chosen = ui.ChooseSaveFile(request);
    if (!chosen) return SaveOutcome::Cancelled;
    const std::vector<std::string> lines = ResultFileLines(state);
    if (FileExists(*chosen) &&
        !ui.AskYesNo("Файл " + FileNameOf(*chosen) + " уже существует. Перезаписать?",
                     "Предупреждение", mainWindow))
      return SaveOutcome::Declined;
    SaveTextLines(*chosen, lines);
  } catch (const std::exception&) {
    ui.ShowMessage("Ошибка записи ort-файла!", "Ошибка!", MessageIcon::None, mainWindow);
    return SaveOutcome::Failed;
  }
  // Only a written file makes the result saved; declining or a failed write keep it unsaved so
  // that the save command and the close question still offer it.
  state.ResultSaved = true;
  state.SaveEnabled = false;
  return SaveOutcome::Written;
}

}  // namespace zelv
