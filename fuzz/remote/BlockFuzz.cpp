// Arbitrary bytes as a received block: the wire image goes through LoadFrom,
// then every variant in it through DecodeVariant, then the whole block
// through HandleBlock with a live object table, and each reply the
// interpreter writes is decoded again. Nothing may crash, hang, leak or
// allocate beyond the block cap; every rejection is an Exception.

#include <cstddef>
#include <cstdint>

#include "remote/Remote.h"

namespace {
using namespace quor::remote;

// Answers every call: echoes its arguments, writes through references.
class EchoObject : public IDispatch {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t& count) override {
    count = 0;
    return S_OK;
  }
  HRESULT GetIDsOfNames(const quor::platform::Guid&, const std::u16string* names,
                        std::uint32_t count, std::uint32_t, std::int32_t* ids) override {
    for (std::uint32_t i = 0; i < count; ++i) ids[i] = static_cast<std::int32_t>(names[i].size());
    return S_OK;
  }
  HRESULT Invoke(std::int32_t dispId, const quor::platform::Guid&, std::uint32_t, std::uint16_t,
                 DispParams& p, Variant* result, ExcepInfo* ei, std::uint32_t*) override {
    for (Variant& a : p.args)
      if (a.IsByRef()) a.RefTarget() = Variant::I4(dispId);
    if (dispId == 1) {
      ei->description = u"fuzz";
      return DISP_E_EXCEPTION;
    }
    if (result && !p.args.empty()) *result = p.args.back().IsByRef() ? Variant() : p.args.back();
    return S_OK;
  }
};

class Sink : public ISendDataBlock {
 public:
  Ref<IDataBlock> Send(const Ref<IDataBlock>& block, bool) override {
    last = block;
    return nullptr;
  }
  Ref<IDataBlock> last;
};

const quor::platform::Guid kEcho{
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ClassRegistry* registry = [] {
    auto* r = new ClassRegistry;
    r->Register(kEcho, "Fuzz.Echo", [] { return Ref<IUnknown>(new EchoObject); });
    r->SetValue(kEcho, "Sockets", "1");
    return r;
  }();
  if (size > (std::size_t{1} << 20)) return 0;
  const auto length = static_cast<std::int32_t>(size);

  Sink sink;
  DataBlockInterpreter interpreter(sink, "Sockets", registry);
  interpreter.StoreObject(Variant::Dispatch(Ref<IDispatch>(new EchoObject)));
  interpreter.StoreObject(Variant::Dispatch(Ref<IDispatch>(new EchoObject)));

  Ref<DataBlock> block = DataBlock::Create();
  try {
    block->LoadFrom(data, length, (size & 1) != 0);
  } catch (const Exception&) {
    return 0;
  }
  try {
    for (int i = 0; i < 64 && block->Available() > 0; ++i) interpreter.DecodeVariant(*block);
  } catch (const Exception&) {
  }

  block->ResetReadPosition();
  try {
    interpreter.HandleBlock(block);
  } catch (const Exception&) {
  }
  if (sink.last) {
    // The reply the interpreter wrote must decode again.
    Ref<DataBlock> reply = DataBlock::Create();
    reply->LoadFrom(sink.last->Memory(), sink.last->Size() + 8, true);
    try {
      while (reply->Available() > 0) interpreter.DecodeVariant(*reply);
    } catch (const Exception&) {
    }
  }
  return 0;
}
