// VODSet.ini and the remote keys: the profile reader, ReadConfiguration with
// its defaults and its missing-file message, the key-code conversion and the
// registration order, the engine path record.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/HotKey.h"
#include "platform/EngineRegistry.h"
#include "platform/Profile.h"

namespace quor::app {
namespace {

namespace fs = std::filesystem;

struct RecordingNotifier : ui::Notifier {
  QStringList messages;
  void ShowMessage(const QString& text) override { messages << text; }
};

// Records registrations; refuses the codes it is told to.
struct RecordingHotKeys : platform::HotKeys {
  std::vector<std::pair<int, unsigned>> registered;  // id, virtual key
  std::vector<unsigned> modifiers;
  std::vector<int> unregistered;
  std::vector<unsigned> refuse;
  bool Register(int id, unsigned mods, unsigned vk) override {
    for (unsigned r : refuse)
      if (r == vk) return false;
    registered.emplace_back(id, vk);
    modifiers.push_back(mods);
    return true;
  }
  bool Unregister(int id) override {
    unregistered.push_back(id);
    return true;
  }
  int EventDescriptor() const override { return -1; }
  std::vector<int> TakePressed() override { return {}; }
  std::optional<int> MatchWindowKey(unsigned long, unsigned) const override { return {}; }
};

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("quorvod-config-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Folder() const { return folder_.string() + "/"; }
  void Write(const std::string& text) {
    std::ofstream(folder_ / "VODSet.ini", std::ios::binary) << text;
  }
  ui::Configuration Read() {
    ui::Configuration c;
    ReadConfiguration(Folder(), notifier_, c);
    return c;
  }

  fs::path folder_;
  RecordingNotifier notifier_;
};

TEST_F(ConfigurationTest, EmptyFileGivesEveryDefault) {
  Write("");
  const ui::Configuration c = Read();
  EXPECT_EQ(c.roomName, "Room1");
  EXPECT_EQ(c.mediaSharePath, "\\\\quorvod\\quorvod");
  EXPECT_EQ(c.serverIP, "127.0.0.1");
  for (const std::string& code : c.keyCodes) EXPECT_EQ(code, "0");
  EXPECT_TRUE(notifier_.messages.isEmpty());
}

TEST_F(ConfigurationTest, MissingFileShowsTheMessageOnceAndLeavesEverythingEmpty) {
  const ui::Configuration c = Read();
  ASSERT_EQ(notifier_.messages.size(), 1);
  EXPECT_EQ(notifier_.messages[0],
            QStringLiteral("遥控器配置文件不存在，请重新运行遥控器配置程序！"));
  EXPECT_EQ(c.roomName, "");
  EXPECT_EQ(c.mediaSharePath, "");
  EXPECT_EQ(c.serverIP, "");
  for (const std::string& code : c.keyCodes) EXPECT_EQ(code, "");
  // No key can be converted, so none is registered and start-up goes on.
  RecordingHotKeys keys;
  EXPECT_EQ(RegisterRemoteKeys(c, keys), 0);
  EXPECT_TRUE(keys.registered.empty());
}

TEST_F(ConfigurationTest, ServerNameBuildsTheShareAndValuesStayAsWritten) {
  // Names compare without case, values are trimmed, CRLF line ends and
  // comments are fine, GBK bytes pass unchanged.
  Write(
      "; set by the remote set-up tool\r\n"
      "[lyraboxset]\r\n"
      "  roomname =  \xB0\xFC\xCF\xE1 8 \r\n"  // 包厢 8
      "SERVERNAME=media01\r\n"
      "ServerIP = 10.0.0.5\r\n"
      "[KEYMAP]\r\n"
      "volup=107\r\n"
      "Volup=999\r\n");  // a repeated key: the first one counts
  const ui::Configuration c = Read();
  EXPECT_EQ(c.roomName, "\xB0\xFC\xCF\xE1 8");
  EXPECT_EQ(c.mediaSharePath, "\\\\media01\\quorvod");
  EXPECT_EQ(c.serverIP, "10.0.0.5");
  EXPECT_EQ(c.keyCodes[6], "107");
  EXPECT_EQ(c.keyCodes[5], "0");
  RecordingHotKeys keys;
  RegisterRemoteKeys(c, keys);
  ASSERT_EQ(keys.registered.size(), 30u);
  EXPECT_EQ(keys.registered[6], (std::pair<int, unsigned>(1006, 107)));
}

TEST_F(ConfigurationTest, KeysAreReadByTheirExactNamesInTableOrder) {
  std::string text = "[KeyMap]\n";
  const char* names[] = {"Play",     "Pause",    "NextSong", "Fast",   "FastBack", "Channel",
                         "Volup",    "Voldown",  "Num0",     "Num1",   "Num2",     "Num3",
                         "Num4",     "Num5",     "Num6",     "Num7",   "Num8",     "Num9",
                         "Selected", "Priority", "Delete",   "Pageup", "Pagedown", "Affirm",
                         "Return",   "up",       "down",     "Left",   "Right",    "Vinoserve"};
  for (int i = 0; i < 30; ++i) text += std::string(names[i]) + "=" + std::to_string(112 + i) + "\n";
  Write(text);
  const ui::Configuration c = Read();
  RecordingHotKeys keys;
  EXPECT_EQ(RegisterRemoteKeys(c, keys), 30);
  std::vector<int> ids;
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(keys.registered[static_cast<std::size_t>(i)].second, 112u + i) << names[i];
    ids.push_back(keys.registered[static_cast<std::size_t>(i)].first);
  }
  std::vector<int> expected;
  for (int id = 1000; id <= 1007; ++id) expected.push_back(id);
  for (int id = 1010; id <= 1031; ++id) expected.push_back(id);
  EXPECT_EQ(ids, expected);
  for (unsigned m : keys.modifiers) EXPECT_EQ(m, 0u);
  UnregisterRemoteKeys(keys);
  EXPECT_EQ(keys.unregistered, expected);
}

TEST_F(ConfigurationTest, CodesThatAreNotWholeNumbersAreSkippedRefusalsAreSilent) {
  Write(
      "[KeyMap]\nPlay=abc\nPause=\nNextSong=0x20\nFast=12.5\nFastBack=+33\nChannel=-4\n"
      "Volup=99999999999\nVoldown=34\n");
  const ui::Configuration c = Read();
  RecordingHotKeys keys;
  keys.refuse = {34};
  RegisterRemoteKeys(c, keys);
  // Play..Channel, Volup skipped or refused; FastBack (+33) and the 22
  // screen keys at "0" are asked for.
  ASSERT_FALSE(keys.registered.empty());
  EXPECT_EQ(keys.registered[0], (std::pair<int, unsigned>(1004, 33)));
  EXPECT_EQ(keys.registered[1], (std::pair<int, unsigned>(1010, 0)));
  EXPECT_EQ(keys.registered.size(), 23u);
  EXPECT_EQ(ParseKeyCode("107"), 107);
  EXPECT_EQ(ParseKeyCode("-7"), -7);
  EXPECT_EQ(ParseKeyCode(""), std::nullopt);
  EXPECT_EQ(ParseKeyCode("+"), std::nullopt);
  EXPECT_EQ(ParseKeyCode("++1"), std::nullopt);
  EXPECT_EQ(ParseKeyCode("1 2"), std::nullopt);
  EXPECT_EQ(ParseKeyCode("2147483648"), std::nullopt);
}

TEST_F(ConfigurationTest, Utf8FileIsTurnedIntoTheChineseCodePage) {
  Write("\xEF\xBB\xBF[LyraboxSet]\nRoomName=\xE5\x8C\x85\xE5\x8E\xA2\n");  // 包厢 in UTF-8
  EXPECT_EQ(Read().roomName, "\xB0\xFC\xCF\xE1");
}

TEST_F(ConfigurationTest, UnreadableFileIsReportedWithItsCause) {
  fs::create_directory(folder_ / "VODSet.ini");  // a folder where the file should be
  const ui::Configuration c = Read();
  ASSERT_EQ(notifier_.messages.size(), 1);
  EXPECT_TRUE(notifier_.messages[0].contains(QStringLiteral("not a regular file")));
  EXPECT_EQ(c.serverIP, "");
  fs::remove(folder_ / "VODSet.ini");
  Write(std::string(platform::Profile::kMaxFileSize + 1, '#'));
  notifier_.messages.clear();
  Read();
  ASSERT_EQ(notifier_.messages.size(), 1);
  EXPECT_TRUE(notifier_.messages[0].contains(QStringLiteral("larger than 1 MiB")));
}

TEST_F(ConfigurationTest, EngineIsRecordedUnquotedBesideTheProgram) {
  RegisterEngine("/opt/quor vod/room 1/");
  EXPECT_EQ(platform::RecordedEnginePath(), "/opt/quor vod/room 1/libdsengine.so");
}

// ---- the profile reader on its own ----

TEST(ProfileTest, MissingFileIsNoProfile) {
  EXPECT_FALSE(platform::Profile::Load("/nonexistent/VODSet.ini").has_value());
}

TEST(ProfileTest, MalformedAndOverlongLinesNeverLeakIntoOtherKeys) {
  // An indented key is a key, not a continuation; a line without '=' is
  // skipped and noted; an overlong value is cut and its tail is not read as
  // a key of its own.
  const std::string longValue(400, 'x');
  const platform::Profile p = platform::Profile::Parse(
      "[A]\n"
      "  one = 1\n"
      "garbage line\n"
      "two=" +
      longValue +
      "three=3\n"
      "[unterminated\n"
      "four=4\n"
      "[B]\n"
      "one=b1\n");
  EXPECT_EQ(p.ReadString("A", "one", "-"), "1");
  EXPECT_EQ(p.ReadString("a", "ONE", "-"), "1");
  EXPECT_EQ(p.FirstMalformedLine(), 3);
  const std::string two = p.ReadString("A", "two", "-");
  EXPECT_LE(two.size(), platform::Profile::kMaxLineLength);
  EXPECT_EQ(two.find("three"), std::string::npos);
  EXPECT_EQ(p.ReadString("A", "three", "-"), "-");
  EXPECT_EQ(p.ReadString("B", "one", "-"), "b1");
  EXPECT_EQ(p.ReadString("C", "one", "dflt"), "dflt");
  // A NUL byte ends its line.
  const platform::Profile q = platform::Profile::Parse(std::string("[A]\nk=ab\0cd\nl=2\n", 17));
  EXPECT_EQ(q.ReadString("A", "k", "-"), "ab");
  EXPECT_EQ(q.ReadString("A", "l", "-"), "2");
}

}  // namespace
}  // namespace quor::app
