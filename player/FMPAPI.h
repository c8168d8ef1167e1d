#pragma once
// The binding to the video decoder driver "reeldrv": one object that owns the
// driver handle, one message primitive and one thin operation per command.
// The request layout (message 0x4001, the packing of the first parameter, the
// command numbers and value codes) is platform/driver_api.h's.
//
// No request checks its result; requests to a driver that did not open go to
// a null handle and return 0.
//
// GUI thread only: the binding has no lock.

#include <cstdint>
#include <string>

#include "platform/Driver.h"

namespace quor::player {

class Decoder {
 public:
  Decoder() = default;
  // Closes the driver when it is still open.
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Opens "reeldrv" of section "Drivers32" and keeps the handle (null when the
  // driver cannot be opened). A handle already held is closed first.
  void DecoderOpen();

  // Closes the held handle and sets it to null.
  void DecoderClose();

  // Whether DecoderOpen got a driver (false before it, after DecoderClose and
  // when the open failed).
  bool DecoderIsOpen() const { return driver_ != nullptr; }

  // Packs and sends one request; returns the driver's result unchanged.
  std::uint32_t DecoderSend(std::uint8_t command, std::uint8_t handle, std::uint16_t code,
                            std::uint32_t argument);

  // Command 1: opens the file; the low 16 bits of the result are the stream
  // handle. The path's bytes are passed as they are (its address travels).
  std::uint16_t DecoderOpenFile(std::uint16_t mode, const std::string& path);

  // The stream operations take the 16-bit stream handle; only its low 8 bits
  // travel.
  void DecoderControl(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);
  void DecoderPause(std::uint16_t stream);
  void DecoderEndStream(std::uint16_t stream);
  void DecoderSetParam(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);
  void DecoderSelect(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);
  void DecoderSetValue(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);
  std::uint32_t DecoderGetValue(std::uint16_t stream, std::uint16_t code);

 private:
  std::uint32_t Send(std::uint32_t first, std::intptr_t second);

  platform::DriverHandle driver_ = nullptr;
};

}  // namespace quor::player
