// Element operations of the classic path, against the reference database.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct ElemOpsTag;
}

template <>
struct KX9TestAccess<ElemOpsTag> {
  using C = CKX9ComFuncLabelStructure;
  using R = _STKX9LABELSTRUCTUREBASEDATA;
  static ULONG Get(C& o, STOBJECTID id, C::CElementArray& a) { return o.GetDataElement(id, a); }
  static ULONG Delete(C& o, STOBJECTID id) { return o.DeleteDataElement(id); }
  static ULONG Create(C& o, STOBJECTID id, LONG t, R* r) { return o.CreateDataElement(id, t, r); }
  static ULONG GetGVL(C& o, STOBJECTID id, R** r) { return o.GetDataElementGVL(id, r); }
  static ULONG SetGVL(C& o, STOBJECTID id, R* r) { return o.SetDataElementGVL(id, r); }
  static ULONG GetSDT(C& o, STOBJECTID id, R** r) { return o.GetDataElementSDT(id, r); }
  static ULONG SetSDT(C& o, STOBJECTID id, R* r) { return o.SetDataElementSDT(id, r); }
  static C::CGVLDataArray& Collected(C& o) { return o.m_arrDeleteSystemLabel; }
  static ULONG CreateAll(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.CreateAllData(n, p); }
};

namespace {
using A = KX9TestAccess<ElemOpsTag>;
using C = CKX9ComFuncLabelStructure;
using GVL = _STKX9LABELSTRUCTUREGVLDATA;
using SDT = _STKX9LABELSTRUCTURESDTDATA;
using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
namespace fx = refdb_fixtures;

// Owns the records of an element array as the kind of its datum.
struct Elements {
  LONG kind;
  C::CElementArray arr;
  explicit Elements(LONG k) : kind(k) {}
  ~Elements() {
    for (int i = 0; i < arr.GetSize(); ++i) KX9DeleteElement(kind, arr[i]);
  }
  GVL& Var(int i) { return *static_cast<GVL*>(arr[i]); }
};

struct ElemOpsFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrsAtStart = PlatformLiveBstrCount();
  STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G");
  STOBJECTID sdt = fx::AddClassicSDT(db, project, u"Motor");

  void SetUp() override { labels.Initialize(project); }
  void TearDown() override {
    for (int i = 0; i < A::Collected(labels).GetSize(); ++i) delete A::Collected(labels)[i];
    EXPECT_EQ(PlatformLiveBstrCount(), bstrsAtStart);
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  STOBJECTID ChildOf(STOBJECTID parent, LONG type) {
    STOBJECTID id{};
    LONG d = 0;
    db.Workspace()->GetChildIDByType(parent, type, &id, &d);
    return id;
  }
  STOBJECTID Variable(const char16_t* name, LONG status) {
    fx::VariableSpec desc;
    desc.name = name;
    desc.systemLabel.status = status;
    return fx::AddClassicVariable(db, gvl, desc);
  }
};

TEST_F(ElemOpsFixture, VariablesAndMembersRoundTripThroughTheDatabase) {
  SDT member;
  member.name = u"speed", member.dataTypeName = u"DINT", member.initData = u"5";
  ASSERT_EQ(A::Create(labels, sdt, KX9_DATATYPE_SDT, &member), KX9_OK);
  GVL simple, structured, bare;
  simple.lineNo = 7, simple.name = u"a", simple.classKeyword = 2, simple.dataTypeName = u"WORD";
  simple.initData = u"3", simple.remark = u"rem", simple.exAccess = u"1";
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) simple.comments[i] = CString(u'c', i + 1);
  for (const char16_t* d : {u"D0", u"D1", u"D2"}) simple.devices.Add(Dev{d, u"x"});
  simple.systemLabel.status = 5, simple.systemLabel.name = u"sys", simple.systemLabel.comment = u"no";
  structured.name = u"m", structured.structType = 1, structured.dataTypeName = u"Motor";
  for (const char16_t* d : {u"M0", u"M1"}) structured.devices.Add(Dev{d, u""});
  bare.name = u"b";
  for (GVL* r : {&simple, &structured, &bare}) ASSERT_EQ(A::Create(labels, gvl, KX9_DATATYPE_GVL, r), KX9_OK);
  ASSERT_EQ(A::Create(labels, gvl, 0, &simple), KX9_OK);  // an empty element, nothing written

