// The fault table, and the database's own failures.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using namespace refdb;
using refdb_test::Bstr;
using refdb_test::Query;
using refdb_test::Sample;

// Fault settings against the calls they fail (X: the call fails, .: it
// succeeds); a failing call stores its detail and does nothing else; every
// call is counted.
TEST(FaultTable, NthTimesAlwaysClearAndRearmSelectTheFailingCalls) {
  const char* op = "Workspace.GetObjectType";
  using Action = std::function<void(FaultTable&)>;
  const Action always = [&](FaultTable& f) { f.Always(op, -7, 99); };
  const Action byDefault = [&](FaultTable& f) { f.Set(op, Fault{-7, 99}); };
  auto set = [&](int nth, int times) { return [=](FaultTable& f) { f.Set(op, Fault{-7, 99, nth, times}); }; };
  const std::vector<std::tuple<const char*, Action, Action>> cases = {
      {"X.....", byDefault, nullptr},
      {"..XX..", set(3, 2), nullptr},
      {".XXXXX", set(2, -1), nullptr},
      {"......", set(1, 0), nullptr},
      {"XXXXXX", always, nullptr},
      {"XX....", always, [&](FaultTable& f) { f.Clear(op); }},
      {"XX....", always, [](FaultTable& f) { f.ClearAll(); }},
      {"...X..", set(3, 1), set(2, 1)},  // Set replaces the armed fault and counts from itself
  };
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
  FaultTable table;
  EXPECT_THROW(table.Set("Workspace.GetDataObjct", Fault{}), std::invalid_argument);
  EXPECT_THROW(table.Calls(""), std::invalid_argument);
}

