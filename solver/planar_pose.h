#pragma once
// The plane-to-image homography and the camera poses it admits, for the rigorous estimate.
//
// Frames: the homography and the poses use the computer-vision camera frame — image points
// (u, v) = (x, −y) of the corrected image (pixels, origin at the image centre, so u right and
// v down), camera axes right, down and forward. A pose maps a scene point P (scene units, Z
// towards the camera) to the camera frame by q = R·(P − C); the point is seen at
// u = F·q.x / q.z, v = F·q.y / q.z when q.z > 0. R is a proper rotation (det +1), C the
// projection centre in scene units.

#include <Eigen/Core>
#include <optional>
#include <vector>

namespace zelv {

// One control point pair: the image point in the computer-vision frame (pixels) and the scene
// point on the plane Z = 0 (scene units).
struct PlanarCorrespondence {
  double u = 0, v = 0;
  double X = 0, Y = 0;
};

// The normal matrix Σ r·rᵀ of the homography's 2n × 9 design matrix over the points `use`
// (in that order), with the scene points normalised by Ts and the image points by Ti.
Eigen::Matrix<double, 9, 9> HomographyNormalMatrix(const std::vector<PlanarCorrespondence>& points,
                                                   const std::vector<int>& use,
                                                   const Eigen::Matrix3d& Ts,
                                                   const Eigen::Matrix3d& Ti);

// The homography taking (X, Y, 1) to a multiple of (u, v, 1), least squares on the algebraic error
// of Hartley-normalised points (Eigen's SVD). Needs four or more points, no three of the first
// four on one line for exactly four; nothing when the points do not determine it.
std::optional<Eigen::Matrix3d> FitHomography(const std::vector<PlanarCorrespondence>& points,
                                             const std::vector<int>& use);

// The homography through exactly four pairs (indices into `points`); nothing when three of them
// lie (nearly) on one line in the scene or in the image.
std::optional<Eigen::Matrix3d> HomographyOfFour(const std::vector<PlanarCorrespondence>& points,
                                                const int index[4]);

// The point (u, v) that the homography gives for (X, Y); false when it lies at infinity.
bool TransferPoint(const Eigen::Matrix3d& H, double X, double Y, double& u, double& v);

// A camera pose: q = R·(P − C) (see above).
struct CameraPose {
  Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
  Eigen::Vector3d C = Eigen::Vector3d::Zero();
};

// The two poses of a plane seen through the homography H with focal length F (pixels): the plane's
// orientation at the centroid of the used scene points is fixed up to a reflection about the line
// of sight, which gives two rotations; each gets the projection centre that fits the used points
// best (linear least squares). Both have the points in front of the camera. Nothing when H is
// degenerate.
std::vector<CameraPose> PlanarPoses(const Eigen::Matrix3d& H, double F,
                                    const std::vector<PlanarCorrespondence>& points,
                                    const std::vector<int>& use);

// The focal length (pixels) that makes the homography H the image of a plane through a camera
// whose principal point is the image origin and whose pixels are square: the two conditions on
// the images of the plane's axes (orthogonal, of equal length), solved together by least squares
// in 1/F². Nothing when they give no positive 1/F² — a view (nearly) square to the plane, where
// the focal length and the distance cannot be told apart.
std::optional<double> FocalLengthFromHomography(const Eigen::Matrix3d& H);

// True when the homography H, scaled so that the used points lie in front of the camera, maps the
// scene plane with its orientation reversed, that is when a camera seeing these points must stand
// on the −Z side of the scene: the scene frame is most likely mirrored (one axis reversed).
bool CameraBehindScenePlane(const Eigen::Matrix3d& H,
                            const std::vector<PlanarCorrespondence>& points,
                            const std::vector<int>& use);

}  // namespace zelv
