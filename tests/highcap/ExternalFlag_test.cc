// The external equipment flag on both CPU series.
#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
using C = CKX9ComFuncLabelStructure;

struct FlagTest : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  void SetUp() override { labels.Initialize(project); }
  STOBJECTID Collection(LONG type) {
    STOBJECTID id = STOBJECTID::Null();
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->GetChildIDByType(project, type, &id, &detail), S_OK);
    return id;
  }
};

TEST_F(FlagTest, StandardSeriesReadsBackAnyValueAndReportsDetails) {
  LONG flag = 0;
  for (LONG value : {1, 0, 7, -5}) {
    EXPECT_EQ(labels.SetExternalEquipmentFlag(value), KX9_OK);
    EXPECT_EQ(labels.GetExternalEquipmentFlag(&flag), KX9_OK);
    EXPECT_EQ(flag, value);
  }
  const std::pair<const char*, bool> faults[] = {// operation, whether the setter runs
                                                 {"Workspace.GetChildIDByType", false},
                                                 {"Workspace.GetChildIDByType", true},
                                                 {"Workspace.GetDataObject", false},
                                                 {"Workspace.GetDataObject", true},
                                                 {"GlobalLabelSetting.GetExternalFlag", false},
                                                 {"GlobalLabelSetting.SetExternalFlag", true}};
  for (const auto& [op, set] : faults) {
    for (HRESULT status : {E_FAIL, HRESULT{1}}) {  // any non-zero status fails; the detail is the result
      db.Faults().Set(op, refdb::Fault{status, 0x77});
      EXPECT_EQ(set ? labels.SetExternalEquipmentFlag(9) : labels.GetExternalEquipmentFlag(&flag), 0x77u) << op;
    }
    db.Faults().Set(op, refdb::Fault{E_FAIL, 0});  // a failure without detail reads as 0
    EXPECT_EQ(set ? labels.SetExternalEquipmentFlag(9) : labels.GetExternalEquipmentFlag(&flag), KX9_OK) << op;
  }
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&flag), KX9_OK);
  EXPECT_EQ(flag, -5);  // no failed set got through

  db.WithholdInterface(Collection(VN_TYPE_GVL_COLLECTION), IVNDataABS_GlobalLabelSetting::iid);
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&flag), KX9_ERR_DB);
  EXPECT_EQ(labels.SetExternalEquipmentFlag(4), KX9_ERR_DB);
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

TEST_F(FlagTest, HighCapacitySeriesIsReadOnly) {
  EXPECT_EQ(labels.SetExternalEquipmentFlag(5), KX9_OK);  // the classic store, not read below
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  LONG before = 12345, after = 54321;
  db.Faults().ResetCounts();
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&before), KX9_OK);
  EXPECT_EQ(db.Faults().Calls("HighCapacityLabelSetting.GetExternalFlag"), 1);
  EXPECT_EQ(labels.SetExternalEquipmentFlag(before + 1), KX9_OK);
  EXPECT_EQ(db.Faults().TotalCalls(), 3);  // the set made no call
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&after), KX9_OK);
  EXPECT_EQ(after, before);
  EXPECT_NE(after, 5);

  db.Faults().Set("HighCapacityLabelSetting.GetExternalFlag", refdb::Fault{1, 73});
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&after), 73u);
  db.WithholdInterface(Collection(VN_TYPE_GVL_COLLECTION_X), IVNDataABS_HighCapacityLabelSetting::iid);
  EXPECT_EQ(labels.GetExternalEquipmentFlag(&after), KX9_ERR_DB);
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

// The flag pointer is the host's to get right: a null one goes to the
// database like any other, and its detail comes back.
TEST_F(FlagTest, FlagPointerIsPassedToTheDatabaseUnchecked) {
  for (auto series : {C::KX9LabelCPUSeriesStandard, C::KX9LabelCPUSeriesX}) {
    labels.SetCPUSeries(series);
    db.Faults().ResetCounts();
    EXPECT_EQ(labels.GetExternalEquipmentFlag(nullptr), static_cast<ULONG>(refdb::kDetailBadArgument));
    EXPECT_EQ(db.Faults().TotalCalls(), 3);  // child, object, flag
  }
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

TEST_F(FlagTest, MissingCollectionOrWorkspace) {
  refdb::RefDatabase bare;
  refdb::ProjectOptions options;
  options.classicCollections = false;
  C other(bare.Workspace());
  other.Initialize(bare.NewProject(u"No classic", options));
  LONG flag = 0;
  EXPECT_EQ(other.GetExternalEquipmentFlag(&flag), static_cast<ULONG>(refdb::kDetailNoSuchChild));
  EXPECT_EQ(other.SetExternalEquipmentFlag(1), static_cast<ULONG>(refdb::kDetailNoSuchChild));

  // Without a workspace only the X-series setter succeeds: it never needs one.
  C orphan(nullptr);
  struct {
    C::KX9LabelCPUSeries series;
    ULONG get, set;
  } const cases[] = {{C::KX9LabelCPUSeriesStandard, KX9_ERR_NO_WORKSPACE, KX9_ERR_NO_WORKSPACE},
                     {C::KX9LabelCPUSeriesX, KX9_ERR_NO_WORKSPACE, KX9_OK}};
  for (const auto& c : cases) {
    orphan.SetCPUSeries(c.series);
    EXPECT_EQ(orphan.GetExternalEquipmentFlag(&flag), c.get) << c.series;
    EXPECT_EQ(orphan.SetExternalEquipmentFlag(1), c.set) << c.series;
  }
}
}  // namespace
