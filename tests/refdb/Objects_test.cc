#include <gtest/gtest.h>

#include "refdb/RefDatabase.h"
#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/AllocFailure.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Bstr;
using refdb_test::CreateElement;
using refdb_test::CreateObject;
using refdb_test::ObjectOf;
using refdb_test::Query;
using refdb_test::Take;

class RefObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    m_project = m_db.NewProject(u"P");
    m_gvl = CreateObject(m_db, m_db.ChildOfType(m_project, 13), 14, u"G");
    m_sdt = CreateObject(m_db, m_db.ChildOfType(m_project, 17), 18, u"T");
    m_var = CreateElement(m_db, m_gvl);
    m_member = CreateElement(m_db, m_sdt);
    m_bstrs = PlatformLiveBstrCount();
    m_taskMem = PlatformLiveTaskMemCount();
  }
  void TearDown() override {
    EXPECT_EQ(0, m_db.OutstandingReferences());
    EXPECT_EQ(m_bstrs, PlatformLiveBstrCount());
    EXPECT_EQ(m_taskMem, PlatformLiveTaskMemCount());
  }
  IVNDataABS_LabelService* Service() {
    IVNDataABS_LabelService* s = nullptr;
    LONG detail = 0;
    EXPECT_EQ(S_OK, m_db.Workspace()->GetServiceObject(m_project, VN_SERVICE_LABEL, &s, &detail));
    return s;
  }

  RefDatabase m_db;
  STOBJECTID m_project{}, m_gvl{}, m_sdt{}, m_var{}, m_member{};
  long m_bstrs = 0, m_taskMem = 0;
};

template <class T>
bool Answers(RefDatabase& db, const STOBJECTID& id) {
  return static_cast<bool>(Query<T>(db, id));
}

TEST_F(RefObjects, ElementsAnswerExactlyTheirInterfaces) {
  EXPECT_TRUE(Answers<IVNDataABS_Variable>(m_db, m_var));
  EXPECT_TRUE(Answers<IVNDataABS_GlobalVariable>(m_db, m_var));
  EXPECT_TRUE(Answers<IVNDataABS_VariableDataType>(m_db, m_var));
  EXPECT_TRUE(Answers<IVNDataABS_StructVariable>(m_db, m_var));
  EXPECT_TRUE(Answers<IVNDataABS_SystemLabel>(m_db, m_var));
  EXPECT_FALSE(Answers<IVNDataABS_GenericData>(m_db, m_var));
  EXPECT_FALSE(Answers<IVNDataABS_HighCapacityGlobalVariable>(m_db, m_var));

  EXPECT_TRUE(Answers<IVNDataABS_Variable>(m_db, m_member));
  EXPECT_TRUE(Answers<IVNDataABS_GlobalVariable>(m_db, m_member));
  EXPECT_TRUE(Answers<IVNDataABS_VariableDataType>(m_db, m_member));
  EXPECT_FALSE(Answers<IVNDataABS_StructVariable>(m_db, m_member));
  EXPECT_FALSE(Answers<IVNDataABS_SystemLabel>(m_db, m_member));

  // Collections and lists answer none of them; every object answers IUnknown.
  for (const STOBJECTID& id : {m_gvl, m_db.ChildOfType(m_gvl, 15), m_project}) {
    EXPECT_FALSE(Answers<IVNDataABS_Variable>(m_db, id));
    void* pv = nullptr;
    ASSERT_EQ(S_OK, ObjectOf(m_db, id)->QueryInterface(IID_IUnknown, &pv));
    EXPECT_EQ(ObjectOf(m_db, id), pv);
    static_cast<IUnknown*>(pv)->Release();
  }
}

