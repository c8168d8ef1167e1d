#pragma once
// The dataset engine as its callers see it: the row store IDSBase, the cursor
// IDSCursor, the class factory that creates them, their identities and the
// status codes every operation returns.
//
// This header is all a caller needs: the engine itself lives in the shared
// library libdsengine.so, which the caller loads at run time (data/Engine) and
// never links. Everything here is header-only.
//
// Conventions shared by every operation:
//   - The result is a 32-bit Status: 0 success; kStatusBeforeFirst (0x2201) or
//     kStatusAfterLast (0x2202) in the low 16 bits for a cursor that stands on
//     a crack; anything else is an error whose message text the store gives
//     through GetStatusMessage (into a buffer of kStatusMessageSize bytes).
//   - No operation throws: a failure inside the engine becomes a status.
//   - Objects are reference counted; a new object holds one reference, which
//     its creator owns (Ref<T> below releases it).
//   - Texts handed out as 8-bit text are in the terminal's code page (GBK,
//     precisely GB18030); UTF-16 text is little-endian code units.
//   - All calls on one store and its cursors come from one thread at a time.

#include <cstdint>
#include <utility>

#include "platform/Guid.h"

namespace quor::engine {

using Status = std::uint32_t;

inline constexpr Status kStatusOk = 0;
inline constexpr Status kStatusBeforeFirst = 0x2201;
inline constexpr Status kStatusAfterLast = 0x2202;

// Error statuses. The low 16 bits never equal a crack status.
inline constexpr Status kErrorNoData = 0x80002301;           // the store holds no packet yet
inline constexpr Status kErrorInvalidPacket = 0x80002302;    // a packet failed validation
inline constexpr Status kErrorInvalidArgument = 0x80002303;  // field number, buffer, pointer
inline constexpr Status kErrorNoCurrentRow = 0x80002304;     // not used for cracks: a bad bookmark
inline constexpr Status kErrorReadOnly = 0x80002305;         // the store cannot be modified
inline constexpr Status kErrorNotFound = 0x80002306;         // no such optional parameter
inline constexpr Status kErrorValueTooLong = 0x80002307;     // a value longer than its field
inline constexpr Status kErrorOutOfMemory = 0x80002308;
inline constexpr Status kErrorUnknownProperty = 0x80002309;  // numbered property not known/settable
inline constexpr Status kErrorNotAttached = 0x8000230A;      // cursor used before Attach
inline constexpr Status kErrorNoInterface = 0x80004002;
inline constexpr Status kErrorUnexpected = 0x8000FFFF;
inline constexpr Status kErrorClassNotAvailable = 0x80040111;

inline constexpr bool IsBeforeFirst(Status s) {
  return (s & 0xFFFF) == kStatusBeforeFirst;
}
inline constexpr bool IsAfterLast(Status s) {
  return (s & 0xFFFF) == kStatusAfterLast;
}
// An error in the caller's sense: neither success nor a crack.
inline constexpr bool IsError(Status s) {
  return s != 0 && !IsBeforeFirst(s) && !IsAfterLast(s);
}

// The message buffer of GetStatusMessage: 2048 bytes of text and a NUL.
inline constexpr std::uint32_t kStatusMessageSize = 2049;

// Identities. The class identities name what to create, the interface
// identities what to ask an object for.
inline constexpr platform::Guid kClsidDSBase{
    0x9E8D2FA1, 0x591C, 0x11D0, {0xBF, 0x52, 0x00, 0x20, 0xAF, 0x32, 0xBD, 0x64}};
inline constexpr platform::Guid kIidDSBase{
    0x9E8D2FA2, 0x591C, 0x11D0, {0xBF, 0x52, 0x00, 0x20, 0xAF, 0x32, 0xBD, 0x64}};
inline constexpr platform::Guid kClsidDSCursor{
    0x9E8D2FA3, 0x591C, 0x11D0, {0xBF, 0x52, 0x00, 0x20, 0xAF, 0x32, 0xBD, 0x64}};
inline constexpr platform::Guid kIidDSCursor{
    0x9E8D2FA4, 0x591C, 0x11D0, {0xBF, 0x52, 0x00, 0x20, 0xAF, 0x32, 0xBD, 0x64}};
inline constexpr platform::Guid kIidUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr platform::Guid kIidClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Field types, as the packet carries them and the descriptions report them.
// The value formats of ReadField / WriteField (all little-endian):
//   kInt32   4 bytes           kInt64  8 bytes          kDouble 8 bytes IEEE
//   kBoolean 2 bytes, -1 true / 0 false
//   kText8   the bytes and a terminating NUL (buffer: size + 1)
//   kText16  a 16-bit byte length, then the UTF-16 units (buffer: size + 2)
//   kBytes   a 16-bit byte length, then the bytes (buffer: size + 2)
enum class FieldType : std::uint8_t {
  kInt32 = 1,
  kInt64 = 2,
  kDouble = 3,
  kText8 = 4,
  kText16 = 5,
  kBoolean = 6,
  kBytes = 7,
};

// Field attributes (bit set).
inline constexpr std::uint16_t kFieldRequired = 0x0001;  // a row must give it a value
inline constexpr std::uint16_t kFieldReadOnly = 0x0002;  // provider says: not writable
inline constexpr std::uint16_t kFieldHidden = 0x0004;    // not for display

inline constexpr std::uint32_t kFieldNameSize = 256;  // name buffer: 255 bytes and a NUL

struct DSFieldDesc {
  char name[kFieldNameSize];  // GBK, NUL-terminated
  FieldType type;
  std::uint16_t attributes;
  // Fixed types: their width. Texts and bytes: the longest value in bytes
  // (UTF-16 text: twice its characters).
  std::uint32_t size;
  std::uint32_t fieldNo;  // 1-based column number
};

// The size a value buffer for ReadField must have for this field.
inline constexpr std::uint32_t ValueBufferSize(const DSFieldDesc& d) {
  switch (d.type) {
    case FieldType::kText8:
      return d.size + 1;
    case FieldType::kText16:
    case FieldType::kBytes:
      return d.size + 2;
    case FieldType::kBoolean:
      return 2;
    default:
      return d.size;
  }
}

struct DSProps {
  std::uint32_t fieldCount;
  std::uint32_t rowCount;       // rows held
  std::uint32_t changeCount;    // entries of the change log
  std::uint32_t rowBufferSize;  // bytes of a row buffer (CopyCurrentRow, BlankRow)
  std::uint32_t bookmarkSize;
  std::uint32_t packetCount;  // packets appended
  bool readOnly;
  bool lastPacketSeen;           // a packet appended with the last-packet flag
  std::uint64_t rowDataBytes;    // bytes of row data held, as the packets carried them
  std::uint64_t rowMemoryBytes;  // bytes of memory the store holds for its rows
};

struct DSCursorProps {
  std::uint32_t rowBufferSize;
  std::uint32_t bookmarkSize;
  std::uint32_t fieldCount;
  bool readOnly;
};

// Numbered store properties (GetProp / SetProp).
inline constexpr std::uint32_t kPropFieldCount = 1;      // read
inline constexpr std::uint32_t kPropChangeCount = 2;     // read: entries of the change log
inline constexpr std::uint32_t kPropRowCount = 3;        // read
inline constexpr std::uint32_t kPropLastPacketSeen = 4;  // read: 1 once the provider's end arrived
inline constexpr std::uint32_t kPropPacketCount = 5;     // read
inline constexpr std::uint32_t kPropRowDataBytes = 6;    // read (saturates at 2^32-1)
inline constexpr std::uint32_t kPropRowMemoryBytes = 7;  // read (saturates at 2^32-1)
// Read and set: 1 = UTF-16 text columns are described and read as UTF-16
// text; 0 (the default) = they are described as 8-bit text (twice the size)
// and read and written as GBK, converted by the engine.
inline constexpr std::uint32_t kPropWideText = 11;

// Update status of a row (GetUpdateStatus).
enum class UpdateStatus : std::uint32_t {
  kUnmodified = 0,
  kInserted = 2,
};

// Actions a reconcile callback answers.
enum class ReconcileAction : std::int32_t {
  kSkip = 1,     // leave the row in the change log, go on with the next
  kAbort = 2,    // stop: this and every later failed row stay in the change log
  kMerge = 3,    // take the row as applied: out of the change log, row kept
  kCorrect = 4,  // as skip (the row goes again with the next apply)
  kCancel = 5,   // undo the insert: out of the change log and out of the store
  kRefresh = 6,  // as merge
};

// One failed row of a reconciliation. The texts are GBK, NUL-terminated, and
// live until the callback returns.
struct ReconcileError {
  std::uint32_t deltaRow;  // 1-based row of the delta that failed
  std::int32_t errorCode;
  const char* message;
  const char* context;
  ReconcileAction suggested;
};

// Called once per failed row. Must not throw (an escaping exception is taken
// as kAbort).
using ReconcileCallback = ReconcileAction (*)(void* context, const ReconcileError& error);

class IEngineUnknown {
 public:
  virtual Status QueryInterface(const platform::Guid& iid, void** out) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IEngineUnknown() = default;
};

// The row store.
class IDSBase : public IEngineUnknown {
 public:
  // Adds the rows of a packet after those held. The first packet also gives
  // the field descriptions and optional parameters; later ones must have the
  // same fields (or carry rows only). lastPacket: -1 true, 0 false (any
  // non-zero is true): this packet ends the provider's rows.
  virtual Status AppendPacket(const std::uint8_t* packet, std::uint32_t size,
                              std::int32_t lastPacket) = 0;
  virtual Status GetProps(DSProps* props) = 0;
  // descs must hold fieldCount entries, filled in column order.
  virtual Status GetFieldDescs(DSFieldDesc* descs) = 0;
  // A named optional parameter of the dataset (fieldNo 0) or of a field
  // (1-based). type and length are always set on success; the value is copied
  // when value is not null and valueSize holds it (else kErrorInvalidArgument).
  // Value formats as for fields; text parameters come as their bytes and a NUL
  // when room is left. kErrorNotFound when the packet has no such parameter.
  virtual Status GetOptParameter(std::uint32_t fieldNo, const char* name, FieldType* type,
                                 std::uint32_t* length, void* value, std::uint32_t valueSize) = 0;
  virtual Status GetProp(std::uint32_t prop, std::uint32_t* value) = 0;
  virtual Status SetProp(std::uint32_t prop, std::uint32_t value) = 0;
  // The message text for a status this store (or a cursor on it) returned;
  // at most bufferSize - 1 bytes and a NUL (callers pass kStatusMessageSize).
  virtual Status GetStatusMessage(Status status, char* buffer, std::uint32_t bufferSize) = 0;
  // A new store holding the change log's rows (a delta); the caller owns the
  // reference put into *delta.
  virtual Status TakeDelta(IDSBase** delta) = 0;
  // The store's descriptions, parameters and every row as one packet (a delta
  // store gives a delta packet). *out receives a buffer allocated with new[]
  // that the caller frees with FreePacket.
  virtual Status StreamPacket(std::uint8_t** out, std::uint32_t* size) = 0;
  virtual void FreePacket(std::uint8_t* packet) = 0;
  // Empties the change log; the rows stay.
  virtual Status AcceptChanges() = 0;
  // Handles the server's answer to an apply: errors is the packet of rejected
  // rows, delta the packet that was sent. Rows the answer does not name were
  // applied and leave the change log; each named row is handed to callback.
  virtual Status Reconcile(const std::uint8_t* delta, std::uint32_t deltaSize,
                           const std::uint8_t* errors, std::uint32_t errorsSize,
                           ReconcileCallback callback, void* context) = 0;

