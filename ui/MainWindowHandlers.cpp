// The window's click actions: the table that wires each control's click to
// its handler, and the handlers, each forwarding in one line to the screen
// part that holds the behaviour. Every click runs inside the handler guard.

#include <QAbstractButton>
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
}

Screens& MainWindow::Screen() {
  if (screens_ == nullptr) throw std::logic_error("The window has no data module attached");
  return *screens_;
}

// The room request: one row with the room's name to the server's request
// provider.
void MainWindow::selectBitBtn5Click() {
  Screen();  // the data module is attached
  data::SendRoomRequest(*dataModule_->tempClientDataSet, config_.roomName);
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

}  // namespace quor::ui