TEST_F(RefObjects, EveryElementFieldIsKeptSeparately) {
  auto var = Query<IVNDataABS_Variable>(m_db, m_var);
  auto gv = Query<IVNDataABS_GlobalVariable>(m_db, m_var);
  auto sv = Query<IVNDataABS_StructVariable>(m_db, m_var);
  auto sl = Query<IVNDataABS_SystemLabel>(m_db, m_var);
  LONG d = 0;
  ASSERT_EQ(S_OK, var->SetLineNo(0xFFFFFFF0u, &d));
  ASSERT_EQ(S_OK, var->SetComment(Bstr(u"var comment"), &d));
  ASSERT_EQ(S_OK, var->SetExAccess(2, &d));
  ASSERT_EQ(S_OK, gv->SetInitData(Bstr(u"TRUE"), &d));
  ASSERT_EQ(S_OK, gv->SetTypeString(Bstr(u"BOOL"), &d));
  ASSERT_EQ(S_OK, gv->SetRemark(Bstr(u"var remark"), &d));
  ASSERT_EQ(S_OK, gv->SetClassKeyWord(-4, &d));
  ASSERT_EQ(S_OK, gv->SetAllocatedDevice(Bstr(u"M100"), &d));
  ASSERT_EQ(S_OK, gv->SetAllocatedDeviceExtra(Bstr(u"X1"), &d));
  ASSERT_EQ(S_OK, sv->SetStructKind(1, &d));
  ASSERT_EQ(S_OK, sl->SetName(Bstr(u"SL"), &d));
  ASSERT_EQ(S_OK, sl->SetProgramName(Bstr(u"Prog"), &d));
  ASSERT_EQ(S_OK, sl->SetComment(Bstr(u"sys comment"), &d));
  ASSERT_EQ(S_OK, sl->SetRemark(Bstr(u"sys remark"), &d));
  ASSERT_EQ(S_OK, sl->SetValueType(11, &d));
  ASSERT_EQ(S_OK, sl->SetListID(12, &d));
  ASSERT_EQ(S_OK, sl->SetID(13, &d));
  ASSERT_EQ(S_OK, sl->SetCPUID(14, &d));
  ASSERT_EQ(S_OK, sl->SetProjectID(15, &d));
  ASSERT_EQ(S_OK, sl->SetAttribute(0xBEEF, &d));
  ASSERT_EQ(S_OK, sl->SetValueSize(0x1234, &d));
  ASSERT_EQ(S_OK, sl->SetStatus(3, &d));
  ASSERT_EQ(S_OK, sl->SetLocalName(Bstr(u"Local"), &d));

  ULONG line = 0;
  LONG n = 0;
  WORD w = 0;
  BSTR t = nullptr;
  ASSERT_EQ(S_OK, var->GetLineNo(&line, &d));
  EXPECT_EQ(0xFFFFFFF0u, line);
  ASSERT_EQ(S_OK, var->GetComment(&t, &d));
  EXPECT_EQ(u"var comment", Take(t));
  ASSERT_EQ(S_OK, var->GetExAccess(&n, &d));
  EXPECT_EQ(2, n);
  ASSERT_EQ(S_OK, gv->GetInitData(&t, &d));
  EXPECT_EQ(u"TRUE", Take(t));
  ASSERT_EQ(S_OK, gv->GetTypeString(&t, &d));
  EXPECT_EQ(u"BOOL", Take(t));
  ASSERT_EQ(S_OK, gv->GetRemark(&t, &d));
  EXPECT_EQ(u"var remark", Take(t));
  ASSERT_EQ(S_OK, gv->GetClassKeyWord(&n, &d));
  EXPECT_EQ(-4, n);
  ASSERT_EQ(S_OK, gv->GetAllocatedDevice(&t, &d));
  EXPECT_EQ(u"M100", Take(t));
  ASSERT_EQ(S_OK, gv->GetAllocatedDeviceExtra(&t, &d));
  EXPECT_EQ(u"X1", Take(t));
  ASSERT_EQ(S_OK, sv->GetStructKind(&n, &d));
  EXPECT_EQ(1, n);
  ASSERT_EQ(S_OK, sl->GetName(&t, &d));
  EXPECT_EQ(u"SL", Take(t));
  ASSERT_EQ(S_OK, sl->GetProgramName(&t, &d));
  EXPECT_EQ(u"Prog", Take(t));
  ASSERT_EQ(S_OK, sl->GetComment(&t, &d));
  EXPECT_EQ(u"sys comment", Take(t));
  ASSERT_EQ(S_OK, sl->GetRemark(&t, &d));
  EXPECT_EQ(u"sys remark", Take(t));
  for (auto [get, want] : std::vector<std::pair<HRESULT (IVNDataABS_SystemLabel::*)(LONG*, LONG*), LONG>>{
           {&IVNDataABS_SystemLabel::GetValueType, 11},
           {&IVNDataABS_SystemLabel::GetListID, 12},
           {&IVNDataABS_SystemLabel::GetID, 13},
           {&IVNDataABS_SystemLabel::GetCPUID, 14},
           {&IVNDataABS_SystemLabel::GetProjectID, 15},
           {&IVNDataABS_SystemLabel::GetStatus, 3}}) {
    n = 0;
    ASSERT_EQ(S_OK, (sl.Get()->*get)(&n, &d));
    EXPECT_EQ(want, n);
  }
  ASSERT_EQ(S_OK, sl->GetAttribute(&w, &d));
  EXPECT_EQ(0xBEEF, w);
  ASSERT_EQ(S_OK, sl->GetValueSize(&w, &d));
  EXPECT_EQ(0x1234, w);
  ASSERT_EQ(S_OK, sl->GetLocalName(&t, &d));
  EXPECT_EQ(u"Local", Take(t));
  EXPECT_EQ(0, d);

  // A member keeps the fields of its three interfaces too.
  auto mv = Query<IVNDataABS_GlobalVariable>(m_db, m_member);
  ASSERT_EQ(S_OK, mv->SetTypeString(Bstr(u"INT"), &d));
  ASSERT_EQ(S_OK, mv->GetTypeString(&t, &d));
  EXPECT_EQ(u"INT", Take(t));
}

