#pragma once
// The report's figures as a small model of primitives — lines, circles, ellipses and texts in a
// frame — built once from an orientation and then written out as SVG (the HTML report) or painted
// (the PDF and the window), so that every front end shows the same drawing.
//
// Figure coordinates are those of the drawing: the origin at the top left, x right, y down, in
// points of the drawing (1/96 inch at 100 %).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/orientation.h"

namespace zelv {

struct FigureColour {
  int r = 0, g = 0, b = 0;
};

struct FigureShape {
  enum class Kind { kLine, kCircle, kEllipse, kText, kRectangle };
  Kind kind = Kind::kLine;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // a line's ends; a rectangle's corners
  double cx = 0, cy = 0;                  // a circle's or an ellipse's centre; a text's anchor
  double rx = 0, ry = 0;                  // radii (a circle: rx)
  double angleDegrees = 0;                // an ellipse's rx axis from x towards y
  std::string text;                       // UTF-8
  double fontSize = 10;
  int align = 0;  // a text: -1 left, 0 centred, 1 right of the anchor (the baseline's y)
  FigureColour stroke;
  std::optional<FigureColour> fill;
  double width = 1;
  bool dashed = false;
};

struct Figure {
  std::string title;    // the caption under the drawing
  std::string caption;  // what the figure shows and at what magnification
  double width = 0, height = 0;
  std::vector<FigureShape> shapes;
};

// The figure as an <svg> element (no external reference, every number finite).
std::string FigureSvg(const Figure& figure);

// The text with &, <, > and " written as XML entities, for SVG and HTML.
std::string XmlEscaped(const std::string& text);

// The residuals over the image frame: each control point at its corrected position, its
// residual as an arrow magnified by ArrowMagnification (stated in the caption), flagged points in
// red, check points as hollow squares of their own colour; where the pose's covariance is known,
// the 95 % ellipse of each projected point, magnified alike. Nothing when the orientation has no
// residuals.
std::optional<Figure> ResidualFigure(const Orientation& orientation);

// The scene plane seen from above (X right, Y up): the control points, the projection centre's
// foot, the line of sight to the sighting point and the 95 % error ellipse of the centre (the
// shadow of its ellipsoid, magnified as stated).
std::optional<Figure> PlanFigure(const Orientation& orientation);

// The vertical plane through the centre and the sighting point (distance along the ground right,
// Z up): the scene plane, the camera, its line of sight and the centre's ellipse.
std::optional<Figure> SideFigure(const Orientation& orientation);

// The 2 × 2 shape matrix of the centre's 95 % ellipsoid projected onto the plane spanned by the
// unit vectors `u` and `v` (scene frame): the ellipse as semi-axes and the angle of the first from
// `u` towards `v` (radians). Nothing without a covariance.
struct Ellipse2 {
  double a = 0, b = 0, angle = 0;
};
std::optional<Ellipse2> CentreEllipse(const Orientation& orientation,
                                      const std::array<double, 3>& u,
                                      const std::array<double, 3>& v);

// The 95 % ellipse of each control point's projection (pixels, corrected frame, angle from x
// towards y up) propagated from the pose's covariance; empty without one.
std::vector<Ellipse2> PointEllipses(const Orientation& orientation);

}  // namespace zelv
