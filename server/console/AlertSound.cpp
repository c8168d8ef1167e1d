// The chime the console plays for a new call: a falling two-note "ding-dong"
// with a soft attack and an exponential decay, so that it carries across a
// noisy front desk without being shrill.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "server/console/Assets.h"

namespace quor::server::console {
namespace {

constexpr std::uint32_t kRate = 22050;

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// Adds one bell-like note (a tone and its octave) starting at `start` seconds.
void Note(std::vector<double>& samples, double start, double seconds, double hz) {
  const auto first = static_cast<std::size_t>(start * kRate);
  const auto count = static_cast<std::size_t>(seconds * kRate);
  for (std::size_t i = 0; i < count && first + i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double attack = std::min(1.0, t / 0.005);
    const double envelope = attack * std::exp(-t * 5.0);
    const double phase = 2 * std::numbers::pi * hz * t;
    samples[first + i] += envelope * (0.75 * std::sin(phase) + 0.25 * std::sin(2 * phase));
  }
}

}  // namespace

std::string AlertSoundWav() {
  const double total = 1.3;
  std::vector<double> samples(static_cast<std::size_t>(total * kRate), 0.0);
  Note(samples, 0.0, 0.9, 880.0);     // A5
  Note(samples, 0.35, 0.95, 659.25);  // E5
  std::string pcm;
  pcm.reserve(samples.size() * 2);
  for (const double s : samples) {
    const double clipped = std::max(-1.0, std::min(1.0, s * 0.45));
    Put16(pcm, static_cast<std::uint16_t>(static_cast<std::int16_t>(clipped * 32767)));
  }
  std::string wav = "RIFF";
  Put32(wav, static_cast<std::uint32_t>(36 + pcm.size()));
  wav += "WAVEfmt ";
  Put32(wav, 16);         // format chunk size
  Put16(wav, 1);          // PCM
  Put16(wav, 1);          // mono
  Put32(wav, kRate);      // samples per second
  Put32(wav, kRate * 2);  // bytes per second
  Put16(wav, 2);          // bytes per sample frame
  Put16(wav, 16);         // bits per sample
  wav += "data";
  Put32(wav, static_cast<std::uint32_t>(pcm.size()));
  return wav + pcm;
}

}  // namespace quor::server::console
