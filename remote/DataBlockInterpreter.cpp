#include "remote/DataBlockInterpreter.h"

#include <algorithm>

#include "platform/Codepage.h"
#include "remote/ClassRegistry.h"
#include "remote/Errors.h"
#include "remote/SafeArray.h"

namespace quor::remote {
namespace {
constexpr char kNotReceived[] = "Expected return value not received";

[[noreturn]] void InvalidPacket() {
  throw Exception("Invalid data packet");
}

Ref<DataBlock> NewBlock() {
  return DataBlock::Create();
}
}  // namespace

DataBlockInterpreter::DataBlockInterpreter(ISendDataBlock& sender, std::string registryFlag,
                                           const ClassRegistry* registry)
    : sender_(sender), registryFlag_(std::move(registryFlag)), registry_(registry) {}

DataBlockInterpreter::~DataBlockInterpreter() {
  // Proxies that outlive us must not send through a sender that may be gone.
  for (DataDispatch* proxy : dispatchList_) proxy->InterpreterGone();
  dispatchList_.clear();
}

void DataBlockInterpreter::AddDispatch(DataDispatch* proxy) {
  dispatchList_.push_back(proxy);
}

void DataBlockInterpreter::RemoveDispatch(DataDispatch* proxy) {
  auto it = std::find(dispatchList_.begin(), dispatchList_.end(), proxy);
  if (it != dispatchList_.end()) dispatchList_.erase(it);
}

Ref<IDataBlock> DataBlockInterpreter::SendAndWait(const Ref<IDataBlock>& block) {
  Ref<IDataBlock> reply = sender_.Send(block, true);
  // A sender with no transport answers nothing; there is no reply to read.
  if (!reply) throw Exception(kNotReceived);
  BeginDecode();
  return reply;
}

void DataBlockInterpreter::RemoteFreeObject(std::int32_t objectId) {
  Ref<DataBlock> block = NewBlock();
  EncodeVariant(Variant::I4(objectId), *block);
  block->SetSignature(CallMark | ActionFreeObject);
  sender_.Send(block, false);
}

HRESULT DataBlockInterpreter::RemoteGetID(std::int32_t objectId, const std::u16string* names,
                                          std::uint32_t nameCount, std::int32_t* dispIds) {
  if (nameCount != 1) return E_NOTIMPL;
  Ref<DataBlock> block = NewBlock();
  EncodeVariant(Variant::I4(objectId), *block);
  EncodeVariant(Variant::Str(names[0]), *block);
  block->SetSignature(CallMark | ActionGetID);
  Ref<IDataBlock> reply = SendAndWait(block);
  const HRESULT hr = DecodeInt(*reply);
  if (hr == S_OK) dispIds[0] = DecodeInt(*reply);
  return hr;
}

HRESULT DataBlockInterpreter::RemoteInvoke(std::int32_t objectId, std::int32_t dispId,
                                           std::uint16_t flags, DispParams& params, Variant* result,
                                           ExcepInfo* excepInfo) {
  Ref<DataBlock> block = NewBlock();
  EncodeVariant(Variant::I4(objectId), *block);
  EncodeVariant(Variant::I4(dispId), *block);
  EncodeVariant(Variant::I4(flags), *block);
  EncodeVariant(Variant::Bool(result != nullptr), *block);
  EncodeVariant(Variant::I4(static_cast<std::int32_t>(params.args.size())), *block);
  EncodeVariant(Variant::I4(static_cast<std::int32_t>(params.namedArgs.size())), *block);
  for (std::int32_t named : params.namedArgs) EncodeVariant(Variant::I4(named), *block);
  for (const Variant& arg : params.args) EncodeVariant(arg, *block);
  block->SetSignature(CallMark | ActionInvoke);

  Ref<IDataBlock> reply = SendAndWait(block);
  const HRESULT hr = DecodeInt(*reply);
  if (hr == DISP_E_EXCEPTION) {
    const std::int32_t code = DecodeInt(*reply);
    const Variant description = DecodeNext(*reply);
    if (excepInfo) {
      excepInfo->scode = code;
      excepInfo->description = description.Type() == VT_BSTR
                                   ? description.AsString()
                                   : platform::Utf8ToUtf16(description.ToText());
    }
  }
  // The peer sends back every by-reference argument, in the order they went.
  for (Variant& arg : params.args) {
    if (!arg.IsByRef()) continue;
    Variant value = DecodeNext(*reply);
    Variant& target = arg.RefTarget();
    const VarType base = arg.Type() & static_cast<VarType>(~VT_BYREF);
    if (base == VT_VARIANT) {
      target = std::move(value);
    } else if (base == VT_BSTR || (base & VT_ARRAY)) {
      if (value.Type() != base) InvalidPacket();
      target = std::move(value);
    } else {
      // The payload written through the reference, as the wire carried it.
      if (VariantSize(base) < 0 || value.IsArray() || value.Type() == VT_BSTR) InvalidPacket();
      target = Variant::FromPayload(base, value.Payload(), 8);
    }
  }
  if (result) *result = DecodeNext(*reply);
  return hr;
}

Variant DataBlockInterpreter::RemoteServerList() {
  Ref<DataBlock> block = NewBlock();
  block->SetSignature(CallMark | ActionGetServers);
  Ref<IDataBlock> reply = SendAndWait(block);
  return DecodeNext(*reply);
}

Variant DataBlockInterpreter::RemoteCreateObject(const std::u16string& name) {
  Ref<DataBlock> block = NewBlock();
  EncodeVariant(Variant::Str(name), *block);
  block->SetSignature(CallMark | ActionCreateObject);
  Ref<IDataBlock> reply = SendAndWait(block);
  return DecodeNext(*reply);
}

bool DataBlockInterpreter::CanCreateObject(const platform::Guid& classId) {
  if (registryFlag_.empty()) return true;
  return registry_ && registry_->Value(classId, registryFlag_) == std::string("1");
}

Variant DataBlockInterpreter::CreateObjectByClassId(const platform::Guid& classId) {
  if (!CanCreateObject(classId))
    throw Exception(Format("Object not available: %s", classId.ToString().c_str()));
  if (!registry_) throw EOleSysError(HResultText(REGDB_E_CLASSNOTREG), REGDB_E_CLASSNOTREG);
  Ref<IDispatch> object = QueryInterface<IDispatch>(registry_->CreateObject(classId));
  if (!object) throw EOleSysError(HResultText(E_NOINTERFACE), E_NOINTERFACE);
  return Variant::Dispatch(std::move(object));
}

Variant DataBlockInterpreter::CreateObjectByName(const std::string& progId) {
  const std::optional<platform::Guid> id =
      registry_ ? registry_->ClassIdFromProgId(progId) : std::nullopt;
  if (!id) throw EOleSysError(HResultText(CO_E_CLASSSTRING), CO_E_CLASSSTRING);
  return CreateObjectByClassId(*id);
}

std::int32_t DataBlockInterpreter::StoreObject(const Variant& object) {
  if (!objectTable_.IsArray())
    objectTable_ = Variant::Array(SafeArray::Create(VT_VARIANT, {{0, 10}}));
  SafeArray& table = objectTable_.MutableArray();
  for (std::size_t i = 0; i < table.ElementCount(); ++i) {
    if (table.ItemAt(i).IsEmpty()) {
      table.ItemAt(i) = object;
      return static_cast<std::int32_t>(i);
    }
  }
  const std::int32_t slot = table.Bounds()[0].high + 1;
  table.RedimLast(slot + 10);
  table.ItemAt(static_cast<std::size_t>(slot)) = object;
  return slot;
}

Ref<IDispatch> DataBlockInterpreter::ObjectAt(std::int32_t objectId) {
  if (!objectTable_.IsArray() || objectId < 0 ||
      static_cast<std::size_t>(objectId) >= objectTable_.AsArray().ElementCount())
    throw EInterpreterError("Variant or safe array index out of bounds");
  const Variant& slot = objectTable_.AsArray().ItemAt(static_cast<std::size_t>(objectId));
  if (slot.Type() != VT_DISPATCH || !slot.AsDispatch())
    throw EInterpreterError("Variant or safe array index out of bounds");
  return slot.AsDispatch();
}

void DataBlockInterpreter::ReleaseObjectAtEndOfCall(std::int32_t /*objectId*/) {}

void DataBlockInterpreter::ReleaseObject(std::int32_t objectId) {
  if (objectId < 0 || !objectTable_.IsArray()) return;
  SafeArray& table = objectTable_.MutableArray();
  if (static_cast<std::size_t>(objectId) < table.ElementCount())
    table.ItemAt(static_cast<std::size_t>(objectId)) = Variant();
}

bool DataBlockInterpreter::DoCustomAction(std::int32_t /*action*/,
                                          const Ref<IDataBlock>& /*block*/) {
  return false;
}

void DataBlockInterpreter::HandleBlock(const Ref<IDataBlock>& block) {
  BeginDecode();
  const std::int32_t action = ActionOf(block->Signature());
  if (action == ActionError) {
    const Variant message = DecodeNext(*block);
    throw Exception(message.ToText());
  }
  try {
    switch (action) {
      case ActionInvoke:
        DoInvoke(block);
        break;
      case ActionGetID:
        DoGetID(block);
        break;
      case ActionCreateObject:
        DoCreateObject(block);
        break;
      case ActionFreeObject:
        DoFreeObject(block);
        break;
      case ActionGetServers:
      case ActionGetAppServers:
        DoGetServerList(block, action);
        break;
      default:
        if (!DoCustomAction(action, block))
          throw EInterpreterError(Format("Invalid action received: %d", action));
    }
  } catch (const Exception& e) {
    block->Clear();
    EncodeVariant(Variant::Str(platform::Utf8ToUtf16(e.what())), *block);
    block->SetSignature(ResultMark | ActionError);
    sender_.Send(block, false);
  }
}

void DataBlockInterpreter::DoInvoke(const Ref<IDataBlock>& block) {
  const std::int32_t objectId = DecodeInt(*block);
  const std::int32_t dispId = DecodeInt(*block);
  const auto flags = static_cast<std::uint16_t>(DecodeInt(*block));
  const bool expectResult = DecodeInt(*block) != 0;
  const std::int32_t argCount = DecodeInt(*block);
  const std::int32_t namedCount = DecodeInt(*block);
  // Each value takes at least 4 bytes: counts beyond that are lies.
  if (argCount < 0 || argCount > block->Available() / 4 || namedCount < 0 || namedCount > argCount)
    InvalidPacket();
  DispParams params;
  params.namedArgs.reserve(static_cast<std::size_t>(namedCount));
  for (std::int32_t i = 0; i < namedCount; ++i) params.namedArgs.push_back(DecodeInt(*block));
  // The decoded values stay put in `values`; by-reference arguments point at them.
  std::vector<Variant> values(static_cast<std::size_t>(argCount));
  params.args.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    bool byRef = false;
    bool varByRef = false;
    values[i] = DecodeNext(*block, byRef, varByRef, 0);
    if (varByRef) {
      params.args[i] = Variant::ByRef(VT_VARIANT, values[i]);
    } else if (byRef) {
      params.args[i] = Variant::ByRef(values[i].Type(), values[i]);
    } else {
      params.args[i] = values[i];
    }
  }
  Ref<IDispatch> object = ObjectAt(objectId);
  Variant result;
  ExcepInfo excepInfo;
  std::uint32_t argErr = 0;
  const HRESULT hr = object->Invoke(dispId, platform::Guid{}, 0, flags, params,
                                    expectResult ? &result : nullptr, &excepInfo, &argErr);
  ReleaseObjectAtEndOfCall(objectId);
  block->Clear();
  EncodeVariant(Variant::I4(hr), *block);
  if (hr == DISP_E_EXCEPTION) {
    EncodeVariant(Variant::I4(excepInfo.scode), *block);
    EncodeVariant(Variant::Str(excepInfo.description), *block);
  }
  for (const Variant& arg : params.args)
    if (arg.IsByRef()) EncodeVariant(arg, *block);
  if (expectResult) EncodeVariant(result, *block);
  block->SetSignature(ResultMark | ActionInvoke);
  sender_.Send(block, false);
}

