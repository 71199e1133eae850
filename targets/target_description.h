#pragma once
// Target description files: what a calibration target printed for a photograph looks like, and
// where each of its corners lies in the scene frame, so that the corners found on a photograph
// come with their identifiers and scene coordinates.
//
// The file is an OpenCV FileStorage (YAML, also XML or JSON as OpenCV reads them), e.g.
//
//   %YAML:1.0
//   ---
//   kind: charuco          # chessboard circles asymmetric_circles charuco aruco_board
//                          # apriltag_grid squares markers
//   rows: 5                # squares (chessboard, charuco), circles, markers or tags down the board
//   columns: 7             # the same across the board
//   square_size: 40        # scene units: side of a square (chessboard, charuco, squares)
//   marker_size: 30        # scene units: side of a marker or tag (charuco, aruco_board,
//                          # apriltag_grid, markers)
//   spacing: 10            # scene units: the gap between markers (aruco_board), tags
//                          # (apriltag_grid) or squares (squares); for circle grids the distance
//                          # between neighbouring circle centres
//   dictionary: DICT_5X5_100   # OpenCV's predefined ArUco dictionaries (charuco, aruco_board,
//                          # markers); tag36h11, tag25h9, tag16h5, tagStandard41h12 (apriltag_grid)
//   layout: newer          # charuco only: newer (no marker in the top-left square) or older
//                          # (boards of an even number of rows printed by OpenCV before 4.6: a
//                          # marker in the top-left square); default newer
//   origin: [0, 0]         # scene coordinates of the board frame's origin
//   axes: [1, 0, 0, 1]     # the board frame's unit vectors u and v in the scene: X = X0 + a u +
//                          # b v, Y = Y0 + c u + d v for [a, b, c, d] (a rotation or a mirror)
//   markers:               # kind markers only: each marker's id and its four corners' scene
//     - { id: 3, corners: [X0, Y0, X1, Y1, X2, Y2, X3, Y3] }   # coordinates, ArUco order
//
// The board frame (u, v) and the corner identifiers of each kind, in scene units:
// - chessboard, charuco: rows x columns squares of side s; the inner corners, (rows - 1) x
//   (columns - 1), row-major from the top-left one: id = r (columns - 1) + c at u = (c + 1) s,
//   v = (r + 1) s, v down the printed board. (A chessboard looks the same turned half a turn:
//   its numbering is the one OpenCV's detector gives, first corner towards the image's top left.)
// - circles: rows x columns circles, id = r columns + c at u = c d, v = r d for the spacing d.
// - asymmetric_circles: OpenCV's asymmetric grid, id = r columns + c at u = (2 c + r mod 2) d,
//   v = r d.
// - aruco_board: rows x columns markers of side m with gaps g, marker n (row-major, n from 0) at
//   column n mod columns, row n / columns; its corners 4 n + k, k = 0..3 clockwise from the
//   marker's top-left (OpenCV's order), v down the printed board.
// - apriltag_grid: rows x columns tags of side m with gaps g, small black squares at the tags'
//   corners; tag n at column n mod columns, row n / columns counted from the BOTTOM row, v up
//   the printed board; corners 4 n + k, k = 0 bottom-left, 1 bottom-right, 2 top-right,
//   3 top-left.
// - squares: rows x columns separate black squares of side s, centres s + g apart. Being all
//   alike they are told apart by position on the photograph, which must show the board roughly
//   upright (its rows within 45 degrees of the image's rows): square 0 is the bottom-left one,
//   columns run right and rows up the photograph, so the frame has v up; square n = r columns + c
//   spans u in [c p, c p + s], v in [r p, r p + s] for p = s + g, and its corners 4 n + k are
//   k = 0 upper-left, 1 upper-right, 2 lower-right, 3 lower-left as the photograph shows them.
//   The bottom row and left column must be on the photograph.
// - markers: single ArUco markers anywhere in the scene, corners 4 id + k in OpenCV's order, at
//   the scene coordinates the file gives (origin and axes apply to them too).

#include <array>
#include <string>
#include <vector>

#include "base/failure.h"

namespace zelv {

enum class TargetKind {
  kChessboard,
  kCircles,
  kAsymmetricCircles,
  kCharuco,
  kArucoBoard,
  kAprilTagGrid,
  kSquares,
  kMarkers
};

// The kind's name in the file ("charuco", ...).
const char* TargetKindName(TargetKind kind);

struct TargetMarker {
  int id = 0;
  std::array<double, 8> corners{};  // X0 Y0 .. X3 Y3, scene units, before origin and axes
};

struct TargetDescription {
  TargetKind kind = TargetKind::kChessboard;
  int rows = 0;
  int columns = 0;
  double squareSize = 0;  // scene units
  double markerSize = 0;  // scene units
  double spacing = 0;     // scene units
  std::string dictionary;
  bool olderCharucoLayout = false;
  std::array<double, 2> origin{0, 0};
  std::array<double, 4> axes{1, 0, 0, 1};
  std::vector<TargetMarker> markers;  // kind markers
};

// One corner of the target: its identifier and scene coordinates (origin and axes applied).
struct TargetCorner {
  int id = 0;
  double x = 0;
  double y = 0;
};

// Reads and checks a target description file. On a file that does not read, a missing key, an
// unknown kind or dictionary, or a size out of range: the failure (Russian) naming the file and
// the key; nothing is shown here.
Expected<TargetDescription> ReadTargetDescription(const std::string& path);

// Every corner of the target with its identifier, in identifier order, in the scene frame.
std::vector<TargetCorner> TargetCorners(const TargetDescription& target);

// The scene coordinates of a point of the board frame (u, v): origin and axes applied.
std::array<double, 2> BoardToScene(const TargetDescription& target, double u, double v);

}  // namespace zelv
