// DispatchAppServer: the seven IAppServer operations as late-bound calls.

#include "remote/DispatchAppServer.h"

#include "platform/Codepage.h"
#include "remote/Errors.h"

namespace quor::remote {
namespace {
// The HRESULT an operation returns for the exception in flight, leaving its
// message as the error information of IAppServer.
HRESULT FailureResult() {
  HRESULT code = E_UNEXPECTED;
  std::string message;
  try {
    throw;
  } catch (const EOleSysError& e) {
    if (e.ErrorCode() < 0) code = e.ErrorCode();
    message = e.what();
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = HResultText(E_UNEXPECTED);
  }
  SetErrorInfo(ErrorInfo{kIID_IAppServer, "", message});
  return code;
}

// By-reference arguments: the variable's own Variant, or a VT_VARIANT reference.
Variant VarRef(Variant& variable) {
  return Variant::ByRef(VT_VARIANT, variable);
}
}  // namespace

HRESULT DispatchAppServer::GetTypeInfoCount(std::uint32_t& count) {
  return dispatch_->GetTypeInfoCount(count);
}

HRESULT DispatchAppServer::GetIDsOfNames(const platform::Guid& iid, const std::u16string* names,
                                         std::uint32_t count, std::uint32_t lcid,
                                         std::int32_t* ids) {
  return dispatch_->GetIDsOfNames(iid, names, count, lcid, ids);
}

HRESULT DispatchAppServer::Invoke(std::int32_t dispId, const platform::Guid& iid,
                                  std::uint32_t lcid, std::uint16_t flags, DispParams& params,
                                  Variant* result, ExcepInfo* excepInfo, std::uint32_t* argErr) {
  return dispatch_->Invoke(dispId, iid, lcid, flags, params, result, excepInfo, argErr);
}

void DispatchAppServer::Call(std::int32_t dispId, DispParams& params, Variant* result) {
  ExcepInfo excepInfo;
  std::uint32_t argErr = 0;
  const HRESULT hr = dispatch_->Invoke(dispId, platform::Guid{}, 0, DISPATCH_METHOD, params, result,
                                       &excepInfo, &argErr);
  if (Succeeded(hr)) return;
  if (hr == DISP_E_EXCEPTION)
    throw EOleException(platform::Utf16ToUtf8(excepInfo.description), excepInfo.scode,
                        platform::Utf16ToUtf8(excepInfo.source));
  throw EOleSysError(HResultText(hr), hr);
}

HRESULT DispatchAppServer::AS_ApplyUpdates(const std::u16string& providerName, const Variant& delta,
                                           std::int32_t maxErrors, std::int32_t& errorCount,
                                           Variant& ownerData, Variant& result) {
  try {
    Variant errorCountVar = Variant::I4(errorCount);
    DispParams params;
    params.args = {VarRef(ownerData), Variant::ByRef(VT_I4, errorCountVar), Variant::I4(maxErrors),
                   delta, Variant::Str(providerName)};
    Call(kDispId_AS_ApplyUpdates, params, &result);
    errorCount = errorCountVar.AsI4();
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_GetRecords(const std::u16string& providerName, std::int32_t count,
                                         std::int32_t& recsOut, std::int32_t options,
                                         const std::u16string& commandText, Variant& params,
                                         Variant& ownerData, Variant& result) {
  try {
    Variant recsOutVar = Variant::I4(recsOut);
    DispParams p;
    p.args = {VarRef(ownerData),
              VarRef(params),
              Variant::Str(commandText),
              Variant::I4(options),
              Variant::ByRef(VT_I4, recsOutVar),
              Variant::I4(count),
              Variant::Str(providerName)};
    Call(kDispId_AS_GetRecords, p, &result);
    recsOut = recsOutVar.AsI4();
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_DataRequest(const std::u16string& providerName, const Variant& data,
                                          Variant& result) {
  try {
    DispParams p;
    p.args = {data, Variant::Str(providerName)};
    Call(kDispId_AS_DataRequest, p, &result);
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_GetProviderNames(Variant& result) {
  try {
    DispParams p;
    Call(kDispId_AS_GetProviderNames, p, &result);
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_GetParams(const std::u16string& providerName, Variant& ownerData,
                                        Variant& result) {
  try {
    DispParams p;
    p.args = {VarRef(ownerData), Variant::Str(providerName)};
    Call(kDispId_AS_GetParams, p, &result);
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_RowRequest(const std::u16string& providerName, const Variant& row,
                                         std::int32_t requestType, Variant& ownerData,
                                         Variant& result) {
  try {
    DispParams p;
    p.args = {VarRef(ownerData), Variant::I4(requestType), row, Variant::Str(providerName)};
    Call(kDispId_AS_RowRequest, p, &result);
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

HRESULT DispatchAppServer::AS_Execute(const std::u16string& providerName,
                                      const std::u16string& commandText, Variant& params,
                                      Variant& ownerData) {
  try {
    // The operation has no result, but every call supplies a result variant.
    Variant ignored;
    DispParams p;
    p.args = {VarRef(ownerData), VarRef(params), Variant::Str(commandText),
              Variant::Str(providerName)};
    Call(kDispId_AS_Execute, p, &ignored);
    return S_OK;
  } catch (...) {
    return FailureResult();
  }
}

}  // namespace quor::remote
