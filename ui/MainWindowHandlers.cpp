// The window's click actions: the table that wires each control's click to
// its handler, and the handlers, each forwarding in one line to the screen
// part that holds the behaviour. Every click runs inside the handler guard.

#include <QAbstractButton>
#include <QLineEdit>
#include <stdexcept>
#include <string>

#include "data/DataModule.h"
#include "ui/MainWindow.h"
#include "ui/Screens.h"

namespace quor::ui {
namespace {

struct ClickRow {
  const char* control;
  void (MainWindow::*handler)();
};

constexpr ClickRow kClickTable[] = {
    {"selectBitBtn1", &MainWindow::selectBitBtn1Click},
    {"selectBitBtn2", &MainWindow::selectBitBtn2Click},
    {"selectBitBtn3", &MainWindow::selectBitBtn3Click},
    {"selectBitBtn4", &MainWindow::selectBitBtn4Click},
    {"songtypeBitBtn1", &MainWindow::songtypeBitBtn1Click},
    {"songtypeBitBtn2", &MainWindow::songtypeBitBtn2Click},
    {"songtypeBitBtn3", &MainWindow::songtypeBitBtn3Click},
    {"songtypeBitBtn4", &MainWindow::songtypeBitBtn4Click},
    {"songtypeBitBtn5", &MainWindow::songtypeBitBtn5Click},
    {"songtypeBitBtn6", &MainWindow::songtypeBitBtn6Click},
    {"songtypeBitBtn7", &MainWindow::songtypeBitBtn7Click},
    {"songtypeBitBtn8", &MainWindow::songtypeBitBtn8Click},
    {"LanguageBitBtn1", &MainWindow::LanguageBitBtn1Click},
    {"LanguageBitBtn2", &MainWindow::LanguageBitBtn2Click},
    {"LanguageBitBtn3", &MainWindow::LanguageBitBtn3Click},
    {"LanguageBitBtn4", &MainWindow::LanguageBitBtn4Click},
    {"LanguageBitBtn5", &MainWindow::LanguageBitBtn5Click},
    {"BMselBitBtn", &MainWindow::BMselBitBtnClick},
    {"PYselBitBtn", &MainWindow::PYselBitBtnClick},
    {"numImage1", &MainWindow::numImage1Click},
    {"numImage2", &MainWindow::numImage2Click},
    {"numImage3", &MainWindow::numImage3Click},
    {"numImage4", &MainWindow::numImage4Click},
    {"numImage5", &MainWindow::numImage5Click},
    {"numImage6", &MainWindow::numImage6Click},
    {"numImage7", &MainWindow::numImage7Click},
    {"numImage8", &MainWindow::numImage8Click},
    {"numImage9", &MainWindow::numImage9Click},
    {"numImage10", &MainWindow::numImage10Click},
    {"delnumImage", &MainWindow::delnumImageClick},
    {"delpyImage", &MainWindow::delpyImageClick},
    {"selectBitBtn5", &MainWindow::selectBitBtn5Click},
    {"singerBitBtn1", &MainWindow::singerBitBtn1Click},
    {"singerBitBtn2", &MainWindow::singerBitBtn2Click},
    {"singerBitBtn3", &MainWindow::singerBitBtn3Click},
    {"photoprevBitBtn1", &MainWindow::photoprevBitBtn1Click},
    {"photonextBitBtn2", &MainWindow::photonextBitBtn2Click},
    {"photoImage1", &MainWindow::photoImage1Click},
    {"photoImage2", &MainWindow::photoImage2Click},
    {"photoImage3", &MainWindow::photoImage3Click},
    {"photoImage4", &MainWindow::photoImage4Click},
    {"photoImage5", &MainWindow::photoImage5Click},
    {"photoImage6", &MainWindow::photoImage6Click},
    {"songlistprevBitBtn1", &MainWindow::songlistprevBitBtn1Click},
    {"songlistnextBitBtn2", &MainWindow::songlistnextBitBtn2Click},
    {"songlistLabel1", &MainWindow::songlistLabel1Click},
    {"songlistLabel2", &MainWindow::songlistLabel2Click},
    {"songlistLabel3", &MainWindow::songlistLabel3Click},
    {"songlistLabel4", &MainWindow::songlistLabel4Click},
    {"songlistLabel5", &MainWindow::songlistLabel5Click},
    {"songlistLabel6", &MainWindow::songlistLabel6Click},
    {"songlistLabel7", &MainWindow::songlistLabel7Click},
    {"selectBitBtn6", &MainWindow::selectBitBtn6Click},
    {"selectedsongBitBtn1", &MainWindow::selectedsongBitBtn1Click},
    {"selectedsongBitBtn2", &MainWindow::selectedsongBitBtn2Click},
    {"controlBitBtn1", &MainWindow::controlBitBtn1Click},
    {"controlBitBtn2", &MainWindow::controlBitBtn2Click},
    {"controlBitBtn3", &MainWindow::controlBitBtn3Click},
    {"controlBitBtn4", &MainWindow::controlBitBtn4Click},
    {"controlBitBtn5", &MainWindow::controlBitBtn5Click},
    {"controlBitBtn6", &MainWindow::controlBitBtn6Click},
    {"controlBitBtn7", &MainWindow::controlBitBtn7Click},
    {"controlBitBtn8", &MainWindow::controlBitBtn8Click},
};

// The change handlers of the keypad's two boxes: they run when the text
// really changes (setting a box to the text it holds runs nothing).
constexpr ClickRow kChangeTable[] = {
    {"BMnumEdit", &MainWindow::BMnumEditChange},
    {"PYselEdit", &MainWindow::BMnumEditChange},
};

}  // namespace

void MainWindow::ConnectHandlers() {
  for (const ClickRow& row : kClickTable) {
    QWidget* control = Control(row.control);
    auto run = [this, handler = row.handler] { Guarded([this, handler] { (this->*handler)(); }); };
    if (auto* button = qobject_cast<QAbstractButton*>(control))
      connect(button, &QAbstractButton::clicked, this, run);
    else if (auto* label = qobject_cast<Label*>(control))
      connect(label, &Label::clicked, this, run);
    else if (auto* picture = qobject_cast<Picture*>(control))
      connect(picture, &Picture::clicked, this, run);
    else
      throw std::logic_error(std::string("the click table names ") + row.control +
                             ", which is no clickable control of the layout");
  }
  for (const ClickRow& row : kChangeTable) {
    auto* edit = qobject_cast<QLineEdit*>(Control(row.control));
    if (edit == nullptr)
      throw std::logic_error(std::string("the change table names ") + row.control +
                             ", which is no edit box of the layout");
    connect(edit, &QLineEdit::textChanged, this,
            [this, handler = row.handler] { Guarded([this, handler] { (this->*handler)(); }); });
  }
}

Screens& MainWindow::Screen() {
  if (screens_ == nullptr) throw std::logic_error("The window has no data module attached");
  return *screens_;
}

// The room request: one row with the room's name to the server's request
// provider.
void MainWindow::selectBitBtn5Click() {
  data::SendRoomRequest(Screen().roomRequests, config_.roomName);
}

void MainWindow::selectBitBtn1Click() {
  Screen().search.selectBitBtnClick(1);
}
void MainWindow::selectBitBtn2Click() {
  Screen().search.selectBitBtnClick(2);
}
void MainWindow::selectBitBtn3Click() {
  Screen().search.selectBitBtnClick(3);
}
void MainWindow::selectBitBtn4Click() {
  Screen().search.selectBitBtnClick(4);
}
void MainWindow::songtypeBitBtn1Click() {
  Screen().search.songtypeBitBtnClick(1);
}
void MainWindow::songtypeBitBtn2Click() {
  Screen().search.songtypeBitBtnClick(2);
}
void MainWindow::songtypeBitBtn3Click() {
  Screen().search.songtypeBitBtnClick(3);
}
void MainWindow::songtypeBitBtn4Click() {
  Screen().search.songtypeBitBtnClick(4);
}
void MainWindow::songtypeBitBtn5Click() {
  Screen().search.songtypeBitBtnClick(5);
}
void MainWindow::songtypeBitBtn6Click() {
  Screen().search.songtypeBitBtnClick(6);
}
void MainWindow::songtypeBitBtn7Click() {
  Screen().search.songtypeBitBtnClick(7);
}
void MainWindow::songtypeBitBtn8Click() {
  Screen().search.songtypeBitBtnClick(8);
}
void MainWindow::LanguageBitBtn1Click() {
  Screen().search.LanguageBitBtnClick(1);
}
void MainWindow::LanguageBitBtn2Click() {
  Screen().search.LanguageBitBtnClick(2);
}
void MainWindow::LanguageBitBtn3Click() {
  Screen().search.LanguageBitBtnClick(3);
}
void MainWindow::LanguageBitBtn4Click() {
  Screen().search.LanguageBitBtnClick(4);
}
void MainWindow::LanguageBitBtn5Click() {
  Screen().search.LanguageBitBtnClick(5);
}
void MainWindow::BMselBitBtnClick() {
  Screen().search.BMselBitBtnClick();
}
void MainWindow::PYselBitBtnClick() {
  Screen().search.PYselBitBtnClick();
}
void MainWindow::numImage1Click() {
  Screen().search.numImageClick(1);
}
void MainWindow::numImage2Click() {
  Screen().search.numImageClick(2);
}
void MainWindow::numImage3Click() {
  Screen().search.numImageClick(3);
}
void MainWindow::numImage4Click() {
  Screen().search.numImageClick(4);
}
void MainWindow::numImage5Click() {
  Screen().search.numImageClick(5);
}
void MainWindow::numImage6Click() {
  Screen().search.numImageClick(6);
}
void MainWindow::numImage7Click() {
  Screen().search.numImageClick(7);
}
void MainWindow::numImage8Click() {
  Screen().search.numImageClick(8);
}
void MainWindow::numImage9Click() {
  Screen().search.numImageClick(9);
}
void MainWindow::numImage10Click() {
  Screen().search.numImageClick(10);
}
void MainWindow::delnumImageClick() {
  Screen().search.delnumImageClick();
}
void MainWindow::delpyImageClick() {
  Screen().search.delpyImageClick();
}
void MainWindow::BMnumEditChange() {
  Screen().search.BMnumEditChange();
}
void MainWindow::singerBitBtn1Click() {
  Screen().singerPages.singerBitBtnClick(1);
}
void MainWindow::singerBitBtn2Click() {
  Screen().singerPages.singerBitBtnClick(2);
}
void MainWindow::singerBitBtn3Click() {
  Screen().singerPages.singerBitBtnClick(3);
}
void MainWindow::photoprevBitBtn1Click() {
  Screen().singerPages.photoprevBitBtn1Click();
}
void MainWindow::photonextBitBtn2Click() {
  Screen().singerPages.photonextBitBtn2Click();
}
void MainWindow::photoImage1Click() {
  Screen().singerPages.photoImageClick(1);
}
void MainWindow::photoImage2Click() {
  Screen().singerPages.photoImageClick(2);
}
void MainWindow::photoImage3Click() {
  Screen().singerPages.photoImageClick(3);
}
void MainWindow::photoImage4Click() {
  Screen().singerPages.photoImageClick(4);
}
void MainWindow::photoImage5Click() {
  Screen().singerPages.photoImageClick(5);
}
void MainWindow::photoImage6Click() {
  Screen().singerPages.photoImageClick(6);
}
void MainWindow::songlistprevBitBtn1Click() {
  Screen().songList.songlistprevBitBtn1Click();
}
void MainWindow::songlistnextBitBtn2Click() {
  Screen().songList.songlistnextBitBtn2Click();
}
void MainWindow::songlistLabel1Click() {
  Screen().songList.songlistLabelClick(1);
}
void MainWindow::songlistLabel2Click() {
  Screen().songList.songlistLabelClick(2);
}
void MainWindow::songlistLabel3Click() {
  Screen().songList.songlistLabelClick(3);
}
void MainWindow::songlistLabel4Click() {
  Screen().songList.songlistLabelClick(4);
}
void MainWindow::songlistLabel5Click() {
  Screen().songList.songlistLabelClick(5);
}
void MainWindow::songlistLabel6Click() {
  Screen().songList.songlistLabelClick(6);
}
void MainWindow::songlistLabel7Click() {
  Screen().songList.songlistLabelClick(7);
}

void MainWindow::selectBitBtn6Click() {
  Screen().selectedSongs.selectBitBtn6Click();
}
void MainWindow::selectedsongBitBtn1Click() {
  Screen().selectedSongs.selectedsongBitBtn1Click();
}
void MainWindow::selectedsongBitBtn2Click() {
  Screen().selectedSongs.selectedsongBitBtn2Click();
}

void MainWindow::RedrawQueuePage() {
  Screen().selectedSongs.RedrawQueuePage();
}

void MainWindow::controlBitBtn1Click() {
  Screen().player.controlBitBtn1Click();
}
void MainWindow::controlBitBtn2Click() {
  Screen().player.controlBitBtn2Click();
}
void MainWindow::controlBitBtn3Click() {
  Screen().player.controlBitBtn3Click();
}
void MainWindow::controlBitBtn4Click() {
  Screen().player.controlBitBtn4Click();
}
void MainWindow::controlBitBtn5Click() {
  Screen().player.controlBitBtn5Click();
}
void MainWindow::controlBitBtn6Click() {
  Screen().player.controlBitBtn6Click();
}
void MainWindow::controlBitBtn7Click() {
  Screen().player.controlBitBtn7Click();
}
void MainWindow::controlBitBtn8Click() {
  Screen().player.controlBitBtn8Click();
}

}  // namespace quor::ui
