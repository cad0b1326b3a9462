// Object-ID services against the reference database.
#include <gtest/gtest.h>

#include <memory>

#include "component/KX9ComFuncLabelStructure.h"
#include "support/RefdbFixtures.h"

namespace {
struct IdsTag;
}
template <>
struct KX9TestAccess<IdsTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG List(C& o, STOBJECTID id, LONG& n, STOBJECTID** p) { return o.GetCollectionList(id, n, p); }
  static LONG Parent(C& o, LONG t) { return o.GetParentCollectionType(t); }
  static LONG Child(C& o, LONG t) { return o.GetChildCollectionType(t); }
  static ULONG Type(C& o, STOBJECTID id, LONG& t) { return o.GetDataType(id, t); }
  static ULONG ParentID(C& o, STOBJECTID id, STOBJECTID& p) { return o.GetParentDataID(id, p); }
  static ULONG Stamp(C& o, STOBJECTID id) { return o.SetUpdateTime(id); }
  static ULONG GetName(C& o, STOBJECTID id, CString& s) { return o.GetVariableName(id, s); }
  static ULONG SetName(C& o, STOBJECTID id, CString s) { return o.SetVariableName(id, s); }
};

namespace {
using A = KX9TestAccess<IdsTag>;
using C = CKX9ComFuncLabelStructure;
namespace fx = refdb_fixtures;

STOBJECTID Key(DWORD low, DWORD high) {
  STOBJECTID id = STOBJECTID::Null();
  id.dwWord[0] = low;
  id.dwWord[1] = high;
  return id;
}

struct IdsTest : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  C orphan{nullptr};
  void SetUp() override { labels.Initialize(project); }
  STOBJECTID ChildOf(STOBJECTID parent, LONG type) {
    STOBJECTID c = STOBJECTID::Null();
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->GetChildIDByType(parent, type, &c, &detail), S_OK);
    return c;
  }
  STOBJECTID ParentOf(STOBJECTID id) {
    STOBJECTID p = STOBJECTID::Null();
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->GetParentID(id, &p, &detail), S_OK);
    return p;
  }
  bool Stamped(STOBJECTID id, SYSTEMTIME* t = nullptr) {
    SYSTEMTIME local{};
    return db.LastUpdateTime(id, t ? t : &local);
  }
};

TEST_F(IdsTest, CollectionListTwoPassesAndFailures) {
  STOBJECTID sentinel = Key(1, 1), *ids = &sentinel;
  LONG count = -7;
  db.Faults().ResetCounts();
  EXPECT_EQ(A::List(labels, ChildOf(project, VN_TYPE_SDT_COLLECTION), count, &ids), KX9_OK);
  EXPECT_TRUE(count == 0 && ids == nullptr);  // empty: one call, no array
  EXPECT_EQ(db.Faults().Calls("Workspace.GetChildIDList"), 1);

  const STOBJECTID first = fx::AddClassicGVL(db, project, u"G1");
  const STOBJECTID second = fx::AddClassicGVL(db, project, u"G2");
  const STOBJECTID gvls = ParentOf(first);
  EXPECT_EQ(A::List(labels, gvls, count, &ids), KX9_OK);
  ASSERT_EQ(count, 2);
  std::unique_ptr<STOBJECTID[]> owned(ids);
  EXPECT_TRUE(ids[0] == first && ids[1] == second);
  for (int nth : {1, 2}) {  // counting pass, then filling pass (its array released)
    db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{1, 9, nth, 1});
    ids = &sentinel;
    EXPECT_EQ(A::List(labels, gvls, count, &ids), KX9_ERR_DB) << nth;
    EXPECT_TRUE(ids == nullptr && count == 0) << nth;
  }
}

TEST_F(IdsTest, TypesAndParents) {
  const STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G");
  const STOBJECTID variable = fx::AddClassicVariable(db, gvl, {});
  db.Faults().ResetCounts();
  LONG type = -1;
  EXPECT_EQ(A::Type(labels, STOBJECTID::Null(), type), KX9_ERR_ARG);
  EXPECT_EQ(A::Type(labels, variable, type), KX9_OK);  // type-carrying: answered from the key
  EXPECT_EQ(type, VN_TYPE_GLOBAL_VARIABLE);
  EXPECT_EQ(A::Type(orphan, Key(21, 0xFFABCDEFu), type), KX9_OK);
  EXPECT_EQ(type, 21);
  EXPECT_EQ(A::Type(labels, Key(0, 0xFF000000u), type), KX9_OK);  // the typeless key
  EXPECT_EQ(type, 21);
  EXPECT_EQ(db.Faults().Calls("Workspace.GetObjectType"), 0);
  EXPECT_EQ(A::Type(labels, gvl, type), KX9_OK);
  EXPECT_EQ(type, VN_TYPE_GVL);
  db.Faults().Set("Workspace.GetObjectType", refdb::Fault{1, 44});
  EXPECT_EQ(A::Type(labels, gvl, type), KX9_ERR_DB);

  STOBJECTID parent = Key(9, 9);
  EXPECT_EQ(A::ParentID(labels, gvl, parent), KX9_OK);
  EXPECT_EQ(parent, ParentOf(gvl));
  for (LONG detail : {1234, 0}) {  // the detail is the result, even 0
    db.Faults().Set("Workspace.GetParentID", refdb::Fault{E_FAIL, detail});
    EXPECT_EQ(A::ParentID(labels, gvl, parent), static_cast<ULONG>(detail));
    EXPECT_TRUE(parent.IsNull());
  }

  for (LONG series : {0, 2, 1}) {
    labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(series));
    const bool x = series == 1;
    EXPECT_EQ(A::Parent(labels, 14), x ? VN_TYPE_GVL_COLLECTION_X : 13);
    EXPECT_EQ(A::Parent(labels, 16), x ? 16 : 15);
    EXPECT_EQ(A::Parent(labels, 18), x ? VN_TYPE_SDT_COLLECTION_X : 17);
    EXPECT_EQ(A::Parent(labels, 20), x ? 20 : 19);
    EXPECT_EQ(A::Parent(labels, 13), 13);
    EXPECT_EQ(A::Parent(labels, -1), -1);
    EXPECT_EQ(A::Child(labels, 14), 15);
    EXPECT_EQ(A::Child(labels, 18), 19);
    EXPECT_EQ(A::Child(labels, 16), 16);
  }
}

