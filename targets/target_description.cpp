#include "targets/target_description.h"

#include <cmath>
#include <opencv2/aruco.hpp>
#include <opencv2/core.hpp>

#include "base/zelv_error.h"
#include "files/calibration_file.h"
#include "files/text_file.h"
#include "targets/target_dictionaries.h"

namespace zelv {
namespace {

// A board of more corners than any printed target holds is refused as a wrong file rather than
// left to exhaust the memory.
constexpr int kLargestSide = 1000;
constexpr long kLargestCorners = 1000000;

struct KindName {
  TargetKind kind;
  const char* name;
};
constexpr KindName kKindNames[] = {{TargetKind::kChessboard, "chessboard"},
                                   {TargetKind::kCircles, "circles"},
                                   {TargetKind::kAsymmetricCircles, "asymmetric_circles"},
                                   {TargetKind::kCharuco, "charuco"},
                                   {TargetKind::kArucoBoard, "aruco_board"},
                                   {TargetKind::kAprilTagGrid, "apriltag_grid"},
                                   {TargetKind::kSquares, "squares"},
                                   {TargetKind::kMarkers, "markers"}};

class Reader {
 public:
  Reader(const cv::FileNode& root, const std::string& path) : root_(root), path_(path) {}

  Failure Wrong(const std::string& key, const std::string& what) const {
    Failure failure;
    failure.text = "Ошибка в файле мишени " + path_ + ": " +
                   (key.empty() ? what : "ключ «" + key + "» — " + what) + "!";
    failure.icon = MessageIcon::Stop;
    return failure;
  }

  cv::FileNode Node(const std::string& key) const { return root_[key]; }
  bool Has(const std::string& key) const { return !root_[key].empty(); }

  Expected<std::string> Text(const std::string& key) const {
    const cv::FileNode node = root_[key];
    if (node.empty()) return Wrong(key, "не задан");
    if (!node.isString()) return Wrong(key, "должен быть словом");
    return node.string();
  }

  Expected<double> Number(const cv::FileNode& node, const std::string& key) const {
    if (node.empty()) return Wrong(key, "не задан");
    if (!node.isReal() && !node.isInt()) return Wrong(key, "должен быть числом");
    const double value = node.real();
    if (!std::isfinite(value)) return Wrong(key, "должен быть конечным числом");
    return value;
  }

  Expected<double> Positive(const std::string& key) const {
    Expected<double> value = Number(root_[key], key);
    if (!value) return value;
    if (!(*value > 0) || *value > 1e9) return Wrong(key, "размер должен быть больше нуля");
    return value;
  }

  Expected<int> Count(const std::string& key, int least) const {
    const cv::FileNode node = root_[key];
    if (node.empty()) return Wrong(key, "не задан");
    if (!node.isInt()) return Wrong(key, "должен быть целым числом");
    const int value = static_cast<int>(node);
    if (value < least || value > kLargestSide)
      return Wrong(
          key, "должен быть от " + std::to_string(least) + " до " + std::to_string(kLargestSide));
    return value;
  }

  // A list of exactly `count` numbers.
  Expected<std::vector<double>> Numbers(const cv::FileNode& node, const std::string& key,
                                        std::size_t count) const {
    if (node.empty()) return Wrong(key, "не задан");
    if (!node.isSeq() || node.size() != count)
      return Wrong(key, "нужен список из " + std::to_string(count) + " чисел");
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i) {
      Expected<double> value = Number(node[static_cast<int>(i)], key);
      if (!value) return value.error();
      values.push_back(*value);
    }
    return values;
  }

