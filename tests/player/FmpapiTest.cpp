// The decoder binding seen from the driver's side: requests are observed in
// the sim driver's log after a real dlopen of libreeldrv-sim.so.

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "drivers/DriverTestSupport.h"
#include "platform/driver_api.h"
#include "player/FMPAPI.h"

namespace quor::player {
namespace {

using testing::LogLine;
using testing::ReadLog;
using testing::ScopedEnv;
using testing::TempDir;

constexpr std::uint32_t kOpenMessage = 3;
constexpr std::uint32_t kCloseMessage = 4;

class Fmpapi : public ::testing::Test {
 protected:
  Fmpapi()
      : ini_("QUORVOD_DRIVERS_INI",
             dir_.Write("drivers.ini",
                        testing::DriversIni(testing::BinDir() + "/libreeldrv-sim.so"))),
        log_("QUORVOD_DRIVER_LOG", dir_.File("sim.log")) {}

  void SetUp() override {
    decoder_.DecoderOpen();
    ASSERT_TRUE(decoder_.DecoderIsOpen());
  }
  void TearDown() override { decoder_.DecoderClose(); }

  // How many driver opens and closes the log holds.
  std::pair<std::size_t, std::size_t> OpensAndCloses() const {
    std::pair<std::size_t, std::size_t> counts;
    for (const LogLine& line : ReadLog(dir_.File("sim.log"))) {
      counts.first += line.message == kOpenMessage;
      counts.second += line.message == kCloseMessage;
    }
    return counts;
  }

  // The log lines of decoder requests (the open and close left out).
  std::vector<LogLine> Requests() const {
    std::vector<LogLine> requests;
    for (const LogLine& line : ReadLog(dir_.File("sim.log"))) {
      if (line.message == kDecoderMessage) requests.push_back(line);
    }
    return requests;
  }

