#pragma once
// Corners found on the photograph with OpenCV: the sub-pixel refinement of one clicked corner or
// target centre, and the inner corners of a chessboard target. Positions are raw pixels as in
// app/photo_points.h (x right, y down, the centre of the top-left pixel at (0, 0)), which is
// OpenCV's own pixel convention.

#include <QImage>
#include <optional>

#include "app/photo_points.h"

namespace zelv {

// The photograph in 8-bit grey, as both searches need it.
QImage GreyOf(const QImage& photo);

// The corner nearest to `guess` within `radius` pixels, to a fraction of a pixel
// (cv::cornerSubPix on the neighbourhood). Nothing when the neighbourhood leaves the picture or
// the refinement runs away from the guess (no corner there).
std::optional<PixelPoint> RefineCorner(const QImage& grey, PixelPoint guess, int radius = 7);

// The `columns` × `rows` inner corners of a chessboard (cv::findChessboardCornersSB), row by row
// in the order OpenCV finds them. A large photograph is searched at a reduced size and each corner
// then refined on the full one. Nothing when the board is not found.
std::optional<RawPoints> FindChessboard(const QImage& grey, int columns, int rows);

}  // namespace zelv
