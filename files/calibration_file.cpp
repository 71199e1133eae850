#include "files/calibration_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <opencv2/core.hpp>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "base/number_text.h"
#include "base/shown_text.h"
#include "base/zelv_error.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"

namespace zelv {
namespace {

const char kReadError[] = "Ошибка чтения файла калибровки камеры: ";

// A calibration file is small; a larger one is not a calibration and is refused before it is
// parsed, so that a wrong file named by mistake costs no time or memory.
constexpr std::size_t kLargestCalibrationFile = 1024 * 1024;

// The bytes the format detection looks at: the first line of a COLMAP list or the header of an
// OpenCV file, after blanks.
constexpr std::size_t kDetectionHead = 4096;

// OpenCV's parsers descend one call per nesting level and overflow the stack on a few thousand;
// a calibration nests three deep. Text nested deeper than these limits is refused unparsed.
constexpr int kDeepestNesting = 64;
constexpr std::size_t kWidestIndent = 200;

// The limits beyond which a value is taken for a mistake: no camera has a focal length or an
// image of millions of pixels, and larger coefficients only overflow the model.
constexpr double kLargestPixels = 1e7;
constexpr double kLargestCoefficient = 1e6;

[[noreturn]] void Fail(const std::string& reason) { throw ZelvError(kReadError + reason + "!"); }

// The bytes of a calibration file, through the guarded open of every input (files/text_file.h).
std::string ReadBytes(const std::string& path, std::size_t limit) {
  try {
    return ReadInputFile(path, limit);
  } catch (const InputFileError& error) {
    switch (error.reason()) {
      case InputFileError::Reason::kCannotOpen:
        Fail("файл не открывается");
      case InputFileError::Reason::kTooLarge:
        Fail("файл слишком велик для файла калибровки");
      default:
        Fail("файл не читается");
    }
  }
}

// The text after a UTF-8 byte-order mark and leading blanks.
std::string_view Content(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t\r", at);
    if (at == std::string_view::npos) break;
    std::size_t end = line.find_first_of(" \t\r", at);
    if (end == std::string_view::npos) end = line.size();
    tokens.push_back(line.substr(at, end - at));
    at = end;
  }
  return tokens;
}

bool ParseDouble(std::string_view token, double& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size() &&
         std::isfinite(value);
}

bool ParseInteger(std::string_view token, long long& value) {
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

// A COLMAP model name: capital letters, digits and '_', beginning with a letter.
bool LooksLikeModelName(std::string_view token) {
  if (token.empty() || token.front() < 'A' || token.front() > 'Z') return false;
  for (char c : token)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

CameraFileFormat FormatOf(std::string_view text) {
  const std::string_view content = Content(text);
  for (std::string_view start : {"%YAML", "---", "<?xml", "<opencv_storage", "{"})
    if (StartsWith(content, start)) return CameraFileFormat::OpenCvStorage;
  if (StartsWith(content, "#")) return CameraFileFormat::ColmapCameras;
  const std::vector<std::string_view> first = Tokens(content.substr(0, content.find('\n')));
  long long id = 0;
  if (first.size() >= 2 && ParseInteger(first[0], id) && LooksLikeModelName(first[1]))
    return CameraFileFormat::ColmapCameras;
  return CameraFileFormat::CamFile;
}

void CheckFinite(double value, double limit, const char* what) {
  if (!std::isfinite(value) || std::fabs(value) > limit)
    Fail(std::string("недопустимое значение ") + what);
}

// The checks every camera passes, whichever file it came from.
void CheckCalibration(const LensCalibration& c) {
  CheckFinite(c.fx, kLargestPixels, "fx");
  CheckFinite(c.fy, kLargestPixels, "fy");
  CheckFinite(c.cx, kLargestPixels, "cx");
  CheckFinite(c.cy, kLargestPixels, "cy");
  CheckFinite(c.skew, kLargestPixels, "перекоса");
  if (!(c.fx > 0) || !(c.fy > 0)) Fail("фокусные расстояния fx и fy должны быть больше нуля");
  // fx and fy below a thousandth of a pixel make the normalised coordinates overflow.
  if (c.fx < 1e-3 || c.fy < 1e-3) Fail("фокусные расстояния fx и fy слишком малы");
  for (double k : c.coefficients) CheckFinite(k, kLargestCoefficient, "коэффициента дисторсии");
  if (!(c.imageWidth >= 1 && c.imageWidth <= kLargestPixels) ||
      !(c.imageHeight >= 1 && c.imageHeight <= kLargestPixels))
    Fail("ширина и высота изображения должны быть от 1 до 10000000 пикселей");
}

// ---------------------------------------------------------------- OpenCV FileStorage

// The numbers of a node: an OpenCV matrix, a map with "data" (as other tools write a matrix), a
// sequence of numbers or of sequences of numbers, or one number. A matrix of more than `largest`
// elements is refused before it is allocated.
std::vector<double> NodeNumbers(const cv::FileNode& node, const char* what, double largest = 64) {
  std::vector<double> numbers;
  if (node.isMap()) {
    cv::Mat matrix;
    if (!node["dt"].empty()) {
      // No matrix of a calibration is larger than its covariance; a larger size is not allocated.
      const cv::FileNode rows = node["rows"];
      const cv::FileNode cols = node["cols"];
      if (!rows.isInt() || !cols.isInt() || rows.real() < 1 || cols.real() < 1 ||
          rows.real() * cols.real() > largest)
        Fail(std::string("не читается ") + what);
      node >> matrix;
      if (matrix.empty() || matrix.channels() != 1) Fail(std::string("не читается ") + what);
      matrix.convertTo(matrix, CV_64F);
      for (int r = 0; r < matrix.rows; ++r)
        for (int col = 0; col < matrix.cols; ++col) numbers.push_back(matrix.at<double>(r, col));
      return numbers;
    }
    return NodeNumbers(node["data"], what, largest);
  }
  if (node.isSeq()) {
    for (cv::FileNodeIterator it = node.begin(); it != node.end(); ++it) {
      const cv::FileNode item = *it;
      if (item.isSeq()) {
        for (double v : NodeNumbers(item, what, largest)) numbers.push_back(v);
      } else if (item.isInt() || item.isReal()) {
        numbers.push_back(item.real());
      } else {
        Fail(std::string("не читается ") + what);
      }
    }
    return numbers;
  }
  if (node.isInt() || node.isReal()) return {node.real()};
  Fail(std::string("не читается ") + what);
}

cv::FileNode FirstOf(const cv::FileStorage& storage, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    cv::FileNode node = storage[key];
    if (!node.empty() && !node.isNone()) return node;
  }
  return cv::FileNode();
}

double ImageSide(const cv::FileStorage& storage, const char* key) {
  const cv::FileNode node = storage[key];
  if (node.empty() || !(node.isInt() || node.isReal()))
    Fail("нет размера изображения (image_width и image_height)");
  return node.real();
}

// True when the text nests no deeper than kDeepestNesting in brackets, braces, XML elements or
// YAML's block indicators, and indents no line by more than kWidestIndent (YAML's block nesting).
// A "- " (or "? ") opens a level of its own as YAML's block sequences (and complex keys) do, also
// many on one line ("- - - 1", or after a key), so each one that follows the line's start, a
// blank, a ':' or another indicator counts; a '-' of a number ("-0.2") is followed by no blank and
// does not. Quotes are not looked at: a calibration has no brackets in its texts.
bool ShallowEnough(std::string_view text) {
  int brackets = 0;
  int elements = 0;
  int indicators = 0;  // block indicators on the current line
  std::size_t indent = 0;
  bool lineStart = true;
  char previous = '\n';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\n';
    if (ch == '\n') {
      lineStart = true;
      indent = 0;
      indicators = 0;
      previous = ch;
      continue;
    }
    if (lineStart && (ch == ' ' || ch == '\t')) {
      if (++indent > kWidestIndent) return false;
      previous = ch;
      continue;
    }
    lineStart = false;
    if ((ch == '-' || ch == '?') && (next == ' ' || next == '\t' || next == '\r' || next == '\n') &&
        (previous == ' ' || previous == '\t' || previous == '\n' || previous == ':')) {
      if (++indicators > kDeepestNesting) return false;
    }
    if (ch == '[' || ch == '{') ++brackets;
    if (ch == ']' || ch == '}') --brackets;
    if (ch == '<' && next == '/')
      --elements;
    else if (ch == '<' && next != '?' && next != '!')
      ++elements;
    if (ch == '/' && next == '>') --elements;
    if (brackets > kDeepestNesting || elements > kDeepestNesting ||
        brackets + indicators > kDeepestNesting)
      return false;
    previous = ch;
  }
  return true;
}

// True when the text holds no control character but tab, line feed and carriage return: a
// calibration file is text, and OpenCV's parsers read past a NUL in their header.
bool PlainText(const std::string& text) {
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') return false;
    if (byte == 0x7F) return false;
  }
  return true;
}