TEST_F(IdsTest, UpdateTimeStampsTheChangedLists) {
  const STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G");
  const STOBJECTID variable = fx::AddClassicVariable(db, gvl, {});
  const STOBJECTID sdt = fx::AddClassicSDT(db, project, u"S");
  const STOBJECTID member = fx::AddClassicMember(db, sdt, {});
  db.Faults().ResetCounts();

  EXPECT_EQ(A::Stamp(labels, gvl), KX9_OK);  // the collection of GVLs and the GVL, one time
  SYSTEMTIME tCollection{}, tGvl{};
  ASSERT_TRUE(Stamped(ParentOf(gvl), &tCollection) && Stamped(gvl, &tGvl));
  EXPECT_EQ(std::memcmp(&tCollection, &tGvl, sizeof tGvl), 0);
  EXPECT_EQ(tGvl.wMilliseconds, 0);
  EXPECT_GE(tGvl.wYear, 2024);
  EXPECT_EQ(A::Stamp(labels, member), KX9_OK);  // an element stamps its SDT only
  EXPECT_TRUE(Stamped(sdt) && !Stamped(ParentOf(sdt)) && !Stamped(ParentOf(member)) && !Stamped(member));
  EXPECT_EQ(A::Stamp(labels, ParentOf(variable)), KX9_OK);  // a collection stamps itself
  EXPECT_TRUE(Stamped(ParentOf(variable)) && !Stamped(variable));
  EXPECT_EQ(db.Faults().Calls("Workspace.SetLastUpdateTime"), 4);

  EXPECT_EQ(A::Stamp(labels, Key(21, 0xFF000000u)), KX9_ERR_TYPE);
  EXPECT_EQ(A::Stamp(labels, project), KX9_ERR_TYPE);
  EXPECT_EQ(A::Stamp(labels, STOBJECTID::Null()), KX9_ERR_ARG);
  for (int nth : {1, 2}) {  // either parent lookup: its detail, nothing stamped
    db.Faults().Set("Workspace.GetParentID", refdb::Fault{E_FAIL, 55, nth, 1});
    EXPECT_EQ(A::Stamp(labels, variable), 55u) << nth;
  }
  EXPECT_EQ(db.Faults().Calls("Workspace.SetLastUpdateTime"), 4);
  const STOBJECTID fresh = fx::AddClassicGVL(db, project, u"H");
  db.Faults().Set("Workspace.SetLastUpdateTime", refdb::Fault{1, 3, 2, 1});  // the second stamp fails
  EXPECT_EQ(A::Stamp(labels, fresh), KX9_ERR_DB);
  EXPECT_TRUE(Stamped(ParentOf(fresh)) && !Stamped(fresh));
}

TEST_F(IdsTest, NamesRoundTripAndFreeEveryString) {
  const STOBJECTID gvl = fx::AddClassicGVL(db, project, u"Before");
  const long bstrs = PlatformLiveBstrCount();
  const CString wanted(u"\u30e9\u30d9\u30eb_\u00e9 x");
  CString name(u"stale");
  EXPECT_EQ(A::GetName(labels, gvl, name), KX9_OK);
  EXPECT_EQ(name, CString(u"Before"));
  EXPECT_EQ(A::SetName(labels, gvl, wanted), KX9_OK);
  db.Faults().Set("Workspace.SetObjectName", refdb::Fault{1, 8});
  EXPECT_EQ(A::SetName(labels, gvl, u"Other"), KX9_ERR_DB);
  EXPECT_EQ(A::GetName(labels, gvl, name), KX9_OK);
  EXPECT_EQ(name, wanted);
  db.Faults().Set("Workspace.GetObjectName", refdb::Fault{E_FAIL, 8});
  EXPECT_EQ(A::GetName(labels, gvl, name), KX9_ERR_DB);
  EXPECT_EQ(name, wanted);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
}
}  // namespace
