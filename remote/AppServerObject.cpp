#include "remote/AppServerObject.h"

#include <array>
#include <string_view>

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"

namespace quor::remote {
namespace {
struct Member {
  std::u16string_view name;
  std::int32_t dispId;
};
constexpr std::array<Member, 7> kMembers = {{
    {u"AS_ApplyUpdates", kDispId_AS_ApplyUpdates},
    {u"AS_GetRecords", kDispId_AS_GetRecords},
    {u"AS_DataRequest", kDispId_AS_DataRequest},
    {u"AS_GetProviderNames", kDispId_AS_GetProviderNames},
    {u"AS_GetParams", kDispId_AS_GetParams},
    {u"AS_RowRequest", kDispId_AS_RowRequest},
    {u"AS_Execute", kDispId_AS_Execute},
}};

// An argument that does not fit its parameter.
struct BadArgument {
  HRESULT code;
};

// The value an argument carries, through its reference if it has one.
const Variant& ValueOf(const Variant& arg) {
  return arg.IsByRef() ? arg.RefTarget() : arg;
}

std::u16string Text(const Variant& arg) {
  const Variant& v = ValueOf(arg);
  if (v.Type() == VT_BSTR) return v.AsString();
  if (v.IsEmpty() || v.IsNull()) return u"";
  throw BadArgument{DISP_E_TYPEMISMATCH};
}

std::int32_t Int(const Variant& arg) {
  const Variant& v = ValueOf(arg);
  switch (v.Type()) {
    case VT_I4:
      return v.AsI4();
    case VT_I2:
      return v.AsI2();
    case VT_UI1:
      return v.AsUI1();
    case VT_EMPTY:
      return 0;
    default:
      throw BadArgument{DISP_E_TYPEMISMATCH};
  }
}

// A by-reference variant parameter: the caller's variable, or (when the
// caller passed a value) the argument itself, whose change nobody sees.
Variant& VarRef(Variant& arg) {
  return arg.IsByRef() ? arg.RefTarget() : arg;
}
}  // namespace

HRESULT AppServerObject::GetTypeInfoCount(std::uint32_t& count) {
  count = 0;
  return S_OK;
}

HRESULT AppServerObject::GetIDsOfNames(const platform::Guid& /*iid*/, const std::u16string* names,
                                       std::uint32_t count, std::uint32_t /*lcid*/,
                                       std::int32_t* ids) {
  HRESULT hr = S_OK;
  for (std::uint32_t i = 0; i < count; ++i) {
    ids[i] = -1;  // DISPID_UNKNOWN
    for (const Member& m : kMembers)
      if (platform::EqualsNoCase(names[i], m.name)) ids[i] = m.dispId;
    if (ids[i] == -1) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT AppServerObject::Invoke(std::int32_t dispId, const platform::Guid& /*iid*/,
                                std::uint32_t /*lcid*/, std::uint16_t /*flags*/, DispParams& params,
                                Variant* result, ExcepInfo* excepInfo, std::uint32_t* /*argErr*/) {
  if (!params.namedArgs.empty()) return DISP_E_PARAMNOTFOUND;
  Variant value;
  HRESULT hr = S_OK;
  std::string message;
  try {
    (void)TakeErrorInfo();
    hr = Dispatch(dispId, params.args, value);
    if (Failed(hr)) {
      if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT) return hr;
      const std::optional<ErrorInfo> info = TakeErrorInfo();
      message = info && !info->description.empty() ? info->description : HResultText(hr);
    }
  } catch (const BadArgument& bad) {
    return bad.code;
  } catch (const EOleSysError& e) {
    hr = e.ErrorCode() < 0 ? e.ErrorCode() : E_FAIL;
    message = e.what();
  } catch (const std::exception& e) {
    hr = E_FAIL;
    message = e.what();
  }
  if (Failed(hr)) {
    if (excepInfo) {
      excepInfo->scode = hr;
      excepInfo->description = platform::Utf8ToUtf16(message);
    }
    return DISP_E_EXCEPTION;
  }
  if (result) *result = std::move(value);
  return S_OK;
}

HRESULT AppServerObject::Dispatch(std::int32_t dispId, std::vector<Variant>& a, Variant& result) {
  // Arguments are last-first: a[0] is the last declared parameter.
  auto need = [&](std::size_t n) {
    if (a.size() != n) throw BadArgument{DISP_E_BADPARAMCOUNT};
  };
  switch (dispId) {
    case kDispId_AS_ApplyUpdates: {
      need(5);
      std::int32_t errorCount = Int(a[1]);
      const HRESULT hr =
          AS_ApplyUpdates(Text(a[4]), ValueOf(a[3]), Int(a[2]), errorCount, VarRef(a[0]), result);
      VarRef(a[1]) = Variant::I4(errorCount);
      return hr;
    }
    case kDispId_AS_GetRecords: {
      need(7);
      std::int32_t recsOut = Int(a[4]);
      const HRESULT hr = AS_GetRecords(Text(a[6]), Int(a[5]), recsOut, Int(a[3]), Text(a[2]),
                                       VarRef(a[1]), VarRef(a[0]), result);
      VarRef(a[4]) = Variant::I4(recsOut);
      return hr;
    }
    case kDispId_AS_DataRequest:
      need(2);
      return AS_DataRequest(Text(a[1]), ValueOf(a[0]), result);
    case kDispId_AS_GetProviderNames:
      need(0);
      return AS_GetProviderNames(result);
    case kDispId_AS_GetParams:
      need(2);
      return AS_GetParams(Text(a[1]), VarRef(a[0]), result);
    case kDispId_AS_RowRequest:
      need(4);
      return AS_RowRequest(Text(a[3]), ValueOf(a[2]), Int(a[1]), VarRef(a[0]), result);
    case kDispId_AS_Execute:
      need(4);
      return AS_Execute(Text(a[3]), Text(a[2]), VarRef(a[1]), VarRef(a[0]));
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace quor::remote
