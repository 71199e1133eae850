#include "app/point_pairing.h"

#include <algorithm>
#include <map>

#include "files/point_table.h"

namespace zelv {
namespace {

struct IdLess {
  bool operator()(const std::string& a, const std::string& b) const { return PointIdLess(a, b); }
};

std::map<std::string, int, IdLess> IndexOf(const std::vector<std::string>& ids) {
  std::map<std::string, int, IdLess> index;
  for (std::size_t i = 0; i < ids.size(); ++i) index.emplace(ids[i], static_cast<int>(i));
  return index;
}

// Refills an owning list with copies of its points at `order`.
void Reorder(VT_Points& points, const std::vector<int>& order) {
  std::vector<VT_Point> kept;
  kept.reserve(order.size());
  for (int i : order) kept.push_back(*points.Get(i));
  points.Clear();
  for (const VT_Point& p : kept) points.Emplace(p);
}

std::string NameList(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) out += (i == 0 ? "«" : ", «") + names[i] + "»";
  return out;
}

std::string LeftOutWarning(const std::vector<std::string>& names, const char* missingFrom) {
  return (names.size() == 1
              ? "Точки " + NameList(names) + " нет в " + missingFrom + ", она не вошла в расчёт."
              : "Точек " + NameList(names) + " нет в " + missingFrom + ", они не вошли в расчёт.") +
         " Если это одна и та же точка, дайте ей в обоих файлах один номер.";
}

}  // namespace

PointPairing PairPoints(VT_Points& imagePoints, const std::vector<std::string>& imageIds,
                        VT_Points& scenePoints, const std::vector<std::string>& sceneIds) {
  PointPairing pairing;
  if (imageIds.empty() || sceneIds.empty() ||
      imageIds.size() != static_cast<std::size_t>(imagePoints.Count()) ||
      sceneIds.size() != static_cast<std::size_t>(scenePoints.Count()))
    return pairing;
  pairing.byIdentifier = true;
  const std::map<std::string, int, IdLess> image = IndexOf(imageIds);
  const std::map<std::string, int, IdLess> scene = IndexOf(sceneIds);
  std::vector<int> sceneIndex;
  for (const auto& [id, i] : image) {
    const auto found = scene.find(id);
    if (found == scene.end()) {
      pairing.onlyInImage.push_back(id);
      continue;
    }
    pairing.ids.push_back(id);
    pairing.imageIndex.push_back(i);
    sceneIndex.push_back(found->second);
  }
  for (const auto& entry : scene)
    if (image.find(entry.first) == image.end()) pairing.onlyInScene.push_back(entry.first);
  Reorder(imagePoints, pairing.imageIndex);
  Reorder(scenePoints, sceneIndex);
  return pairing;
}

std::vector<std::string> PairingWarnings(const PointPairing& pairing) {
  std::vector<std::string> warnings;
  if (!pairing.onlyInImage.empty())
    warnings.push_back(LeftOutWarning(pairing.onlyInImage, "файле сцены"));
  if (!pairing.onlyInScene.empty())
    warnings.push_back(LeftOutWarning(pairing.onlyInScene, "файле координат изображения"));
  return warnings;
}

std::string PointName(const std::vector<std::string>& ids, int number) {
  if (number >= 1 && static_cast<std::size_t>(number) <= ids.size())
    return ids[static_cast<std::size_t>(number - 1)];
  return std::to_string(number);
}

std::string PointNameList(const std::vector<std::string>& ids, const std::vector<int>& numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size(); ++i)
    out += (i == 0 ? "" : ", ") + PointName(ids, numbers[i]);
  return out;
}

}  // namespace zelv
