#include "remote/AppServerDispatcher.h"

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"

namespace quor::remote {
namespace {

// An argument that does not fit its parameter: the call's own failure, not
// the operation's.
struct BadArgument {
  HRESULT code;
  std::uint32_t index;
};

// The value an argument carries, through its reference if it has one.
const Variant& ValueOf(const Variant& arg) {
  return arg.IsByRef() ? arg.RefTarget() : arg;
}

// args[i] (last first) as the operation's parameters take them.
class Arguments {
 public:
  explicit Arguments(std::vector<Variant>& args) : args_(args) {}

  std::u16string Text(std::size_t i) const {
    const Variant& v = ValueOf(args_[i]);
    if (v.Type() == VT_BSTR) return v.AsString();
    if (v.IsEmpty() || v.IsNull()) return u"";
    throw BadArgument{DISP_E_TYPEMISMATCH, static_cast<std::uint32_t>(i)};
  }

  std::int32_t Int(std::size_t i) const {
    const Variant& v = ValueOf(args_[i]);
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
        throw BadArgument{DISP_E_TYPEMISMATCH, static_cast<std::uint32_t>(i)};
    }
  }

  const Variant& Value(std::size_t i) const { return ValueOf(args_[i]); }

  // An in-out variant: the caller's variable, or (passed by value) the
  // argument itself, whose change nobody sees.
  Variant& InOut(std::size_t i) const {
    return args_[i].IsByRef() ? args_[i].RefTarget() : args_[i];
  }

  // An out value, for a caller that passed a variable to take it.
  void SetOut(std::size_t i, Variant value) const {
    if (args_[i].IsByRef()) args_[i].RefTarget() = std::move(value);
  }

 private:
  std::vector<Variant>& args_;
};

}  // namespace

HRESULT AppServerDispatcher::GetTypeInfoCount(std::uint32_t& count) {
  count = 0;
  return S_OK;
}

HRESULT AppServerDispatcher::GetIDsOfNames(const platform::Guid& /*iid*/,
                                           const std::u16string* names, std::uint32_t count,
                                           std::uint32_t /*lcid*/, std::int32_t* ids) {
  if ((names == nullptr || ids == nullptr) && count != 0) return E_POINTER;
  HRESULT hr = S_OK;
  for (std::uint32_t i = 0; i < count; ++i) {
    ids[i] = -1;  // DISPID_UNKNOWN
    for (const AppServerOperation& op : kAppServerOperations)
      if (platform::EqualsNoCase(names[i], op.name)) ids[i] = op.dispId;
    if (ids[i] == -1) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT AppServerDispatcher::Invoke(std::int32_t dispId, const platform::Guid& /*iid*/,
                                    std::uint32_t /*lcid*/, std::uint16_t flags, DispParams& params,
                                    Variant* result, ExcepInfo* excepInfo, std::uint32_t* argErr) {
  const AppServerOperation* op = FindAppServerOperation(dispId);
  if (op == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (!params.namedArgs.empty()) return DISP_E_PARAMNOTFOUND;
  if (params.args.size() != op->argCount) return DISP_E_BADPARAMCOUNT;

  Variant answer;
  HRESULT hr = S_OK;
  std::string message;
  std::string source;
  try {
    (void)TakeErrorInfo();  // what an earlier call left is not this call's
    hr = Call(dispId, params.args, answer);
    if (Failed(hr)) {
      std::optional<ErrorInfo> info = TakeErrorInfo();
      if (info && !info->description.empty()) {
        message = std::move(info->description);
        source = std::move(info->source);
      } else {
        message = HResultText(hr);
      }
    }
  } catch (const BadArgument& bad) {
    if (argErr != nullptr) *argErr = bad.index;
    return bad.code;
  } catch (const EOleSysError& e) {
    hr = e.ErrorCode() < 0 ? e.ErrorCode() : E_FAIL;
    message = e.what();
  } catch (const std::exception& e) {
    hr = E_FAIL;
    message = e.what();
  }
  if (Failed(hr)) {
    if (excepInfo != nullptr) {
      *excepInfo = ExcepInfo{};
      excepInfo->source = platform::Utf8ToUtf16(source);
      excepInfo->description = platform::Utf8ToUtf16(message);
      excepInfo->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr) *result = std::move(answer);
  return S_OK;
}

// Arguments arrive last first: for AS_GetRecords args[6] is ProviderName and
// args[0] OwnerData. They are converted in declared order.
HRESULT AppServerDispatcher::Call(std::int32_t dispId, std::vector<Variant>& args,
                                  Variant& result) {
  const Arguments a(args);
  switch (dispId) {
    case kDispId_AS_ApplyUpdates: {
      const std::u16string provider = a.Text(4);
      const std::int32_t maxErrors = a.Int(2);
      std::int32_t errorCount = 0;
      const HRESULT hr =
          AS_ApplyUpdates(provider, a.Value(3), maxErrors, errorCount, a.InOut(0), result);
      if (Succeeded(hr)) a.SetOut(1, Variant::I4(errorCount));
      return hr;
    }
    case kDispId_AS_GetRecords: {
      const std::u16string provider = a.Text(6);
      const std::int32_t count = a.Int(5);
      const std::int32_t options = a.Int(3);
      const std::u16string command = a.Text(2);
      std::int32_t recsOut = 0;
      const HRESULT hr =
          AS_GetRecords(provider, count, recsOut, options, command, a.InOut(1), a.InOut(0), result);
      if (Succeeded(hr)) a.SetOut(4, Variant::I4(recsOut));
      return hr;
    }
    case kDispId_AS_DataRequest:
      return AS_DataRequest(a.Text(1), a.Value(0), result);
    case kDispId_AS_GetProviderNames:
      return AS_GetProviderNames(result);
    case kDispId_AS_GetParams:
      return AS_GetParams(a.Text(1), a.InOut(0), result);
    case kDispId_AS_RowRequest: {
      const std::u16string provider = a.Text(3);
      return AS_RowRequest(provider, a.Value(2), a.Int(1), a.InOut(0), result);
    }
    case kDispId_AS_Execute: {
      const std::u16string provider = a.Text(3);
      return AS_Execute(provider, a.Text(2), a.InOut(1), a.InOut(0));
    }
    default:
      return DISP_E_MEMBERNOTFOUND;  // Invoke let through no other id
  }
}

}  // namespace quor::remote
