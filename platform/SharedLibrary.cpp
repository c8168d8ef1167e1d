#include "platform/SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace quor::platform {
namespace {

std::string LoaderError(const char* fallback) {
  const char* why = ::dlerror();
  return why != nullptr ? why : fallback;
}

}  // namespace

SharedLibrary::~SharedLibrary() {
  Close();
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool SharedLibrary::Open(const std::string& path, Lifetime lifetime) {
  Close();
  error_.clear();
  int flags = RTLD_NOW | RTLD_LOCAL;
  if (lifetime == Lifetime::kResident) flags |= RTLD_NODELETE;
  handle_ = ::dlopen(path.c_str(), flags);
  if (handle_ == nullptr) {
    error_ = LoaderError("cannot be loaded");
    return false;
  }
  path_ = path;
  return true;
}

void* SharedLibrary::Symbol(const char* name) {
  if (handle_ == nullptr) {
    error_ = "no library is loaded";
    return nullptr;
  }
  ::dlerror();  // clear a stale error: a symbol may legitimately be null
  void* address = ::dlsym(handle_, name);
  if (address == nullptr) error_ = LoaderError("no such symbol");
  return address;
}

void SharedLibrary::Close() {
  if (handle_ != nullptr) ::dlclose(handle_);
  Release();
}

void SharedLibrary::Release() {
  handle_ = nullptr;
  path_.clear();
}

}  // namespace quor::platform
