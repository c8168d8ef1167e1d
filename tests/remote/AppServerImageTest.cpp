// The AS_GetRecords call as it travels, compared byte for byte with images
// written out by hand, and the error path of DispatchAppServer.

#include <gtest/gtest.h>

#include "RemoteTestSupport.h"

namespace quor::remote::test {
namespace {

class AppServerImageTest : public ::testing::Test {
 protected:
  AppServerImageTest() {
    // The server object is the peer's object 0, reached through a proxy.
    Ref<DataBlock> b = BlockFrom(Bytes().Block(0xDB04, Bytes().I32(9).I32(0)));
    server = Ref<IAppServer>(new DispatchAppServer(interpreter.DecodeVariant(*b).AsDispatch()));
  }
  std::vector<std::uint8_t> SentImage(std::size_t i) {
    IDataBlock& b = *sender.sent.at(i);
    const std::uint8_t* m = b.Memory();
    return std::vector<std::uint8_t>(m, m + 8 + b.Size());
  }
  RecordingSender sender;
  DataBlockInterpreter interpreter{sender, "", nullptr};
  Ref<IAppServer> server;
};

TEST_F(AppServerImageTest, GetRecordsRequestAndReplyImages) {
  // clang-format off
  const std::vector<std::uint8_t> request = {
      0x02, 0xDA, 0x00, 0x00,  0xAC, 0x00, 0x00, 0x00,   // signature 0xDA02, size 172
      0x03, 0, 0, 0,  0x00, 0x00, 0x00, 0x00,            // 1 server object id 0
      0x03, 0, 0, 0,  0x01, 0x2D, 0x31, 0x01,            // 2 dispatch id 20000001
      0x03, 0, 0, 0,  0x01, 0x00, 0x00, 0x00,            // 3 flags 1
      0x0B, 0, 0, 0,  0xFF, 0xFF,                        // 4 expect-result true
      0x03, 0, 0, 0,  0x07, 0x00, 0x00, 0x00,            // 5 argument count 7
      0x03, 0, 0, 0,  0x00, 0x00, 0x00, 0x00,            // 6 named count 0
      0x00, 0x40, 0, 0,  0x00, 0, 0, 0,                  // 7 OwnerData: by reference, empty
      0x00, 0x40, 0, 0,  0x01, 0, 0, 0,                  // 8 Params: by reference, null
      0x08, 0, 0, 0,  0x0E, 0, 0, 0,                     // 9 CommandText, 14 units
      's', 0, 'e', 0, 'l', 0, 'e', 0, 'c', 0, 't', 0, ' ', 0,
      '*', 0, ' ', 0, 's', 0, 'i', 0, 'n', 0, 'g', 0, 0x4C, 0x8D,   // "select * sing" and U+8D4C
      0x03, 0, 0, 0,  0x01, 0x00, 0x00, 0x00,            // 10 Options 1
      0x03, 0x40, 0, 0,  0x05, 0x00, 0x00, 0x00,         // 11 RecsOut by reference, 5
      0x03, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF,            // 12 Count -1
      0x08, 0, 0, 0,  0x15, 0, 0, 0,                     // 13 ProviderName, 21 units
      's', 0, 'i', 0, 'n', 0, 'g', 0, 'e', 0, 'r', 0, 'D', 0, 'a', 0, 't', 0, 'a', 0,
      'S', 0, 'e', 0, 't', 0, 'P', 0, 'r', 0, 'o', 0, 'v', 0, 'i', 0, 'd', 0, 'e', 0, 'r', 0,
  };
  const std::vector<std::uint8_t> reply = {
      0x02, 0xDB, 0x00, 0x00,  0x3B, 0x00, 0x00, 0x00,   // signature 0xDB02, size 59
      0x03, 0, 0, 0,  0, 0, 0, 0,                        // 1 HRESULT 0
      0x00, 0x40, 0, 0,  0x03, 0, 0, 0,  0x2A, 0, 0, 0,  // 3 OwnerData := 42
      0x00, 0x40, 0, 0,  0x01, 0, 0, 0,                  // 4 Params := null
      0x03, 0x40, 0, 0,  0x19, 0, 0, 0,                  // 5 RecsOut := 25
      0x11, 0x20, 0, 0,  0x01, 0, 0, 0,  0, 0, 0, 0,     // 6 the packet: VT_UI1 array 0..2
      0x02, 0, 0, 0,  0x03, 0, 0, 0,  0xA1, 0xB2, 0xC3,
  };
  // clang-format on
  sender.replies.push_back(BlockFrom(Bytes{reply}));

  std::int32_t recsOut = 5;
  Variant params = Variant::Null();
  Variant ownerData;
  Variant packet;
  const std::u16string command = u"select * sing\u8D4C";
  ASSERT_EQ(server->AS_GetRecords(u"singerDataSetProvider", -1, recsOut, 1, command, params,
                                  ownerData, packet),
            S_OK);
  ASSERT_EQ(sender.sent.size(), 1u);
  EXPECT_EQ(SentImage(0), request);
  EXPECT_TRUE(sender.waited[0]);

  EXPECT_EQ(recsOut, 25);
  EXPECT_EQ(ownerData, Variant::I4(42));
  EXPECT_EQ(params, Variant::Null());
  ASSERT_EQ(packet.Type(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(packet.AsArray().ByteCount(), 3u);
  EXPECT_EQ(packet.AsArray().Data()[2], 0xC3);
}

TEST_F(AppServerImageTest, ProviderNamesSendsCountsAndNothingElse) {
  sender.replies.push_back(BlockFrom(Bytes().Block(0xDB02, Bytes().I32(3).I32(0).I32(1))));
  Variant names;
  ASSERT_EQ(server->AS_GetProviderNames(names), S_OK);
  EXPECT_EQ(SentImage(0), Bytes()
                              .Block(0xDA02, Bytes()
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(3)
                                                 .I32(20000003)
                                                 .I32(3)
                                                 .I32(1)
                                                 .I32(11)
                                                 .Raw({0xFF, 0xFF})
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(3)
                                                 .I32(0))
                              .v);
  EXPECT_EQ(names, Variant::Null());
}

TEST_F(AppServerImageTest, ExecuteAndApplyUpdatesPutArgumentsLastFirst) {
  sender.replies.push_back(BlockFrom(
      Bytes().Block(0xDB02, Bytes().I32(3).I32(0).I32(0x4000).I32(0).I32(0x4000).I32(0).I32(0))));
  Variant params;
  Variant owner;
  ASSERT_EQ(server->AS_Execute(u"p", u"c", params, owner), S_OK);
  EXPECT_EQ(SentImage(0), Bytes()
                              .Block(0xDA02, Bytes()
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(3)
                                                 .I32(20000006)
                                                 .I32(3)
                                                 .I32(1)
                                                 .I32(11)
                                                 .Raw({0xFF, 0xFF})
                                                 .I32(3)
                                                 .I32(4)
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(0x4000)
                                                 .I32(0)
                                                 .I32(0x4000)
                                                 .I32(0)
                                                 .I32(8)
                                                 .Text(u"c")
                                                 .I32(8)
                                                 .Text(u"p"))
                              .v);

  sender.replies.push_back(BlockFrom(
      Bytes().Block(0xDB02, Bytes().I32(3).I32(0).I32(0x4000).I32(0).I32(0x4003).I32(2).I32(1))));
  std::int32_t errors = 0;
  const Variant delta = Variant::Array(SafeArray::FromBytes("\x01\x02", 2));
  Variant answer;
  ASSERT_EQ(server->AS_ApplyUpdates(u"tempDataSetProvider", delta, -1, errors, owner, answer),
            S_OK);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(SentImage(1), Bytes()
                              .Block(0xDA02, Bytes()
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(3)
                                                 .I32(20000000)
                                                 .I32(3)
                                                 .I32(1)
                                                 .I32(11)
                                                 .Raw({0xFF, 0xFF})
                                                 .I32(3)
                                                 .I32(5)
                                                 .I32(3)
                                                 .I32(0)
                                                 .I32(0x4000)
                                                 .I32(0)
                                                 .I32(0x4003)
                                                 .I32(0)
                                                 .I32(3)
                                                 .I32(-1)
                                                 .I32(0x2011)
                                                 .I32(1)
                                                 .I32(0)
                                                 .I32(1)
                                                 .I32(2)
                                                 .Raw({1, 2})
                                                 .I32(8)
                                                 .Text(u"tempDataSetProvider"))
                              .v);
}

TEST_F(AppServerImageTest, FailuresBecomeHresultsWithTheMessage) {
  auto* app = static_cast<DispatchAppServer*>(server.get());
  EXPECT_EQ(app->InterfaceSupportsErrorInfo(kIID_IAppServer), S_OK);
  EXPECT_EQ(app->InterfaceSupportsErrorInfo(platform::Guid{}), S_FALSE);

  // The peer's exception: its code and description.
  sender.replies.push_back(
      BlockFrom(Bytes().Block(0xDB02, Bytes()
                                          .I32(3)
                                          .I32(static_cast<std::int32_t>(DISP_E_EXCEPTION))
                                          .I32(3)
                                          .I32(static_cast<std::int32_t>(E_FAIL))
                                          .I32(8)
                                          .Text(u"no such table: vod")
                                          .I32(1))));
  Variant names;
  const HRESULT hr = server->AS_GetProviderNames(names);
  EXPECT_EQ(hr, E_FAIL);
  try {
    OleCheck(hr);
    FAIL() << "no exception";
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "no such table: vod");
  }

  // A transport failure (no reply) is E_UNEXPECTED with its text.
  EXPECT_EQ(server->AS_GetProviderNames(names), E_UNEXPECTED);
  std::optional<ErrorInfo> info = TakeErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->description, "Expected return value not received");
  EXPECT_EQ(info->iid, kIID_IAppServer);

  // A plain failing HRESULT from Invoke keeps its code.
  sender.replies.push_back(BlockFrom(Bytes().Block(
      0xDB02, Bytes().I32(3).I32(static_cast<std::int32_t>(DISP_E_MEMBERNOTFOUND)).I32(0))));
  EXPECT_EQ(server->AS_GetProviderNames(names), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(TakeErrorInfo()->description, "Member not found");
}

}  // namespace
}  // namespace quor::remote::test
