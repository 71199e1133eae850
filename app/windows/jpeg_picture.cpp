#include "app/windows/jpeg_picture.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>

namespace zelv {
namespace {

// libjpeg's default error handler ends the process; this one jumps back to the decoder instead.
struct JumpingErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void JumpOnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<JumpingErrorManager*>(info->err);
  std::longjmp(manager->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Decodes into `image`; false when libjpeg reported an error. Kept free of objects with
// destructors between setjmp and the end, so the jump skips nothing that needs cleaning up.
bool DecodeInto(const unsigned char* bytes, unsigned long size, QImage* image) {
  jpeg_decompress_struct info;
  JumpingErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOnError;
  errors.base.output_message = IgnoreMessage;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                  QImage::Format_RGB888);
  if (image->isNull() || info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return QImage();
  QImage image;
  if (!DecodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()), &image))
    return QImage();
  return image;
}

}  // namespace zelv
