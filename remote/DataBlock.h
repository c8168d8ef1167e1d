#pragma once
// The framed message of the remote data protocol.
//
// Wire layout, little-endian:
//   0  int32 Signature  bits 8..15 kind (0xDA request, 0xDB reply),
//                       bits 0..7 action code, bits 16..31 zero when written
//   4  int32 Size       count of data bytes after this 8-byte header (0 allowed)
//   8  Size bytes       the encoded variants
// Blocks follow each other on the stream with nothing between them.
//
// In memory a block is its wire image in one growable buffer (the stream):
// the buffer length is 8 + Size at every moment, and the Size field in the
// buffer is refreshed whenever the memory or the stream is handed out. A
// block is used by one thread at a time; its reference may move between
// threads.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Guid.h"
#include "remote/Ref.h"

namespace quor::remote {

inline constexpr std::int32_t CallMark = 0xDA00;
inline constexpr std::int32_t ResultMark = 0xDB00;

// Action codes (bits 0..7 of a signature).
inline constexpr std::int32_t ActionError = 1;
inline constexpr std::int32_t ActionInvoke = 2;
inline constexpr std::int32_t ActionGetID = 3;
inline constexpr std::int32_t ActionCreateObject = 4;
inline constexpr std::int32_t ActionFreeObject = 5;
inline constexpr std::int32_t ActionGetServers = 0x10;
inline constexpr std::int32_t ActionGetAppServers = 0x12;

// The largest Size a peer may announce; anything above (or negative) is
// "Invalid data packet" before a byte is allocated.
inline constexpr std::int32_t kMaxBlockSize = 256 << 20;
inline constexpr std::int32_t kBlockHeaderSize = 8;

// (Signature AND 0xFF00) is 0xDA00 or 0xDB00.
inline bool IsValidSignature(std::int32_t signature) {
  const std::int32_t kind = signature & 0xFF00;
  return kind == CallMark || kind == ResultMark;
}
// A reply: (Signature AND 0xDB00) = 0xDB00. A request (0xDA00) fails this.
inline bool IsReplySignature(std::int32_t signature) {
  return (signature & ResultMark) == ResultMark;
}
inline std::int32_t ActionOf(std::int32_t signature) {
  return signature & 0xFF;
}

// A byte buffer with a position: the block's stream.
class MemoryStream {
 public:
  std::uint8_t* Data() { return data_.get(); }
  const std::uint8_t* Data() const { return data_.get(); }
  std::size_t Length() const { return length_; }
  // New bytes are zero, unless `zero` is false (the caller writes them all).
  void SetLength(std::size_t length, bool zero = true);
  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position) { position_ = position; }
  // Reads up to count bytes at the position; returns the count read.
  std::size_t Read(void* buffer, std::size_t count);
  // Writes at the position, growing the buffer; returns count.
  std::size_t Write(const void* buffer, std::size_t count);
  // Makes room for `capacity` bytes without changing the length.
  void Reserve(std::size_t capacity);

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
  std::size_t position_ = 0;
};

class IDataBlock : public IUnknown {
 public:
  virtual std::int32_t HeaderSize() const = 0;
  virtual std::uint8_t* Memory() = 0;
  virtual std::int32_t Size() const = 0;
  virtual void SetSize(std::int32_t size) = 0;
  virtual std::shared_ptr<MemoryStream> Stream() = 0;
  virtual std::int32_t Signature() const = 0;
  virtual void SetSignature(std::int32_t signature) = 0;
  virtual void Clear() = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual void KeepStream() = 0;
  virtual std::int32_t LoadFrom(const void* data, std::int32_t length, bool check) = 0;
  // Bytes between the read position and the end of the data. (An addition to
  // the classic slots: the decoder checks every wire length against it.)
  virtual std::int32_t Available() const = 0;
};

class DataBlock final : public IDataBlock {
 public:
  // A new empty block (Size 0; signature bytes zero until SetSignature).
  static Ref<DataBlock> Create();

  std::int32_t HeaderSize() const override { return kBlockHeaderSize; }
  std::uint8_t* Memory() override;
  std::int32_t Size() const override;
  void SetSize(std::int32_t size) override;
  std::shared_ptr<MemoryStream> Stream() override;
  std::int32_t Signature() const override;
  void SetSignature(std::int32_t signature) override;
  void Clear() override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  void KeepStream() override { keepStream_ = true; }
  std::int32_t LoadFrom(const void* data, std::int32_t length, bool check) override;
  std::int32_t Available() const override;

  bool StreamKept() const { return keepStream_; }
  // SetSize for a receiver that writes every new data byte itself: the new
  // bytes are not cleared first.
  void SetSizeForFill(std::int32_t size);
  // Reads the data again from its first byte.
  void ResetReadPosition() { readPos_ = kBlockHeaderSize; }

 private:
  DataBlock();
  // The stream is shared with whoever asked for it (Stream); with KeepStream
  // set it is theirs after the block goes.
  std::shared_ptr<MemoryStream> stream_;
  std::size_t readPos_ = kBlockHeaderSize;
  std::size_t writePos_ = kBlockHeaderSize;
  bool keepStream_ = false;
};

// The connection's block sender, as the interpreter sees it.
// {87AD1043-470E-11D1-88D5-00A0248E5091}
class ISendDataBlock {
 public:
  // Sends the block; with waitForResult the reply block is returned, else
  // none. Any failure is an exception.
  virtual Ref<IDataBlock> Send(const Ref<IDataBlock>& block, bool waitForResult) = 0;

 protected:
  ~ISendDataBlock() = default;
};

// An optional outside object that sees every block on its way in and out and
// may rewrite it in place. {B249776B-E429-11D1-AAA4-00C04FA35CFA}
class IDataIntercept : public IUnknown {
 public:
  virtual void Incoming(IDataBlock& block) = 0;
  virtual void Outgoing(IDataBlock& block) = 0;
};

}  // namespace quor::remote