TEST_F(RefObjects, FreshElementsReadZerosAndNullTexts) {
  auto var = Query<IVNDataABS_Variable>(m_db, m_var);
  auto gv = Query<IVNDataABS_GlobalVariable>(m_db, m_var);
  auto sl = Query<IVNDataABS_SystemLabel>(m_db, m_var);
  LONG d = 0, n = 9;
  ULONG line = 9;
  WORD w = 9;
  BSTR t = reinterpret_cast<BSTR>(&d);
  ASSERT_EQ(S_OK, var->GetComment(&t, &d));
  EXPECT_EQ(nullptr, t);
  t = reinterpret_cast<BSTR>(&d);
  ASSERT_EQ(S_OK, gv->GetAllocatedDevice(&t, &d));
  EXPECT_EQ(nullptr, t);
  t = reinterpret_cast<BSTR>(&d);
  ASSERT_EQ(S_OK, sl->GetLocalName(&t, &d));
  EXPECT_EQ(nullptr, t);
  ASSERT_EQ(S_OK, var->GetLineNo(&line, &d));
  ASSERT_EQ(S_OK, gv->GetClassKeyWord(&n, &d));
  ASSERT_EQ(S_OK, sl->GetAttribute(&w, &d));
  EXPECT_EQ(0u, line);
  EXPECT_EQ(0, n);
  EXPECT_EQ(0, w);
  // Setting an empty text reads back as null as well.
  ASSERT_EQ(S_OK, gv->SetInitData(Bstr(u""), &d));
  ASSERT_EQ(S_OK, gv->GetInitData(&t, &d));
  EXPECT_EQ(nullptr, t);
  // A null out pointer is refused.
  EXPECT_EQ(E_POINTER, gv->GetInitData(nullptr, &d));
  EXPECT_EQ(refdb::kDetailBadArgument, d);
}

