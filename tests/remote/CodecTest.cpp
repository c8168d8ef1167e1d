// Data blocks and the variant encoding, byte for byte, and the decoder's
// answers to hostile blocks.

#include <gtest/gtest.h>

#include "RemoteTestSupport.h"

namespace quor::remote::test {
namespace {

class CodecTest : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> Encode(const Variant& v) {
    Ref<DataBlock> b = DataBlock::Create();
    interpreter.EncodeVariant(v, *b);
    return DataOf(*b);
  }
  Variant Decode(const Bytes& data, bool* byRef = nullptr, bool* varByRef = nullptr) {
    Ref<DataBlock> b = BlockFrom(Bytes().Block(0xDB02, data));
    return interpreter.DecodeVariant(*b, byRef, varByRef);
  }
  std::string DecodeError(const Bytes& data) {
    try {
      Decode(data);
    } catch (const Exception& e) {
      return e.what();
    }
    return "no error";
  }
  RecordingSender sender;
  DataBlockInterpreter interpreter{sender, "", nullptr};
};

TEST(DataBlockTest, OperationsKeepTheWireLayout) {
  Ref<DataBlock> b = DataBlock::Create();
  EXPECT_EQ(b->HeaderSize(), 8);
  EXPECT_EQ(b->Size(), 0);
  b->SetSignature(0xDA04);
  const std::uint8_t payload[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(b->Write(payload, 5), 5);
  EXPECT_EQ(b->Size(), 5);
  const std::uint8_t* m = b->Memory();  // refreshes the size field
  EXPECT_EQ(std::vector<std::uint8_t>(m, m + 13),
            (std::vector<std::uint8_t>{0x04, 0xDA, 0, 0, 5, 0, 0, 0, 1, 2, 3, 4, 5}));
  std::uint8_t back[8] = {};
  EXPECT_EQ(b->Read(back, 3), 3);
  EXPECT_EQ(b->Read(back, 8), 2);  // fewer at the end of the data
  EXPECT_EQ(b->Read(back, 8), 0);
  EXPECT_EQ(back[0], 4);

  // Clear drops the data and leaves the signature of the request.
  b->Clear();
  EXPECT_EQ(b->Size(), 0);
  EXPECT_EQ(b->Signature(), 0xDA04);

  b->SetSize(3);
  EXPECT_EQ(b->Size(), 3);
  auto stream = b->Stream();
  EXPECT_EQ(stream->Position(), 0u);
  EXPECT_EQ(stream->Length(), 11u);
  b->KeepStream();
  b.reset();
  EXPECT_EQ(stream->Data()[4], 3);  // the kept stream outlives its block
}

TEST(DataBlockTest, LoadFromChecksHeaderAndSize) {
  Ref<DataBlock> b = DataBlock::Create();
  const Bytes ok = Bytes().Block(0xDB01, Bytes().Raw({9, 9}));
  EXPECT_EQ(b->LoadFrom(ok.v.data(), 10, true), 2);
  EXPECT_EQ(b->Signature(), 0xDB01);
  EXPECT_EQ(DataOf(*b), (std::vector<std::uint8_t>{9, 9}));

  auto error = [&](const Bytes& image, std::int32_t length, bool check) {
    try {
      b->LoadFrom(image.v.data(), length, check);
    } catch (const Exception& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error(ok, 7, true), "Invalid data packet");
  EXPECT_EQ(error(Bytes().I32(0xDC00).I32(0), 8, true), "Invalid data packet");
  EXPECT_EQ(error(Bytes().I32(0x1200).I32(0), 8, true), "Invalid data packet");
  EXPECT_EQ(error(Bytes().I32(0xDA02).I32(5).Raw({1, 2}), 10, true), "Invalid data packet");
  // Without the check the data length is the truth, the size field is returned.
  EXPECT_EQ(b->LoadFrom(Bytes().I32(0xDA02).I32(5).Raw({1, 2}).v.data(), 10, false), 5);
  EXPECT_EQ(b->Size(), 2);
  std::int32_t negative = -1;
  EXPECT_THROW(b->SetSize(negative), Exception);
  EXPECT_THROW(b->SetSize(kMaxBlockSize + 1), Exception);
}

TEST_F(CodecTest, PlainValuesTravelAsTypeWordAndPayload) {
  EXPECT_EQ(Encode(Variant()), Bytes().I32(0).v);
  EXPECT_EQ(Encode(Variant::Null()), Bytes().I32(1).v);
  EXPECT_EQ(Encode(Variant::Str(u"")), Bytes().I32(8).I32(0).v);  // no text bytes
  EXPECT_EQ(Encode(Variant::Str(u"A歌")), Bytes().I32(8).Text(u"A歌").v);
  EXPECT_EQ(Encode(Variant::Bool(true)), Bytes().I32(11).Raw({0xFF, 0xFF}).v);
  EXPECT_EQ(Encode(Variant::Bool(false)), Bytes().I32(11).Raw({0, 0}).v);
  EXPECT_EQ(Encode(Variant::I4(-2)), Bytes().I32(3).I32(-2).v);
  EXPECT_EQ(Encode(Variant::I2(0x1234)), Bytes().I32(2).Raw({0x34, 0x12}).v);
  EXPECT_EQ(Encode(Variant::UI1(7)), Bytes().I32(17).Raw({7}).v);
  EXPECT_EQ(Encode(Variant::R8(1.0)), Bytes().I32(5).Raw({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}).v);
  EXPECT_EQ(Encode(Variant::Error(-3)), Bytes().I32(10).I32(-3).v);
  // VT_DECIMAL has no payload in the size table: the type word alone.
  EXPECT_EQ(Encode(Variant::FromPayload(VT_DECIMAL, "", 0)), Bytes().I32(14).v);
}

TEST_F(CodecTest, ReferencesKeepTheFlagAndSendTheReferencedValue) {
  Variant null = Variant::Null();
  EXPECT_EQ(Encode(Variant::ByRef(VT_VARIANT, null)), Bytes().I32(0x4000).I32(1).v);
  Variant text = Variant::Str(u"ab");
  EXPECT_EQ(Encode(Variant::ByRef(VT_BSTR, text)), Bytes().I32(0x4008).Text(u"ab").v);
  Variant n = Variant::I4(42);
  EXPECT_EQ(Encode(Variant::ByRef(VT_I4, n)), Bytes().I32(0x4003).I32(42).v);

  bool byRef = false;
  bool varByRef = false;
  EXPECT_EQ(Decode(Bytes().I32(0x4000).I32(1), &byRef, &varByRef), Variant::Null());
  EXPECT_TRUE(byRef);
  EXPECT_TRUE(varByRef);
  EXPECT_EQ(Decode(Bytes().I32(0x4003).I32(9), &byRef, &varByRef), Variant::I4(9));
  EXPECT_TRUE(byRef);
  EXPECT_FALSE(varByRef);
}

TEST_F(CodecTest, TypesThatCannotTravelAreRefused) {
  auto error = [&](const Variant& v) {
    try {
      Encode(v);
    } catch (const EInterpreterError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error(Variant::Unknown(nullptr)), "Unsupported variant type: 000D");
  Variant object = Variant::Dispatch(Ref<IDispatch>(new TestObject));
  EXPECT_EQ(error(Variant::ByRef(VT_DISPATCH, object)), "Unsupported variant type: 4009");
  EXPECT_EQ(DecodeError(Bytes().I32(13)), "Unsupported variant type: 000D");
  EXPECT_EQ(DecodeError(Bytes().I32(20)), "Unsupported variant type: 0014");
  EXPECT_EQ(DecodeError(Bytes().I32(12)), "Unsupported variant type: 000C");
}

TEST_F(CodecTest, ByteArraysTakeTheFastPath) {
  auto array = SafeArray::Create(VT_UI1, {{0, 99}});
  for (int i = 0; i < 100; ++i) array->Data()[i] = static_cast<std::uint8_t>(i);
  Bytes expected;
  expected.I32(0x2011).I32(1).I32(0).I32(99).I32(100);
  for (int i = 0; i < 100; ++i) expected.Raw({static_cast<std::uint8_t>(i)});
  const Variant v = Variant::Array(array);
  EXPECT_EQ(Encode(v), expected.v);
  EXPECT_EQ(Decode(expected), v);

  // Two dimensions of VT_I2: bounds dimension 1 first, bytes as they lie.
  auto grid = SafeArray::Create(VT_I2, {{1, 2}, {0, 2}});
  const std::int32_t at[] = {2, 0};
  grid->Put(at, Variant::I2(5));
  EXPECT_EQ(Encode(Variant::Array(grid)), Bytes()
                                              .I32(0x2002)
                                              .I32(2)
                                              .I32(1)
                                              .I32(0)
                                              .I32(2)
                                              .I32(2)
                                              .I32(12)
                                              .Raw({0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0})
                                              .v);
}

TEST_F(CodecTest, OtherArraysEncodeEveryElementLastDimensionFastest) {
  auto grid = SafeArray::Create(VT_VARIANT, {{0, 1}, {0, 1}});
  const std::int32_t i01[] = {0, 1};
  const std::int32_t i10[] = {1, 0};
  grid->Put(i01, Variant::I4(1));
  grid->Put(i10, Variant::Str(u"x"));
  const Bytes expected = Bytes()
                             .I32(0x200C)
                             .I32(2)
                             .I32(0)
                             .I32(0)
                             .I32(1)
                             .I32(1)
                             .I32(0)
                             .I32(3)
                             .I32(1)
                             .I32(8)
                             .Text(u"x")
                             .I32(0);
  EXPECT_EQ(Encode(Variant::Array(grid)), expected.v);
  EXPECT_EQ(Decode(expected), Variant::Array(grid));

  auto names = SafeArray::Create(VT_BSTR, {{0, 1}});
  names->ItemAt(0) = Variant::Str(u"a");
  names->ItemAt(1) = Variant::Str(u"bc");
  const Bytes strings =
      Bytes().I32(0x2008).I32(1).I32(0).I32(1).I32(8).Text(u"a").I32(8).Text(u"bc");
  EXPECT_EQ(Encode(Variant::Array(names)), strings.v);
  EXPECT_EQ(Decode(strings), Variant::Array(names));
}

TEST_F(CodecTest, HostileLengthsAreInvalidPacketsBeforeAnyAllocation) {
  const std::string invalid = "Invalid data packet";
  EXPECT_EQ(DecodeError(Bytes()), invalid);                     // no type word
  EXPECT_EQ(DecodeError(Bytes().Raw({3, 0})), invalid);         // half a type word
  EXPECT_EQ(DecodeError(Bytes().I32(3).Raw({1, 2})), invalid);  // short payload
  EXPECT_EQ(DecodeError(Bytes().I32(8).I32(-1)), invalid);      // negative length
  EXPECT_EQ(DecodeError(Bytes().I32(8).I32(0x7FFFFFFF)), invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(8).I32(3).U16('a')), invalid);  // text cut short
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(0)), invalid);      // no dimension
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(-5)), invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(0x10000000)), invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(1).I32(5).I32(3).I32(0)),
            invalid);  // high < low - 1
  // Bounds whose product overflows, and counts that do not match the array.
  EXPECT_EQ(
      DecodeError(Bytes().I32(0x2003).I32(2).I32(0).I32(0).I32(0x7FFFFFFE).I32(0x7FFFFFFE).I32(0)),
      invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(1).I32(0).I32(3).I32(3).Raw({1, 2, 3})), invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(1).I32(0).I32(3).I32(5).Raw({1, 2, 3, 4, 5})),
            invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x2011).I32(1).I32(0).I32(99).I32(100).Raw({1})), invalid);
  EXPECT_EQ(DecodeError(Bytes().I32(0x200C).I32(1).I32(0).I32(0x3FFFFFFF)), invalid);
  // An element of a typed array must be of its type.
  EXPECT_EQ(DecodeError(Bytes().I32(0x2008).I32(1).I32(0).I32(0).I32(3).I32(1)), invalid);
  // Nesting is bounded: a chain of variant references never exhausts the stack.
  Bytes deep;
  for (int i = 0; i < 100000; ++i) deep.I32(0x4000);
  EXPECT_EQ(DecodeError(deep), invalid);
  // An empty dimension is a valid empty array.
  const Variant empty = Decode(Bytes().I32(0x2011).I32(1).I32(0).I32(-1).I32(0));
  EXPECT_EQ(empty.AsArray().ElementCount(), 0u);
}

