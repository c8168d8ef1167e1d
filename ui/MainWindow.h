#pragma once
// MainForm: the terminal's one window. It creates and owns every control of
// the fixed layout (by the names of the layout table), holds the shared state
// and the configuration, and is the only QObject the toolkit calls: its
// event handlers run inside the handler guard and forward to the classes
// that hold the behaviour. GUI thread only.

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ui/BitBtn.h"
#include "ui/ControlGroups.h"
#include "ui/HandlerGuard.h"
#include "ui/Label.h"
#include "ui/Notifier.h"
#include "ui/Picture.h"
#include "ui/RemoteKeyDispatch.h"
#include "ui/SharedState.h"
#include "ui/ShellServices.h"

class QFrame;
class QLineEdit;
class QTimer;

namespace quor::data {
class DataModule;
}

namespace quor::player {
class Decoder;
}

namespace quor::ui {

class ScreenSaverFilter;
struct Screens;

// The property that marks the buttons with the focus cue.
inline constexpr char kFocusCueProperty[] = "quorFocusCue";

// The window's caption (invisible: the window has no border).
inline constexpr char kCaption[] = "QuorVOD客户端";

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // Creates every control, then runs FormCreate. shell and notifier must
  // outlive the window.
  MainWindow(ShellServices& shell, Notifier& notifier, QWidget* parent = nullptr);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The controls. Numbered families are arrays indexed by the control's
  // number: songlistLabel[3] is songlistLabel3; element 0 is unused (null).
  Picture* BGImage = nullptr;
  std::array<Label*, 7> photonameLabel{};
  std::array<Label*, 8> songlistLabel{};
  std::array<Picture*, 7> photoImage{};
  Label* infoLabel = nullptr;
  std::array<BitBtn*, 6> LanguageBitBtn{};
  std::array<BitBtn*, 7> selectBitBtn{};
  std::array<BitBtn*, 9> controlBitBtn{};
  std::array<BitBtn*, 4> singerBitBtn{};
  std::array<BitBtn*, 9> songtypeBitBtn{};
  BitBtn* photoprevBitBtn1 = nullptr;
  BitBtn* photonextBitBtn2 = nullptr;
  BitBtn* songlistprevBitBtn1 = nullptr;
  BitBtn* songlistnextBitBtn2 = nullptr;
  BitBtn* selectedsongBitBtn1 = nullptr;
  BitBtn* selectedsongBitBtn2 = nullptr;
  BitBtn* PYselBitBtn = nullptr;
  BitBtn* BMselBitBtn = nullptr;
  QFrame* BMnumPanel = nullptr;
  std::array<BitBtn*, 6> jsBitBtn{};
  Picture* PYBGImage = nullptr;
  Picture* BMselImage = nullptr;
  std::array<Picture*, 11> numImage{};
  Picture* delnumImage = nullptr;
  Picture* delpyImage = nullptr;
  QLineEdit* PYselEdit = nullptr;
  QLineEdit* BMnumEdit = nullptr;
  QTimer* mainTimer = nullptr;

  // The control of the layout table called name; nullptr for other names.
  QWidget* Control(std::string_view name) const;

  SharedState& State() { return state_; }
  const Configuration& Config() const { return config_; }
  Notifier& GetNotifier() { return notifier_; }

  // Shows or hides a named ControlGroup (show 1 or 0; other values do nothing).
  void ShowControlGroup(std::string_view name, std::uint8_t show);
  ControlGroups& Groups() { return *groups_; }

  // Gives window a rounded-rectangle mask (8 x 8 corner ellipse) of the size
  // of selectBitBtn1 when menuSized is 1, else of controlBitBtn1.
  void RoundButtonCorners(QWidget* window, std::uint8_t menuSized);

  // The focus cue, bound to the focus events of the 28 cue buttons.
  void aDoOnEnter(QWidget* sender);
  void aDoOnExit(QWidget* sender);

  // Hands the window what its screens work on: the data module (the server
  // connection and the four datasets), the decoder binding the player sends
  // its requests through (opened and closed by the shell's DecoderOpen and
  // DecoderClose) and the folder the singer photos are found under (the
  // program folder in the program). Builds the screen objects; call once,
  // before the window is shown. dataModule and decoder must outlive the
  // window.
  void Attach(data::DataModule& dataModule, player::Decoder& decoder, std::string programFolder);
  bool Attached() const { return screens_ != nullptr; }

