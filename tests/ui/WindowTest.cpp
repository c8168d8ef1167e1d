// The window's behaviour: start-up and shutdown order through the shell,
// control groups, the focus cue, the rounded masks, the screen-saver filter,
// the handler guard and the timer.

#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>
#include <stdexcept>

#include "UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/ScreenSaverFilter.h"

namespace quor::ui {
namespace {

using test::RecordingNotifier;
using test::RecordingShell;

MainWindow* WindowBeingCreated() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<MainWindow*>(w)) return m;
  return nullptr;
}

// Counts the system commands that reach it.
struct Probe : QObject {
  std::vector<platform::QueuedMessage> seen;
  bool event(QEvent* e) override {
    if (e->type() == SystemCommandEvent::EventType()) {
      seen.push_back(static_cast<SystemCommandEvent*>(e)->Message());
      return true;
    }
    return QObject::event(e);
  }
};

void PressTab() {
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QCoreApplication::sendEvent(QApplication::focusWidget(), &tab);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApp(); }
  RecordingNotifier notifier_;
  RecordingShell shell_;
};

TEST_F(WindowTest, FormCreateRunsItsStepsInOrder) {
  shell_.configuration.roomName = "Room7";
  shell_.configuration.keyCodes[6] = "107";
  bool filterFirst = false, roundedBeforeKeys = false, stateBeforeDecoder = false;
  shell_.onStep = [&](const std::string& step) {
    MainWindow* w = WindowBeingCreated();
    ASSERT_NE(w, nullptr);
    if (step == "SuppressScreenSaver") {
      Probe probe;
      SystemCommandEvent request({274, 61760, 0});
      QCoreApplication::sendEvent(&probe, &request);
      filterFirst = probe.seen.empty() && w->testAttribute(Qt::WA_PaintOnScreen) == false;
    }
    if (step == "RegisterRemoteKeys") {
      roundedBeforeKeys = true;
      for (std::size_t i = 1; i <= 6; ++i)
        roundedBeforeKeys &= w->selectBitBtn[i]->mask().boundingRect() == QRect(0, 0, 119, 48);
      for (std::size_t i = 1; i <= 8; ++i)
        roundedBeforeKeys &= w->controlBitBtn[i]->mask().boundingRect() == QRect(0, 0, 67, 39);
      // The shared state is set after the keys.
      roundedBeforeKeys &= w->State().MarqueeText.empty();
    }
    if (step == "DecoderOpen") {
      const SharedState& s = w->State();
      stateBeforeDecoder = s.SelectedSongs.empty() && !s.QueueView && s.PageNo == 1 &&
                           s.QueueCursor == 0 && !s.NextLetterPending &&
                           s.PlayerState == player::PlayerState::kNotStarted &&
                           s.ChannelStep == 0 && s.AudioChannelInfo == 0 && s.PlayPosition == 0 &&
                           s.MarqueeText == u"欢迎使用QuorKTV视频点播系统  ";
    }
  };
  MainWindow w(shell_, notifier_);
  EXPECT_EQ(shell_.calls,
            (std::vector<std::string>{"SuppressScreenSaver", "RegisterEngine", "SetDisplayMode",
                                      "ReadConfiguration", "RegisterRemoteKeys", "DecoderOpen"}));
  EXPECT_EQ(shell_.displayModes, (std::vector<std::pair<int, int>>{{800, 600}}));
  EXPECT_TRUE(filterFirst);
  EXPECT_TRUE(roundedBeforeKeys);
  EXPECT_TRUE(stateBeforeDecoder);
  EXPECT_EQ(shell_.registered.keyCodes[6], "107");
  EXPECT_EQ(w.Config().roomName, "Room7");
  EXPECT_EQ(w.State().StreamHandle, 0);
  EXPECT_EQ(w.State().StreamLength, 0);
  EXPECT_TRUE(notifier_.messages.isEmpty());
}

