#include "files/calibration_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <opencv2/core.hpp>
#include <optional>
#include <system_error>

#include "base/zelv_error.h"
#include "files/camera_file.h"
#include "files/correction_table.h"
#include "files/text_file.h"

namespace zelv {
namespace {

// The shortest text that reads back to the same double ('.' and, where needed, an exponent):
// what ReadNumber and OpenCV's and COLMAP's parsers all take.
std::string Exact(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool AllFinite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The camera is one ZELV reads: positive focal lengths, finite values, a coefficient count of its
// kind, a covariance of the intrinsics' count. A text saying what is wrong, or nothing.
std::optional<std::string> Unwritable(const LensCalibration& c) {
  const double values[] = {c.fx, c.fy, c.cx, c.cy, c.skew, c.imageWidth, c.imageHeight};
  for (double v : values)
    if (!std::isfinite(v)) return "параметры камеры содержат недопустимые значения";
  if (!AllFinite(c.coefficients) || !AllFinite(c.intrinsicsCovariance))
    return "параметры камеры содержат недопустимые значения";
  if (!(c.fx > 0) || !(c.fy > 0)) return "фокусные расстояния fx и fy должны быть больше нуля";
  if (!(c.imageWidth >= 1) || !(c.imageHeight >= 1)) return "не задан размер изображения";
  const std::size_t n = c.coefficients.size();
  if (c.kind == LensModelKind::Fisheye
          ? n != 4
          : (n != 0 && n != 4 && n != 5 && n != 8 && n != 12 && n != 14))
    return "число коэффициентов дисторсии не соответствует модели объектива";
  const std::size_t m = IntrinsicNames(c).size();
  if (!c.intrinsicsCovariance.empty() && c.intrinsicsCovariance.size() != m * m)
    return "размер ковариационной матрицы не соответствует числу параметров камеры";
  return std::nullopt;
}

Failure WriteFailure(const std::string& what, const std::string& path, const std::string& why) {
  return Failure{what + " " + path + " не записан: " + why + ".", "Ошибка!"};
}

cv::Mat Matrix(int rows, int cols, const std::vector<double>& values) {
  cv::Mat m(rows, cols, CV_64F);
  for (int i = 0; i < rows * cols; ++i) m.at<double>(i / cols, i % cols) = values[i];
  return m;
}

// ---------------------------------------------------------------- the correction table

// Raw pixel coordinates from the first pixel's outer edge to the last one's (ZELV's convention:
// the centre of the top-left pixel is 0), `count` of them evenly spaced.
std::vector<double> Samples(double side, int count) {
  std::vector<double> v(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) v[i] = -0.5 + side * i / (count - 1);
  return v;
}

// The corrected point (pixels of F = fx, y up, origin at the principal point) of each raw grid
// point, row by row (y outer). Raises ZelvError where the model cannot be inverted.
std::vector<PixelPoint> CorrectedGrid(const LensCalibration& c, const std::vector<double>& xs,
                                      const std::vector<double>& ys) {
  std::vector<PixelPoint> raw;
  raw.reserve(xs.size() * ys.size());
  for (double y : ys)
    for (double x : xs) raw.push_back({x, y});
  return RawToCorrected(c, raw);
}

// One band's polynomial in the raw coordinate v, fitted by least squares to (v, target) over
// [from, to]: fitted in t = (v − mid)/half for its conditioning, then expanded into powers of v
// as the table holds them.
std::vector<double> BandPolynomial(const std::vector<double>& v, const std::vector<double>& target,
                                   double from, double to, int degree) {
  const double mid = 0.5 * (from + to), half = 0.5 * (to - from);
  const int terms = degree + 1;
  cv::Mat A(0, terms, CV_64F), b(0, 1, CV_64F);
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] < from || v[i] > to) continue;
    cv::Mat row(1, terms, CV_64F);
    const double t = (v[i] - mid) / half;
    double power = 1;
    for (int k = 0; k < terms; ++k, power *= t) row.at<double>(0, k) = power;
    A.push_back(row);
    b.push_back(target[i]);
  }
  cv::Mat local;
  cv::solve(A, b, local, cv::DECOMP_SVD);
  // Σ c_k ((v − mid)/half)^k expanded by the binomial theorem into Σ a_j v^j.
  std::vector<double> a(static_cast<std::size_t>(terms), 0.0);
  for (int k = 0; k < terms; ++k) {
    const double ck = local.at<double>(k, 0) / std::pow(half, k);
    double binomial = 1;  // C(k, j)
    for (int j = 0; j <= k; ++j) {
      a[static_cast<std::size_t>(j)] += ck * binomial * std::pow(-mid, k - j);
      binomial = binomial * (k - j) / (j + 1);
    }
  }
  return a;
}

std::string Group(const std::vector<double>& a) {
  std::string text;
  for (double v : a) {
    text += ' ';
    text += Exact(v);
  }
  return text;
}

