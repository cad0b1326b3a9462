// Generic data and the collection of system labels, against the reference
// database.
#include <gtest/gtest.h>

#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct CollectTag;
}

template <>
struct KX9TestAccess<CollectTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG SetGeneric(C& o, LONG n, const BYTE* p) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG ListLabels(C& o, STOBJECTID id) { return o.GetSystemLabelData(id); }
};

namespace {
using A = KX9TestAccess<CollectTag>;
using C = CKX9ComFuncLabelStructure;
namespace fx = refdb_fixtures;

struct CollectFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrsAtStart = PlatformLiveBstrCount();

  void SetUp() override { labels.Initialize(project); }
  void TearDown() override {
    C::CGVLDataArray all;  // the collected records are ours once handed out
    labels.GetDeleteSystemLabelInf(all);
    for (int i = 0; i < all.GetSize(); ++i) delete all[i];
    EXPECT_EQ(PlatformLiveBstrCount(), bstrsAtStart);
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  void Variable(STOBJECTID gvl, const char16_t* name, LONG status) {
    fx::VariableSpec desc;
    desc.name = name, desc.systemLabel.status = status;
    fx::AddClassicVariable(db, gvl, desc);
  }
  std::vector<std::u16string> Collected() {
    C::CGVLDataArray arr;
    labels.GetDeleteSystemLabelInf(arr);
    std::vector<std::u16string> names;
    for (int i = 0; i < arr.GetSize(); ++i) names.push_back(arr[i]->name.Str());
    return names;
  }
};

TEST_F(CollectFixture, GenericDataRoundTripAndFailureCodes) {
  LONG n = -1;
  BYTE* p = reinterpret_cast<BYTE*>(&n);  // untouched for an empty blob
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), KX9_OK);
  EXPECT_TRUE(n == 0 && p == reinterpret_cast<BYTE*>(&n));
  const BYTE blob[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(A::SetGeneric(labels, 6, blob), KX9_OK);
  p = nullptr;
  ASSERT_EQ(A::GetGeneric(labels, &n, &p), KX9_OK);
  ASSERT_EQ(n, 6);
  EXPECT_TRUE(std::equal(blob, blob + 6, p));
  delete[] p;

  // Each failing step reports the database's own code as it stands: a
  // detail of 0 makes the failure read as success.
  for (LONG detail : {77, 0}) {
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.GetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      p = nullptr;
      EXPECT_EQ(A::GetGeneric(labels, &n, &p), static_cast<ULONG>(detail)) << op;
      EXPECT_EQ(p, nullptr) << op;
    }
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.SetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      EXPECT_EQ(A::SetGeneric(labels, 6, blob), static_cast<ULONG>(detail)) << op;
    }
  }
  // The bytes fail after the length: the buffer is still the caller's.
  db.Faults().Set("GenericData.GetGenericData", refdb::Fault{-1, 80, 2, 1});
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), 80u);
  ASSERT_NE(p, nullptr);
  delete[] p;

  STOBJECTID gen{};
  LONG d = 0;
  db.Workspace()->GetChildIDByType(project, VN_TYPE_GENERIC_DATA, &gen, &d);
  db.WithholdInterface(gen, IVNDataABS_GenericData::iid);
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), KX9_ERR_DB);
  EXPECT_EQ(A::SetGeneric(labels, 6, blob), KX9_ERR_DB);

  C orphan(nullptr);
  EXPECT_EQ(orphan.GetAllSystemLabelData(), KX9_ERR_NO_WORKSPACE);
}

TEST_F(CollectFixture, CollectsEveryListInOrderAndAppendsOnEachCall) {
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);  // no lists yet
  EXPECT_TRUE(Collected().empty());
  const STOBJECTID g1 = fx::AddClassicGVL(db, project, u"G1"), g2 = fx::AddClassicGVL(db, project, u"G2");
  const STOBJECTID sdt = fx::AddClassicSDT(db, project, u"S");
  Variable(g1, u"a", 5), Variable(g1, u"b", 4), Variable(g1, u"c", 14), Variable(g2, u"d", 0), Variable(g2, u"e", 2);
  fx::AddClassicMember(db, sdt, fx::MemberSpec{});

  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(A::ListLabels(labels, sdt), KX9_OK);
  EXPECT_TRUE(Collected().empty());
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  EXPECT_EQ(Collected(), (std::vector<std::u16string>{u"a", u"c", u"e"}));
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  EXPECT_EQ(Collected(), (std::vector<std::u16string>{u"a", u"c", u"e", u"a", u"c", u"e"}));

  C::CGVLDataArray twice;  // handing out twice gives the same pointers twice
  labels.GetDeleteSystemLabelInf(twice);
  labels.GetDeleteSystemLabelInf(twice);
  ASSERT_EQ(twice.GetSize(), 12);
  EXPECT_EQ(twice[0], twice[6]);
}

TEST_F(CollectFixture, FailuresStopTheWalkAndKeepWhatWasCollected) {
  const STOBJECTID g1 = fx::AddClassicGVL(db, project, u"G1"), g2 = fx::AddClassicGVL(db, project, u"G2");
  Variable(g1, u"a", 3), Variable(g2, u"b", 3), Variable(fx::AddClassicGVL(db, project, u"G3"), u"c", 3);
  db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  EXPECT_TRUE(Collected().empty());

  // The second list's type cannot be read: the walk stops before the third.
  db.Faults().Set("Workspace.GetObjectType", refdb::Fault{-1, 0x4D2, 2, 1});
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  EXPECT_EQ(Collected(), std::vector<std::u16string>{u"a"});

  db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{-1, 0x4D2, 1, 1});  // no variable collection
  EXPECT_EQ(A::ListLabels(labels, g2), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetDataObject", refdb::Fault{-1, 0x4D2, 1, 1});  // an unreadable variable is skipped
  EXPECT_EQ(A::ListLabels(labels, g2), KX9_OK);
  EXPECT_EQ(Collected(), std::vector<std::u16string>{u"a"});
}

TEST_F(CollectFixture, HighCapacitySeriesCollectsFromRows) {
  fx::VariableRowSpec kept, dropped;
  kept.name = u"k", kept.systemLabel.status = 6;
  dropped.name = u"d", dropped.systemLabel.status = 7;
  fx::AddRowsX(db, fx::AddGVLX(db, project, u"GX"), {dropped, kept});
  Variable(fx::AddClassicGVL(db, project, u"G"), u"classic", 6);  // not on this path
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  EXPECT_EQ(Collected(), std::vector<std::u16string>{u"k"});
}

}  // namespace
