// The fault table, and the database's own failures.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using namespace refdb;
using refdb_test::Query;
using refdb_test::Sample;

// Fault settings against the calls they fail (X: the call fails, .: it
// succeeds); a failing call stores its detail and does nothing else; every
// call is counted.
TEST(FaultTable, NthTimesAlwaysClearAndRearmSelectTheFailingCalls) {
  const char* op = "Workspace.GetObjectType";
  using Action = std::function<void(FaultTable&)>;
  auto set = [&](int nth, int times) -> Action { return [=](FaultTable& f) { f.Set(op, Fault{-7, 99, nth, times}); }; };
  const Action always = [&](FaultTable& f) { f.Always(op, -7, 99); };
  // clang-format off
  const std::vector<std::tuple<const char*, Action, Action>> cases = {
      {"X.....", [&](FaultTable& f) { f.Set(op, Fault{-7, 99}); }, nullptr}, {"..XX..", set(3, 2), nullptr},
      {".XXXXX", set(2, -1), nullptr}, {"......", set(1, 0), nullptr}, {"XXXXXX", always, nullptr},
      {"XX....", always, [&](FaultTable& f) { f.Clear(op); }}, {"XX....", always, [](FaultTable& f) { f.ClearAll(); }},
      {"...X..", set(3, 1), set(2, 1)},  // Set replaces the armed fault and counts from itself
  };
  // clang-format on
  for (const auto& [expected, arm, afterSecondCall] : cases) {
    Sample s;
    s.db.Faults().ResetCounts();
    arm(s.db.Faults());
    std::string got;
    for (int i = 0; i < 6; ++i) {
      LONG type = 12345, detail = 0;
      const HRESULT hr = s.db.Workspace()->GetObjectType(s.project, &type, &detail);
      got += hr == S_OK ? '.' : 'X';
      EXPECT_EQ(hr == S_OK ? std::make_tuple(0, 1, 0) : std::make_tuple(-7, 12345, 99),
                std::make_tuple(hr, type, detail));
      if (i == 1 && afterSecondCall) afterSecondCall(s.db.Faults());
    }
    EXPECT_EQ(expected, got);
    EXPECT_EQ(std::make_pair(6L, 6L), std::make_pair(s.db.Faults().Calls(op), s.db.Faults().TotalCalls()));
  }
  // A misspelt operation name cannot make a test pass vacuously.
  EXPECT_THROW(FaultTable().Set("Workspace.GetDataObjct", Fault{}), std::invalid_argument);
  EXPECT_THROW(FaultTable().Calls(""), std::invalid_argument);
}

// A row of the table below: the operation's name, a call of it through
// `ptr`, and the status and detail it must fail with.
using Failure = std::pair<HRESULT, LONG>;
using Case = std::tuple<const char*, std::function<HRESULT(LONG*)>, Failure>;
// clang-format off
#define CALL(itf, ptr, op, failure, ...) Case(#itf "." #op, [&](LONG* d) { return ptr->op(__VA_ARGS__, d); }, failure)
#define WS(op, failure, ...) CALL(Workspace, ws, op, failure, __VA_ARGS__)
#define HV(op, failure, ...) CALL(HighCapacityGlobalVariable, hv, op, failure, __VA_ARGS__)
// clang-format on

