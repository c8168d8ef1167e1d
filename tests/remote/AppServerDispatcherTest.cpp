// The one dispatcher of application server objects: names, the call's form,
// argument conversion, out values and failures, as a peer's invoke meets
// them (quorvod-server's object derives from the same class).

#include <gtest/gtest.h>

#include "remote/Remote.h"

namespace quor::remote {
namespace {

// Records what each operation received; its answers are set by the test.
class Probe final : public AppServerDispatcher {
 public:
  HRESULT AS_ApplyUpdates(const std::u16string& provider, const Variant& delta,
                          std::int32_t maxErrors, std::int32_t& errorCount, Variant& ownerData,
                          Variant& result) override {
    Seen("AS_ApplyUpdates", provider);
    seenInt = maxErrors;
    seenType = delta.Type();
    errorCount = 4;
    ownerData = Variant::Str(u"owner");
    return Answer(result);
  }
  HRESULT AS_GetRecords(const std::u16string& provider, std::int32_t count, std::int32_t& recsOut,
                        std::int32_t options, const std::u16string& command, Variant& params,
                        Variant& ownerData, Variant& result) override {
    Seen("AS_GetRecords", provider);
    seenInt = count;
    seenOptions = options;
    seenCommand = command;
    seenRecsOut = recsOut;
    recsOut = 9;
    params = Variant::I4(1);
    ownerData = Variant::I4(2);
    return Answer(result);
  }
  HRESULT AS_DataRequest(const std::u16string& provider, const Variant& data,
                         Variant& result) override {
    Seen("AS_DataRequest", provider);
    seenType = data.Type();
    return Answer(result);
  }
  HRESULT AS_GetProviderNames(Variant& result) override {
    Seen("AS_GetProviderNames", u"");
    return Answer(result);
  }
  HRESULT AS_GetParams(const std::u16string& provider, Variant&, Variant& result) override {
    Seen("AS_GetParams", provider);
    return Answer(result);
  }
  HRESULT AS_RowRequest(const std::u16string& provider, const Variant&, std::int32_t requestType,
                        Variant&, Variant& result) override {
    Seen("AS_RowRequest", provider);
    seenInt = requestType;
    return Answer(result);
  }
  HRESULT AS_Execute(const std::u16string& provider, const std::u16string& command, Variant&,
                     Variant&) override {
    Seen("AS_Execute", provider);
    seenCommand = command;
    Variant ignored;
    return Answer(ignored);
  }

  std::vector<std::string> calls;
  std::u16string seenProvider, seenCommand;
  std::int32_t seenInt = 0, seenOptions = 0, seenRecsOut = -1;
  VarType seenType = 0;
  // What the next operation does: answer, fail with an HRESULT (and error
  // information when `failText` is set) or throw.
  HRESULT failWith = S_OK;
  std::string failText;
  bool raise = false;