TEST_F(RefObjects, DataTypeSettersAreReadBack) {
  LONG code = 0;
  std::u16string name;
  STOBJECTID def{};
  EXPECT_FALSE(m_db.TypeCode(m_var, &code));
  EXPECT_FALSE(m_db.TypeName(m_var, &name));
  EXPECT_FALSE(m_db.StructDefineID(m_var, &def));
  auto dt = Query<IVNDataABS_VariableDataType>(m_db, m_var);
  LONG d = 0;
  ASSERT_EQ(S_OK, dt->SetTypeCode(9, &d));
  ASSERT_EQ(S_OK, dt->SetTypeName(Bstr(u"Pos"), &d));
  ASSERT_EQ(S_OK, dt->SetStructDefineID(m_sdt, &d));
  ASSERT_TRUE(m_db.TypeCode(m_var, &code));
  ASSERT_TRUE(m_db.TypeName(m_var, &name));
  ASSERT_TRUE(m_db.StructDefineID(m_var, &def));
  EXPECT_EQ(9, code);
  EXPECT_EQ(u"Pos", name);
  EXPECT_EQ(m_sdt, def);
  // A failing setter stores nothing.
  m_db.Faults().Set("VariableDataType.SetTypeCode", refdb::Fault{2, 5});
  EXPECT_EQ(2, dt->SetTypeCode(100, &d));
  EXPECT_EQ(5, d);
  ASSERT_TRUE(m_db.TypeCode(m_var, &code));
  EXPECT_EQ(9, code);
}

TEST_F(RefObjects, MemberDevicesCountThenFill) {
  auto sv = Query<IVNDataABS_StructVariable>(m_db, m_var);
  LONG d = 0, count = -1;
  ASSERT_EQ(S_OK, sv->GetMemberDevices(nullptr, nullptr, &count, &d));
  EXPECT_EQ(0, count);
  {
    Bstr d0(u"D0"), d1(u""), d2(u"D2"), e0(u"E0"), e1(u"E1");
    BSTR devices[] = {d0, d1, d2};
    BSTR extras[] = {e0, e1, nullptr};
    ASSERT_EQ(S_OK, sv->SetMemberDevices(devices, extras, 3, &d));
  }
  ASSERT_EQ(S_OK, sv->GetMemberDevices(nullptr, nullptr, &count, &d));
  EXPECT_EQ(3, count);
  BSTR devices[3] = {}, extras[3] = {};
  count = 2;
  ASSERT_EQ(S_OK, sv->GetMemberDevices(devices, extras, &count, &d));
  EXPECT_EQ(2, count);
  EXPECT_EQ(nullptr, devices[2]);
  ASSERT_NE(nullptr, devices[1]);  // empty texts still get a BSTR here
  EXPECT_EQ(u"D0", Take(devices[0]));
  EXPECT_EQ(u"", Take(devices[1]));
  EXPECT_EQ(u"E0", Take(extras[0]));
  EXPECT_EQ(u"E1", Take(extras[1]));
  count = 5;
  BSTR more[5] = {}, moreExtras[5] = {};
  ASSERT_EQ(S_OK, sv->GetMemberDevices(more, moreExtras, &count, &d));
  EXPECT_EQ(3, count);
  EXPECT_EQ(u"D2", Take(more[2]));
  EXPECT_EQ(u"", Take(moreExtras[2]));
  for (int i = 0; i < 2; ++i) {
    Take(more[i]);
    Take(moreExtras[i]);
  }
  EXPECT_EQ(E_POINTER, sv->SetMemberDevices(nullptr, nullptr, 1, &d));
  ASSERT_EQ(S_OK, sv->SetMemberDevices(nullptr, nullptr, 0, &d));
  ASSERT_EQ(S_OK, sv->GetMemberDevices(nullptr, nullptr, &count, &d));
  EXPECT_EQ(0, count);
}

