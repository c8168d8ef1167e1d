#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace quor::platform {

const std::string& ProgramFolder() {
  static const std::string folder = [] {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string path = n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : "./";
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
  }();
  return folder;
}

}  // namespace quor::platform