void DataBlockInterpreter::DoGetID(const Ref<IDataBlock>& block) {
  const std::int32_t objectId = DecodeInt(*block);
  const Variant name = DecodeNext(*block);
  if (name.Type() != VT_BSTR) InvalidPacket();
  Ref<IDispatch> object = ObjectAt(objectId);
  std::int32_t dispId = 0;
  const std::u16string& text = name.AsString();
  const HRESULT hr = object->GetIDsOfNames(platform::Guid{}, &text, 1, 0, &dispId);
  block->Clear();
  EncodeVariant(Variant::I4(hr), *block);
  if (hr == S_OK) EncodeVariant(Variant::I4(dispId), *block);
  block->SetSignature(ResultMark | ActionGetID);
  sender_.Send(block, false);
}

void DataBlockInterpreter::DoCreateObject(const Ref<IDataBlock>& block) {
  const Variant name = DecodeNext(*block);
  if (name.Type() != VT_BSTR) InvalidPacket();
  const std::string text = platform::Utf16ToUtf8(name.AsString());
  Variant object;
  if (!text.empty() && text.front() == '{') {
    const std::optional<platform::Guid> id = platform::Guid::Parse(text);
    if (!id) throw EOleSysError(HResultText(CO_E_CLASSSTRING), CO_E_CLASSSTRING);
    object = CreateObjectByClassId(*id);
  } else {
    object = CreateObjectByName(text);
  }
  block->Clear();
  if (object.Type() == VT_I4) {
    // An object id that a remote creator already holds travels as such.
    const std::uint32_t word = VT_DISPATCH;
    const std::int32_t id = object.AsI4();
    block->Write(&word, 4);
    block->Write(&id, 4);
  } else {
    EncodeVariant(object, *block);
  }
  block->SetSignature(ResultMark | ActionCreateObject);
  sender_.Send(block, false);
}

