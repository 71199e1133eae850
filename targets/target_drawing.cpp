#include "targets/target_drawing.h"

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>
#include <apriltag/tag25h9.h>
#include <apriltag/tag36h11.h>
#include <apriltag/tagStandard41h12.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <opencv2/aruco.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "base/zelv_error.h"
#include "files/text_file.h"
#include "targets/target_dictionaries.h"

namespace zelv {
namespace {

TargetShape Rect(double u0, double v0, double u1, double v1) {
  return TargetShape{{{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}}, 0};
}

// An ArUco marker of side m with its top-left corner at (u, v), v down: black border of one
// cell, then the dictionary's bits (1 white).
void AddArucoMarker(std::vector<TargetShape>& shapes, const cv::aruco::Dictionary& dictionary,
                    int id, double u, double v, double m) {
  const int bits = dictionary.markerSize;
  const cv::Mat code =
      cv::aruco::Dictionary::getBitsFromByteList(dictionary.bytesList.rowRange(id, id + 1), bits);
  const double cell = m / (bits + 2);
  for (int i = 0; i < bits + 2; ++i)
    for (int j = 0; j < bits + 2; ++j) {
      const bool border = i == 0 || j == 0 || i == bits + 1 || j == bits + 1;
      if (border || code.at<std::uint8_t>(i - 1, j - 1) == 0)
        shapes.push_back(Rect(u + j * cell, v + i * cell, u + (j + 1) * cell, v + (i + 1) * cell));
    }
}

struct Family {
  apriltag_family_t* (*create)();
  void (*destroy)(apriltag_family_t*);
};

Family AprilFamily(const std::string& name) {
  if (name == "tag25h9") return {tag25h9_create, tag25h9_destroy};
  if (name == "tag16h5") return {tag16h5_create, tag16h5_destroy};
  if (name == "tagStandard41h12") return {tagStandard41h12_create, tagStandard41h12_destroy};
  return {tag36h11_create, tag36h11_destroy};
}

std::string Number(double value) {
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

}  // namespace

bool BoardVUp(TargetKind kind) {
  return kind == TargetKind::kAprilTagGrid || kind == TargetKind::kSquares;
}

std::vector<TargetShape> TargetShapes(const TargetDescription& target) {
  std::vector<TargetShape> shapes;
  const int rows = target.rows;
  const int columns = target.columns;
  switch (target.kind) {
    case TargetKind::kChessboard:
    case TargetKind::kCharuco: {
      const double s = target.squareSize;
      // The older ChArUco layout of an even number of rows starts with a white square.
      const int black =
          target.kind == TargetKind::kCharuco && target.olderCharucoLayout && rows % 2 == 0 ? 1 : 0;
      int marker = 0;
      const cv::Ptr<cv::aruco::Dictionary> dictionary =
          target.kind == TargetKind::kCharuco
              ? cv::aruco::getPredefinedDictionary(ArucoDictionaryId(target.dictionary))
              : nullptr;
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
          if ((r + c) % 2 == black) {
            shapes.push_back(Rect(c * s, r * s, (c + 1) * s, (r + 1) * s));
          } else if (dictionary) {
            const double inset = (s - target.markerSize) / 2;
            AddArucoMarker(shapes, *dictionary, marker++, c * s + inset, r * s + inset,
                           target.markerSize);
          }
        }
      break;
    }
    case TargetKind::kCircles:
    case TargetKind::kAsymmetricCircles: {
      const double radius =
          target.kind == TargetKind::kCircles ? target.spacing / 4 : target.spacing / 3;
      for (const TargetCorner& c : TargetCorners(TargetDescription{target.kind,
                                                                   rows,
                                                                   columns,
                                                                   0,
                                                                   0,
                                                                   target.spacing,
                                                                   "",
                                                                   false,
                                                                   {0, 0},
                                                                   {1, 0, 0, 1},
                                                                   {}}))
        shapes.push_back(TargetShape{{{c.x, c.y}}, radius});
      break;
    }
    case TargetKind::kArucoBoard: {
      const cv::Ptr<cv::aruco::Dictionary> dictionary =
          cv::aruco::getPredefinedDictionary(ArucoDictionaryId(target.dictionary));
      const double p = target.markerSize + target.spacing;
      for (int n = 0; n < rows * columns; ++n)
        AddArucoMarker(shapes, *dictionary, n, (n % columns) * p, (n / columns) * p,
                       target.markerSize);
      break;
    }
    case TargetKind::kAprilTagGrid: {
      const Family family = AprilFamily(target.dictionary);
      std::unique_ptr<apriltag_family_t, void (*)(apriltag_family_t*)> tags(family.create(),
                                                                            family.destroy);
      const double m = target.markerSize;
      const double g = target.spacing;
      const double p = m + g;
      const int inside = tags->width_at_border;
      const double cell = m / inside;
      for (int n = 0; n < rows * columns; ++n) {
        // The library's image_u8_destroy lives in its utilities, not linked here: the picture
        // is two allocations of the C library, freed as it made them.
        std::unique_ptr<image_u8_t, void (*)(image_u8_t*)> picture(apriltag_to_image(tags.get(), n),
                                                                   [](image_u8_t* im) {
                                                                     if (im) std::free(im->buf);
                                                                     std::free(im);
                                                                   });
        const int offset = (picture->width - inside) / 2;
        const double u = (n % columns) * p;
        const double top = (n / columns) * p + m;  // v up: the tag's first row is its top
        for (int i = 0; i < picture->height; ++i)
          for (int j = 0; j < picture->width; ++j)
            if (picture->buf[i * picture->stride + j] < 128)
              shapes.push_back(Rect(u + (j - offset) * cell, top - (i - offset + 1) * cell,
                                    u + (j - offset + 1) * cell, top - (i - offset) * cell));
      }
      // The small squares where four tags' corners meet, and at the board's edge.
      for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= columns; ++c)
          shapes.push_back(Rect(c * p - g, r * p - g, c * p, r * p));
      break;
    }
    case TargetKind::kSquares: {
      const double s = target.squareSize;
      const double p = s + target.spacing;
      for (int n = 0; n < rows * columns; ++n)
        shapes.push_back(Rect((n % columns) * p, (n / columns) * p, (n % columns) * p + s,
                              (n / columns) * p + s));
      break;
    }
    case TargetKind::kMarkers:
      break;
  }
  return shapes;
}