// The covariance of the n intrinsics under "intrinsics_covariance": n x n, finite, symmetric to
// a relative 1e-9 (made exactly symmetric: writers round the two halves apart), no negative
// variance.
std::vector<double> IntrinsicsCovariance(const cv::FileNode& node, std::size_t n) {
  const char* what = "ковариационная матрица параметров камеры (intrinsics_covariance)";
  std::vector<double> m = NodeNumbers(node, what, static_cast<double>(n * n));
  if (m.size() != n * n)
    Fail(std::string("ковариационная матрица параметров камеры (intrinsics_covariance) должна "
                     "быть ") +
         std::to_string(n) + " × " + std::to_string(n) + " по числу параметров камеры");
  for (double v : m)
    if (!std::isfinite(v))
      Fail(
          "недопустимое значение в ковариационной матрице параметров камеры "
          "(intrinsics_covariance)");
  for (std::size_t i = 0; i < n; ++i) {
    if (m[i * n + i] < 0)
      Fail(
          "отрицательная дисперсия в ковариационной матрице параметров камеры "
          "(intrinsics_covariance)");
    for (std::size_t j = i + 1; j < n; ++j) {
      const double a = m[i * n + j], b = m[j * n + i];
      const double scale =
          std::max({std::fabs(a), std::fabs(b), std::sqrt(m[i * n + i] * m[j * n + j])});
      if (std::fabs(a - b) > 1e-9 * scale)
        Fail("ковариационная матрица параметров камеры (intrinsics_covariance) несимметрична");
      m[i * n + j] = m[j * n + i] = 0.5 * (a + b);
    }
  }
  return m;
}