void DataBlockInterpreter::DoFreeObject(const Ref<IDataBlock>& block) {
  try {
    ReleaseObject(DecodeInt(*block));
  } catch (...) {  // a free of an id we never gave, or a broken block: nothing to answer
  }
}

Variant DataBlockInterpreter::ServerNames() {
  if (!registry_) return Variant::Null();
  const std::vector<platform::Guid> ids = registry_->ClassesWithValue(registryFlag_, "1");
  if (ids.empty()) return Variant::Null();
  auto names = SafeArray::Create(VT_BSTR, {{0, static_cast<std::int32_t>(ids.size()) - 1}});
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::string name = registry_->ProgIdFromClassId(ids[i]);
    if (name.empty()) name = ids[i].ToString();
    names->ItemAt(i) = Variant::Str(platform::Utf8ToUtf16(name));
  }
  return Variant::Array(std::move(names));
}

void DataBlockInterpreter::DoGetServerList(const Ref<IDataBlock>& block, std::int32_t action) {
  const Variant names = ServerNames();
  block->Clear();
  EncodeVariant(names, *block);
  block->SetSignature(ResultMark | action);
  sender_.Send(block, false);
}

DataDispatch::DataDispatch(DataBlockInterpreter* interpreter, std::int32_t objectId)
    : interpreter_(interpreter), objectId_(objectId) {
  if (interpreter_) interpreter_->AddDispatch(this);
}

