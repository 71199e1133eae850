#pragma once
// The control points of the photograph workspace as they lie on the photograph, and the edits the
// workspace makes to them.
//
// Frame: raw pixels of the photograph, x to the right, y downwards, as the image coordinate file
// holds them; the centre of the top-left pixel is (0, 0), so a pixel covers ±0.5 around its
// integer coordinates. A point's number is its index + 1, the line of the file that holds it.
//
// Every edit returns the edited list and leaves its argument alone, so the workspace's undo
// history can keep whole lists. An index outside the list, or a coordinate that is not finite,
// raises ZelvError; no edit ever makes a list that could not be written.

#include <cstddef>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "points/pixel_point.h"

namespace zelv {

// The points of a photograph in raw pixels (x right, y down).
using RawPoints = std::vector<PixelPoint>;

// The list with `point` appended (it gets the number size + 1).
RawPoints WithPointAdded(const RawPoints& points, PixelPoint point);

// The list with point `index` at `to`.
RawPoints WithPointMoved(const RawPoints& points, std::size_t index, PixelPoint to);

// The list with point `index` shifted by (dx, dy) pixels.
RawPoints WithPointShifted(const RawPoints& points, std::size_t index, double dx, double dy);

// The list without the points at `indexes` (any order, duplicates allowed); the points after each
// move up, so the numbers stay 1 … n.
RawPoints WithPointsRemoved(const RawPoints& points, std::vector<std::size_t> indexes);

// The list with point `index` given the place `newIndex`: the points between move one place
// towards the old place, so the numbers stay 1 … n.
RawPoints WithPointRenumbered(const RawPoints& points, std::size_t index, std::size_t newIndex);

// Reads an image coordinate file as it stands, without correction: one "x ; y" a line, raw
// pixels. Raises ZelvError "Файл <name> не найден!" for a missing file and "Ошибка чтения файла
// координат точек изображения!" for a file that does not read.
RawPoints ReadPointFile(const std::string& name);

// The lines of a coordinate file for the points: "x ; y" in the general number text.
std::vector<std::string> PointLines(const RawPoints& points,
                                    char decimalSeparator = RegionalDecimalSeparator());

// Writes the points as a coordinate file with the atomic Windows-1251 writer (CR LF). Raises
// ZelvError when the file cannot be written; the old file then stays as it was.
void SavePointFile(const std::string& name, const RawPoints& points,
                   char decimalSeparator = RegionalDecimalSeparator());

// The input files that go with a photograph, looked for in its folder. For a photograph NAME.png
// the camera: NAME.cam, camera.cam, the folder's only ".cam" file, or a calibration file
// (calibration.yml, .yaml, .xml or .json, cameras.txt); the image coordinate file: NAME.crd, then
// image.crd and image-raw.crd, the raw corners first when the camera is a calibration (its lens
// model corrects them); the scene coordinate file: NAME-scene.crd or scene.crd. Each is the full
// path, or empty when none is there.
struct PhotoCompanions {
  std::string camera;
  std::string image;
  std::string scene;
};
PhotoCompanions FindPhotoCompanions(const std::string& photo);

}  // namespace zelv