TEST_F(WindowTest, FormShowConnectsTheShareEachTimeTheWindowIsShown) {
  shell_.configuration.mediaSharePath = "\\\\media01\\quorvod";
  MainWindow w(shell_, notifier_);
  shell_.calls.clear();
  test::ShowAndSettle(w);
  ASSERT_EQ(shell_.shares.size(), 1u);
  const platform::ShareConnection& c = shell_.shares[0];
  EXPECT_EQ(c.type, 1);
  EXPECT_EQ(c.localName, "");
  EXPECT_EQ(c.remoteName, "\\\\media01\\quorvod");
  EXPECT_EQ(c.provider, "");
  EXPECT_EQ(c.password, "zwk");
  EXPECT_EQ(c.user, "quorvod");
  EXPECT_EQ(c.flags, 1u);
  w.hide();
  test::ShowAndSettle(w);
  EXPECT_EQ(shell_.shares.size(), 2u);
  w.hide();
}

TEST_F(WindowTest, TheShowStepsRunOnceTheWindowIsOnScreen) {
  MainWindow w(shell_, notifier_);
  bool exposedAtShare = false;
  shell_.onStep = [&](const std::string& step) {
    if (step == "ConnectShare") exposedAtShare = w.windowHandle()->isExposed();
  };
  w.show();
  // Nothing of the show's network steps runs inside the show itself.
  EXPECT_TRUE(w.ShowStepsPending());
  EXPECT_TRUE(shell_.shares.empty());
  test::ShowAndSettle(w);
  EXPECT_FALSE(w.ShowStepsPending());
  EXPECT_EQ(shell_.shares.size(), 1u);
  EXPECT_TRUE(exposedAtShare);
  w.hide();
}

TEST_F(WindowTest, CloseUnregistersKeysThenClosesTheDecoderAndIsAllowed) {
  MainWindow w(shell_, notifier_);
  test::ShowAndSettle(w);
  shell_.calls.clear();
  EXPECT_TRUE(w.close());
  EXPECT_EQ(shell_.calls, (std::vector<std::string>{"UnregisterRemoteKeys", "DecoderClose"}));
  EXPECT_TRUE(w.isHidden());
}

TEST_F(WindowTest, AFailingStartStepIsReportedAndTheWindowStillComesUp) {
  struct ThrowingShell : RecordingShell {
    void ReadConfiguration(Configuration&) override { throw std::runtime_error("disk on fire"); }
  } shell;
  MainWindow w(shell, notifier_);
  EXPECT_EQ(notifier_.messages, QStringList{QStringLiteral("disk on fire")});
  test::ShowAndSettle(w);
  EXPECT_EQ(shell.shares.size(), 1u);
  w.hide();
}

TEST_F(WindowTest, GuardShowsFailureTextsAndSwallowsEverything) {
  MainWindow w(shell_, notifier_);
  w.Guarded([] { throw std::runtime_error("songClientDataSet: Missing data provider"); });
  // A text in the Chinese code page (not UTF-8) is decoded as such.
  w.Guarded([] { throw std::runtime_error("\xB2\xE2\xCA\xD4"); });  // 测试 in GBK
  w.Guarded([] { throw 42; });
  bool ran = false;
  w.Guarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(notifier_.messages,
            (QStringList{QStringLiteral("songClientDataSet: Missing data provider"),
                         QStringLiteral("测试"), QStringLiteral("Unknown failure")}));
}

