// Object-ID services against the reference database.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

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
constexpr LONG kThrew = -1000;  // std::bad_alloc passed out to the host

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

TEST_F(IdsTest, CollectionListsTypesParentsAndNames) {
  STOBJECTID sentinel = Key(1, 1), *ids = &sentinel;
  LONG count = -7;
  db.Faults().ResetCounts();
  EXPECT_EQ(A::List(labels, ChildOf(project, VN_TYPE_SDT_COLLECTION), count, &ids), KX9_OK);
  EXPECT_TRUE(count == 0 && ids == nullptr);  // empty: one call, no array
  EXPECT_EQ(db.Faults().Calls("Workspace.GetChildIDList"), 1);
  const STOBJECTID first = fx::AddClassicGVL(db, project, u"G1");
  const STOBJECTID second = fx::AddClassicGVL(db, project, u"G2");
  EXPECT_EQ(A::List(labels, ParentOf(first), count, &ids), KX9_OK);
  ASSERT_EQ(count, 2);
  std::unique_ptr<STOBJECTID[]> owned(ids);
  EXPECT_TRUE(ids[0] == first && ids[1] == second);

  const STOBJECTID variable = fx::AddClassicVariable(db, first, {});
  db.Faults().ResetCounts();
  LONG type = -1;
  EXPECT_EQ(A::Type(labels, variable, type), KX9_OK);  // type-carrying: answered from the key
  EXPECT_EQ(type, VN_TYPE_GLOBAL_VARIABLE);
  EXPECT_EQ(A::Type(orphan, Key(21, 0xFFABCDEFu), type), KX9_OK);
  EXPECT_EQ(type, 21);
  EXPECT_EQ(A::Type(labels, Key(0, 0xFF000000u), type), KX9_OK);  // the typeless key
  EXPECT_EQ(type, 21);
  EXPECT_EQ(db.Faults().Calls("Workspace.GetObjectType"), 0);
  EXPECT_EQ(A::Type(labels, first, type), KX9_OK);
  EXPECT_EQ(type, VN_TYPE_GVL);
  STOBJECTID parent = Key(9, 9);
  EXPECT_EQ(A::ParentID(labels, first, parent), KX9_OK);
  EXPECT_EQ(parent, ParentOf(first));

  for (LONG series : {0, 2, 1}) {
    labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(series));
    const bool x = series == 1;
    EXPECT_EQ(std::vector<LONG>({A::Parent(labels, 14), A::Parent(labels, 16), A::Parent(labels, 18),
                                 A::Parent(labels, 20), A::Parent(labels, 13), A::Parent(labels, -1)}),
              std::vector<LONG>({x ? VN_TYPE_GVL_COLLECTION_X : 13, x ? 16 : 15, x ? VN_TYPE_SDT_COLLECTION_X : 17,
                                 x ? 20 : 19, 13, -1}));
    EXPECT_EQ(std::vector<LONG>({A::Child(labels, 14), A::Child(labels, 18), A::Child(labels, 16)}),
              std::vector<LONG>({15, 19, 16}));
  }

  const long bstrs = PlatformLiveBstrCount();
  const CString wanted(u"\u30e9\u30d9\u30eb_\u00e9 x");
  CString name(u"stale");
  EXPECT_EQ(A::GetName(labels, first, name), KX9_OK);
  EXPECT_EQ(name, CString(u"G1"));
  EXPECT_EQ(A::SetName(labels, first, wanted), KX9_OK);
  EXPECT_EQ(A::GetName(labels, first, name), KX9_OK);
  EXPECT_EQ(name, wanted);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
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
}