LensCalibration ParseOpenCvStorage(const std::string& text) {
  if (!PlainText(text) || !ShallowEnough(text)) Fail("файл не разбирается как файл OpenCV");
  LensCalibration c;
  c.format = CameraFileFormat::OpenCvStorage;
  cv::FileStorage storage(text, cv::FileStorage::READ | cv::FileStorage::MEMORY);
  if (!storage.isOpened()) Fail("файл не разбирается как файл OpenCV");

  const cv::FileNode matrixNode = FirstOf(storage, {"camera_matrix", "K"});
  if (matrixNode.empty()) Fail("нет матрицы камеры (camera_matrix или K)");
  const std::vector<double> k = NodeNumbers(matrixNode, "матрица камеры");
  if (k.size() != 9 || k[3] != 0 || k[6] != 0 || k[7] != 0 || k[8] != 1)
    Fail("матрица камеры должна быть 3 × 3 вида [fx s cx; 0 fy cy; 0 0 1]");
  c.fx = k[0];
  c.skew = k[1];
  c.cx = k[2];
  c.fy = k[4];
  c.cy = k[5];

  std::string model;
  const cv::FileNode modelNode = storage["distortion_model"];
  if (modelNode.isString()) model = modelNode.string();
  const bool fisheye = model == "fisheye" || model == "equidistant";
  const cv::FileNode distortionNode = FirstOf(storage, {"distortion_coefficients", "D"});
  if (distortionNode.empty()) Fail("нет коэффициентов дисторсии (distortion_coefficients или D)");
  c.coefficients = NodeNumbers(distortionNode, "коэффициенты дисторсии");
  const std::size_t n = c.coefficients.size();
  if (fisheye) {
    if (n != 4) Fail("у модели fisheye должно быть 4 коэффициента дисторсии");
    c.kind = LensModelKind::Fisheye;
    c.modelName = "OpenCV fisheye";
  } else {
    if (n != 4 && n != 5 && n != 8 && n != 12 && n != 14)
      Fail("коэффициентов дисторсии должно быть 4, 5, 8, 12 или 14");
    c.kind = LensModelKind::OpenCv;
    c.modelName = "OpenCV";
  }
  c.imageWidth = ImageSide(storage, "image_width");
  c.imageHeight = ImageSide(storage, "image_height");
  const cv::FileNode covarianceNode = storage["intrinsics_covariance"];
  if (!covarianceNode.empty() && !covarianceNode.isNone())
    c.intrinsicsCovariance = IntrinsicsCovariance(covarianceNode, IntrinsicNames(c).size());
  return c;
}

