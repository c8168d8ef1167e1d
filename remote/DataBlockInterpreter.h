#pragma once
// Gives meaning to DataBlocks: encodes and decodes variants, turns remote
// objects into DataDispatch proxies whose calls travel as request blocks, and
// answers the requests a peer sends (invoke, get-id, create-object,
// free-object, server lists) and its error blocks.
//
// Variant encoding (little-endian): a 4-byte type word (the 16-bit VARTYPE,
// flags included, zero-extended), then by type:
//   VT_EMPTY, VT_NULL     nothing
//   VT_BSTR               int32 length in UTF-16 units, length*2 bytes
//   VT_DISPATCH           int32 object id (the object stored in ObjectTable)
//   VT_VARIANT|VT_BYREF   the word is exactly 0x4000; the referenced variant follows
//   other plain types     VariantSizeTable[type] payload bytes
//   VT_ARRAY|t            int32 d, d low bounds, d high bounds, then for plain
//                         t an int32 byte count and the raw elements, else
//                         every element encoded, last dimension fastest
//
// One interpreter belongs to one connection or server session and is used by
// one thread (the GUI thread of the terminal, the session thread of the
// server). Every length read from a block is checked against what the block
// still holds before anything is allocated; a short or inconsistent block is
// "Invalid data packet".

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "remote/DataBlock.h"
#include "remote/Dispatch.h"
#include "remote/Variant.h"

namespace quor::remote {

class ClassRegistry;
class DataDispatch;

class DataBlockInterpreter {
 public:
  // `sender` sends this interpreter's blocks (the connection or session);
  // `registryFlag` names the registry value a class needs ("1") before a peer
  // may create it (empty: every class); `registry` creates objects for the
  // peer (null: none can be created). Both must outlive the interpreter.
  DataBlockInterpreter(ISendDataBlock& sender, std::string registryFlag,
                       const ClassRegistry* registry);
  virtual ~DataBlockInterpreter();
  DataBlockInterpreter(const DataBlockInterpreter&) = delete;
  DataBlockInterpreter& operator=(const DataBlockInterpreter&) = delete;

  // The operations a subclass may change, in the classic slot order.
  virtual void AddDispatch(DataDispatch* proxy);
  virtual void RemoveDispatch(DataDispatch* proxy);
  virtual void RemoteFreeObject(std::int32_t objectId);
  virtual HRESULT RemoteGetID(std::int32_t objectId, const std::u16string* names,
                              std::uint32_t nameCount, std::int32_t* dispIds);
  virtual HRESULT RemoteInvoke(std::int32_t objectId, std::int32_t dispId, std::uint16_t flags,
                               DispParams& params, Variant* result, ExcepInfo* excepInfo);
  virtual Variant RemoteServerList();
  virtual Variant CreateObjectByClassId(const platform::Guid& classId);
  virtual Variant CreateObjectByName(const std::string& progId);
  virtual std::int32_t StoreObject(const Variant& object);
  virtual Ref<IDispatch> ObjectAt(std::int32_t objectId);
  virtual void ReleaseObjectAtEndOfCall(std::int32_t objectId);
  virtual void ReleaseObject(std::int32_t objectId);
  virtual bool CanCreateObject(const platform::Guid& classId);
  virtual Variant RemoteCreateObject(const std::u16string& name);
  // Acts on a received request block or error block. An error block raises
  // Exception with the peer's text. A request is answered through the
  // sender; a handler's Exception becomes an error reply (0xDB01) instead.
  virtual void HandleBlock(const Ref<IDataBlock>& block);
  // Unknown actions: return true when handled. The base handles none.
  virtual bool DoCustomAction(std::int32_t action, const Ref<IDataBlock>& block);

  void EncodeVariant(const Variant& value, IDataBlock& block);
  // The next variant of the block; byRef / varByRef (may be null) tell
  // whether the wire carried VT_BYREF and the variant-by-reference form.
  Variant DecodeVariant(IDataBlock& block, bool* byRef = nullptr, bool* varByRef = nullptr);

  const Variant& ObjectTable() const { return objectTable_; }
  std::size_t ProxyCount() const { return dispatchList_.size(); }
  const std::string& RegistryFlag() const { return registryFlag_; }

 protected:
  ISendDataBlock& Sender() { return sender_; }

 private:
  void DoInvoke(const Ref<IDataBlock>& block);
  void DoGetID(const Ref<IDataBlock>& block);
  void DoCreateObject(const Ref<IDataBlock>& block);
  void DoFreeObject(const Ref<IDataBlock>& block);
  void DoGetServerList(const Ref<IDataBlock>& block, std::int32_t action);
  Variant ServerNames();

  // Decoding within one block: the value budget bounds what a hostile block
  // can make us allocate, the depth bounds the recursion.
  void BeginDecode() { decodeBudget_ = kMaxDecodedValues; }
  Variant DecodeNext(IDataBlock& block, bool& byRef, bool& varByRef, int depth);
  Variant DecodeNext(IDataBlock& block);
  Variant DecodeArray(IDataBlock& block, VarType word, int depth);
  std::int32_t DecodeInt(IDataBlock& block);
  void EncodeValue(const Variant& value, IDataBlock& block, int depth);
  void EncodeArray(const Variant& value, IDataBlock& block, int depth);
  Ref<IDataBlock> SendAndWait(const Ref<IDataBlock>& block);

  static constexpr int kMaxDepth = 32;
  static constexpr std::int64_t kMaxDecodedValues = std::int64_t{1} << 22;

  ISendDataBlock& sender_;
  std::string registryFlag_;
  const ClassRegistry* registry_;
  std::vector<DataDispatch*> dispatchList_;  // alive proxies, not owned
  Variant objectTable_;                      // VT_VARIANT array of local objects, or empty
  std::int64_t decodeBudget_ = kMaxDecodedValues;
};

// A local stand-in for an object of the peer: its calls become RemoteGetID
// and RemoteInvoke; its last release sends RemoteFreeObject. Used on the
// interpreter's thread only.
class DataDispatch final : public IDispatch {
 public:
  DataDispatch(DataBlockInterpreter* interpreter, std::int32_t objectId);
  ~DataDispatch() override;

  std::int32_t ObjectId() const { return objectId_; }
  DataBlockInterpreter* Interpreter() const { return interpreter_; }
  // Called by the interpreter as it goes: later calls fail, the release sends nothing.
  void InterpreterGone() { interpreter_ = nullptr; }

  HRESULT GetTypeInfoCount(std::uint32_t& count) override;
  HRESULT GetTypeInfo() { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const platform::Guid& iid, const std::u16string* names, std::uint32_t count,
                        std::uint32_t lcid, std::int32_t* ids) override;
  HRESULT Invoke(std::int32_t dispId, const platform::Guid& iid, std::uint32_t lcid,
                 std::uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excepInfo,
                 std::uint32_t* argErr) override;

 private:
  DataBlockInterpreter* interpreter_;
  std::int32_t objectId_;
};

}  // namespace quor::remote
