#include "ui/JpegLoader.h"

// jpeglib.h needs size_t and FILE declared first.
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <stdexcept>
#include <string>

namespace quor::ui {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return.
// Unwinding a C++ exception through libjpeg's C frames is not safe, so the
// handler jumps back to the setjmp in Decode, whose frame holds nothing that
// needs destroying; the message is carried out in the error manager.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings (corrupt but readable data) stay silent

enum class Outcome { kOk, kLibraryError, kTooLarge, kColourSpace };

// POD-only frame between setjmp and the libjpeg calls. Rows are decoded
// straight into the image's own memory, allocated by the caller's callback.
struct Target {
  QImage* image;
  bool cmyk;
};

Outcome Decode(jpeg_decompress_struct* cinfo, ErrorManager* err, const unsigned char* data,
               unsigned long size, Target* target) {
  if (setjmp(err->jump) != 0) return Outcome::kLibraryError;
  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, data, size);
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width > static_cast<JDIMENSION>(kMaxJpegSide) ||
      cinfo->image_height > static_cast<JDIMENSION>(kMaxJpegSide))
    return Outcome::kTooLarge;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
      cinfo->out_color_space = JCS_RGB;
      target->cmyk = false;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      target->cmyk = true;
      break;
    default:
      return Outcome::kColourSpace;
  }
  jpeg_start_decompress(cinfo);
  const int width = static_cast<int>(cinfo->output_width);
  const int height = static_cast<int>(cinfo->output_height);
  // Allocation failure gives a null image, never an exception here.
  // CMYK rows (4 bytes a pixel) are decoded into 32-bit storage and turned
  // into RGB afterwards.
  *target->image =
      QImage(width, height, target->cmyk ? QImage::Format_RGBX8888 : QImage::Format_RGB888);
  if (target->image->isNull()) return Outcome::kTooLarge;
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = target->image->scanLine(static_cast<int>(cinfo->output_scanline));
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  return Outcome::kOk;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
  if (data == nullptr || size < 4) throw std::runtime_error("JPEG image is empty or truncated");
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = &OnError;
  err.pub.emit_message = &OnMessage;
  QImage image;
  Target target{&image, false};
  const Outcome outcome = Decode(&cinfo, &err, data, static_cast<unsigned long>(size), &target);
  jpeg_destroy_decompress(&cinfo);
  switch (outcome) {
    case Outcome::kOk:
      break;
    case Outcome::kLibraryError:
      throw std::runtime_error(std::string("JPEG error #") + std::to_string(err.pub.msg_code) +
                               ": " + err.message);
    case Outcome::kTooLarge:
      throw std::runtime_error("JPEG image is too large");
    case Outcome::kColourSpace:
      throw std::runtime_error("JPEG image has an unsupported colour space");
  }
  if (target.cmyk) {
    // CMYK JPEGs are written inverted (Adobe's convention), so each stored
    // byte is already 255 - ink: the colour is C * K / 255 per channel.
    QImage rgb(image.width(), image.height(), QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
      const uchar* in = image.constScanLine(y);
      uchar* out = rgb.scanLine(y);
      for (int x = 0; x < image.width(); ++x, in += 4, out += 3) {
        out[0] = static_cast<uchar>(in[0] * in[3] / 255);
        out[1] = static_cast<uchar>(in[1] * in[3] / 255);
        out[2] = static_cast<uchar>(in[2] * in[3] / 255);
      }
    }
    return rgb;
  }
  return image;
}

QImage DecodeJpeg(const QByteArray& data) {
  return DecodeJpeg(reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<std::size_t>(data.size()));
}

}  // namespace quor::ui
