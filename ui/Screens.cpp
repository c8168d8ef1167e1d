#include "ui/Screens.h"

#include "data/DataModule.h"
#include "ui/MainWindow.h"

namespace quor::ui {
namespace {

SongRowControls SongRowsOf(MainWindow& w) {
  SongRowControls c;
  c.rows = w.songlistLabel;
  c.prev = w.songlistprevBitBtn1;
  c.next = w.songlistnextBitBtn2;
  return c;
}

PhotoSlotControls PhotoSlotsOf(MainWindow& w) {
  PhotoSlotControls c;
  c.photo = w.photoImage;
  c.name = w.photonameLabel;
  return c;
}

KeypadControls KeypadOf(MainWindow& w) {
  KeypadControls c;
  c.panel = w.BMnumPanel;
  c.letterPad = w.PYBGImage;
  c.numberPad = w.BMselImage;
  c.letterDelete = w.delpyImage;
  c.letters = w.PYselEdit;
  c.digits = w.BMnumEdit;
  return c;
}

}  // namespace

Screens::Screens(MainWindow& window, data::DataModule& dataModule, player::Decoder& decoder,
                 std::string programFolder)
    : songList(SongRowsOf(window), window.State(), window.Groups(), *dataModule.songClientDataSet),
      singerPages(PhotoSlotsOf(window), window.Groups(), songList, *dataModule.singerClientDataSet,
                  *dataModule.songClientDataSet, std::move(programFolder)),
      search(KeypadOf(window), window.State(), window.Groups(), songList,
             *dataModule.songClientDataSet, &window),
      selectedSongs(window.State(), window.Groups(), songList),
      player(decoder, window.State(), window.State().SelectedSongs, *dataModule.playClientDataSet,
             window.infoLabel, window.selectedsongBitBtn1, selectedSongs),
      roomRequests(*dataModule.tempClientDataSet) {
  songList.AttachQueue(selectedSongs);
}

}  // namespace quor::ui
