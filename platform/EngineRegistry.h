#pragma once
// Where the dataset engine library lives. There is no system registry on this
// platform: start-up records the library's path here (RegisterEngine) and the
// engine loader reads it back. Guarded by a mutex; any thread may call.

#include <string>

namespace quor::platform {

// The file name of the engine library on this platform.
inline constexpr const char* kEngineLibraryName = "libdsengine.so";

// Records path as the engine library to load (taken as it stands: no quoting,
// blanks and all).
void RecordEnginePath(const std::string& path);

// The recorded path, or empty when nothing was recorded.
std::string RecordedEnginePath();

}  // namespace quor::platform
