#include "player/FMPAPI.h"

#include "platform/Driver.h"

namespace quor::player {

namespace {

// The one driver handle of the process; GUI thread only.
platform::DriverHandle driver = nullptr;

std::uint32_t Send(std::uint32_t first, std::intptr_t second) {
  return static_cast<std::uint32_t>(platform::SendDriverMessage(
      driver, kDecoderMessage, static_cast<std::intptr_t>(first), second));
}

std::uint8_t LowByte(std::uint16_t stream) {
  return static_cast<std::uint8_t>(stream & 0xFF);
}

}  // namespace

void DecoderOpen() {
  if (driver != nullptr) DecoderClose();
  driver = platform::OpenDriver(u"reeldrv", u"Drivers32", 0);
}

void DecoderClose() {
  platform::CloseDriver(driver, 0, 0);
  driver = nullptr;
}

bool DecoderIsOpen() {
  return driver != nullptr;
}

std::uint32_t DecoderSend(std::uint8_t command, std::uint8_t handle, std::uint16_t code,
                          std::uint32_t argument) {
  return Send(PackDecoderRequest(command, handle, code), static_cast<std::intptr_t>(argument));
}

std::uint16_t DecoderOpenFile(std::uint16_t mode, const std::string& path) {
  // c_str() is the zero-terminated text; it lives until the driver returns.
  const auto address = reinterpret_cast<std::intptr_t>(path.c_str());
  return static_cast<std::uint16_t>(Send(PackDecoderRequest(kCommandOpenFile, 0, mode), address) &
                                    0xFFFF);
}

void DecoderControl(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kCommandControl, LowByte(stream), code, argument);
}

void DecoderPause(std::uint16_t stream) {
  DecoderSend(kCommandPause, LowByte(stream), 0, 0);
}

void DecoderEndStream(std::uint16_t stream) {
  DecoderSend(kCommandEndStream, LowByte(stream), 0, 0);
}

void DecoderSetParam(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kCommandSetParam, LowByte(stream), code, argument);
}

void DecoderSelect(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kCommandSelect, LowByte(stream), code, argument);
}

void DecoderSetValue(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kCommandSetValue, LowByte(stream), code, argument);
}

std::uint32_t DecoderGetValue(std::uint16_t stream, std::uint16_t code) {
  return DecoderSend(kCommandGetValue, LowByte(stream), code, 0);
}

}  // namespace quor::player
