#pragma once
// The application server object as the client datasets call it: IAppServer
// over the server object's IDispatch (a proxy of the interpreter), each
// operation one late-bound call. SocketConnection::ServerInterface hands it
// out.
//
// Threads: the GUI thread, like the connection whose proxy it calls.

#include <utility>

#include "platform/Guid.h"
#include "remote/AppServer.h"
#include "remote/Ref.h"

namespace quor::remote {

// The server object as IAppServer: each operation is one late-bound call by
// dispatch id with the arguments last-first; every failure becomes an
// HRESULT with the message as the thread's error information.
class DispatchAppServer final : public IAppServer {
 public:
  explicit DispatchAppServer(Ref<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  // Rich error information is offered for IAppServer only.
  HRESULT InterfaceSupportsErrorInfo(const platform::Guid& iid) const {
    return iid == kIID_IAppServer ? S_OK : S_FALSE;
  }

  HRESULT GetTypeInfoCount(std::uint32_t& count) override;
  HRESULT GetIDsOfNames(const platform::Guid& iid, const std::u16string* names, std::uint32_t count,
                        std::uint32_t lcid, std::int32_t* ids) override;
  HRESULT Invoke(std::int32_t dispId, const platform::Guid& iid, std::uint32_t lcid,
                 std::uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excepInfo,
                 std::uint32_t* argErr) override;

  HRESULT AS_ApplyUpdates(const std::u16string& providerName, const Variant& delta,
                          std::int32_t maxErrors, std::int32_t& errorCount, Variant& ownerData,
                          Variant& result) override;
  HRESULT AS_GetRecords(const std::u16string& providerName, std::int32_t count,
                        std::int32_t& recsOut, std::int32_t options,
                        const std::u16string& commandText, Variant& params, Variant& ownerData,
                        Variant& result) override;
  HRESULT AS_DataRequest(const std::u16string& providerName, const Variant& data,
                         Variant& result) override;
  HRESULT AS_GetProviderNames(Variant& result) override;
  HRESULT AS_GetParams(const std::u16string& providerName, Variant& ownerData,
                       Variant& result) override;
  HRESULT AS_RowRequest(const std::u16string& providerName, const Variant& row,
                        std::int32_t requestType, Variant& ownerData, Variant& result) override;
  HRESULT AS_Execute(const std::u16string& providerName, const std::u16string& commandText,
                     Variant& params, Variant& ownerData) override;

 private:
  // One automation call; a failing HRESULT raises (EOleException with the
  // peer's description for DISP_E_EXCEPTION).
  void Call(std::int32_t dispId, DispParams& params, Variant* result);
  Ref<IDispatch> dispatch_;
};

}  // namespace quor::remote