DataDispatch::~DataDispatch() {
  if (!interpreter_) return;
  try {
    interpreter_->RemoteFreeObject(objectId_);
  } catch (const std::exception&) {
    // The connection is gone; the peer frees its objects with it.
  }
  interpreter_->RemoveDispatch(this);
}

HRESULT DataDispatch::GetTypeInfoCount(std::uint32_t& count) {
  count = 0;
  return S_OK;
}

HRESULT DataDispatch::GetIDsOfNames(const platform::Guid& /*iid*/, const std::u16string* names,
                                    std::uint32_t count, std::uint32_t /*lcid*/,
                                    std::int32_t* ids) {
  if (!interpreter_) return RPC_E_DISCONNECTED;
  return interpreter_->RemoteGetID(objectId_, names, count, ids);
}

HRESULT DataDispatch::Invoke(std::int32_t dispId, const platform::Guid& /*iid*/,
                             std::uint32_t /*lcid*/, std::uint16_t flags, DispParams& params,
                             Variant* result, ExcepInfo* excepInfo, std::uint32_t* /*argErr*/) {
  if (!interpreter_) return RPC_E_DISCONNECTED;
  return interpreter_->RemoteInvoke(objectId_, dispId, flags, params, result, excepInfo);
}

}  // namespace quor::remote