Expected<TargetPicture> DrawTarget(const TargetDescription& target, double scale, double margin) {
  Failure failure;
  failure.icon = MessageIcon::Stop;
  const std::vector<TargetShape> shapes = TargetShapes(target);
  if (shapes.empty()) {
    failure.text =
        "Мишень из отдельных маркеров (markers) не рисуется: маркеры лежат в сцене "
        "где угодно!";
    return failure;
  }
  TargetPicture picture;
  picture.scale = scale;
  picture.vUp = BoardVUp(target.kind);
  double uMin = 1e300, vMin = 1e300, uMax = -1e300, vMax = -1e300;
  for (const TargetShape& shape : shapes)
    for (const auto& p : shape.points) {
      uMin = std::min(uMin, p[0] - shape.radius);
      uMax = std::max(uMax, p[0] + shape.radius);
      vMin = std::min(vMin, p[1] - shape.radius);
      vMax = std::max(vMax, p[1] + shape.radius);
    }
  picture.uMin = uMin - margin;
  picture.vMin = vMin - margin;
  picture.uMax = uMax + margin;
  picture.vMax = vMax + margin;
  const double width = std::ceil((picture.uMax - picture.uMin) * scale);
  const double height = std::ceil((picture.vMax - picture.vMin) * scale);
  if (!(scale > 0) || !(width >= 1 && height >= 1 && width * height <= 4e8)) {
    failure.text = "Рисунок мишени получается слишком большим: уменьшите разрешение!";
    return failure;
  }
  cv::Mat image(static_cast<int>(height), static_cast<int>(width), CV_8UC1, cv::Scalar(255));
  constexpr int kShift = 8;
  const auto at = [&](double u, double v) {
    const double x = (u - picture.uMin) * scale - 0.5;
    const double y =
        picture.vUp ? (picture.vMax - v) * scale - 0.5 : (v - picture.vMin) * scale - 0.5;
    return cv::Point(static_cast<int>(std::lround(x * (1 << kShift))),
                     static_cast<int>(std::lround(y * (1 << kShift))));
  };
  for (const TargetShape& shape : shapes) {
    if (shape.radius > 0) {
      cv::circle(image, at(shape.points[0][0], shape.points[0][1]),
                 static_cast<int>(std::lround(shape.radius * scale * (1 << kShift))), cv::Scalar(0),
                 cv::FILLED, cv::LINE_8, kShift);
    } else {
      // fillPoly fills the pixels whose centres lie inside; its edges run through pixel
      // boundaries when they fall on them, hence the half pixel.
      std::vector<cv::Point> polygon;
      for (const auto& p : shape.points) polygon.push_back(at(p[0], p[1]));
      std::vector<cv::Point> inset;
      cv::Point2d centre(0, 0);
      for (const cv::Point& p : polygon)
        centre += cv::Point2d(p) / static_cast<double>(polygon.size());
      for (const cv::Point& p : polygon) {
        const double half = 0.5 * (1 << kShift);
        inset.emplace_back(static_cast<int>(p.x + (p.x < centre.x ? half : -half)),
                           static_cast<int>(p.y + (p.y < centre.y ? half : -half)));
      }
      cv::fillConvexPoly(image, inset, cv::Scalar(0), cv::LINE_8, kShift);
    }
  }
  picture.image.width = image.cols;
  picture.image.height = image.rows;
  picture.image.pixels.assign(image.datastart, image.dataend);
  return picture;
}