// A row of the table below: the operation's name, a call of it through
// `ptr`, and the status and detail it must fail with.
using Case = std::tuple<const char*, std::function<HRESULT(LONG*)>, HRESULT, LONG>;
// clang-format off
#define CALL(itf, ptr, op, args, status, detail) \
  Case(#itf "." #op, [&](LONG* d) { return ptr->op args; }, status, detail)
// clang-format on

// The database's own failures: the status and detail of each refused call,
// which counts one call under its own name, fails first with an injected
// fault, and changes nothing.
TEST(RefOperations, OwnFailuresReportTheirStatusAndDetailAndChangeNothing) {
  constexpr HRESULT kPtr = kStatusBadPointer, kArg = kStatusInvalidArgument, kFail = kStatusFailed;
  constexpr LONG kBad = kDetailBadArgument, kNone = kDetailNotFound, kType = kDetailWrongType;
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
  Bstr kept(u"N"), changed(u"M");
  in[0].rowID = rows[0];
  in[0].name = kept;
  ASSERT_EQ(S_OK, hv->SetRows(1, in, &d0));
  in[0].name = changed;
  memberIn.rowID = member;
  memberIn.comment.count = 1;       // entries missing
  auto spoilt = [&](auto change) {  // in[] with its second record spoilt
    in[1] = Row{};
    in[1].rowID = rows[1];
    change(in[1]);
    return in;
  };
  const std::vector<Case> cases = {
      CALL(Workspace, ws, GetDataObject, (bogus, &object, d), kFail, kNone),
      CALL(Workspace, ws, GetDataObject, (s.gvl, nullptr, d), kPtr, kBad),
      CALL(Workspace, ws, DeleteDataObject, (bogus, d), kFail, kNone),
      CALL(Workspace, ws, CreateDataObject, (bogus, nullptr, 14, 0, &id, d), kFail, kNone),
      CALL(Workspace, ws, CreateElementObject, (bogus, &id, d), kFail, kNone),
      CALL(Workspace, ws, CreateElementObject, (s.gvlX, &id, d), kFail, kType),
      CALL(Workspace, ws, GetChildIDList, (bogus, &n, nullptr, d), kFail, kNone),
      CALL(Workspace, ws, GetChildIDByType, (bogus, 13, &id, d), kFail, kNone),
      CALL(Workspace, ws, GetChildIDByType, (s.project, 21, &id, d), kStatusNoChild, kDetailNoSuchChild),
      CALL(Workspace, ws, GetParentID, (bogus, &id, d), kFail, kNone),
      CALL(Workspace, ws, GetObjectType, (bogus, &n, d), kFail, kNone),
      CALL(Workspace, ws, SetObjectName, (bogus, nullptr, d), kFail, kNone),
      CALL(Workspace, ws, GetObjectName, (bogus, &text, d), kFail, kNone),
      CALL(Workspace, ws, SetLastUpdateTime, (bogus, SYSTEMTIME{}, d), kFail, kNone),
      CALL(Workspace, ws, GetServiceObject, (bogus, VN_SERVICE_LABEL, &none, d), kFail, kNone),
      CALL(Workspace, ws, GetServiceObject, (s.Child(13), VN_SERVICE_LABEL, &none, d), kFail, kType),
      CALL(Workspace, ws, GetServiceObject, (s.project, 85, &none, d), kFail, kDetailNoSuchService),
      CALL(HighCapacityGlobalVariable, hv, AddRows, (-1, rows, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, AddRows, (1, nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, DeleteRows, (-1, rows, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, DeleteRows, (1, nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, DeleteRows, (2, liveAndGone, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, GetRowIDs, (0, 0, 0, -1, 0, rows, &n, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRowIDs, (0, 0, 0, 1, 0, nullptr, &n, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRowCount, (nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRows, (-1, rows, out, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRows, (1, rows, nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRows, (2, liveAndGone, out, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (-1, in, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (1, nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (2, spoilt([&](Row& r) { r.rowID = gone; }), d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (2, spoilt([](Row& r) { r.comment.count = 1; }), d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (2, spoilt([](Row& r) { r.comment.count = -1; }), d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetRows, (2, spoilt([](Row& r) { r.memberDeviceCount = -1; }), d), kArg,
           kBad),
      CALL(HighCapacityGlobalVariable, hv, SetRows,
           (2, spoilt([&](Row& r) { r.memberDevices = texts, r.memberDeviceCount = 1; }), d),  // no extras
           kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetArraySizeCount, (rows[0], nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetArraySizeCount, (gone, &n, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, GetArraySizes, (rows[0], -1, 1, sizes, &n, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetArraySizes, (rows[0], 1, 1, nullptr, &n, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetArraySizes, (gone, 1, 1, sizes, &n, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, SetArraySizes, (rows[0], -1, 1, sizes, d), kArg, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetArraySizes, (rows[0], 1, 1, nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, SetArraySizes, (gone, 1, 1, sizes, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, GetRowObjectID, (rows[0], nullptr, d), kPtr, kBad),
      CALL(HighCapacityGlobalVariable, hv, GetRowObjectID, (gone, &id, d), kFail, kNone),
      CALL(HighCapacityGlobalVariable, hv, GetRowObjectID, (rows[0], &id, d), kFail, kDetailNoSuchStructure),
      CALL(HighCapacityStructure, hc, GetRows, (1, &gone, &memberOut, d), kFail, kNone),
      CALL(HighCapacityStructure, hc, SetRows, (1, &memberIn, d), kArg, kBad),
  };
  const long objects = s.db.ObjectCount();
  for (const auto& [op, run, status, expectedDetail] : cases) {
    SCOPED_TRACE(op);
    s.db.Faults().ResetCounts();
    LONG detail = 0;
    EXPECT_EQ(status, run(&detail));
    EXPECT_EQ(expectedDetail, detail);
    s.db.Faults().Set(op, Fault{-9, 33});
    EXPECT_EQ(-9, run(&detail));
    EXPECT_EQ(33, detail);
    EXPECT_EQ(std::make_pair(2L, 2L), std::make_pair(s.db.Faults().Calls(op), s.db.Faults().TotalCalls()));
  }
  EXPECT_EQ(objects, s.db.ObjectCount());
  EXPECT_EQ(nullptr, out[0].name);                  // the refused GetRows handed back nothing
  ASSERT_EQ(S_OK, hv->GetRows(1, rows, out, &d0));  // the refused DeleteRows and SetRows changed nothing
  EXPECT_EQ(u"N", refdb_test::Take(out[0].name));
}

}  // namespace
