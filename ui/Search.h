#pragma once
// Finding songs: select buttons 1 to 4 switch the screen between singers,
// song types, languages and the keypad; the eight type buttons and five
// language buttons query their word; the keypad panel looks a song up by its
// five-digit number or by the initial letters of its title, typed by
// multi-tap. The search method is whichever ControlGroup is shown: the
// keypad is in letter mode while PYselEdit is showing. GUI thread only.

#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <string>

#include "ui/ControlGroups.h"
#include "ui/Picture.h"
#include "ui/SharedState.h"

namespace quor::data {
class ClientDataSet;
}

namespace quor::ui {

class SongList;

// The words the type and language buttons search for (UTF-8 here; sent in
// the Chinese code page). 其他 is both a type and a language word.
inline constexpr const char* kTypeWords[] = {"流行", "怀旧", "民歌", "少儿",
                                             "情歌", "军旅", "戏曲", "其他"};
inline constexpr const char* kLanguageWords[] = {"国语", "粤语", "英语", "闽南", "其他"};

// A number search that found no song leaves its digits for this long.
inline constexpr std::uint32_t kNumberShownMs = 1000;

struct KeypadControls {
  QFrame* panel = nullptr;          // BMnumPanel
  Picture* letterPad = nullptr;     // PYBGImage
  Picture* numberPad = nullptr;     // BMselImage
  Picture* letterDelete = nullptr;  // delpyImage
  QLineEdit* letters = nullptr;     // PYselEdit
  QLineEdit* digits = nullptr;      // BMnumEdit
};

class Search {
 public:
  // window is the main window: the one-second pause ends early when it is
  // closed or destroyed.
  Search(KeypadControls keypad, SharedState& state, ControlGroups& groups, SongList& songList,
         data::ClientDataSet& songs, QWidget* window);

  // Select buttons 1 (singers), 2 (types), 3 (languages), 4 (keypad).
  void selectBitBtnClick(int n);
  // Type button n (1..8) and language button n (1..5).
  void songtypeBitBtnClick(int n);
  void LanguageBitBtnClick(int n);
  // wordUtf8 goes to TYPE or SONGLANGUAGE; the first page of the result.
  void QueryByType(const std::string& wordUtf8);
  void QueryByLanguage(const std::string& wordUtf8);

  // The keypad in number or letter mode.
  void BMselBitBtnClick();
  void PYselBitBtnClick();
  // Key n (1..10): a digit in number mode, a letter in letter mode.
  void numImageClick(int n);
  // Number mode: the last digit goes; letter mode: the letter search.
  void delnumImageClick();
  // The last letter goes (and the "next letter" flag).
  void delpyImageClick();
  // The change handler of both boxes: five characters in BMnumEdit search
  // for that song number.
  void BMnumEditChange();

  void AppendDigit(int digit);
  bool LetterMode() const;

 private:
  void SetLetters(const std::string& letters);
  void LetterSearch();
  void ShowResultPage();

  KeypadControls keypad_;
  SharedState& state_;
  ControlGroups& groups_;
  SongList& songList_;
  data::ClientDataSet& songs_;
  QPointer<QWidget> window_;
};

}  // namespace quor::ui