  Elements vars(KX9_DATATYPE_GVL);
  ASSERT_EQ(A::Get(labels, gvl, vars.arr), KX9_OK);
  ASSERT_EQ(vars.arr.GetSize(), 4);
  const GVL& a = vars.Var(0);
  EXPECT_TRUE(a.lineNo == 7 && a.name == u"a" && a.classKeyword == 2 && a.dataTypeName == u"WORD" &&
              a.initData == u"3" && a.remark == u"rem" && a.exAccess == u"1" && a.reservedText == u"0");
  EXPECT_EQ(a.comments[0], u"c");
  for (int i = 1; i < KX9_COMMENT_COUNT; ++i) EXPECT_TRUE(a.comments[i].IsEmpty()) << i;
  ASSERT_EQ(a.devices.GetSize(), 1);  // only the first device of a simple variable
  EXPECT_EQ(a.devices[0].device, u"D0");
  EXPECT_TRUE(a.systemLabel.status == 5 && a.systemLabel.name == u"sys" && a.systemLabel.comment.IsEmpty());
  ASSERT_EQ(vars.Var(1).devices.GetSize(), 2);
  EXPECT_EQ(vars.Var(1).devices[1].device, u"M1");
  ASSERT_EQ(vars.Var(2).devices.GetSize(), 1);  // its own, empty device
  EXPECT_TRUE(vars.Var(2).devices[0].device.IsEmpty() && vars.Var(3).name.IsEmpty());

  std::vector<STOBJECTID> ids(4);
  LONG n = 4, d = 0, code = 0;
  db.Workspace()->GetChildIDList(ChildOf(gvl, VN_TYPE_VARIABLE_COLLECTION), &n, ids.data(), &d);
  EXPECT_TRUE(db.TypeCode(ids[0], &code) && code == 4);
  EXPECT_TRUE(db.TypeCode(ids[1], &code) && code == 9);

  Elements members(KX9_DATATYPE_SDT);
  ASSERT_EQ(A::Get(labels, sdt, members.arr), KX9_OK);
  ASSERT_EQ(members.arr.GetSize(), 1);
  const SDT& s = *static_cast<SDT*>(members.arr[0]);
  EXPECT_TRUE(s.name == u"speed" && s.dataTypeName == u"DINT" && s.initData == u"5");

  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);  // variables without their system label
  _STKX9LABELSTRUCTUREBASEDATA* p = nullptr;
  ASSERT_EQ(A::GetGVL(labels, ids[0], &p), KX9_OK);
  std::unique_ptr<GVL> holder(static_cast<GVL*>(p));
  EXPECT_TRUE(holder->systemLabel.status == 0 && holder->name == u"a");
}

