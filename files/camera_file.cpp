#include "files/camera_file.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "base/number_text.h"
#include "base/zelv_error.h"
#include "files/calibration_file.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"

namespace zelv {

const char* const kCameraRowLabels[8] = {
    "Координата X центра изображения (пикс.)",
    "Координата Y центра изображения (пикс.)",
    "Таблица коррекции",
    "Фокусное расстояние (пикс.)",
    "Ширина изображения (пикс.)",
    "Высота изображения (пикс.)",
    "Координата X главной точки (пикс.)",
    "Координата Y главной точки (пикс.)",
};

const char* const kCameraLineComments[8] = {
    " ; Координата X центра изображения",
    " ; Координата Y центра изображения",
    " ; Таблица коррекции",
    " ; Фокусное расстояние",
    " ; Размер изображения по горизонтали",
    " ; Размер изображения по вертикали",
    " ; Координата X главной точки",
    " ; Координата Y главной точки",
};

namespace {

// The number before the first ';' of a camera file line.
double ReadValue(const std::string& line) {
  const SplitLine split = SplitAtFirstSemicolon(line);
  if (!split.hasSemicolon) throw ZelvError("В строке нет ';'");
  return ReadNumber(split.first);
}

// The folder against which the table name is taken: the camera file's path up to and including
// its last '/'. A path without '/' gives the current folder. The root folder "/" stays "/" here,
// so a camera file at "/x.cam" looks for its table beside it.
std::string CameraFolder(const std::string& cameraPath) {
  const std::size_t slash = cameraPath.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return cameraPath.substr(0, slash + 1);
}

// The table name of line 3: the text before the first ';' less trailing blanks, with any '\'
// (a name written on Windows) turned into '/'.
std::string TableName(const std::string& line) {
  const SplitLine split = SplitAtFirstSemicolon(line);
  std::string name = split.first;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) throw ZelvError("Не задана таблица коррекции");
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// No camera file is larger: the check of the outputs never reads a large file to find a table.
constexpr std::size_t kLargestCameraFileLooked = 64 * 1024;

// Where a missing file was looked for: its folder as an absolute path (a relative name is taken
// against the current folder, as the open does), or that this folder does not exist.
std::string SearchedFolderText(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code error;
  const std::string folder = FolderOf(name).empty() ? std::string(".") : FolderOf(name);
  fs::path absolute = fs::absolute(folder, error);
  if (error) absolute = folder;
  std::string text = absolute.lexically_normal().string();  // "/a/./b/" -> "/a/b/"
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (!fs::is_directory(text, error)) return "Папки " + text + " нет.";
  return "Искали в папке " + text;
}

}  // namespace

std::optional<std::string> CorrectionTablePath(const std::string& cameraFile) {
  // A pipe is left to its reader, which alone may read it.
  if (!FileExists(cameraFile)) return std::nullopt;
  try {
    const std::string text = DecodeText(ReadInputFile(cameraFile, kLargestCameraFileLooked));
    const std::vector<std::string_view> lines = SplitLines(text);
    if (lines.size() < 3) return std::nullopt;
    return CameraFolder(cameraFile) + TableName(std::string(lines[2]));
  } catch (const ZelvError&) {
    return std::nullopt;
  }
}

Expected<void> CheckFileExists(const std::string& name) {
  // A FIFO or a device exists: the reader then refuses it with its own message.
  if (FileExists(name) || IsSpecialFile(name)) return Success();
  return Failure{"Файл " + name + " не найден!\n" + SearchedFolderText(name)};
}

Expected<void> ReadCameraFile(const std::string& name, InteriorGeometry& geometry) {
  if (Expected<void> found = CheckFileExists(name); !found) return found;
  geometry.Lens.reset();
  std::string bytes;
  try {
    bytes = ReadInputFile(name);
    const std::string text = DecodeText(bytes);
    const std::vector<std::string_view> views = SplitLines(text);
    const std::vector<std::string> lines(views.begin(), views.end());
    auto line = [&lines](std::size_t index) -> const std::string& {
      if (index >= lines.size()) throw ZelvError("В cam-файле меньше шести строк");
      return lines[index];
    };
    geometry.ImageCentreX = ReadValue(line(0));
    geometry.ImageCentreY = ReadValue(line(1));
    {
      const std::string tablePath = CameraFolder(name) + TableName(line(2));
      // Loaded completely before it replaces the old lines, which stay when it fails.
      std::vector<std::string> table = LoadTextLines(tablePath);
      geometry.CorrectionTable.swap(table);
    }
    {
      const SplitLine focal = SplitAtFirstSemicolon(line(3));
      if (!focal.hasSemicolon) throw ZelvError("В строке нет ';'");
      geometry.FocalLength =
          (focal.first.empty() || focal.first == " ") ? -1.0 : ReadNumber(focal.first);
    }
    geometry.ImageWidth = ReadValue(line(4));
    geometry.ImageHeight = ReadValue(line(5));
    return Success();
  } catch (const std::exception&) {
    // A file in a format the detection did not tell (UTF-16, YAML without its header, COLMAP in
    // small letters) gets the reason on a second line.
    if (const std::optional<std::string> why = UnrecognisedCameraFormat(bytes))
      return Failure{"Ошибка чтения cam-файла!\n" + *why};
    return Failure{"Ошибка чтения cam-файла!"};
  }
}

}  // namespace zelv