// The table's bands over the image: the corrected x as a function of the raw x alone (the mean
// over the image's rows), the corrected y of the raw y alone, both as piecewise cubics.
std::vector<std::string> FitTable(const LensCalibration& c) {
  constexpr int kBands = 16;
  constexpr int kDegree = 3;
  const int nx = 16 * kBands + 1, ny = 16 * kBands + 1;
  const std::vector<double> xs = Samples(c.imageWidth, nx);
  const std::vector<double> ys = Samples(c.imageHeight, ny);
  const std::vector<PixelPoint> grid = CorrectedGrid(c, xs, ys);
  // Px(x) = cx + corrected x; Py(y) = cy − corrected y (s = 1): the table's own form.
  std::vector<double> px(xs.size(), 0.0), py(ys.size(), 0.0);
  for (std::size_t j = 0; j < ys.size(); ++j)
    for (std::size_t i = 0; i < xs.size(); ++i) {
      const PixelPoint& p = grid[j * xs.size() + i];
      px[i] += (c.cx + p.x) / static_cast<double>(ys.size());
      py[j] += (c.cy - p.y) / static_cast<double>(xs.size());
    }
  std::vector<std::string> table = {"1"};
  for (int b = 0; b < kBands; ++b) {
    const double x1 = -0.5 + c.imageWidth * b / kBands;
    const double x2 = -0.5 + c.imageWidth * (b + 1) / kBands;
    const double y1 = -0.5 + c.imageHeight * b / kBands;
    const double y2 = -0.5 + c.imageHeight * (b + 1) / kBands;
    table.push_back(Exact(x1) + " " + Exact(y1) + " " + Exact(x2) + " " + Exact(y2) + " X" +
                    Group(BandPolynomial(xs, px, x1, x2, kDegree)) + " - Y" +
                    Group(BandPolynomial(ys, py, y1, y2, kDegree)) + " - ; ");
  }
  return table;
}

// The table's miss of the lens model (corrected pixels) on a grid finer than the fit's and
// between its samples, read back through the table reader itself.
CorrectionTableFit Misses(const LensCalibration& c, const std::vector<std::string>& table) {
  constexpr int kCount = 601;
  const std::vector<double> xs = Samples(c.imageWidth, kCount);
  const std::vector<double> ys = Samples(c.imageHeight, kCount);
  const std::vector<PixelPoint> grid = CorrectedGrid(c, xs, ys);
  CorrectionTableParser parser(table);
  std::vector<double> tx(xs.size()), ty(ys.size());
  for (std::size_t i = 0; i < xs.size(); ++i) tx[i] = parser.CorrectX(xs[i], c.cx);
  for (std::size_t j = 0; j < ys.size(); ++j) ty[j] = parser.CorrectY(ys[j], c.cy);
  CorrectionTableFit fit;
  double squares = 0;
  for (std::size_t j = 0; j < ys.size(); ++j)
    for (std::size_t i = 0; i < xs.size(); ++i) {
      const PixelPoint& p = grid[j * xs.size() + i];
      const double miss = std::hypot(tx[i] - p.x, ty[j] - p.y);
      fit.worstResidual = std::max(fit.worstResidual, miss);
      squares += miss * miss;
    }
  fit.rmsResidual = std::sqrt(squares / static_cast<double>(grid.size()));
  return fit;
}

}  // namespace

Expected<void> WriteOpenCvCalibration(const std::string& path, const LensCalibration& camera) {
  const char* what = "Файл калибровки";
  if (const std::optional<std::string> why = Unwritable(camera))
    return WriteFailure(what, path, *why);
  LensCalibration c = camera;
  // OpenCV's files always carry the distortion coefficients: a pinhole camera has four zeros,
  // and its covariance zero rows and columns for them.
  if (c.kind == LensModelKind::Pinhole || c.coefficients.empty()) {
    const std::size_t n = IntrinsicNames(c).size();
    c.kind = LensModelKind::OpenCv;
    c.coefficients.assign(4, 0.0);
    if (!c.intrinsicsCovariance.empty()) {
      std::vector<double> wider(8 * 8, 0.0);
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) wider[i * 8 + j] = c.intrinsicsCovariance[i * n + j];
      c.intrinsicsCovariance = std::move(wider);
    }
  }
  try {
    cv::FileStorage storage(".yml", cv::FileStorage::WRITE | cv::FileStorage::MEMORY);
    storage << "image_width" << static_cast<int>(std::lround(c.imageWidth));
    storage << "image_height" << static_cast<int>(std::lround(c.imageHeight));
    if (c.imageWidth != std::round(c.imageWidth) || c.imageHeight != std::round(c.imageHeight))
      return WriteFailure(what, path, "размер изображения должен быть целым числом пикселей");
    storage << "camera_matrix" << Matrix(3, 3, {c.fx, c.skew, c.cx, 0, c.fy, c.cy, 0, 0, 1});
    if (c.kind == LensModelKind::Fisheye)
      storage << "distortion_model"
              << "fisheye";
    storage << "distortion_coefficients"
            << Matrix(1, static_cast<int>(c.coefficients.size()), c.coefficients);
    if (!c.intrinsicsCovariance.empty()) {
      const int n = static_cast<int>(IntrinsicNames(c).size());
      storage << "intrinsics_covariance" << Matrix(n, n, c.intrinsicsCovariance);
    }
    ReplaceFile(path, storage.releaseAndGetString());
    return Success();
  } catch (const ZelvError& error) {
    return WriteFailure(what, path, error.what());
  } catch (const std::exception& error) {
    return WriteFailure(what, path, error.what());
  }
}