// ---------------------------------------------------------------- COLMAP cameras.txt

struct ColmapModel {
  const char* name;
  std::size_t parameters;
};

const ColmapModel kColmapModels[] = {
    {"SIMPLE_PINHOLE", 3}, {"PINHOLE", 4},      {"SIMPLE_RADIAL", 4},  {"RADIAL", 5},
    {"OPENCV", 8},         {"FULL_OPENCV", 12}, {"OPENCV_FISHEYE", 8},
};

// The model's name in capitals when `token` is a model COLMAP knows written in another case
// ("pinhole"), else nothing.
const char* ColmapModelInCapitals(std::string_view token) {
  for (const ColmapModel& m : kColmapModels) {
    const std::string_view name = m.name;
    if (token.size() != name.size() || token == name) continue;
    bool same = true;
    for (std::size_t i = 0; i < token.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(token[i])) == name[i];
    if (same) return m.name;
  }
  return nullptr;
}

// One camera line: CAMERA_ID MODEL WIDTH HEIGHT PARAMS...
LensCalibration ParseColmapCamera(const std::vector<std::string_view>& t, long long id) {
  LensCalibration c;
  c.format = CameraFileFormat::ColmapCameras;
  c.cameraId = static_cast<int>(id);
  c.modelName = std::string(t[1]);
  const ColmapModel* model = nullptr;
  for (const ColmapModel& m : kColmapModels)
    if (t[1] == m.name) model = &m;
  if (model == nullptr) {
    if (const char* capitals = ColmapModelInCapitals(t[1]))
      Fail("модель камеры " + ShownName(c.modelName) +
           " записана не заглавными буквами: COLMAP пишет " + capitals);
    Fail("модель камеры " + ShownName(c.modelName) + " не поддерживается");
  }
  if (t.size() != 4 + model->parameters)
    Fail("у модели " + c.modelName + " должно быть " + std::to_string(model->parameters) +
         " параметров");
  // COLMAP writes the image's size in whole pixels; "640.5" is a damaged or a hand-made line.
  for (int side = 2; side <= 3; ++side) {
    long long pixels = 0;
    if (!ParseInteger(t[side], pixels)) {
      double value = 0;
      Fail(std::string(side == 2 ? "ширина" : "высота") + " изображения камеры " +
           std::to_string(id) + " «" + ShownName(t[side]) + "» " +
           (ParseDouble(t[side], value) ? "не целое число пикселей" : "не число"));
    }
    (side == 2 ? c.imageWidth : c.imageHeight) = static_cast<double>(pixels);
  }
  std::vector<double> p(model->parameters);
  for (std::size_t i = 0; i < p.size(); ++i)
    if (!ParseDouble(t[4 + i], p[i]))
      Fail("не читается параметр " + std::to_string(i + 1) + " камеры " + std::to_string(id));

  const std::string& name = c.modelName;
  double cx = 0, cy = 0;
  if (name == "SIMPLE_PINHOLE" || name == "SIMPLE_RADIAL" || name == "RADIAL") {
    c.fx = c.fy = p[0];
    cx = p[1];
    cy = p[2];
    if (name == "SIMPLE_RADIAL") c.coefficients = {p[3], 0, 0, 0};
    if (name == "RADIAL") c.coefficients = {p[3], p[4], 0, 0};
  } else {
    c.fx = p[0];
    c.fy = p[1];
    cx = p[2];
    cy = p[3];
    c.coefficients.assign(p.begin() + 4, p.end());
  }
  // COLMAP puts the centre of the top-left pixel at (0.5, 0.5), ZELV at (0, 0)
  // (files/lens_model.h).
  c.cx = cx - kColmapPixelOffset;
  c.cy = cy - kColmapPixelOffset;
  c.kind = name == "OPENCV_FISHEYE" ? LensModelKind::Fisheye
           : c.coefficients.empty() ? LensModelKind::Pinhole
                                    : LensModelKind::OpenCv;
  return c;
}

