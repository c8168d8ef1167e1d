#include "player/Player.h"

#include <QLabel>
#include <QString>
#include <QWidget>
#include <algorithm>

#include "data/CatalogueStatements.h"
#include "data/ClientDataSet.h"
#include "data/DataModule.h"
#include "platform/Codepage.h"
#include "platform/driver_api.h"

namespace quor::player {
namespace {

// Three seconds of the timer.
constexpr int kNoticeTicks = 6;

}  // namespace

bool IsShowing(const QWidget* widget) {
  if (widget == nullptr) return false;
  for (; widget != nullptr; widget = widget->parentWidget()) {
    if (widget->isHidden()) return false;
  }
  return true;
}

Player::Player(Decoder& decoder, PlayerStatus& status, std::vector<std::string>& queue,
               data::ClientDataSet& playClientDataSet, QLabel* infoLabel,
               QWidget* selectedsongBitBtn1, QueuePageView& queuePage)
    : decoder_(decoder),
      status_(status),
      queue_(queue),
      playClientDataSet_(playClientDataSet),
      infoLabel_(infoLabel),
      selectedsongBitBtn1_(selectedsongBitBtn1),
      queuePage_(queuePage) {}

void Player::PlayNextSong() {
  if (queue_.empty()) return;
  // A copy: the entry leaves the queue below.
  const std::string entry = queue_.front();
  status_.MarqueeText = kNowPlayingText + platform::GbkToUtf16(entry);

  // The statement ends in the blank after the song number.
  data::RunCatalogueQuery(playClientDataSet_, data::MediaPathStatement(entry));
  const std::string path = playClientDataSet_.FieldByName("PATH1").AsString();
  if (path.empty()) {
    // The entry stays first: while the decoder stays idle, every tick tries
    // it again until the guest removes it.
    status_.MarqueeText = kSongNotFoundText;
    return;
  }

  status_.PlayerState = PlayerState::kStarted;
  status_.ChannelStep = 0;
  status_.StreamHandle = decoder_.DecoderOpenFile(kDecoderOpenMode, path);
  const std::uint16_t stream = status_.StreamHandle;
  status_.StreamLength =
      static_cast<std::int32_t>(decoder_.DecoderGetValue(stream, kDecoderCodeLength));
  status_.AudioChannelInfo =
      static_cast<std::int32_t>(decoder_.DecoderGetValue(stream, kDecoderCodeChannelInfo));
  decoder_.DecoderControl(stream, kDecoderControlPlay, 0);
  decoder_.DecoderSetParam(stream, kDecoderCodeSpeed, 100);
  status_.PlayerState = PlayerState::kStarted;
  queue_.erase(queue_.begin());
  status_.PlayPosition = 0;
  noticeTicks_ = 0;
  if (stream == 0) {
    // The decoder reports position 0 for it, so the queue moves on as after a
    // song's end; meanwhile the guests read which song it was.
    status_.MarqueeText = kCannotPlayText + platform::GbkToUtf16(entry);
    noticeTicks_ = kNoticeTicks;
  }
}

void Player::mainTimerTimer() {
  // 1. Scroll the status line by one UTF-16 unit and show it at once.
  std::u16string& text = status_.MarqueeText;
  if (!text.empty()) std::rotate(text.begin(), text.begin() + 1, text.end());
  ShowMarquee();

  // 2. Where the decoder is; 0 = nothing plays.
  status_.PlayPosition = decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodePosition);

  // 3. Idle: the second idle tick in a row with songs waiting moves on.
  if (status_.PlayPosition == 0) {
    if (status_.PlayerState == PlayerState::kIdleWaiting) {
      decoder_.DecoderEndStream(status_.StreamHandle);
      controlBitBtn3Click();
    }
    status_.PlayerState = queue_.empty() ? PlayerState::kIdleEmpty : PlayerState::kIdleWaiting;
  }

  // 4. Set on every idle tick with an empty queue, so the text stands still
  // (shown rotated by its leading blank); a could-not-play text stands a few
  // ticks first.
  if (noticeTicks_ > 0) --noticeTicks_;
  if (status_.PlayerState == PlayerState::kIdleEmpty && noticeTicks_ == 0)
    status_.MarqueeText = kQueueEmptyText;
}

void Player::ShowMarquee() {
  if (infoLabel_ == nullptr) return;
  // Through the system code page, as every screen text: a surrogate pair that
  // the scroll has split shows as '?' rather than as a broken glyph.
  const std::u16string shown = platform::GbkToUtf16(platform::Utf16ToGbk(status_.MarqueeText));
  infoLabel_->setText(QString::fromStdU16String(shown));
  infoLabel_->repaint();
}

void Player::RefreshQueueView() {
  if (IsShowing(selectedsongBitBtn1_)) queuePage_.RedrawQueuePage();
}

void Player::controlBitBtn1Click() {
  if (status_.PlayerState == PlayerState::kIdleEmpty ||
      status_.PlayerState == PlayerState::kNotStarted) {
    PlayNextSong();
  }
  if (status_.PlayerState == PlayerState::kPaused) {
    decoder_.DecoderControl(status_.StreamHandle, kDecoderControlResume, 0);
    status_.PlayerState = PlayerState::kStarted;
  }
  RefreshQueueView();
}

void Player::controlBitBtn2Click() {
  if (status_.StreamHandle == 0) return;
  decoder_.DecoderPause(status_.StreamHandle);
  status_.PlayerState = PlayerState::kPaused;
}

void Player::controlBitBtn3Click() {
  if (queue_.empty()) return;
  PlayNextSong();
  RefreshQueueView();
  // Also when the song's path was not found.
  status_.PlayerState = PlayerState::kStarted;
}

void Player::controlBitBtn4Click() {
  const ChannelRequests requests = ChannelCycle(status_.AudioChannelInfo, status_.ChannelStep);
  switch (requests.kind) {
    case ChannelRequests::Kind::kNone:
      return;
    case ChannelRequests::Kind::kSelect:
      decoder_.DecoderSelect(status_.StreamHandle, kDecoderCodeTrack, requests.track);
      break;
    case ChannelRequests::Kind::kMix:
      decoder_.DecoderSetValue(status_.StreamHandle, kDecoderCodeMixLeft, requests.mixLeft);
      decoder_.DecoderSetValue(status_.StreamHandle, kDecoderCodeMixRight, requests.mixRight);
      break;
  }
  status_.ChannelStep = requests.nextStep;
}

void Player::controlBitBtn5Click() {
  const auto level =
      VolumeUpLevel(decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodeVolume));
  if (level)
    decoder_.DecoderSetValue(status_.StreamHandle, kDecoderCodeVolume, VolumeValue(*level));
}

void Player::controlBitBtn6Click() {
  const auto level =
      VolumeDownLevel(decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodeVolume));
  if (level)
    decoder_.DecoderSetValue(status_.StreamHandle, kDecoderCodeVolume, VolumeValue(*level));
}

void Player::controlBitBtn7Click() {
  if (const auto target = WindForwardTarget(status_.StreamLength, status_.PlayPosition)) {
    Seek(*target);
  }
}

void Player::controlBitBtn8Click() {
  if (const auto target = WindBackwardTarget(status_.StreamLength, status_.PlayPosition)) {
    Seek(*target);
  }
}

void Player::Seek(std::uint32_t target) {
  // Winding leaves PlayPosition alone: the next tick reads the new position.
  decoder_.DecoderSetParam(status_.StreamHandle, kDecoderCodeSeekTarget, target);
  decoder_.DecoderControl(status_.StreamHandle, kDecoderControlSeek, kDecoderCodeSeekTarget);
}

}  // namespace quor::player