 private:
  void Seen(const char* op, const std::u16string& provider) {
    calls.push_back(op);
    seenProvider = provider;
  }
  HRESULT Answer(Variant& result) {
    if (raise) throw Exception("提供者: boom");
    if (!failText.empty()) SetErrorInfo(ErrorInfo{kIID_IAppServer, "probe", failText});
    if (Failed(failWith)) return failWith;
    result = Variant::Str(u"answer");
    return S_OK;
  }
};

struct Outcome {
  HRESULT hr;
  Variant result;
  ExcepInfo info;
  std::uint32_t argErr = 99;
};

Outcome Call(IDispatch& object, std::int32_t dispId, std::vector<Variant> argsLastFirst,
             std::uint16_t flags = DISPATCH_METHOD, std::vector<std::int32_t> named = {}) {
  DispParams p;
  p.args = std::move(argsLastFirst);
  p.namedArgs = std::move(named);
  Outcome o;
  o.hr = object.Invoke(dispId, {}, 0, flags, p, &o.result, &o.info, &o.argErr);
  return o;
}

TEST(AppServerDispatcher, NamesTheSevenOperationsWithoutRegardToCase) {
  Ref<Probe> probe(new Probe);
  for (const AppServerOperation& op : kAppServerOperations) {
    std::u16string upper(op.name);
    for (char16_t& c : upper)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    const std::u16string names[2] = {std::u16string(op.name), upper};
    std::int32_t ids[2] = {0, 0};
    EXPECT_EQ(probe->GetIDsOfNames({}, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], op.dispId);
    EXPECT_EQ(ids[1], op.dispId);
  }
  const std::u16string mixed[2] = {u"AS_GetRecords", u"AS_Records"};
  std::int32_t ids[2] = {0, 0};
  EXPECT_EQ(probe->GetIDsOfNames({}, mixed, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], kDispId_AS_GetRecords);
  EXPECT_EQ(ids[1], -1);
  EXPECT_EQ(probe->GetIDsOfNames({}, nullptr, 1, 0, ids), E_POINTER);
  std::uint32_t count = 7;
  EXPECT_EQ(probe->GetTypeInfoCount(count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST(AppServerDispatcher, RefusesACallOfTheWrongFormBeforeAnyOperationRuns) {
  Ref<Probe> probe(new Probe);
  for (const AppServerOperation& op : kAppServerOperations) {
    const std::vector<Variant> right(op.argCount, Variant::Str(u"x"));
    std::vector<Variant> more = right;
    more.push_back(Variant());
    EXPECT_EQ(Call(*probe, op.dispId, more).hr, DISP_E_BADPARAMCOUNT);
    if (op.argCount > 0) {
      EXPECT_EQ(Call(*probe, op.dispId, {}).hr, DISP_E_BADPARAMCOUNT);
      EXPECT_EQ(Call(*probe, op.dispId, right, DISPATCH_METHOD, {0}).hr, DISP_E_PARAMNOTFOUND);
    }
    EXPECT_EQ(Call(*probe, op.dispId, right, DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND);
  }
  EXPECT_EQ(Call(*probe, kDispId_AS_Execute + 1, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(*probe, 0, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_TRUE(probe->calls.empty());
}

TEST(AppServerDispatcher, ConvertsArgumentsAndWritesOutValuesIntoReferencesOnly) {
  Ref<Probe> probe(new Probe);
  Variant recsOut = Variant::Str(u"not read");  // an out-only argument is never converted
  Variant params = Variant::Null();
  Variant owner;
  Outcome o = Call(*probe, kDispId_AS_GetRecords,
                   {Variant::ByRef(VT_VARIANT, owner), Variant::ByRef(VT_VARIANT, params),
                    Variant::Null(), Variant::UI1(1), Variant::ByRef(VT_BSTR, recsOut),
                    Variant::I2(-1), Variant::Str(u"songDataSetProvider")});
  ASSERT_EQ(o.hr, S_OK);
  EXPECT_EQ(probe->seenProvider, u"songDataSetProvider");
  EXPECT_EQ(probe->seenInt, -1);
  EXPECT_EQ(probe->seenOptions, 1);
  EXPECT_EQ(probe->seenCommand, u"");
  EXPECT_EQ(probe->seenRecsOut, 0);
  EXPECT_EQ(recsOut.Type(), VT_I4);
  EXPECT_EQ(recsOut.AsI4(), 9);
  EXPECT_EQ(params.AsI4(), 1);
  EXPECT_EQ(owner.AsI4(), 2);
  EXPECT_EQ(o.result.AsString(), u"answer");

  // By value, the out and in-out arguments take nothing back.
  DispParams p;
  p.args = {Variant(),      Variant(),      Variant::Str(u"select 1"), Variant(),
            Variant::I4(5), Variant::I4(2), Variant::Str(u"p")};
  ASSERT_EQ(
      probe->Invoke(kDispId_AS_GetRecords, {}, 0, DISPATCH_METHOD, p, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(p.args[4].AsI4(), 5);
  EXPECT_EQ(probe->seenCommand, u"select 1");

  // A delta by reference reaches the operation as its value.
  Variant delta = Variant::Array(SafeArray::FromBytes("abc", 3));
  Variant errors = Variant::I4(0);
  o = Call(*probe, kDispId_AS_ApplyUpdates,
           {Variant(), Variant::ByRef(VT_I4, errors), Variant::I4(-1),
            Variant::ByRef(VT_VARIANT, delta), Variant::Str(u"tempDataSetProvider")});
  ASSERT_EQ(o.hr, S_OK);
  EXPECT_EQ(probe->seenType, VT_ARRAY | VT_UI1);
  EXPECT_EQ(probe->seenInt, -1);
  EXPECT_EQ(errors.AsI4(), 4);
}

TEST(AppServerDispatcher, AnArgumentOfTheWrongTypeIsNamedByItsIndex) {
  Ref<Probe> probe(new Probe);
  Outcome o = Call(*probe, kDispId_AS_GetRecords,
                   {Variant(), Variant(), Variant(), Variant::I4(1), Variant(), Variant::Str(u"-1"),
                    Variant::Str(u"songDataSetProvider")});
  EXPECT_EQ(o.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(o.argErr, 5u);
  o = Call(*probe, kDispId_AS_RowRequest, {Variant(), Variant::I4(0), Variant(), Variant::I4(3)});
  EXPECT_EQ(o.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(o.argErr, 3u);
  o = Call(*probe, kDispId_AS_Execute,
           {Variant(), Variant(), Variant::R8(1.5), Variant::Str(u"songDataSetProvider")});
  EXPECT_EQ(o.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(o.argErr, 2u);  // CommandText
  EXPECT_TRUE(probe->calls.empty());
}

TEST(AppServerDispatcher, AFailedOperationTravelsAsAnExceptionWithItsText) {
  Ref<Probe> probe(new Probe);
  Variant recsOut = Variant::I4(-7);
  const std::vector<Variant> getRecords = {
      Variant(),       Variant(),         Variant(), Variant::I4(1), Variant::ByRef(VT_I4, recsOut),
      Variant::I4(-1), Variant::Str(u"p")};
  probe->raise = true;
  Outcome o = Call(*probe, kDispId_AS_GetRecords, getRecords);
  EXPECT_EQ(o.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(o.info.scode, E_FAIL);
  EXPECT_EQ(o.info.description, u"提供者: boom");
  EXPECT_TRUE(o.result.IsEmpty());
  EXPECT_EQ(recsOut.AsI4(), -7);  // nothing is written back after a failure

  probe->raise = false;
  probe->failWith = E_FAIL;
  probe->failText = "Provider not found: p";
  o = Call(*probe, kDispId_AS_GetProviderNames, {});
  EXPECT_EQ(o.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(o.info.scode, E_FAIL);
  EXPECT_EQ(o.info.description, u"Provider not found: p");
  EXPECT_EQ(o.info.source, u"probe");
  EXPECT_FALSE(TakeErrorInfo().has_value());  // taken by the dispatcher, not left behind

  // A failure without error information is told by its code; error
  // information an earlier call left behind is not this call's.
  SetErrorInfo(ErrorInfo{kIID_IAppServer, "stale", "an old failure"});
  probe->failWith = E_NOTIMPL;
  probe->failText.clear();
  o = Call(*probe, kDispId_AS_Execute, {Variant(), Variant(), Variant(), Variant::Str(u"p")});
  EXPECT_EQ(o.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(o.info.scode, E_NOTIMPL);
  EXPECT_EQ(o.info.description, u"Not implemented");
}

}  // namespace
}  // namespace quor::remote
