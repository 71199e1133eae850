#pragma once
// The frames, angles and direction cosines of an orientation, stated once. Every other header
// that speaks of them refers here; tests/solver/conventions_test.cpp checks each statement against
// what the program computes.
//
// Raw image frame
//   Pixels as measured on the photograph and held by the image coordinate file: x to the right,
//   y down, whole numbers at pixel CENTRES: the centre of the top-left pixel is (0, 0) and its
//   top-left corner (−0.5, −0.5), as in OpenCV. A COLMAP camera (centre of the top-left pixel at
//   (0.5, 0.5)) is shifted into this convention when it is read (files/lens_model.h).
//
// Corrected image frame
//   What the solver works in: pixels after the correction table (or the lens model of a
//   calibration file), origin at the image centre, x to the right, y UP:
//     x = Px(raw x) − cx,   y = cy / s − Py(raw y) / s
//   for the image centre (cx, cy) and the table's polynomials P and divisor s. The focal length F
//   is in the same pixels.
//
// Camera frame
//   Origin at the projection centre; x and y parallel to the corrected image's x and y, z BACK
//   out of the camera (x, y, z right-handed), so the camera looks along −z and a point in front
//   of it has a negative z.
//
// Scene frame
//   The plane coordinates (X, Y) of the scene file on the plane Z = 0, and Z = X × Y: a
//   right-handed frame. The camera stands on the +Z side; a scene file whose axes are mirrored
//   (one axis reversed) puts it on the −Z side.
//
// Direction cosines
//   The nine printed values form the matrix
//         | xX  xY  xZ |
//     M = | yX  yY  yZ |
//         | zX  zY  zZ |
//   whose COLUMNS are the camera's axes in the scene frame: column 1 = camera x, column 2 =
//   camera y, column 3 = camera z. So the first (lower-case) letter of a name is the SCENE axis
//   and the second (upper-case) letter the CAMERA axis:
//     xY = cos(scene X, camera y),   yX = cos(scene Y, camera x),   zZ = cos(scene Z, camera z).
//   M maps camera coordinates to scene coordinates, v_scene = M · v_camera; Mᵀ maps back.
//   det M = +1.
//
// Projection
//   The projection centre C = S + L · (xZ, yZ, zZ) lies at distance L from the sighting point S
//   (the scene point on the optical axis, the image of the image centre) along camera z. A scene
//   point P = (X, Y, 0), taken relative to S, images at
//     x = F · (xX·X + yX·Y) / (L − xZ·X − yZ·Y),   y = F · (xY·X + yY·Y) / (L − xZ·X − yZ·Y),
//   i.e. x = F · (P − C)·camera x / (C − P)·camera z; solver/projection.h evaluates it.
//
// Elementary rotations (angle t, counter-clockwise seen from the axis' positive end):
//   Rx(t) = |1 0 0; 0 cos t −sin t; 0 sin t cos t|,  Ry(t) = |cos t 0 sin t; 0 1 0; −sin t 0 cos
//   t|, Rz(t) = |cos t −sin t 0; sin t cos t 0; 0 0 1|.
//
// Stand angles a0 (Al), l (Bet), n (Hi)
//   a0 turns the scene about its transverse axis, l about the orbital axis, n turns the image
//   about the optical axis:
//     M = Rx(−l) · Ry(−a0) · Rz(−n)
//   (AnglesToRotation in solver/pose.h). The refinement keeps a0 and l within ±89.999°; n wraps
//   at ±180° by 180°.
//
// Photogrammetric angles a, w, c
//   a the longitudinal and w the transverse turn of the camera, c the turn of the image:
//     M = Ry(−a) · Rx(w) · Rz(c)
//   with w = asin(−yZ), a = asin(−xZ / cos w), c = atan(yX / yY) (so a, w in [−90°, 90°] and c in
//   (−90°, 90°)).
//
// In other programs' terms (solver/pose_conventions.h has them all): OpenCV's camera frame
// (x right, y down, z forward) is the camera frame above turned by 180° about x, so its
// world-to-camera rotation is diag(1, −1, −1) · Mᵀ and t = −R · C.
