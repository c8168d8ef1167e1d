#pragma once
// The IDispatch side of every application server object: the one place
// where a late-bound call, as the interpreter delivers a peer's invoke,
// becomes one of the seven AS_ operations. quorvod-server's object and every
// test double derive from it and implement the operations alone, so a test
// exercises the dispatch the product runs.
//
// GetIDsOfNames knows the seven names (without regard to ASCII case). Invoke
// checks, in this order, that the dispatch id is an operation called as a
// method (else DISP_E_MEMBERNOTFOUND), that no argument is named
// (DISP_E_PARAMNOTFOUND) and that the argument count is the operation's
// (DISP_E_BADPARAMCOUNT). Arguments come last first, plain or by reference:
// texts take a string, or empty or null as the empty text; integers take
// VT_I4, VT_I2, VT_UI1, or empty as 0; anything else is DISP_E_TYPEMISMATCH
// with the argument's index in *argErr. Out-only arguments (RecsOut,
// ErrorCount) are not read; out values go back into by-reference arguments
// only, and only when the operation succeeded.
//
// An operation that raises or returns a failing HRESULT makes the call
// DISP_E_EXCEPTION: scode the failing HRESULT (E_FAIL for an exception, or
// an OLE error's own code), description the exception's text or the error
// information the operation left, else the HRESULT's text. The terminal
// raises that description again.
//
// Threads: an object is called on one session thread at a time.

#include "remote/AppServer.h"

namespace quor::remote {

class AppServerDispatcher : public IAppServer {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t& count) override;
  HRESULT GetIDsOfNames(const platform::Guid& iid, const std::u16string* names, std::uint32_t count,
                        std::uint32_t lcid, std::int32_t* ids) override;
  HRESULT Invoke(std::int32_t dispId, const platform::Guid& iid, std::uint32_t lcid,
                 std::uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excepInfo,
                 std::uint32_t* argErr) override;

 private:
  HRESULT Call(std::int32_t dispId, std::vector<Variant>& args, Variant& result);
};

}  // namespace quor::remote
