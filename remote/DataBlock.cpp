#include "remote/DataBlock.h"

#include <cstring>

#include "remote/Errors.h"

namespace quor::remote {
namespace {
[[noreturn]] void InvalidPacket() {
  throw Exception("Invalid data packet");
}

std::int32_t LoadInt32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);  // little-endian host, as the wire
  return v;
}
void StoreInt32(std::uint8_t* p, std::int32_t v) {
  std::memcpy(p, &v, sizeof v);
}
}  // namespace

void MemoryStream::Reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  std::size_t grown = capacity_ ? capacity_ : 64;
  while (grown < capacity) grown = grown * 2;
  std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[grown]);
  if (length_) std::memcpy(data.get(), data_.get(), length_);
  data_ = std::move(data);
  capacity_ = grown;
}

void MemoryStream::SetLength(std::size_t length, bool zero) {
  Reserve(length);
  if (zero && length > length_) std::memset(data_.get() + length_, 0, length - length_);
  length_ = length;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= length_) return 0;
  const std::size_t n = count < length_ - position_ ? count : length_ - position_;
  std::memcpy(buffer, data_.get() + position_, n);
  position_ += n;
  return n;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  const std::size_t end = position_ + count;
  Reserve(end);
  if (position_ > length_) std::memset(data_.get() + length_, 0, position_ - length_);
  std::memcpy(data_.get() + position_, buffer, count);
  position_ = end;
  if (end > length_) length_ = end;
  return count;
}

Ref<DataBlock> DataBlock::Create() {
  return Ref<DataBlock>(new DataBlock());
}

DataBlock::DataBlock() : stream_(std::make_shared<MemoryStream>()) {
  stream_->SetLength(kBlockHeaderSize);
  Clear();
}

std::uint8_t* DataBlock::Memory() {
  StoreInt32(stream_->Data() + 4, Size());
  return stream_->Data();
}

std::int32_t DataBlock::Size() const {
  return static_cast<std::int32_t>(stream_->Length() - kBlockHeaderSize);
}

void DataBlock::SetSize(std::int32_t size) {
  if (size < 0 || size > kMaxBlockSize) InvalidPacket();
  stream_->SetLength(static_cast<std::size_t>(size) + kBlockHeaderSize);
}

void DataBlock::SetSizeForFill(std::int32_t size) {
  if (size < 0 || size > kMaxBlockSize) InvalidPacket();
  stream_->SetLength(static_cast<std::size_t>(size) + kBlockHeaderSize, false);
}

std::shared_ptr<MemoryStream> DataBlock::Stream() {
  StoreInt32(stream_->Data() + 4, Size());
  stream_->SetPosition(0);
  return stream_;
}

std::int32_t DataBlock::Signature() const {
  return LoadInt32(stream_->Data());
}

void DataBlock::SetSignature(std::int32_t signature) {
  StoreInt32(stream_->Data(), signature);
}

void DataBlock::Clear() {
  stream_->SetLength(kBlockHeaderSize);
  readPos_ = kBlockHeaderSize;
  writePos_ = kBlockHeaderSize;
}

std::int32_t DataBlock::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  if (writePos_ + static_cast<std::size_t>(count) >
      static_cast<std::size_t>(kMaxBlockSize) + kBlockHeaderSize)
    InvalidPacket();  // a block the peer would refuse is never built
  stream_->SetPosition(writePos_);
  stream_->Write(buffer, static_cast<std::size_t>(count));
  writePos_ += static_cast<std::size_t>(count);
  return count;
}

std::int32_t DataBlock::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  stream_->SetPosition(readPos_);
  const std::size_t n = stream_->Read(buffer, static_cast<std::size_t>(count));
  readPos_ += n;
  return static_cast<std::int32_t>(n);
}

std::int32_t DataBlock::Available() const {
  const std::size_t length = stream_->Length();
  return readPos_ < length ? static_cast<std::int32_t>(length - readPos_) : 0;
}

std::int32_t DataBlock::LoadFrom(const void* data, std::int32_t length, bool check) {
  if (length < kBlockHeaderSize || data == nullptr) InvalidPacket();
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::int32_t signature = LoadInt32(bytes);
  if (!IsValidSignature(signature)) InvalidPacket();
  const std::int32_t size = LoadInt32(bytes + 4);
  const std::int32_t dataLength = length - kBlockHeaderSize;
  if (check && size != dataLength) InvalidPacket();
  if (dataLength > kMaxBlockSize) InvalidPacket();
  Clear();
  SetSignature(signature);
  Write(bytes + kBlockHeaderSize, dataLength);
  return size;
}

}  // namespace quor::remote