 protected:
  ~IDSBase() = default;
};

// A cursor over one store.
class IDSCursor : public IEngineUnknown {
 public:
  // Attaches to a store (holding a reference to it); the cursor stands before
  // the first row.
  virtual Status Attach(IDSBase* store) = 0;
  virtual Status GetCursorProps(DSCursorProps* props) = 0;
  virtual Status MoveBeforeFirst() = 0;
  virtual Status MoveAfterLast() = 0;
  // n rows forward (n > 0) or backward; stops on a crack and returns its status.
  virtual Status MoveRelative(std::int32_t n) = 0;
  // Copies the current row into a row buffer of rowBufferSize bytes.
  virtual Status CopyCurrentRow(std::uint8_t* row, std::uint32_t rowSize) = 0;
  virtual Status GetSequenceNumber(std::uint32_t* sequence) = 0;  // 1-based
  virtual Status GetUpdateStatus(UpdateStatus* status) = 0;
  virtual Status GetBookmark(void* bookmark) = 0;  // bookmarkSize bytes
  virtual Status MoveToBookmark(const void* bookmark) = 0;
  virtual Status CountRows(std::uint32_t* count) = 0;
  // Reads field fieldNo (1-based) of a row buffer into value (valueSize bytes,
  // at least ValueBufferSize of its description). A blank value sets *isBlank
  // and leaves value untouched.
  virtual Status ReadField(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                           void* value, std::uint32_t valueSize, bool* isBlank) = 0;
  // Prepares a blank row buffer for an insert.
  virtual Status BlankRow(std::uint8_t* row, std::uint32_t rowSize) = 0;
  // Writes a value (format as ReadField gives it; 8-bit text up to its NUL or
  // valueSize) into a row buffer; a null value makes the field blank.
  virtual Status WriteField(std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                            const void* value, std::uint32_t valueSize) = 0;
  // Stores the row buffer as a new row after the rows held and records it in
  // the change log; the cursor stands on the new row.
  virtual Status InsertRow(const std::uint8_t* row, std::uint32_t rowSize) = 0;

 protected:
  ~IDSCursor() = default;
};

class IEngineClassFactory : public IEngineUnknown {
 public:
  // outer must be null (no aggregation).
  virtual Status CreateInstance(IEngineUnknown* outer, const platform::Guid& iid, void** out) = 0;
  virtual Status LockServer(std::int32_t lock) = 0;

 protected:
  ~IEngineClassFactory() = default;
};

// The library's exported entries (C linkage, looked up by name).
using DllGetClassObjectFn = Status (*)(const platform::Guid* clsid, const platform::Guid* iid,
                                       void** out);
using DllCanUnloadNowFn = Status (*)();  // 0 when no engine object is alive
inline constexpr const char* kGetClassObjectEntry = "DllGetClassObject";
inline constexpr const char* kCanUnloadNowEntry = "DllCanUnloadNow";

// Owns one reference of an engine object.
template <class T>
class Ref {
 public:
  Ref() = default;
  // Adopts a reference the caller already owns.
  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives up the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() {
    *this = Ref();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace quor::engine