  // The click actions of the controls, by the controls' names. Each forwards
  // to the screen object that holds the behaviour; the remote keys run the
  // same actions. Raise std::logic_error before Attach.
  void selectBitBtn1Click();
  void selectBitBtn2Click();
  void selectBitBtn3Click();
  void selectBitBtn4Click();
  void selectBitBtn5Click();
  void songtypeBitBtn1Click();
  void songtypeBitBtn2Click();
  void songtypeBitBtn3Click();
  void songtypeBitBtn4Click();
  void songtypeBitBtn5Click();
  void songtypeBitBtn6Click();
  void songtypeBitBtn7Click();
  void songtypeBitBtn8Click();
  void LanguageBitBtn1Click();
  void LanguageBitBtn2Click();
  void LanguageBitBtn3Click();
  void LanguageBitBtn4Click();
  void LanguageBitBtn5Click();
  void BMselBitBtnClick();
  void PYselBitBtnClick();
  void numImage1Click();
  void numImage2Click();
  void numImage3Click();
  void numImage4Click();
  void numImage5Click();
  void numImage6Click();
  void numImage7Click();
  void numImage8Click();
  void numImage9Click();
  void numImage10Click();
  void delnumImageClick();
  void delpyImageClick();
  // The change handler of both keypad boxes.
  void BMnumEditChange();
  void singerBitBtn1Click();
  void singerBitBtn2Click();
  void singerBitBtn3Click();
  void photoprevBitBtn1Click();
  void photonextBitBtn2Click();
  void photoImage1Click();
  void photoImage2Click();
  void photoImage3Click();
  void photoImage4Click();
  void photoImage5Click();
  void photoImage6Click();
  void songlistprevBitBtn1Click();
  void songlistnextBitBtn2Click();
  void songlistLabel1Click();
  void songlistLabel2Click();
  void songlistLabel3Click();
  void songlistLabel4Click();
  void songlistLabel5Click();
  void songlistLabel6Click();
  void songlistLabel7Click();
  void selectBitBtn6Click();
  void selectedsongBitBtn1Click();
  void selectedsongBitBtn2Click();
  // Draws the queue view again after the queue changed (the player's buttons).
  void RedrawQueuePage();
  // The player row, left to right on screen: play (1), pause (2), next song
  // (3), wind forwards (7), wind backwards (8), channel (4), volume up (5),
  // volume down (6).
  void controlBitBtn1Click();
  void controlBitBtn2Click();
  void controlBitBtn3Click();
  void controlBitBtn4Click();
  void controlBitBtn5Click();
  void controlBitBtn6Click();
  void controlBitBtn7Click();
  void controlBitBtn8Click();
  // The 500 ms tick of mainTimer: the status line scrolls, the player
  // watches the decoder. Does nothing before Attach.
  void mainTimerTimer();

  // A remote-control key arrived (its RemoteKeyId): the attached dispatch
  // table runs its action, inside the handler guard.
  void WMHotKey(int remoteKeyId);
  // The remote-control key table; dispatch must outlive the window.
  void SetRemoteKeyDispatch(RemoteKeyDispatch& dispatch) { remoteKeys_ = &dispatch; }

  // Focus moves of the remote: to the next (or previous) control in tab
  // order that can take the focus (shown, with a tab stop), and to one
  // control. The focus cue follows at once, also while another window holds
  // the keyboard focus (the remote's keys still arrive).
  void MoveFocus(bool next);
  void FocusControl(QWidget* control);
  // A press and release of the Enter key on the control that has the
  // window's focus: a focused button runs its click action.
  void PressEnter();

  // Shows the window as the kiosk screen: full screen, on top, focused.
  void ShowFullScreen();

  // True from a show of the window until its show steps (the share, the
  // server, the datasets) have run. They wait until the window is on screen,
  // so that the guests never look at a dark screen while the server is asked
  // (at most one second when the window system never says so).
  bool ShowStepsPending() const { return showStepsPending_; }

  // Runs a handler inside the guard (the application's default error report).
  template <class Handler>
  void Guarded(Handler&& handler) {
    RunGuarded(notifier_, std::forward<Handler>(handler));
  }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void BindControls();
  void ConnectHandlers();  // the click table (MainWindowHandlers.cpp)
  Screens& Screen();       // the attached screens, or std::logic_error
  void BuildGroups();
  void SetTabOrder();

  void FormCreate();
  void FormShow();
  // Runs FormShow once the window is painted, if a show still waits for it.
  void RunShowSteps();
  bool FormCloseQuery();
  // mainTimer's slot: runs the tick and reports its failure once the slot
  // has returned, so that the timer goes on under the message box.
  void TimerTick();

  ShellServices& shell_;
  Notifier& notifier_;
  SharedState state_;
  Configuration config_;
  std::unique_ptr<ControlGroups> groups_;
  data::DataModule* dataModule_ = nullptr;  // attached; not owned
  std::unique_ptr<Screens> screens_;
  RemoteKeyDispatch* remoteKeys_ = nullptr;         // not owned
  ScreenSaverFilter* screenSaverFilter_ = nullptr;  // owned as a QObject child
  bool showStepsPending_ = false;
  std::vector<std::pair<std::string_view, QWidget*>> controls_;  // layout order
};

// The one main window of the process, or nullptr outside its lifetime.
MainWindow* MainForm();

}  // namespace quor::ui
