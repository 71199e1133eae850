#include "app/report_figure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/orientation_residuals.h"
#include "base/angles.h"
#include "base/number_text.h"

namespace zelv {
namespace {

constexpr double kWidth = 340;           // points of the drawing
constexpr double kMargin = 14;           // around the drawing
constexpr double kChi2Two95 = 5.991465;  // χ²₂ at 95 %: the 2-D ellipse of a projected point
const FigureColour kInk{40, 40, 40};
const FigureColour kGrey{150, 150, 150};
const FigureColour kArrow{0, 90, 200};
const FigureColour kFlagged{200, 0, 0};
const FigureColour kEllipse{0, 140, 70};
const FigureColour kCheck{140, 0, 160};
const FigureColour kFrameFill{250, 248, 235};

bool IsFinite(double v) { return std::isfinite(v); }

std::string Number(double v) {
  if (!IsFinite(v)) v = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string ColourText(FigureColour c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r & 255, c.g & 255, c.b & 255);
  return text;
}

FigureShape Line(double x1, double y1, double x2, double y2, FigureColour c, double w = 1) {
  FigureShape s;
  s.kind = FigureShape::Kind::kLine;
  s.x1 = x1, s.y1 = y1, s.x2 = x2, s.y2 = y2;
  s.stroke = c;
  s.width = w;
  return s;
}

FigureShape Circle(double x, double y, double r, FigureColour c, std::optional<FigureColour> fill) {
  FigureShape s;
  s.kind = FigureShape::Kind::kCircle;
  s.cx = x, s.cy = y, s.rx = r;
  s.stroke = c;
  s.fill = fill;
  return s;
}

FigureShape EllipseShape(double x, double y, double a, double b, double angle, FigureColour c) {
  FigureShape s;
  s.kind = FigureShape::Kind::kEllipse;
  s.cx = x, s.cy = y, s.rx = a, s.ry = b;
  s.angleDegrees = angle;
  s.stroke = c;
  return s;
}

FigureShape Text(double x, double y, std::string text, int align, double size = 9,
                 FigureColour c = kInk) {
  FigureShape s;
  s.kind = FigureShape::Kind::kText;
  s.cx = x, s.cy = y;
  s.text = std::move(text);
  s.align = align;
  s.fontSize = size;
  s.stroke = c;
  return s;
}

FigureShape Rectangle(double x1, double y1, double x2, double y2, FigureColour c,
                      std::optional<FigureColour> fill) {
  FigureShape s;
  s.kind = FigureShape::Kind::kRectangle;
  s.x1 = x1, s.y1 = y1, s.x2 = x2, s.y2 = y2;
  s.stroke = c;
  s.fill = fill;
  return s;
}

void Arrow(std::vector<FigureShape>& shapes, double x1, double y1, double x2, double y2,
           FigureColour c) {
  shapes.push_back(Line(x1, y1, x2, y2, c));
  const double dx = x2 - x1, dy = y2 - y1, length = std::hypot(dx, dy);
  if (!(length >= 1)) return;
  const double ux = dx / length, uy = dy / length, head = std::min(6.0, length * 0.5);
  const double co = std::cos(0.44), si = std::sin(0.44);
  shapes.push_back(
      Line(x2, y2, x2 - head * (ux * co - uy * si), y2 - head * (uy * co + ux * si), c));
  shapes.push_back(
      Line(x2, y2, x2 - head * (ux * co + uy * si), y2 - head * (uy * co - ux * si), c));
}

// The eigen-decomposition of the symmetric 2 × 2 matrix [p q; q r] as an ellipse of semi-axes
// sqrt(λ) (scaled by `k`); nothing for a matrix that is not finite or not positive semidefinite.
std::optional<Ellipse2> EllipseOfShape(double p, double q, double r, double k) {
  if (!IsFinite(p) || !IsFinite(q) || !IsFinite(r)) return std::nullopt;
  const double mean = (p + r) / 2, half = std::hypot((p - r) / 2, q);
  const double l1 = mean + half, l2 = std::max(0.0, mean - half);
  if (!(l1 >= 0)) return std::nullopt;
  Ellipse2 e;
  e.a = k * std::sqrt(l1);
  e.b = k * std::sqrt(l2);
  e.angle = 0.5 * std::atan2(2 * q, p - r);
  if (!IsFinite(e.a) || !IsFinite(e.b) || !IsFinite(e.angle)) return std::nullopt;
  return e;
}

// A magnification of 1, 2 or 5 times a power of ten that makes `size` about `target`, at least 1.
double RoundMagnification(double size, double target) {
  if (!(size > 0) || !IsFinite(size) || size >= target) return 1;
  const double wanted = target / size;
  double power = std::pow(10.0, std::floor(std::log10(wanted)));
  double best = power;
  for (double step : {1.0, 2.0, 5.0, 10.0})
    if (step * power <= wanted) best = step * power;
  return IsFinite(best) && best >= 1 ? best : 1;
}

// The map from a rectangle of the plane (y up) into the drawing, one scale for both axes.
struct PlaneMap {
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  double scale = 1, left = kMargin, bottom = 0;
  void Include(double x, double y) {
    if (!IsFinite(x) || !IsFinite(y)) return;
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
  // Fixes the scale for a drawing kWidth wide; returns the drawing's height.
  double Fit(double maxHeight) {
    double w = maxX - minX, h = maxY - minY;
    const double pad = 0.08 * std::max({w, h, 1e-9});
    minX -= pad, maxX += pad, minY -= pad, maxY += pad;
    w = maxX - minX, h = maxY - minY;
    scale = (kWidth - 2 * kMargin) / w;
    if (h * scale > maxHeight - 2 * kMargin) scale = (maxHeight - 2 * kMargin) / h;
    if (!IsFinite(scale) || !(scale > 0)) scale = 1;
    left = (kWidth - w * scale) / 2;
    const double height = h * scale + 2 * kMargin;
    bottom = height - kMargin;
    return height;
  }
  double X(double x) const { return left + (x - minX) * scale; }
  double Y(double y) const { return bottom - (y - minY) * scale; }
};

std::array<double, 3> Unit(std::array<double, 3> v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(n > 0) || !IsFinite(n)) return {1, 0, 0};
  return {v[0] / n, v[1] / n, v[2] / n};
}

std::string Magnified(double factor, char separator) { return FormatGeneral(factor, separator); }

// The ground direction from the centre's foot towards the sighting point (unit, scene XY).
std::array<double, 3> SightDirection(const Orientation& o) {
  const double dx = o.values.values[kSightingX] - o.centre.x;
  const double dy = o.values.values[kSightingY] - o.centre.y;
  if (std::hypot(dx, dy) > 1e-12 * std::max(1.0, std::fabs(o.centre.z))) return Unit({dx, dy, 0});
  return {1, 0, 0};
}

const std::vector<PointResidual>* ScenePoints(const Orientation& o) {
  return o.residuals ? &o.residuals->points : nullptr;
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string FigureSvg(const Figure& figure) {
  std::string out = "<svg width=\"" + Number(figure.width) + "\" height=\"" +
                    Number(figure.height) + "\" viewBox=\"0 0 " + Number(figure.width) + " " +
                    Number(figure.height) + "\" font-family=\"sans-serif\" role=\"img\"><title>" +
                    XmlEscaped(figure.title) + "</title>\n";
  for (const FigureShape& s : figure.shapes) {
    const std::string stroke = "stroke=\"" + ColourText(s.stroke) + "\" stroke-width=\"" +
                               Number(s.width) + "\"" +
                               (s.dashed ? " stroke-dasharray=\"4 3\"" : "");
    const std::string fill = s.fill ? "fill=\"" + ColourText(*s.fill) + "\"" : "fill=\"none\"";
    switch (s.kind) {
      case FigureShape::Kind::kLine:
        out += "<line x1=\"" + Number(s.x1) + "\" y1=\"" + Number(s.y1) + "\" x2=\"" +
               Number(s.x2) + "\" y2=\"" + Number(s.y2) + "\" " + stroke + "/>\n";
        break;
      case FigureShape::Kind::kRectangle:
        out += "<rect x=\"" + Number(std::min(s.x1, s.x2)) + "\" y=\"" +
               Number(std::min(s.y1, s.y2)) + "\" width=\"" + Number(std::fabs(s.x2 - s.x1)) +
               "\" height=\"" + Number(std::fabs(s.y2 - s.y1)) + "\" " + stroke + " " + fill +
               "/>\n";
        break;
      case FigureShape::Kind::kCircle:
        out += "<circle cx=\"" + Number(s.cx) + "\" cy=\"" + Number(s.cy) + "\" r=\"" +
               Number(s.rx) + "\" " + stroke + " " + fill + "/>\n";
        break;
      case FigureShape::Kind::kEllipse:
        out += "<ellipse cx=\"0\" cy=\"0\" rx=\"" + Number(s.rx) + "\" ry=\"" + Number(s.ry) +
               "\" transform=\"translate(" + Number(s.cx) + " " + Number(s.cy) + ") rotate(" +
               Number(s.angleDegrees) + ")\" " + stroke + " " + fill + "/>\n";
        break;
      case FigureShape::Kind::kText:
        out += "<text x=\"" + Number(s.cx) + "\" y=\"" + Number(s.cy) + "\" font-size=\"" +
               Number(s.fontSize) + "\" fill=\"" + ColourText(s.stroke) + "\" text-anchor=\"" +
               (s.align < 0   ? "start"
                : s.align > 0 ? "end"
                              : "middle") +
               "\">" + XmlEscaped(s.text) + "</text>\n";
        break;
    }
  }
  return out + "</svg>";
}

std::optional<Ellipse2> CentreEllipse(const Orientation& o, const std::array<double, 3>& u,
                                      const std::array<double, 3>& v) {
  if (!o.precision.covariance) return std::nullopt;
  const PoseCovariance& c = *o.precision.covariance;
  // The ellipsoid's shape matrix Σ aᵢ² dᵢ dᵢᵀ, projected: its shadow is the ellipse of PᵀSP.
  double p = 0, q = 0, r = 0;
  for (int i = 0; i < 3; ++i) {
    const double a2 = c.centreSemiAxes[i] * c.centreSemiAxes[i];
    const auto& d = c.centreAxes[i];
    const double du = d[0] * u[0] + d[1] * u[1] + d[2] * u[2];
    const double dv = d[0] * v[0] + d[1] * v[1] + d[2] * v[2];
    p += a2 * du * du, q += a2 * du * dv, r += a2 * dv * dv;
  }
  return EllipseOfShape(p, q, r, 1);
}

std::vector<Ellipse2> PointEllipses(const Orientation& o) {
  std::vector<Ellipse2> out;
  if (!o.precision.covariance || !o.residuals) return out;
  const PoseCovariance& c = *o.precision.covariance;
  const std::size_t n = c.parameters.size();
  if (n == 0 || c.matrix.size() != n * n) return out;
  // The parameters as the covariance names them, at the result's values.
  std::array<double, 7> base{ToRadians(o.pose.omegaPhiKappaDeg[0]),
                             ToRadians(o.pose.omegaPhiKappaDeg[1]),
                             ToRadians(o.pose.omegaPhiKappaDeg[2]),
                             o.centre.x,
                             o.centre.y,
                             o.centre.z,
                             o.focalLength.value};
  const char* names[7] = {"omega", "phi", "kappa", "X0", "Y0", "Z0", "f"};
  std::vector<int> slot(n, -1);
  for (std::size_t i = 0; i < n; ++i)
    for (int k = 0; k < 7; ++k)
      if (c.parameters[i] == names[k]) slot[i] = k;
  // The projection of a scene point (X, Y, 0) in the corrected frame (origin at the image
  // centre, y up): camera frame x right, y up, z back, M = Rx(ω)·Ry(φ)·Rz(κ) camera to scene.
  const auto project = [](const std::array<double, 7>& p, double X, double Y, double& x,
                          double& y) {
    const double co = std::cos(p[0]), so = std::sin(p[0]), cp = std::cos(p[1]), sp = std::sin(p[1]),
                 ck = std::cos(p[2]), sk = std::sin(p[2]);
    const double M[3][3] = {{cp * ck, -cp * sk, sp},
                            {co * sk + so * sp * ck, co * ck - so * sp * sk, -so * cp},
                            {so * sk - co * sp * ck, so * ck + co * sp * sk, co * cp}};
    const double d[3] = {X - p[3], Y - p[4], -p[5]};
    double q[3];
    for (int i = 0; i < 3; ++i) q[i] = M[0][i] * d[0] + M[1][i] * d[1] + M[2][i] * d[2];
    x = -p[6] * q[0] / q[2];
    y = -p[6] * q[1] / q[2];
  };
  for (const PointResidual& point : o.residuals->points) {
    // The Jacobian by central differences, a step of a small part of each σ.
    std::vector<double> jx(n, 0), jy(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      if (slot[i] < 0) continue;
      const double sigma = std::sqrt(std::max(0.0, c.matrix[i * n + i]));
      if (!(sigma > 0) || !IsFinite(sigma)) continue;
      const double h = 1e-3 * sigma;
      std::array<double, 7> plus = base, minus = base;
      plus[slot[i]] += h, minus[slot[i]] -= h;
      double x1, y1, x2, y2;
      project(plus, point.X, point.Y, x1, y1);
      project(minus, point.X, point.Y, x2, y2);
      jx[i] = (x1 - x2) / (2 * h);
      jy[i] = (y1 - y2) / (2 * h);
    }
    double p = 0, q = 0, r = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) {
        const double m = c.matrix[i * n + j];
        p += jx[i] * m * jx[j], q += jx[i] * m * jy[j], r += jy[i] * m * jy[j];
      }
    const std::optional<Ellipse2> e = EllipseOfShape(p, q, r, std::sqrt(kChi2Two95));
    out.push_back(e.value_or(Ellipse2{}));
  }
  return out;
}

std::optional<Figure> ResidualFigure(const Orientation& o) {
  if (!o.residuals) return std::nullopt;
  const Residuals& res = *o.residuals;
  const char sep = o.decimalSeparator;
  double w = o.camera.ImageWidth, h = o.camera.ImageHeight;
  if (!(w > 0) || !(h > 0) || !IsFinite(w) || !IsFinite(h)) {
    // No frame given: the points' extent, about the image centre.
    w = h = 0;
    for (const PointResidual& p : res.points) {
      w = std::max(w, 2 * std::fabs(p.x));
      h = std::max(h, 2 * std::fabs(p.y));
    }
    if (!(w > 0)) w = 1;
    if (!(h > 0)) h = 1;
  }
  const double magnification = ArrowMagnification(res.summary.largest, std::max(w, h));
  Figure f;
  f.title = "Невязки на кадре";
  f.width = kWidth;
  double scale = (kWidth - 2 * kMargin) / w;
  if (h * scale > 260) scale = 260 / h;
  f.height = h * scale + 2 * kMargin + 14;
  const double left = (kWidth - w * scale) / 2, top = kMargin;
  const auto X = [&](double x) { return left + (x + w / 2) * scale; };
  const auto Y = [&](double y) { return top + (h / 2 - y) * scale; };
  f.shapes.push_back(Rectangle(X(-w / 2), Y(h / 2), X(w / 2), Y(-h / 2), kGrey, kFrameFill));
  f.shapes.push_back(Line(X(-6 / scale), Y(0), X(6 / scale), Y(0), kGrey));
  f.shapes.push_back(Line(X(0), Y(-6 / scale), X(0), Y(6 / scale), kGrey));
  const std::vector<Ellipse2> ellipses = PointEllipses(o);
  const bool detailed = res.points.size() <= 60;
  std::vector<int> checks;
  for (const CheckPointResult& check : o.checkPoints.points) checks.push_back(check.number);
  for (std::size_t i = 0; i < res.points.size(); ++i) {
    const PointResidual& p = res.points[i];
    // A check point, out of the fit, as a hollow square in a colour of its own.
    const bool check = std::find(checks.begin(), checks.end(), p.number) != checks.end();
    const FigureColour c = check ? kCheck : p.flagged ? kFlagged : kArrow;
    if (i < ellipses.size() && ellipses[i].a > 0) {
      const Ellipse2& e = ellipses[i];
      // y up in the frame, down in the drawing: the angle turns the other way.
      f.shapes.push_back(EllipseShape(X(p.x), Y(p.y), std::max(0.5, e.a * magnification * scale),
                                      std::max(0.5, e.b * magnification * scale),
                                      -e.angle * 180 / kPi, kEllipse));
    }
    if (check)
      f.shapes.push_back(
          Rectangle(X(p.x) - 3, Y(p.y) - 3, X(p.x) + 3, Y(p.y) + 3, c, std::nullopt));
    else
      f.shapes.push_back(Circle(X(p.x), Y(p.y), 2, c, c));
    Arrow(f.shapes, X(p.x), Y(p.y), X(p.x + magnification * p.ex), Y(p.y + magnification * p.ey),
          c);
    if (detailed)
      f.shapes.push_back(Text(X(p.x) + 4, Y(p.y) - 4,
                              p.id.empty() ? std::to_string(p.number) : p.id, -1, 7, kGrey));
  }
  f.shapes.push_back(Text(kWidth / 2, f.height - 6,
                          "Стрелки невязок увеличены в " + Magnified(magnification, sep) + " раз",
                          0, 9));
  f.caption = "Невязки точек на кадре " + FormatGeneral(w, sep) + " × " + FormatGeneral(h, sep) +
              " пикс.; стрелки увеличены в " + Magnified(magnification, sep) +
              " раз; красным — отмеченные точки" +
              (checks.empty() ? "" : "; лиловыми квадратами — контрольные точки") +
              (ellipses.empty() ? "."
                                : "; зелёным — 95 % эллипсы проекций точек (увеличены так "
                                  "же).");
  return f;
}

namespace {

// The plan or the side view: the plane's points and the camera along the axes u (right) and v (up);
// in the side view the scene plane is the line v = 0.
std::optional<Figure> SceneView(const Orientation& o, bool side) {
  if (!o.values.complete) return std::nullopt;
  const char sep = o.decimalSeparator;
  const std::array<double, 3> d = SightDirection(o);
  const std::array<double, 3> u = side ? d : std::array<double, 3>{1, 0, 0};
  const std::array<double, 3> v =
      side ? std::array<double, 3>{0, 0, 1} : std::array<double, 3>{0, 1, 0};
  const auto U = [&](double X, double Y, double Z) { return X * u[0] + Y * u[1] + Z * u[2]; };
  const auto V = [&](double X, double Y, double Z) { return X * v[0] + Y * v[1] + Z * v[2]; };
  const double cu = U(o.centre.x, o.centre.y, o.centre.z),
               cv = V(o.centre.x, o.centre.y, o.centre.z);
  const double su = U(o.values.values[kSightingX], o.values.values[kSightingY], 0),
               sv = V(o.values.values[kSightingX], o.values.values[kSightingY], 0);
  if (!IsFinite(cu) || !IsFinite(cv) || !IsFinite(su) || !IsFinite(sv)) return std::nullopt;
  PlaneMap map;
  map.minX = map.maxX = cu;
  map.minY = map.maxY = cv;
  map.Include(su, sv);
  if (side) map.Include(cu, 0);
  if (const auto* points = ScenePoints(o))
    for (const PointResidual& p : *points) map.Include(U(p.X, p.Y, 0), V(p.X, p.Y, 0));
  Figure f;
  f.title = side ? "Камера и плоскость сцены: вид сбоку" : "Камера и плоскость сцены: план";
  f.width = kWidth;
  f.height = map.Fit(side ? 200 : 260) + 14;
  if (side) {
    f.shapes.push_back(Line(kMargin / 2, map.Y(0), kWidth - kMargin / 2, map.Y(0), kGrey, 1.5));
    f.shapes.push_back(Line(map.X(cu), map.Y(0), map.X(cu), map.Y(cv), kGrey));
    f.shapes.back().dashed = true;
  }
  if (const auto* points = ScenePoints(o))
    for (const PointResidual& p : *points) {
      const FigureColour c = p.flagged ? kFlagged : kInk;
      f.shapes.push_back(Circle(map.X(U(p.X, p.Y, 0)), map.Y(V(p.X, p.Y, 0)), 2, c, c));
    }
  // The line of sight, the sighting point and the camera.
  f.shapes.push_back(Line(map.X(cu), map.Y(cv), map.X(su), map.Y(sv), kArrow));
  f.shapes.back().dashed = true;
  f.shapes.push_back(Circle(map.X(su), map.Y(sv), 3.5, kArrow, std::nullopt));
  f.shapes.push_back(Circle(map.X(cu), map.Y(cv), 4, kInk, FigureColour{255, 220, 0}));
  f.shapes.push_back(Text(map.X(cu) + 7, map.Y(cv) - 6, "S", -1, 10));
  f.shapes.push_back(Text(map.X(su) + 6, map.Y(sv) - 6, "T", -1, 10, kArrow));
  std::string ellipseText;
  if (const std::optional<Ellipse2> e = CentreEllipse(o, u, v)) {
    const double span = std::max(map.maxX - map.minX, map.maxY - map.minY);
    const double magnification = RoundMagnification(e->a, span / 12);
    f.shapes.push_back(EllipseShape(
        map.X(cu), map.Y(cv), std::max(0.5, e->a * magnification * map.scale),
        std::max(0.5, e->b * magnification * map.scale), -e->angle * 180 / kPi, kEllipse));
    f.shapes.back().width = 1.5;
    ellipseText = "; зелёным — 95 % эллипс центра (полуоси " + FormatFixed4(e->a, sep) + " и " +
                  FormatFixed4(e->b, sep) + ", увеличен в " + Magnified(magnification, sep) +
                  " раз)";
  }
  f.shapes.push_back(Text(
      kWidth / 2, f.height - 6,
      side ? "Горизонталь — вдоль линии визирования, вертикаль — Z" : "X вправо, Y вверх", 0, 9));
  f.caption = std::string(side ? "Вид сбоку" : "План") +
              ": S — центр проекции, T — точка визирования, точки — точки сцены" + ellipseText +
              ".";
  return f;
}

}  // namespace

std::optional<Figure> PlanFigure(const Orientation& o) { return SceneView(o, false); }
std::optional<Figure> SideFigure(const Orientation& o) { return SceneView(o, true); }

}  // namespace zelv
