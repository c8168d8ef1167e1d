#pragma once
// The folder of the running executable. The terminal keeps everything it reads
// beside itself (VODSet.ini, drivers.ini, libdsengine.so, Photo/).

#include <string>

namespace quor::platform {

// The folder of the running executable with its trailing '/', as a byte
// string (paths on this system are taken as bytes, as the kernel keeps them).
// Read once from /proc/self/exe; any thread may call it.
const std::string& ProgramFolder();

}  // namespace quor::platform
