#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "data/DataModule.h"
#include "ui/Layout.h"
#include "ui/QtChild.h"
#include "ui/RoundedRegion.h"
#include "ui/ScreenSaverFilter.h"
#include "ui/Screens.h"

// The pictures are compiled into this library; a static library needs its
// resources registered by hand.
static void InitAssets() {
  Q_INIT_RESOURCE(assets);
}

namespace quor::ui {
namespace {

MainWindow* gMainForm = nullptr;

constexpr int kTimerInterval = 500;
// How long the show steps wait for the window system to put the window on
// screen before they run anyway.
constexpr int kShowStepsFallbackMs = 1000;

// Shows each report from the event queue of context, after the handler that
// made it has returned. The target notifier outlives the window; a report
// still queued when the window goes is dropped with it.
class QueuedNotifier final : public Notifier {
 public:
  QueuedNotifier(QObject& context, Notifier& target) : context_(context), target_(target) {}
  void ShowMessage(const QString& text) override {
    QMetaObject::invokeMethod(
        &context_,
        [&target = target_, text] {
          try {
            target.ShowMessage(text);
          } catch (...) {
            // No memory for the box: nothing sensible is left to show.
          }
        },
        Qt::QueuedConnection);
  }

 private:
  QObject& context_;
  Notifier& target_;
};

QImage AssetOrNull(const QString& file) {
  try {
    return LoadPicture(QStringLiteral(":/assets/") + file);
  } catch (const std::exception& e) {
    // The pictures are built into the program; a missing one is a broken
    // build, not something the room can fix. The control stays blank.
    std::fprintf(stderr, "quorvod: %s\n", e.what());
    return {};
  }
}

void SetTextColours(QWidget* w, const QColor& text, const QColor& base) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Base, base);
  w->setPalette(p);
}

// The control called name as the kind its member expects. A layout table
// that gives the control another kind is a broken build: the window refuses
// to start instead of using the control as what it is not.
template <class T>
T* Bind(const MainWindow& window, const std::string& name) {
  QWidget* control = window.Control(name);
  if (control == nullptr) throw std::logic_error("the layout has no control " + name);
  auto* bound = qobject_cast<T*>(control);
  if (bound == nullptr)
    throw std::logic_error("the layout's control " + name + " is a " +
                           control->metaObject()->className() + ", not a " +
                           T::staticMetaObject.className());
  return bound;
}

// A numbered family: family[n] is the control prefix + n, for n = 1 .. N-1.
template <class T, std::size_t N>
void BindFamily(const MainWindow& window, std::array<T*, N>& family, const char* prefix) {
  for (std::size_t n = 1; n < N; ++n) family[n] = Bind<T>(window, prefix + std::to_string(n));
}

}  // namespace

MainWindow* MainForm() {
  return gMainForm;
}

MainWindow::MainWindow(ShellServices& shell, Notifier& notifier, QWidget* parent)
    : QWidget(parent), shell_(shell), notifier_(notifier) {
  InitAssets();
  gMainForm = this;
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  // The system button-face colour, hidden by the background picture.
  QPalette p = palette();
  p.setColor(QPalette::Window, p.color(QPalette::Button));
  setPalette(p);
  setAutoFillBackground(true);
  setFont(DefaultFont());
  resize(kClientWidth, kClientHeight);
  CreateControls();
  BindControls();
  ConnectHandlers();
  BuildGroups();
  SetTabOrder();
  // The service person's way out of the borderless kiosk window.
  auto* quit = MakeChild<QShortcut>(this, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_End));
  quit->setContext(Qt::ApplicationShortcut);
  connect(quit, &QShortcut::activated, this, &QWidget::close);
  Guarded([this] { FormCreate(); });
}

MainWindow::~MainWindow() {
  if (screenSaverFilter_ != nullptr) qApp->removeEventFilter(screenSaverFilter_);
  if (gMainForm == this) gMainForm = nullptr;
}

