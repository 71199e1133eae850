#include "app/result_file.h"

#include <exception>

#include "files/text_file.h"

namespace zelv {

const char* const kResultFileComments[kResultCount] = {
    " ; Координата X центра проекции в системе координат сцены",
    " ; Координата Y центра проекции в системе координат сцены",
    " ; Координата Z центра проекции в системе координат сцены",
    " ; Координата X точки визирования в системе координат сцены",
    " ; Координата Y точки визирования в системе координат сцены",
    " ; Расстояние от центра проекции до точки визирования",
    " ; Продольный угол поворота камеры (градусы, фотограмм.)",
    " ; Поперечный угол поворота камеры (градусы, фотограмм.)",
    " ; Угол поворота изображения (градусы, фотограмм.)",
    " ; Угол поворота сцены вокруг поперечной оси (градусы, стенд.)",
    " ; Угол поворота сцены вокруг орбитальной оси (градусы, стенд.)",
    " ; Угол поворота изображения (градусы, стенд.)",
    " ; Косинус угла xx",
    " ; Косинус угла xy",
    " ; Косинус угла xz",
    " ; Косинус угла yx",
    " ; Косинус угла yy",
    " ; Косинус угла yz",
    " ; Косинус угла zx",
    " ; Косинус угла zy",
    " ; Косинус угла zz",
};

std::string DefaultOrtName(const std::string& imageFileName) {
  const std::string name = FileNameOf(imageFileName);
  const std::size_t dot = name.find('.');
  // A name without a dot proposes the bare extension.
  return (dot == std::string::npos ? std::string() : name.substr(0, dot)) + ".ort";
}

std::vector<std::string> ResultFileLines(const OrientationState& state) {
  std::vector<std::string> lines;
  lines.reserve(kResultCount);
  const char sep = state.DecimalSeparator;
  lines.push_back(FormatFixed4(state.ProjectionCentre.x, sep) + kResultFileComments[kCentreX]);
  lines.push_back(FormatFixed4(state.ProjectionCentre.y, sep) + kResultFileComments[kCentreY]);
  lines.push_back(FormatFixed4(state.ProjectionCentre.z, sep) + kResultFileComments[kCentreZ]);
  for (int i = kSightingX; i < kResultCount; ++i)
    lines.push_back(state.Results[i] + kResultFileComments[i]);
  return lines;
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
