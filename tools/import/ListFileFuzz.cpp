// Hostile list files: any bytes must give a table or a clear error, never a
// crash, a hang or an unbounded allocation; the column mapping takes any
// header.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "ListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quor::tools::catalogue;
  static Normaliser normaliser;
  try {
    const ListTable table = ParseList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (table.rows.size() != table.lines.size()) __builtin_trap();
    try {
      MapColumns(table.header, normaliser);
    } catch (const std::runtime_error&) {
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