void MainWindow::CreateControls() {
  // Pictures and labels are drawn in creation order; buttons, the panel and
  // the edit boxes stay above every picture and label of their parent.
  std::vector<QWidget*> windowed;
  for (const ControlDef& def : ControlTable()) {
    QWidget* parent = def.parent == nullptr ? this : Control(def.parent);
    QWidget* w = nullptr;
    switch (def.kind) {
      case ControlKind::kPicture: {
        auto* pic = MakeChild<Picture>(parent);
        pic->SetStretch(def.stretch);
        if (def.picture != nullptr) pic->SetImage(AssetOrNull(QString::fromLatin1(def.picture)));
        w = pic;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = MakeChild<Label>(parent);
        label->setFont(SongFont(def.fontPixels, true));
        label->SetFontColour(kColourWhite);
        label->setAlignment(def.centred ? (Qt::AlignHCenter | Qt::AlignTop)
                                        : (Qt::AlignLeft | Qt::AlignTop));
        label->setWordWrap(false);
        w = label;
        break;
      }
      case ControlKind::kButton: {
        auto* button = MakeChild<BitBtn>(parent);
        button->SetGlyph(AssetOrNull(QString::fromLatin1(def.name) + QStringLiteral(".bmp")));
        w = button;
        break;
      }
      case ControlKind::kPanel: {
        auto* panel = MakeChild<QFrame>(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(1);
        panel->setAutoFillBackground(true);
        w = panel;
        break;
      }
      case ControlKind::kEdit: {
        auto* edit = MakeChild<QLineEdit>(parent);
        edit->setReadOnly(true);
        edit->setFrame(false);
        // The box's most characters bind what a person could type, not the
        // program's own text: a letter the keypad adds is never cut off.
        edit->setValidator(MakeChild<QRegularExpressionValidator>(
            edit, QRegularExpression(QStringLiteral(".{0,%1}").arg(def.maxLength))));
        edit->setFont(SongFont(def.fontPixels, true));
        SetTextColours(edit, Qt::white, Qt::black);
        edit->setAutoFillBackground(true);
        w = edit;
        break;
      }
    }
    w->setObjectName(QString::fromLatin1(def.name));
    if (def.width == 0)
      w->setGeometry(parent->rect());
    else
      w->setGeometry(def.left, def.top, def.width, def.height);
    if (def.handCursor) w->setCursor(Qt::PointingHandCursor);
    if (def.tabOrder >= 0)
      w->setFocusPolicy(def.kind == ControlKind::kPanel ? Qt::NoFocus
                        : def.tabStop                   ? Qt::StrongFocus
                                                        : Qt::ClickFocus);
    else
      w->setFocusPolicy(Qt::NoFocus);
    if (def.kind == ControlKind::kButton || def.kind == ControlKind::kPanel ||
        def.kind == ControlKind::kEdit)
      windowed.push_back(w);
    w->setVisible(def.shown);
    controls_.emplace_back(def.name, w);
  }
  for (QWidget* w : windowed) w->raise();

  mainTimer = MakeChild<QTimer>(this);
  mainTimer->setObjectName(QStringLiteral("mainTimer"));
  mainTimer->setInterval(kTimerInterval);
  connect(mainTimer, &QTimer::timeout, this, &MainWindow::TimerTick);
  mainTimer->start();
}

void MainWindow::BindControls() {
  BGImage = Bind<Picture>(*this, "BGImage");
  BindFamily(*this, photonameLabel, "photonameLabel");
  BindFamily(*this, songlistLabel, "songlistLabel");
  BindFamily(*this, photoImage, "photoImage");
  infoLabel = Bind<Label>(*this, "infoLabel");
  BindFamily(*this, LanguageBitBtn, "LanguageBitBtn");
  BindFamily(*this, selectBitBtn, "selectBitBtn");
  BindFamily(*this, controlBitBtn, "controlBitBtn");
  BindFamily(*this, singerBitBtn, "singerBitBtn");
  BindFamily(*this, songtypeBitBtn, "songtypeBitBtn");
  photoprevBitBtn1 = Bind<BitBtn>(*this, "photoprevBitBtn1");
  photonextBitBtn2 = Bind<BitBtn>(*this, "photonextBitBtn2");
  songlistprevBitBtn1 = Bind<BitBtn>(*this, "songlistprevBitBtn1");
  songlistnextBitBtn2 = Bind<BitBtn>(*this, "songlistnextBitBtn2");
  selectedsongBitBtn1 = Bind<BitBtn>(*this, "selectedsongBitBtn1");
  selectedsongBitBtn2 = Bind<BitBtn>(*this, "selectedsongBitBtn2");
  PYselBitBtn = Bind<BitBtn>(*this, "PYselBitBtn");
  BMselBitBtn = Bind<BitBtn>(*this, "BMselBitBtn");
  BMnumPanel = Bind<QFrame>(*this, "BMnumPanel");
  BindFamily(*this, jsBitBtn, "jsBitBtn");
  PYBGImage = Bind<Picture>(*this, "PYBGImage");
  BMselImage = Bind<Picture>(*this, "BMselImage");
  BindFamily(*this, numImage, "numImage");
  delnumImage = Bind<Picture>(*this, "delnumImage");
  delpyImage = Bind<Picture>(*this, "delpyImage");
  PYselEdit = Bind<QLineEdit>(*this, "PYselEdit");
  BMnumEdit = Bind<QLineEdit>(*this, "BMnumEdit");
  // Song titles and singer names can be longer than their boxes: they end
  // in an ellipsis rather than being cut at the box's edge.
  for (std::size_t n = 1; n < songlistLabel.size(); ++n) songlistLabel[n]->SetElide(true);
  for (std::size_t n = 1; n < photonameLabel.size(); ++n) photonameLabel[n]->SetElide(true);
  // The focus cue: the focus events of the marked buttons reach the two
  // shared handlers.
  for (const ControlDef& def : ControlTable())
    if (def.focusCue) {
      Control(def.name)->installEventFilter(this);
      Control(def.name)->setProperty(kFocusCueProperty, true);
    }
}

void MainWindow::BuildGroups() {
  auto range = [](auto& family, std::size_t first, std::size_t last) {
    std::vector<QWidget*> out;
    for (std::size_t i = first; i <= last; ++i) out.push_back(family[i]);
    return out;
  };
  std::vector<QWidget*> photo = range(photoImage, 1, 6);
  for (std::size_t i = 1; i <= 6; ++i) photo.push_back(photonameLabel[i]);
  photo.push_back(photoprevBitBtn1);
  photo.push_back(photonextBitBtn2);
  groups_ = std::make_unique<ControlGroups>(
      std::vector<ControlGroups::Group>{
          {"singerBitBtn", range(singerBitBtn, 1, 3)},
          {"LanguageBitBtn", range(LanguageBitBtn, 1, 5)},
          {"songtypeBitBtn", range(songtypeBitBtn, 1, 8)},
          {"photocontrol", photo},
          {"selectedcontrol", {selectedsongBitBtn1, selectedsongBitBtn2}},
          {"pyselectcontrol", {PYselBitBtn, BMselBitBtn}},
          {"JSControl", range(jsBitBtn, 1, 5)},
      },
      BMnumPanel, BMnumEdit, PYselEdit);
}

void MainWindow::SetTabOrder() {
  // Each parent's windowed controls in the order of their tab numbers; the
  // panel's own controls follow the panel in the chain.
  std::vector<std::pair<int, QWidget*>> top, panel;
  for (const ControlDef& def : ControlTable()) {
    if (def.tabOrder < 0) continue;
    (def.parent == nullptr ? top : panel).emplace_back(def.tabOrder, Control(def.name));
  }
  std::sort(top.begin(), top.end());
  std::sort(panel.begin(), panel.end());
  std::vector<QWidget*> chain;
  for (const auto& [order, w] : top) {
    chain.push_back(w);
    if (w == BMnumPanel)
      for (const auto& [inner, child] : panel) chain.push_back(child);
  }
  for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

QWidget* MainWindow::Control(std::string_view name) const {
  for (const auto& [n, w] : controls_)
    if (n == name) return w;
  return nullptr;
}

void MainWindow::Attach(data::DataModule& dataModule, player::Decoder& decoder,
                        std::string programFolder) {
  if (screens_ != nullptr) throw std::logic_error("The window's data module is attached already");
  dataModule_ = &dataModule;
  screens_ = std::make_unique<Screens>(*this, dataModule, decoder, std::move(programFolder));
}

void MainWindow::ShowControlGroup(std::string_view name, std::uint8_t show) {
  groups_->ShowControlGroup(name, show);
}

void MainWindow::RoundButtonCorners(QWidget* window, std::uint8_t menuSized) {
  const QSize size = menuSized == 1 ? selectBitBtn[1]->size() : controlBitBtn[1]->size();
  window->setMask(RoundRectRegion(size.width(), size.height(), 8, 8));
}

void MainWindow::aDoOnEnter(QWidget* sender) {
  if (auto* button = qobject_cast<BitBtn*>(sender)) button->SetMargin(1);
}

void MainWindow::aDoOnExit(QWidget* sender) {
  if (auto* button = qobject_cast<BitBtn*>(sender)) button->SetMargin(-1);
}

void MainWindow::ShowFullScreen() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    setGeometry(screen->geometry());
    // The display mode set at start-up may reach the toolkit only after the
    // window is up; the window follows the screen without a window manager.
    connect(screen, &QScreen::geometryChanged, this, [this](const QRect& geometry) {
      if (isFullScreen()) setGeometry(geometry);
    });
  }
  showFullScreen();
  raise();
  activateWindow();
}