TEST_F(CodecTest, ObjectsGetSlotIdsAndTheTableGrowsByEleven) {
  Variant object = Variant::Dispatch(Ref<IDispatch>(new TestObject));
  EXPECT_EQ(Encode(object), Bytes().I32(9).I32(0).v);  // the first object gets id 0
  for (int i = 1; i < 11; ++i) interpreter.StoreObject(object);
  EXPECT_EQ(interpreter.ObjectTable().AsArray().Bounds()[0].high, 10);
  EXPECT_EQ(interpreter.StoreObject(object), 11);  // the twelfth: table grown to 0..21
  EXPECT_EQ(interpreter.ObjectTable().AsArray().Bounds()[0].high, 21);
  interpreter.ReleaseObject(3);
  interpreter.ReleaseObject(-1);
  interpreter.ReleaseObject(500);
  EXPECT_EQ(interpreter.StoreObject(object), 3);  // the first free slot is used again
  EXPECT_EQ(interpreter.ObjectAt(11), object.AsDispatch());
  EXPECT_THROW(interpreter.ObjectAt(12), EInterpreterError);  // an empty slot
  EXPECT_THROW(interpreter.ObjectAt(-1), EInterpreterError);

  // A decoded object id becomes a proxy; its last release frees the id remotely.
  {
    const Variant proxy = Decode(Bytes().I32(9).I32(7));
    ASSERT_EQ(proxy.Type(), VT_DISPATCH);
    EXPECT_EQ(interpreter.ProxyCount(), 1u);
  }
  EXPECT_EQ(interpreter.ProxyCount(), 0u);
  ASSERT_EQ(sender.sent.size(), 1u);
  EXPECT_EQ(sender.sent[0]->Signature(), 0xDA05);
  EXPECT_EQ(DataOf(*sender.sent[0]), Bytes().I32(3).I32(7).v);
  EXPECT_FALSE(sender.waited[0]);
}

