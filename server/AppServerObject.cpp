#include "server/AppServerObject.h"

#include <chrono>

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "remote/Remote.h"
#include "server/RequestLog.h"
#include "server/SessionObserver.h"

namespace quor::server {
namespace {

using remote::Exception;
using remote::HRESULT;
using remote::Variant;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The value an argument carries, through its reference if it has one.
const Variant& Value(const Variant& arg) {
  return arg.IsByRef() ? arg.RefTarget() : arg;
}

Variant PacketVariant(std::optional<std::vector<std::uint8_t>>&& packet) {
  if (!packet) return Variant::Null();
  return Variant::Array(remote::SafeArray::FromVector(std::move(*packet)));
}

std::span<const std::uint8_t> PacketBytes(const Variant& value) {
  const Variant& v = Value(value);
  if (v.IsEmpty() || v.IsNull()) return {};
  if (v.Type() != (remote::VT_ARRAY | remote::VT_UI1) || v.AsArray().DimCount() != 1) {
    throw Exception("Invalid data packet");
  }
  return {v.AsArray().Data(), v.AsArray().ByteCount()};
}

}  // namespace

AppServerObject::AppServerObject(SessionContext& context) : context_(context) {
  for (ProviderDefinition& definition : StandardProviders()) {
    names16_.push_back(platform::Utf8ToUtf16(definition.name));
    providers_.push_back(
        std::make_unique<Provider>(std::move(definition), context_.database, context_.limits));
  }
}

AppServerObject::~AppServerObject() = default;

// Provider names compare without letter case, as component names do.
Provider& AppServerObject::Find(const std::u16string& providerName) {
  for (std::size_t i = 0; i < providers_.size(); ++i) {
    if (platform::EqualsNoCase(names16_[i], providerName)) return *providers_[i];
  }
  throw Exception("Provider not found: " + platform::Utf16ToUtf8(providerName));
}

Variant AppServerObject::GetRecords(const std::u16string& providerName, std::int32_t count,
                                    std::int32_t& recsOut, std::int32_t options,
                                    const std::u16string& commandText) {
  const auto start = Clock::now();
  const std::string name = platform::Utf16ToUtf8(providerName);
  const std::string command = platform::Utf16ToUtf8(commandText);
  try {
    Provider& provider = Find(providerName);
    RecordsAnswer answer = provider.GetRecords(count, options, command);
    recsOut = answer.recsOut;
    if (context_.observer != nullptr && answer.recsOut > 0 && !command.empty()) {
      if (const auto song = PathLookupSongId(command)) {
        context_.observer->SongStarted(context_.peer, *song);
      }
    }
    if (context_.log != nullptr) {
      context_.log->Request(context_.peer, name,
                            answer.packet ? answer.statement : std::string("(reset)"),
                            answer.recsOut, MsSince(start));
    }
    return PacketVariant(std::move(answer.packet));
  } catch (const std::exception& e) {
    if (context_.log != nullptr) {
      context_.log->Failure(context_.peer, name, command, e.what(), MsSince(start));
    }
    throw;
  }
}

Variant AppServerObject::ApplyUpdates(const std::u16string& providerName, const Variant& delta,
                                      std::int32_t maxErrors, std::int32_t& errorCount) {
  const auto start = Clock::now();
  const std::string name = platform::Utf16ToUtf8(providerName);
  try {
    Provider& provider = Find(providerName);
    UpdatesAnswer answer =
        provider.ApplyUpdates(PacketBytes(delta), maxErrors, context_.peer, UnixNowMs());
    errorCount = answer.errorCount;
    // A repeat (the answer to an earlier delta was lost) was told the first
    // time: the front desk sees each press once.
    if (context_.observer != nullptr) {
      for (const PostedRow& row : answer.stored)
        context_.observer->RoomRequestStored(context_.peer, row.clientName);
    }
    if (context_.log != nullptr) {
      for (const PostedRow& row : answer.stored)
        context_.log->RoomRequest(context_.peer, name, row.described);
      for (const PostedRow& row : answer.repeated)
        context_.log->RoomRequestRepeat(context_.peer, name, row.described);
      context_.log->Request(context_.peer, name, "(apply updates)",
                            static_cast<long>(answer.stored.size()), MsSince(start));
      if (answer.errorCount != 0) {
        context_.log->Failure(context_.peer, name, "(apply updates)",
                              std::to_string(answer.errorCount) + " rows rejected", MsSince(start));
      }
    }
    return PacketVariant(std::move(answer.errors));
  } catch (const std::exception& e) {
    if (context_.log != nullptr) {
      context_.log->Failure(context_.peer, name, "(apply updates)", e.what(), MsSince(start));
    }
    throw;
  }
}

Variant AppServerObject::ProviderNames() const {
  auto names = remote::SafeArray::Create(remote::VT_VARIANT,
                                         {{0, static_cast<std::int32_t>(providers_.size()) - 1}});
  for (std::size_t i = 0; i < providers_.size(); ++i) {
    names->PutAt(i, Variant::Str(names16_[i]));
  }
  return Variant::Array(std::move(names));
}

void AppServerObject::Execute(const std::u16string& providerName,
                              const std::u16string& commandText) {
  // A statement that returns nothing has nothing to do in a read-only
  // server; one that returns rows runs and its rows are dropped.
  const auto start = Clock::now();
  const std::string name = platform::Utf16ToUtf8(providerName);
  const std::string command = platform::Utf16ToUtf8(commandText);
  try {
    Find(providerName);
    auto cursor = context_.database().OpenReadOnlyWhole(command);
    long rows = 0;
    while (cursor->Step()) ++rows;
    if (context_.log != nullptr)
      context_.log->Request(context_.peer, name, command, 0, MsSince(start));
  } catch (const std::exception& e) {
    if (context_.log != nullptr) {
      context_.log->Failure(context_.peer, name, command, e.what(), MsSince(start));
    }
    throw;
  }
}

// The operations as IAppServer offers them: a failure becomes E_FAIL with its
// text as the thread's error information, which the dispatcher (or a caller
// in this process) takes.
namespace {
template <class F>
HRESULT Guarded(F&& f) {
  try {
    f();
    return remote::S_OK;
  } catch (const std::exception& e) {
    remote::SetErrorInfo(remote::ErrorInfo{remote::kIID_IAppServer, "quorvod-server", e.what()});
    return remote::E_FAIL;
  }
}
}  // namespace

HRESULT AppServerObject::AS_ApplyUpdates(const std::u16string& providerName, const Variant& delta,
                                         std::int32_t maxErrors, std::int32_t& errorCount, Variant&,
                                         Variant& result) {
  return Guarded([&] { result = ApplyUpdates(providerName, delta, maxErrors, errorCount); });
}

HRESULT AppServerObject::AS_GetRecords(const std::u16string& providerName, std::int32_t count,
                                       std::int32_t& recsOut, std::int32_t options,
                                       const std::u16string& commandText, Variant&, Variant&,
                                       Variant& result) {
  return Guarded([&] { result = GetRecords(providerName, count, recsOut, options, commandText); });
}

HRESULT AppServerObject::AS_DataRequest(const std::u16string& providerName, const Variant&,
                                        Variant& result) {
  return Guarded([&] {
    Find(providerName);
    result = Variant();
  });
}

HRESULT AppServerObject::AS_GetProviderNames(Variant& result) {
  return Guarded([&] { result = ProviderNames(); });
}

HRESULT AppServerObject::AS_GetParams(const std::u16string& providerName, Variant&,
                                      Variant& result) {
  return Guarded([&] {
    Find(providerName);
    result = Variant::Null();
  });
}

HRESULT AppServerObject::AS_RowRequest(const std::u16string& providerName, const Variant&,
                                       std::int32_t, Variant&, Variant&) {
  return Guarded([&] {
    throw Exception("Provider " + Find(providerName).Name() + " does not answer row requests");
  });
}

HRESULT AppServerObject::AS_Execute(const std::u16string& providerName,
                                    const std::u16string& commandText, Variant&, Variant&) {
  return Guarded([&] { Execute(providerName, commandText); });
}

}  // namespace quor::server