void MainWindow::FormCreate() {
  // Double buffering: every paint goes to the backing store first.
  setAttribute(Qt::WA_PaintOnScreen, false);
  // The screen-saver filter on every queued event of the application.
  screenSaverFilter_ = MakeChild<ScreenSaverFilter>(this);
  qApp->installEventFilter(screenSaverFilter_);
  shell_.SuppressScreenSaver();
  // The engine library's place for the loader, the room PC's 800x600 mode,
  // then VODSet.ini.
  shell_.RegisterEngine();
  shell_.SetDisplayMode(800, 600);
  shell_.ReadConfiguration(config_);
  // Rounded corners: the menu buttons with the size of selectBitBtn1, the
  // player buttons with that of controlBitBtn1.
  for (std::size_t i = 1; i <= 6; ++i) RoundButtonCorners(selectBitBtn[i], 1);
  for (std::size_t i = 1; i <= 8; ++i) RoundButtonCorners(controlBitBtn[i], 0);
  // The remote keys, from the key codes just read.
  shell_.RegisterRemoteKeys(config_);
  // The shared state's start values, in this order.
  state_.SelectedSongs.clear();
  state_.QueueView = false;
  state_.PageNo = 1;
  state_.QueueCursor = 0;
  state_.NextLetterPending = false;
  state_.PlayerState = player::PlayerState::kNotStarted;
  state_.ChannelStep = 0;
  state_.AudioChannelInfo = 0;
  state_.PlayPosition = 0;
  state_.MarqueeText = kWelcomeText;
  // Last, the decoder driver.
  shell_.DecoderOpen();
}

