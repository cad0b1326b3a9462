#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "refdb/RefDatabase.h"
#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::Fault;
using refdb::RefDatabase;
using refdb_test::Take;

// One cheap operation to drive the table through the database.
HRESULT TypeOf(RefDatabase& db, const STOBJECTID& id, LONG* type, LONG* detail) {
  *detail = 0;
  return db.Workspace()->GetObjectType(id, type, detail);
}

TEST(FaultTable, NthAndTimesSelectTheFailingCalls) {
  RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  db.Faults().Set("Workspace.GetObjectType", Fault{-7, 99, 3, 2});
  std::vector<HRESULT> statuses;
  std::vector<LONG> details;
  for (int i = 0; i < 6; ++i) {
    LONG type = 12345, detail = 0;
    statuses.push_back(TypeOf(db, project, &type, &detail));
    details.push_back(detail);
    // A failing call does nothing else: the out value stays as it was.
    if (statuses.back() != S_OK) EXPECT_EQ(12345, type);
    else EXPECT_EQ(1, type);
  }
  EXPECT_EQ((std::vector<HRESULT>{0, 0, -7, -7, 0, 0}), statuses);
  EXPECT_EQ((std::vector<LONG>{0, 0, 99, 99, 0, 0}), details);
  EXPECT_EQ(6, db.Faults().Calls("Workspace.GetObjectType"));
}

TEST(FaultTable, AlwaysFailsUntilClearedAndSetRestartsTheCount) {
  RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  LONG type = 0, detail = 0;
  db.Faults().Always("Workspace.GetObjectType", 5, 77);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(5, TypeOf(db, project, &type, &detail));
  EXPECT_EQ(77, detail);
  db.Faults().Clear("Workspace.GetObjectType");
  EXPECT_EQ(S_OK, TypeOf(db, project, &type, &detail));

  // Counting starts again at Set: nth = 2 is the second call after it.
  db.Faults().Set("Workspace.GetObjectType", Fault{-1, 1, 2, 1});
  EXPECT_EQ(S_OK, TypeOf(db, project, &type, &detail));
  EXPECT_EQ(-1, TypeOf(db, project, &type, &detail));
  EXPECT_EQ(S_OK, TypeOf(db, project, &type, &detail));

  db.Faults().Always("Workspace.GetObjectType", -2);
  db.Faults().ClearAll();
  EXPECT_EQ(S_OK, TypeOf(db, project, &type, &detail));
  // A fault of 0 times never fires.
  db.Faults().Set("Workspace.GetObjectType", Fault{-1, 1, 1, 0});
  EXPECT_EQ(S_OK, TypeOf(db, project, &type, &detail));
}

TEST(FaultTable, CountsEveryOperationSeparatelyAndResets) {
  RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  db.Faults().ResetCounts();
  LONG type = 0, detail = 0;
  BSTR name = nullptr;
  TypeOf(db, project, &type, &detail);
  TypeOf(db, project, &type, &detail);
  db.Workspace()->GetObjectName(project, &name, &detail);
  Take(name);
  EXPECT_EQ(2, db.Faults().Calls("Workspace.GetObjectType"));
  EXPECT_EQ(1, db.Faults().Calls("Workspace.GetObjectName"));
  EXPECT_EQ(0, db.Faults().Calls("Workspace.GetDataObject"));
  EXPECT_EQ(3, db.Faults().TotalCalls());
  db.Faults().ResetCounts();
  EXPECT_EQ(0, db.Faults().Calls("Workspace.GetObjectType"));
  EXPECT_EQ(0, db.Faults().TotalCalls());
}

TEST(FaultTable, UnknownOperationNamesAreRefused) {
  refdb::FaultTable table;
  EXPECT_THROW(table.Set("Workspace.GetDataObjct", Fault{}), std::invalid_argument);
  EXPECT_THROW(table.Calls("IVNDataABS_Workspace.GetDataObject"), std::invalid_argument);
  EXPECT_THROW(table.Always("Name.Member", -1), std::invalid_argument);
  EXPECT_EQ(-1, refdb::FaultTable::OperationIndex("Storage.flush"));

  auto names = refdb::FaultTable::OperationNames();
  std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(names.size(), unique.size());
  for (const char* op : {"Workspace.GetServiceObject", "LabelService.GetBlockSize", "DeviceConversion.ConvertLabels",
                         "Variable.GetExAccess", "GlobalVariable.SetAllocatedDeviceExtra",
                         "VariableDataType.SetStructDefineID", "StructVariable.GetMemberDevices",
                         "SystemLabel.GetLocalName", "GenericData.SetGenericData", "Storage.Flush",
                         "GlobalLabelSetting.SetExternalFlag", "HighCapacityLabelSetting.GetExternalFlag",
                         "HighCapacityGlobalVariable.GetRowObjectID", "HighCapacityStructure.SetRows"})
    EXPECT_EQ(1u, unique.count(op)) << op;
  // The string form of Hit reaches the same counters.
  HRESULT status = 0;
  LONG detail = 0;
  table.Set("Storage.Flush", Fault{-3, 4, 1, 1});
  EXPECT_TRUE(table.Hit("Storage.Flush", &status, &detail));
  EXPECT_EQ(-3, status);
  EXPECT_EQ(4, detail);
  EXPECT_FALSE(table.Hit("Storage.Flush", &status, &detail));
  EXPECT_EQ(2, table.Calls("Storage.Flush"));
}

}  // namespace
