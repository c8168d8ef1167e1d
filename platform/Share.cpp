#include "platform/Share.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace quor::platform {
namespace {
std::mutex& ShareMutex() {
  static std::mutex m;
  return m;
}
ShareConnection& ShareSlot() {  // guarded by ShareMutex()
  static ShareConnection c;
  return c;
}
std::string Slashes(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}
}  // namespace

int ConnectShare(const ShareConnection& connection) {
  const std::lock_guard lock(ShareMutex());
  ShareSlot() = connection;
  return 0;
}

ShareConnection ConnectedShare() {
  const std::lock_guard lock(ShareMutex());
  return ShareSlot();
}

std::string ShareRoot(const std::string& server, const std::string& share) {
  const char* root = std::getenv("QUORVOD_SHARE_ROOT");
  if (root != nullptr && *root != '\0') {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    return r;
  }
  return "/mnt/" + server + "/" + share;
}

std::string MapSharePath(const std::string& path) {
  if (path.size() < 3 || path[0] != '\\' || path[1] != '\\') return Slashes(path);
  const auto serverEnd = path.find('\\', 2);
  if (serverEnd == std::string::npos) return Slashes(path);
  const std::string server = path.substr(2, serverEnd - 2);
  const auto shareEnd = path.find('\\', serverEnd + 1);
  const std::string share = path.substr(
      serverEnd + 1, shareEnd == std::string::npos ? std::string::npos : shareEnd - serverEnd - 1);
  const std::string rest = shareEnd == std::string::npos ? "" : path.substr(shareEnd);
  if (server.empty() || share.empty()) return Slashes(path);
  return ShareRoot(server, share) + Slashes(rest);
}

}  // namespace quor::platform