TEST_F(RefObjects, LabelServiceKeepsACopyOfItsBlock) {
  IVNDataABS_LabelService* s = Service();
  LONG d = 0, size = -1;
  BYTE* data = reinterpret_cast<BYTE*>(&d);
  ASSERT_EQ(S_OK, s->GetBlock(&size, &data, &d));
  EXPECT_EQ(0, size);
  EXPECT_EQ(nullptr, data);
  LONGLONG big = -1;
  ASSERT_EQ(S_OK, s->GetBlockSize(&big, &d));
  EXPECT_EQ(0, big);

  std::vector<BYTE> bytes{1, 2, 3, 0, 5};
  ASSERT_EQ(S_OK, s->SetBlock(5, bytes.data(), &d));
  bytes[0] = 99;
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 0, 5}), m_db.ServiceBlock(m_project));
  ASSERT_EQ(S_OK, s->GetBlock(&size, &data, &d));
  ASSERT_EQ(5, size);
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 0, 5}), std::vector<BYTE>(data, data + size));
  EXPECT_EQ(m_taskMem + 1, PlatformLiveTaskMemCount());
  CoTaskMemFree(data);
  ASSERT_EQ(S_OK, s->GetBlockSize(&big, &d));
  EXPECT_EQ(5, big);
  m_db.SetReportedBlockSize(m_project, 0x80000001LL);
  ASSERT_EQ(S_OK, s->GetBlockSize(&big, &d));
  EXPECT_EQ(0x80000001LL, big);

  {
    AllocFailure fail(1, kAllocTaskMem, true);
    EXPECT_EQ(E_OUTOFMEMORY, s->GetBlock(&size, &data, &d));
    EXPECT_EQ(refdb::kDetailOutOfMemory, d);
  }

  ASSERT_EQ(S_OK, s->SetBlock(0, nullptr, &d));
  EXPECT_TRUE(m_db.ServiceBlock(m_project).empty());
  EXPECT_EQ(E_POINTER, s->SetBlock(3, nullptr, &d));
  m_db.SetServiceBlock(m_project, {7, 8});
  ASSERT_EQ(S_OK, s->GetBlock(&size, &data, &d));
  EXPECT_EQ(2, size);
  CoTaskMemFree(data);
}

TEST_F(RefObjects, DeviceConversionIsDeterministicAndRemembered) {
  IVNDataABS_LabelService* s = Service();
  ComPtr<IVNDataABS_DeviceConversion> conv;
  ASSERT_TRUE(QueryInterfaceTo(s, conv));
  EXPECT_EQ(1, m_db.OutstandingReferences());
  Bstr a(u"Lbl.M"), b(u"Lbl[0,0].M"), c(u"Lbl.M");
  stVNLabelConversion req[3] = {{a, nullptr, nullptr, 0}, {b, nullptr, nullptr, 0}, {c, nullptr, nullptr, 0}};
  LONG d = 0;
  ASSERT_EQ(S_OK, conv->ConvertLabels(3, req, &d));
  EXPECT_EQ(m_bstrs + 3 + 6, PlatformLiveBstrCount());  // the three labels and the answers
  std::u16string devA = Take(req[0].deviceText), devB = Take(req[1].deviceText), devC = Take(req[2].deviceText);
  EXPECT_FALSE(devA.empty());
  EXPECT_NE(devA, devB);
  EXPECT_EQ(devA, devC);
  for (auto& r : req) {
    EXPECT_NE(nullptr, r.extraText);
    Take(r.extraText);
  }
  EXPECT_EQ((std::vector<std::pair<std::u16string, std::u16string>>{{u"Lbl.M", devA}, {u"Lbl[0,0].M", devB}}),
            m_db.ConvertedLabels(m_project));

  // Another project converts on its own; the same database gives the same answer later.
  STOBJECTID other = m_db.NewProject(u"Q");
  IVNDataABS_LabelService* s2 = nullptr;
  ASSERT_EQ(S_OK, m_db.Workspace()->GetServiceObject(other, VN_SERVICE_LABEL, &s2, &d));
  ComPtr<IVNDataABS_DeviceConversion> conv2;
  ASSERT_TRUE(QueryInterfaceTo(s2, conv2));
  stVNLabelConversion one{b, nullptr, nullptr, 0};
  ASSERT_EQ(S_OK, conv2->ConvertLabels(1, &one, &d));
  EXPECT_EQ(devA, Take(one.deviceText));  // its first label gets its first device
  Take(one.extraText);
  ASSERT_EQ(S_OK, conv->ConvertLabels(1, &one, &d));
  EXPECT_EQ(devB, Take(one.deviceText));
  Take(one.extraText);

  m_db.Faults().Set("DeviceConversion.ConvertLabels", refdb::Fault{3, 42});
  one.deviceText = nullptr;
  EXPECT_EQ(3, conv->ConvertLabels(1, &one, &d));
  EXPECT_EQ(42, d);
  EXPECT_EQ(nullptr, one.deviceText);
  conv.Reset();
  conv2.Reset();

  m_db.WithholdServiceInterface(IIDOf<IVNDataABS_DeviceConversion>());
  EXPECT_FALSE(QueryInterfaceTo(s, conv));
  ComPtr<IVNDataABS_LabelService> self;
  EXPECT_TRUE(QueryInterfaceTo(s, self));
}

