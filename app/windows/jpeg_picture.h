#pragma once
// Decoding the start-up picture with libjpeg's own (IJG) interface: the one place the program
// reads JPEG.

#include <QByteArray>
#include <QImage>

namespace zelv {

// Decodes a JPEG held in memory into an RGB image (grey pictures come out as RGB too). A damaged
// or truncated picture gives a null image instead of ending the program.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace zelv