TEST_F(WindowTest, ScreenSaverRequestIsSwallowedEverythingElsePasses) {
  static_assert(platform::IsScreenSaverRequest({274, 61760, 0}));
  static_assert(!platform::IsScreenSaverRequest({274, 61536, 0}));  // close command
  static_assert(!platform::IsScreenSaverRequest({273, 61760, 0}));
  static_assert(platform::IsScreenSaverRequest({274, 61760, 99}));
  MainWindow w(shell_, notifier_);
  Probe probe;
  QCoreApplication::postEvent(&probe, new SystemCommandEvent({274, 61760, 0}));
  QCoreApplication::postEvent(&probe, new SystemCommandEvent({274, 61536, 0}));
  QCoreApplication::postEvent(&probe, new SystemCommandEvent({0x0111, 61760, 0}));
  QCoreApplication::sendPostedEvents(&probe);
  ASSERT_EQ(probe.seen.size(), 2u);
  EXPECT_EQ(probe.seen[0].wParam, 61536u);
  EXPECT_EQ(probe.seen[1].message, 0x0111u);
}

TEST_F(WindowTest, FilterLeavesWithTheWindow) {
  Probe probe;
  { MainWindow w(shell_, notifier_); }
  SystemCommandEvent request({274, 61760, 0});
  QCoreApplication::sendEvent(&probe, &request);
  EXPECT_EQ(probe.seen.size(), 1u);
}

TEST_F(WindowTest, MainTimerTicksEvery500ms) {
  MainWindow w(shell_, notifier_);
  ASSERT_NE(w.mainTimer, nullptr);
  EXPECT_TRUE(w.mainTimer->isActive());
  EXPECT_EQ(w.mainTimer->interval(), 500);
  EXPECT_FALSE(w.mainTimer->isSingleShot());
}

// ---- control groups ----

struct GroupRow {
  const char* name;
  std::vector<const char*> members;
};
const GroupRow kGroups[] = {
    {"singerBitBtn", {"singerBitBtn1", "singerBitBtn2", "singerBitBtn3"}},
    {"LanguageBitBtn",
     {"LanguageBitBtn1", "LanguageBitBtn2", "LanguageBitBtn3", "LanguageBitBtn4",
      "LanguageBitBtn5"}},
    {"songtypeBitBtn",
     {"songtypeBitBtn1", "songtypeBitBtn2", "songtypeBitBtn3", "songtypeBitBtn4", "songtypeBitBtn5",
      "songtypeBitBtn6", "songtypeBitBtn7", "songtypeBitBtn8"}},
    {"photocontrol",
     {"photoImage1", "photoImage2", "photoImage3", "photoImage4", "photoImage5", "photoImage6",
      "photonameLabel1", "photonameLabel2", "photonameLabel3", "photonameLabel4", "photonameLabel5",
      "photonameLabel6", "photoprevBitBtn1", "photonextBitBtn2"}},
    {"selectedcontrol", {"selectedsongBitBtn1", "selectedsongBitBtn2"}},
    {"pyselectcontrol", {"PYselBitBtn", "BMselBitBtn"}},
    {"JSControl", {"jsBitBtn1", "jsBitBtn2", "jsBitBtn3", "jsBitBtn4", "jsBitBtn5"}},
};

TEST_F(WindowTest, GroupsHoldTheirMembersInOrder) {
  MainWindow w(shell_, notifier_);
  const auto& groups = w.Groups().Groups();
  ASSERT_EQ(groups.size(), std::size(kGroups));
  for (std::size_t g = 0; g < groups.size(); ++g) {
    EXPECT_EQ(groups[g].name, kGroups[g].name);
    ASSERT_EQ(groups[g].members.size(), kGroups[g].members.size());
    for (std::size_t m = 0; m < groups[g].members.size(); ++m)
      EXPECT_EQ(groups[g].members[m], w.Control(kGroups[g].members[m])) << kGroups[g].name;
  }
}

TEST_F(WindowTest, ShowAndHideEachGroup) {
  MainWindow w(shell_, notifier_);
  for (const GroupRow& g : kGroups) {
    SCOPED_TRACE(g.name);
    w.ShowControlGroup(g.name, 1);
    for (const char* m : g.members) EXPECT_FALSE(w.Control(m)->isHidden()) << m;
    w.ShowControlGroup(g.name, 1);  // twice: still shown
    for (const char* m : g.members) EXPECT_FALSE(w.Control(m)->isHidden()) << m;
    w.ShowControlGroup(g.name, 2);  // any other flag does nothing
    for (const char* m : g.members) EXPECT_FALSE(w.Control(m)->isHidden()) << m;
    w.ShowControlGroup(g.name, 0);
    for (const char* m : g.members) EXPECT_TRUE(w.Control(m)->isHidden()) << m;
  }
}

