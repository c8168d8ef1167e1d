#include "player/FMPAPI.h"

#include "platform/driver_api.h"

namespace quor::player {

namespace {

std::uint8_t LowByte(std::uint16_t stream) {
  return static_cast<std::uint8_t>(stream & 0xFF);
}

}  // namespace

Decoder::~Decoder() {
  if (driver_ != nullptr) DecoderClose();
}

std::uint32_t Decoder::Send(std::uint32_t first, std::intptr_t second) {
  return static_cast<std::uint32_t>(platform::SendDriverMessage(
      driver_, kDecoderMessage, static_cast<std::intptr_t>(first), second));
}

void Decoder::DecoderOpen() {
  if (driver_ != nullptr) DecoderClose();
  driver_ = platform::OpenDriver(u"reeldrv", u"Drivers32", 0);
}

void Decoder::DecoderClose() {
  platform::CloseDriver(driver_, 0, 0);
  driver_ = nullptr;
}

std::uint32_t Decoder::DecoderSend(std::uint8_t command, std::uint8_t handle, std::uint16_t code,
                                   std::uint32_t argument) {
  return Send(QuorPackDecoderRequest(command, handle, code), static_cast<std::intptr_t>(argument));
}

std::uint16_t Decoder::DecoderOpenFile(std::uint16_t mode, const std::string& path) {
  // c_str() is the zero-terminated text; it lives until the driver returns.
  const auto address = reinterpret_cast<std::intptr_t>(path.c_str());
  return static_cast<std::uint16_t>(
      Send(QuorPackDecoderRequest(kDecoderCommandOpenFile, 0, mode), address) & 0xFFFF);
}

void Decoder::DecoderControl(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kDecoderCommandControl, LowByte(stream), code, argument);
}

void Decoder::DecoderPause(std::uint16_t stream) {
  DecoderSend(kDecoderCommandPause, LowByte(stream), 0, 0);
}

void Decoder::DecoderEndStream(std::uint16_t stream) {
  DecoderSend(kDecoderCommandEndStream, LowByte(stream), 0, 0);
}

void Decoder::DecoderSetParam(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kDecoderCommandSetParam, LowByte(stream), code, argument);
}

void Decoder::DecoderSelect(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kDecoderCommandSelect, LowByte(stream), code, argument);
}

void Decoder::DecoderSetValue(std::uint16_t stream, std::uint16_t code, std::uint32_t argument) {
  DecoderSend(kDecoderCommandSetValue, LowByte(stream), code, argument);
}

std::uint32_t Decoder::DecoderGetValue(std::uint16_t stream, std::uint16_t code) {
  return DecoderSend(kDecoderCommandGetValue, LowByte(stream), code, 0);
}

}  // namespace quor::player
