#pragma once
// The singer photo pages: three category buttons (male, female, groups),
// six photo slots with the singer's name under each, paging through the
// singers of the category, and a touch on a photo that lists the singer's
// songs in the song rows. The page position is the row cursor of
// singerClientDataSet. GUI thread only.

#include <array>
#include <string>
#include <string_view>

#include "ui/ControlGroups.h"
#include "ui/Label.h"
#include "ui/Picture.h"

namespace quor::data {
class ClientDataSet;
}

namespace quor::ui {

class SongList;

// Slot n is photo[n] with name[n] under it (index 0 unused); slots 1 to 3
// are the upper row, 4 to 6 the lower.
struct PhotoSlotControls {
  std::array<Picture*, 7> photo{};
  std::array<Label*, 7> name{};
};

// The file of a singer's photo: the catalogue's Path (Chinese code page,
// relative to the program folder, Windows separators: "Photo\m1.jpg") under
// programFolder (ending in '/'), separators turned to '/', the name in UTF-8
// as this system's file names are.
std::string PhotoFilePath(const std::string& programFolder, std::string_view pathGbk);

// The picture a slot shows when the singer's own cannot be loaded.
inline constexpr char kFallbackPhoto[] = "Photo/NONAME.BMP";

class SingerPages {
 public:
  // singers is singerClientDataSet, songs songClientDataSet; songList shows a
  // singer's songs; programFolder (ending in '/') is where photos are found.
  SingerPages(PhotoSlotControls controls, ControlGroups& groups, SongList& songList,
              data::ClientDataSet& singers, data::ClientDataSet& songs, std::string programFolder);

  // Slot n (1..6) from the current singer row: the photo, then the name. When
  // anything of it fails the slot shows the fallback picture under the name it
  // showed before; a fallback that cannot be loaded either raises.
  void FillSingerSlot(int n);

  // Category button 1 (male), 2 (female) or 3 (groups): the first page.
  void singerBitBtnClick(int category);
  void photonextBitBtn2Click();
  void photoprevBitBtn1Click();
  // Photo touch, slot n = 1..6: the songs of the name under it.
  void photoImageClick(int n);

 private:
  PhotoSlotControls controls_;
  ControlGroups& groups_;
  SongList& songList_;
  data::ClientDataSet& singers_;
  data::ClientDataSet& songs_;
  std::string programFolder_;
};

}  // namespace quor::ui