 private:
  cv::FileNode root_;
  std::string path_;
};

Expected<TargetDescription> ReadDescription(const Reader& in) {
  TargetDescription target;
  Expected<std::string> kindName = in.Text("kind");
  if (!kindName) return kindName.error();
  bool known = false;
  for (const KindName& k : kKindNames)
    if (*kindName == k.name) {
      target.kind = k.kind;
      known = true;
    }
  if (!known)
    return in.Wrong("kind", "неизвестный вид мишени «" + *kindName +
                                "»; допустимы chessboard, circles, asymmetric_circles, charuco, "
                                "aruco_board, apriltag_grid, squares, markers");

  const TargetKind kind = target.kind;
  if (kind != TargetKind::kMarkers) {
    const int least = kind == TargetKind::kChessboard || kind == TargetKind::kCharuco ? 2 : 1;
    Expected<int> rows = in.Count("rows", least);
    if (!rows) return rows.error();
    Expected<int> columns = in.Count("columns", least);
    if (!columns) return columns.error();
    target.rows = *rows;
    target.columns = *columns;
    if (static_cast<long>(target.rows) * target.columns * 4 > kLargestCorners)
      return in.Wrong("rows", "мишень слишком велика");
    if ((kind == TargetKind::kChessboard || kind == TargetKind::kCircles ||
         kind == TargetKind::kAsymmetricCircles) &&
        target.rows * target.columns < 4)
      return in.Wrong("rows", "нужно не меньше четырех точек");
  }
  if (kind == TargetKind::kChessboard || kind == TargetKind::kCharuco ||
      kind == TargetKind::kSquares) {
    Expected<double> square = in.Positive("square_size");
    if (!square) return square.error();
    target.squareSize = *square;
  }
  if (kind == TargetKind::kCharuco || kind == TargetKind::kArucoBoard ||
      kind == TargetKind::kAprilTagGrid || kind == TargetKind::kMarkers) {
    Expected<double> marker = in.Positive("marker_size");
    if (!marker) return marker.error();
    target.markerSize = *marker;
    if (kind == TargetKind::kCharuco && !(target.markerSize < target.squareSize))
      return in.Wrong("marker_size", "маркер должен быть меньше клетки (square_size)");
  }
  if (kind == TargetKind::kCircles || kind == TargetKind::kAsymmetricCircles ||
      kind == TargetKind::kArucoBoard || kind == TargetKind::kAprilTagGrid ||
      kind == TargetKind::kSquares) {
    Expected<double> spacing = in.Positive("spacing");
    if (!spacing) return spacing.error();
    target.spacing = *spacing;
  }
  if (kind == TargetKind::kCharuco || kind == TargetKind::kArucoBoard ||
      kind == TargetKind::kAprilTagGrid || kind == TargetKind::kMarkers) {
    Expected<std::string> dictionary = in.Text("dictionary");
    if (!dictionary) return dictionary.error();
    target.dictionary = *dictionary;
    const int size = kind == TargetKind::kAprilTagGrid ? AprilTagFamilySize(target.dictionary)
                                                       : ArucoDictionarySize(target.dictionary);
    if (size == 0)
      return in.Wrong("dictionary",
                      "неизвестный словарь «" + target.dictionary + "»; допустимы " +
                          (kind == TargetKind::kAprilTagGrid ? KnownAprilTagFamilies()
                                                             : KnownArucoDictionaries()));
    long needed = 0;
    if (kind == TargetKind::kCharuco)
      needed = (static_cast<long>(target.rows) * target.columns + 1) / 2;
    else if (kind != TargetKind::kMarkers)
      needed = static_cast<long>(target.rows) * target.columns;
    if (needed > size)
      return in.Wrong("dictionary", "в словаре " + std::to_string(size) +
                                        " маркеров, а на мишени их " + std::to_string(needed));
  }
  if (in.Has("layout")) {
    Expected<std::string> layout = in.Text("layout");
    if (!layout) return layout.error();
    if (*layout == "older")
      target.olderCharucoLayout = true;
    else if (*layout != "newer")
      return in.Wrong("layout", "допустимы newer и older");
  }
  if (in.Has("origin")) {
    Expected<std::vector<double>> origin = in.Numbers(in.Node("origin"), "origin", 2);
    if (!origin) return origin.error();
    target.origin = {(*origin)[0], (*origin)[1]};
  }
  if (in.Has("axes")) {
    Expected<std::vector<double>> axes = in.Numbers(in.Node("axes"), "axes", 4);
    if (!axes) return axes.error();
    const std::vector<double>& a = *axes;
    // The columns must be unit vectors at a right angle: the board is drawn to scale.
    const double tolerance = 1e-6;
    if (std::abs(a[0] * a[0] + a[2] * a[2] - 1) > tolerance ||
        std::abs(a[1] * a[1] + a[3] * a[3] - 1) > tolerance ||
        std::abs(a[0] * a[1] + a[2] * a[3]) > tolerance)
      return in.Wrong("axes", "оси должны быть единичными и взаимно перпендикулярными");
    target.axes = {a[0], a[1], a[2], a[3]};
  }
  if (kind == TargetKind::kMarkers) {
    const cv::FileNode list = in.Node("markers");
    if (list.empty() || !list.isSeq() || list.size() == 0)
      return in.Wrong("markers", "нужен список маркеров с ключами id и corners");
    const int size = ArucoDictionarySize(target.dictionary);
    for (const cv::FileNode& item : list) {
      const cv::FileNode idNode = item["id"];
      if (idNode.empty() || !idNode.isInt() || static_cast<int>(idNode) < 0 ||
          static_cast<int>(idNode) >= size)
        return in.Wrong("markers",
                        "номер маркера (id) должен быть от 0 до " + std::to_string(size - 1));
      TargetMarker marker;
      marker.id = static_cast<int>(idNode);
      for (const TargetMarker& other : target.markers)
        if (other.id == marker.id)
          return in.Wrong("markers", "маркер " + std::to_string(marker.id) + " задан дважды");
      Expected<std::vector<double>> corners = in.Numbers(item["corners"], "markers", 8);
      if (!corners) return corners.error();
      std::copy(corners->begin(), corners->end(), marker.corners.begin());
      target.markers.push_back(marker);
      if (target.markers.size() * 4 > static_cast<std::size_t>(kLargestCorners))
        return in.Wrong("markers", "слишком много маркеров");
    }
  }
  return target;
}

}  // namespace