TEST_F(WindowTest, NamesCompareExactlyWithCase) {
  MainWindow w(shell_, notifier_);
  for (const char* name :
       {"SingerBitBtn", "singerbitbtn", "JSCONTROL", "jscontrol", "photocontrol ", "", "songlist"})
    w.ShowControlGroup(name, 1);
  for (const GroupRow& g : kGroups)
    for (const char* m : g.members) EXPECT_TRUE(w.Control(m)->isHidden()) << m;
}

TEST_F(WindowTest, HidingTheKeypadButtonsClosesTheKeypadAndWipesIt) {
  MainWindow w(shell_, notifier_);
  w.ShowControlGroup("pyselectcontrol", 1);
  w.BMnumPanel->show();
  w.BMnumEdit->setText(QStringLiteral("123"));
  w.PYselEdit->setText(QStringLiteral("AB"));
  std::vector<QString> order;
  QObject::connect(w.BMnumEdit, &QLineEdit::textChanged, [&] { order.push_back("BMnumEdit"); });
  QObject::connect(w.PYselEdit, &QLineEdit::textChanged, [&] { order.push_back("PYselEdit"); });
  w.ShowControlGroup("pyselectcontrol", 0);
  EXPECT_TRUE(w.PYselBitBtn->isHidden());
  EXPECT_TRUE(w.BMselBitBtn->isHidden());
  EXPECT_TRUE(w.BMnumPanel->isHidden());
  EXPECT_TRUE(w.BMnumEdit->text().isEmpty());
  EXPECT_TRUE(w.PYselEdit->text().isEmpty());
  EXPECT_EQ(order, (std::vector<QString>{"BMnumEdit", "PYselEdit"}));
  // Hiding the hidden group runs its extra steps again.
  w.BMnumPanel->show();
  w.PYselEdit->setText(QStringLiteral("C"));
  w.ShowControlGroup("pyselectcontrol", 0);
  EXPECT_TRUE(w.BMnumPanel->isHidden());
  EXPECT_TRUE(w.PYselEdit->text().isEmpty());
  // Other groups have no extra steps.
  w.BMnumPanel->show();
  w.BMnumEdit->setText(QStringLiteral("9"));
  w.ShowControlGroup("JSControl", 0);
  EXPECT_FALSE(w.BMnumPanel->isHidden());
  EXPECT_EQ(w.BMnumEdit->text(), QStringLiteral("9"));
}

// ---- focus cue ----

const char* const kCueButtons[] = {
    "selectBitBtn1",   "selectBitBtn2",   "selectBitBtn3",   "selectBitBtn4",   "selectBitBtn5",
    "singerBitBtn1",   "singerBitBtn2",   "singerBitBtn3",   "LanguageBitBtn1", "LanguageBitBtn2",
    "LanguageBitBtn3", "LanguageBitBtn4", "LanguageBitBtn5", "songtypeBitBtn1", "songtypeBitBtn2",
    "songtypeBitBtn3", "songtypeBitBtn4", "songtypeBitBtn5", "songtypeBitBtn6", "songtypeBitBtn7",
    "songtypeBitBtn8", "jsBitBtn1",       "jsBitBtn2",       "jsBitBtn3",       "jsBitBtn4",
    "jsBitBtn5",       "PYselBitBtn",     "BMselBitBtn"};

