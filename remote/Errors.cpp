#include "remote/Errors.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quor::remote {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, again);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

std::string HResultText(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "The operation completed successfully";
    case E_NOTIMPL:
      return "Not implemented";
    case E_NOINTERFACE:
      return "No such interface supported";
    case E_POINTER:
      return "Invalid pointer";
    case E_FAIL:
      return "Unspecified error";
    case E_UNEXPECTED:
      return "Catastrophic failure";
    case E_INVALIDARG:
      return "The parameter is incorrect";
    case DISP_E_UNKNOWNINTERFACE:
      return "Unknown interface";
    case DISP_E_MEMBERNOTFOUND:
      return "Member not found";
    case DISP_E_PARAMNOTFOUND:
      return "Parameter not found";
    case DISP_E_TYPEMISMATCH:
      return "Type mismatch";
    case DISP_E_UNKNOWNNAME:
      return "Unknown name";
    case DISP_E_BADVARTYPE:
      return "Bad variable type";
    case DISP_E_EXCEPTION:
      return "Exception occurred";
    case DISP_E_BADPARAMCOUNT:
      return "Invalid number of parameters";
    case REGDB_E_CLASSNOTREG:
      return "Class not registered";
    case CO_E_CLASSSTRING:
      return "Invalid class string";
    case RPC_E_DISCONNECTED:
      return "The object invoked has disconnected from its clients";
    default:
      return Format("Error 0x%08X", static_cast<unsigned>(hr));
  }
}

namespace {
thread_local std::optional<ErrorInfo> tErrorInfo;
}

void SetErrorInfo(std::optional<ErrorInfo> info) {
  tErrorInfo = std::move(info);
}

std::optional<ErrorInfo> TakeErrorInfo() {
  std::optional<ErrorInfo> info = std::move(tErrorInfo);
  tErrorInfo.reset();
  return info;
}

void OleCheck(HRESULT hr) {
  if (Succeeded(hr)) return;
  if (std::optional<ErrorInfo> info = TakeErrorInfo()) {
    const std::string message = info->description.empty() ? HResultText(hr) : info->description;
    throw EOleException(message, hr, info->source);
  }
  throw EOleSysError(HResultText(hr), hr);
}

}  // namespace quor::remote
