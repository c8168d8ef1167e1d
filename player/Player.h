#pragma once
// The player: plays the guests' queue one song after another on the decoder,
// scrolls the status line on the 500 ms timer, and carries out the eight
// player buttons (also reached from the remote control). The public face of
// player/.
//
// The player owns nothing: the window hands it what it works on and keeps all
// of it alive for as long as the player lives. GUI thread only; the timer,
// the buttons and the hot keys all come from the one message loop, so
// nothing here overlaps and nothing is locked.

#include <string>
#include <vector>

#include "player/FMPAPI.h"
#include "player/PlayerRules.h"
#include "player/PlayerStatus.h"

class QLabel;
class QWidget;

namespace quor::data {
class ClientDataSet;
}

namespace quor::player {

// The status line texts. The now-playing text is followed by the queue entry.
inline constexpr char16_t kNowPlayingText[] = u"       正在播放：";
inline constexpr char16_t kSongNotFoundText[] = u"找不到歌曲歌曲！";
// A song whose file the decoder could not open (broken, missing, the share
// not mounted); followed by the queue entry.
inline constexpr char16_t kCannotPlayText[] = u"       无法播放：";
inline constexpr char16_t kQueueEmptyText[] = u" 歌曲列表已空，请添加歌曲！";

// The selected-song list's view of the queue, as the player needs it: drawn
// again after the queue changed under it.
class QueuePageView {
 public:
  // Draws the queue view again from the queue as it is now.
  virtual void RedrawQueuePage() = 0;

 protected:
  ~QueuePageView() = default;
};

class Player {
 public:
  // decoder: the open decoder binding; status: the player state; queue: the
  // SongEntry texts (GBK), entry 0 plays next; playClientDataSet: the dataset
  // the media path is looked up with; infoLabel: the status line;
  // selectedsongBitBtn1: the control whose showing means that the queue view
  // is on screen; queuePage: redraws that view.
  Player(Decoder& decoder, PlayerStatus& status, std::vector<std::string>& queue,
         data::ClientDataSet& playClientDataSet, QLabel* infoLabel, QWidget* selectedsongBitBtn1,
         QueuePageView& queuePage);

  // Starts entry 0 of the queue: looks up its media path, opens and starts it
  // and takes it off the queue. A path that is not found leaves the entry
  // first and says so on the status line. A file the decoder cannot open
  // (stream handle 0) leaves the queue all the same, and the status line
  // names it instead of showing it as playing. A catalogue failure is raised.
  void PlayNextSong();

  // The 500 ms tick: scroll the status line, read the play position, move on
  // to the next song when the decoder has stopped.
  void mainTimerTimer();

  // The player buttons: play, pause, next song, channel, volume up, volume
  // down, wind forwards, wind backwards.
  void controlBitBtn1Click();
  void controlBitBtn2Click();
  void controlBitBtn3Click();
  void controlBitBtn4Click();
  void controlBitBtn5Click();
  void controlBitBtn6Click();
  void controlBitBtn7Click();
  void controlBitBtn8Click();

 private:
  // Redraws the queue view when the selected-song list is on screen.
  void RefreshQueueView();
  void Seek(std::uint32_t target);
  void ShowMarquee();

  Decoder& decoder_;
  PlayerStatus& status_;
  std::vector<std::string>& queue_;
  data::ClientDataSet& playClientDataSet_;
  QLabel* infoLabel_;
  QWidget* selectedsongBitBtn1_;
  QueuePageView& queuePage_;
  // Ticks for which the could-not-play text stands before the empty-queue
  // text takes the status line.
  int noticeTicks_ = 0;
};

// Whether the widget and every widget that holds it are shown (their own
// visibility flags, so the answer is the same on any display, or none).
bool IsShowing(const QWidget* widget);

}  // namespace quor::player