TEST_F(CodecTest, ProxiesOutlivingTheInterpreterSendNothing) {
  Variant proxy;
  {
    RecordingSender other;
    DataBlockInterpreter shortLived(other, "", nullptr);
    Ref<DataBlock> b = BlockFrom(Bytes().Block(0xDB04, Bytes().I32(9).I32(2)));
    proxy = shortLived.DecodeVariant(*b);
  }
  ExcepInfo ei;
  DispParams none;
  EXPECT_EQ(proxy.AsDispatch()->Invoke(1, {}, 0, 1, none, nullptr, &ei, nullptr),
            RPC_E_DISCONNECTED);
  proxy = Variant();  // no sender left: nothing may be sent
}

TEST_F(CodecTest, RemoteCallsWriteTheirRequestsExactly) {
  // A method with no arguments: counts 0 and nothing after them.
  sender.replies.push_back(BlockFrom(Bytes().Block(0xDB02, Bytes().I32(3).I32(0).I32(1))));
  DispParams none;
  Variant result;
  ExcepInfo ei;
  EXPECT_EQ(interpreter.RemoteInvoke(4, 77, 1, none, &result, &ei), S_OK);
  EXPECT_EQ(sender.sent[0]->Signature(), 0xDA02);
  EXPECT_EQ(DataOf(*sender.sent[0]), Bytes()
                                         .I32(3)
                                         .I32(4)
                                         .I32(3)
                                         .I32(77)
                                         .I32(3)
                                         .I32(1)
                                         .I32(11)
                                         .Raw({0xFF, 0xFF})
                                         .I32(3)
                                         .I32(0)
                                         .I32(3)
                                         .I32(0)
                                         .v);
  EXPECT_TRUE(sender.waited[0]);
  EXPECT_EQ(result, Variant::Null());

  // Get-id sends the first name only; two names are not supported and send nothing.
  sender.replies.push_back(BlockFrom(Bytes().Block(0xDB03, Bytes().I32(3).I32(0).I32(3).I32(12))));
  const std::u16string names[2] = {u"Go", u"Stop"};
  std::int32_t ids[2] = {};
  EXPECT_EQ(interpreter.RemoteGetID(5, names, 1, ids), S_OK);
  EXPECT_EQ(ids[0], 12);
  EXPECT_EQ(DataOf(*sender.sent[1]), Bytes().I32(3).I32(5).I32(8).Text(u"Go").v);
  EXPECT_EQ(interpreter.RemoteGetID(5, names, 2, ids), E_NOTIMPL);
  EXPECT_EQ(sender.sent.size(), 2u);

  // Create-object: the name as a string; the reply's object id becomes a proxy.
  sender.replies.push_back(BlockFrom(Bytes().Block(0xDB04, Bytes().I32(9).I32(3))));
  const Variant server = interpreter.RemoteCreateObject(u"{6EE68EED-0503-48A7-8626-C11D1330E902}");
  EXPECT_EQ(sender.sent[2]->Signature(), 0xDA04);
  EXPECT_EQ(DataOf(*sender.sent[2]),
            Bytes().I32(8).Text(u"{6EE68EED-0503-48A7-8626-C11D1330E902}").v);
  EXPECT_EQ(static_cast<DataDispatch*>(server.AsDispatch().get())->ObjectId(), 3);

  // No reply at all is reported, not read.
  EXPECT_THROW(interpreter.RemoteCreateObject(u"x"), Exception);
}

