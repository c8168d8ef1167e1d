#pragma once
// A shared library loaded at run time (dlopen/dlsym): the dataset engine and
// the decoder drivers. The only place above the C library that loads code.
//
// The object owns one reference to the library while open: Close (or the
// destructor) drops it, which unloads the library unless another reference or
// the resident lifetime keeps it mapped. Release forgets the reference without
// dropping it, for code that may still run after its owner is gone.
//
// One thread at a time per object; the functions it hands out may be called
// from any thread the library allows.

#include <string>

namespace quor::platform {

class SharedLibrary {
 public:
  // kResident libraries stay mapped for the life of the process even after
  // every reference is dropped (a driver's threads may outlive its handle).
  enum class Lifetime { kUnloadable, kResident };

  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the library at `path` with every symbol bound now and none made
  // global. False when it cannot be loaded; Error() says why.
  bool Open(const std::string& path, Lifetime lifetime = Lifetime::kUnloadable);
  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }
  // The loader's text for the last failure of Open or Symbol.
  const std::string& Error() const { return error_; }

  // The address of an exported symbol, null when the library has none.
  void* Symbol(const char* name);
  // The same as a function pointer type.
  template <class Fn>
  Fn Function(const char* name) {
    return reinterpret_cast<Fn>(Symbol(name));
  }

  void Close();
  void Release();

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace quor::platform
