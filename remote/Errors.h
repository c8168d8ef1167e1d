#pragma once
// The system's exceptions and result codes.
//
// Every failure of the data path is an exception carrying the system's
// message text; what() is UTF-8 (texts from the wire are converted from
// UTF-16). Exception is the system's base class: the interpreter answers a
// peer's request with an error block for exceptions of this class only.
//
// HRESULT values are the 32-bit automation result codes the wire carries.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/Guid.h"

namespace quor::remote {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Failures of a socket object (create, connect, send, recv, close).
class ESocketError : public Exception {
 public:
  using Exception::Exception;
};

// Failures of the transport: the stream is unusable and is closed.
class ESocketConnectionError : public Exception {
 public:
  using Exception::Exception;
};

class EInterpreterError : public Exception {
 public:
  using Exception::Exception;
};

// An automation call failed with an HRESULT.
class EOleSysError : public Exception {
 public:
  EOleSysError(const std::string& message, std::int32_t code) : Exception(message), code_(code) {}
  std::int32_t ErrorCode() const { return code_; }

 private:
  std::int32_t code_;
};

// An automation call failed with DISP_E_EXCEPTION: the message is the
// description the callee gave.
class EOleException : public EOleSysError {
 public:
  EOleException(const std::string& message, std::int32_t code, std::string source)
      : EOleSysError(message, code), source_(std::move(source)) {}
  const std::string& Source() const { return source_; }

 private:
  std::string source_;
};

// printf-style formatting of the system's message templates.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
inline constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);

inline bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
inline bool Failed(HRESULT hr) {
  return hr < 0;
}

// The system's text for a result code ("Member not found").
std::string HResultText(HRESULT hr);

// Per-thread error information, as an automation callee leaves it for its
// caller: set by a failing operation, taken (and cleared) by the caller.
struct ErrorInfo {
  platform::Guid iid;
  std::string source;
  std::string description;
};
void SetErrorInfo(std::optional<ErrorInfo> info);
std::optional<ErrorInfo> TakeErrorInfo();

// Raises the failure of an automation call: EOleException with the error
// information's description when the callee left one, else EOleSysError with
// the code's text. Does nothing for a success code.
void OleCheck(HRESULT hr);

}  // namespace quor::remote
