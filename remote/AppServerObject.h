#pragma once
// A base for the application server's objects: the IDispatch side of
// IAppServer. GetIDsOfNames knows the seven operation names; Invoke takes
// the arguments (last first, plain or by reference), calls the operation and
// writes the by-reference results back. A subclass implements the seven
// AS_ operations; an exception or failing HRESULT from one becomes
// DISP_E_EXCEPTION with its message as the description, which the terminal
// raises again with that text.

#include "remote/Dispatch.h"

namespace quor::remote {

class AppServerObject : public IAppServer {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t& count) override;
  HRESULT GetIDsOfNames(const platform::Guid& iid, const std::u16string* names, std::uint32_t count,
                        std::uint32_t lcid, std::int32_t* ids) override;
  HRESULT Invoke(std::int32_t dispId, const platform::Guid& iid, std::uint32_t lcid,
                 std::uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excepInfo,
                 std::uint32_t* argErr) override;

 private:
  HRESULT Dispatch(std::int32_t dispId, std::vector<Variant>& args, Variant& result);
};

}  // namespace quor::remote
