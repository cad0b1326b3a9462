// Construction, destruction, configuration and the high-capacity flush.
#include "component/KX9ComFuncLabelStructure.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include "refdb/RefDatabase.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {
struct LifecycleTag;
}
template <>
struct KX9TestAccess<LifecycleTag> {
  using C = CKX9ComFuncLabelStructure;
  static C& Check(C& o, IVNDataABS_Workspace* ws, const STOBJECTID& id, LONG mode, LONG series) {
    EXPECT_EQ(o.m_pWorkspace, ws);
    EXPECT_EQ(o.m_stObjectID, id);
    EXPECT_EQ(static_cast<LONG>(o.m_eMode), mode);
    EXPECT_EQ(static_cast<LONG>(o.m_eCPUSeries), series);
    EXPECT_EQ(o._isXSeriesCPU(), series == 1 ? 1 : 0) << series;
    return o;
  }
  static C::CGVLDataArray& SystemLabels(C& o) { return o.m_arrDeleteSystemLabel; }
  static C::CDynamicLabelArray& Labels(C& o) { return o.m_arrDynamicLabel; }
  static C::CDynamicStructMap& Structs(C& o) { return o.m_mapDynamicStruct; }
  static ULONG Flash(C& o) { return o.FlashDataBase(); }
};

namespace {
using A = KX9TestAccess<LifecycleTag>;
using C = CKX9ComFuncLabelStructure;

// Configuration is stored unchecked and makes no database call; only series
// 1 takes the X path.
TEST(LifecycleTest, DefaultsAndUncheckedConfiguration) {
  refdb::RefDatabase db;
  C labels(db.Workspace());
  A::Check(labels, db.Workspace(), STOBJECTID::Null(), 0, 0);
  EXPECT_TRUE(A::SystemLabels(labels).IsEmpty() && A::Labels(labels).IsEmpty() && A::Structs(labels).IsEmpty());
  STOBJECTID id = STOBJECTID::Null();
  id.dwWord[11] = 7;  // every word counts
  EXPECT_EQ(labels.Initialize(id), KX9_OK);
  for (LONG v : {1, 2, -1, 0}) {
    labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(v));
    labels.SetMode(static_cast<C::KX9LabelMode>(v));
    A::Check(labels, db.Workspace(), id, v, v);
  }
  EXPECT_EQ(db.Faults().TotalCalls(), 0);
}

TEST(LifecycleTest, DestructorDeletesDynamicLabelsOnly) {
  static_assert(std::has_virtual_destructor<C>::value, "hosts delete through a class pointer");
  _STKX9LABELSTRUCTUREGVLDATA systemLabel;  // the host's
  systemLabel.name = u"Sys";
  _STKX9DYNAMICSTRUCTURE structure;  // freed by ReleaseDynamicLabelStruct only
  std::vector<_STKX9DYNAMICLABELDATA*> records;
  C* labels = new C(nullptr);
  A::SystemLabels(*labels).Add(&systemLabel);
  A::Structs(*labels).SetAt(42, &structure);
  for (int i = 0; i < 8; ++i) {
    records.push_back(new _STKX9DYNAMICLABELDATA());
    records.back()->name = CString(u'D', 32 * 1024);  // large enough to see on the heap
    A::Labels(*labels).Add(records.back());
    A::Labels(*labels).Add(nullptr);
  }
#if defined(__SANITIZE_ADDRESS__)
  delete labels;  // a stack record deleted here would abort the run
  for (auto* p : records) EXPECT_TRUE(__asan_address_is_poisoned(p));
#else
  const long long before = static_cast<long long>(mallinfo2().uordblks);
  delete labels;
  EXPECT_GE(before - static_cast<long long>(mallinfo2().uordblks), 8LL * 32 * 1024 * 2);
#endif
  EXPECT_EQ(systemLabel.name, CString(u"Sys"));
}

// The flush reaches the database on the X path only; any non-zero status,
// a missing interface or a missing workspace is 2.
TEST(LifecycleTest, FlashDataBase) {
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"P");
  C labels(db.Workspace()), orphan(nullptr);
  labels.Initialize(project);
  for (LONG series : {0, 2, -1}) {
    labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(series));
    EXPECT_EQ(A::Flash(labels), KX9_OK);
  }
  EXPECT_EQ(db.Faults().TotalCalls(), 0);
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  orphan.SetCPUSeries(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(A::Flash(labels), KX9_OK);
  EXPECT_EQ(A::Flash(orphan), KX9_ERR_DB);
  for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "Storage.Flush"}) {
    for (HRESULT status : {E_FAIL, HRESULT{1}}) {
      db.Faults().Set(op, refdb::Fault{status, 1234});
      EXPECT_EQ(A::Flash(labels), KX9_ERR_DB) << op << " " << status;
    }
  }
  db.WithholdInterface(db.ChildOfType(project, VN_TYPE_GVL_COLLECTION_X), IVNDataABS_Storage::iid);
  EXPECT_EQ(A::Flash(labels), KX9_ERR_DB);
  EXPECT_EQ(db.FlushCount(project), 1);
  EXPECT_EQ(db.OutstandingReferences(), 0);
}
}  // namespace