Expected<std::string> TargetSvg(const TargetDescription& target, double unitMillimetres) {
  const double margin =
      target.kind == TargetKind::kCircles || target.kind == TargetKind::kAsymmetricCircles
          ? target.spacing
          : std::max({target.squareSize, target.markerSize, target.spacing});
  Expected<TargetPicture> frame = DrawTarget(target, 1e-3, margin);
  if (!frame) return frame.error();
  const double w = frame->uMax - frame->uMin;
  const double h = frame->vMax - frame->vMin;
  const auto x = [&](double u) { return Number(u - frame->uMin); };
  const auto y = [&](double v) { return Number(frame->vUp ? frame->vMax - v : v - frame->vMin); };
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      Number(w * unitMillimetres) + "mm\" height=\"" + Number(h * unitMillimetres) +
      "mm\" viewBox=\"0 0 " + Number(w) + " " + Number(h) +
      "\" shape-rendering=\"crispEdges\">\n<rect width=\"100%\" height=\"100%\" "
      "fill=\"white\"/>\n<g fill=\"black\">\n";
  for (const TargetShape& shape : TargetShapes(target)) {
    if (shape.radius > 0) {
      svg += "<circle cx=\"" + x(shape.points[0][0]) + "\" cy=\"" + y(shape.points[0][1]) +
             "\" r=\"" + Number(shape.radius) + "\"/>\n";
    } else {
      svg += "<polygon points=\"";
      for (const auto& p : shape.points) svg += x(p[0]) + "," + y(p[1]) + " ";
      svg.back() = '"';
      svg += "/>\n";
    }
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

Expected<void> WritePicture(const GreyImage& image, const std::string& path) {
  Failure failure;
  failure.icon = MessageIcon::Stop;
  failure.input = FailedInput::kOutput;
  std::string extension = path.size() > 4 ? path.substr(path.size() - 4) : ".png";
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".bmp" && extension != ".tif") extension = ".png";
  std::vector<std::uint8_t> bytes;
  try {
    const cv::Mat mat(image.height, image.width, CV_8UC1,
                      const_cast<std::uint8_t*>(image.pixels.data()));
    if (!cv::imencode(extension, mat, bytes)) throw cv::Exception();
    ReplaceFile(path, std::string(bytes.begin(), bytes.end()));
  } catch (const cv::Exception&) {
    failure.text = "Не удается записать рисунок " + path + "!";
    return failure;
  } catch (const ZelvError&) {
    failure.text = "Не удается записать файл " + path + "!";
    return failure;
  }
  return Success();
}

}  // namespace zelv
