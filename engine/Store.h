#pragma once
// The engine's row store and cursor (internal to libdsengine.so and to the
// engine's own tests; callers see only engine/api/DSEngine.h).
//
// Rows are held as the packets carried them: each appended packet's rows
// section is copied once into its own arena (a chunk), with one 32-bit offset
// per row; inserted rows go, encoded the same way, into insert chunks. Nothing
// is allocated per value. A row buffer (what CopyCurrentRow fills) is the
// fixed-slot form of one row:
//
//   0      4  tag "QVRB" (0x42525651): an engine row buffer of this layout
//   4      4  row ordinal + 1; 0 for a blank row not stored yet
//   8      n  one byte per field: 1 blank, 0 has a value
//   8+n    .. one slot per field at slotOffset: fixed types their width
//             (boolean 1 byte); texts and bytes a 16-bit length + size bytes

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/Packet.h"
#include "engine/api/DSEngine.h"

namespace quor::engine {

inline constexpr std::uint32_t kRowBufferTag = 0x42525651;
inline constexpr std::uint32_t kRowBufferHeader = 8;
inline constexpr std::uint32_t kBookmarkSize = 4;

// Milliseconds since 1970-01-01 UTC: the posting time of an inserted row.
std::int64_t UnixTimeMs();
// A new change log identity: kChangeLogIdSize random bytes.
std::string NewChangeLogId();

// Live engine objects of this library (for DllCanUnloadNow).
std::atomic<std::uint32_t>& LiveObjects();

// The store's private interface identity: a cursor asks for it to reach the
// store behind an IDSBase pointer (and refuses stores of other engines).
inline constexpr platform::Guid kIidEngineStore{
    0x51564453, 0x0001, 0x4E47, {0x91, 0x0E, 0x51, 0x56, 0x44, 0x53, 0x00, 0x01}};

class Store final : public IDSBase {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  Status QueryInterface(const platform::Guid& iid, void** out) override;
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;

  Status AppendPacket(const std::uint8_t* packet, std::uint32_t size,
                      std::int32_t lastPacket) override;
  Status GetProps(DSProps* props) override;
  Status GetFieldDescs(DSFieldDesc* descs) override;
  Status GetOptParameter(std::uint32_t fieldNo, const char* name, FieldType* type,
                         std::uint32_t* length, void* value, std::uint32_t valueSize) override;
  Status GetProp(std::uint32_t prop, std::uint32_t* value) override;
  Status SetProp(std::uint32_t prop, std::uint32_t value) override;
  Status GetStatusMessage(Status status, char* buffer, std::uint32_t bufferSize) override;
  Status TakeDelta(IDSBase** delta) override;
  Status StreamPacket(std::uint8_t** out, std::uint32_t* size) override;
  void FreePacket(std::uint8_t* packet) override;
  Status AcceptChanges() override;
  Status Reconcile(const std::uint8_t* delta, std::uint32_t deltaSize, const std::uint8_t* errors,
                   std::uint32_t errorsSize, ReconcileCallback callback, void* context) override;

  // For cursors ------------------------------------------------------------
  std::uint32_t RowCount() const { return rowCount_; }
  std::uint32_t RowBufferSize() const { return rowBufferSize_; }
  std::uint32_t FieldCount() const { return static_cast<std::uint32_t>(fields_.size()); }
  bool ReadOnly() const { return readOnly_; }
  // Records a failure's message for GetStatusMessage and returns the status.
  Status Fail(Status status, const std::string& message);
  // Runs an operation, turning any exception into a status with its message.
  template <class F>
  Status Guard(F&& f);

  void CopyRow(std::uint32_t ordinal, std::uint8_t* row) const;
  UpdateStatus RowStatus(std::uint32_t ordinal) const;
  Status ReadField(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                   void* value, std::uint32_t valueSize, bool* isBlank);
  Status BlankRow(std::uint8_t* row, std::uint32_t rowSize);
  Status WriteField(std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                    const void* value, std::uint32_t valueSize);
  // Stores a row buffer as a new row (in the change log); its ordinal.
  Status InsertRow(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t* ordinal);

 private:
  struct Chunk {
    std::vector<std::uint8_t> bytes;       // encoded rows, back to back
    std::vector<std::uint32_t> offsets;    // where each row starts in bytes
    std::vector<std::uint32_t> changeIds;  // insert chunks: per row, 0 once accepted
    std::vector<std::int64_t> postedAt;    // insert chunks: per row, ms since 1970 UTC
    bool inserted = false;
  };
  struct Where {
    const Chunk* chunk;
    std::uint32_t index;
  };

