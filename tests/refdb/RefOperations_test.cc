// Every operation of the table is counted under its own name and fails on
// its own fault, through the interface that carries it.
#include "refdb/RefOperations.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "refdb/RefDatabase.h"
#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::CreateElement;
using refdb_test::CreateObject;
using refdb_test::Query;

TEST(RefOperations, EachOperationCountsAndFailsUnderItsOwnName) {
  RefDatabase db;
  const STOBJECTID p = db.NewProject(u"P");
  const STOBJECTID gvl = CreateObject(db, db.ChildOfType(p, 13), 14, u"G");
  const STOBJECTID var = CreateElement(db, gvl);
  const STOBJECTID gvlX = CreateObject(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14, u"X");
  const STOBJECTID sdtX = CreateObject(db, db.ChildOfType(p, VN_TYPE_SDT_COLLECTION_X), 18, u"S");
  IVNDataABS_Workspace* ws = db.Workspace();
  IVNDataABS_LabelService* service = nullptr;
  LONG d = 0;
  ASSERT_EQ(S_OK, ws->GetServiceObject(p, VN_SERVICE_LABEL, &service, &d));
  ComPtr<IVNDataABS_DeviceConversion> conv;
  ASSERT_TRUE(QueryInterfaceTo(service, conv));
  auto v = Query<IVNDataABS_Variable>(db, var);
  auto g = Query<IVNDataABS_GlobalVariable>(db, var);
  auto t = Query<IVNDataABS_VariableDataType>(db, var);
  auto s = Query<IVNDataABS_StructVariable>(db, var);
  auto l = Query<IVNDataABS_SystemLabel>(db, var);
  auto gd = Query<IVNDataABS_GenericData>(db, db.ChildOfType(p, 2));
  auto st = Query<IVNDataABS_Storage>(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X));
  auto gs = Query<IVNDataABS_GlobalLabelSetting>(db, db.ChildOfType(p, 13));
  auto hs = Query<IVNDataABS_HighCapacityLabelSetting>(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X));
  auto hv = Query<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX);
  auto hc = Query<IVNDataABS_HighCapacityStructure>(db, sdtX);
  LONG row = 0, memberRow = 0;
  ASSERT_EQ(S_OK, hv->AddRows(1, &row, &d));
  ASSERT_EQ(S_OK, hc->AddRows(1, &memberRow, &d));

  // Out values the calls may write to; texts that come back are freed below.
  STOBJECTID id{};
  IUnknown* object = nullptr;
  LONG n = 0;
  ULONG u = 0;
  WORD w = 0;
  LONGLONG big = 0;
  BSTR text = nullptr;
  BYTE* block = nullptr;
  BYTE bytes[4] = {};
  stVNArraySizeX size{};
  stVNLabelConversion req{};
  stVNGlobalVariableAndSystemLabelElementDataX varRow{};
  stVNStructElementDataX memberRowRec{};
  varRow.rowID = row;
  refdb_test::Bstr structName(u"S");
  varRow.dataTypeName = structName;  // written by SetRows before GetRowObjectID looks for it
  memberRowRec.rowID = memberRow;
  LONG ids[1] = {};

  using Call = std::function<HRESULT()>;
  const std::vector<std::pair<const char*, Call>> calls = {
      {"Workspace.GetDataObject", [&] { return ws->GetDataObject(gvl, &object, &d); }},
      {"Workspace.DeleteDataObject", [&] { return ws->DeleteDataObject(CreateObject(db, p, 99), &d); }},
      {"Workspace.CreateDataObject", [&] { return ws->CreateDataObject(p, nullptr, 99, 0, &id, &d); }},
      {"Workspace.CreateElementObject", [&] { return ws->CreateElementObject(gvl, &id, &d); }},
      {"Workspace.GetChildIDList", [&] { return ws->GetChildIDList(p, &n, nullptr, &d); }},
      {"Workspace.GetChildIDByType", [&] { return ws->GetChildIDByType(p, 13, &id, &d); }},
      {"Workspace.GetParentID", [&] { return ws->GetParentID(gvl, &id, &d); }},
      {"Workspace.GetObjectType", [&] { return ws->GetObjectType(gvl, &n, &d); }},
      {"Workspace.SetObjectName", [&] { return ws->SetObjectName(gvl, nullptr, &d); }},
      {"Workspace.GetObjectName", [&] { return ws->GetObjectName(p, &text, &d); }},
      {"Workspace.SetLastUpdateTime", [&] { return ws->SetLastUpdateTime(gvl, SYSTEMTIME{}, &d); }},
      {"Workspace.GetServiceObject", [&] { return ws->GetServiceObject(p, VN_SERVICE_LABEL, &service, &d); }},
      {"LabelService.GetBlock", [&] { return service->GetBlock(&n, &block, &d); }},
      {"LabelService.SetBlock", [&] { return service->SetBlock(0, nullptr, &d); }},
      {"LabelService.GetBlockSize", [&] { return service->GetBlockSize(&big, &d); }},
      {"DeviceConversion.ConvertLabels", [&] { return conv->ConvertLabels(0, &req, &d); }},
      {"Variable.SetLineNo", [&] { return v->SetLineNo(1, &d); }},
      {"Variable.GetLineNo", [&] { return v->GetLineNo(&u, &d); }},
      {"Variable.SetComment", [&] { return v->SetComment(nullptr, &d); }},
      {"Variable.GetComment", [&] { return v->GetComment(&text, &d); }},
      {"Variable.SetExAccess", [&] { return v->SetExAccess(1, &d); }},
      {"Variable.GetExAccess", [&] { return v->GetExAccess(&n, &d); }},
      {"GlobalVariable.SetInitData", [&] { return g->SetInitData(nullptr, &d); }},
      {"GlobalVariable.GetInitData", [&] { return g->GetInitData(&text, &d); }},
      {"GlobalVariable.SetTypeString", [&] { return g->SetTypeString(nullptr, &d); }},
      {"GlobalVariable.GetTypeString", [&] { return g->GetTypeString(&text, &d); }},
      {"GlobalVariable.SetRemark", [&] { return g->SetRemark(nullptr, &d); }},
      {"GlobalVariable.GetRemark", [&] { return g->GetRemark(&text, &d); }},
      {"GlobalVariable.SetClassKeyWord", [&] { return g->SetClassKeyWord(1, &d); }},
      {"GlobalVariable.GetClassKeyWord", [&] { return g->GetClassKeyWord(&n, &d); }},
      {"GlobalVariable.SetAllocatedDevice", [&] { return g->SetAllocatedDevice(nullptr, &d); }},
      {"GlobalVariable.GetAllocatedDevice", [&] { return g->GetAllocatedDevice(&text, &d); }},
      {"GlobalVariable.SetAllocatedDeviceExtra", [&] { return g->SetAllocatedDeviceExtra(nullptr, &d); }},
      {"GlobalVariable.GetAllocatedDeviceExtra", [&] { return g->GetAllocatedDeviceExtra(&text, &d); }},
      {"VariableDataType.SetTypeCode", [&] { return t->SetTypeCode(1, &d); }},
      {"VariableDataType.SetTypeName", [&] { return t->SetTypeName(nullptr, &d); }},
      {"VariableDataType.SetStructDefineID", [&] { return t->SetStructDefineID(sdtX, &d); }},
      {"StructVariable.SetStructKind", [&] { return s->SetStructKind(1, &d); }},
      {"StructVariable.GetStructKind", [&] { return s->GetStructKind(&n, &d); }},
      {"StructVariable.SetMemberDevices", [&] { return s->SetMemberDevices(nullptr, nullptr, 0, &d); }},
      {"StructVariable.GetMemberDevices", [&] { return s->GetMemberDevices(nullptr, nullptr, &n, &d); }},
      {"SystemLabel.SetName", [&] { return l->SetName(nullptr, &d); }},
      {"SystemLabel.GetName", [&] { return l->GetName(&text, &d); }},
      {"SystemLabel.SetProgramName", [&] { return l->SetProgramName(nullptr, &d); }},
      {"SystemLabel.GetProgramName", [&] { return l->GetProgramName(&text, &d); }},
      {"SystemLabel.SetComment", [&] { return l->SetComment(nullptr, &d); }},
      {"SystemLabel.GetComment", [&] { return l->GetComment(&text, &d); }},
      {"SystemLabel.SetRemark", [&] { return l->SetRemark(nullptr, &d); }},
      {"SystemLabel.GetRemark", [&] { return l->GetRemark(&text, &d); }},
      {"SystemLabel.SetValueType", [&] { return l->SetValueType(1, &d); }},
      {"SystemLabel.GetValueType", [&] { return l->GetValueType(&n, &d); }},
      {"SystemLabel.SetListID", [&] { return l->SetListID(1, &d); }},
      {"SystemLabel.GetListID", [&] { return l->GetListID(&n, &d); }},
      {"SystemLabel.SetID", [&] { return l->SetID(1, &d); }},
      {"SystemLabel.GetID", [&] { return l->GetID(&n, &d); }},
      {"SystemLabel.SetCPUID", [&] { return l->SetCPUID(1, &d); }},
      {"SystemLabel.GetCPUID", [&] { return l->GetCPUID(&n, &d); }},
      {"SystemLabel.SetProjectID", [&] { return l->SetProjectID(1, &d); }},
      {"SystemLabel.GetProjectID", [&] { return l->GetProjectID(&n, &d); }},
      {"SystemLabel.SetAttribute", [&] { return l->SetAttribute(1, &d); }},
      {"SystemLabel.GetAttribute", [&] { return l->GetAttribute(&w, &d); }},
      {"SystemLabel.SetValueSize", [&] { return l->SetValueSize(1, &d); }},
      {"SystemLabel.GetValueSize", [&] { return l->GetValueSize(&w, &d); }},
      {"SystemLabel.SetStatus", [&] { return l->SetStatus(1, &d); }},
      {"SystemLabel.GetStatus", [&] { return l->GetStatus(&n, &d); }},
      {"SystemLabel.SetLocalName", [&] { return l->SetLocalName(nullptr, &d); }},
      {"SystemLabel.GetLocalName", [&] { return l->GetLocalName(&text, &d); }},
      {"GenericData.GetGenericData", [&] { return gd->GetGenericData(1, &n, nullptr, &d); }},
      {"GenericData.SetGenericData", [&] { return gd->SetGenericData(1, 4, bytes, &d); }},
      {"Storage.Flush", [&] { return st->Flush(&d); }},
      {"GlobalLabelSetting.GetExternalFlag", [&] { return gs->GetExternalFlag(&n, &d); }},
      {"GlobalLabelSetting.SetExternalFlag", [&] { return gs->SetExternalFlag(1, &d); }},
      {"HighCapacityLabelSetting.GetExternalFlag", [&] { return hs->GetExternalFlag(&n, &d); }},
      {"HighCapacityGlobalVariable.AddRows", [&] { return hv->AddRows(0, nullptr, &d); }},
      {"HighCapacityGlobalVariable.DeleteRows", [&] { return hv->DeleteRows(0, ids, &d); }},
      {"HighCapacityGlobalVariable.GetRowIDs", [&] { return hv->GetRowIDs(1, 2, 1, 1, 0, ids, &n, &d); }},
      {"HighCapacityGlobalVariable.GetRowCount", [&] { return hv->GetRowCount(&n, &d); }},
      {"HighCapacityGlobalVariable.GetRows", [&] { return hv->GetRows(0, ids, &varRow, &d); }},
      {"HighCapacityGlobalVariable.SetRows", [&] { return hv->SetRows(1, &varRow, &d); }},
      {"HighCapacityGlobalVariable.GetArraySizeCount", [&] { return hv->GetArraySizeCount(row, &n, &d); }},
      {"HighCapacityGlobalVariable.GetArraySizes", [&] { return hv->GetArraySizes(row, 1, 1, &size, &n, &d); }},
      {"HighCapacityGlobalVariable.SetArraySizes", [&] { return hv->SetArraySizes(row, 0, 1, &size, &d); }},
      {"HighCapacityGlobalVariable.GetRowObjectID", [&] { return hv->GetRowObjectID(row, &id, &d); }},
      {"HighCapacityStructure.AddRows", [&] { return hc->AddRows(0, nullptr, &d); }},
      {"HighCapacityStructure.DeleteRows", [&] { return hc->DeleteRows(0, ids, &d); }},
      {"HighCapacityStructure.GetRowIDs", [&] { return hc->GetRowIDs(1, 2, 1, 1, 0, ids, &n, &d); }},
      {"HighCapacityStructure.GetRowCount", [&] { return hc->GetRowCount(&n, &d); }},
      {"HighCapacityStructure.GetRows", [&] { return hc->GetRows(0, ids, &memberRowRec, &d); }},
      {"HighCapacityStructure.SetRows", [&] { return hc->SetRows(1, &memberRowRec, &d); }},
  };
  ASSERT_EQ(static_cast<std::size_t>(refdb::kOperationCount), calls.size());
  std::set<std::string> covered;
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    covered.insert(name);
    db.Faults().ResetCounts();
    d = 0;
    EXPECT_EQ(S_OK, call());
    SysFreeString(text);
    text = nullptr;
    EXPECT_EQ(1, db.Faults().Calls(name));
    db.Faults().Set(name, refdb::Fault{-9, 33, 1, 1});
    d = 0;
    EXPECT_EQ(-9, call());
    EXPECT_EQ(33, d);
    EXPECT_EQ(2, db.Faults().Calls(name));
    // Some builders inside the calls (CreateObject) are database calls of their own.
    EXPECT_LE(2, db.Faults().TotalCalls());
  }
  EXPECT_EQ(refdb::FaultTable::OperationNames().size(), covered.size());
  v.Reset(), g.Reset(), t.Reset(), s.Reset(), l.Reset(), gd.Reset(), st.Reset(), gs.Reset(), hs.Reset();
  hv.Reset(), hc.Reset(), conv.Reset();
  EXPECT_EQ(0, db.OutstandingReferences());
}

}  // namespace