// Every failure row: which database call fails (status, detail), or which
// allocation; the result; what the outputs and the project hold afterwards.
TEST_F(IdsTest, FailureRows) {
  const STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G");
  const STOBJECTID variable = fx::AddClassicVariable(db, gvl, {});
  const STOBJECTID gvls = ParentOf(gvl);
  STOBJECTID sentinel = Key(1, 1), *ids = nullptr, parent{};
  LONG count = -7, type = -1;
  CString name;
  const auto list = [&] {
    ids = &sentinel;
    const ULONG r = A::List(labels, gvls, count, &ids);
    delete[] (ids == &sentinel ? nullptr : ids);
    return r;
  };
  const auto stamp = [&] { return A::Stamp(labels, gvl); };
  const auto rename = [&] { return A::SetName(labels, gvl, u"Other"); };
  const auto noList = [&] { return ids == nullptr && count == 0; };
  const auto unstamped = [&] { return !Stamped(gvl); };
  const auto nameKept = [&] { return db.ObjectName(gvl) == u"G" && name == u"kept"; };
  const struct {
    const char* what;
    const char* op;  // the failing call, or null
    refdb::Fault fault;
    unsigned allocKinds;  // else the nth allocation of these kinds fails
    std::function<ULONG()> call;
    LONG expected;
    std::function<bool()> left;
  } rows[] = {
      {"list: counting pass", "Workspace.GetChildIDList", {1, 0x4D2, 1, 1}, 0, list, KX9_ERR_DB, noList},
      {"list: filling pass", "Workspace.GetChildIDList", {-1, 0x4D2, 2, 1}, 0, list, KX9_ERR_DB, noList},
      {"list: the array", nullptr, {0, 0, 1, 1}, kAllocNew, list, KX9_ERR_ALLOC, noList},
      {"type of a null ID", nullptr, {}, 0, [&] { return A::Type(labels, STOBJECTID::Null(), type); }, KX9_ERR_ARG,
       [&] { return type == -1; }},
      {"type", "Workspace.GetObjectType", {1, 0x4D2, 1, 1}, 0, [&] { return A::Type(labels, gvl, type); },
       KX9_ERR_DB, [&] { return type == -1; }},
      // The parent lookup gives the database's detail, 0 included.
      {"parent", "Workspace.GetParentID", {E_FAIL, 0x4D2, 1, 1}, 0, [&] { return A::ParentID(labels, gvl, parent); },
       0x4D2, [&] { return parent.IsNull(); }},
      {"parent, no detail", "Workspace.GetParentID", {E_FAIL, 0, 1, 1}, 0,
       [&] { return A::ParentID(labels, gvl, parent = Key(9, 9)); }, KX9_OK, [&] { return parent.IsNull(); }},
      {"stamp: the element's list", "Workspace.GetParentID", {E_FAIL, 0x4D2, 1, 1}, 0,
       [&] { return A::Stamp(labels, variable); }, 0x4D2, unstamped},
      {"stamp: the list's owner", "Workspace.GetParentID", {E_FAIL, 0x4D2, 2, 1}, 0,
       [&] { return A::Stamp(labels, variable); }, 0x4D2, unstamped},
      {"stamp: the second stamp", "Workspace.SetLastUpdateTime", {1, 0x4D2, 2, 1}, 0, stamp, KX9_ERR_DB,
       [&] { return Stamped(gvls) && !Stamped(gvl); }},
      {"stamp: the typeless key", nullptr, {}, 0, [&] { return A::Stamp(labels, Key(21, 0xFF000000u)); }, KX9_ERR_TYPE,
       unstamped},
      {"stamp: the project", nullptr, {}, 0, [&] { return A::Stamp(labels, project); }, KX9_ERR_TYPE, unstamped},
      {"stamp: a null ID", nullptr, {}, 0, [&] { return A::Stamp(labels, STOBJECTID::Null()); }, KX9_ERR_ARG,
       unstamped},
      {"name read", "Workspace.GetObjectName", {E_FAIL, 0x4D2, 1, 1}, 0,
       [&] { return A::GetName(labels, gvl, name = u"kept"); }, KX9_ERR_DB, nameKept},
      {"name write", "Workspace.SetObjectName", {1, 0x4D2, 1, 1}, 0, rename, KX9_ERR_DB, nameKept},
      {"name write, no BSTR", nullptr, {0, 0, 1, 1}, kAllocBstr, rename, kThrew, nameKept},
  };
  const long bstrs = PlatformLiveBstrCount();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    db.Faults().ClearAll();
    if (row.op != nullptr) db.Faults().Set(row.op, row.fault);
    LONG result = 0;
    try {
      std::optional<AllocFailure> fail;
      if (row.allocKinds != 0) fail.emplace(row.fault.nth, row.allocKinds);
      result = static_cast<LONG>(row.call());
    } catch (const std::bad_alloc&) {
      result = kThrew;
    }
    EXPECT_EQ(result, row.expected);
    EXPECT_TRUE(row.left());
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  }
}
}  // namespace