LensCalibration ParseColmapCameras(const std::string& text, int cameraId) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  // Every line is looked at: a CAMERA_ID given twice is an error wherever it is, not the first
  // one taken silently.
  std::unordered_map<long long, int> lineOfId;
  std::optional<LensCalibration> chosen;
  while (std::getline(in, line)) {
    ++number;
    std::string_view view = line;
    if (number == 1 && StartsWith(view, "\xEF\xBB\xBF")) view.remove_prefix(3);
    const std::vector<std::string_view> t = Tokens(view);
    if (t.empty() || t[0].front() == '#') continue;
    long long id = 0;
    if (t.size() < 4 || !ParseInteger(t[0], id) || id < 0 || id > 2147483647)
      Fail("строка " + std::to_string(number) + " не является описанием камеры");
    if (const auto [at, added] = lineOfId.emplace(id, number); !added)
      Fail("камера с номером " + std::to_string(id) + " описана дважды, в строках " +
           std::to_string(at->second) + " и " + std::to_string(number));
    if (!chosen && (cameraId == 0 || id == cameraId)) chosen = ParseColmapCamera(t, id);
  }
  if (chosen) return *chosen;
  if (cameraId == 0) Fail("в списке нет ни одной камеры");
  Fail("в списке нет камеры с номером " + std::to_string(cameraId));
}

}  // namespace

CameraFileFormat DetectCameraFileFormat(const std::string& path) {
  try {
    return FormatOf(ReadInputHead(path, kDetectionHead));
  } catch (const ZelvError&) {
    return CameraFileFormat::CamFile;
  }
}

std::optional<std::string> UnrecognisedCameraFormat(std::string_view bytes) {
  const std::string head = "Формат файла не распознан: ";
  // UTF-16: its byte-order mark, or the zero bytes between ASCII characters.
  if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF") ||
      (bytes.size() >= 4 && ((bytes[1] == '\0' && bytes[3] == '\0' && bytes[0] != '\0') ||
                             (bytes[0] == '\0' && bytes[2] == '\0' && bytes[1] != '\0'))))
    return head + "файл в кодировке UTF-16; сохраните его в UTF-8 или Windows-1251.";
  const std::string_view content = Content(bytes.substr(0, kDetectionHead));
  // The keys of an OpenCV calibration at the start of a line, without the header OpenCV needs.
  std::size_t at = 0;
  while (at < content.size()) {
    const std::size_t end = std::min(content.find('\n', at), content.size());
    std::string_view line = content.substr(at, end - at);
    at = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    for (const char* known : {"camera_matrix", "K", "distortion_coefficients", "D", "image_width",
                              "image_height", "distortion_model"})
      if (key == known)
        return head + "похож на файл калибровки OpenCV в YAML, но в его начале нет строки " +
               "«%YAML:1.0», без которой OpenCV его не читает; добавьте её первой строкой.";
  }
  // A COLMAP camera line whose model is not in capitals.
  const std::vector<std::string_view> first = Tokens(content.substr(0, content.find('\n')));
  long long id = 0;
  if (first.size() >= 2 && ParseInteger(first[0], id))
    if (const char* capitals = ColmapModelInCapitals(first[1]))
      return head + "похож на список камер COLMAP, но модель камеры «" + ShownName(first[1]) +
             "» записана не заглавными буквами; COLMAP пишет " + capitals + ".";
  return std::nullopt;
}

LensCalibration LoadCalibrationFile(const std::string& path, int cameraId) {
  const std::string text = ReadBytes(path, kLargestCalibrationFile);
  LensCalibration c;
  switch (FormatOf(text)) {
    case CameraFileFormat::OpenCvStorage:
      if (cameraId != 0) Fail("номер камеры задаётся только для списка камер COLMAP");
      try {
        c = ParseOpenCvStorage(text);
      } catch (const ZelvError&) {
        throw;
      } catch (const std::exception&) {
        // cv::Exception, and the standard exceptions OpenCV's parsers let out on damaged text.
        Fail("файл не разбирается как файл OpenCV");
      }
      break;
    case CameraFileFormat::ColmapCameras:
      c = ParseColmapCameras(text, cameraId);
      break;
    case CameraFileFormat::CamFile:
      if (const std::optional<std::string> why = UnrecognisedCameraFormat(text))
        throw ZelvError(std::string(kReadError) + "это не файл OpenCV и не список камер COLMAP!\n" +
                        *why);
      Fail("это не файл OpenCV и не список камер COLMAP");
  }
  CheckCalibration(c);
  return c;
}

