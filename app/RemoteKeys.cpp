#include "app/RemoteKeys.h"

#include <QLineEdit>
#include <array>

#include "ui/Showing.h"

namespace quor::app {
namespace {

using Action = void (ui::MainWindow::*)();
using ui::IsShowing;
using ui::MainWindow;

// "Shown" for the first photo and the first song row: their own flag, not
// their parents'.
bool Shown(const QWidget* w) {
  return !w->isHidden();
}

constexpr std::array<Action, 8> kPlayerKeys = {
    // Play, Pause, NextSong, Fast, FastBack, Channel, Volup, Voldown.
    &MainWindow::controlBitBtn1Click, &MainWindow::controlBitBtn2Click,
    &MainWindow::controlBitBtn3Click, &MainWindow::controlBitBtn7Click,
    &MainWindow::controlBitBtn8Click, &MainWindow::controlBitBtn4Click,
    &MainWindow::controlBitBtn5Click, &MainWindow::controlBitBtn6Click};

constexpr std::array<Action, 7> kPhotos = {&MainWindow::photoImage1Click,
                                           &MainWindow::photoImage2Click,
                                           &MainWindow::photoImage3Click,
                                           &MainWindow::photoImage4Click,
                                           &MainWindow::photoImage5Click,
                                           &MainWindow::photoImage6Click,
                                           nullptr};
constexpr std::array<Action, 7> kRows = {
    &MainWindow::songlistLabel1Click, &MainWindow::songlistLabel2Click,
    &MainWindow::songlistLabel3Click, &MainWindow::songlistLabel4Click,
    &MainWindow::songlistLabel5Click, &MainWindow::songlistLabel6Click,
    &MainWindow::songlistLabel7Click};
constexpr std::array<Action, 10> kKeypad = {
    &MainWindow::numImage1Click, &MainWindow::numImage2Click, &MainWindow::numImage3Click,
    &MainWindow::numImage4Click, &MainWindow::numImage5Click, &MainWindow::numImage6Click,
    &MainWindow::numImage7Click, &MainWindow::numImage8Click, &MainWindow::numImage9Click,
    &MainWindow::numImage10Click};

}  // namespace

void RemoteKeys::Dispatch(int id) {
  MainWindow& w = window_;
  if (id >= 1000 && id <= 1007) {
    (w.*kPlayerKeys[static_cast<std::size_t>(id - 1000)])();
    return;
  }
  switch (id) {
    case 1010:  // Num0
      if (IsShowing(w.BMnumPanel)) w.numImage10Click();
      break;
    case 1011:  // Num1 .. Num9
    case 1012:
    case 1013:
    case 1014:
    case 1015:
    case 1016:
    case 1017:
    case 1018:
    case 1019:
      NumberKey(id - 1010);
      break;
    case 1020:  // Selected
      w.selectBitBtn6Click();
      break;
    case 1021:  // Priority
      if (IsShowing(w.selectedsongBitBtn1)) w.selectedsongBitBtn1Click();
      break;
    case 1022:
      DeleteKey();
      break;
    case 1023:
      PageUp();
      break;
    case 1024:
      PageDown();
      break;
    case 1025:
      Affirm();
      break;
    case 1026:
      ReturnKey();
      break;
    case 1027:  // up: the previous control in tab order
      w.MoveFocus(false);
      break;
    case 1028:  // down: the next one
      w.MoveFocus(true);
      break;
    case 1029:  // Left: the top of the main menu
      w.FocusControl(w.selectBitBtn[1]);
      break;
    case 1030:
      RightKey();
      break;
    case 1031:  // Vinoserve: the room request
      w.selectBitBtn5Click();
      break;
    default:
      break;
  }
}

// Num1 to Num6 take the n-th singer of a photo page (whether or not that
// photo is shown) or the n-th song row, else keypad key n; Num7 has no
// photo; Num8 and Num9 are keypad keys only.
void RemoteKeys::NumberKey(int n) {
  MainWindow& w = window_;
  const auto i = static_cast<std::size_t>(n - 1);
  if (n <= 6 && Shown(w.photoImage[1])) {
    (w.*kPhotos[i])();
  } else if (n <= 7 && Shown(w.songlistLabel[1])) {
    (w.*kRows[i])();
  } else if (IsShowing(w.BMnumPanel)) {
    (w.*kKeypad[i])();
  }
}

// The queue's delete first; else the keypad's delete of the mode shown.
void RemoteKeys::DeleteKey() {
  MainWindow& w = window_;
  if (IsShowing(w.selectedsongBitBtn2))
    w.selectedsongBitBtn2Click();
  else if (IsShowing(w.PYselEdit))
    w.delpyImageClick();
  else if (IsShowing(w.BMnumEdit))
    w.delnumImageClick();
}

void RemoteKeys::PageUp() {
  MainWindow& w = window_;
  if (IsShowing(w.photoprevBitBtn1))
    w.photoprevBitBtn1Click();
  else if (IsShowing(w.songlistprevBitBtn1))
    w.songlistprevBitBtn1Click();
}

void RemoteKeys::PageDown() {
  MainWindow& w = window_;
  if (IsShowing(w.songlistnextBitBtn2))
    w.songlistnextBitBtn2Click();
  else if (IsShowing(w.photonextBitBtn2))
    w.photonextBitBtn2Click();
}

// Letters typed: the letter search (the keypad's search key); otherwise
// Enter on the focused button.
void RemoteKeys::Affirm() {
  MainWindow& w = window_;
  if (IsShowing(w.PYselEdit) && !w.PYselEdit->text().isEmpty())
    w.delnumImageClick();
  else
    w.PressEnter();
}

// Back to the start of the search method shown; on the type screen the
// second type's own songs.
void RemoteKeys::ReturnKey() {
  MainWindow& w = window_;
  if (IsShowing(w.singerBitBtn[1]))
    w.selectBitBtn1Click();
  else if (IsShowing(w.songtypeBitBtn[1]))
    w.songtypeBitBtn2Click();
  else if (IsShowing(w.LanguageBitBtn[1]))
    w.selectBitBtn3Click();
  else if (IsShowing(w.PYselBitBtn))
    w.selectBitBtn4Click();
  else if (IsShowing(w.selectedsongBitBtn1))
    w.selectBitBtn6Click();
}

// The focus to the first button of the middle column that is showing.
void RemoteKeys::RightKey() {
  MainWindow& w = window_;
  for (QWidget* target :
       {static_cast<QWidget*>(w.songtypeBitBtn[1]), static_cast<QWidget*>(w.singerBitBtn[1]),
        static_cast<QWidget*>(w.selectedsongBitBtn1), static_cast<QWidget*>(w.PYselBitBtn),
        static_cast<QWidget*>(w.LanguageBitBtn[1]), static_cast<QWidget*>(w.jsBitBtn[1])}) {
    if (IsShowing(target)) {
      w.FocusControl(target);
      return;
    }
  }
}

}  // namespace quor::app