  Where Locate(std::uint32_t ordinal) const;
  std::span<const std::uint8_t> EncodedRow(const Chunk& c, std::uint32_t index) const;
  void TakeFields(const PacketReader& reader);
  void RebuildStarts();
  Status CheckRowBuffer(const std::uint8_t* row, std::uint32_t rowSize);
  std::vector<std::uint8_t> EncodeRow(const std::uint8_t* row, std::uint32_t changeId,
                                      std::int64_t postedAt) const;
  // Finds the change log entry with this id: (chunk, index), false if none.
  bool FindChange(std::uint32_t changeId, std::size_t* chunk, std::uint32_t* index) const;
  void AcceptEntry(std::size_t chunk, std::uint32_t index);
  void RemoveRow(std::size_t chunk, std::uint32_t index);
  std::vector<FieldDef> FieldDefs() const;

  std::atomic<std::uint32_t> refs_{1};
  bool hasFields_ = false;
  PacketKind kind_ = PacketKind::kData;
  bool readOnly_ = false;
  bool lastPacketSeen_ = false;
  bool wideText_ = false;
  std::uint32_t packets_ = 0;
  std::vector<FieldInfo> fields_;
  std::vector<std::string> namesGbk_;
  std::vector<Param> params_;
  std::vector<std::uint32_t> slotOffset_;
  std::uint32_t rowBufferSize_ = kRowBufferHeader;
  std::vector<Chunk> chunks_;
  std::vector<std::uint32_t> chunkStart_{0};  // first ordinal of each chunk, then the total
  std::uint32_t rowCount_ = 0;
  std::uint32_t changeCount_ = 0;
  std::uint32_t nextChangeId_ = 1;
  // The change log's identity: 16 random bytes, made at the first insert and
  // kept for the store's life (empty until then).
  std::string changeLogId_;
  std::uint64_t dataBytes_ = 0;
  std::map<Status, std::string> messages_;
};

class Cursor final : public IDSCursor {
 public:
  Cursor();
  ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  Status QueryInterface(const platform::Guid& iid, void** out) override;
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;

  Status Attach(IDSBase* store) override;
  Status GetCursorProps(DSCursorProps* props) override;
  Status MoveBeforeFirst() override;
  Status MoveAfterLast() override;
  Status MoveRelative(std::int32_t n) override;
  Status CopyCurrentRow(std::uint8_t* row, std::uint32_t rowSize) override;
  Status GetSequenceNumber(std::uint32_t* sequence) override;
  Status GetUpdateStatus(UpdateStatus* status) override;
  Status GetBookmark(void* bookmark) override;
  Status MoveToBookmark(const void* bookmark) override;
  Status CountRows(std::uint32_t* count) override;
  Status ReadField(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                   void* value, std::uint32_t valueSize, bool* isBlank) override;
  Status BlankRow(std::uint8_t* row, std::uint32_t rowSize) override;
  Status WriteField(std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                    const void* value, std::uint32_t valueSize) override;
  Status InsertRow(const std::uint8_t* row, std::uint32_t rowSize) override;

 private:
  enum class Place { kBeforeFirst, kOnRow, kAfterLast };
  // The current row's ordinal, or the crack status when there is none.
  Status Current(std::uint32_t* ordinal);

  std::atomic<std::uint32_t> refs_{1};
  Store* store_ = nullptr;  // one reference held while attached
  Place place_ = Place::kBeforeFirst;
  std::uint32_t ordinal_ = 0;
};

// Creates a new object of an engine class with the asked interface; the
// library's DllGetClassObject serves these through class factories.
Status CreateEngineObject(const platform::Guid& clsid, const platform::Guid& iid, void** out);
Status GetClassObject(const platform::Guid& clsid, const platform::Guid& iid, void** out);
// 0 when no engine object is alive and no factory lock is held, else 1.
Status CanUnloadNow();

template <class F>
Status Store::Guard(F&& f) {
  try {
    return f();
  } catch (const PacketError& e) {
    return Fail(kErrorInvalidPacket, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(kErrorOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return Fail(kErrorUnexpected, e.what());
  } catch (...) {
    return Fail(kErrorUnexpected, "Unexpected failure in the dataset engine");
  }
}

}  // namespace quor::engine