TEST_F(WindowTest, FocusMovesTheGlyphMarginOfTheCueButtonsOnly) {
  MainWindow w(shell_, notifier_);
  ASSERT_EQ(std::size(kCueButtons), 28u);
  for (const char* name : kCueButtons) {
    auto* b = qobject_cast<BitBtn*>(w.Control(name));
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(b, &in);
    EXPECT_EQ(b->Margin(), 1) << name;
    EXPECT_EQ(b->GlyphOrigin().x(), 1) << name;
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(b, &out);
    EXPECT_EQ(b->Margin(), -1) << name;
    EXPECT_EQ(b->GlyphOrigin().x(), 0) << name;  // 68-pixel glyph centred on 67
  }
  for (const char* name : {"selectBitBtn6", "controlBitBtn1", "controlBitBtn8", "photoprevBitBtn1",
                           "songlistnextBitBtn2", "selectedsongBitBtn1"}) {
    auto* b = qobject_cast<BitBtn*>(w.Control(name));
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(b, &in);
    EXPECT_EQ(b->Margin(), -1) << name;
  }
}

TEST_F(WindowTest, TabMovesTheCueAlongTheTabStops) {
  MainWindow w(shell_, notifier_);
  test::ShowAndSettle(w);
  QApplication::setActiveWindow(&w);
  w.selectBitBtn[4]->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  EXPECT_EQ(w.selectBitBtn[4]->Margin(), 1);
  // Next stop after selectBitBtn4 is selectBitBtn5; selectBitBtn6 and the
  // player row have no tab stop, hidden buttons are skipped, so after 5 the
  // focus wraps to selectBitBtn1.
  PressTab();
  EXPECT_EQ(QApplication::focusWidget(), w.selectBitBtn[5]);
  EXPECT_EQ(w.selectBitBtn[4]->Margin(), -1);
  EXPECT_EQ(w.selectBitBtn[5]->Margin(), 1);
  PressTab();
  EXPECT_EQ(QApplication::focusWidget(), w.selectBitBtn[1]);
  w.hide();
}

// ---- rounded corners ----

TEST_F(WindowTest, MenuAndPlayerButtonsAreRoundedRectangles) {
  MainWindow w(shell_, notifier_);
  std::vector<BitBtn*> rounded(w.selectBitBtn.begin() + 1, w.selectBitBtn.end());
  rounded.insert(rounded.end(), w.controlBitBtn.begin() + 1, w.controlBitBtn.end());
  ASSERT_EQ(rounded.size(), 14u);
  for (BitBtn* b : rounded) {
    SCOPED_TRACE(b->objectName().toStdString());
    const QRegion mask = b->mask();
    const int width = b->width(), height = b->height();
    EXPECT_EQ(mask.boundingRect(), QRect(0, 0, width, height));
    // 8 x 8 corner ellipse: the corner pixels are cut, the edges are not.
    for (const QPoint& out : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(width - 1, 0),
                              QPoint(0, height - 1), QPoint(width - 1, height - 1)})
      EXPECT_FALSE(mask.contains(out)) << out.x() << "," << out.y();
    for (const QPoint& in :
         {QPoint(2, 0), QPoint(1, 1), QPoint(0, 2), QPoint(4, 0), QPoint(width / 2, height / 2),
          QPoint(width - 1, height / 2), QPoint(width - 3, height - 1)})
      EXPECT_TRUE(mask.contains(in)) << in.x() << "," << in.y();
  }
  EXPECT_TRUE(w.LanguageBitBtn[1]->mask().isEmpty());
  EXPECT_TRUE(w.photoprevBitBtn1->mask().isEmpty());
  // The size comes from the flag, not from the button.
  w.RoundButtonCorners(w.jsBitBtn[1], 1);
  EXPECT_EQ(w.jsBitBtn[1]->mask().boundingRect(), QRect(0, 0, 119, 48));
  w.RoundButtonCorners(w.jsBitBtn[2], 7);
  EXPECT_EQ(w.jsBitBtn[2]->mask().boundingRect(), QRect(0, 0, 67, 39));
}

}  // namespace
}  // namespace quor::ui
