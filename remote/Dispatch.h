#pragma once
// Late-bound calls: IDispatch, its parameter block and exception record, and
// the application server interface IAppServer that travels over it.

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

// {1AEFCC20-7A24-11D2-98B0-C69BEB4B5B6D}
inline constexpr platform::Guid kIID_IAppServer{
    0x1AEFCC20, 0x7A24, 0x11D2, {0x98, 0xB0, 0xC6, 0x9B, 0xEB, 0x4B, 0x5B, 0x6D}};

// Dispatch ids of the seven operations.
inline constexpr std::int32_t kDispId_AS_ApplyUpdates = 20000000;
inline constexpr std::int32_t kDispId_AS_GetRecords = 20000001;
inline constexpr std::int32_t kDispId_AS_DataRequest = 20000002;
inline constexpr std::int32_t kDispId_AS_GetProviderNames = 20000003;
inline constexpr std::int32_t kDispId_AS_GetParams = 20000004;
inline constexpr std::int32_t kDispId_AS_RowRequest = 20000005;
inline constexpr std::int32_t kDispId_AS_Execute = 20000006;

// The application server's operations. Each returns an HRESULT; a failure
// leaves its message as the thread's error information (interface
// kIID_IAppServer), which OleCheck turns back into an exception.
class IAppServer : public IDispatch {
 public:
  virtual HRESULT AS_ApplyUpdates(const std::u16string& providerName, const Variant& delta,
                                  std::int32_t maxErrors, std::int32_t& errorCount,
                                  Variant& ownerData, Variant& result) = 0;
  virtual HRESULT AS_GetRecords(const std::u16string& providerName, std::int32_t count,
                                std::int32_t& recsOut, std::int32_t options,
                                const std::u16string& commandText, Variant& params,
                                Variant& ownerData, Variant& result) = 0;
  virtual HRESULT AS_DataRequest(const std::u16string& providerName, const Variant& data,
                                 Variant& result) = 0;
  virtual HRESULT AS_GetProviderNames(Variant& result) = 0;
  virtual HRESULT AS_GetParams(const std::u16string& providerName, Variant& ownerData,
                               Variant& result) = 0;
  virtual HRESULT AS_RowRequest(const std::u16string& providerName, const Variant& row,
                                std::int32_t requestType, Variant& ownerData, Variant& result) = 0;
  virtual HRESULT AS_Execute(const std::u16string& providerName, const std::u16string& commandText,
                             Variant& params, Variant& ownerData) = 0;
};

}  // namespace quor::remote