TEST_F(CodecTest, InvokeRepliesFillReferencesAndExceptionInfo) {
  Variant count = Variant::I4(1);
  Variant owner;
  Variant text = Variant::Str(u"old");
  DispParams p;
  p.args = {Variant::ByRef(VT_VARIANT, owner), Variant::ByRef(VT_I4, count),
            Variant::ByRef(VT_BSTR, text), Variant::I4(5)};
  sender.replies.push_back(
      BlockFrom(Bytes().Block(0xDB02, Bytes()
                                          .I32(3)
                                          .I32(static_cast<std::int32_t>(DISP_E_EXCEPTION))
                                          .I32(3)
                                          .I32(-7)
                                          .I32(8)
                                          .Text(u"bad row")
                                          .I32(0x4000)
                                          .I32(8)
                                          .Text(u"o")
                                          .I32(0x4003)
                                          .I32(9)
                                          .I32(0x4008)
                                          .Text(u"new"))));
  ExcepInfo ei;
  EXPECT_EQ(interpreter.RemoteInvoke(1, 2, 1, p, nullptr, &ei), DISP_E_EXCEPTION);
  EXPECT_EQ(ei.scode, -7);
  EXPECT_EQ(ei.description, u"bad row");
  EXPECT_EQ(owner, Variant::Str(u"o"));
  EXPECT_EQ(count, Variant::I4(9));
  EXPECT_EQ(text, Variant::Str(u"new"));
  // Expect-result false went on the wire.
  const std::vector<std::uint8_t> request = DataOf(*sender.sent[0]);
  EXPECT_EQ(std::vector<std::uint8_t>(request.begin() + 24, request.begin() + 30),
            (Bytes().I32(11).Raw({0, 0}).v));
}

}  // namespace
}  // namespace quor::remote::test

