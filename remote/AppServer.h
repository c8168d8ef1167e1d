#pragma once
// The application server interface IAppServer: its seven operations with
// their dispatch ids and argument counts (the one table every side of the
// protocol uses), the option bits of AS_GetRecords, and the interface itself.
//
// Pure declarations; any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Guid.h"
#include "remote/Dispatch.h"

namespace quor::remote {

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

struct AppServerOperation {
  std::u16string_view name;
  std::int32_t dispId;
  std::uint32_t argCount;  // declared arguments; the result is not one of them
};

// In interface order.
inline constexpr std::array<AppServerOperation, 7> kAppServerOperations = {{
    {u"AS_ApplyUpdates", kDispId_AS_ApplyUpdates, 5},
    {u"AS_GetRecords", kDispId_AS_GetRecords, 7},
    {u"AS_DataRequest", kDispId_AS_DataRequest, 2},
    {u"AS_GetProviderNames", kDispId_AS_GetProviderNames, 0},
    {u"AS_GetParams", kDispId_AS_GetParams, 2},
    {u"AS_RowRequest", kDispId_AS_RowRequest, 4},
    {u"AS_Execute", kDispId_AS_Execute, 4},
}};

// The operation with this dispatch id, or null.
constexpr const AppServerOperation* FindAppServerOperation(std::int32_t dispId) {
  for (const AppServerOperation& op : kAppServerOperations)
    if (op.dispId == dispId) return &op;
  return nullptr;
}

// AS_GetRecords Options: bit 0 asks for the field descriptions with the rows
// (and starts the statement), bit 1 resets the provider (drops its open
// statement). A request with neither goes on with the open statement.
inline constexpr std::int32_t kOptionFieldDescriptions = 1;
inline constexpr std::int32_t kOptionReset = 2;

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