Expected<void> ReadCalibrationFile(const std::string& path, int cameraId,
                                   InteriorGeometry& geometry) {
  if (Expected<void> found = CheckFileExists(path); !found) return found;
  try {
    const LensCalibration c = LoadCalibrationFile(path, cameraId);
    geometry.ImageCentreX = c.cx;
    geometry.ImageCentreY = c.cy;
    geometry.FocalLength = c.fx;
    geometry.ImageWidth = c.imageWidth;
    geometry.ImageHeight = c.imageHeight;
    geometry.CorrectionTable.clear();
    geometry.Lens = c;
    return Success();
  } catch (const ZelvError& error) {
    return Failure{error.what()};
  } catch (const std::exception&) {
    return Failure{std::string(kReadError) + "файл не читается!"};
  }
}

namespace {

// The raw points just read (`read` the reader's outcome) through the calibration.
Expected<void> CalibratePoints(Expected<void> read, VT_Points& points,
                               const LensCalibration& calibration) {
  if (!read) {
    points.Clear();
    return read;
  }
  std::vector<PixelPoint> raw;
  raw.reserve(points.Count());
  for (int i = 0; i < points.Count(); ++i) raw.push_back({points.Get(i)->x, points.Get(i)->y});
  try {
    const std::vector<PixelPoint> corrected = RawToCorrected(calibration, raw);
    for (int i = 0; i < points.Count(); ++i) {
      points.Get(i)->x = corrected[i].x;
      points.Get(i)->y = corrected[i].y;
    }
    return Success();
  } catch (const ZelvError& error) {
    // No raw point may stay in the list to be taken for a corrected one.
    points.Clear();
    return Failure{error.what()};
  }
}

}  // namespace

Expected<void> ReadCalibratedImagePoints(const std::string& name, VT_Points& points,
                                         const LensCalibration& calibration,
                                         std::vector<std::string>* ids, PointExtras* extras) {
  return CalibratePoints(ReadRawImagePoints(name, points, ids, extras), points, calibration);
}

Expected<void> ReadCalibratedImagePoints(const GivenPoints& given, VT_Points& points,
                                         const LensCalibration& calibration,
                                         std::vector<std::string>* ids, PointExtras* extras) {
  return CalibratePoints(ReadRawImagePoints(given, points, ids, extras), points, calibration);
}

std::vector<std::string> DescribeCalibration(const LensCalibration& c, char separator) {
  auto number = [separator](double v) { return FormatGeneral(v, separator); };
  std::vector<std::string> lines;
  std::string model = "Lens model: " + c.modelName;
  if (c.format == CameraFileFormat::ColmapCameras)
    model += " (COLMAP camera " + std::to_string(c.cameraId) + ")";
  else
    model += " (OpenCV calibration file)";
  lines.push_back(model);
  lines.push_back("Camera matrix: fx " + number(c.fx) + " ; fy " + number(c.fy) + " ; cx " +
                  number(c.cx) + " ; cy " + number(c.cy) + " ; skew " + number(c.skew));
  static const char* const kOpenCvNames[14] = {"k1", "k2", "p1", "p2", "k3", "k4", "k5",
                                               "k6", "s1", "s2", "s3", "s4", "tx", "ty"};
  static const char* const kFisheyeNames[4] = {"k1", "k2", "k3", "k4"};
  std::string coefficients = "Coefficients:";
  if (c.coefficients.empty()) coefficients += " none";
  for (std::size_t i = 0; i < c.coefficients.size(); ++i) {
    const char* name = c.kind == LensModelKind::Fisheye ? kFisheyeNames[i] : kOpenCvNames[i];
    coefficients += (i == 0 ? " " : " ; ") + std::string(name) + " " + number(c.coefficients[i]);
  }
  lines.push_back(coefficients);
  const std::vector<std::string> names = IntrinsicNames(c);
  const std::size_t n = names.size();
  if (c.intrinsicsCovariance.size() == n * n) {
    std::string sigmas = "Sigma of the intrinsics:";
    for (std::size_t i = 0; i < n; ++i)
      sigmas += (i == 0 ? " " : " ; ") + names[i] + " " +
                number(std::sqrt(std::max(0.0, c.intrinsicsCovariance[i * n + i])));
    lines.push_back(sigmas);
  }
  return lines;
}

}  // namespace zelv