namespace quor::remote::test {
namespace {

TEST(VariantTest, CopiesShareArraysUntilOneChanges) {
  auto array = SafeArray::Create(VT_I4, {{0, 2}});
  Variant a = Variant::Array(array);
  Variant b = a;
  const std::int32_t first[] = {0};
  b.MutableArray().Put(first, Variant::I4(9));
  EXPECT_EQ(a.AsArray().Get(first), Variant::I4(0));  // the copy changed alone
  EXPECT_EQ(b.AsArray().Get(first), Variant::I4(9));
  EXPECT_THROW(b.MutableArray().Put(first, Variant::Str(u"x")), EOleSysError);
  const std::int32_t outside[] = {3};
  EXPECT_THROW(a.AsArray().Get(outside), EInterpreterError);
  EXPECT_THROW(SafeArray::Create(VT_UI1, {{0, kMaxBlockSize}}), EInterpreterError);
  EXPECT_THROW(SafeArray::Create(VT_UNKNOWN, {{0, 1}}), EInterpreterError);

  auto list = SafeArray::Create(VT_VARIANT, {{0, 1}});
  list->ItemAt(1) = Variant::Str(u"kept");
  list->RedimLast(5);
  EXPECT_EQ(list->ElementCount(), 6u);
  EXPECT_EQ(list->ItemAt(1), Variant::Str(u"kept"));
}

TEST(VariantTest, TextConversionsForErrorBlocks) {
  EXPECT_EQ(Variant::Str(u"歌曲").ToText(), "歌曲");
  EXPECT_EQ(Variant::I4(-12).ToText(), "-12");
  EXPECT_EQ(Variant::Bool(true).ToText(), "True");
  EXPECT_EQ(Variant::Null().ToText(), "");
  EXPECT_EQ(Variant::R8(2.5).ToText(), "2.5");
  Variant target = Variant::UI2(7);
  EXPECT_EQ(Variant::ByRef(VT_UI2, target).ToText(), "7");
  EXPECT_THROW(Variant::Array(SafeArray::FromBytes("a", 1)).ToText(), EInterpreterError);
  EXPECT_THROW(Variant::I4(1).AsString(), EInterpreterError);
}

}  // namespace
}  // namespace quor::remote::test
