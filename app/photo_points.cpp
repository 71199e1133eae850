#include "app/photo_points.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "base/zelv_error.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"

namespace zelv {
namespace {

void CheckIndex(const RawPoints& points, std::size_t index) {
  if (index >= points.size()) throw ZelvError("Нет точки с номером " + std::to_string(index + 1));
}

PixelPoint Checked(PixelPoint point) {
  if (!std::isfinite(point.x) || !std::isfinite(point.y))
    throw ZelvError("Координаты точки вне допустимого диапазона");
  return point;
}

}  // namespace

RawPoints WithPointAdded(const RawPoints& points, PixelPoint point) {
  RawPoints edited = points;
  edited.push_back(Checked(point));
  return edited;
}

RawPoints WithPointMoved(const RawPoints& points, std::size_t index, PixelPoint to) {
  CheckIndex(points, index);
  RawPoints edited = points;
  edited[index] = Checked(to);
  return edited;
}

RawPoints WithPointShifted(const RawPoints& points, std::size_t index, double dx, double dy) {
  CheckIndex(points, index);
  return WithPointMoved(points, index, PixelPoint{points[index].x + dx, points[index].y + dy});
}

RawPoints WithPointsRemoved(const RawPoints& points, std::vector<std::size_t> indexes) {
  for (std::size_t index : indexes) CheckIndex(points, index);
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  RawPoints edited;
  edited.reserve(points.size() - indexes.size());
  auto next = indexes.begin();
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (next != indexes.end() && *next == i) {
      ++next;
      continue;
    }
    edited.push_back(points[i]);
  }
  return edited;
}

RawPoints WithPointRenumbered(const RawPoints& points, std::size_t index, std::size_t newIndex) {
  CheckIndex(points, index);
  CheckIndex(points, newIndex);
  RawPoints edited = points;
  const auto from = edited.begin() + static_cast<std::ptrdiff_t>(index);
  const auto to = edited.begin() + static_cast<std::ptrdiff_t>(newIndex);
  if (newIndex < index)
    std::rotate(to, from, from + 1);
  else
    std::rotate(from, from + 1, to + 1);
  return edited;
}

RawPoints ReadPointFile(const std::string& name) {
  if (!FileExists(name)) throw ZelvError("Файл " + name + " не найден!");
  try {
    RawPoints points;
    for (const std::string& line : LoadTextLines(name)) {
      const SplitLine split = SplitAtFirstSemicolon(line);
      const double x = ReadNumber(split.first);
      const double y = ReadNumber(split.rest);
      points.push_back(Checked(PixelPoint{x, y}));
    }
    return points;
  } catch (const std::exception&) {
    throw ZelvError("Ошибка чтения файла координат точек изображения!");
  }
}

std::vector<std::string> PointLines(const RawPoints& points, char decimalSeparator) {
  std::vector<std::string> lines;
  lines.reserve(points.size());
  for (const PixelPoint& p : points)
    lines.push_back(FormatGeneral(Checked(p).x, decimalSeparator) + " ; " +
                    FormatGeneral(p.y, decimalSeparator));
  return lines;
}

void SavePointFile(const std::string& name, const RawPoints& points, char decimalSeparator) {
  SaveTextLines(name, PointLines(points, decimalSeparator));
}

PhotoCompanions FindPhotoCompanions(const std::string& photo) {
  namespace fs = std::filesystem;
  const fs::path path(photo);
  const fs::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const auto first = [&](std::initializer_list<std::string> names) {
    for (const std::string& name : names) {
      const fs::path candidate = folder / name;
      if (FileExists(candidate.string())) return candidate.string();
    }
    return std::string();
  };
  PhotoCompanions found;
  found.camera = first({stem + ".cam", "camera.cam"});
  if (found.camera.empty()) {
    std::error_code error;
    std::string only;
    int count = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(folder.empty() ? fs::path(".") : folder, error))
      if (entry.path().extension() == ".cam" && FileExists(entry.path().string())) {
        only = entry.path().string();
        ++count;
      }
    if (count == 1) found.camera = only;
  }
  bool calibration = false;
  if (found.camera.empty()) {
    found.camera = first({"calibration.yml", "calibration.yaml", "calibration.xml",
                          "calibration.json", "cameras.txt"});
    calibration = !found.camera.empty();
  }
  found.image = calibration ? first({stem + ".crd", "image-raw.crd", "image.crd"})
                            : first({stem + ".crd", "image.crd", "image-raw.crd"});
  found.scene = first({stem + "-scene.crd", "scene.crd"});
  return found;
}

}  // namespace zelv