  TempDir dir_;
  ScopedEnv ini_;
  ScopedEnv log_;
  Decoder decoder_;
};

TEST_F(Fmpapi, EdgeCasesOfThePacking) {
  const std::string path = "\\\\ktvserver\\quorvod\\song-3s.mpg";
  const std::uint16_t stream = decoder_.DecoderOpenFile(1, path);
  decoder_.DecoderGetValue(3, 518);
  decoder_.DecoderPause(0x0105);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  // DecoderOpenFile(1, path): 0x00010001 and the address of the path text.
  EXPECT_EQ(requests[0].lParam1, 0x00010001u);
  EXPECT_EQ(requests[0].lParam2, reinterpret_cast<std::uintptr_t>(path.c_str()));
  EXPECT_EQ(requests[0].text, path);
  EXPECT_EQ(requests[0].result, stream);
  // DecoderGetValue(3, 518): 0x0206030A and 0.
  EXPECT_EQ(requests[1].lParam1, 0x0206030Au);
  EXPECT_EQ(requests[1].lParam2, 0u);
  // A StreamHandle of 0x0105 travels as handle byte 0x05.
  EXPECT_EQ(requests[2].lParam1, 0x00000504u);
}

TEST_F(Fmpapi, EveryCommandOperationSendsItsParameters) {
  struct Case {
    const char* name;
    std::function<void()> call;
    std::uint64_t first;
    std::uint64_t second;
  };
  const Case cases[] = {
      {"Control", [this] { decoder_.DecoderControl(0x1207, 768, 0); }, 0x03000703u, 0},
      {"ControlSeek", [this] { decoder_.DecoderControl(7, 2, 512); }, 0x00020703u, 512},
      {"Pause", [this] { decoder_.DecoderPause(7); }, 0x00000704u, 0},
      {"EndStream", [this] { decoder_.DecoderEndStream(0xFF07); }, 0x00000705u, 0},
      {"SetParam", [this] { decoder_.DecoderSetParam(7, 514, 100); }, 0x02020706u, 100},
      {"Select", [this] { decoder_.DecoderSelect(7, 36, 3); }, 0x00240708u, 3},
      {"SetValue", [this] { decoder_.DecoderSetValue(7, 1298, 6553600); }, 0x05120709u, 6553600},
      {"GetValue", [this] { decoder_.DecoderGetValue(7, 1283); }, 0x0503070Au, 0},
      {"SendAllOnes", [this] { decoder_.DecoderSend(0xFF, 0xFF, 0xFFFF, 0xFFFFFFFF); }, 0xFFFFFFFFu,
       0xFFFFFFFFu},
      {"SendZero", [this] { decoder_.DecoderSend(0, 0, 0, 0); }, 0, 0},
  };
  for (const Case& c : cases) c.call();

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    // lParam1 is zero-extended: a code with its top bit set is no negative number.
    EXPECT_EQ(requests[i].lParam1, cases[i].first);
    EXPECT_EQ(requests[i].lParam2, cases[i].second);
  }
}

TEST_F(Fmpapi, ResultsComeBackUnchanged) {
  const std::uint16_t stream = decoder_.DecoderOpenFile(1, "/media/a-3s-2a.mpg");
  EXPECT_EQ(stream, 1);
  EXPECT_EQ(decoder_.DecoderGetValue(stream, 531), 3000u);
  EXPECT_EQ(decoder_.DecoderGetValue(stream, 1538), 3u);
  // Nothing plays before the start, but a live stream never reads 0.
  EXPECT_GE(decoder_.DecoderGetValue(stream, 518), 1u);
  EXPECT_EQ(
      decoder_.DecoderSend(kDecoderCommandGetValue, static_cast<std::uint8_t>(stream), 1283, 0),
      200u * 65536 + 200);
  // The next open gets the next handle.
  EXPECT_EQ(decoder_.DecoderOpenFile(1, "/media/b.mpg"), 2);
}

TEST_F(Fmpapi, OpenAndCloseReachTheDriverOnce) {
  decoder_.DecoderClose();
  EXPECT_FALSE(decoder_.DecoderIsOpen());
  EXPECT_EQ(decoder_.DecoderGetValue(1, 518), 0u);  // a null handle: nothing is sent
  const auto lines = ReadLog(dir_.File("sim.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, kOpenMessage);
  EXPECT_NE(lines[0].result, 0u);
  EXPECT_EQ(lines[1].message, kCloseMessage);
  EXPECT_EQ(lines[1].lParam1, 0u);
  EXPECT_EQ(lines[1].lParam2, 0u);

  // Opening twice closes the first instance.
  decoder_.DecoderOpen();
  decoder_.DecoderOpen();
  decoder_.DecoderClose();
  EXPECT_EQ(OpensAndCloses(), std::make_pair(std::size_t{3}, std::size_t{3}));
  decoder_.DecoderOpen();  // for TearDown
}

TEST_F(Fmpapi, EachBindingOwnsItsHandleAndClosesItWhenItGoes) {
  {
    Decoder second;
    second.DecoderOpen();
    ASSERT_TRUE(second.DecoderIsOpen());
    // Two bindings are two driver instances: each has its own first stream.
    EXPECT_EQ(second.DecoderOpenFile(1, "/media/x.mpg"), 1);
    EXPECT_EQ(decoder_.DecoderOpenFile(1, "/media/y.mpg"), 1);
  }
  EXPECT_TRUE(decoder_.DecoderIsOpen());
  // The second one was closed by its destructor.
  EXPECT_EQ(OpensAndCloses(), std::make_pair(std::size_t{2}, std::size_t{1}));
}

// The shared layout, as the drivers read it back.
static_assert(QuorPackDecoderRequest(10, 3, 518) == 0x0206030Au);
static_assert(QuorUnpackDecoderRequest(static_cast<std::intptr_t>(0xFFFF0504u)).command == 4);
static_assert(QuorUnpackDecoderRequest(static_cast<std::intptr_t>(0xFFFF0504u)).handle == 5);
static_assert(QuorUnpackDecoderRequest(static_cast<std::intptr_t>(0xFFFF0504u)).code == 0xFFFF);
static_assert(QuorUnpackDecoderRequest(-1).code == 0xFFFF);
static_assert(kDecoderMessage == 0x4001);

TEST(FmpapiWithoutDriver, EveryRequestReturnsZero) {
  TempDir dir;
  Decoder decoder;
  for (const std::string& ini :
       {testing::DriversIni(dir.File("libnowhere.so")),
        std::string("[Drivers32]\nother=libreeldrv-sim.so\n"), std::string("\x01\xFF[[[\n=\n")}) {
    ScopedEnv env("QUORVOD_DRIVERS_INI", dir.Write("drivers.ini", ini));
    decoder.DecoderOpen();
    EXPECT_FALSE(decoder.DecoderIsOpen());
    EXPECT_EQ(decoder.DecoderOpenFile(1, "/media/a-3s.mpg"), 0);
    EXPECT_EQ(decoder.DecoderGetValue(1, 531), 0u);
    EXPECT_EQ(decoder.DecoderSend(kDecoderCommandGetValue, 1, 1283, 0), 0u);
    decoder.DecoderControl(1, 768, 0);
    decoder.DecoderPause(1);
    decoder.DecoderEndStream(1);
    decoder.DecoderSetParam(1, 512, 5);
    decoder.DecoderSelect(1, 36, 2);
    decoder.DecoderSetValue(1, 1283, 5);
    decoder.DecoderClose();
  }
  // No drivers.ini at all.
  ScopedEnv env("QUORVOD_DRIVERS_INI", dir.File("absent.ini"));
  decoder.DecoderOpen();
  EXPECT_FALSE(decoder.DecoderIsOpen());
  EXPECT_EQ(decoder.DecoderGetValue(1, 518), 0u);
  decoder.DecoderClose();
}

}  // namespace
}  // namespace quor::player
