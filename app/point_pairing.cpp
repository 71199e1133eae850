#include "app/point_pairing.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/shown_text.h"
#include "files/point_table.h"

namespace zelv {
namespace {

// An identifier as PointIdLess orders it, in 16 bytes: the first bytes of what it compares by,
// as one number, decide most comparisons without reading the identifier itself, so millions of
// identifiers sort at the speed of numbers. Numbers come first (flag 0), by the count of their
// digits after leading zeros, then those digits; other identifiers (flag 1) by their bytes.
struct IdKey {
  std::uint64_t prefix;
  std::int32_t index;  // in its file, from 0
};

// The digits of an identifier of digits only, after its leading zeros; nothing for any other.
std::optional<std::string_view> Digits(std::string_view id) {
  if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  while (id.size() > 1 && id.front() == '0') id.remove_prefix(1);
  return id;
}

std::uint64_t PrefixOf(std::string_view id) {
  std::uint64_t prefix = 0;
  std::size_t at = 0;
  const auto put = [&prefix, &at](unsigned char byte) {
    prefix |= std::uint64_t{byte} << (8 * (7 - at));
    ++at;
  };
  if (const std::optional<std::string_view> digits = Digits(id)) {
    put(0);
    // A number of 255 digits or more leaves the rest to the full comparison.
    if (digits->size() >= 255) return prefix | (std::uint64_t{255} << 48);
    put(static_cast<unsigned char>(digits->size()));
    for (std::size_t i = 0; i < digits->size() && at < 8; ++i)
      put(static_cast<unsigned char>((*digits)[i]));
  } else {
    put(1);
    for (std::size_t i = 0; i < id.size() && at < 8; ++i) put(static_cast<unsigned char>(id[i]));
  }
  return prefix;
}

// The order of PointIdLess, the prefixes first; `a` of `aIds`, `b` of `bIds`.
bool KeyLess(const IdKey& a, const std::vector<std::string>& aIds, const IdKey& b,
             const std::vector<std::string>& bIds) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  return PointIdLess(aIds[static_cast<std::size_t>(a.index)],
                     bIds[static_cast<std::size_t>(b.index)]);
}

// The identifiers of a file in PointIdLess order, each once (the first of equal ones kept).
std::vector<IdKey> SortedKeys(const std::vector<std::string>& ids) {
  std::vector<IdKey> keys(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i)
    keys[i] = {PrefixOf(ids[i]), static_cast<std::int32_t>(i)};
  // Equal identifiers by their place in the file, so the first is the one kept.
  std::sort(keys.begin(), keys.end(), [&ids](const IdKey& a, const IdKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const std::string& ta = ids[static_cast<std::size_t>(a.index)];
    const std::string& tb = ids[static_cast<std::size_t>(b.index)];
    if (ta == tb) return a.index < b.index;
    return PointIdLess(ta, tb);
  });
  keys.erase(std::unique(keys.begin(), keys.end(),
                         [&ids](const IdKey& a, const IdKey& b) {
                           return a.prefix == b.prefix &&
                                  ids[static_cast<std::size_t>(a.index)] ==
                                      ids[static_cast<std::size_t>(b.index)];
                         }),
             keys.end());
  return keys;
}

// Puts the points at `order` first in the list, in that order, and drops the others. Only the
// coordinates of a point are its data (its copy is made of them alone), so they are what moves.
void Reorder(VT_Points& points, const std::vector<int>& order) {
  std::vector<std::pair<double, double>> kept;
  kept.reserve(order.size());
  for (int i : order) kept.emplace_back(points.Get(i)->x, points.Get(i)->y);
  if (kept.size() != static_cast<std::size_t>(points.Count())) {
    points.Clear();
    for (const auto& [x, y] : kept) points.Emplace(x, y);
    return;
  }
  for (std::size_t k = 0; k < kept.size(); ++k) {
    VT_Point* p = points.Get(static_cast<int>(k));
    p->x = kept[k].first;
    p->y = kept[k].second;
  }
}

// The names in quotes, long ones cut and a long list cut with a count (base/shown_text.h).
std::string NameList(const std::vector<std::string>& names) {
  return ShownListOf(names.size(),
                     [&names](std::size_t i) { return "«" + ShownName(names[i]) + "»"; });
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
  {
    const std::vector<IdKey> image = SortedKeys(imageIds);
    const std::vector<IdKey> scene = SortedKeys(sceneIds);
    const std::size_t common = std::min(image.size(), scene.size());
    pairing.ids.reserve(common);
    pairing.imageIndex.reserve(common);
    pairing.sceneIndex.reserve(common);
    // One walk through both sorted lists: the identifiers both have, in order, and those of one.
    const auto imageId = [&](std::size_t k) -> const std::string& {
      return imageIds[static_cast<std::size_t>(image[k].index)];
    };
    const auto sceneId = [&](std::size_t k) -> const std::string& {
      return sceneIds[static_cast<std::size_t>(scene[k].index)];
    };
    std::size_t i = 0, j = 0;
    while (i < image.size() || j < scene.size()) {
      if (j == scene.size() ||
          (i < image.size() && KeyLess(image[i], imageIds, scene[j], sceneIds))) {
        pairing.onlyInImage.push_back(imageId(i++));
      } else if (i == image.size() || KeyLess(scene[j], sceneIds, image[i], imageIds)) {
        pairing.onlyInScene.push_back(sceneId(j++));
      } else {
        pairing.ids.push_back(imageId(i));
        pairing.imageIndex.push_back(image[i++].index);
        pairing.sceneIndex.push_back(scene[j++].index);
      }
    }
  }
  Reorder(imagePoints, pairing.imageIndex);
  Reorder(scenePoints, pairing.sceneIndex);
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
  return ShownListOf(numbers.size(),
                     [&](std::size_t i) { return ShownName(PointName(ids, numbers[i])); });
}

}  // namespace zelv
