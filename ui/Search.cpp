#include "ui/Search.h"

#include "data/CatalogueStatements.h"
#include "data/ClientDataSet.h"
#include "data/DataModule.h"
#include "platform/Codepage.h"
#include "ui/Keypad.h"
#include "ui/Paging.h"
#include "ui/Showing.h"
#include "ui/SongList.h"
#include "ui/WaitWithMessages.h"

namespace quor::ui {
namespace {

void HideGroups(ControlGroups& groups, std::initializer_list<const char*> names) {
  for (const char* name : names) groups.ShowControlGroup(name, 0);
}

// The boxes hold what the keypad typed: ASCII digits or letters.
std::string TextOf(const QLineEdit* edit) {
  return edit->text().toStdString();
}

}  // namespace

Search::Search(KeypadControls keypad, SharedState& state, ControlGroups& groups, SongList& songList,
               data::ClientDataSet& songs, QWidget* window)
    : keypad_(keypad),
      state_(state),
      groups_(groups),
      songList_(songList),
      songs_(songs),
      window_(window) {}

void Search::selectBitBtnClick(int n) {
  switch (n) {
    case 1:
      HideGroups(groups_, {"selectedcontrol", "LanguageBitBtn", "songtypeBitBtn", "pyselectcontrol",
                           "JSControl"});
      songList_.ClearSongRows();
      songList_.SetSongRowsVisible(false);
      songList_.ResetRowColours();
      state_.QueueView = false;
      // A photo page already shown stays.
      groups_.ShowControlGroup("singerBitBtn", 1);
      break;
    case 2:
      HideGroups(groups_, {"selectedcontrol", "singerBitBtn", "photocontrol", "LanguageBitBtn",
                           "pyselectcontrol", "JSControl"});
      groups_.ShowControlGroup("songtypeBitBtn", 1);
      songList_.ClearSongRows();
      songList_.SetSongRowsVisible(false);
      songList_.ResetRowColours();
      state_.QueueView = false;
      break;
    case 3:
      HideGroups(groups_, {"selectedcontrol", "photocontrol", "singerBitBtn", "songtypeBitBtn",
                           "pyselectcontrol", "JSControl"});
      groups_.ShowControlGroup("LanguageBitBtn", 1);
      songList_.ClearSongRows();
      songList_.SetSongRowsVisible(false);
      songList_.ResetRowColours();
      state_.QueueView = false;
      break;
    case 4:
      HideGroups(groups_, {"selectedcontrol", "photocontrol", "singerBitBtn", "songtypeBitBtn",
                           "LanguageBitBtn", "JSControl"});
      // The rows are emptied but stay shown, and so do their page buttons:
      // paging still walks the earlier result.
      songList_.ClearSongRows();
      songList_.ResetRowColours();
      state_.QueueView = false;
      groups_.ShowControlGroup("pyselectcontrol", 1);
      break;
    default:
      break;
  }
}

void Search::songtypeBitBtnClick(int n) {
  if (n >= 1 && n <= static_cast<int>(std::size(kTypeWords)))
    QueryByType(kTypeWords[static_cast<std::size_t>(n - 1)]);
}

void Search::LanguageBitBtnClick(int n) {
  if (n >= 1 && n <= static_cast<int>(std::size(kLanguageWords)))
    QueryByLanguage(kLanguageWords[static_cast<std::size_t>(n - 1)]);
}

void Search::QueryByType(const std::string& wordUtf8) {
  songList_.ClearSongRows();
  songList_.SetSongRowsVisible(false);
  songList_.ResetRowColours();
  data::RunCatalogueQuery(songs_, data::SongsOfTypeStatement(platform::Utf8ToGbk(wordUtf8)));
  ShowResultPage();
}

void Search::QueryByLanguage(const std::string& wordUtf8) {
  songList_.ClearSongRows();
  songList_.SetSongRowsVisible(false);
  songList_.ResetRowColours();
  data::RunCatalogueQuery(songs_, data::SongsOfLanguageStatement(platform::Utf8ToGbk(wordUtf8)));
  ShowResultPage();
}

// A result without rows leaves the rows hidden; otherwise its first page.
void Search::ShowResultPage() {
  if (songs_.RecordCount() == 0) return;
  songList_.SetSongRowsVisible(true);
  songList_.FillSongPage();
}

void Search::BMselBitBtnClick() {
  songList_.ClearSongRows();
  songList_.ResetRowColours();
  songList_.SetSongRowsVisible(false);
  keypad_.letterPad->hide();
  keypad_.numberPad->show();
  keypad_.letters->setText(QString());
  keypad_.letters->hide();
  keypad_.digits->setText(QString());
  keypad_.digits->show();
  keypad_.panel->show();
  keypad_.letterDelete->hide();
}

void Search::PYselBitBtnClick() {
  songList_.ClearSongRows();
  songList_.ResetRowColours();
  songList_.SetSongRowsVisible(false);
  keypad_.letters->setText(QString());
  keypad_.letters->show();
  keypad_.digits->setText(QString());
  keypad_.digits->hide();
  keypad_.panel->show();
  keypad_.letterDelete->show();
  keypad_.letterPad->show();
  keypad_.numberPad->hide();
}

bool Search::LetterMode() const {
  return IsShowing(keypad_.letters);
}

void Search::AppendDigit(int digit) {
  keypad_.digits->setText(keypad_.digits->text() + QChar(u'0' + digit));
}

void Search::SetLetters(const std::string& letters) {
  keypad_.letters->setText(
      QString::fromLatin1(letters.data(), static_cast<qsizetype>(letters.size())));
}

void Search::numImageClick(int n) {
  if (n < 1 || n > 10) return;
  if (!LetterMode()) {
    AppendDigit(n % 10);  // key 10 is the 0 key
    return;
  }
  if (n == 10) {
    state_.NextLetterPending = true;
    return;
  }
  LetterEntry entry{TextOf(keypad_.letters), state_.NextLetterPending};
  if (n == 9) {
    entry = CycleYZ(entry);
  } else {
    const KeyLetters keys = LettersOfKey(n);
    entry = CycleLetter(entry, keys.first, keys.second, keys.third);
  }
  state_.NextLetterPending = entry.nextLetterPending;
  SetLetters(entry.text);
}

void Search::delpyImageClick() {
  const LetterEntry entry = DeleteLetter({TextOf(keypad_.letters), state_.NextLetterPending});
  state_.NextLetterPending = entry.nextLetterPending;
  SetLetters(entry.text);
}

void Search::delnumImageClick() {
  if (LetterMode()) {
    LetterSearch();
    return;
  }
  QString digits = keypad_.digits->text();
  digits.chop(1);
  keypad_.digits->setText(digits);
}

void Search::LetterSearch() {
  const std::string letters = TextOf(keypad_.letters);
  if (letters.empty()) return;
  // The box only ever holds what the letter keys typed; anything else never
  // reaches the statement.
  if (!KeypadLetters(letters)) return;
  data::RunCatalogueQuery(songs_, data::SongsByLettersStatement(letters));
  if (songs_.RecordCount() > 0) {
    songList_.SetSongRowsVisible(true);
    songList_.ClearSongRows();
    keypad_.panel->hide();
    keypad_.letters->setText(QString());
    songList_.FillSongPage();
  } else {
    // Nothing found: the letters go, the panel stays for new ones.
    keypad_.letters->setText(QString());
  }
}

void Search::BMnumEditChange() {
  const std::string digits = TextOf(keypad_.digits);
  if (digits.size() != 5) return;
  // The box only ever holds what the number keys typed.
  if (!KeypadDigits(digits)) return;
  data::RunCatalogueQuery(songs_, data::SongByNumberStatement(digits));
  if (songs_.RecordCount() > 0) {
    songList_.SetSongRowsVisible(true);
    songList_.ClearSongRows();
    keypad_.panel->hide();
    // A fill that ran into the end of the result (the usual one song) ends
    // the search: the digits stay in the hidden box until it opens again.
    if (songList_.FillSongPage() < kSongPageSize) return;
  }
  // The digits stay on screen for a moment, then go. The window may close
  // meanwhile; then this object may be gone too and nothing more is done.
  if (!WaitWithMessages(kNumberShownMs, window_)) return;
  keypad_.digits->setText(QString());
}

}  // namespace quor::ui