// Every failure row of the element operations: which database call fails
// (with a detail no code equals), or which allocation or interface is
// missing; the result; what the caller holds afterwards. The GVL holds v0
// and v1; a record read is handed over in `p` even when a field failed.
TEST_F(ElemOpsFixture, FailureRows) {
  const STOBJECTID v0 = Variable(u"v0", 0), v1 = Variable(u"v1", 0);
  const STOBJECTID vars = ChildOf(gvl, VN_TYPE_VARIABLE_COLLECTION);
  _STKX9LABELSTRUCTUREBASEDATA* const unset = reinterpret_cast<_STKX9LABELSTRUCTUREBASEDATA*>(&bstrsAtStart);
  _STKX9LABELSTRUCTUREBASEDATA* p = unset;
  GVL rec;
  rec.systemLabel.status = 3;
  SDT member;
  std::unique_ptr<Elements> got;
  const auto getGVL = [&] { return A::GetGVL(labels, v0, &p); };
  LONG kind = KX9_DATATYPE_GVL;  // of the record in p
  const auto getSDT = [&] { return A::GetSDT(labels, v0, (kind = KX9_DATATYPE_SDT, &p)); };
  const auto setGVL = [&] { return A::SetGVL(labels, v0, &rec); };
  const auto setSDT = [&] { return A::SetSDT(labels, v1, &member); };
  const auto walk = [&] { return A::Get(labels, gvl, (got = std::make_unique<Elements>(KX9_DATATYPE_GVL))->arr); };
  const auto none = [&] { return p == nullptr; };
  const auto any = [&] { return true; };
  const auto read = [&](const char16_t* name) { return [&p, name] { return p != nullptr && p->name == name; }; };
  const auto walked = [&](int n) { return [&got, n] { return got->arr.GetSize() == n; }; };
  const struct {
    const char* what;
    const char* op;  // the failing call, or null
    int nth;
    unsigned allocKinds;  // else the nth allocation of these kinds fails
    const IID* withheld;  // else v1 does not answer for this interface
    std::function<ULONG()> call;
    ULONG expected;
    std::function<bool()> left;
  } rows[] = {
      {"variable: no object", "Workspace.GetDataObject", 1, 0, nullptr, getGVL, KX9_ERR_NO_ELEMENT, none},
      {"variable: no record", nullptr, 1, kAllocNew, nullptr, getGVL, KX9_ERR_ALLOC, none},
      {"member: no object", "Workspace.GetDataObject", 1, 0, nullptr, getSDT, KX9_ERR_DB, none},
      {"member: no record", nullptr, 1, kAllocNew, nullptr, getSDT, KX9_ERR_ALLOC, none},
      {"variable write: no object", "Workspace.GetDataObject", 1, 0, nullptr, setGVL, KX9_ERR_DB, any},
      {"member write: no object", "Workspace.GetDataObject", 1, 0, nullptr, setSDT, KX9_ERR_DB, any},
      // The last field decides: an earlier failed field is lost.
      {"variable: an earlier field", "GlobalVariable.GetRemark", 1, 0, nullptr, getGVL, KX9_OK, read(u"v0")},
      {"variable: the last field", "Variable.GetExAccess", 1, 0, nullptr, getGVL, KX9_ERR_DB, read(u"v0")},
      {"member: the line stops name and comments", "Variable.GetLineNo", 1, 0, nullptr, getSDT, KX9_OK, read(u"")},
      {"variable write: an earlier field", "SystemLabel.SetName", 1, 0, nullptr, setGVL, KX9_OK, any},
      {"variable write: the last field", "Variable.SetExAccess", 1, 0, nullptr, setGVL, KX9_ERR_DB, any},
      {"member write: the line", "Variable.SetLineNo", 1, 0, nullptr, setSDT, KX9_OK, any},
      {"variable without its variable interface keeps no device", nullptr, 1, 0, &IVNDataABS_GlobalVariable::iid,
       [&] { return A::GetGVL(labels, v1, &p); }, KX9_OK,
       [&] { return p != nullptr && p->name == u"v1" && static_cast<GVL*>(p)->devices.IsEmpty(); }},
      // In a walk a failing element is destroyed and stops it; earlier ones stay.
      {"walk: the second element", "Variable.GetExAccess", 2, 0, nullptr, walk, KX9_ERR_DB, walked(1)},
      {"walk: the datum's type", "Workspace.GetObjectType", 1, 0, nullptr, walk, KX9_ERR_DB, walked(0)},
      {"walk: the element collection", "Workspace.GetChildIDByType", 1, 0, nullptr, walk, KX9_ERR_DB, walked(0)},
      {"walk: the ID list", "Workspace.GetChildIDList", 1, 0, nullptr, walk, KX9_ERR_DB, walked(0)},
      {"create: the element", "Workspace.CreateElementObject", 1, 0, nullptr,
       [&] { return A::Create(labels, gvl, KX9_DATATYPE_GVL, &rec); }, KX9_ERR_DB, any},
      // Deletion stops at a failure and leaves the collection.
      {"delete: an element", "Workspace.DeleteDataObject", 2, 0, nullptr, [&] { return A::Delete(labels, gvl); },
       KX9_ERR_DB, [&] { return db.Children(vars).size() == 1u; }},
      {"delete: the collection", "Workspace.DeleteDataObject", 2, 0, nullptr, [&] { return A::Delete(labels, gvl); },
       KX9_ERR_DB, [&] { return db.Exists(vars) && db.Children(vars).empty(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    db.Faults().ClearAll();
    if (row.op != nullptr) db.Faults().Set(row.op, refdb::Fault{-1, 0x4D2, row.nth, 1});
    if (row.withheld != nullptr) db.WithholdInterface(v1, *row.withheld);
    p = unset;
    {
      std::optional<AllocFailure> fail;
      if (row.allocKinds != 0) fail.emplace(row.nth, row.allocKinds);
      EXPECT_EQ(row.call(), row.expected);
    }
    EXPECT_TRUE(row.left());
    if (p != unset) KX9DeleteElement(kind, p);
    kind = KX9_DATATYPE_GVL;
    got.reset();
  }

  // An object of another type among the elements: 3, the earlier ones stay.
  const STOBJECTID other = fx::AddClassicGVL(db, project, u"O");
  fx::AddClassicVariable(db, other, {});
  STOBJECTID odd{};
  LONG d = 0;
  ASSERT_EQ(db.Workspace()->CreateDataObject(ChildOf(other, VN_TYPE_VARIABLE_COLLECTION), nullptr, 21, 0, &odd, &d), S_OK);
  Elements typed(KX9_DATATYPE_GVL), empty(KX9_DATATYPE_GVL);
  EXPECT_EQ(A::Get(labels, other, typed.arr), KX9_ERR_TYPE);
  EXPECT_EQ(typed.arr.GetSize(), 1);
  // An empty element collection is no elements; no element collection is 2.
  const STOBJECTID bare = fx::AddClassicGVL(db, project, u"E");
  EXPECT_EQ(A::Get(labels, bare, empty.arr), KX9_OK);
  ASSERT_EQ(db.Workspace()->DeleteDataObject(ChildOf(bare, VN_TYPE_VARIABLE_COLLECTION), &d), S_OK);
  EXPECT_EQ(A::Get(labels, bare, empty.arr), KX9_ERR_DB);
  EXPECT_EQ(empty.arr.GetSize(), 0);
}

TEST_F(ElemOpsFixture, DeletionCollectsSystemLabels) {
  for (auto [name, status] :
       std::vector<std::pair<const char16_t*, LONG>>{{u"v0", 5}, {u"v1", 4}, {u"v2", 13}, {u"v3", 2}})
    Variable(name, status);
  const STOBJECTID vars = ChildOf(gvl, VN_TYPE_VARIABLE_COLLECTION);
  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);

  EXPECT_EQ(A::Delete(labels, gvl), KX9_OK);
  EXPECT_FALSE(db.Exists(vars));
  EXPECT_TRUE(db.Exists(gvl));
  ASSERT_EQ(A::Collected(labels).GetSize(), 3);  // status 4 is not kept
  EXPECT_EQ(A::Collected(labels)[1]->name, u"v2");
  EXPECT_EQ(A::Collected(labels)[2]->systemLabel.status, 2);

  // Members carry no system labels; the SDT's collection goes too.
  fx::AddClassicMember(db, sdt, fx::MemberSpec{});
  const STOBJECTID members = ChildOf(sdt, VN_TYPE_MEMBER_COLLECTION);
  db.Faults().ResetCounts();
  EXPECT_EQ(A::Delete(labels, sdt), KX9_OK);
  EXPECT_FALSE(db.Exists(members));
  EXPECT_EQ(db.Faults().Calls("Workspace.GetDataObject"), 0);
}

TEST_F(ElemOpsFixture, HighCapacitySeriesHandsOverToRows) {
  const STOBJECTID gx = fx::AddGVLX(db, project, u"GX");
  fx::VariableRowSpec row;
  row.name = std::u16string(u"r"), row.systemLabel.status = 5;  // not a literal assignment: see ElementAccessors_test
  fx::AddRowsX(db, gx, {row, row});
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  Elements rows(KX9_DATATYPE_GVL);
  EXPECT_EQ(A::Get(labels, gx, rows.arr), KX9_OK);
  ASSERT_EQ(rows.arr.GetSize(), 2);
  EXPECT_TRUE(rows.Var(1).name == u"r" && rows.Var(1).systemLabel.status == 5);
  EXPECT_EQ(A::Delete(labels, gx), KX9_OK);
  EXPECT_TRUE(fx::ReadRowsX(db, gx).empty());
}

// The workspace is checked once, at the public entries. The helpers give
// their own results for inputs they refuse before the database is needed.
// Creates one datum of `type` without elements.
ULONG CreateOfType(C& o, LONG type) {
  _STKX9LABELSTRUCTURE d;
  d.dataType = type;
  return A::CreateAll(o, 1, &d);
}

TEST(ElemOpsWithoutWorkspace, RefusalsBeforeTheDatabaseKeepTheirResults) {
  struct Case {
    const char* what;
    C::KX9LabelCPUSeries series;
    ULONG (*call)(C&);
    ULONG expected;
  };
  const Case cases[] = {
      {"read a null datum", C::KX9LabelCPUSeriesStandard,
       [](C& o) {
         Elements none(KX9_DATATYPE_GVL);
         return A::Get(o, STOBJECTID::Null(), none.arr);
       },
       KX9_ERR_ARG},
      {"delete a null datum", C::KX9LabelCPUSeriesStandard, [](C& o) { return A::Delete(o, STOBJECTID::Null()); },
       KX9_ERR_ARG},
      {"create a datum of type 5", C::KX9LabelCPUSeriesStandard, [](C& o) { return CreateOfType(o, 5); }, KX9_ERR_TYPE},
      {"create rows of type 16", C::KX9LabelCPUSeriesX, [](C& o) { return CreateOfType(o, 16); }, KX9_ERR_TYPE},
  };
  for (const Case& c : cases) {
    C orphan(nullptr);
    orphan.SetCPUSeries(c.series);
    EXPECT_EQ(c.call(orphan), c.expected) << c.what;
  }
}
}  // namespace
