#pragma once
// The server object a terminal creates ("{6EE68EED-0503-48A7-8626-C11D1330E902}",
// program id "Lyrahub.DM"): the seven IAppServer operations over the three
// providers. A peer's late-bound call reaches them through the dispatcher
// they derive from (remote/AppServerDispatcher.h).
//
// One object belongs to one session and is called on its thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "remote/Remote.h"
#include "server/Provider.h"

namespace quor::server {

class RequestLog;
class SessionObserver;

// {6EE68EED-0503-48A7-8626-C11D1330E902}
inline constexpr platform::Guid kServerClassId{
    0x6EE68EED, 0x0503, 0x48A7, {0x86, 0x26, 0xC1, 0x1D, 0x13, 0x30, 0xE9, 0x02}};
inline constexpr char kServerProgId[] = "Lyrahub.DM";

// What a session lends its server objects.
struct SessionContext {
  std::string peer;  // "address:port" of the terminal
  RequestLog* log = nullptr;
  std::function<SqlBackend&()> database;  // the session's backend, connected on first use
  SessionObserver* observer = nullptr;    // told of room requests and songs started
};

class AppServerObject final : public remote::AppServerDispatcher {
 public:
  explicit AppServerObject(SessionContext& context);
  ~AppServerObject() override;

  remote::HRESULT AS_ApplyUpdates(const std::u16string& providerName, const remote::Variant& delta,
                                  std::int32_t maxErrors, std::int32_t& errorCount,
                                  remote::Variant& ownerData, remote::Variant& result) override;
  remote::HRESULT AS_GetRecords(const std::u16string& providerName, std::int32_t count,
                                std::int32_t& recsOut, std::int32_t options,
                                const std::u16string& commandText, remote::Variant& params,
                                remote::Variant& ownerData, remote::Variant& result) override;
  remote::HRESULT AS_DataRequest(const std::u16string& providerName, const remote::Variant& data,
                                 remote::Variant& result) override;
  remote::HRESULT AS_GetProviderNames(remote::Variant& result) override;
  remote::HRESULT AS_GetParams(const std::u16string& providerName, remote::Variant& ownerData,
                               remote::Variant& result) override;
  remote::HRESULT AS_RowRequest(const std::u16string& providerName, const remote::Variant& row,
                                std::int32_t requestType, remote::Variant& ownerData,
                                remote::Variant& result) override;
  remote::HRESULT AS_Execute(const std::u16string& providerName, const std::u16string& commandText,
                             remote::Variant& params, remote::Variant& ownerData) override;

 private:
  // The operations themselves; failures raise.
  remote::Variant GetRecords(const std::u16string& providerName, std::int32_t count,
                             std::int32_t& recsOut, std::int32_t options,
                             const std::u16string& commandText);
  remote::Variant ApplyUpdates(const std::u16string& providerName, const remote::Variant& delta,
                               std::int32_t maxErrors, std::int32_t& errorCount);
  remote::Variant ProviderNames() const;
  void Execute(const std::u16string& providerName, const std::u16string& commandText);
  Provider& Find(const std::u16string& providerName);

  SessionContext& context_;
  std::vector<std::unique_ptr<Provider>> providers_;
  std::vector<std::u16string> names16_;  // their names as they travel
};

}  // namespace quor::server