void MainWindow::FormShow() {
  // The media share, connected with the room's fixed account; the result is
  // not looked at.
  platform::ShareConnection share;
  share.type = 1;
  share.localName = "";
  share.remoteName = config_.mediaSharePath;
  share.provider = "";
  share.password = "zwk";
  share.user = "quorvod";
  share.flags = 1;
  shell_.ConnectShare(share);
  // Then the application server at the configured address (a failure shows
  // the connection message once), and the four datasets in the order song,
  // singer, play, temp whether or not the connection succeeded. The window
  // stays usable either way. A window that was never attached (the layout's
  // own tests) has no data module to connect.
  if (dataModule_ == nullptr) return;
  data::ConnectAndOpen(*dataModule_, config_.serverIP, [this](const std::string& utf8) {
    notifier_.ShowMessage(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
  });
}

bool MainWindow::FormCloseQuery() {
  shell_.UnregisterRemoteKeys();
  shell_.DecoderClose();
  return true;
}

void MainWindow::mainTimerTimer() {
  // A window that was never attached (the layout's own tests) has no player.
  if (screens_ != nullptr) screens_->player.mainTimerTimer();
}

void MainWindow::TimerTick() {
  // A Qt timer never fires again while its own slot runs: a message box
  // opened in here would hold the status line and the position reads for as
  // long as it is up. The tick's failure (a dead server when the next song's
  // path is looked up) is shown from the event queue instead, after this slot
  // has returned; the notifier keeps it to one box at a time, so the
  // failures of the ticks under that box are not shown again.
  QueuedNotifier later(*this, notifier_);
  RunGuarded(later, [this] { mainTimerTimer(); });
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  // The steps of the show (the share, the server, the datasets) block the
  // event loop while the server is asked: they run once the window has been
  // exposed and painted, from the event queue.
  showStepsPending_ = true;
  if (QWindow* native = windowHandle()) {
    native->removeEventFilter(this);
    native->installEventFilter(this);
    if (native->isExposed())
      QMetaObject::invokeMethod(this, &MainWindow::RunShowSteps, Qt::QueuedConnection);
  }
  QTimer::singleShot(kShowStepsFallbackMs, this, &MainWindow::RunShowSteps);
}

void MainWindow::RunShowSteps() {
  if (!showStepsPending_) return;
  showStepsPending_ = false;
  // Painted now, and on the window system's side before the first wait.
  repaint();
  QGuiApplication::sync();
  Guarded([this] { FormShow(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The close is always allowed, even when a shutdown step fails.
  Guarded([this] { FormCloseQuery(); });
  event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (BGImage != nullptr) BGImage->setGeometry(rect());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && showStepsPending_ &&
      windowHandle()->isExposed()) {
    // Queued: the expose is handled (painted and flushed) first.
    QMetaObject::invokeMethod(this, &MainWindow::RunShowSteps, Qt::QueuedConnection);
  }
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    auto* w = qobject_cast<QWidget*>(watched);
    Guarded([&] {
      if (event->type() == QEvent::FocusIn)
        aDoOnEnter(w);
      else
        aDoOnExit(w);
    });
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace quor::ui
