// Parameter scanning of CommandText and the packed parameter list.

#include <gtest/gtest.h>

#include "data/Params.h"
#include "platform/Codepage.h"
#include "remote/SafeArray.h"

namespace quor::data {
namespace {

using Names = std::vector<std::string>;

TEST(ScanParamNames, FindsColonNamesOutsideQuotesOnly) {
  EXPECT_EQ(ScanParamNames("select * from vodinfo where SINGID=:id and SINGER=:Who"),
            (Names{"id", "Who"}));
  EXPECT_EQ(ScanParamNames("select ':notme', \":nor\" from t where a=:a"), (Names{"a"}));
  EXPECT_EQ(ScanParamNames("select a::b, '12:30' from t"), Names{});  // doubled colon
  EXPECT_EQ(ScanParamNames("x=:a or y=:A or z=:b_2"), (Names{"a", "b_2"}));
  EXPECT_EQ(ScanParamNames("x=: y, z=:"), Names{});  // a colon not followed by a name
  EXPECT_EQ(ScanParamNames("x=:\"my name\""), Names{"my name"});
  // The statements of the catalogue have none.
  EXPECT_EQ(ScanParamNames(platform::Utf8ToGbk("select * from singer where SEX=\"男\"")), Names{});
}

TEST(ScanParamNames, TakesDoubleByteCharactersWhole) {
  // A GBK name is part of a parameter name; a lead byte before a quote or a
  // colon swallows its trail byte, so the literal state never flips on it.
  const std::string name = platform::Utf8ToGbk("歌手");
  EXPECT_EQ(ScanParamNames("a=:" + name + " and b=1"), Names{name});
  const std::string text = std::string("a='\x81") + "' and b=:p";  // \x81' is one character
  EXPECT_EQ(ScanParamNames(text), Names{});                        // the literal never ends
  EXPECT_EQ(ScanParamNames(std::string("a=\x81:b")), Names{});
}

TEST(Params, RebuildKeepsValuesByNameAndPackingRoundTrips) {
  ParamList old = RebuildParams("a=:x and b=:y", {});
  ASSERT_EQ(old.size(), 2u);
  old[1].value = remote::Variant::I4(7);
  old[1].paramType = ParamType::Input;
  ParamList now = RebuildParams("b=:Y and c=:z", old);
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0].name, "Y");
  EXPECT_EQ(now[0].value, remote::Variant::I4(7));
  EXPECT_TRUE(now[1].value.IsEmpty());

  EXPECT_TRUE(PackParams({}).IsNull());
  const remote::Variant packed = PackParams(now);
  ASSERT_TRUE(packed.IsArray());
  EXPECT_EQ(packed.AsArray().ElementCount(), 2u);
  const remote::Variant& first = packed.AsArray().ItemAt(0);
  ASSERT_TRUE(first.IsArray());
  EXPECT_EQ(first.AsArray().ItemAt(0), remote::Variant::Str(u"Y"));
  EXPECT_EQ(first.AsArray().ItemAt(3), remote::Variant::I4(1));

  // Output values come back by name; junk changes nothing.
  ParamList back = RebuildParams("b=:y and c=:z", {});
  UnpackParams(packed, back);
  EXPECT_EQ(back[0].value, remote::Variant::I4(7));
  UnpackParams(remote::Variant::Str(u"junk"), back);
  auto bad = remote::SafeArray::Create(remote::VT_VARIANT, {{0, 1}});
  bad->PutAt(0, remote::Variant::I4(3));
  UnpackParams(remote::Variant::Array(bad), back);
  EXPECT_EQ(back[0].value, remote::Variant::I4(7));
}

}  // namespace
}  // namespace quor::data
