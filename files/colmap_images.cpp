#include "files/colmap_images.h"

#include <cstdio>
#include <exception>

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
  try {
    ReplaceFile(path, ColmapImagesText(images));
    return Success();
  } catch (const std::exception&) {
    return Failure{"cannot write " + path, "Ошибка!", MessageIcon::None, FailedInput::kOutput};
  }
}

}  // namespace zelv