// The database's own failures: the status and detail of each refused call,
// which counts one call under its own name, fails first with an injected
// fault, and changes nothing.
TEST(RefOperations, OwnFailuresReportTheirStatusAndDetailAndChangeNothing) {
  const Failure kGone{kStatusFailed, kDetailNotFound}, kNull{kStatusBadPointer, kDetailBadArgument},
      kRange{kStatusInvalidArgument, kDetailBadArgument}, kType{kStatusFailed, kDetailWrongType};
  Sample s;
  IVNDataABS_Workspace* ws = s.db.Workspace();
  auto hv = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  auto hc = Query<IVNDataABS_HighCapacityStructure>(s.db, s.sdtX);
  LONG n = 0, rows[2] = {}, member = 0, d0 = 0;
  ASSERT_EQ(S_OK, hv->AddRows(2, rows, &d0));
  ASSERT_EQ(S_OK, hc->AddRows(1, &member, &d0));
  const LONG gone = rows[1] + 7, liveAndGone[2] = {rows[0], gone};
  STOBJECTID bogus = s.gvl, id{};
  bogus.dwWord[7] ^= 1;  // a real ID with one word changed
  IUnknown* object = nullptr;
  IVNDataABS_LabelService* none = nullptr;
  BSTR text = nullptr, texts[1] = {};
  stVNArraySizeX sizes[1] = {};
  using Row = stVNGlobalVariableAndSystemLabelElementDataX;
  Row out[2] = {}, in[2] = {};
  stVNStructElementDataX memberOut{}, memberIn{};
  BstrHolder kept(SysAllocString(u"N")), changed(SysAllocString(u"M"));
  in[0].rowID = rows[0];
  in[0].name = kept.Get();
  ASSERT_EQ(S_OK, hv->SetRows(1, in, &d0));
  in[0].name = changed.Get();
  memberIn.rowID = member;
  memberIn.comment.count = 1;       // entries missing
  auto spoilt = [&](auto change) {  // in[] with its second record spoilt
    in[1] = Row{};
    in[1].rowID = rows[1];
    change(in[1]);
    return in;
  };
  // clang-format off
  const std::vector<Case> cases = {
      WS(GetDataObject, kGone, bogus, &object),             WS(GetDataObject, kNull, s.gvl, nullptr),
      WS(DeleteDataObject, kGone, bogus),                   WS(CreateDataObject, kGone, bogus, nullptr, 14, 0, &id),
      WS(CreateElementObject, kGone, bogus, &id),           WS(CreateElementObject, kType, s.gvlX, &id),
      WS(GetChildIDList, kGone, bogus, &n, nullptr),        WS(GetChildIDByType, kGone, bogus, 13, &id),
      WS(GetChildIDByType, Failure(kStatusNoChild, kDetailNoSuchChild), s.project, 21, &id),
      WS(GetParentID, kGone, bogus, &id),                   WS(GetObjectType, kGone, bogus, &n),
      WS(SetObjectName, kGone, bogus, nullptr),             WS(GetObjectName, kGone, bogus, &text),
      WS(SetLastUpdateTime, kGone, bogus, SYSTEMTIME{}),    WS(GetServiceObject, kGone, bogus, VN_SERVICE_LABEL, &none),
      WS(GetServiceObject, kType, s.Child(13), VN_SERVICE_LABEL, &none),
      WS(GetServiceObject, Failure(kStatusFailed, kDetailNoSuchService), s.project, 85, &none),
      HV(AddRows, kRange, -1, rows),                        HV(AddRows, kNull, 1, nullptr),
      HV(DeleteRows, kRange, -1, rows),                     HV(DeleteRows, kNull, 1, nullptr),
      HV(DeleteRows, kGone, 2, liveAndGone),                HV(GetRowCount, kNull, nullptr),
      HV(GetRowIDs, kRange, 0, 0, 0, -1, 0, rows, &n),      HV(GetRowIDs, kNull, 0, 0, 0, 1, 0, nullptr, &n),
      HV(GetRows, kRange, -1, rows, out),                   HV(GetRows, kNull, 1, rows, nullptr),
      HV(GetRows, kGone, 2, liveAndGone, out),              HV(SetRows, kRange, -1, in),
      HV(SetRows, kNull, 1, nullptr), HV(SetRows, kGone, 2, spoilt([&](Row& r) { r.rowID = gone; })),
      HV(SetRows, kRange, 2, spoilt([](Row& r) { r.comment.count = 1; })),
      HV(SetRows, kRange, 2, spoilt([](Row& r) { r.comment.count = -1; })),
      HV(SetRows, kRange, 2, spoilt([](Row& r) { r.memberDeviceCount = -1; })),
      // member devices without their extras
      HV(SetRows, kRange, 2, spoilt([&](Row& r) { r.memberDevices = texts, r.memberDeviceCount = 1; })),
      HV(GetArraySizeCount, kNull, rows[0], nullptr),       HV(GetArraySizeCount, kGone, gone, &n),
      HV(GetArraySizes, kRange, rows[0], -1, 1, sizes, &n), HV(GetArraySizes, kNull, rows[0], 1, 1, nullptr, &n),
      HV(GetArraySizes, kGone, gone, 1, 1, sizes, &n),      HV(SetArraySizes, kRange, rows[0], -1, 1, sizes),
      HV(SetArraySizes, kNull, rows[0], 1, 1, nullptr),     HV(SetArraySizes, kGone, gone, 1, 1, sizes),
      HV(GetRowObjectID, kNull, rows[0], nullptr),          HV(GetRowObjectID, kGone, gone, &id),
      HV(GetRowObjectID, Failure(kStatusFailed, kDetailNoSuchStructure), rows[0], &id),
      CALL(HighCapacityStructure, hc, GetRows, kGone, 1, &gone, &memberOut),
      CALL(HighCapacityStructure, hc, SetRows, kRange, 1, &memberIn),
  };
  // clang-format on
  const long objects = s.db.ObjectCount();
  for (const auto& [op, run, failure] : cases) {
    SCOPED_TRACE(op);
    s.db.Faults().ResetCounts();
    LONG detail = 0;
    EXPECT_EQ(failure, std::make_pair(run(&detail), detail));
    s.db.Faults().Set(op, Fault{-9, 33});
    EXPECT_EQ(Failure(-9, 33), std::make_pair(run(&detail), detail));
    EXPECT_EQ(std::make_pair(2L, 2L), std::make_pair(s.db.Faults().Calls(op), s.db.Faults().TotalCalls()));
  }
  // Nothing was made or deleted, and the refused GetRows handed back nothing.
  EXPECT_EQ(std::make_pair(objects, BSTR{}), std::make_pair(s.db.ObjectCount(), out[0].name));
  ASSERT_EQ(S_OK, hv->GetRows(1, rows, out, &d0));  // the refused DeleteRows and SetRows changed nothing
  EXPECT_EQ(u"N", refdb_test::Take(out[0].name));
}

}  // namespace
