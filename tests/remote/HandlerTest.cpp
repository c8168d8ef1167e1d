// The interpreter's answers to requests of the peer, byte for byte.

#include <gtest/gtest.h>

#include "RemoteTestSupport.h"

namespace quor::remote::test {
namespace {

class HandlerTest : public ::testing::Test {
 protected:
  HandlerTest() {
    object = Ref<TestObject>(new TestObject);
    // Twice(ref count, ref variant, ref text, plain factor): doubles count by
    // factor, sets the variant and the text; result true.
    object->Add(u"Twice", 2, [](DispParams& p, Variant* result, ExcepInfo*) {
      EXPECT_EQ(p.args.size(), 4u);
      Variant& count = p.args[0].RefTarget();
      count = Variant::I4(count.AsI4() * p.args[3].AsI4());
      p.args[1].RefTarget() = Variant::Str(u"set");
      p.args[2].RefTarget() = Variant::Str(u"out");
      if (result) *result = Variant::Bool(true);
      return S_OK;
    });
    object->Add(u"Fail", 3, [](DispParams&, Variant*, ExcepInfo* ei) {
      ei->scode = -5;
      ei->description = u"no such song";
      return DISP_E_EXCEPTION;
    });
    object->Add(u"Throw", 4, [](DispParams&, Variant*, ExcepInfo*) -> HRESULT {
      throw Exception("provider failed");
    });
    registry.Register(kTestClass, "Test.Object", [this] { return Ref<IUnknown>(object); });
    registry.SetValue(kTestClass, "Sockets", "1");
    registry.Register(kHiddenClass, "Test.Hidden", [this] { return Ref<IUnknown>(object); });
  }
  // Handles one request block and returns the reply that was sent.
  Ref<IDataBlock> Handle(std::int32_t signature, const Bytes& data) {
    const std::size_t before = sender.sent.size();
    interpreter.HandleBlock(BlockFrom(Bytes().Block(signature, data)));
    if (sender.sent.size() == before) return nullptr;
    EXPECT_FALSE(sender.waited.back());  // replies never wait
    return sender.sent.back();
  }
  RecordingSender sender;
  ClassRegistry registry;
  Ref<TestObject> object;
  DataBlockInterpreter interpreter{sender, "Sockets", &registry};
};

TEST_F(HandlerTest, CreateObjectChecksTheRegistryFlag) {
  Ref<IDataBlock> r =
      Handle(0xDA04, Bytes().I32(8).Text(u"{11111111-2222-3333-4444-555555555555}"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Signature(), 0xDB04);
  EXPECT_EQ(DataOf(*r), Bytes().I32(9).I32(0).v);
  r = Handle(0xDA04, Bytes().I32(8).Text(u"test.object"));  // program ids ignore case
  EXPECT_EQ(DataOf(*r), Bytes().I32(9).I32(1).v);

  r = Handle(0xDA04, Bytes().I32(8).Text(u"Test.Hidden"));
  EXPECT_EQ(r->Signature(), 0xDB01);
  EXPECT_EQ(DataOf(*r), Bytes()
                            .I32(8)
                            .Text(u"Object not available: "
                                  u"{99999999-2222-3333-4444-555555555555}")
                            .v);
  r = Handle(0xDA04, Bytes().I32(8).Text(u"{nonsense}"));
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"Invalid class string").v);
  r = Handle(0xDA04, Bytes().I32(8).Text(u"No.Such"));
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"Invalid class string").v);

  // Without a registry flag every class may be created.
  DataBlockInterpreter open(sender, "", &registry);
  open.HandleBlock(BlockFrom(Bytes().Block(0xDA04, Bytes().I32(8).Text(u"Test.Hidden"))));
  EXPECT_EQ(sender.sent.back()->Signature(), 0xDB04);
}

