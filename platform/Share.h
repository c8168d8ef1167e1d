#pragma once
// The media share of the server machine. On this platform mounting the CIFS
// share is the PC's job (fstab or systemd); the terminal remembers which share
// it was told to connect, and maps the UNC paths stored in the catalogue
// (\\server\share\rest) to local files under a mount root.
//
// The mount root is $QUORVOD_SHARE_ROOT when set (the demo points it at its own
// media folder), else /mnt/<server>/<share>. Pure functions are thread-safe;
// the connection record is guarded by a mutex.

#include <string>

namespace quor::platform {

// The record handed to the connect call: the remote name (MediaSharePath), the
// local name (empty: no drive letter), the user and password.
struct ShareConnection {
  int type = 1;  // disk resource
  std::string localName;
  std::string remoteName;
  std::string provider;
  std::string user;
  std::string password;
  unsigned flags = 0;
};

// Remembers the share as connected. Never fails (the result of a share
// connection is not looked at); returns 0.
int ConnectShare(const ShareConnection& connection);

// The last connection recorded by ConnectShare (empty remoteName when none).
ShareConnection ConnectedShare();

// Maps \\server\share\rest to <root>/rest with every backslash turned into a
// slash, the root being ShareRoot(server, share). A path that is not a UNC path
// is returned with its backslashes turned into slashes and nothing else.
std::string MapSharePath(const std::string& path);

// The mount root of a share: $QUORVOD_SHARE_ROOT if set and not empty, else
// /mnt/<server>/<share>.
std::string ShareRoot(const std::string& server, const std::string& share);

}  // namespace quor::platform
