#pragma once
// The camera file (".cam"): the interior geometry of the camera, one value per line, each value
// followed by ";" and a comment.
//
// Line 1 image centre x, 2 image centre y (raw pixels, x right, y down), 3 the correction-table
// file name (relative to the camera file's folder), 4 focal length (pixels; empty or one blank:
// -1), 5 image width, 6 image height (pixels), 7 and 8 the principal point (not read here).

#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "files/lens_model.h"

namespace zelv {

struct InteriorGeometry {
  double ImageCentreX = 0;                   // pixels, raw frame
  double ImageCentreY = 0;                   // pixels, raw frame
  double FocalLength = 0;                    // pixels; -1 when the file gives none
  double ImageWidth = 0;                     // pixels
  double ImageHeight = 0;                    // pixels
  std::vector<std::string> CorrectionTable;  // the lines of the correction-table file
  // The lens model when a calibration file gave the camera (files/calibration_file.h); the
  // correction table is then empty. A camera file leaves it empty.
  std::optional<LensCalibration> Lens;
};

// The editor's row labels and the comments written after each of the eight values.
extern const char* const kCameraRowLabels[8];
extern const char* const kCameraLineComments[8];

// Success when the file exists (a FIFO or a device counts, so that its reader refuses it with the
// reader's own message); otherwise the failure "Файл <name> не найден!" / "Ошибка!", its second
// line naming the folder looked in as an absolute path ("Искали в папке <folder>", or "Папки
// <folder> нет." when there is no such folder).
Expected<void> CheckFileExists(const std::string& name);

// Reads the camera file into `geometry`, assigning each field as soon as its line is read.
// On failure returns its message ("Ошибка чтения cam-файла!"); fields assigned before the failing
// line keep their new values (Lens is emptied once the file is found), and the correction table
// keeps its old lines when its file cannot be loaded.
Expected<void> ReadCameraFile(const std::string& name, InteriorGeometry& geometry);

// The path of the correction table a camera file names (its line 3, taken against the camera
// file's folder as ReadCameraFile takes it), so that no output may replace it; nothing when the
// file does not read or names none. Shows nothing.
std::optional<std::string> CorrectionTablePath(const std::string& cameraFile);

}  // namespace zelv