TEST_F(RefObjects, GenericDataBlobsByKind) {
  STOBJECTID owner = m_db.ChildOfType(m_project, VN_TYPE_GENERIC_DATA);
  auto g = Query<IVNDataABS_GenericData>(m_db, owner);
  ASSERT_TRUE(g);
  EXPECT_FALSE(Answers<IVNDataABS_GenericData>(m_db, m_db.ChildOfType(m_project, 13)));
  LONG d = 0, length = -1;
  ASSERT_EQ(S_OK, g->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, nullptr, &d));
  EXPECT_EQ(0, length);
  const BYTE blob[] = {9, 8, 7, 6};
  ASSERT_EQ(S_OK, g->SetGenericData(VN_GENERIC_SYSTEM_LABEL, 4, blob, &d));
  ASSERT_EQ(S_OK, g->SetGenericData(5, 1, blob, &d));
  ASSERT_EQ(S_OK, g->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, nullptr, &d));
  EXPECT_EQ(4, length);
  BYTE buffer[8] = {};
  length = 3;
  ASSERT_EQ(S_OK, g->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, buffer, &d));
  EXPECT_EQ(3, length);
  EXPECT_EQ((std::vector<BYTE>{9, 8, 7, 0}), std::vector<BYTE>(buffer, buffer + 4));
  ASSERT_EQ(S_OK, g->GetGenericData(5, &length, nullptr, &d));
  EXPECT_EQ(1, length);
  ASSERT_EQ(S_OK, g->SetGenericData(VN_GENERIC_SYSTEM_LABEL, 0, nullptr, &d));
  ASSERT_EQ(S_OK, g->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, nullptr, &d));
  EXPECT_EQ(0, length);
  EXPECT_EQ(E_POINTER, g->SetGenericData(1, 2, nullptr, &d));
}

TEST_F(RefObjects, SettingsAndStorageOfTheCollections) {
  STOBJECTID classic = m_db.ChildOfType(m_project, 13);
  STOBJECTID high = m_db.ChildOfType(m_project, VN_TYPE_GVL_COLLECTION_X);
  EXPECT_FALSE(Answers<IVNDataABS_Storage>(m_db, classic));
  EXPECT_FALSE(Answers<IVNDataABS_HighCapacityLabelSetting>(m_db, classic));
  EXPECT_FALSE(Answers<IVNDataABS_GlobalLabelSetting>(m_db, high));

  auto setting = Query<IVNDataABS_GlobalLabelSetting>(m_db, classic);
  LONG d = 0, flag = -1;
  ASSERT_EQ(S_OK, setting->GetExternalFlag(&flag, &d));
  EXPECT_EQ(0, flag);
  ASSERT_EQ(S_OK, setting->SetExternalFlag(7, &d));
  ASSERT_EQ(S_OK, setting->GetExternalFlag(&flag, &d));
  EXPECT_EQ(7, flag);
  EXPECT_EQ(7, m_db.ClassicExternalFlag(m_project));

  auto readOnly = Query<IVNDataABS_HighCapacityLabelSetting>(m_db, high);
  ASSERT_EQ(S_OK, readOnly->GetExternalFlag(&flag, &d));
  EXPECT_EQ(0, flag);
  m_db.SetHighCapacityExternalFlag(m_project, -3);
  ASSERT_EQ(S_OK, readOnly->GetExternalFlag(&flag, &d));
  EXPECT_EQ(-3, flag);

  auto storage = Query<IVNDataABS_Storage>(m_db, high);
  EXPECT_EQ(0, m_db.FlushCount(m_project));
  ASSERT_EQ(S_OK, storage->Flush(&d));
  ASSERT_EQ(S_OK, storage->Flush(&d));
  m_db.Faults().Set("Storage.Flush", refdb::Fault{-5, 6});
  EXPECT_EQ(-5, storage->Flush(&d));
  EXPECT_EQ(2, m_db.FlushCount(m_project));
  EXPECT_EQ(3, m_db.Faults().Calls("Storage.Flush"));
}

}  // namespace
