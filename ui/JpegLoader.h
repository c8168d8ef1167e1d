#pragma once
// JPEG decoding on libjpeg, the terminal's one picture library. Any thread
// (each call has its own decoder).

#include <QByteArray>
#include <QImage>
#include <cstddef>

namespace quor::ui {

// Pictures wider or higher than this are refused before any pixel memory is
// taken: a room screen is 800x600, a singer photo a few hundred pixels.
inline constexpr int kMaxJpegSide = 8192;

// Decodes a baseline or progressive JPEG (greyscale, RGB/YCbCr or CMYK) into
// an RGB image. Throws std::runtime_error with a message on broken data,
// unsupported colour spaces and oversized pictures; never reads outside data.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);
QImage DecodeJpeg(const QByteArray& data);

}  // namespace quor::ui
