#include "server/AppServerObject.h"

#include <chrono>

#include "platform/Codepage.h"
#include "remote/Remote.h"
#include "server/RequestLog.h"
#include "server/SessionObserver.h"

namespace quor::server {
namespace {

using remote::DispParams;
using remote::Exception;
using remote::HRESULT;
using remote::Variant;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Operation {
  const char16_t* name;
  std::int32_t dispId;
  std::size_t argCount;
};

constexpr Operation kOperations[] = {
    {u"AS_ApplyUpdates", remote::kDispId_AS_ApplyUpdates, 5},
    {u"AS_GetRecords", remote::kDispId_AS_GetRecords, 7},
    {u"AS_DataRequest", remote::kDispId_AS_DataRequest, 2},
    {u"AS_GetProviderNames", remote::kDispId_AS_GetProviderNames, 0},
    {u"AS_GetParams", remote::kDispId_AS_GetParams, 2},
    {u"AS_RowRequest", remote::kDispId_AS_RowRequest, 4},
    {u"AS_Execute", remote::kDispId_AS_Execute, 4},
};

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A failure of the call's form rather than of the operation: the HRESULT the
// caller gets instead of an exception description.
struct CallFault {
  HRESULT code;
  std::uint32_t argument;
};

const Variant& Value(const Variant& arg) {
  return arg.IsByRef() ? arg.RefTarget() : arg;
}

std::u16string TextArg(const std::vector<Variant>& args, std::size_t i) {
  const Variant& v = Value(args[i]);
  if (v.IsEmpty() || v.IsNull()) return {};
  if (v.Type() != remote::VT_BSTR) throw CallFault{remote::DISP_E_TYPEMISMATCH, std::uint32_t(i)};
  return v.AsString();
}

std::int32_t IntArg(const std::vector<Variant>& args, std::size_t i) {
  const Variant& v = Value(args[i]);
  switch (v.Type()) {
    case remote::VT_I4:
      return v.AsI4();
    case remote::VT_I2:
      return v.AsI2();
    case remote::VT_UI1:
      return v.AsUI1();
    case remote::VT_EMPTY:
      return 0;
    default:
      throw CallFault{remote::DISP_E_TYPEMISMATCH, std::uint32_t(i)};
  }
}

// Writes an out value into a by-reference argument; a by-value argument (a
// caller that wants nothing back) is left alone.
void SetOut(std::vector<Variant>& args, std::size_t i, Variant value) {
  if (args[i].IsByRef()) args[i].RefTarget() = std::move(value);
}

Variant PacketVariant(const std::optional<std::vector<std::uint8_t>>& packet) {
  if (!packet) return Variant::Null();
  return Variant::Array(remote::SafeArray::FromBytes(packet->data(), packet->size()));
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
    providers_.push_back(std::make_unique<Provider>(std::move(definition), context_.database));
  }
}

AppServerObject::~AppServerObject() = default;

HRESULT AppServerObject::GetTypeInfoCount(std::uint32_t& count) {
  count = 0;
  return remote::S_OK;
}

HRESULT AppServerObject::GetIDsOfNames(const platform::Guid&, const std::u16string* names,
                                       std::uint32_t count, std::uint32_t, std::int32_t* ids) {
  if ((names == nullptr || ids == nullptr) && count != 0) return remote::E_POINTER;
  HRESULT hr = remote::S_OK;
  for (std::uint32_t i = 0; i < count; ++i) {
    ids[i] = -1;  // DISPID_UNKNOWN
    for (const Operation& op : kOperations) {
      if (SameName(names[i], op.name)) ids[i] = op.dispId;
    }
    if (ids[i] == -1) hr = remote::DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT AppServerObject::Invoke(std::int32_t dispId, const platform::Guid&, std::uint32_t,
                                std::uint16_t flags, DispParams& params, Variant* result,
                                remote::ExcepInfo* excepInfo, std::uint32_t* argErr) {
  const Operation* op = nullptr;
  for (const Operation& candidate : kOperations) {
    if (candidate.dispId == dispId) op = &candidate;
  }
  if (op == nullptr || (flags & remote::DISPATCH_METHOD) == 0) return remote::DISP_E_MEMBERNOTFOUND;
  if (!params.namedArgs.empty()) return remote::DISP_E_PARAMNOTFOUND;
  if (params.args.size() != op->argCount) return remote::DISP_E_BADPARAMCOUNT;
  try {
    Variant answer;
    Dispatch(dispId, params.args, answer);
    if (result != nullptr) *result = std::move(answer);
    return remote::S_OK;
  } catch (const CallFault& fault) {
    if (argErr != nullptr) *argErr = fault.argument;
    return fault.code;
  } catch (const std::exception& e) {
    // Every failure reaches the terminal as the description of the call's
    // exception, which its dataset raises with that text.
    if (excepInfo != nullptr) {
      *excepInfo = remote::ExcepInfo{};
      excepInfo->source = u"quorvod-server";
      excepInfo->description = platform::Utf8ToUtf16(e.what());
      excepInfo->scode = remote::E_FAIL;
    }
    return remote::DISP_E_EXCEPTION;
  }
}

// Arguments arrive last first: for AS_GetRecords args[6] is ProviderName and
// args[0] OwnerData.
void AppServerObject::Dispatch(std::int32_t dispId, std::vector<Variant>& a, Variant& result) {
  switch (dispId) {
    case remote::kDispId_AS_ApplyUpdates: {
      std::int32_t errorCount = 0;
      result = ApplyUpdates(TextArg(a, 4), Value(a[3]), IntArg(a, 2), errorCount);
      SetOut(a, 1, Variant::I4(errorCount));
      return;
    }
    case remote::kDispId_AS_GetRecords: {
      std::int32_t recsOut = 0;
      result = GetRecords(TextArg(a, 6), IntArg(a, 5), recsOut, IntArg(a, 3), TextArg(a, 2));
      SetOut(a, 4, Variant::I4(recsOut));
      return;
    }
    case remote::kDispId_AS_DataRequest:
      Find(TextArg(a, 1));
      result = Variant();  // no provider of this server answers custom data
      return;
    case remote::kDispId_AS_GetProviderNames:
      result = ProviderNames();
      return;
    case remote::kDispId_AS_GetParams:
      Find(TextArg(a, 1));
      result = Variant::Null();  // the providers' statements take no parameters
      return;
    case remote::kDispId_AS_RowRequest:
      throw Exception("Provider " + Find(TextArg(a, 3)).Name() + " does not answer row requests");
    case remote::kDispId_AS_Execute:
      Execute(TextArg(a, 3), TextArg(a, 2));
      result = Variant();
      return;
    default:
      throw CallFault{remote::DISP_E_MEMBERNOTFOUND, 0};
  }
}

// Provider names compare without letter case, as component names do.
Provider& AppServerObject::Find(const std::u16string& providerName) {
  for (std::size_t i = 0; i < providers_.size(); ++i) {
    if (SameName(names16_[i], providerName)) return *providers_[i];
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
    return PacketVariant(answer.packet);
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
        provider.ApplyUpdates(PacketBytes(delta), maxErrors, context_.peer, LocalTimestamp());
    errorCount = answer.errorCount;
    if (context_.observer != nullptr) {
      for (const std::string& clientName : answer.clientNames)
        context_.observer->RoomRequestStored(context_.peer, clientName);
    }
    if (context_.log != nullptr) {
      for (const std::string& row : answer.stored)
        context_.log->RoomRequest(context_.peer, name, row);
      context_.log->Request(context_.peer, name, "(apply updates)",
                            static_cast<long>(answer.stored.size()), MsSince(start));
      if (answer.errorCount != 0) {
        context_.log->Failure(context_.peer, name, "(apply updates)",
                              std::to_string(answer.errorCount) + " rows rejected", MsSince(start));
      }
    }
    return PacketVariant(answer.errors);
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
    auto cursor = context_.database().OpenReadOnly(command);
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

// The direct forms: the same operations with failures as the thread's error
// information, for callers in this process.
namespace {
template <class F>
HRESULT Guarded(F&& f) {
  try {
    f();
    return remote::S_OK;
  } catch (const CallFault& fault) {
    return fault.code;
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
