#pragma once
// Calibration files in place of a camera file: an OpenCV FileStorage calibration (YAML, XML or
// JSON as OpenCV writes it) or a COLMAP camera list ("cameras.txt"), told apart from a ".cam"
// file by their content, never by their name. Frames and the lens model: files/lens_model.h.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/camera_file.h"
#include "files/coordinate_file.h"
#include "files/lens_model.h"
#include "points/Data_structures.h"

namespace zelv {

// The format of the file by its first bytes: an OpenCV file begins (after blanks and a UTF-8
// byte-order mark) with "%YAML", "---", "<?xml", "<opencv_storage>" or "{"; a COLMAP list with a
// "#" comment or a line "CAMERA_ID MODEL ...". The bytes come through the guarded open of every
// input (ReadInputHead, files/text_file.h): a FIFO never blocks, and a pipe is read once, its
// bytes kept for the reader that follows. A file that cannot be opened or read counts as a camera
// file, whose reader then reports it.
CameraFileFormat DetectCameraFileFormat(const std::string& path);

// Why the bytes of a file read as a camera file are not one a reader knows, when they look like
// something else: text in UTF-16, an OpenCV YAML file without its "%YAML" header line, a COLMAP
// list whose model names are not in capitals. The text is a message line (Russian) beginning
// "Формат файла не распознан: "; nothing when none of these is seen.
std::optional<std::string> UnrecognisedCameraFormat(std::string_view bytes);

// True when OpenCV's FileStorage parsers may be given the text: no control character but tab,
// line feed and carriage return, and no nesting deep enough to exhaust the parser's stack. Every
// reader of an OpenCV file asks this first.
bool SafeOpenCvStorageText(const std::string& text);

// Reads camera `cameraId` of a COLMAP list (0: the first one listed), or the one camera of an
// OpenCV file (where `cameraId` must be 0), and checks its values: finite, focal lengths and
// image size above 0, a camera matrix of the form [fx skew cx; 0 fy cy; 0 0 1], a coefficient
// count the model knows. A COLMAP principal point is taken into ZELV's pixel convention
// (files/lens_model.h). Raises ZelvError with the message to show ("Ошибка чтения файла
// калибровки камеры: ...!"); every OpenCV exception is caught here.
LensCalibration LoadCalibrationFile(const std::string& path, int cameraId);

// As LoadCalibrationFile (after CheckFileExists), and fills `geometry` with what the solver needs:
// ImageCentreX/Y = the principal point, FocalLength = fx, the image size, Lens = the camera; the
// correction table is emptied, for the lens model takes its place. On failure returns the message
// (caption "Ошибка!"), leaving `geometry` untouched.
Expected<void> ReadCalibrationFile(const std::string& path, int cameraId,
                                   InteriorGeometry& geometry);

// Reads the raw image points of a coordinate file and turns them into corrected pixels through
// the calibration. On a file that does not read: the coordinate reader's message; on a point the
// model cannot invert: "Точка N изображения лежит вне области, где обратима модель объектива!";
// both with the caption "Ошибка!", returned as the failure, and the list emptied.
// `ids` and `extras` as ReadRawImagePoints's.
Expected<void> ReadCalibratedImagePoints(const std::string& name, VT_Points& points,
                                         const LensCalibration& calibration,
                                         std::vector<std::string>* ids = nullptr,
                                         PointExtras* extras = nullptr);
// The same for points given in memory (files/coordinate_file.h).
Expected<void> ReadCalibratedImagePoints(const GivenPoints& given, VT_Points& points,
                                         const LensCalibration& calibration,
                                         std::vector<std::string>* ids = nullptr,
                                         PointExtras* extras = nullptr);

// The model and its coefficients as lines of text for zelv-cli inputs, e.g.
// "Lens model: OPENCV (COLMAP camera 1)" and "Coefficients: k1 -0.2 ; k2 0.05 ; ...", the
// numbers in the general number text with `separator`.
std::vector<std::string> DescribeCalibration(const LensCalibration& calibration, char separator);

}  // namespace zelv