const char* TargetKindName(TargetKind kind) {
  for (const KindName& k : kKindNames)
    if (k.kind == kind) return k.name;
  return "";
}

Expected<TargetDescription> ReadTargetDescription(const std::string& path) {
  std::string text;
  try {
    text = ReadInputFile(path, std::size_t{16} << 20);
  } catch (const ZelvError& e) {
    Failure failure;
    failure.text = "Не удается прочитать файл мишени " + path + "!";
    failure.icon = MessageIcon::Stop;
    return failure;
  }
  cv::FileStorage storage;
  try {
    if (!text.empty() && SafeOpenCvStorageText(text))
      storage.open(text, cv::FileStorage::READ | cv::FileStorage::MEMORY);
  } catch (const std::exception&) {
    // OpenCV's parsers throw cv::Exception, and std::length_error on some malformed flow maps.
  }
  const Reader reader(storage.isOpened() ? storage.root() : cv::FileNode(), path);
  if (!storage.isOpened() || storage.root().empty())
    return reader.Wrong("",
                        "это не описание мишени (нужен файл YAML, XML или JSON в формате "
                        "OpenCV с ключом kind)");
  try {
    return ReadDescription(reader);
  } catch (const std::exception&) {
    return reader.Wrong("", "файл не читается как описание мишени");
  }
}

std::array<double, 2> BoardToScene(const TargetDescription& target, double u, double v) {
  const std::array<double, 4>& a = target.axes;
  return {target.origin[0] + a[0] * u + a[1] * v, target.origin[1] + a[2] * u + a[3] * v};
}

std::vector<TargetCorner> TargetCorners(const TargetDescription& target) {
  std::vector<TargetCorner> corners;
  const auto add = [&](int id, double u, double v) {
    const std::array<double, 2> p = BoardToScene(target, u, v);
    corners.push_back({id, p[0], p[1]});
  };
  const int rows = target.rows;
  const int columns = target.columns;
  switch (target.kind) {
    case TargetKind::kChessboard:
    case TargetKind::kCharuco:
      for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c + 1 < columns; ++c)
          add(r * (columns - 1) + c, (c + 1) * target.squareSize, (r + 1) * target.squareSize);
      break;
    case TargetKind::kCircles:
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
          add(r * columns + c, c * target.spacing, r * target.spacing);
      break;
    case TargetKind::kAsymmetricCircles:
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
          add(r * columns + c, (2 * c + r % 2) * target.spacing, r * target.spacing);
      break;
    case TargetKind::kArucoBoard:
    case TargetKind::kAprilTagGrid: {
      // Both with the markers' corners in the order their detectors give: ArUco clockwise from
      // the top-left with v down, AprilGrid counter-clockwise from the bottom-left with v up.
      const double m = target.markerSize;
      const double p = m + target.spacing;
      for (int n = 0; n < rows * columns; ++n) {
        const double u = (n % columns) * p;
        const double v = (n / columns) * p;
        add(4 * n, u, v);
        add(4 * n + 1, u + m, v);
        add(4 * n + 2, u + m, v + m);
        add(4 * n + 3, u, v + m);
      }
      break;
    }
    case TargetKind::kSquares: {
      const double s = target.squareSize;
      const double p = s + target.spacing;
      for (int n = 0; n < rows * columns; ++n) {
        const double u = (n % columns) * p;
        const double v = (n / columns) * p;
        add(4 * n, u, v + s);
        add(4 * n + 1, u + s, v + s);
        add(4 * n + 2, u + s, v);
        add(4 * n + 3, u, v);
      }
      break;
    }
    case TargetKind::kMarkers: {
      std::vector<TargetMarker> markers = target.markers;
      std::sort(markers.begin(), markers.end(),
                [](const TargetMarker& a, const TargetMarker& b) { return a.id < b.id; });
      for (const TargetMarker& marker : markers)
        for (int k = 0; k < 4; ++k)
          add(4 * marker.id + k, marker.corners[2 * k], marker.corners[2 * k + 1]);
      break;
    }
  }
  return corners;
}

}  // namespace zelv
