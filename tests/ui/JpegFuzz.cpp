// Fuzz target: arbitrary bytes through the JPEG loader. It must decode or
// throw its message, never crash, hang or allocate without bound.

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "ui/JpegLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const QImage image = quor::ui::DecodeJpeg(data, size);
    if (image.width() > quor::ui::kMaxJpegSide || image.height() > quor::ui::kMaxJpegSide)
      __builtin_trap();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
