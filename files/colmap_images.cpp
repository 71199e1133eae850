#include "files/colmap_images.h"

#include <cstdio>
#include <exception>

#include "base/shown_text.h"
#include "files/text_file.h"

namespace zelv {

namespace {

// %.17g, a whole number without ".0": each text reads back as the same double.
std::string Number17(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

std::optional<std::string> ColmapNameProblem(const std::string& name) {
  // Control characters written as escapes, so that the message itself stays on its line.
  std::string escaped;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      escaped += "\\n";
    } else if (byte == '\r') {
      escaped += "\\r";
    } else if (byte == '\t') {
      escaped += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  std::string shown = "\"";
  shown += ShownName(escaped, 200);
  shown += '"';
  if (name.empty()) return std::string("an image has an empty name, which images.txt cannot hold");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ')
      return "the image name " + shown +
             " has a blank, which COLMAP's images.txt cannot hold (its reader splits NAME at "
             "blanks): rename the file";
    if (byte < 0x20 || byte == 0x7F)
      return "the image name " + shown +
             " has a line break or another control character, which COLMAP's images.txt cannot "
             "hold: rename the file";
  }
  return std::nullopt;
}

std::string ColmapImagesText(const std::vector<ColmapImage>& images) {
  std::string out =
      "# Image list with two lines of data per image:\n"
      "#   IMAGE_ID, QW, QX, QY, QZ, TX, TY, TZ, CAMERA_ID, NAME\n"
      "#   POINTS2D[] as (X, Y, POINT3D_ID)\n"
      "# Number of images: " +
      std::to_string(images.size()) + ", mean observations per image: 0\n";
  for (const ColmapImage& image : images) {
    out += std::to_string(image.imageId);
    for (double v : {image.qw, image.qx, image.qy, image.qz, image.tx, image.ty, image.tz})
      out += ' ' + Number17(v);
    out += ' ' + std::to_string(image.cameraId) + ' ' + image.name + "\n\n";
  }
  return out;
}

Expected<void> WriteColmapImages(const std::string& path, const std::vector<ColmapImage>& images) {
  for (const ColmapImage& image : images)
    if (const std::optional<std::string> problem = ColmapNameProblem(image.name))
      return Failure{"cannot write " + path + ": " + *problem, "Ошибка!", MessageIcon::None,
                     FailedInput::kOutput};
  try {
    ReplaceFile(path, ColmapImagesText(images));
    return Success();
  } catch (const std::exception&) {
    return Failure{"cannot write " + path, "Ошибка!", MessageIcon::None, FailedInput::kOutput};
  }
}

}  // namespace zelv
