#include "ui/SingerPages.h"

#include <QString>
#include <algorithm>

#include "data/CatalogueStatements.h"
#include "data/ClientDataSet.h"
#include "data/DataModule.h"
#include "platform/Codepage.h"
#include "ui/Paging.h"
#include "ui/SongList.h"

namespace quor::ui {
namespace {

QString FileName(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

std::string PhotoFilePath(const std::string& programFolder, std::string_view pathGbk) {
  std::string relative = platform::GbkToUtf8(pathGbk);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return programFolder + relative;
}

SingerPages::SingerPages(PhotoSlotControls controls, ControlGroups& groups, SongList& songList,
                         data::ClientDataSet& singers, data::ClientDataSet& songs,
                         std::string programFolder)
    : controls_(controls),
      groups_(groups),
      songList_(songList),
      singers_(singers),
      songs_(songs),
      programFolder_(std::move(programFolder)) {}

void SingerPages::FillSingerSlot(int n) {
  if (n < 1 || n > kPhotoPageSize) return;
  const auto slot = static_cast<std::size_t>(n);
  try {
    const std::string path = PhotoFilePath(programFolder_, singers_.FieldByName("Path").AsString());
    controls_.photo[slot]->LoadFromFile(FileName(path));
    controls_.name[slot]->SetGbkText(singers_.FieldByName("SINGNAME").AsString());
  } catch (const std::exception&) {
    // A missing or broken photo, an empty Path, a missing column: the slot
    // shows the fallback under the name it showed before.
    controls_.photo[slot]->LoadFromFile(FileName(programFolder_ + kFallbackPhoto));
  }
}

void SingerPages::singerBitBtnClick(int category) {
  static constexpr data::SingerCategory kCategories[] = {
      data::SingerCategory::Male, data::SingerCategory::Female, data::SingerCategory::Group};
  if (category < 1 || category > 3) return;
  groups_.ShowControlGroup("LanguageBitBtn", 0);
  groups_.ShowControlGroup("songtypeBitBtn", 0);
  groups_.ShowControlGroup("singerBitBtn", 1);
  groups_.ShowControlGroup("photocontrol", 1);
  songList_.ClearSongRows();
  songList_.ResetRowColours();
  songList_.SetSongRowsVisible(false);
  data::RunCatalogueQuery(
      singers_, data::SingerStatement(kCategories[static_cast<std::size_t>(category - 1)]));
  // The first page does not look at the end of the result: a short
  // category repeats its last singer in the slots after it.
  for (int n = 1; n <= kPhotoPageSize; ++n) {
    FillSingerSlot(n);
    singers_.Next();
  }
}

void SingerPages::photonextBitBtn2Click() {
  for (int n = 1; n <= kPhotoPageSize; ++n) {
    if (singers_.Eof()) break;
    FillSingerSlot(n);
    singers_.Next();
  }
}

void SingerPages::photoprevBitBtn1Click() {
  singers_.MoveBy(PreviousPageMove(kPhotoPageSize));
  for (int n = 1; n <= kPhotoPageSize; ++n) {
    FillSingerSlot(n);
    singers_.Next();
  }
}

void SingerPages::photoImageClick(int n) {
  if (n < 1 || n > kPhotoPageSize) return;
  const std::string& name = controls_.name[static_cast<std::size_t>(n)]->GbkText();
  // Slot 1 spells the column SINGER, the others Singer: the installed
  // catalogues answer both.
  data::RunCatalogueQuery(songs_, n == 1 ? data::SongsOfSingerSlot1Statement(name)
                                         : data::SongsOfSingerStatement(name));
  songList_.ShowSongResults();
}

}  // namespace quor::ui
