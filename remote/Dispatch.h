#pragma once
// Late-bound calls: IDispatch, its parameter block and exception record. The
// application server interface that travels over it is remote/AppServer.h.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "remote/Errors.h"
#include "remote/Ref.h"
#include "remote/Variant.h"

namespace quor::remote {

// Invoke flags.
inline constexpr std::uint16_t DISPATCH_METHOD = 1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;

// Arguments of one call. `args` lists the LAST argument first, as every
// automation call does; named arguments' dispatch ids are in `namedArgs`,
// matching the first namedArgs.size() entries of args.
struct DispParams {
  std::vector<Variant> args;
  std::vector<std::int32_t> namedArgs;
};

// What a callee tells about an exception it raised (DISP_E_EXCEPTION).
struct ExcepInfo {
  std::uint16_t code = 0;
  std::u16string source;
  std::u16string description;
  std::int32_t scode = 0;
};

class IDispatch : public IUnknown {
 public:
  // Sets the count of type descriptions offered.
  virtual HRESULT GetTypeInfoCount(std::uint32_t& count) = 0;
  // Maps `count` names to dispatch ids (ids[i] for names[i]).
  virtual HRESULT GetIDsOfNames(const platform::Guid& iid, const std::u16string* names,
                                std::uint32_t count, std::uint32_t lcid, std::int32_t* ids) = 0;
  // Calls member `dispId`. `result` is null when the caller wants none;
  // `excepInfo` is filled when the call returns DISP_E_EXCEPTION; `argErr`
  // (may be null) gets the index of a bad argument.
  virtual HRESULT Invoke(std::int32_t dispId, const platform::Guid& iid, std::uint32_t lcid,
                         std::uint16_t flags, DispParams& params, Variant* result,
                         ExcepInfo* excepInfo, std::uint32_t* argErr) = 0;
};

}  // namespace quor::remote