Expected<void> WriteColmapCamera(const std::string& path, const LensCalibration& camera) {
  const char* what = "Список камер COLMAP";
  if (const std::optional<std::string> why = Unwritable(camera))
    return WriteFailure(what, path, *why);
  const LensCalibration& c = camera;
  if (c.skew != 0)
    return WriteFailure(what, path, "модели камер COLMAP не допускают перекоса (skew)");
  if (c.imageWidth != std::round(c.imageWidth) || c.imageHeight != std::round(c.imageHeight))
    return WriteFailure(what, path, "размер изображения должен быть целым числом пикселей");
  std::vector<double> k = c.coefficients;
  std::string model;
  if (c.kind == LensModelKind::Fisheye) {
    model = "OPENCV_FISHEYE";
  } else if (k.empty()) {
    model = "PINHOLE";
  } else {
    if (std::any_of(k.begin() + std::min<std::ptrdiff_t>(8, static_cast<std::ptrdiff_t>(k.size())),
                    k.end(), [](double v) { return v != 0; }))
      return WriteFailure(
          what, path,
          "модели камер COLMAP не содержат коэффициентов тонкой призмы и наклона матрицы "
          "(s1–s4, τx, τy); сохраните калибровку в файле OpenCV");
    k.resize(std::min<std::size_t>(k.size(), 8), 0.0);
    const bool radialBeyondK2 =
        k.size() > 4 && std::any_of(k.begin() + 4, k.end(), [](double v) { return v != 0; });
    model = radialBeyondK2 ? "FULL_OPENCV" : "OPENCV";
    k.resize(radialBeyondK2 ? 8 : 4, 0.0);
  }
  std::string line = "1 " + model + " " + Exact(c.imageWidth) + " " + Exact(c.imageHeight) + " " +
                     Exact(c.fx) + " " + Exact(c.fy) + " " + Exact(c.cx + kColmapPixelOffset) +
                     " " + Exact(c.cy + kColmapPixelOffset);
  for (double v : k) {
    line += ' ';
    line += Exact(v);
  }
  const std::string text =
      "# Camera list with one line of data per camera:\n"
      "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n"
      "# Number of cameras: 1\n" +
      line + "\n";
  try {
    ReplaceFile(path, text);
    return Success();
  } catch (const ZelvError& error) {
    return WriteFailure(what, path, error.what());
  }
}

Expected<CorrectionTableFit> WriteCameraFileWithTable(const std::string& path,
                                                      const LensCalibration& camera, double bound) {
  const char* what = "Файл камеры";
  if (const std::optional<std::string> why = Unwritable(camera))
    return WriteFailure(what, path, *why);
  std::vector<std::string> table;
  CorrectionTableFit fit;
  try {
    table = FitTable(camera);
    fit = Misses(camera, table);
  } catch (const ZelvError&) {
    return WriteFailure(what, path,
                        "модель объектива не обращается на всём изображении, таблица коррекции "
                        "для неё не строится");
  } catch (const std::exception&) {
    return WriteFailure(what, path, "таблица коррекции не строится по этой модели объектива");
  }
  if (!(fit.worstResidual <= bound))
    return WriteFailure(
        what, path,
        "таблица коррекции отличается от модели объектива до " +
            (std::isfinite(fit.worstResidual) ? Exact(std::round(fit.worstResidual * 1e3) / 1e3)
                                              : std::string("бесконечности")) +
            " пикс. при допустимых " + Exact(bound) +
            " пикс. (её поправки по x зависят только от x, по y — только от y); сохраните "
            "калибровку в файле OpenCV");
  // The table beside the camera file, named after it.
  std::string name = FileNameOf(path);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  const std::string tableName = name + "_table.txt";
  const std::string tablePath = FolderOf(path) + tableName;
  if (tablePath == path)
    return WriteFailure(what, path, "имя файла камеры совпадает с именем таблицы коррекции");
  const std::vector<std::string> values = {
      Exact(camera.cx),         Exact(camera.cy),          tableName,        Exact(camera.fx),
      Exact(camera.imageWidth), Exact(camera.imageHeight), Exact(camera.cx), Exact(camera.cy)};
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < values.size(); ++i)
    lines.push_back(values[i] + kCameraLineComments[i]);
  try {
    SaveTextLines(tablePath, table);
    SaveTextLines(path, lines);
  } catch (const ZelvError& error) {
    return WriteFailure(what, path, error.what());
  }
  return fit;
}

}  // namespace zelv
