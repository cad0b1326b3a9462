// The fault table, and the database's own failures.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/RefdbFixtures.h"

namespace {

using namespace refdb;
namespace fx = refdb_fixtures;
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

// A call of a workspace or high-capacity GVL operation, under its name.
using Call = std::pair<const char*, std::function<HRESULT(LONG*)>>;
// clang-format off
#define WS(op, ...) Call("Workspace." #op, [&](LONG* d) { return ws->op(__VA_ARGS__, d); })
#define HV(op, ...) Call("HighCapacityGlobalVariable." #op, [&](LONG* d) { return hv->op(__VA_ARGS__, d); })
// clang-format on

// The database's own failures: the status and detail of each refused call,
// which counts one call under its own name, fails first with an injected
// fault, and changes nothing.
TEST(RefOperations, OwnFailuresReportTheirStatusAndDetailAndChangeNothing) {
  Sample s;
  IVNDataABS_Workspace* ws = s.db.Workspace();
  auto hv = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  const std::vector<LONG> ids = fx::AddRowsX(s.db, s.gvlX, std::vector<fx::VariableRowSpec>(2));
  LONG rows[2] = {ids[0], ids[1]}, d0 = 0;
  const LONG gone = rows[1] + 7, liveAndGone[2] = {rows[0], gone};
  STOBJECTID bogus = s.gvl, id{};
  bogus.dwWord[7] ^= 1;  // a real ID with one word changed
  IUnknown* object = nullptr;
  IVNDataABS_LabelService* none = nullptr;
  BSTR texts[1] = {};
  using Row = stVNGlobalVariableAndSystemLabelElementDataX;
  Row out[2] = {}, in[2] = {};
  in[0].rowID = rows[0], in[0].lineNo = 9;  // a change the refusals must not make
  auto spoilt = [&](auto change) {  // in[] with its second record spoilt
    in[1] = Row{};
    in[1].rowID = rows[1];
    change(in[1]);
    return in;
  };
  // Partial refusals (a live and a gone row, a good and a bad record) show
  // below that they changed nothing.
  // clang-format off
  const std::vector<std::pair<std::pair<HRESULT, LONG>, std::vector<Call>>> cases = {
      {{kStatusFailed, kDetailNotFound}, {
          WS(GetDataObject, bogus, &object), WS(DeleteDataObject, bogus), HV(DeleteRows, 2, liveAndGone),
          WS(CreateDataObject, bogus, nullptr, 14, 0, &id), HV(GetRows, 2, liveAndGone, out),
          HV(SetRows, 2, spoilt([&](Row& r) { r.rowID = gone; }))}},
      {{kStatusBadPointer, kDetailBadArgument}, {WS(GetDataObject, s.gvl, nullptr), HV(GetRows, 1, rows, nullptr)}},
      {{kStatusInvalidArgument, kDetailBadArgument}, {
          HV(AddRows, -1, rows), HV(SetRows, 2, spoilt([](Row& r) { r.comment.count = 1; })),
          // member devices without their extras
          HV(SetRows, 2, spoilt([&](Row& r) { r.memberDevices = texts, r.memberDeviceCount = 1; }))}},
      {{kStatusFailed, kDetailWrongType}, {WS(CreateElementObject, s.gvlX, &id)}},
      {{kStatusNoChild, kDetailNoSuchChild}, {WS(GetChildIDByType, s.project, 21, &id)}},
      {{kStatusFailed, kDetailNoSuchService}, {WS(GetServiceObject, s.project, 85, &none)}},
      {{kStatusFailed, kDetailNoSuchStructure}, {HV(GetRowObjectID, rows[0], &id)}},
  };
  // clang-format on
  const long objects = s.db.ObjectCount();
  for (const auto& [failure, calls] : cases) {
    for (const auto& [op, run] : calls) {
      SCOPED_TRACE(op);
      s.db.Faults().ResetCounts();
      LONG detail = 0;
      EXPECT_EQ(failure, std::make_pair(run(&detail), detail));
      s.db.Faults().Set(op, Fault{-9, 33});
      EXPECT_EQ(std::make_pair(-9, 33), std::make_pair(run(&detail), detail));
      EXPECT_EQ(std::make_pair(2L, 2L), std::make_pair(s.db.Faults().Calls(op), s.db.Faults().TotalCalls()));
    }
  }
  // Nothing was made or deleted, and the refused GetRows handed back nothing.
  EXPECT_EQ(std::make_pair(objects, BSTR{}), std::make_pair(s.db.ObjectCount(), out[0].dataTypeName));
  ASSERT_EQ(S_OK, hv->GetRows(1, rows, out, &d0));  // the refused DeleteRows and SetRows changed nothing
  EXPECT_EQ(0, out[0].lineNo);
  SysFreeString(out[0].dataTypeName);
}

}  // namespace
