#include <cstring>

#include "engine/Store.h"

namespace quor::engine {

Cursor::Cursor() {
  LiveObjects().fetch_add(1);
}

Cursor::~Cursor() {
  if (store_ != nullptr) store_->Release();
  LiveObjects().fetch_sub(1);
}

Status Cursor::QueryInterface(const platform::Guid& iid, void** out) {
  if (out == nullptr) return kErrorInvalidArgument;
  if (iid == kIidDSCursor || iid == kIidUnknown) {
    AddRef();
    *out = iid == kIidUnknown ? static_cast<void*>(static_cast<IEngineUnknown*>(this))
                              : static_cast<void*>(static_cast<IDSCursor*>(this));
    return kStatusOk;
  }
  *out = nullptr;
  return kErrorNoInterface;
}

std::uint32_t Cursor::AddRef() {
  return refs_.fetch_add(1) + 1;
}

std::uint32_t Cursor::Release() {
  const std::uint32_t left = refs_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

Status Cursor::Attach(IDSBase* store) {
  if (store == nullptr) return kErrorInvalidArgument;
  void* ours = nullptr;
  if (store->QueryInterface(kIidEngineStore, &ours) != kStatusOk || ours == nullptr)
    return kErrorInvalidArgument;  // a store of another engine
  if (store_ != nullptr) store_->Release();
  store_ = static_cast<Store*>(ours);  // QueryInterface raised the count
  place_ = Place::kBeforeFirst;
  ordinal_ = 0;
  return kStatusOk;
}

Status Cursor::GetCursorProps(DSCursorProps* props) {
  if (store_ == nullptr) return kErrorNotAttached;
  if (props == nullptr) return store_->Fail(kErrorInvalidArgument, "No properties record given");
  props->rowBufferSize = store_->RowBufferSize();
  props->bookmarkSize = kBookmarkSize;
  props->fieldCount = store_->FieldCount();
  props->readOnly = store_->ReadOnly();
  return kStatusOk;
}

Status Cursor::MoveBeforeFirst() {
  if (store_ == nullptr) return kErrorNotAttached;
  place_ = Place::kBeforeFirst;
  return kStatusOk;
}

Status Cursor::MoveAfterLast() {
  if (store_ == nullptr) return kErrorNotAttached;
  place_ = Place::kAfterLast;
  return kStatusOk;
}

Status Cursor::MoveRelative(std::int32_t n) {
  if (store_ == nullptr) return kErrorNotAttached;
  const std::int64_t count = store_->RowCount();
  // Cracks sit at -1 (before the first row) and at count (after the last);
  // an after-last cursor stays after the last row when rows are appended.
  std::int64_t at = place_ == Place::kBeforeFirst ? -1
                    : place_ == Place::kAfterLast ? count
                                                  : static_cast<std::int64_t>(ordinal_);
  if (place_ == Place::kOnRow && at >= count) at = count;  // the row went away
  const std::int64_t target = at + n;
  if (target < 0) {
    place_ = Place::kBeforeFirst;
    return kStatusBeforeFirst;
  }
  if (target >= count) {
    place_ = Place::kAfterLast;
    return kStatusAfterLast;
  }
  place_ = Place::kOnRow;
  ordinal_ = static_cast<std::uint32_t>(target);
  return kStatusOk;
}

Status Cursor::Current(std::uint32_t* ordinal) {
  if (store_ == nullptr) return kErrorNotAttached;
  if (place_ == Place::kBeforeFirst) return kStatusBeforeFirst;
  if (place_ == Place::kAfterLast || ordinal_ >= store_->RowCount()) return kStatusAfterLast;
  *ordinal = ordinal_;
  return kStatusOk;
}

Status Cursor::CopyCurrentRow(std::uint8_t* row, std::uint32_t rowSize) {
  std::uint32_t ordinal = 0;
  if (const Status s = Current(&ordinal)) return s;
  if (row == nullptr || rowSize < store_->RowBufferSize())
    return store_->Fail(
        kErrorInvalidArgument,
        "Row buffer smaller than " + std::to_string(store_->RowBufferSize()) + " bytes");
  store_->CopyRow(ordinal, row);
  return kStatusOk;
}

Status Cursor::GetSequenceNumber(std::uint32_t* sequence) {
  std::uint32_t ordinal = 0;
  if (const Status s = Current(&ordinal)) return s;
  if (sequence == nullptr) return store_->Fail(kErrorInvalidArgument, "No place for the number");
  *sequence = ordinal + 1;
  return kStatusOk;
}

Status Cursor::GetUpdateStatus(UpdateStatus* status) {
  std::uint32_t ordinal = 0;
  if (const Status s = Current(&ordinal)) return s;
  if (status == nullptr) return store_->Fail(kErrorInvalidArgument, "No place for the status");
  *status = store_->RowStatus(ordinal);
  return kStatusOk;
}

Status Cursor::GetBookmark(void* bookmark) {
  std::uint32_t ordinal = 0;
  if (const Status s = Current(&ordinal)) return s;
  if (bookmark == nullptr) return store_->Fail(kErrorInvalidArgument, "No place for the bookmark");
  const std::uint32_t mark = ordinal + 1;
  std::memcpy(bookmark, &mark, kBookmarkSize);
  return kStatusOk;
}

Status Cursor::MoveToBookmark(const void* bookmark) {
  if (store_ == nullptr) return kErrorNotAttached;
  if (bookmark == nullptr) return store_->Fail(kErrorInvalidArgument, "No bookmark given");
  std::uint32_t mark = 0;
  std::memcpy(&mark, bookmark, kBookmarkSize);
  if (mark == 0 || mark > store_->RowCount())
    return store_->Fail(kErrorNoCurrentRow, "Bookmark " + std::to_string(mark) + " not found");
  place_ = Place::kOnRow;
  ordinal_ = mark - 1;
  return kStatusOk;
}

Status Cursor::CountRows(std::uint32_t* count) {
  if (store_ == nullptr) return kErrorNotAttached;
  if (count == nullptr) return store_->Fail(kErrorInvalidArgument, "No place for the count");
  *count = store_->RowCount();
  return kStatusOk;
}

Status Cursor::ReadField(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                         void* value, std::uint32_t valueSize, bool* isBlank) {
  if (store_ == nullptr) return kErrorNotAttached;
  return store_->ReadField(row, rowSize, fieldNo, value, valueSize, isBlank);
}

Status Cursor::BlankRow(std::uint8_t* row, std::uint32_t rowSize) {
  if (store_ == nullptr) return kErrorNotAttached;
  return store_->BlankRow(row, rowSize);
}

Status Cursor::WriteField(std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                          const void* value, std::uint32_t valueSize) {
  if (store_ == nullptr) return kErrorNotAttached;
  return store_->WriteField(row, rowSize, fieldNo, value, valueSize);
}

Status Cursor::InsertRow(const std::uint8_t* row, std::uint32_t rowSize) {
  if (store_ == nullptr) return kErrorNotAttached;
  std::uint32_t ordinal = 0;
  if (const Status s = store_->InsertRow(row, rowSize, &ordinal)) return s;
  place_ = Place::kOnRow;
  ordinal_ = ordinal;
  return kStatusOk;
}

}  // namespace quor::engine