TEST_F(HandlerTest, InvokeAnswersWithResultAndEveryReference) {
  interpreter.StoreObject(Variant::Dispatch(object));
  Ref<IDataBlock> r = Handle(0xDA02, Bytes()
                                         .I32(3)
                                         .I32(0)
                                         .I32(3)
                                         .I32(2)
                                         .I32(3)
                                         .I32(1)
                                         .I32(11)
                                         .Raw({0xFF, 0xFF})
                                         .I32(3)
                                         .I32(4)
                                         .I32(3)
                                         .I32(0)
                                         .I32(0x4003)
                                         .I32(21)  // count, by reference
                                         .I32(0x4000)
                                         .I32(1)  // variant by reference: null
                                         .I32(0x4008)
                                         .Text(u"in")  // text by reference
                                         .I32(3)
                                         .I32(2));  // factor, by value
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Signature(), 0xDB02);
  EXPECT_EQ(DataOf(*r), Bytes()
                            .I32(3)
                            .I32(0)
                            .I32(0x4003)
                            .I32(42)
                            .I32(0x4000)
                            .I32(8)
                            .Text(u"set")
                            .I32(0x4008)
                            .Text(u"out")
                            .I32(11)
                            .Raw({0xFF, 0xFF})
                            .v);

  // Exception information travels as code and description; no result asked.
  r = Handle(0xDA02, Bytes()
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(3)
                         .I32(3)
                         .I32(1)
                         .I32(11)
                         .Raw({0, 0})
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(0));
  EXPECT_EQ(DataOf(*r), Bytes()
                            .I32(3)
                            .I32(static_cast<std::int32_t>(DISP_E_EXCEPTION))
                            .I32(3)
                            .I32(-5)
                            .I32(8)
                            .Text(u"no such song")
                            .v);

  // An exception inside the object becomes an error block with its text.
  r = Handle(0xDA02, Bytes()
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(4)
                         .I32(3)
                         .I32(1)
                         .I32(11)
                         .Raw({0, 0})
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(0));
  EXPECT_EQ(r->Signature(), 0xDB01);
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"provider failed").v);

  // A call on an id that was never given out, and a short request.
  r = Handle(0xDA02, Bytes()
                         .I32(3)
                         .I32(40)
                         .I32(3)
                         .I32(2)
                         .I32(3)
                         .I32(1)
                         .I32(11)
                         .Raw({0, 0})
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(0));
  EXPECT_EQ(r->Signature(), 0xDB01);
  r = Handle(0xDA02, Bytes()
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(2)
                         .I32(3)
                         .I32(1)
                         .I32(11)
                         .Raw({0, 0})
                         .I32(3)
                         .I32(3)
                         .I32(3)
                         .I32(0)
                         .I32(3));
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"Invalid data packet").v);
  // A named-argument count above the argument count is refused too.
  r = Handle(0xDA02, Bytes()
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(2)
                         .I32(3)
                         .I32(1)
                         .I32(11)
                         .Raw({0, 0})
                         .I32(3)
                         .I32(0)
                         .I32(3)
                         .I32(1)
                         .I32(3)
                         .I32(0));
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"Invalid data packet").v);
}

TEST_F(HandlerTest, GetIdFreeObjectAndServerLists) {
  interpreter.StoreObject(Variant::Dispatch(object));
  Ref<IDataBlock> r = Handle(0xDA03, Bytes().I32(3).I32(0).I32(8).Text(u"Fail"));
  EXPECT_EQ(r->Signature(), 0xDB03);
  EXPECT_EQ(DataOf(*r), Bytes().I32(3).I32(0).I32(3).I32(3).v);
  r = Handle(0xDA03, Bytes().I32(3).I32(0).I32(8).Text(u"Nope"));
  EXPECT_EQ(DataOf(*r), Bytes().I32(3).I32(static_cast<std::int32_t>(DISP_E_UNKNOWNNAME)).v);

  // Free-object answers nothing, even for garbage.
  EXPECT_FALSE(Handle(0xDA05, Bytes().I32(3).I32(0)));
  EXPECT_TRUE(interpreter.ObjectTable().AsArray().ItemAt(0).IsEmpty());
  EXPECT_FALSE(Handle(0xDA05, Bytes().I32(3).I32(1000)));
  EXPECT_FALSE(Handle(0xDA05, Bytes().Raw({1})));

  r = Handle(0xDA10, Bytes());
  EXPECT_EQ(r->Signature(), 0xDB10);
  EXPECT_EQ(DataOf(*r), Bytes().I32(0x2008).I32(1).I32(0).I32(0).I32(8).Text(u"Test.Object").v);
  r = Handle(0xDA12, Bytes());
  EXPECT_EQ(r->Signature(), 0xDB12);
}

TEST_F(HandlerTest, ErrorBlocksRaiseAndUnknownActionsAreAnswered) {
  try {
    interpreter.HandleBlock(BlockFrom(Bytes().Block(0xDB01, Bytes().I32(8).Text(u"服务器错误"))));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "服务器错误");
  }
  EXPECT_TRUE(sender.sent.empty());  // an error block is never answered

  Ref<IDataBlock> r = Handle(0xDA63, Bytes());
  EXPECT_EQ(r->Signature(), 0xDB01);
  EXPECT_EQ(DataOf(*r), Bytes().I32(8).Text(u"Invalid action received: 99").v);
}

}  // namespace
}  // namespace quor::remote::test
