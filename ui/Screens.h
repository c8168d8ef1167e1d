#pragma once
// The screen parts of the main window, built by its attach step: each holds
// the behaviour of one part of the screen and receives, in its constructor,
// the controls it touches, the shared state, the data module's datasets, the
// decoder binding and the other screens it calls. The window's handlers
// forward to them. GUI thread only.

#include <string>

#include "player/Player.h"
#include "ui/Search.h"
#include "ui/SelectedSongs.h"
#include "ui/SingerPages.h"
#include "ui/SongList.h"

namespace quor::data {
class DataModule;
}

namespace quor::ui {

class MainWindow;

struct Screens {
  // window, dataModule and decoder must outlive the screens.
  Screens(MainWindow& window, data::DataModule& dataModule, player::Decoder& decoder,
          std::string programFolder);

  SongList songList;
  SingerPages singerPages;
  Search search;
  SelectedSongs selectedSongs;
  player::Player player;
  // tempClientDataSet: where the room request's row goes.
  data::ClientDataSet& roomRequests;
};

}  // namespace quor::ui
